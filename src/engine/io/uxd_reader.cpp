// The Bruker UXD (ASCII) export: "_KEY=value" lines (";" starts a comment) set up a range, and
// "_COUNTS" or "_CPS" opens its intensities, several to a line, at _START (or _2THETA, _THETA,
// _OMEGA) plus multiples of _STEPSIZE; "_2THETACOUNTS" and "_2THETACPS" open "angle intensity"
// pairs instead. Each data block is one scan; keys set before it carry over to later ranges.
#include <sstream>

#include "engine/io/scan_readers.hpp"
#include "engine/io/scan_text.hpp"

namespace kelvarin::scanio {

namespace {

struct Block {
    HeaderKeys keys;
    bool perSecond = false;
    bool pairs = false;
    int line = 0;
    std::vector<double> angle;
    std::vector<double> counts;
};

std::string unquoted(std::string_view v) {
    v = trim(v);
    if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(trim(v));
}

}  // namespace

Scan readUxd(const std::string& body, const std::string& name, int scanNumber) {
    std::vector<Block> blocks;
    Block setUp;
    Block* data = nullptr;
    for (const Line& line : splitLines(body)) {
        const std::string_view t = trim(line.text);
        if (t.empty() || t.front() == ';') continue;
        if (t.front() == '_') {
            data = nullptr;
            const std::size_t eq = t.find('=');
            const std::string k(trim(t.substr(0, eq)));
            if (eq == std::string_view::npos) {
                if (k == "_COUNTS" || k == "_CPS" || k == "_2THETACOUNTS" || k == "_2THETACPS") {
                    blocks.push_back(setUp);
                    data = &blocks.back();
                    data->perSecond = k == "_CPS" || k == "_2THETACPS";
                    data->pairs = k.rfind("_2THETA", 0) == 0;
                    data->line = line.number;
                    continue;
                }
                fail(name, line.number,
                     "'" + printable(t) + "' is neither _KEY=value nor a data key");
            }
            setUp.keys.set(k, unquoted(t.substr(eq + 1)), line.number);
            continue;
        }
        if (data == nullptr)
            fail(name, line.number,
                 "'" + printable(t) + "' stands before any _COUNTS or _CPS line");
        const std::vector<std::string_view> f = fields(t);
        if (data->pairs && f.size() != 2)
            fail(name, line.number,
                 "a data line of " + std::string(data->perSecond ? "_2THETACPS" : "_2THETACOUNTS") +
                     " holds an angle and an intensity");
        for (std::size_t k = 0; k < f.size(); ++k) {
            const std::optional<double> v = number(f[k]);
            if (!v) fail(name, line.number, "'" + printable(f[k]) + "' is not a number");
            if (data->pairs && k == 0)
                data->angle.push_back(*v);
            else
                data->counts.push_back(*v);
        }
        if (data->counts.size() > kMaxScanPoints)
            fail(name, line.number, "more than " + std::to_string(kMaxScanPoints) + " points");
    }
    const std::size_t index = chooseScan(name, blocks.size(), scanNumber);
    Block& b = blocks[index];

    Scan scan = emptyScan("Bruker UXD", name, index, blocks.size());
    scan.unit = AngleUnit::Degrees;
    const std::string drive = b.keys.text("_DRIVE");
    std::string startKey = "_2THETA";
    if (drive.empty() || drive == "COUPLED" || drive == "THETA/2THETA" || drive == "2THETA/THETA") {
        scan.axis = ScanAxis::TwoThetaOmega;
        if (drive.empty())
            scan.notes.push_back("no _DRIVE given; read as a coupled 2theta/omega scan");
    } else if (drive == "DETECTOR" || drive == "2THETA") {
        scan.axis = ScanAxis::TwoTheta;
    } else if (drive == "THETA" || drive == "OMEGA") {
        scan.axis = ScanAxis::Omega;
        startKey = drive == "THETA" ? "_THETA" : "_OMEGA";
    } else {
        fail(name, b.keys.line("_DRIVE"),
             "the drive '" + printable(drive) +
                 "' is not one this program reads (COUPLED, DETECTOR, THETA, OMEGA)");
    }
    scan.counts = std::move(b.counts);
    if (b.pairs) {
        scan.angle = std::move(b.angle);
    } else {
        std::optional<double> start = b.keys.number(name, "_START");
        if (!start) start = b.keys.number(name, startKey);
        const std::optional<double> step = b.keys.number(name, "_STEPSIZE");
        if (!start) fail(name, b.line, "the range gives neither _START nor " + startKey);
        if (!step || *step == 0) fail(name, b.line, "the range gives no _STEPSIZE above 0");
        if (const std::optional<double> declared = b.keys.number(name, "_STEPCOUNT");
            declared && *declared != static_cast<double>(scan.counts.size())) {
            std::ostringstream msg;
            msg << "_STEPCOUNT says " << *declared << " points but the range holds "
                << scan.counts.size();
            fail(name, b.line, msg.str());
        }
        for (std::size_t k = 0; k < scan.counts.size(); ++k)
            scan.angle.push_back(*start + *step * static_cast<double>(k));
    }
    scan.countsPerSecond = b.perSecond;
    scan.countingTime = b.keys.number(name, "_STEPTIME");
    finishCounts(scan, "the data block on line " + std::to_string(b.line), {});
    scan.wavelength = b.keys.number(name, "_WL1");
    scan.sample = printable(b.keys.text("_SAMPLE"));
    scan.date = printable(b.keys.text("_DATEMEASURED"));
    scan.instrument = printable(b.keys.text("_SITE"));
    return scan;
}

}  // namespace kelvarin::scanio
