#include "app/locale.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace kelvarin {

TEST(Locale, NormalizeReplacesBothSeparators) {
    EXPECT_EQ(Locale(',').NormalizeDecimalSeparator("12.5"), "12,5");
    EXPECT_EQ(Locale(',').NormalizeDecimalSeparator("12,5"), "12,5");
    EXPECT_EQ(Locale('.').NormalizeDecimalSeparator("1,2.3"), "1.2.3");
    EXPECT_EQ(Locale('.').NormalizeDecimalSeparator(""), "");
}

TEST(Locale, GeneralFormKeepsFifteenDigitsAndTheLocaleSeparator) {
    const Locale point('.'), comma(',');
    EXPECT_EQ(point.floatToText(0.125L), "0.125");
    EXPECT_EQ(comma.floatToText(0.125L), "0,125");
    EXPECT_EQ(point.floatToText(100), "100");
    EXPECT_EQ(point.floatToText(-2.5L), "-2.5");
    EXPECT_EQ(point.floatToText(0), "0");
    EXPECT_EQ(point.floatToText(1.0L / 3.0L), "0.333333333333333");
    EXPECT_EQ(point.floatToText(2.0L / 3.0L), "0.666666666666667");
    EXPECT_EQ(point.floatToText(0.00001L), "0.00001");
    EXPECT_EQ(point.floatToText(0.0000015L), "1.5E-6");
    EXPECT_EQ(comma.floatToText(0.0000015L), "1,5E-6");
    EXPECT_EQ(point.floatToText(123456789012345.0L), "123456789012345");
    EXPECT_EQ(point.floatToText(1e15L), "1E15");
    EXPECT_EQ(point.floatToText(static_cast<float>(0.1f)), "0.100000001490116");
}

TEST(Locale, TextToFloatAcceptsOnlyTheLocaleSeparator) {
    const Locale point('.'), comma(',');
    EXPECT_EQ(point.textToFloat("0.5"), 0.5L);
    EXPECT_EQ(comma.textToFloat("0,5"), 0.5L);
    EXPECT_EQ(point.textToFloat(" -1.5e2 "), -150.0L);
    EXPECT_EQ(point.textToFloat("5."), 5.0L);
    EXPECT_EQ(point.textToFloat(".5"), 0.5L);
    for (const char* bad :
         {"", " ", "abc", "0,5", "1.2.3", "nan", "inf", "1e", "1e99999", "--1", "1 2", "0x10"}) {
        EXPECT_THROW(point.textToFloat(bad), ConversionError) << bad;
    }
    EXPECT_THROW(comma.textToFloat("0.5"), ConversionError);
}

TEST(Locale, ConversionErrorNamesTextAndField) {
    try {
        Locale('.').textToFloat("abc", "Step size");
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "Step size: 'abc' is not a valid floating point value");
    }
}

TEST(Locale, TextToIntIsPlainDecimal) {
    const Locale l('.');
    EXPECT_EQ(l.textToInt("16"), 16);
    EXPECT_EQ(l.textToInt("-3"), -3);
    EXPECT_EQ(l.textToInt("+3"), 3);
    EXPECT_EQ(l.textToInt(" 7 "), 7);
    for (const char* bad : {"", "1.5", "1,5", "x", "99999999999", "1e3", "++1"})
        EXPECT_THROW(l.textToInt(bad), ConversionError) << bad;
}

TEST(Locale, RoundTripOfFifteenDigitTexts) {
    const Locale comma(',');
    for (long double v : {0.1L, 1234.5678L, -9.87654321e-8L, 6.05838L, 1e300L}) {
        const long double back = comma.textToFloat(comma.floatToText(v));
        EXPECT_NEAR(static_cast<double>(back / v), 1.0, 1e-14);
    }
}

TEST(Locale, SingleValuesShowTheDigitsTheyHold) {
    const struct {
        float value;
        const char* point;
    } rows[] = {{0.15f, "0.15"},
                {0.001f, "0.001"},
                {348.1234f, "348.1234"},
                {-0.125f, "-0.125"},
                {1e-7f, "1E-7"},
                {8.5f, "8.5"},
                {0.0034659002f, "0.0034659002"},
                {0.f, "0"},
                {16777216.f, "16777216"}};
    const Locale point('.');
    const Locale comma(',');
    for (const auto& row : rows) {
        EXPECT_EQ(point.singleToText(row.value), row.point);
        // The text reads back as the same float, in either locale.
        EXPECT_EQ(static_cast<float>(comma.textToFloat(comma.singleToText(row.value))), row.value);
    }
}

}  // namespace kelvarin
