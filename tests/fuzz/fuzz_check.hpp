// The checks every fuzz entry makes: a fault aborts after a note on stderr, so that libFuzzer
// keeps the input; a refusal must come with a message that names the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace kelvarin::fuzz {

[[noreturn]] inline void fault(std::string_view target, std::string_view what) {
    std::fprintf(stderr, "fuzz target %.*s: %.*s\n", static_cast<int>(target.size()), target.data(),
                 static_cast<int>(what.size()), what.data());
    std::abort();
}

inline void require(bool ok, std::string_view target, std::string_view what) {
    if (!ok) fault(target, what);
}

/// The refusal message must be there and name the input.
inline void checkMessage(std::string_view target, const std::string& message,
                         const std::string& name) {
    require(!message.empty(), target, "refused with an empty message");
    require(message.find(name) != std::string::npos, target,
            "message does not name the file: " + message);
}

}  // namespace kelvarin::fuzz
