// Gaussian instrument broadening, scaling of the computed curve onto the measured one and the
// logarithmic error between them.
#pragma once

#include <cmath>
#include <span>
#include <vector>

#include "engine/state.hpp"

namespace kelvarin {

struct ComputedCurve;

/// Fills `kernel` with K_j = (1.5642656765496601/w)·exp(−4 ln2·x_j²/w²), x_j = (j − centre)·step
/// seconds of arc (not normalised). The kernel reaches to where the Gaussian has fallen to 1e-6 of
/// its peak (kKernelReachInWidths·w), never less than −20..+21 steps and never further than
/// `scanPoints` steps: no point of a scan that long lies further away. Throws CandidateRejected
/// for w ≤ 0 or non-finite, EngineError for a step ≤ 0 or non-finite.
void buildKernel(Extended w, Extended step, int scanPoints, InstrumentKernel& kernel);

/// Half-width of the kernel in instrument widths: exp(−4 ln2·x²) = 1e-6 at x = 2.2322…
inline constexpr Extended kKernelReachInWidths = 2.2322392663715607L;

/// calcCurve[i] = Σ_j K_j·calcRaw[i + centre − j] for i = 0..measLast, entries at or beyond
/// `computed` (points actually calculated) and before index 0 counted as zero. The entries above
/// measLast keep their values.
void broaden(const InstrumentKernel& kernel, std::span<const Extended> calcRaw, int computed,
             std::span<Extended> calcCurve, int measLast);

/// The same, summed term by term only up to `directTerms` multiplications and through the
/// Fourier transform beyond (double precision, about 1e-15 of the largest value): wide kernels,
/// such as a Lorentzian's long tails, stay fast.
void broaden(const InstrumentKernel& kernel, std::span<const Extended> calcRaw, int computed,
             std::span<Extended> calcCurve, int measLast, long long directTerms);

/// Multiplications up to which a wide kernel is still summed term by term.
inline constexpr long long kWideDirectTerms = 1LL << 15;

/// The instrument broadening of a curve that has no measured counterpart: curve[i] is the
/// kernel-weighted mean of raw over the points of the scan, so the result stays a reflectivity
/// (the weights of the points that exist add up to one). raw and curve have the same length.
void broadenReflectivity(const InstrumentKernel& kernel, std::span<const Extended> raw,
                         std::span<Extended> curve);
/// The same, through the Fourier transform beyond `directTerms` multiplications.
void broadenReflectivity(const InstrumentKernel& kernel, std::span<const Extended> raw,
                         std::span<Extended> curve, long long directTerms);

/// Outcome of a scaling.
struct NormaliseResult {
    bool applied = false;  ///< false for a mode outside 0..2 (curve left unchanged)
    Extended scaleFactor = 0;
    Extended background = 0;  ///< the background used (mode 2: the fitted one)
    Extended top = 0;         ///< mode 0: the largest computed value before scaling
};

/// Scales curve[0..n−1] in place onto meas[0..n−1] with mode 0 (match top intensities against
/// measMax), 1 (least squares, fixed background) or 2 (least squares of scale and background).
/// Throws EngineError when n = 0 (empty scan), CandidateRejected when the computed curve is zero
/// everywhere (modes 0, 1) or constant (mode 2) or a result would not be finite; the curve is
/// then unchanged.
NormaliseResult normalise(Scaling mode, std::span<Extended> curve, std::span<const Extended> meas,
                          Extended measMax, Extended background);

/// Outcome of the error computation.
struct ErrorResult {
    Extended error = 0;  ///< 100·|ratio|, percent
    Extended ratio = 0;  ///< Σ|log10 m − log10 c| / Σ log10 m
    int pointsUsed = 0;  ///< points with a positive measured intensity
};

/// Logarithmic error of calc[0..n−1] against meas[0..n−1]. Points whose measured intensity is
/// ≤ 0 carry no logarithm and are left out of both sums. Throws CandidateRejected (naming the
/// point) for a computed intensity ≤ 0 where the measured one is positive; EngineError when no
/// measured point is left or Σ log10 m is 0 (all measured intensities 1).
ErrorResult logError(std::span<const Extended> calc, std::span<const Extended> meas);

/// The logarithms of a measured curve, kept between evaluations against the same curve: an
/// entry is recomputed only when its measured value has changed.
class MeasuredLogs {
public:
    /// log10(meas[i]) for meas[i] > 0.
    Extended at(std::size_t i, Extended m) {
        if (i >= values_.size()) {
            values_.resize(i + 1, 0);
            logs_.resize(i + 1, 0);
        }
        if (!(values_[i] == m)) {
            values_[i] = m;
            logs_[i] = std::log10(m);
        }
        return logs_[i];
    }

private:
    std::vector<Extended> values_;  // 0 (never a positive measurement) until first use
    std::vector<Extended> logs_;
};

/// The same, with the measured logarithms taken from (and kept in) `logs`.
ErrorResult logError(std::span<const Extended> calc, std::span<const Extended> meas,
                     MeasuredLogs& logs);

// The same steps on the program-wide curve (the Start run).

/// buildKernel with state.curveStore.scanStep into state.instrumentKernel, cut at the computed or
/// measured points, whichever reach further.
void buildKernel(EngineState& state, Extended w);
/// broaden of state.curveStore with state.instrumentKernel.
void broaden(EngineState& state);
/// normalise of state.curveStore with state.background and measMax; stores scaleFactor and
/// (mode 2) background. The caller shows `top` where mode 0 wants it.
NormaliseResult normalise(EngineState& state, Scaling mode);
/// logError of state.curveStore; stores errorRatio and returns the error.
Extended logError(EngineState& state);

}  // namespace kelvarin
