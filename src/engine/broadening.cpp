#include "engine/broadening.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>

#include "engine/engine_error.hpp"

namespace kelvarin {

void buildKernel(Extended w, Extended step, int scanPoints, InstrumentKernel& kernel) {
    if (!(w > 0) || !std::isfinite(w)) {
        throw CandidateRejected(
            "The instrument width w must be a positive number of seconds of arc "
            "(it is " +
            engineNumber(w) + ").");
    }
    if (!(step > 0) || !std::isfinite(step)) {
        throw EngineError("The scan step must be a positive number of seconds of arc (it is " +
                          engineNumber(step) + ").");
    }
    // Steps to where the Gaussian has fallen to 1e-6, bounded by the scan before any rounding
    // to int (a huge w over a tiny step must not overflow).
    const Extended needed = std::ceil(kKernelReachInWidths * w / step);
    const Extended limit = std::max(kKernelMinCentre, scanPoints);
    const int centre = std::max(kKernelMinCentre, static_cast<int>(std::min(needed, limit)));
    kernel.centre = centre;
    kernel.weights.resize(static_cast<std::size_t>(2 * centre + 2));
    const Extended amplitude = 1.5642656765496601L / w;  // close to 4·ln2/√π / w
    const Extended w2 = w * w;
    for (int j = 0; j < kernel.size(); ++j) {
        // Whole-second steps give an exact offset in extended precision, and no 32-bit overflow.
        const Extended x = static_cast<Extended>(j - centre) * step;
        kernel[j] = amplitude * std::exp(-2.772588722239781L * (x * x) / w2);
    }
}

namespace {

/// Above this many multiplications a convolution goes through the Fourier transform.
constexpr long long kDirectTerms = 1LL << 27;

/// Kernel terms j = lo(i) .. hi(i) of output point i meet raw points 0 .. rawEnd − 1.
struct KernelWindow {
    long long centre;
    long long size;
    long long rawEnd;
    int lo(long long i) const { return static_cast<int>(std::max(0LL, i + centre - rawEnd + 1)); }
    int hi(long long i) const { return static_cast<int>(std::min(size - 1, i + centre)); }
    bool direct(long long points, long long limit = kDirectTerms) const {
        return points * std::min(size, std::max(rawEnd, 1LL)) <= limit;
    }
};

using Spectrum = std::vector<std::complex<double>>;

/// In-place radix-2 transform (exp(−2πi·jk/N)) of a power-of-two length; `twiddle` holds
/// exp(−2πi·j/N) for j < N/2.
void fourier(Spectrum& a, const Spectrum& twiddle) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t half = len / 2;
        const std::size_t stride = n / len;
        for (std::size_t start = 0; start < n; start += len) {
            for (std::size_t k = 0; k < half; ++k) {
                const std::complex<double> t = twiddle[k * stride] * a[start + k + half];
                a[start + k + half] = a[start + k] - t;
                a[start + k] += t;
            }
        }
    }
}

/// out[i] = Σ_j K_j·raw[i + centre − j] for every i of `out`, raw zero beyond its end: the linear
/// convolution of raw and K by one complex transform of both (raw as the real, K as the imaginary
/// part) in double precision, for kernels and scans too long to sum term by term. Agrees with
/// the sum to about 1e-15 of the largest output value.
/// `shortest`: the transform only as long as the outputs need (no wrapped-around term reaches
/// them), about half the length of the full linear convolution for a kernel as wide as the scan.
void convolveByFourier(const InstrumentKernel& kernel, std::span<const Extended> raw,
                       std::span<Extended> out, bool shortest = false) {
    thread_local Spectrum a;
    thread_local Spectrum twiddle;
    const std::size_t m = kernel.weights.size();
    const auto centre = static_cast<std::size_t>(kernel.centre);
    // Products t + j of raw point t and kernel term j run up to raw + m − 2; the outputs read
    // centre .. centre + out − 1, which a product wrapped by the length n must not reach.
    const std::size_t needed =
        shortest ? std::max(raw.size() + m - 1 - std::min(centre, raw.size() + m - 1),
                            centre + out.size())
                 : raw.size() + m;
    std::size_t n = 2;
    while (n < needed)
        n <<= 1;
    a.assign(n, 0.0);
    for (std::size_t t = 0; t < raw.size(); ++t)
        a[t].real(static_cast<double>(raw[t]));
    for (std::size_t t = 0; t < m; ++t)
        a[t].imag(static_cast<double>(kernel.weights[t]));
    // The factors depend on the length only: a fit that broadens curves of one length again and
    // again computes them once.
    if (twiddle.size() != n / 2) {
        twiddle.resize(n / 2);
        const double turn = -2 * std::numbers::pi / static_cast<double>(n);
        for (std::size_t j = 0; j < n / 2; ++j)
            twiddle[j] = std::polar(1.0, turn * static_cast<double>(j));
    }
    fourier(a, twiddle);
    // Spectra of the two real sequences from the one transform, multiplied pairwise in place;
    // the product is conjugated for the inverse transform by the forward one.
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const std::size_t mk = (n - k) % n;
        const std::complex<double> zk = a[k];
        const std::complex<double> zm = a[mk];
        const auto product = [](std::complex<double> p, std::complex<double> q) {
            const std::complex<double> x = (p + std::conj(q)) * 0.5;
            const std::complex<double> y = (p - std::conj(q)) * std::complex<double>(0, -0.5);
            return std::conj(x * y);
        };
        a[k] = product(zk, zm);
        a[mk] = product(zm, zk);
    }
    fourier(a, twiddle);
    const double scale = 1 / static_cast<double>(n);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t t = i + centre;
        out[i] = t < raw.size() + m - 1 ? static_cast<Extended>(a[t].real() * scale) : 0;
    }
}

}  // namespace

void broaden(const InstrumentKernel& kernel, std::span<const Extended> calcRaw, int computed,
             std::span<Extended> calcCurve, int measLast) {
    broaden(kernel, calcRaw, computed, calcCurve, measLast, kDirectTerms);
}

void broaden(const InstrumentKernel& kernel, std::span<const Extended> calcRaw, int computed,
             std::span<Extended> calcCurve, int measLast, long long directTerms) {
    const long long rawEnd =
        std::min<long long>(std::max(computed, 0), static_cast<long long>(calcRaw.size()));
    const long long last =
        std::min<long long>(measLast, static_cast<long long>(calcCurve.size()) - 1);
    if (last < 0) return;
    const KernelWindow window{kernel.centre, kernel.size(), rawEnd};
    if (!window.direct(last + 1, directTerms)) {
        convolveByFourier(kernel, calcRaw.first(static_cast<std::size_t>(rawEnd)),
                          calcCurve.first(static_cast<std::size_t>(last + 1)),
                          directTerms < kDirectTerms);
        return;
    }
    // Point i sums kernel[j]·calcRaw[i + centre − j] over j in ascending order; points never
    // computed count as zero, which bounds j to lo(i) .. hi(i).
    const long long centre = kernel.centre;
    const auto single = [&](long long i) {
        Extended sum = 0;
        const int end = window.hi(i);
        for (int j = window.lo(i); j <= end; ++j)
            sum += kernel[j] * calcRaw[i + centre - j];
        calcCurve[i] = sum;
    };
    // Where the whole kernel lies on computed points, two neighbouring points are summed
    // together: two independent chains of additions instead of one, each in the same order
    // (more chains no longer fit the eight registers of the extended-precision unit).
    const int size = kernel.size();
    const long long interiorFirst = size - 1 - centre;
    const long long interiorLast = rawEnd - centre - 1;
    long long i = 0;
    for (; i <= last && i < interiorFirst; ++i)
        single(i);
    for (; i + 1 <= last && i + 1 <= interiorLast; i += 2) {
        Extended s0 = 0, s1 = 0;
        const Extended* raw = calcRaw.data() + i + centre;
        for (int j = 0; j < size; ++j) {
            const Extended k = kernel[j];
            s0 += k * raw[-j];
            s1 += k * raw[1 - j];
        }
        calcCurve[i] = s0;
        calcCurve[i + 1] = s1;
    }
    for (; i <= last; ++i)
        single(i);
}

void broadenReflectivity(const InstrumentKernel& kernel, std::span<const Extended> raw,
                         std::span<Extended> curve) {
    broadenReflectivity(kernel, raw, curve, kDirectTerms);
}

void broadenReflectivity(const InstrumentKernel& kernel, std::span<const Extended> raw,
                         std::span<Extended> curve, long long directTerms) {
    const long long n = static_cast<long long>(std::min(raw.size(), curve.size()));
    const KernelWindow window{kernel.centre, kernel.size(), n};
    if (window.direct(n, directTerms)) {
        for (long long i = 0; i < n; ++i) {
            Extended sum = 0;
            Extended weight = 0;
            const int end = window.hi(i);
            for (int j = window.lo(i); j <= end; ++j) {
                sum += kernel[j] * raw[static_cast<std::size_t>(i + window.centre - j)];
                weight += kernel[j];
            }
            curve[static_cast<std::size_t>(i)] = weight > 0 ? sum / weight : 0;
        }
        return;
    }
    // The weights of the points inside the scan from running sums of the kernel.
    thread_local std::vector<Extended> running;
    running.assign(kernel.weights.size() + 1, 0);
    for (int j = 0; j < kernel.size(); ++j)
        running[static_cast<std::size_t>(j) + 1] = running[static_cast<std::size_t>(j)] + kernel[j];
    convolveByFourier(kernel, raw.first(static_cast<std::size_t>(n)),
                      curve.first(static_cast<std::size_t>(n)), directTerms < kDirectTerms);
    for (long long i = 0; i < n; ++i) {
        const Extended weight = running[static_cast<std::size_t>(window.hi(i)) + 1] -
                                running[static_cast<std::size_t>(window.lo(i))];
        Extended& value = curve[static_cast<std::size_t>(i)];
        value = weight > 0 ? std::max<Extended>(value / weight, 0) : 0;
    }
}

NormaliseResult normalise(Scaling mode, std::span<Extended> curve, std::span<const Extended> meas,
                          Extended measMax, Extended background) {
    NormaliseResult result;
    result.background = background;
    if (mode < kNormTopIntensities || mode > kNormFitBackground) return result;
    const std::size_t n = std::min(curve.size(), meas.size());
    if (n == 0) {
        throw EngineError("There is no computed point to scale: the scan is empty.");
    }
    Extended scale = 0;
    if (mode == kNormTopIntensities) {
        Extended top = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (curve[i] > top) top = curve[i];
        }
        if (!(top > 0)) {
            throw CandidateRejected(
                "The computed curve is zero everywhere: it cannot be matched to the "
                "top measured intensity.");
        }
        result.top = top;
        scale = (measMax - background) / top;
    } else {
        Extended sc = 0;
        Extended scc = 0;
        Extended scm = 0;
        Extended sm = 0;
        for (std::size_t i = 0; i < n; ++i) {
            sc += curve[i];
            scc += curve[i] * curve[i];
            scm += curve[i] * meas[i];
            sm += meas[i];
        }
        if (!(scc > 0)) {
            throw CandidateRejected(
                "The computed curve is zero everywhere: no scale factor can be "
                "fitted.");
        }
        if (mode == kNormFixedBackground) {
            scale = (scm - sc * background) / scc;
        } else {
            const Extended count = static_cast<Extended>(n);
            const Extended d = count * scc - sc * sc;
            // d ≥ 0 by Cauchy–Schwarz and vanishes (to rounding) for a constant curve.
            if (!(d > count * scc * 1e-15L)) {
                throw CandidateRejected(
                    "The computed curve is constant: scale factor and background "
                    "cannot both be fitted to it.");
            }
            scale = (count * scm - sc * sm) / d;
            result.background = (scc * sm - sc * scm) / d;
        }
    }
    if (!std::isfinite(scale) || !std::isfinite(result.background)) {
        throw CandidateRejected("The scaling of the computed curve gives no finite scale factor.");
    }
    result.scaleFactor = scale;
    result.applied = true;
    for (std::size_t i = 0; i < n; ++i)
        curve[i] = result.background + scale * curve[i];
    return result;
}

namespace {

/// The logarithmic error with the measured logarithms from `measLog(i, m)`.
template <class MeasLog>
ErrorResult logErrorWith(std::span<const Extended> calc, std::span<const Extended> meas,
                         MeasLog&& measLog) {
    const std::size_t n = std::min(calc.size(), meas.size());
    Extended sumDiff = 0;
    Extended sumLog = 0;
    ErrorResult result;
    for (std::size_t i = 0; i < n; ++i) {
        const Extended m = meas[i];
        // A measured point without counts has no logarithm and tells nothing on this scale.
        if (!(m > 0)) continue;
        const Extended c = calc[i];
        if (!(c > 0) || !std::isfinite(c)) {
            throw CandidateRejected("The scaled computed intensity at point " + std::to_string(i) +
                                    " is " + engineNumber(c) +
                                    ", not positive: the logarithmic error is undefined for this "
                                    "curve.");
        }
        const Extended logM = measLog(i, m);
        sumDiff += std::fabs(logM - std::log10(c));
        sumLog += logM;
        ++result.pointsUsed;
    }
    if (result.pointsUsed == 0) {
        throw EngineError(
            "No measured intensity above 0 lies under the computed curve: the "
            "logarithmic error is undefined.");
    }
    if (sumLog == 0) {
        throw EngineError(
            "The logarithms of the measured intensities add up to 0 (all "
            "intensities 1?): the logarithmic error is undefined.");
    }
    result.ratio = sumDiff / sumLog;
    result.error = 100 * std::fabs(result.ratio);
    if (!std::isfinite(result.error)) {
        throw CandidateRejected("The logarithmic error is not a finite number.");
    }
    return result;
}

}  // namespace

ErrorResult logError(std::span<const Extended> calc, std::span<const Extended> meas) {
    return logErrorWith(calc, meas, [](std::size_t, Extended m) { return std::log10(m); });
}

ErrorResult logError(std::span<const Extended> calc, std::span<const Extended> meas,
                     MeasuredLogs& logs) {
    return logErrorWith(calc, meas, [&logs](std::size_t i, Extended m) { return logs.at(i, m); });
}

namespace {

int scoredPoints(const CurveStore& cs) {
    return std::clamp(cs.calcCount, 0, kCurveCapacity);
}

}  // namespace

void buildKernel(EngineState& state, Extended w) {
    const CurveStore& cs = state.curveStore;
    const int points = std::max({cs.calcCount, cs.calcComputed, cs.measLast + 1});
    buildKernel(w, cs.scanStep, points, state.instrumentKernel);
}

void broaden(EngineState& state) {
    CurveStore& cs = state.curveStore;
    broaden(state.instrumentKernel, cs.calcRaw, std::max(cs.calcCount, cs.calcComputed),
            cs.calcCurve, cs.measLast);
}

NormaliseResult normalise(EngineState& state, Scaling mode) {
    CurveStore& cs = state.curveStore;
    const auto n = static_cast<std::size_t>(scoredPoints(cs));
    const NormaliseResult result = normalise(mode, std::span<Extended>(cs.calcCurve).first(n),
                                             std::span<const Extended>(cs.measIntensity).first(n),
                                             cs.measMax, state.background);
    if (result.applied) {
        state.scaleFactor = result.scaleFactor;
        state.background = result.background;
    }
    return result;
}

Extended logError(EngineState& state) {
    CurveStore& cs = state.curveStore;
    const auto n = static_cast<std::size_t>(scoredPoints(cs));
    const ErrorResult result = logError(std::span<const Extended>(cs.calcCurve).first(n),
                                        std::span<const Extended>(cs.measIntensity).first(n));
    state.errorRatio = result.ratio;
    return result.error;
}

}  // namespace kelvarin
