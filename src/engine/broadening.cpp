#include "engine/broadening.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/engine_error.hpp"

namespace kelvarin {

void buildKernel(Extended w, int scanStep, InstrumentKernel& kernel) {
    if (!(w > 0) || !std::isfinite(w)) {
        throw CandidateRejected(
            "The instrument width w must be a positive number of seconds of arc "
            "(it is " +
            engineNumber(w) + ").");
    }
    const Extended amplitude = 1.5642656765496601L / w;  // close to 4·ln2/√π / w
    const Extended w2 = w * w;
    for (int j = 0; j < kKernelSize; ++j) {
        // The offset squared in extended precision: exact for any int step, no 32-bit overflow.
        const Extended x =
            static_cast<Extended>(static_cast<long long>(j - kKernelCentre) * scanStep);
        kernel[j] = amplitude * std::exp(-2.772588722239781L * (x * x) / w2);
    }
}

void broaden(const InstrumentKernel& kernel, std::span<const Extended> calcRaw, int computed,
             std::span<Extended> calcCurve, int measLast) {
    const long long rawEnd =
        std::min<long long>(std::max(computed, 0), static_cast<long long>(calcRaw.size()));
    const long long last =
        std::min<long long>(measLast, static_cast<long long>(calcCurve.size()) - 1);
    // Point i sums kernel[j]·calcRaw[i + centre − j] over j in ascending order; points before
    // index 1 are left out and points never computed count as zero, which bounds j to
    // lo(i) .. hi(i).
    const auto lo = [&](long long i) {
        return static_cast<int>(std::max<long long>(0, i + kKernelCentre - rawEnd + 1));
    };
    const auto hi = [&](long long i) {
        return static_cast<int>(std::min<long long>(kKernelSize - 1, i + kKernelCentre - 1));
    };
    const auto single = [&](long long i) {
        Extended sum = 0;
        const int end = hi(i);
        for (int j = lo(i); j <= end; ++j)
            sum += kernel[j] * calcRaw[i + kKernelCentre - j];
        calcCurve[i] = sum;
    };
    // Where the whole kernel lies on computed points, two neighbouring points are summed
    // together: two independent chains of additions instead of one, each in the same order
    // (more chains no longer fit the eight registers of the extended-precision unit).
    const long long interiorFirst = kKernelSize - kKernelCentre;
    const long long interiorLast = rawEnd - kKernelCentre - 1;
    long long i = 1;
    for (; i <= last && i < interiorFirst; ++i)
        single(i);
    for (; i + 1 <= last && i + 1 <= interiorLast; i += 2) {
        Extended s0 = 0, s1 = 0;
        const Extended* raw = calcRaw.data() + i + kKernelCentre;
        for (int j = 0; j < kKernelSize; ++j) {
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

NormaliseResult normalise(int mode, std::span<Extended> curve, std::span<const Extended> meas,
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
    buildKernel(w, state.curveStore.scanStep, state.instrumentKernel);
}

void broaden(EngineState& state) {
    CurveStore& cs = state.curveStore;
    broaden(state.instrumentKernel, cs.calcRaw, std::max(cs.calcCount, cs.calcComputed),
            cs.calcCurve, cs.measLast);
}

NormaliseResult normalise(EngineState& state, int mode) {
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
