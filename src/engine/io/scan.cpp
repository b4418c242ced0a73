#include "engine/io/scan.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "engine/io/scan_readers.hpp"
#include "engine/io/scan_text.hpp"

namespace kelvarin {

bool isTwoThetaAxis(ScanAxis axis) {
    return axis == ScanAxis::TwoThetaOmega || axis == ScanAxis::TwoTheta;
}

std::string axisName(ScanAxis axis) {
    switch (axis) {
        case ScanAxis::Omega:
            return "omega";
        case ScanAxis::OmegaTwoTheta:
            return "omega/2theta";
        case ScanAxis::TwoThetaOmega:
            return "2theta/omega";
        case ScanAxis::TwoTheta:
            return "2theta";
        case ScanAxis::OmegaOffset:
            break;
    }
    return "omega offset";
}

std::optional<ScanAxis> axisFromName(const std::string& name) {
    if (name == "omega") return ScanAxis::Omega;
    if (name == "omega/2theta" || name == "omega-2theta") return ScanAxis::OmegaTwoTheta;
    if (name == "2theta/omega" || name == "2theta-omega") return ScanAxis::TwoThetaOmega;
    if (name == "2theta") return ScanAxis::TwoTheta;
    if (name == "omega offset" || name == "omega-offset") return ScanAxis::OmegaOffset;
    return std::nullopt;
}

namespace {

/// What every format shares: enough points, finite angles that run one way (a scan recorded
/// downward is turned round).
void checkPoints(Scan& scan) {
    const std::string& name = scan.source;
    if (scan.angle.size() != scan.counts.size())
        scanio::fail(name, 0, "the number of angles does not match the number of intensities");
    if (scan.angle.size() < kMinScanPoints) {
        std::ostringstream msg;
        msg << "the scan holds " << scan.angle.size() << " point"
            << (scan.angle.size() == 1 ? "" : "s") << "; a scan needs at least " << kMinScanPoints;
        scanio::fail(name, 0, msg.str());
    }
    if (scan.angle.size() > kMaxScanPoints)
        scanio::fail(name, 0,
                     "the scan holds more than " + std::to_string(kMaxScanPoints) + " points");
    const bool down = scan.angle.back() < scan.angle.front();
    if (down) {
        std::reverse(scan.angle.begin(), scan.angle.end());
        std::reverse(scan.counts.begin(), scan.counts.end());
    }
    for (std::size_t i = 0; i < scan.angle.size(); ++i) {
        if (!(std::fabs(scan.angle[i]) <= kMaxScanAngle)) {
            std::ostringstream msg;
            msg << "angle " << i + 1 << " (" << scan.angle[i] << ") lies beyond " << kMaxScanAngle;
            scanio::fail(name, 0, msg.str());
        }
        if (i > 0 && !(scan.angle[i] > scan.angle[i - 1])) {
            std::ostringstream msg;
            const std::size_t at = down ? scan.angle.size() - i : i + 1;
            msg << "the angles do not run one way: point " << at << " (" << scan.angle[i]
                << ") does not follow on from its neighbour (" << scan.angle[i - 1] << ")";
            scanio::fail(name, 0, msg.str());
        }
    }
}

}  // namespace

ScanFormat scanFormatOf(std::string_view text) {
    const std::string_view start = scanio::trim(scanio::withoutBom(text).substr(0, 4096));
    if (!start.empty() && start.front() == '<') return ScanFormat::Xrdml;
    if (start.substr(0, 10) == "HR-XRDScan") return ScanFormat::X00;
    if (start.substr(0, 5) == "*RAS_") return ScanFormat::Ras;
    // A Bruker export opens with "_KEY=value" lines, possibly after ";" comments.
    for (const scanio::Line& line : scanio::splitLines(start)) {
        const std::string_view t = scanio::trim(line.text);
        if (t.empty() || t.front() == ';') continue;
        return t.front() == '_' ? ScanFormat::Uxd : ScanFormat::PlainText;
    }
    return ScanFormat::PlainText;
}

ScanFormat scanFormatOfFile(const std::string& path) {
    std::string head(4096, '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return scanFormatOf(head);
}

Scan parseScan(const std::string& text, const std::string& name, const ScanReadOptions& options) {
    const std::string body(scanio::withoutBom(text));
    if (scanio::trim(body).empty()) scanio::fail(name, 0, "the file is empty");
    Scan scan;
    switch (scanFormatOf(body)) {
        case ScanFormat::Xrdml:
            scan = scanio::readXrdml(body, name, options.scanNumber);
            break;
        case ScanFormat::X00:
            scan = scanio::readX00(body, name);
            break;
        case ScanFormat::Ras:
            scan = scanio::readRas(body, name, options.scanNumber);
            break;
        case ScanFormat::Uxd:
            scan = scanio::readUxd(body, name, options.scanNumber);
            break;
        case ScanFormat::PlainText:
            scan = scanio::readTextScan(body, name, options);
            break;
    }
    if (scan.format != "plain text" && (options.axis || options.unit))
        scan.notes.push_back("the declared axis and unit apply to plain text only; the " +
                             scan.format + " file states its own");
    if (options.wavelength) {
        if (!(*options.wavelength > 0) || !std::isfinite(*options.wavelength))
            scanio::fail(name, 0, "the wavelength given must be above 0");
        scan.wavelength = options.wavelength;
    }
    checkPoints(scan);
    return scan;
}

Scan readScan(const std::string& path, const ScanReadOptions& options) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw DataFileError("Cannot open scan file '" + path + "'");
    constexpr std::streamoff kMaxBytes = std::streamoff{256} << 20;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) throw DataFileError("Cannot read scan file '" + path + "'");
    if (size > kMaxBytes)
        throw DataFileError("Scan file '" + path + "' is too large (over 256 MB)");
    in.seekg(0, std::ios::beg);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (size > 0 && !in.read(text.data(), size))
        throw DataFileError("Cannot read scan file '" + path + "'");
    return parseScan(text, path, options);
}

namespace scanio {

std::size_t chooseScan(const std::string& name, std::size_t count, int requested) {
    if (count == 0) fail(name, 0, "the file holds no scan");
    if (requested == 0) {
        if (count == 1) return 0;
        fail(name, 0,
             "the file holds " + std::to_string(count) + " scans; choose one by its number (1 to " +
                 std::to_string(count) + ")");
    }
    if (requested < 1 || static_cast<std::size_t>(requested) > count)
        fail(name, 0,
             "there is no scan " + std::to_string(requested) + "; the file holds " +
                 std::to_string(count) + " (1 to " + std::to_string(count) + ")");
    return static_cast<std::size_t>(requested - 1);
}

}  // namespace scanio

}  // namespace kelvarin
