#include "engine/numio.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace kelvarin {
namespace {

std::vector<float> readAll(NumberReader& r) {
    std::vector<float> v;
    float x = 0;
    while (r.nextOrThrow(x))
        v.push_back(x);
    return v;
}

TEST(NumberReader, ReadsAnyWhiteSpaceLayoutTheSame) {
    NumberReader a("0 1\n100 2\n200 4\n", "a"), b("0\t1 100\r\n2\n\n200\n4", "b");
    EXPECT_EQ(readAll(a), readAll(b));
    NumberReader c("-1.5e2 +3 .25 7.", "c");
    EXPECT_EQ(readAll(c), (std::vector<float>{-150.f, 3.f, 0.25f, 7.f}));
    // A UTF-8 byte-order mark before the first number is skipped.
    NumberReader bom(
        "\xEF\xBB\xBF"
        "0 1\n100 2\n200 4\n",
        "bom");
    EXPECT_EQ(readAll(bom), (std::vector<float>{0, 1, 100, 2, 200, 4}));
}

TEST(NumberReader, TextNamesFileLineAndToken) {
    NumberReader r("1 2\n3 abc 5\n", "curve.dat");
    float x = 0;
    EXPECT_TRUE(r.nextOrThrow(x));
    EXPECT_TRUE(r.nextOrThrow(x));
    EXPECT_TRUE(r.nextOrThrow(x));
    try {
        r.nextOrThrow(x);
        FAIL();
    } catch (const DataFileError& e) {
        EXPECT_EQ(std::string(e.what()), "File 'curve.dat', line 2: 'abc' is not a number");
    }
}

TEST(NumberReader, RejectsCommaDecimalsNanInfAndOverflow) {
    float x = 0;
    for (const char* bad : {"1,5", "nan", "inf", "-inf", "1e60", "0x10", "+", "-", "--1", "1.5x"})
        EXPECT_FALSE(parseDataNumber(bad, x)) << bad;
    EXPECT_TRUE(parseDataNumber("-0.5", x));
    EXPECT_EQ(x, -0.5f);
}

TEST(NumberReader, MissingFileIsNamed) {
    try {
        NumberReader::fromFile("/nonexistent/dir/profile.dat");
        FAIL();
    } catch (const DataFileError& e) {
        EXPECT_NE(std::string(e.what()).find("profile.dat"), std::string::npos);
    }
}

}  // namespace
}  // namespace kelvarin
