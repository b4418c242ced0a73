// Plain text: one point per line, the angle and the intensity (counts), optionally a third
// column (its error, not used). Lines starting with "#" or ";" are comments. Without a declared
// axis and unit the angles are offsets of ω in seconds of arc.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "engine/io/scan_readers.hpp"
#include "engine/io/scan_text.hpp"

namespace kelvarin::scanio {

namespace {

/// Whole seconds of arc between the first and last angle, both included.
double wholeSecondsIn(double first, double last) {
    return std::floor(last) - std::ceil(first) + 1;
}

}  // namespace

Scan readTextScan(const std::string& body, const std::string& name,
                  const ScanReadOptions& options) {
    Scan scan = emptyScan("plain text", name);
    bool errors = false;
    for (const Line& line : splitLines(body)) {
        const std::string_view t = trim(line.text);
        if (t.empty() || t.front() == '#' || t.front() == ';') continue;
        const std::vector<std::string_view> f = fields(t);
        for (std::string_view field : f)
            if (!number(field))
                fail(name, line.number,
                     "'" + printable(field) + "' is not a number" +
                         (field.find(',') != std::string_view::npos
                              ? " (use '.' as decimal point)"
                              : " (comment lines start with '#' or ';')"));
        if (f.size() < 2 || f.size() > 3)
            fail(name, line.number,
                 "a line holds " + std::to_string(f.size()) +
                     " numbers; a point is an angle, an intensity and perhaps its error");
        scan.angle.push_back(*number(f[0]));
        scan.counts.push_back(*number(f[1]));
        errors = errors || f.size() == 3;
        if (scan.angle.size() > kMaxScanPoints)
            fail(name, line.number, "more than " + std::to_string(kMaxScanPoints) + " points");
    }
    if (errors) scan.notes.push_back("the third column (the intensity's error) is not used");

    scan.axis = options.axis.value_or(ScanAxis::OmegaOffset);
    const AngleUnit fallback =
        scan.axis == ScanAxis::OmegaOffset ? AngleUnit::ArcSeconds : AngleUnit::Degrees;
    scan.unit = options.unit.value_or(fallback);
    if (!options.unit && scan.unit == AngleUnit::ArcSeconds && scan.angle.size() >= 2) {
        // Angles in degrees read as seconds of arc leave a handful of points.
        const double first = std::min(scan.angle.front(), scan.angle.back());
        const double last = std::max(scan.angle.front(), scan.angle.back());
        const double whole = wholeSecondsIn(first, last);
        if (last - first < 10 && whole < static_cast<double>(kMinScanPoints)) {
            std::ostringstream msg;
            msg << "the angles run from " << first << " to " << last << ": as seconds of arc "
                << "that is " << std::max(whole, 0.0) << " whole-second points for "
                << scan.angle.size()
                << " measured ones. They look like degrees (2theta or omega); declare the unit "
                   "and the axis (--unit deg --axis 2theta/omega or omega)";
            fail(name, 0, msg.str());
        }
    }
    finishCounts(scan, "the intensity column", {});
    return scan;
}

}  // namespace kelvarin::scanio
