// The PANalytical .x00 text export: "HR-XRDScan", header lines "Key, value", "ScanData", then one
// intensity per line in counts per second (or "angle intensity" pairs). The angles follow from
// FirstAngle and StepWidth; TimePerStep turns the intensities into counts.
#include <cmath>
#include <map>
#include <sstream>

#include "engine/io/scan_readers.hpp"
#include "engine/io/scan_text.hpp"

namespace kelvarin::scanio {

namespace {

struct Entry {
    std::string value;
    int line = 0;
};

double headerNumber(const std::string& name, const std::map<std::string, Entry>& header,
                    const std::string& key) {
    const auto it = header.find(key);
    if (it == header.end()) fail(name, 0, "the header has no '" + key + "' line");
    const std::optional<double> v = number(it->second.value);
    if (!v)
        fail(name, it->second.line,
             key + " is '" + printable(it->second.value) + "', which is not a number");
    return *v;
}

}  // namespace

Scan readX00(const std::string& text, const std::string& name) {
    const std::vector<Line> lines = splitLines(text);
    std::map<std::string, Entry> header;
    std::size_t i = 1;  // line 0 is "HR-XRDScan"
    for (; i < lines.size(); ++i) {
        const std::string_view t = trim(lines[i].text);
        if (t == "ScanData") break;
        if (t.empty()) continue;
        const std::size_t comma = t.find(',');
        if (comma == std::string_view::npos)
            fail(name, lines[i].number,
                 "'" + printable(t) + "' is neither a 'Key, value' header line nor 'ScanData'");
        header[std::string(trim(t.substr(0, comma)))] =
            Entry{std::string(trim(t.substr(comma + 1))), lines[i].number};
    }
    if (i >= lines.size()) fail(name, 0, "the file has no 'ScanData' line (is it cut short?)");

    Scan scan;
    scan.format = "PANalytical .x00";
    scan.source = name;
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
    if (header.count("NrOfData")) {
        const double declared = headerNumber(name, header, "NrOfData");
        if (declared != static_cast<double>(n)) {
            std::ostringstream msg;
            msg << "NrOfData says " << declared << " points but ScanData holds " << n;
            fail(name, header["NrOfData"].line, msg.str());
        }
    }
    if (angles.empty()) {
        const double first = headerNumber(name, header, "FirstAngle");
        const double step = headerNumber(name, header, "StepWidth");
        if (!(step != 0)) fail(name, header["StepWidth"].line, "StepWidth is 0");
        for (std::size_t k = 0; k < n; ++k)
            angles.push_back(first + step * static_cast<double>(k));
    }
    scan.angle = std::move(angles);
    scan.unit = AngleUnit::Degrees;

    const std::string axis = header.count("ScanAxis") ? header["ScanAxis"].value : "";
    if (axis == "Omega/2Theta" || axis == "Omega-2Theta")
        scan.axis = ScanAxis::OmegaTwoTheta;
    else if (axis == "Omega")
        scan.axis = ScanAxis::Omega;
    else if (axis == "2Theta/Omega" || axis == "2Theta-Omega")
        scan.axis = ScanAxis::TwoThetaOmega;
    else if (axis == "2Theta")
        scan.axis = ScanAxis::TwoTheta;
    else
        fail(name, header.count("ScanAxis") ? header["ScanAxis"].line : 0,
             "the scan axis '" + printable(axis) +
                 "' is not one this program reads (Omega, Omega/2Theta, 2Theta/Omega, 2Theta)");

    scan.countsPerSecond = true;
    if (header.count("TimePerStep")) scan.countingTime = headerNumber(name, header, "TimePerStep");
    finishCounts(scan, "ScanData", {});

    if (header.count("Wavelength")) scan.wavelength = headerNumber(name, header, "Wavelength");
    if (header.count("Reflection")) {
        const std::vector<std::string_view> hkl = fields(header["Reflection"].value);
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
    if (header.count("Sample")) scan.sample = printable(header["Sample"].value);
    if (header.count("FileDateTime")) scan.date = printable(header["FileDateTime"].value);
    return scan;
}

}  // namespace kelvarin::scanio
