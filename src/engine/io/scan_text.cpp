#include "engine/io/scan_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace kelvarin::scanio {

std::string_view withoutBom(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return text;
}

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    int number = 1;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(Line{line, number++});
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

namespace {
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
}  // namespace

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> fields(std::string_view line, bool commas) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    const auto separator = [&](char c) { return isSpace(c) || (commas && c == ','); };
    while (i < line.size()) {
        while (i < line.size() && separator(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !separator(line[i]))
            ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::optional<double> number(std::string_view field) {
    field = trim(field);
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    // A number starts with a digit, a point, or a minus sign before one of those: from_chars
    // would also take "inf" and "nan".
    const std::size_t lead = !field.empty() && field.front() == '-' ? 1 : 0;
    if (field.size() <= lead) return std::nullopt;
    const char c = field[lead];
    if (!((c >= '0' && c <= '9') || c == '.')) return std::nullopt;
    double v = 0;
    const auto res =
        std::from_chars(field.data(), field.data() + field.size(), v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != field.data() + field.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string printable(std::string_view s) {
    std::string out;
    for (char c : s.substr(0, 80)) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 32 || u > 126) ? '?' : c;
    }
    if (s.size() > 80) out += "...";
    return out;
}

void HeaderKeys::set(std::string key, std::string value, int line) {
    values_[std::move(key)] = {std::string(trim(value)), line};
}

std::string HeaderKeys::text(const std::string& key) const {
    const auto it = values_.find(key);
    return it == values_.end() ? "" : it->second.first;
}

int HeaderKeys::line(const std::string& key) const {
    const auto it = values_.find(key);
    return it == values_.end() ? 0 : it->second.second;
}

std::optional<double> HeaderKeys::number(const std::string& name, const std::string& key) const {
    const auto it = values_.find(key);
    if (it == values_.end() || it->second.first.empty()) return std::nullopt;
    const std::optional<double> v = scanio::number(it->second.first);
    if (!v)
        fail(name, it->second.second,
             key + " is '" + printable(it->second.first) + "', which is not a number");
    return v;
}

Scan emptyScan(const std::string& format, const std::string& name, std::size_t index,
               std::size_t count) {
    Scan scan;
    scan.format = format;
    scan.source = name;
    scan.scanNumber = static_cast<int>(index) + 1;
    scan.scanCount = static_cast<int>(count);
    return scan;
}

std::string where(const std::string& name, int line) {
    std::string text = "Scan file '" + name + "'";
    if (line > 0) text += ", line " + std::to_string(line);
    return text;
}

void fail(const std::string& name, int line, const std::string& what) {
    throw DataFileError(where(name, line) + ": " + what);
}

void finishCounts(Scan& scan, const std::string& element, const std::vector<double>& attenuation) {
    const std::string& name = scan.source;
    if (scan.countingTime && !(*scan.countingTime > 0))
        fail(name, 0, "the counting time in " + element + " is not above 0");
    if (scan.countsPerSecond && !scan.countingTime)
        fail(name, 0,
             element +
                 " holds counts per second but the file states no counting time to turn "
                 "them into counts");
    if (!attenuation.empty() && attenuation.size() != scan.counts.size()) {
        std::ostringstream msg;
        msg << element << " holds " << scan.counts.size() << " intensities but "
            << attenuation.size() << " attenuation factors";
        fail(name, 0, msg.str());
    }
    scan.attenuationMin = scan.attenuationMax = 1;
    scan.fractionalCounts = 0;
    for (std::size_t i = 0; i < scan.counts.size(); ++i) {
        double& y = scan.counts[i];
        if (!(y >= 0) || !std::isfinite(y)) {
            std::ostringstream msg;
            msg << "intensity " << i + 1 << " of " << element << " is " << y
                << "; counts cannot be negative";
            fail(name, 0, msg.str());
        }
        if (scan.countsPerSecond) {
            y *= *scan.countingTime;
            // Counts per second are written to a few decimals: a product within that rounding of
            // a whole number is that number of counts.
            const double whole = std::round(y);
            if (std::fabs(y - whole) <= 1e-4 * *scan.countingTime) y = whole;
        }
        if (!attenuation.empty()) {
            const double f = attenuation[i];
            if (!(f > 0) || !std::isfinite(f)) {
                std::ostringstream msg;
                msg << "attenuation factor " << i + 1 << " of " << element << " is " << f
                    << "; it must be above 0";
                fail(name, 0, msg.str());
            }
            scan.attenuationMin = i == 0 ? f : std::min(scan.attenuationMin, f);
            scan.attenuationMax = i == 0 ? f : std::max(scan.attenuationMax, f);
            y *= f;
        }
        if (!std::isfinite(y)) fail(name, 0, "intensity " + std::to_string(i + 1) + " overflows");
        if (std::fabs(y - std::round(y)) > 1e-6 * std::max(1.0, y)) ++scan.fractionalCounts;
    }
}

}  // namespace kelvarin::scanio
