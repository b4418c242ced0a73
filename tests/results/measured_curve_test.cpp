// Reading measured rocking curves: both modes, and every kind of unusable file.
#include "engine/measured_curve.hpp"

#include <gtest/gtest.h>

#include <string>

#include "engine/numio.hpp"

namespace kelvarin {
namespace {

MeasuredCurve parse(const std::string& text, MeasuredMode mode, int capacity = kCurveCapacity) {
    NumberReader reader(text, "scan.dat");
    return parseMeasuredCurve(reader, mode, capacity);
}

TEST(MeasuredCurve, ResampledOntoWholeSecondsWithAnglesOneStepAhead) {
    // The intensities interpolated at 101 and 102 are stored with the angles 102 and 103, and the
    // scan runs one step beyond the last of them. A final line end changes nothing.
    for (const std::string text : {"100.3 10\n101.7 24\n102.2 4\n", "100.3 10 101.7 24 102.2 4"}) {
        const MeasuredCurve c = parse(text, MeasuredMode::Resampled);
        EXPECT_EQ(c.scanStart, 101);
        EXPECT_EQ(c.scanEnd, 103);
        EXPECT_EQ(c.last, 1);
        ASSERT_EQ(c.angle.size(), 2u);
        EXPECT_EQ(c.angle[0], 102);
        EXPECT_EQ(c.angle[1], 103);
        // 10 + (101 − 100.3)·14/1.4 = 17 and 24 + (102 − 101.7)·(−20)/0.5 = 12.
        EXPECT_NEAR(static_cast<double>(c.intensity[0]), 17.0, 1e-3);
        EXPECT_NEAR(static_cast<double>(c.intensity[1]), 12.0, 1e-3);
        EXPECT_NEAR(static_cast<double>(c.max), 17.0, 1e-3);
        // Stored as single-precision values.
        EXPECT_EQ(c.intensity[0], static_cast<float>(c.intensity[0]));
    }
}

TEST(MeasuredCurve, RawModeRepeatsTheLastPairAndKeepsIntensitiesAsRead) {
    // A fraction of a count is kept: 0.9999 counts does not become 0 and drop out of the fit.
    for (const std::string text : {"-2 0.9999\n-1 20.2\n0 35.99\n", "-2 0.9999 -1 20.2 0 35.99",
                                   "\xEF\xBB\xBF-2 0.9999\n-1 20.2\n0 35.99\n"}) {
        const MeasuredCurve c = parse(text, MeasuredMode::Raw);
        ASSERT_EQ(c.angle.size(), 4u);
        EXPECT_EQ(c.last, 3);  // the number of pairs: the repeated pair is counted in
        EXPECT_EQ(c.intensity[0], 0.9999f);
        EXPECT_EQ(c.intensity[2], 35.99f);
        EXPECT_EQ(c.angle[3], 0);
        EXPECT_EQ(c.intensity[3], 35.99f);
        EXPECT_EQ(c.max, 35.99f);
    }
}

TEST(MeasuredCurve, StoringTakesEverythingOrNothing) {
    CurveStore store;
    RadiationRecord radiation{};
    store.measAngle[0] = 7;
    store.measLast = 5;
    const MeasuredCurve c = parse("100.3 10\n101.7 24\n102.2 4\n", MeasuredMode::Resampled);
    storeMeasuredCurve(store, radiation, c, MeasuredMode::Resampled);
    EXPECT_EQ(store.measAngle[0], 102);
    EXPECT_EQ(store.measLast, 1);
    EXPECT_EQ(store.scanStart, 101);
    EXPECT_EQ(store.scanEnd, 103);
    EXPECT_EQ(store.measMax, c.max);

    EXPECT_THROW(readMeasuredCurve(store, radiation, "/nonexistent/scan.dat", MeasuredMode::Raw),
                 DataFileError);
    EXPECT_EQ(store.measAngle[0], 102);
    EXPECT_EQ(store.measLast, 1);
}

struct BadFile {
    const char* what;
    std::string text;
    MeasuredMode mode;
    const char* expected;  ///< part of the message
};

TEST(MeasuredCurve, UnusableFilesAreRefusedWithTheirReason) {
    std::string tooMany;
    for (int i = 0; i < 10; ++i)
        tooMany += std::to_string(i) + " 5\n";
    const BadFile cases[] = {
        {"empty", "", MeasuredMode::Raw, "is empty"},
        {"blank", " \n\n", MeasuredMode::Resampled, "is empty"},
        {"one pair", "10 5\n", MeasuredMode::Raw, "only one"},
        {"one pair", "10 5\n", MeasuredMode::Resampled, "only one"},
        {"word", "10 5\n11 counts\n", MeasuredMode::Raw, "line 2: 'counts' is not a number"},
        {"comma decimal", "10,5 5\n11 6\n", MeasuredMode::Resampled, "'10,5' is not a number"},
        {"half pair", "10 5\n11\n", MeasuredMode::Raw, "ends within a pair"},
        {"falling angles", "10 5\n12 6\n11 7\n", MeasuredMode::Raw, "line 3: the angle 11"},
        {"repeated angle", "10 5\n10 6\n", MeasuredMode::Resampled, "does not increase"},
        {"too many raw", tooMany, MeasuredMode::Raw, "more than 7 points"},
        {"too wide", "0 1\n50 2\n", MeasuredMode::Resampled, "more than 7 whole seconds"},
        {"no whole second", "10.1 5\n10.9 6\n", MeasuredMode::Resampled, "no whole second"},
        {"huge angle", "1e30 5\n2e30 6\n", MeasuredMode::Resampled, "lies beyond"},
        {"gap in integer mode", "0 5\n2 6\n4 7\n8 5\n10 4\n", MeasuredMode::Raw,
         "line 4: the step from 4 to 8 is 4, not the first step 2"},
        {"uneven integer steps", "0 5\n1 6\n2.5 7\n", MeasuredMode::Raw, "line 3: the step"},
    };
    for (const BadFile& bad : cases) {
        SCOPED_TRACE(bad.what);
        try {
            parse(bad.text, bad.mode, 8);
            ADD_FAILURE() << "accepted";
        } catch (const DataFileError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("scan.dat"), std::string::npos) << message;
            EXPECT_NE(message.find(bad.expected), std::string::npos) << message;
        }
    }
}

TEST(MeasuredCurve, FullCapacityIsAccepted) {
    std::string text;
    for (int i = 0; i < kCurveCapacity - 1; ++i)
        text += std::to_string(i) + " 100\n";
    EXPECT_EQ(parse(text, MeasuredMode::Raw).last, kCurveCapacity - 1);
    text += std::to_string(kCurveCapacity) + " 100\n";
    EXPECT_THROW(parse(text, MeasuredMode::Raw), DataFileError);
    // Resampled: the scan holds one point more than the curve.
    const std::string span = "0.5 1\n" + std::to_string(kCurveCapacity - 1) + ".5 1\n";
    const MeasuredCurve wide = parse(span, MeasuredMode::Resampled);
    EXPECT_EQ(wide.scanEnd - wide.scanStart + 1, kCurveCapacity);
}

}  // namespace
}  // namespace kelvarin
