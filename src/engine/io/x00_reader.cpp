// The PANalytical .x00 text export: "HR-XRDScan", header lines "Key, value", "ScanData", then one
// intensity per line in counts per second (or "angle intensity" pairs). The angles follow from
// FirstAngle and StepWidth; TimePerStep turns the intensities into counts.
#include <cmath>
#include <sstream>

#include "engine/io/scan_readers.hpp"
#include "engine/io/scan_text.hpp"

namespace kelvarin::scanio {

namespace {}  // namespace

Scan readX00(const std::string& text, const std::string& name) {
    const std::vector<Line> lines = splitLines(text);
    HeaderKeys header;
    std::size_t i = 1;  // line 0 is "HR-XRDScan"
    for (; i < lines.size(); ++i) {
        const std::string_view t = trim(lines[i].text);
        if (t == "ScanData") break;
        if (t.empty()) continue;
        const std::size_t comma = t.find(',');
        if (comma == std::string_view::npos)
            fail(name, lines[i].number,
                 "'" + printable(t) + "' is neither a 'Key, value' header line nor 'ScanData'");
        header.set(std::string(trim(t.substr(0, comma))), std::string(t.substr(comma + 1)),
                   lines[i].number);
    }
    if (i >= lines.size()) fail(name, 0, "the file has no 'ScanData' line (is it cut short?)");

    Scan scan = emptyScan("PANalytical .x00", name);
    std::vector<double> angles;
    for (++i; i < lines.size(); ++i) {
        const std::vector<std::string_view> f = fields(lines[i].text);
        if (f.empty()) continue;
        if (f.size() > 2)
            fail(name, lines[i].number,
                 "a data line holds one intensity or an angle and an intensity");
        std::vector<double> v;
        for (std::string_view field : f) {
            const std::optional<double> x = number(field);
            if (!x)
                fail(name, lines[i].number,
                     "'" + printable(field) + "' is not a number" +
                         (field.find(',') != std::string_view::npos ? " (use '.' as decimal point)"
                                                                    : ""));
            v.push_back(*x);
        }
        if (f.size() == 2) angles.push_back(v[0]);
        scan.counts.push_back(v.back());
        if (scan.counts.size() > kMaxScanPoints)
            fail(name, lines[i].number, "more than " + std::to_string(kMaxScanPoints) + " points");
    }
    if (!angles.empty() && angles.size() != scan.counts.size())
        fail(name, 0, "some data lines give an angle and some do not");

    const std::size_t n = scan.counts.size();
    if (const std::optional<double> declared = header.number(name, "NrOfData")) {
        if (*declared != static_cast<double>(n)) {
            std::ostringstream msg;
            msg << "NrOfData says " << *declared << " points but ScanData holds " << n;
            fail(name, header.line("NrOfData"), msg.str());
        }
    }
    if (angles.empty()) {
        const std::optional<double> first = header.number(name, "FirstAngle");
        const std::optional<double> step = header.number(name, "StepWidth");
        if (!first || !step)
            fail(name, 0, "the header gives no FirstAngle and StepWidth, and the data no angles");
        if (*step == 0) fail(name, header.line("StepWidth"), "StepWidth is 0");
        for (std::size_t k = 0; k < n; ++k)
            angles.push_back(*first + *step * static_cast<double>(k));
    }
    scan.angle = std::move(angles);
    scan.unit = AngleUnit::Degrees;

    const std::string axis = header.text("ScanAxis");
    if (axis == "Omega/2Theta" || axis == "Omega-2Theta")
        scan.axis = ScanAxis::OmegaTwoTheta;
    else if (axis == "Omega")
        scan.axis = ScanAxis::Omega;
    else if (axis == "2Theta/Omega" || axis == "2Theta-Omega")
        scan.axis = ScanAxis::TwoThetaOmega;
    else if (axis == "2Theta")
        scan.axis = ScanAxis::TwoTheta;
    else
        fail(name, header.line("ScanAxis"),
             "the scan axis '" + printable(axis) +
                 "' is not one this program reads (Omega, Omega/2Theta, 2Theta/Omega, 2Theta)");

    scan.countsPerSecond = true;
    scan.countingTime = header.number(name, "TimePerStep");
    finishCounts(scan, "ScanData", {});

    scan.wavelength = header.number(name, "Wavelength");
    if (header.has("Reflection")) {
        const std::string reflection = header.text("Reflection");
        const std::vector<std::string_view> hkl = fields(reflection);
        std::array<int, 3> r{};
        bool ok = hkl.size() == 3;
        for (std::size_t k = 0; ok && k < 3; ++k) {
            const std::optional<double> v = number(hkl[k]);
            ok = v && std::fabs(*v) < 1000 && *v == std::trunc(*v);
            if (ok) r[k] = static_cast<int>(*v);
        }
        // "0 0 0" is what the instrument writes when no reflection was set.
        if (ok && r != std::array<int, 3>{0, 0, 0}) scan.reflection = r;
    }
    scan.sample = printable(header.text("Sample"));
    scan.date = printable(header.text("FileDateTime"));
    return scan;
}

}  // namespace kelvarin::scanio
