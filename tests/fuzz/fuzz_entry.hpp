// One entry per file reader, shared by the libFuzzer targets (clang, instrumented) and the plain
// corpus replay that runs with the test suite. Each entry feeds one input through the reader as
// the program would, accepts the reader's own error (a message naming the file) and aborts on
// anything else: a foreign exception, an empty or anonymous message, a result that breaks the
// reader's promises, or state changed by a file that was refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvarin::fuzz {

/// The targets by name: "profile_pairs", "ion_list", "measured_raw", "measured_resampled",
/// "dispersion", "job_file", and the scan readers "scan_xrdml", "scan_x00", "scan_ras",
/// "scan_uxd", "scan_text".
const std::vector<std::string>& targetNames();

/// Runs one input through target `name`. Returns false when the reader refused it with a proper
/// message, true when it was read; aborts (after a note on stderr) on a fault.
bool runOne(const std::string& name, const std::uint8_t* data, std::size_t size);

}  // namespace kelvarin::fuzz
