#include "engine/instrument_function.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/broadening.hpp"
#include "engine/engine_error.hpp"
#include "engine/io/rocking_curve.hpp"
#include "engine/io/scan.hpp"
#include "engine/numio.hpp"

namespace kelvarin {

const char* instrumentShapeName(InstrumentShape shape) {
    switch (shape) {
        case InstrumentShape::PseudoVoigt:
            return "pseudo-voigt";
        case InstrumentShape::Measured:
            return "measured";
        case InstrumentShape::Gaussian:
            break;
    }
    return "gaussian";
}

double ResolutionCurve::at(double x) const {
    if (offset.empty() || !(x >= offset.front()) || !(x <= offset.back())) return 0;
    const auto upper = std::upper_bound(offset.begin(), offset.end(), x);
    if (upper == offset.end()) return density.back();
    const auto i = static_cast<std::size_t>(upper - offset.begin());
    const double t = (x - offset[i - 1]) / (offset[i] - offset[i - 1]);
    return density[i - 1] + t * (density[i] - density[i - 1]);
}

ResolutionCurve makeResolutionCurve(std::vector<double> offset, std::vector<double> intensity,
                                    const std::string& source) {
    const auto fail = [&source](const std::string& what) {
        throw DataFileError("resolution curve '" + source + "': " + what);
    };
    if (offset.size() != intensity.size()) fail("the offsets and intensities differ in number");
    if (offset.size() < 3) fail("it needs at least three points");
    std::size_t peak = 0;
    for (std::size_t i = 0; i < offset.size(); ++i) {
        if (!std::isfinite(offset[i]) || (i > 0 && !(offset[i] > offset[i - 1])))
            fail("the offsets must be finite and increase (point " + std::to_string(i + 1) + ")");
        if (!std::isfinite(intensity[i]) || intensity[i] < 0)
            fail("the intensity of point " + std::to_string(i + 1) +
                 " is not a finite number of 0 or more");
        if (intensity[i] > intensity[peak]) peak = i;
    }
    if (!(intensity[peak] > 0)) fail("no intensity lies above 0");
    // Centred on the highest point, as the rocking curve's own zero is its substrate peak.
    const double centre = offset[peak];
    double area = 0;
    for (std::size_t i = 0; i < offset.size(); ++i) {
        offset[i] -= centre;
        if (i > 0) area += 0.5 * (intensity[i] + intensity[i - 1]) * (offset[i] - offset[i - 1]);
    }
    if (!(area > 0) || !std::isfinite(area)) fail("its area is not a positive finite number");
    for (double& v : intensity)
        v /= area;
    return ResolutionCurve{source, std::move(offset), std::move(intensity)};
}

ResolutionCurve readResolutionCurve(const std::string& path) {
    // Plain text is offsets in seconds of arc; an instrument scan is turned into offsets from its
    // strongest peak, as the measured curves are.
    Scan scan;
    try {
        scan = readScan(path);
    } catch (const DataFileError& e) {
        throw DataFileError(std::string("resolution curve: ") + e.what());
    }
    std::vector<double> offset = scan.angle;
    if (scan.axis != ScanAxis::OmegaOffset || scan.unit != AngleUnit::ArcSeconds)
        offset = toRockingCurve(scan, ZeroChoice{}, std::nullopt).offset;
    return makeResolutionCurve(std::move(offset), scan.counts, path);
}

Extended lorentzianReach(Extended width, Extended eta) {
    if (!(eta > 0)) return 0;
    // η·(2/π)·atan(γ/X) = tail weight, γ = w/2.
    const Extended angle = std::numbers::pi_v<Extended> * kOmittedTailWeight / (2 * eta);
    if (angle >= std::numbers::pi_v<Extended> / 2) return 0;
    return width / 2 / std::tan(angle);
}

namespace {

void checkValues(const InstrumentFunction& f, const InstrumentValues& v) {
    if (f.shape != InstrumentShape::Measured && (!(v.width > 0) || !std::isfinite(v.width)))
        throw CandidateRejected(
            "The instrument width must be a positive number of seconds of arc (it is " +
            engineNumber(v.width) + ").");
    if (f.shape == InstrumentShape::PseudoVoigt &&
        !(v.lorentzFraction >= 0 && v.lorentzFraction <= 1))
        throw CandidateRejected(
            "The Lorentzian fraction of the instrument function must lie in "
            "[0, 1] (it is " +
            engineNumber(v.lorentzFraction) + ").");
    if (f.shape == InstrumentShape::Measured && !f.resolution)
        throw EngineError("The measured instrument function has no resolution curve.");
}

/// Normalised pseudo-Voigt density of full width w at offset x.
Extended pseudoVoigt(Extended w, Extended eta, Extended x) {
    constexpr Extended fourLn2 = 2.772588722239781L;
    const Extended gauss = std::sqrt(fourLn2 / std::numbers::pi_v<Extended>) / w *
                           std::exp(-fourLn2 * (x * x) / (w * w));
    const Extended gamma = w / 2;
    const Extended lorentz = gamma / (std::numbers::pi_v<Extended> * (x * x + gamma * gamma));
    return (1 - eta) * gauss + eta * lorentz;
}

/// Offsets beyond which `f` counts for nothing.
Extended reachOf(const InstrumentFunction& f, const InstrumentValues& v) {
    switch (f.shape) {
        case InstrumentShape::Measured:
            return std::max(-f.resolution->offset.front(), f.resolution->offset.back());
        case InstrumentShape::PseudoVoigt:
            return std::max(kKernelReachInWidths * v.width,
                            lorentzianReach(v.width, v.lorentzFraction));
        case InstrumentShape::Gaussian:
            break;
    }
    return kKernelReachInWidths * v.width;
}

}  // namespace

Extended instrumentDensity(const InstrumentFunction& f, const InstrumentValues& v, Extended x) {
    switch (f.shape) {
        case InstrumentShape::Measured:
            return f.resolution->at(static_cast<double>(x));
        case InstrumentShape::PseudoVoigt:
            return pseudoVoigt(v.width, v.lorentzFraction, x);
        case InstrumentShape::Gaussian:
            break;
    }
    return pseudoVoigt(v.width, 0, x);
}

void buildInstrumentKernel(const InstrumentFunction& f, const InstrumentValues& v, Extended step,
                           int scanPoints, InstrumentKernel& kernel) {
    checkValues(f, v);
    if (f.shape == InstrumentShape::Gaussian) {
        buildKernel(v.width, step, scanPoints, kernel);
        return;
    }
    if (!(step > 0) || !std::isfinite(step))
        throw EngineError("The scan step must be a positive number of seconds of arc (it is " +
                          engineNumber(step) + ").");
    const Extended needed = std::ceil(reachOf(f, v) / step);
    const int centre = static_cast<int>(std::clamp<Extended>(needed, 1, std::max(1, scanPoints)));
    kernel.centre = centre;
    kernel.weights.resize(static_cast<std::size_t>(2 * centre + 1));
    if (f.shape == InstrumentShape::PseudoVoigt) {
        // Symmetric: one half computed, in double precision, the Gaussian only where it is
        // not below 1e-30 of its peak (five widths); the Lorentzian alone reaches further.
        const double w = static_cast<double>(v.width);
        const double eta = static_cast<double>(v.lorentzFraction);
        const double h = static_cast<double>(step);
        constexpr double fourLn2 = 2.772588722239781;
        const double gaussPeak = (1 - eta) * std::sqrt(fourLn2 / std::numbers::pi) / w;
        const double gamma = w / 2;
        const double lorentzTop = eta * gamma / std::numbers::pi;
        const double gamma2 = gamma * gamma;
        const int gaussEnd = static_cast<int>(std::min<double>(centre, std::ceil(5 * w / h)));
        for (int j = 0; j <= centre; ++j) {
            const double x = j * h;
            double value = lorentzTop / (x * x + gamma2);
            if (j <= gaussEnd) value += gaussPeak * std::exp(-fourLn2 * (x * x) / (w * w));
            kernel[centre + j] = value;
            kernel[centre - j] = value;
        }
    } else {
        for (int j = 0; j < kernel.size(); ++j)
            kernel[j] = instrumentDensity(f, v, static_cast<Extended>(j - centre) * step);
    }
    Extended sum = 0;
    for (Extended w : kernel.weights)
        sum += w;
    if (!(sum > 0)) {
        const std::string why = "The instrument function has no weight on a grid of " +
                                engineNumber(step) + " seconds of arc.";
        // A measured curve between two grid points fails for every candidate alike.
        if (f.shape == InstrumentShape::Measured) throw EngineError(why);
        throw CandidateRejected(why);
    }
    for (Extended& w : kernel.weights)
        w /= sum;
}

void broadenAtAngles(const InstrumentFunction& f, const InstrumentValues& v,
                     std::span<const Extended> angles, std::span<const Extended> raw,
                     std::span<Extended> curve) {
    checkValues(f, v);
    const std::size_t n = std::min({angles.size(), raw.size(), curve.size()});
    if (n < 2) {
        std::copy_n(raw.begin(), n, curve.begin());
        return;
    }
    // The finest measured step, or as fine as kMaxFineGridPoints allow over the scan.
    Extended step = angles[n - 1] - angles[0];
    for (std::size_t i = 1; i < n; ++i)
        step = std::min(step, angles[i] - angles[i - 1]);
    const Extended span = angles[n - 1] - angles[0];
    step = std::max(step, span / (kMaxFineGridPoints - 1));
    const auto points = static_cast<std::size_t>(std::floor(span / step)) + 1;
    thread_local std::vector<Extended> fine;
    thread_local std::vector<Extended> broadened;
    fine.resize(points);
    broadened.resize(points);
    // The raw curve as straight lines between the measured points, on the fine grid.
    std::size_t j = 0;
    for (std::size_t k = 0; k < points; ++k) {
        const Extended x = angles[0] + static_cast<Extended>(k) * step;
        while (j + 2 < n && angles[j + 1] < x)
            ++j;
        const Extended gap = angles[j + 1] - angles[j];
        const Extended t = gap > 0 ? std::clamp<Extended>((x - angles[j]) / gap, 0, 1) : 0;
        fine[k] = raw[j] + t * (raw[j + 1] - raw[j]);
    }
    thread_local InstrumentKernel kernel;
    buildInstrumentKernel(f, v, step, static_cast<int>(points), kernel);
    broadenReflectivity(kernel, fine, broadened, kWideDirectTerms);
    // Back at the measured angles.
    for (std::size_t i = 0; i < n; ++i) {
        const Extended at = (angles[i] - angles[0]) / step;
        const auto k = std::min(static_cast<std::size_t>(std::floor(at)), points - 1);
        const Extended t = k + 1 < points ? at - static_cast<Extended>(k) : 0;
        curve[i] =
            k + 1 < points ? broadened[k] + t * (broadened[k + 1] - broadened[k]) : broadened[k];
    }
}

}  // namespace kelvarin
