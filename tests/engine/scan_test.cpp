// Reading measured scans from instrument files and turning them into rocking curves.
#include "engine/io/scan.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "engine/io/rocking_curve.hpp"

namespace kelvarin {
namespace {

/// `n` numbers separated by spaces: `value(i)` for i = 0 .. n − 1.
template <class F>
std::string list(int n, F value) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += (i ? " " : "") + std::to_string(value(i));
    return s;
}

std::string xrdml(const std::string& scans) {
    return "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<xrdMeasurements "
           "xmlns=\"http://www.xrdml.com/XRDMeasurement/2.2\"><sample><name>S1</name></sample>"
           "<xrdMeasurement><usedWavelength><kAlpha1>1.5406</kAlpha1></usedWavelength>" +
           scans + "</xrdMeasurement></xrdMeasurements>\n";
}

/// A coupled scan of ten points: 2θ 66.0 .. 66.9, counts per second over 2 s, the fourth point
/// attenuated by 10.
std::string coupledScan(const std::string& countsElement = "counts",
                        const std::string& countsUnit = "counts per second") {
    return "<scan scanAxis=\"Omega-2Theta\"><dataPoints>"
           "<positions axis=\"2Theta\" unit=\"deg\"><startPosition>66.0</startPosition>"
           "<endPosition>66.9</endPosition></positions>"
           "<positions axis=\"Omega\" unit=\"deg\"><startPosition>33.0</startPosition>"
           "<endPosition>33.45</endPosition></positions>"
           "<positions axis=\"Phi\" unit=\"deg\"><commonPosition>0</commonPosition></positions>"
           "<commonCountingTime unit=\"seconds\">2</commonCountingTime>"
           "<beamAttenuationFactors>1 1 1 10 1 1 1 1 1 1</beamAttenuationFactors><" +
           countsElement + " unit=\"" + countsUnit + "\">" + list(10, [](int i) { return i + 1; }) +
           "</" + countsElement + "></dataPoints></scan>";
}

std::string x00(const std::string& nrOfData = "10") {
    return "HR-XRDScan\r\nSample, GaAs test\r\nReflection,   0  0  4 \r\nWavelength, 1.540560\r\n"
           "ScanAxis, Omega/2Theta\r\nFirstAngle, 32.5\r\nStepWidth, 0.01\r\nTimePerStep, 3.00\r\n"
           "NrOfData, " +
           nrOfData + "\r\nScanData\r\n0.6667\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n";
}

std::string rasBlock(int first, const std::string& unitY) {
    std::string s =
        "*RAS_HEADER_START\r\n*FILE_SAMPLE \"\x83\x54\x83\x93\x83\x76\x83\x8B\"\r\n"
        "*FILE_COMMENT \"\x93\xFA\x96\x7B\x8C\xEA \"x\" \"\r\n*MEAS_SCAN_AXIS_X "
        "\"2-Theta/Omega\"\r\n"
        "*MEAS_SCAN_UNIT_X \"deg\"\r\n*MEAS_SCAN_UNIT_Y \"" +
        unitY +
        "\"\r\n*MEAS_SCAN_SPEED \"6.0\"\r\n*MEAS_SCAN_SPEED_UNIT \"deg/min\"\r\n"
        "*MEAS_SCAN_STEP \"0.01\"\r\n*HW_XG_WAVE_LENGTH_ALPHA1 \"1.540593\"\r\n"
        "*MEAS_DATA_COUNT \"10\"\r\n*RAS_HEADER_END\r\n*RAS_INT_START\r\n";
    for (int i = 0; i < 10; ++i)
        s += std::to_string(first + i) + ".0000 " + std::to_string(i * 10) + ".5 " +
             (i == 2 ? "100.0" : "1.0") + "\r\n";
    return s + "*RAS_INT_END\r\n";
}

std::string ras() {
    return "*RAS_DATA_START\r\n" + rasBlock(26, "counts") + rasBlock(56, "cps") +
           "*RAS_DATA_END\r\n";
}

std::string uxd(const std::string& dataKey = "_CPS") {
    return "; exported\n_FILEVERSION=1\n_SAMPLE='wafer 7'\n_WL1=1.540598\n; range 1\n"
           "_DRIVE='OMEGA'\n_STEPTIME=0.5\n_STEPSIZE=0.002\n_OMEGA=33.0\n" +
           dataKey + "\n 2 4 6 8\n 10 12 14 16\n 18 20\n";
}

std::string text(int n, const std::string& head = "") {
    std::string s = head;
    for (int i = 0; i < n; ++i)
        s += std::to_string(-100 + 10 * i) + " " + std::to_string(i) + ".25 0.5\n";
    return s;
}

struct GoodFile {
    const char* what;
    std::string text;
    ScanReadOptions options;
    const char* format;
    ScanAxis axis;
    double firstAngle, lastAngle;
    std::size_t point;
    double counts;  ///< at `point`, after counting time and attenuation
    int scanCount;
};

TEST(ReadScan, EachFormatGivesAnglesAndCountsAfterTimeAndAttenuation) {
    ScanReadOptions second;
    second.scanNumber = 2;
    ScanReadOptions declared;
    declared.axis = ScanAxis::TwoThetaOmega;
    declared.unit = AngleUnit::Degrees;
    const GoodFile cases[] = {
        // 4 counts/s · 2 s · 10.
        {"XRDML coupled",
         xrdml(coupledScan()),
         {},
         "XRDML",
         ScanAxis::TwoThetaOmega,
         66.0,
         66.9,
         3,
         80,
         1},
        {"XRDML intensities",
         xrdml(coupledScan("intensities", "counts")),
         {},
         "XRDML",
         ScanAxis::TwoThetaOmega,
         66.0,
         66.9,
         3,
         40,
         1},
        {"XRDML second scan", xrdml(coupledScan() + coupledScan("counts", "counts")), second,
         "XRDML", ScanAxis::TwoThetaOmega, 66.0, 66.9, 0, 1, 2},
        // 0.6667 counts/s · 3 s is 2 counts (the file rounds counts per second).
        {".x00", x00(), {}, "PANalytical .x00", ScanAxis::OmegaTwoTheta, 32.5, 32.59, 0, 2, 1},
        // The third point is attenuated 100 times; the second scan is in counts per second
        // over 0.01° at 6°/min = 0.1 s.
        {"RAS first", ras(),
         [] {
             ScanReadOptions o;
             o.scanNumber = 1;
             return o;
         }(),
         "Rigaku RAS", ScanAxis::TwoThetaOmega, 26, 35, 2, 2050, 2},
        {"RAS second", ras(), second, "Rigaku RAS", ScanAxis::TwoThetaOmega, 56, 65, 2, 205, 2},
        {"UXD counts per second", uxd(), {}, "Bruker UXD", ScanAxis::Omega, 33.0, 33.018, 4, 5, 1},
        {"UXD counts", uxd("_COUNTS"), {}, "Bruker UXD", ScanAxis::Omega, 33.0, 33.018, 4, 10, 1},
        {"text",
         text(12, "\xEF\xBB\xBF# offset counts error\n; more\n"),
         {},
         "plain text",
         ScanAxis::OmegaOffset,
         -100,
         10,
         1,
         1.25,
         1},
        {"text in degrees", text(12), declared, "plain text", ScanAxis::TwoThetaOmega, -100, 10, 1,
         1.25, 1},
    };
    for (const GoodFile& c : cases) {
        SCOPED_TRACE(c.what);
        const Scan s = parseScan(c.text, "scan.dat", c.options);
        EXPECT_EQ(s.format, c.format);
        EXPECT_EQ(s.axis, c.axis);
        ASSERT_EQ(s.angle.size(), s.counts.size());
        EXPECT_GE(s.angle.size(), kMinScanPoints);
        EXPECT_NEAR(s.angle.front(), c.firstAngle, 1e-9);
        EXPECT_NEAR(s.angle.back(), c.lastAngle, 1e-9);
        EXPECT_NEAR(s.counts[c.point], c.counts, 1e-9);
        EXPECT_EQ(s.scanCount, c.scanCount);
    }
}

TEST(ReadScan, HeaderFacts) {
    const Scan x = parseScan(x00(), "a.x00");
    EXPECT_EQ(x.reflection, (std::array<int, 3>{0, 0, 4}));
    EXPECT_EQ(x.wavelength, 1.54056);
    EXPECT_EQ(x.countingTime, 3.0);
    EXPECT_TRUE(x.countsPerSecond);
    const Scan r = parseScan(ras(), "a.ras", {1, {}, {}, 1.5});
    EXPECT_EQ(r.sample, "?T???v??");  // Shift-JIS shown as printable ASCII only
    EXPECT_EQ(r.wavelength, 1.5);     // the wavelength given replaces the file's
    EXPECT_EQ(r.attenuationMax, 100);
}

struct BadFile {
    const char* what;
    std::string text;
    const char* expected;  ///< part of the message
};

TEST(ReadScan, UnusableFilesAreRefusedWithTheirReason) {
    std::string coupled = coupledScan();
    // The sound coupled scan with every `from` made `to`.
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = xrdml(coupled);
        for (std::size_t at = s.find(from); at != std::string::npos;
             at = s.find(from, at + to.size()))
            s.replace(at, from.size(), to);
        return s;
    };
    std::string shortRas = ras();
    shortRas.resize(shortRas.find("*RAS_INT_END"));
    const BadFile cases[] = {
        {"empty", "\xEF\xBB\xBF \n", "is empty"},
        {"truncated XML", xrdml(coupled).substr(0, 300), "line 2: the XML cannot be read"},
        {"wrong root", "<?xml version=\"1.0\"?><svg></svg>", "root element is <svg>"},
        {"no counts", replaced("counts", "bogus"), "has neither <counts> nor <intensities>"},
        {"list length",
         replaced("<startPosition>66.0</startPosition><endPosition>66.9</endPosition>",
                  "<listPositions>1 2 3</listPositions>"),
         "holds 3 positions but there are 10 intensities"},
        {"negative count", replaced(">1 2 3", ">1 -2 3"), "intensity 2 of"},
        {"NaN count", replaced(">1 2 3", ">1 nan 3"), "'nan' (value 2) is not a number"},
        {"attenuation 0", replaced("1 1 1 10", "1 1 1 0"), "attenuation factor 4"},
        {"counting time 0", replaced(">2</common", ">0</common"), "counting time"},
        {"several scans", xrdml(coupled + coupled), "holds 2 scans; choose one"},
        {"RAS without a choice", ras(), "holds 2 scans"},
        {"RAS cut short", shortRas, "no *RAS_INT_END"},
        {"x00 count", x00("11"), "NrOfData says 11 points but ScanData holds 10"},
        {"UXD without step", "_DRIVE='OMEGA'\n_OMEGA=1\n_COUNTS\n1 2 3\n", "no _STEPSIZE"},
        {"few points", text(9), "holds 9 points; a scan needs at least 10"},
        {"degrees", "72.788 0.01938\n72.79 0.01938\n72.792 1\n72.794 2\n72.796 3\n",
         "look like degrees"},
        {"comma decimals", "1,5 3\n", "'1,5' is not a number (use '.' as decimal point)"},
        {"header word", "angle counts\n1 2\n", "line 1: 'angle' is not a number"},
        {"angle beyond any goniometer", text(12).replace(0, 4, "-1e9"), "lies beyond"},
        {"angles back and forth", "0 1\n2 1\n1 1\n3 1\n4 1\n5 1\n6 1\n7 1\n8 1\n9 1\n",
         "do not run one way"},
    };
    for (const BadFile& bad : cases) {
        SCOPED_TRACE(bad.what);
        try {
            parseScan(bad.text, "scan.dat");
            ADD_FAILURE() << "accepted";
        } catch (const DataFileError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("'scan.dat'"), std::string::npos) << message;
            EXPECT_NE(message.find(bad.expected), std::string::npos) << message;
        }
    }
}

Scan twoPeaks(ScanAxis axis, AngleUnit unit) {
    // A strong peak at 32.95 and a weaker one at 33.05 on an ω grid of 0.001°.
    Scan s;
    s.source = "made.dat";
    s.axis = axis;
    s.unit = unit;
    for (int i = 0; i <= 200; ++i) {
        const double a = 32.9 + 0.001 * i;
        s.angle.push_back(unit == AngleUnit::Degrees ? a : a * 3600);
        s.counts.push_back(5 + 1000 * std::exp(-std::pow((a - 32.95) / 0.003, 2)) +
                           300 * std::exp(-std::pow((a - 33.05) / 0.003, 2)));
    }
    return s;
}

TEST(RockingCurve, OffsetFromTheChosenZero) {
    const SubstrateBragg bragg{33.04, 0};
    const ZeroChoice peak{};
    const ZeroChoice atBragg{ZeroChoice::Kind::Bragg, 0};
    const ZeroChoice given{ZeroChoice::Kind::Angle, 33.0};
    struct Case {
        const char* what;
        ScanAxis axis;
        AngleUnit unit;
        ZeroChoice zero;
        std::optional<SubstrateBragg> bragg;
        double offsetOfFirst;  ///< seconds of arc
    };
    const Case cases[] = {
        {"strongest peak", ScanAxis::Omega, AngleUnit::Degrees, peak, {}, -0.05 * 3600},
        {"peak nearest Bragg", ScanAxis::Omega, AngleUnit::Degrees, peak, bragg, -0.15 * 3600},
        {"Bragg", ScanAxis::Omega, AngleUnit::Degrees, atBragg, bragg, -0.14 * 3600},
        {"angle", ScanAxis::Omega, AngleUnit::Degrees, given, {}, -0.1 * 3600},
        // One step of 2θ moves ω half as far.
        {"2theta strongest", ScanAxis::TwoThetaOmega, AngleUnit::Degrees, peak, {}, -0.025 * 3600},
        {"seconds of arc", ScanAxis::OmegaOffset, AngleUnit::ArcSeconds, peak, bragg, -0.05 * 3600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RockingCurve r = toRockingCurve(twoPeaks(c.axis, c.unit), c.zero, c.bragg);
        EXPECT_NEAR(r.offset.front(), c.offsetOfFirst, 1e-6);
        EXPECT_NEAR(r.offset[1] - r.offset[0], isTwoThetaAxis(c.axis) ? 1.8 : 3.6, 1e-6);
        EXPECT_EQ(r.counts.size(), r.offset.size());
    }
}

TEST(RockingCurve, BraggZeroNeedsAnAbsoluteAxisInsideTheScan) {
    const ZeroChoice atBragg{ZeroChoice::Kind::Bragg, 0};
    EXPECT_THROW(toRockingCurve(twoPeaks(ScanAxis::Omega, AngleUnit::Degrees), atBragg,
                                SubstrateBragg{34, 0}),
                 DataFileError);
    EXPECT_THROW(toRockingCurve(twoPeaks(ScanAxis::OmegaOffset, AngleUnit::ArcSeconds), atBragg,
                                SubstrateBragg{33, 0}),
                 DataFileError);
    EXPECT_THROW(toRockingCurve(twoPeaks(ScanAxis::Omega, AngleUnit::Degrees), atBragg, {}),
                 DataFileError);
}

struct RealFile {
    const char* file;
    ScanReadOptions options;
    std::size_t points;
    std::size_t point;
    double counts;  ///< at `point`
};

TEST(ReadScan, RealFilesOfOtherGroups) {
    const std::string dir = std::string(KELVARIN_SHARED_DIR) + "/peers/data/";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no " << dir;
    ScanReadOptions degrees2theta;
    degrees2theta.axis = ScanAxis::TwoThetaOmega;
    degrees2theta.unit = AngleUnit::Degrees;
    const RealFile cases[] = {
        {"xrayutilities_AlGaAs_GaAs_004.xrdml", {}, 2999, 2998, 2},
        {"micronovaxrd_GaAsP_on_GaAs_004.x00", {}, 879, 1, 2},    // 0.6667 counts/s · 3 s
        {"micronovaxrd_InGaAs_GaAs_SL_004.x00", {}, 1399, 1, 1},  // 0.5 · 2 s
        {"xrayutilities_InMnAs_InAs_002_004.ras", {1, {}, {}, {}}, 1501, 0, 51.4986},
        {"xrayutilities_InMnAs_InAs_002_004.ras", {2, {}, {}, {}}, 2501, 2500, 107.0164},
        {"radmax_3C-SiC_400_irradiated.txt", degrees2theta, 301, 0, 8.04950495},
        {"radmax_YSZ_400_irradiated.txt", degrees2theta, 501, 0, 0.01938},
    };
    for (const RealFile& c : cases) {
        SCOPED_TRACE(c.file);
        if (!std::filesystem::exists(dir + c.file)) continue;
        const Scan s = readScan(dir + c.file, c.options);
        EXPECT_EQ(s.angle.size(), c.points);
        EXPECT_NEAR(s.counts[c.point], c.counts, 1e-9);
        const RockingCurve r = toRockingCurve(s, {}, {});
        const auto top = std::max_element(r.counts.begin(), r.counts.end()) - r.counts.begin();
        EXPECT_NEAR(r.offset[static_cast<std::size_t>(top)], 0, 30);  // the strongest peak
    }
}

}  // namespace
}  // namespace kelvarin
