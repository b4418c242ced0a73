// Rocking curve of the implanted crystal: the amplitude ratio of the perfect substrate carried up
// through the strained lamellae by the dynamical (Takagi–Taupin) or the kinematical recursion.
#pragma once

#include <algorithm>
#include <vector>

#include "engine/geometry.hpp"
#include "engine/state.hpp"
#include "engine/strain.hpp"

namespace kelvarin {

/// A computed curve: angles (seconds of arc), raw reflectivity, the curve that broadening and
/// scaling rewrite, and its counters (see CurveStore for their meaning).
struct ComputedCurve {
    std::vector<Extended> calcAngle;
    std::vector<Extended> calcRaw;
    std::vector<Extended> calcCurve;
    int calcCount = 0;     ///< points that take part in scaling and error
    int calcComputed = 0;  ///< points written (calcCount + 1 after the layered calculation)
    Extended calcMax = 0;  ///< largest reflectivity of this calculation

    /// Makes the arrays at least `points` long (up to kCurveCapacity); they only grow, so a curve
    /// takes memory in proportion to the longest scan it has held, and a reused one allocates
    /// nothing.
    void ensure(int points) {
        const auto n = static_cast<std::size_t>(std::clamp(points, 0, kCurveCapacity));
        if (calcAngle.size() >= n) return;
        calcAngle.resize(n);
        calcRaw.resize(n);
        calcCurve.resize(n);
    }
};

/// Angle-independent values of one crystal slab (substrate or lamella) at one reflection. The
/// deviation parameter at the incidence offset θ (radians) is
///   Δ = θ + strainShift,  η = Δ·etaRoot·etaSin2Theta / etaDenominator,
///   x = (η + i·g)/(1 + i·κ).
struct SlabConstants {
    Extended strainShift = 0;     ///< ε·(cos²φ·tan θB + cos φ·sin φ), radians
    Extended etaRoot = 0;         ///< sqrt(|γ0·γh|)
    Extended etaSin2Theta = 0;    ///< sin 2θB
    Extended etaDenominator = 0;  ///< Γ·P·|F′|·|γh|
    double g = 0;                 ///< absorption term of x
    double kappa = 0;             ///< |F″|/|F′| (see StructureFactor)
    Complex T{0, 0};              ///< thickness parameter A·(1 + i·κ) (lamellae only)
    Extended Fhr = 0;             ///< real part of Fh (negated in the layered calculation)
    Extended Fhi = 0;             ///< imaginary part of Fh
};

/// x of a slab at incidence offset θ (radians), the same arithmetic as deviationParameter.
inline Complex slabDeviation(const SlabConstants& c, Extended thetaRad) {
    const Extended delta = thetaRad + c.strainShift;
    const Extended eta = delta * c.etaRoot * c.etaSin2Theta / c.etaDenominator;
    return reducedDeviation(static_cast<double>(eta), c.g, c.kappa);
}

/// The substrate and every lamella of one candidate, prepared once per curve.
struct LayeredConstants {
    Extended phi = 0;     ///< asymmetry angle, radians
    Extended gamma0 = 0;  ///< from the substrate Bragg angle, used for every lamella
    Extended gammaH = 0;
    int layerCount = 0;
    std::vector<SlabConstants> slab =
        std::vector<SlabConstants>(kMaxLayers + 1);  ///< 0 = substrate
};

/// Computes the angle-independent values of `stack` (form factors at each s, structure factors
/// negated, κ, g, T, strain shifts) from the set-up in `state`. Throws EngineError for a
/// forbidden reflection or a geometry that makes a value non-finite.
void prepareLayered(const EngineState& state, const LayerStack& stack, LayeredConstants& out);

/// Number of scan points of start, start + step, … ≤ end (0 when end < start). Throws
/// EngineError for a step ≤ 0 or more than kCurveCapacity points.
int scanPointCount(int scanStart, int scanEnd, int scanStep);

/// An equally spaced scan: `points` angles start, start + step, … seconds of arc.
struct ScanGrid {
    double start = 0;
    double step = 1;
    int points = 0;
    double angle(int p) const { return start + static_cast<double>(p) * step; }
};

/// The scan of the program-wide curve store (checked as scanPointCount checks it).
ScanGrid scanGridOf(const CurveStore& cs);

/// How layeredCurve runs its angle loop.
enum class LayeredPath {
    /// One angle at a time, the deviation parameters formed in extended precision: the
    /// straightforward arithmetic every other path is checked against.
    Reference,
    /// Vectors of angles on the widest instruction set of the machine, double precision, with
    /// the angle-independent part of each deviation parameter worked out once per curve. Agrees
    /// with Reference to |ΔR| ≤ 1e-9·R + 1e-13 (the absolute part for the far tails, where
    /// either path's own rounding reaches that size); see layered_simd.hpp.
    Fast,
};

/// The layered rocking curve over the scan of `state` with the theory `state.theoryChoice`,
/// written to `out` from index 0; afterwards out.calcCount is one less than the points computed
/// (never below 0) and out.calcMax is the largest reflectivity of this curve. `constants` must
/// come from prepareLayered for the same candidate. Throws EngineError for a bad scan and
/// CandidateRejected for a non-finite reflectivity. The angle loop allocates nothing.
void layeredCurve(const EngineState& state, const LayeredConstants& constants, ComputedCurve& out,
                  LayeredPath path = LayeredPath::Fast);

/// The same over any equally spaced scan of at most kCurveCapacity points with `theory`.
void layeredCurve(const LayeredConstants& constants, Theory theory, const ScanGrid& grid,
                  ComputedCurve& out, LayeredPath path = LayeredPath::Fast);

/// Convenience: prepareLayered and layeredCurve in one call (allocates the constants).
void layeredCurve(const EngineState& state, const LayerStack& stack, ComputedCurve& out,
                  LayeredPath path = LayeredPath::Fast);

/// Reflectivity at θ seconds of arc by the reference arithmetic: the substrate amplitude carried
/// through the lamellae with `theory`. Throws CandidateRejected when it is not finite.
Extended referenceReflectivity(const LayeredConstants& constants, Theory theory, double theta);

/// Amplitude ratio X after crossing a homogeneous lamella of deviation parameter x and thickness
/// parameter T (Takagi–Taupin solution), evaluated so that a thick lamella cannot overflow.
Complex dynamicalStep(Complex X, Complex x, Complex T);

/// Kinematical counterpart: X·exp(−2i·x·T) + i·exp(−i·x·T)·sin(x·T)/x (the limit X + i·T at
/// x = 0), evaluated so that a thick lamella cannot overflow.
Complex kinematicalStep(Complex X, Complex x, Complex T);

}  // namespace kelvarin
