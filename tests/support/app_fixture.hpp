// A headless application for window tests, run once with "." and once with "," as the
// decimal separator: TEST_P(SomeTest, ...) on a fixture derived from AppTest.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/application.hpp"
#include "app/platform.hpp"

namespace kelvarin::testing {

class AppTest : public ::testing::TestWithParam<char> {
protected:
    void SetUp() override { app = std::make_unique<Application>(platform, Locale(GetParam())); }

    char sep() const { return GetParam(); }
    /// "0.5" written with this run's separator.
    std::string num(std::string text) const {
        for (char& c : text)
            if (c == '.') c = sep();
        return text;
    }

    HeadlessPlatform platform;
    std::unique_ptr<Application> app;
};

inline std::string separatorName(const ::testing::TestParamInfo<char>& info) {
    return info.param == ',' ? "comma" : "point";
}

}  // namespace kelvarin::testing

/// Instantiates a fixture derived from AppTest for both decimal separators.
#define KELVARIN_BOTH_SEPARATORS(Fixture)                                      \
    INSTANTIATE_TEST_SUITE_P(Separators, Fixture, ::testing::Values('.', ','), \
                             ::kelvarin::testing::separatorName)
