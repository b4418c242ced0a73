// Project texts spoiled one key at a time: each must be refused with a message that says what is
// wrong and names the file.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>

#include "fit/project_file.hpp"

namespace kelvarin::fit::testing {

/// `from` in the project text becomes `to`; the message must hold `expected`.
struct ProjectEdit {
    const char* from;
    const char* to;
    const char* expected;
};

/// Each edit of `text` is refused by parseProject with its expected words and the file's name
/// (and, with `withLine`, the line).
inline void expectRefused(const std::string& text, std::span<const ProjectEdit> edits,
                          bool withLine = false) {
    for (const ProjectEdit& c : edits) {
        std::string bad = text;
        const auto at = bad.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        bad.replace(at, std::strlen(c.from), c.to);
        try {
            parseProject(bad, "bad.toml");
            ADD_FAILURE() << "accepted: " << c.to;
        } catch (const ProjectError& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find(c.expected), std::string::npos) << m;
            EXPECT_NE(m.find(withLine ? "bad.toml, line " : "bad.toml"), std::string::npos) << m;
        }
    }
}

}  // namespace kelvarin::fit::testing
