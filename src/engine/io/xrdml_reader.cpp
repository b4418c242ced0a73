// PANalytical XRDML: an XML document, root <xrdMeasurements>, one <xrdMeasurement> per
// measurement, one <scan> per scan in it. A scan's <dataPoints> hold <positions> per axis (start
// and end, a list, or one common position), the intensities (<counts> or <intensities>, in
// counts or counts per second), the counting time and the beam attenuation factors.
#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "engine/io/scan_readers.hpp"
#include "engine/io/scan_text.hpp"

namespace kelvarin::scanio {

namespace {

/// The element name without a namespace prefix.
std::string_view localName(const pugi::xml_node& node) {
    std::string_view n = node.name();
    const std::size_t colon = n.find(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view name) {
    for (pugi::xml_node c : node.children())
        if (c.type() == pugi::node_element && localName(c) == name) return c;
    return {};
}

std::vector<pugi::xml_node> children(const pugi::xml_node& node, std::string_view name) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node c : node.children())
        if (c.type() == pugi::node_element && localName(c) == name) out.push_back(c);
    return out;
}

std::string path(const pugi::xml_node& node) {
    std::string p;
    for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent())
        p = "<" + std::string(localName(n)) + ">" + (p.empty() ? "" : " ") + p;
    return "element " + p;
}

double numberIn(const std::string& name, const pugi::xml_node& node) {
    const std::optional<double> v = number(node.text().get());
    if (!v)
        fail(name, 0,
             path(node) + " holds '" + printable(node.text().get()) + "', which is not a number");
    return *v;
}

std::vector<double> listIn(const std::string& name, const pugi::xml_node& node) {
    std::vector<double> out;
    for (std::string_view f : fields(node.text().get())) {
        const std::optional<double> v = number(f);
        if (!v)
            fail(name, 0,
                 path(node) + ": '" + printable(f) + "' (value " + std::to_string(out.size() + 1) +
                     ") is not a number");
        out.push_back(*v);
        if (out.size() > kMaxScanPoints)
            fail(name, 0,
                 path(node) + " holds more than " + std::to_string(kMaxScanPoints) + " values");
    }
    return out;
}

struct Positions {
    pugi::xml_node node;
    bool varies = false;
};

Positions positionsOf(const pugi::xml_node& dataPoints, std::string_view axis) {
    for (pugi::xml_node p : children(dataPoints, "positions"))
        if (std::string_view(p.attribute("axis").value()) == axis)
            return {p, !child(p, "commonPosition")};
    return {};
}

std::vector<double> anglesOf(const std::string& name, const Positions& pos, std::size_t n) {
    const std::string unit = pos.node.attribute("unit").value();
    if (!unit.empty() && unit != "deg")
        fail(name, 0, path(pos.node) + ": the unit '" + printable(unit) + "' is not degrees");
    if (pugi::xml_node list = child(pos.node, "listPositions")) {
        std::vector<double> a = listIn(name, list);
        if (a.size() != n) {
            std::ostringstream msg;
            msg << path(list) << " holds " << a.size() << " positions but there are " << n
                << " intensities";
            fail(name, 0, msg.str());
        }
        return a;
    }
    const pugi::xml_node start = child(pos.node, "startPosition");
    const pugi::xml_node end = child(pos.node, "endPosition");
    if (!start || !end)
        fail(name, 0, path(pos.node) + " has neither a start and end position nor a list");
    const double a0 = numberIn(name, start);
    const double a1 = numberIn(name, end);
    std::vector<double> a(n);
    for (std::size_t i = 0; i < n; ++i)
        a[i] = n > 1 ? a0 + (a1 - a0) * static_cast<double>(i) / static_cast<double>(n - 1) : a0;
    return a;
}

int lineAt(const std::string& text, std::ptrdiff_t offset) {
    const std::size_t end =
        std::min(text.size(), static_cast<std::size_t>(std::max<std::ptrdiff_t>(offset, 0)));
    return 1 + static_cast<int>(
                   std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
}

}  // namespace

Scan readXrdml(const std::string& text, const std::string& name, int scanNumber) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed)
        fail(name, lineAt(text, parsed.offset),
             std::string("the XML cannot be read: ") + parsed.description());
    const pugi::xml_node root = doc.document_element();
    if (localName(root) != "xrdMeasurements")
        fail(name, 0,
             "the root element is <" + printable(localName(root)) +
                 ">, not the <xrdMeasurements> of an XRDML file");

    struct Found {
        pugi::xml_node measurement;
        pugi::xml_node scan;
    };
    std::vector<Found> scans;
    for (pugi::xml_node m : children(root, "xrdMeasurement"))
        for (pugi::xml_node s : children(m, "scan"))
            scans.push_back({m, s});
    const std::size_t index = chooseScan(name, scans.size(), scanNumber);
    const pugi::xml_node measurement = scans[index].measurement;
    const pugi::xml_node scanNode = scans[index].scan;

    Scan scan = emptyScan("XRDML", name, index, scans.size());
    scan.sample = printable(child(child(root, "sample"), "name").text().get());
    const pugi::xml_node header = child(scanNode, "header");
    scan.date = printable(child(header, "startTimeStamp").text().get());
    scan.instrument =
        printable(child(child(header, "source"), "instrumentControlSoftware").text().get());
    if (pugi::xml_node k1 = child(child(measurement, "usedWavelength"), "kAlpha1"))
        scan.wavelength = numberIn(name, k1);

    const pugi::xml_node data = child(scanNode, "dataPoints");
    if (!data) fail(name, 0, path(scanNode) + " has no <dataPoints>");
    pugi::xml_node counts = child(data, "counts");
    if (!counts) counts = child(data, "intensities");
    if (!counts) fail(name, 0, path(data) + " has neither <counts> nor <intensities>");
    scan.counts = listIn(name, counts);
    const std::string unit = counts.attribute("unit").value();
    if (unit == "counts per second" || unit == "cps")
        scan.countsPerSecond = true;
    else if (!unit.empty() && unit != "counts")
        fail(name, 0, path(counts) + ": the unit '" + printable(unit) + "' is not counts");
    const std::size_t n = scan.counts.size();

    if (pugi::xml_node t = child(data, "commonCountingTime")) {
        scan.countingTime = numberIn(name, t);
    } else if (pugi::xml_node ts = child(data, "countingTimes")) {
        // One time per point: counts per second become counts point by point.
        const std::vector<double> times = listIn(name, ts);
        if (times.size() != n)
            fail(name, 0,
                 path(ts) + " holds " + std::to_string(times.size()) + " times but there are " +
                     std::to_string(n) + " intensities");
        for (std::size_t i = 0; i < n; ++i) {
            if (!(times[i] > 0))
                fail(name, 0,
                     path(ts) + ": counting time " + std::to_string(i + 1) + " is not above 0");
            if (scan.countsPerSecond) scan.counts[i] *= times[i];
        }
        scan.countsPerSecond = false;
        scan.countingTime = times.front();
        scan.notes.push_back("counting time per point from <countingTimes>; the first shown");
    }
    std::vector<double> attenuation;
    if (pugi::xml_node a = child(data, "beamAttenuationFactors")) attenuation = listIn(name, a);
    finishCounts(scan, path(counts), attenuation);

    const std::string axis = scanNode.attribute("scanAxis").value();
    const Positions omega = positionsOf(data, "Omega");
    const Positions twoTheta = positionsOf(data, "2Theta");
    Positions used;
    if (axis == "Omega") {
        scan.axis = ScanAxis::Omega;
        used = omega;
    } else if (axis == "2Theta") {
        scan.axis = ScanAxis::TwoTheta;
        used = twoTheta;
    } else if (axis == "Omega-2Theta" || axis == "2Theta-Omega" || axis == "Gonio") {
        // A coupled scan lists both. 2θ is taken where it moves: unlike ω it does not carry the
        // tilt of the sample, so the substrate's Bragg angle falls on its peak.
        if (twoTheta.node && twoTheta.varies) {
            scan.axis = ScanAxis::TwoThetaOmega;
            used = twoTheta;
        } else {
            scan.axis = ScanAxis::OmegaTwoTheta;
            used = omega;
        }
    } else {
        fail(name, 0,
             path(scanNode) + ": the scan axis '" + printable(axis) +
                 "' is not one this program reads (Omega, 2Theta, Omega-2Theta, 2Theta-Omega, "
                 "Gonio)");
    }
    if (!used.node || !used.varies)
        fail(name, 0,
             path(data) + " gives no moving positions for the scan axis '" + printable(axis) + "'");
    scan.unit = AngleUnit::Degrees;
    scan.angle = anglesOf(name, used, n);
    return scan;
}

}  // namespace kelvarin::scanio
