// Small text tools shared by the scan readers: lines, numbers, keys and messages that name the
// file and line.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/io/scan.hpp"
#include "engine/numio.hpp"

namespace kelvarin::scanio {

/// One line of a file with its 1-based number, without the line end.
struct Line {
    std::string_view text;
    int number = 0;
};

/// The text without a leading UTF-8 byte-order mark.
std::string_view withoutBom(std::string_view text);
/// Splits at "\n" (a "\r" before it is dropped).
std::vector<Line> splitLines(std::string_view text);
std::string_view trim(std::string_view s);
/// Splits at white space, and at commas when `commas` is true.
std::vector<std::string_view> fields(std::string_view line, bool commas = false);
/// A finite number ("." decimal point, optional sign and exponent); nothing else on the field.
std::optional<double> number(std::string_view field);
/// The text with bytes outside printable ASCII shown as '?', at most 80 characters.
std::string printable(std::string_view s);

/// The "key value" lines of a file's header, each with its line for messages.
class HeaderKeys {
public:
    void set(std::string key, std::string value, int line);
    bool has(const std::string& key) const { return values_.count(key) != 0; }
    /// The value trimmed, or "" when the key is absent.
    std::string text(const std::string& key) const;
    /// The line of the key, 0 when absent.
    int line(const std::string& key) const;
    /// The value as a number; nullopt when the key is absent or empty. Throws DataFileError
    /// naming the file `name` and the line when it is something else.
    std::optional<double> number(const std::string& name, const std::string& key) const;

private:
    std::map<std::string, std::pair<std::string, int>> values_;
};

/// An empty scan of `format` read from the file `name`: scan `index` (0-based) of `count`.
Scan emptyScan(const std::string& format, const std::string& name, std::size_t index = 0,
               std::size_t count = 1);

/// "Scan file 'name'" and, for a line, "Scan file 'name', line 3".
std::string where(const std::string& name, int line = 0);
[[noreturn]] void fail(const std::string& name, int line, const std::string& what);

/// Turns the intensities in `scan.counts`, as read, into counts: checks that each is a number
/// of at least 0, multiplies counts per second (scan.countsPerSecond) by scan.countingTime (a
/// product within 1e-4 · countingTime of a whole number becomes that number: the rounding of the
/// file's counts per second) and multiplies each by its attenuation factor (one per point, or
/// none). `element` says where the intensities came from in messages. Throws DataFileError naming
/// the file.
void finishCounts(Scan& scan, const std::string& element, const std::vector<double>& attenuation);

}  // namespace kelvarin::scanio
