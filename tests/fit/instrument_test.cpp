// The instrument side of a dataset: its angle offset, its instrument function (a pseudo-Voigt
// whose Lorentzian fraction is fitted), curves computed at measured angles of any spacing, and
// the project keys that read measured files in the instrument formats.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/layered.hpp"
#include "fit/least_squares_polish.hpp"
#include "fit/project_curves.hpp"
#include "fit/project_file.hpp"
#include "fit/project_refusals.hpp"
#include "fit/synthetic_problem.hpp"

namespace kelvarin::fit {
namespace {

using testing::gaasState;

/// The double half-Gaussian over 16 lamellae at the test truth, every profile value fixed.
std::unique_ptr<FitProblem> fixedProfileProblem(std::shared_ptr<EngineState> state,
                                                InstrumentShape shape) {
    auto p = std::make_unique<FitProblem>(makeProfileModel(ProfileKind::TwoGauss, 16));
    for (int i = 0; i < 4; ++i) {
        Parameter& par = p->parameters()[i];
        par.value = testing::kTruth[static_cast<std::size_t>(i)];
        par.free = false;
    }
    const int d = p->addDataset(std::move(state), {"width", "arcsec", 10, 4, 20, 1, true}, "gaas");
    p->setInstrument(d, {{shape, nullptr}, false});
    p->setSinglePrecision(false);
    return p;
}

TEST(DatasetOffset, AnglesOfAnySpacingAreComputedWhereTheyWereMeasured) {
    auto state = gaasState(kModelTwoGauss, 16);
    CurveStore& cs = state->curveStore;
    // 2″ steps, a gap, then 0.7″ steps: no grid holds them all.
    int n = 0;
    for (double t = -600; t < -100; t += 2)
        cs.measAngle[static_cast<std::size_t>(n++)] = t;
    for (double t = -40.3; t < 200; t += 0.7)
        cs.measAngle[static_cast<std::size_t>(n++)] = t;
    cs.measLast = n - 1;
    auto p = fixedProfileProblem(state, InstrumentShape::PseudoVoigt);
    p->setInstrument(0, {{InstrumentShape::PseudoVoigt, nullptr}, true});
    p->addLorentzFraction(0, {"lorentz_fraction", "", 0.3L, 0, 1, 0.1L, true});
    p->addOffset(0, {"offset", "arcsec", 1.25L, -50, 50, 10, true});
    ProblemWorkspace ws = p->makeWorkspace();
    const Extended error = p->evaluate(p->parameters().values(), ws);
    EXPECT_TRUE(std::isfinite(error));
    const Workspace& w = *ws.datasets[0];
    ASSERT_EQ(w.curve.calcCount, n);
    for (int i = 0; i < n; ++i) {
        const double at = static_cast<double>(cs.measAngle[static_cast<std::size_t>(i)]);
        const Extended expected = referenceReflectivity(w.constants, Theory::Dynamical, at - 1.25);
        ASSERT_NEAR(static_cast<double>(w.curve.calcRaw[i]), static_cast<double>(expected),
                    1e-9 * static_cast<double>(expected) + 1e-13)
            << at;
        ASSERT_EQ(w.curve.calcAngle[i], cs.measAngle[static_cast<std::size_t>(i)]);
        ASSERT_GT(w.curve.calcCurve[i], 0);
    }
}

TEST(DatasetInstrument, APolishFindsTheLorentzianFractionWidthAndOffsetOfASyntheticCurve) {
    auto state = gaasState(kModelTwoGauss, 16);
    auto p = fixedProfileProblem(state, InstrumentShape::PseudoVoigt);
    p->addLorentzFraction(0, {"lorentz_fraction", "", 0.4L, 0, 1, 0.1L, true});
    p->addOffset(0, {"offset", "arcsec", 3, -20, 20, 2, true});
    const std::vector<Extended> truth = p->parameters().values();
    ProblemWorkspace ws = p->makeWorkspace();
    p->evaluate(truth, ws);
    CurveStore& cs = state->curveStore;
    for (int i = 0; i < ws.datasets[0]->curve.calcCount; ++i)
        cs.measIntensity[static_cast<std::size_t>(i)] = ws.datasets[0]->curve.calcCurve[i];
    std::vector<Extended> start = truth;
    start[4] = 7;     // width
    start[5] = 0.1L;  // η
    start[6] = 0;     // offset
    const PolishResult r = polishLeastSquares(*p, start);
    ASSERT_TRUE(r.summary.usable()) << r.summary.message;
    EXPECT_NEAR(static_cast<double>(r.summary.best[4]), 10, 1e-3);
    EXPECT_NEAR(static_cast<double>(r.summary.best[5]), 0.4, 1e-4);
    EXPECT_NEAR(static_cast<double>(r.summary.best[6]), 3, 1e-3);
}

constexpr const char* kProject = R"([sample]
substrate = "GaAs"

[profile]
model = "2gauss"
layers = 12

[[dataset]]
file = "scan.xrdml"
scan = 2
zero = "bragg"
hkl = [0, 0, 4]
radiation = "Cua1"
instrument = "pseudo-voigt"
width = { value = 40, min = 10, max = 120 }
lorentz_fraction = { value = 0.3, min = 0, max = 1 }
offset = { value = 0, min = -50, max = 50 }

[[dataset]]
file = "sic.txt"
axis = "2theta/omega"
unit = "deg"
zero = 88.5
wavelength = 1.5498
instrument = { file = "resolution.txt" }
)";

/// A project of one dataset reading `file` (in `folder`) with the extra dataset keys `keys`.
Project projectOn(const std::filesystem::path& folder, const std::string& file,
                  const std::string& substrate, const std::string& keys) {
    return parseProject("[sample]\nsubstrate = \"" + substrate +
                            "\"\n[profile]\nmodel = \"2gauss\"\n[[dataset]]\nfile = \"" + file +
                            "\"\n" + keys,
                        (folder / "p.toml").string());
}

TEST(ProjectInstrument, ReadsWritesAndRefusesTheInstrumentKeys) {
    const Project p = parseProject(kProject, "p.toml");
    const DatasetSpec& a = p.datasets[0];
    EXPECT_EQ(a.scanNumber, 2);
    EXPECT_EQ(a.zero->kind, ZeroChoice::Kind::Bragg);
    EXPECT_EQ(a.instrument, InstrumentShape::PseudoVoigt);
    EXPECT_TRUE(a.lorentzFraction.free);
    EXPECT_EQ(a.offset->max, 50);
    const DatasetSpec& b = p.datasets[1];
    EXPECT_EQ(b.axis, ScanAxis::TwoThetaOmega);
    EXPECT_EQ(b.unit, AngleUnit::Degrees);
    EXPECT_EQ(b.zero->angle, 88.5);
    EXPECT_EQ(b.resolutionFile, "resolution.txt");
    const std::string text = projectText(p);
    EXPECT_EQ(projectText(parseProject(text, "again.toml")), text);

    // A changed table row goes back to the key it came from, past the model's parameters and
    // the widths (the table of two datasets: ..., width1, lorentz_fraction1, offset1, width2).
    Project twoSets = projectOn(std::filesystem::temp_directory_path(), "a.dat", "GaAs", "");
    twoSets.datasets.push_back(twoSets.datasets[0]);
    twoSets.datasets[0].instrument = InstrumentShape::PseudoVoigt;
    twoSets.datasets[0].offset = Parameter{"offset", "arcsec", 0, -5, 5, 1, true};
    FitProblem table(makeProfileModel(ProfileKind::TwoGauss, 16));
    const auto st = testing::gaasState(kModelTwoGauss, 16);
    table.addDataset(st, twoSets.datasets[0].width);
    table.addLorentzFraction(0, twoSets.datasets[0].lorentzFraction);
    table.addOffset(0, *twoSets.datasets[0].offset);
    table.addDataset(st, twoSets.datasets[1].width);
    Parameter changed{"offset1", "arcsec", 2, -9, 9, 1, true};
    ASSERT_TRUE(storeParameter(twoSets, table, 6, changed));
    EXPECT_EQ(twoSets.datasets[0].offset->value, 2);
    EXPECT_EQ(twoSets.datasets[0].offset->name, "offset");
    changed.value = 11;
    ASSERT_TRUE(storeParameter(twoSets, table, 7, changed));
    EXPECT_EQ(twoSets.datasets[1].width.value, 11);
    ASSERT_TRUE(storeParameter(twoSets, table, 5, changed));
    EXPECT_EQ(twoSets.datasets[0].lorentzFraction.value, 11);
    EXPECT_FALSE(storeParameter(twoSets, table, 8, changed));

    const testing::ProjectEdit cases[] = {
        {"instrument = \"pseudo-voigt\"", "instrument = \"lorentz\"", "'dataset.instrument'"},
        {"instrument = \"pseudo-voigt\"", "instrument = \"gaussian\"", "belongs to instrument"},
        {"min = 0, max = 1", "min = 0, max = 1.5", "must lie in [0, 1]"},
        {"{ file = \"resolution.txt\" }", "{ path = \"r.txt\" }", "'dataset.instrument.path'"},
        {"zero = \"bragg\"", "zero = \"peak\"", "'dataset.zero'"},
        {"\"2theta/omega\"", "\"phi\"", "'dataset.axis'"},
        {"unit = \"deg\"", "unit = \"rad\"", "'dataset.unit'"},
        {"scan = 2", "scan = 0", "'dataset.scan'"},
        {"min = -50, max = 50", "min = -5e7, max = 50", "'dataset.offset'"},
    };
    testing::expectRefused(kProject, cases);
}

TEST(ProjectInstrument, MeasuredFilesInAnyFormatAreComputedAtTheirOwnAngles) {
    const auto folder = std::filesystem::temp_directory_path() / "kelvarin-instr-project";
    std::filesystem::create_directories(folder);
    // A coupled scan in degrees of 2θ, 0.005° steps (9″ of ω), its peak at 66.05°.
    {
        std::ofstream out(folder / "scan.txt");
        out << "# 2theta intensity\n";
        for (int i = 0; i < 200; ++i) {
            const double t = 65.6 + 0.005 * i;
            out << t << " " << 10 + 1e5 * std::exp(-std::pow((t - 66.05) / 0.01, 2)) << "\n";
        }
    }
    {
        std::ofstream whole(folder / "whole.dat");
        for (int i = -10; i <= 10; ++i)
            whole << 2 * i << " " << 5 + 100 * std::exp(-i * i / 4.0) << "\n";
    }
    std::ofstream(folder / "broken.xrdml") << "<?xml version=\"1.0\"?><xrdMeasurements><scan>";

    auto problem = buildProblem(
        projectOn(folder, "scan.txt", "GaAs", "axis = \"2theta/omega\"\nunit = \"deg\"\n"));
    const Dataset& d = problem->dataset(0);
    EXPECT_TRUE(d.instrument.atMeasuredAngles);
    const CurveStore& cs = d.state->curveStore;
    EXPECT_EQ(cs.measLast, 199);
    EXPECT_NEAR(static_cast<double>(cs.measAngle[90]), 0, 1e-6);  // the peak is the zero
    EXPECT_NEAR(static_cast<double>(cs.measAngle[91] - cs.measAngle[90]), 9, 1e-6);

    // The measured zero meets the model's substrate peak: for σ the refraction shift of GaAs
    // 004 with Cu Kα1 (+6.57″ by −χ0r·(1 − 1/b)/(2·sin 2θB), within 0.3″), for the unpolarised
    // beam the middle of the σ and π mean (narrower π, tilted by absorption); nothing on the
    // classic physics or for a scan zeroed at the Bragg angle.
    const struct {
        const char* keys;
        double low, high;
    } zeros[] = {{"", 5.5, 7.0},
                 {"polarisation = \"sigma\"\n", 6.27, 6.87},
                 {"physics = \"classic\"\n", 0.0, 0.0},
                 {"zero = \"bragg\"\n", 0.0, 0.0}};
    for (const auto& z : zeros) {
        SCOPED_TRACE(z.keys);
        const std::string keys = std::string("axis = \"2theta/omega\"\nunit = \"deg\"\n") + z.keys;
        const double shift =
            buildProblem(projectOn(folder, "scan.txt", "GaAs", keys))->dataset(0).zeroShift;
        EXPECT_GE(shift, z.low);
        EXPECT_LE(shift, z.high);
    }

    // A substrate the windows' catalogue lacks finds its Bragg angle for the zero too.
    EXPECT_NO_THROW(buildProblem(
        projectOn(folder, "scan.txt", "MgO", "axis = \"2theta/omega\"\nunit = \"deg\"\n")));

    // simulate --project: a B-spline strain with damage (once refused by the project's curves),
    // computed at the same measured angles.
    Project spline = parseProject(
        "[sample]\nsubstrate = \"GaAs\"\n[profile]\nmodel = \"bspline\"\nweights = 4\n"
        "damage = \"bspline\"\ndamage_weights = 4\ndepth = 600\n[[dataset]]\n"
        "file = \"scan.txt\"\naxis = \"2theta/omega\"\nunit = \"deg\"\n"
        "offset = 2.5\ninstrument = \"pseudo-voigt\"\nwidth = 12\nlorentz_fraction = 0.2\n",
        (folder / "spline.toml").string());
    const std::vector<ProjectCurve> curves = projectCurves(spline);
    ASSERT_EQ(curves.size(), 1u);
    ASSERT_EQ(curves[0].angle.size(), 200u);
    for (std::size_t i = 0; i < 200; ++i) {
        ASSERT_NEAR(curves[0].angle[i], static_cast<double>(cs.measAngle[i]), 1e-9);
        ASSERT_TRUE(curves[0].broadened[i] > 0 && curves[0].broadened[i] < 1) << i;
    }

    // A two-column file of whole equal seconds of arc stays on the windows' reading.
    EXPECT_FALSE(buildProblem(projectOn(folder, "whole.dat", "GaAs", ""))
                     ->dataset(0)
                     .instrument.atMeasuredAngles);
    struct Bad {
        const char* file;
        const char* keys;
        const char* expected;
    };
    const Bad bad[] = {
        {"broken.xrdml", "", "broken.xrdml"},
        {"whole.dat", "scan = 2\n", "holds 1 scan, not scan 2"},
        {"whole.dat", "zero = \"bragg\"\n", "no Bragg angle"},
        {"whole.dat", "instrument = { file = \"none.txt\" }\n", "resolution curve: "},
    };
    for (const Bad& b : bad) {
        try {
            buildProblem(projectOn(folder, b.file, "GaAs", b.keys));
            ADD_FAILURE() << "accepted: " << b.keys;
        } catch (const ProjectError& e) {
            EXPECT_NE(std::string(e.what()).find(b.expected), std::string::npos) << e.what();
        }
    }
    std::filesystem::remove_all(folder);

    // The real scans, where this machine has them.
    const std::filesystem::path data = std::filesystem::path(KELVARIN_SHARED_DIR) / "peers/data";
    if (!std::filesystem::exists(data / "radmax_3C-SiC_400_irradiated.txt"))
        GTEST_SKIP() << "no real scans in " << data;
    struct Real {
        const char* file;
        const char* substrate;
        const char* keys;
        int points;
    };
    const Real real[] = {
        {"radmax_3C-SiC_400_irradiated.txt", "SiC",
         "axis = \"2theta/omega\"\nunit = \"deg\"\nwavelength = 1.5498\n", 301},
        {"micronovaxrd_GaAsP_on_GaAs_004.x00", "GaAs", "", 0},
        {"xrayutilities_AlGaAs_GaAs_004.xrdml", "GaAs", "", 0},
        {"xrayutilities_InMnAs_InAs_002_004.ras", "InAs", "scan = 2\n", 0},
    };
    for (const Real& r : real) {
        SCOPED_TRACE(r.file);
        auto p = buildProblem(projectOn(data, r.file, r.substrate, r.keys));
        const CurveStore& s = p->dataset(0).state->curveStore;
        if (r.points > 0) {
            EXPECT_EQ(s.measLast + 1, r.points);
        }
        // The zero is the substrate peak, a measured point.
        double nearest = 1e9;
        for (int i = 0; i <= s.measLast; ++i)
            nearest = std::min(nearest, std::fabs(static_cast<double>(s.measAngle[i])));
        EXPECT_LT(nearest, 1e-6);
        ProblemWorkspace ws = p->makeWorkspace();
        EXPECT_TRUE(std::isfinite(p->evaluate(p->parameters().values(), ws)));
    }
}

}  // namespace
}  // namespace kelvarin::fit
