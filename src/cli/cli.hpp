// The command line of kelvarin-cli: "run JOB.toml" and "simulate …". Exit codes: 0 success,
// 1 input that is wrong (job file, data files, values the physics rejects), 2 wrong usage.
#pragma once

#include <ostream>

namespace kelvarin::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 1;
inline constexpr int kExitUsage = 2;

/// Runs the tool on `argv`; normal output goes to `out`, messages and progress to `err`.
/// `errIsTerminal` selects the redrawn progress bar over plain progress lines.
int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           bool errIsTerminal);

}  // namespace kelvarin::cli
