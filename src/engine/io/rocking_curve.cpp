#include "engine/io/rocking_curve.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "engine/io/scan_text.hpp"

namespace kelvarin {

namespace {

/// Seconds of arc of ω per unit of the scan's angle column.
double arcsecPerUnit(const Scan& scan) {
    const double perUnit = scan.unit == AngleUnit::Degrees ? 3600.0 : 1.0;
    return isTwoThetaAxis(scan.axis) ? perUnit / 2 : perUnit;
}

std::string degrees(double a) {
    std::ostringstream s;
    s.precision(8);
    s << a;
    return s.str();
}

/// Local maxima examined for their prominence: the highest this many.
constexpr std::size_t kMaxCandidates = 200;
/// A peak stands out from its surroundings by this share of the curve's range.
constexpr double kProminence = 0.05;

}  // namespace

SubstrateBragg substrateBragg(const Crystal& crystal, Extended h, Extended k, Extended l,
                              Extended wavelength) {
    const ReflectionGeometry geo =
        reflectionGeometry(crystal.a, crystal.b, crystal.c, h, k, l, wavelength);
    const double toDegrees = 180.0 / static_cast<double>(kPi);
    return SubstrateBragg{static_cast<double>(geo.thetaB) * toDegrees,
                          static_cast<double>(geo.phi) * toDegrees};
}

double braggOnAxis(const Scan& scan, const SubstrateBragg& bragg) {
    if (scan.axis == ScanAxis::OmegaOffset)
        scanio::fail(scan.source, 0,
                     "the angles are already offsets, so the Bragg angle cannot be placed on "
                     "them; declare the axis (omega or 2theta/omega)");
    double a = isTwoThetaAxis(scan.axis) ? 2 * bragg.thetaB : bragg.thetaB - bragg.phi;
    if (scan.unit == AngleUnit::ArcSeconds) a *= 3600;
    return a;
}

std::vector<std::size_t> findPeaks(const std::vector<double>& counts) {
    const std::size_t n = counts.size();
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i >= 2 ? i - 2 : 0;
        const std::size_t hi = std::min(n - 1, i + 2);
        double sum = 0;
        for (std::size_t k = lo; k <= hi; ++k)
            sum += counts[k];
        s[i] = sum / static_cast<double>(hi - lo + 1);
    }
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < n; ++i) {
        const bool left = i == 0 || s[i] > s[i - 1];
        const bool right = i + 1 == n || s[i] >= s[i + 1];
        if (left && right) candidates.push_back(i);
    }
    std::sort(candidates.begin(), candidates.end(),
              [&](std::size_t a, std::size_t b) { return s[a] > s[b] || (s[a] == s[b] && a < b); });
    if (candidates.size() > kMaxCandidates) candidates.resize(kMaxCandidates);
    if (candidates.empty()) return {};
    const auto [lowest, highest] = std::minmax_element(s.begin(), s.end());
    const double range = *highest - *lowest;
    std::vector<std::size_t> peaks;
    for (std::size_t i : candidates) {
        // The deepest dip on each side before the curve reaches this height again.
        double leftMin = s[i];
        std::size_t k = i;
        while (k > 0 && s[k - 1] < s[i])
            leftMin = std::min(leftMin, s[--k]);
        const bool leftOpen = k == 0;
        double rightMin = s[i];
        k = i;
        while (k + 1 < n && s[k + 1] < s[i])
            rightMin = std::min(rightMin, s[++k]);
        const bool rightOpen = k + 1 == n;
        // A side that runs to the end of the scan without rising again does not bound the peak.
        double base = std::max(leftOpen ? *lowest : leftMin, rightOpen ? *lowest : rightMin);
        if (leftOpen && rightOpen) base = *lowest;
        if (s[i] - base >= kProminence * range && range > 0) peaks.push_back(i);
    }
    if (peaks.empty()) peaks.push_back(candidates.front());
    // Each peak at the highest measured point under the smoothing window.
    for (std::size_t& p : peaks) {
        const std::size_t lo = p >= 2 ? p - 2 : 0;
        const std::size_t hi = std::min(n - 1, p + 2);
        p = static_cast<std::size_t>(
            std::max_element(counts.begin() + static_cast<std::ptrdiff_t>(lo),
                             counts.begin() + static_cast<std::ptrdiff_t>(hi) + 1) -
            counts.begin());
    }
    return peaks;
}

RockingCurve toRockingCurve(const Scan& scan, const ZeroChoice& zero,
                            const std::optional<SubstrateBragg>& bragg) {
    RockingCurve curve;
    const std::string unit = scan.unit == AngleUnit::Degrees ? "°" : "″";
    switch (zero.kind) {
        case ZeroChoice::Kind::Angle:
            curve.zero = zero.angle;
            curve.zeroReason = "the angle given, " + degrees(zero.angle) + unit;
            break;
        case ZeroChoice::Kind::Bragg: {
            if (!bragg)
                scanio::fail(scan.source, 0,
                             "the zero at the Bragg angle needs the crystal, the reflection and "
                             "the wavelength");
            curve.zero = braggOnAxis(scan, *bragg);
            if (curve.zero < scan.angle.front() || curve.zero > scan.angle.back()) {
                std::ostringstream msg;
                msg << "the substrate's Bragg angle, " << degrees(curve.zero) << unit << " on the "
                    << axisName(scan.axis) << " axis, lies outside the scan ("
                    << degrees(scan.angle.front()) << " to " << degrees(scan.angle.back()) << ")";
                scanio::fail(scan.source, 0, msg.str());
            }
            curve.zeroReason = "the substrate's Bragg angle, " + degrees(curve.zero) + unit;
            break;
        }
        case ZeroChoice::Kind::SubstratePeak: {
            const std::vector<std::size_t> peaks = findPeaks(scan.counts);
            std::size_t chosen = peaks.front();
            if (bragg && scan.axis != ScanAxis::OmegaOffset) {
                const double target = braggOnAxis(scan, *bragg);
                for (std::size_t p : peaks)
                    if (std::fabs(scan.angle[p] - target) < std::fabs(scan.angle[chosen] - target))
                        chosen = p;
                std::ostringstream why;
                why << "the peak nearest the substrate's Bragg angle (" << degrees(target) << unit
                    << "), " << (chosen == peaks.front() ? "the strongest" : "not the strongest")
                    << " of " << peaks.size() << " peak" << (peaks.size() == 1 ? "" : "s");
                curve.zeroReason = why.str();
            } else {
                curve.zeroReason = "the strongest peak (" + std::to_string(peaks.size()) + " peak" +
                                   (peaks.size() == 1 ? "" : "s") + " found)";
            }
            curve.zero = scan.angle[chosen];
            curve.zeroReason += ", at " + degrees(curve.zero) + unit;
            break;
        }
    }
    if (!(std::fabs(curve.zero) <= kMaxScanAngle))
        scanio::fail(scan.source, 0,
                     "the zero " + degrees(curve.zero) + unit + " lies beyond any angle of a scan");
    const double scale = arcsecPerUnit(scan);
    curve.offset.reserve(scan.angle.size());
    for (std::size_t i = 0; i < scan.angle.size(); ++i) {
        curve.offset.push_back((scan.angle[i] - curve.zero) * scale);
        if (i > 0 && !(curve.offset[i] > curve.offset[i - 1]))
            scanio::fail(scan.source, 0,
                         "the angles " + degrees(scan.angle[i - 1]) + " and " +
                             degrees(scan.angle[i]) +
                             " are too close to tell apart as offsets from the zero");
    }
    curve.counts = scan.counts;
    return curve;
}

std::string twoColumnText(const RockingCurve& curve) {
    std::string text;
    char line[64];
    for (std::size_t i = 0; i < curve.offset.size(); ++i) {
        std::snprintf(line, sizeof line, "%.10g %.10g\n", curve.offset[i], curve.counts[i]);
        text += line;
    }
    return text;
}

std::optional<std::string> instrumentScanAsTwoColumns(const std::string& path, int scanNumber,
                                                      const SubstrateBragg& bragg,
                                                      std::string* summary) {
    if (scanFormatOfFile(path) == ScanFormat::PlainText) return std::nullopt;
    ScanReadOptions options;
    options.scanNumber = scanNumber;
    const Scan scan = readScan(path, options);
    const RockingCurve curve = toRockingCurve(scan, ZeroChoice{}, bragg);
    if (summary != nullptr)
        *summary = scan.format + ", scan " + std::to_string(scan.scanNumber) + " of " +
                   std::to_string(scan.scanCount) + ", " + std::to_string(scan.angle.size()) +
                   " points; zero at " + curve.zeroReason;
    return twoColumnText(curve);
}

}  // namespace kelvarin
