// The readers behind readScan, one per file format. Each takes the whole text (byte-order mark
// already removed) and the name to use in messages, and returns the scan with its counts
// finished (scanio::finishCounts); readScan then checks the points that every format shares.
#pragma once

#include <cstddef>
#include <string>

#include "engine/io/scan.hpp"

namespace kelvarin::scanio {

Scan readXrdml(const std::string& text, const std::string& name, int scanNumber);
Scan readX00(const std::string& text, const std::string& name);
Scan readRas(const std::string& text, const std::string& name, int scanNumber);
Scan readUxd(const std::string& text, const std::string& name, int scanNumber);
Scan readTextScan(const std::string& text, const std::string& name, const ScanReadOptions& options);

/// The index (0-based) of the scan to read out of `count`: `requested` (1-based) or, when 0,
/// the only one. Throws DataFileError naming the file when there is none, several and no
/// choice, or the choice is out of range.
std::size_t chooseScan(const std::string& name, std::size_t count, int requested);

}  // namespace kelvarin::scanio
