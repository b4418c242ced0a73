// The Rigaku RAS text export: "*RAS_DATA_START", then per scan a header ("*KEY "value"" lines
// between *RAS_HEADER_START and *RAS_HEADER_END) and its points ("angle intensity
// [attenuation]" lines between *RAS_INT_START and *RAS_INT_END), then "*RAS_DATA_END". Header
// values may be in Shift-JIS; only the keys this reader uses are interpreted, and text shown
// from others is reduced to printable ASCII.
#include <cmath>
#include <sstream>

#include "engine/io/scan_readers.hpp"
#include "engine/io/scan_text.hpp"

namespace kelvarin::scanio {

namespace {

struct Block {
    HeaderKeys header;
    std::vector<double> angle;
    std::vector<double> counts;
    std::vector<double> attenuation;
    int firstLine = 0;
};

/// `*KEY "value"` or `*KEY value`.
void headerEntry(Block& block, const Line& line) {
    std::string_view t = trim(line.text);
    const std::size_t space = t.find_first_of(" \t");
    std::string_view value = space == std::string_view::npos ? "" : trim(t.substr(space));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    block.header.set(std::string(t.substr(0, space)), std::string(value), line.number);
}

std::vector<Block> readBlocks(const std::string& text, const std::string& name) {
    std::vector<Block> blocks;
    enum class In { Outside, Header, Points } in = In::Outside;
    Block current;
    for (const Line& line : splitLines(text)) {
        const std::string_view t = trim(line.text);
        if (t.empty()) continue;
        if (t == "*RAS_HEADER_START") {
            if (in != In::Outside) fail(name, line.number, "a header starts within a scan");
            current = Block{};
            current.firstLine = line.number;
            in = In::Header;
        } else if (t == "*RAS_HEADER_END") {
            if (in != In::Header) fail(name, line.number, "*RAS_HEADER_END without its start");
            in = In::Outside;
        } else if (t == "*RAS_INT_START") {
            if (in != In::Outside || current.firstLine == 0)
                fail(name, line.number, "*RAS_INT_START without a header before it");
            in = In::Points;
        } else if (t == "*RAS_INT_END") {
            if (in != In::Points) fail(name, line.number, "*RAS_INT_END without its start");
            blocks.push_back(std::move(current));
            current = Block{};
            in = In::Outside;
        } else if (in == In::Header) {
            if (t.front() == '*') headerEntry(current, line);
        } else if (in == In::Points) {
            const std::vector<std::string_view> f = fields(t);
            if (f.size() < 2 || f.size() > 3)
                fail(name, line.number,
                     "a data line holds an angle, an intensity and perhaps an attenuation factor");
            double v[3] = {0, 0, 1};
            for (std::size_t k = 0; k < f.size(); ++k) {
                const std::optional<double> x = number(f[k]);
                if (!x) fail(name, line.number, "'" + printable(f[k]) + "' is not a number");
                v[k] = *x;
            }
            current.angle.push_back(v[0]);
            current.counts.push_back(v[1]);
            current.attenuation.push_back(v[2]);
            if (current.angle.size() > kMaxScanPoints)
                fail(name, line.number, "more than " + std::to_string(kMaxScanPoints) + " points");
        } else if (t.front() != '*') {
            fail(name, line.number, "'" + printable(t) + "' stands outside every block");
        }
    }
    if (in != In::Outside)
        fail(name, 0,
             std::string("the file ends within ") +
                 (in == In::Header ? "a header (no *RAS_HEADER_END)" : "a scan (no *RAS_INT_END)"));
    return blocks;
}

ScanAxis axisOf(const std::string& name, const Block& b) {
    std::string axis = b.header.text("*MEAS_SCAN_AXIS_X");
    if (axis.empty()) axis = b.header.text("*MEAS_SCAN_AXIS_X_INTERNAL");
    if (axis == "2-Theta/Omega" || axis == "TwoThetaOmega" || axis == "Theta/2-Theta" ||
        axis == "2Theta/Omega" || axis == "ThetaTwoTheta")
        return ScanAxis::TwoThetaOmega;
    if (axis == "Omega") return ScanAxis::Omega;
    if (axis == "2-Theta" || axis == "TwoTheta" || axis == "2Theta") return ScanAxis::TwoTheta;
    const int line = b.header.line("*MEAS_SCAN_AXIS_X");
    fail(name, line > 0 ? line : b.firstLine,
         "the scan axis '" + printable(axis) +
             "' is not one this program reads (2-Theta/Omega, Omega, 2-Theta)");
}

}  // namespace

Scan readRas(const std::string& text, const std::string& name, int scanNumber) {
    std::vector<Block> blocks = readBlocks(text, name);
    const std::size_t index = chooseScan(name, blocks.size(), scanNumber);
    Block& b = blocks[index];

    Scan scan = emptyScan("Rigaku RAS", name, index, blocks.size());
    scan.axis = axisOf(name, b);
    const std::string unitX = b.header.text("*MEAS_SCAN_UNIT_X");
    if (!unitX.empty() && unitX != "deg")
        fail(name, b.header.line("*MEAS_SCAN_UNIT_X"),
             "the angle unit '" + printable(unitX) + "' is not degrees");
    scan.unit = AngleUnit::Degrees;

    if (const std::optional<double> declared = b.header.number(name, "*MEAS_DATA_COUNT");
        declared && *declared != static_cast<double>(b.counts.size())) {
        std::ostringstream msg;
        msg << "*MEAS_DATA_COUNT says " << *declared << " points but scan " << index + 1
            << " holds " << b.counts.size();
        fail(name, b.header.line("*MEAS_DATA_COUNT"), msg.str());
    }

    // Counting time per point: a continuous scan moves at a speed in degrees per minute, a step
    // scan dwells a time per step.
    const std::string speedUnit = b.header.text("*MEAS_SCAN_SPEED_UNIT");
    const std::optional<double> speed = b.header.number(name, "*MEAS_SCAN_SPEED");
    const std::optional<double> step = b.header.number(name, "*MEAS_SCAN_STEP");
    if (speed && speedUnit == "deg/min" && step && *speed > 0)
        scan.countingTime = std::fabs(*step) / *speed * 60.0;
    else if (speed && (speedUnit == "s" || speedUnit == "sec"))
        scan.countingTime = *speed;
    const std::string unitY = b.header.text("*MEAS_SCAN_UNIT_Y");
    if (unitY == "cps")
        scan.countsPerSecond = true;
    else if (!unitY.empty() && unitY != "counts")
        fail(name, b.header.line("*MEAS_SCAN_UNIT_Y"),
             "the intensity unit '" + printable(unitY) + "' is neither counts nor cps");

    scan.angle = std::move(b.angle);
    scan.counts = std::move(b.counts);
    finishCounts(scan, "scan " + std::to_string(index + 1), b.attenuation);

    if (const std::optional<double> l = b.header.number(name, "*HW_XG_WAVE_LENGTH_ALPHA1"))
        scan.wavelength = *l;
    scan.sample = printable(b.header.text("*FILE_SAMPLE"));
    scan.date = printable(b.header.text("*MEAS_SCAN_START_TIME"));
    scan.instrument = printable(b.header.text("*HW_GONIOMETER_NAME"));
    return scan;
}

}  // namespace kelvarin::scanio
