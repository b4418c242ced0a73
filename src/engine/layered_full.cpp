// The angle-dependent part of the full calculation: each slab's exact deviation from the Bragg
// law, its own direction cosines at the incidence angle, refraction and the polarisation factor
// (see FullSlabConstants for the formulas).
#include <cmath>

#include "engine/layered.hpp"

namespace kelvarin {

namespace {

/// Below this a polarisation factor counts as 0 (π at 2θB = 90°): the reflection is then
/// narrower than any scan step, and a finite value keeps the arithmetic finite.
constexpr double kSmallestPolarisation = 1e-12;

/// x, T and q = 1/√(γ0·G) of slab `f` at incidence ω (γ0 = sin ω) with polarisation factor C.
/// Returns false where the diffracted beam would run into the crystal (G ≤ 0).
inline bool slabAt(const FullSlabConstants& f, double cosOmega, double sinOmega, double C,
                   Complex& x, Complex& T, double& q) {
    const double gamma0 = sinOmega;
    const double G = f.hz - sinOmega;  // −γh
    if (!(G > 0)) return false;
    const double alpha = f.hh + 2 * (f.hx * cosOmega - f.hz * sinOmega);
    q = 1 / std::sqrt(gamma0 * G);
    const double scale = q * f.inverseScale / C;
    const double eta = (-gamma0 * alpha + (G + gamma0) * f.chi0r) * scale;
    const double g = (G + gamma0) * f.chi0i * scale;
    x = reducedDeviation(eta, g, f.kappa);
    const double A = f.thicknessScale * C * q;
    T = Complex(A, A * f.kappa);
    return true;
}

}  // namespace

Complex fullAmplitude(const LayeredConstants& constants, Theory theory, double cosOmega,
                      double sinOmega, bool pi, bool& outside) {
    const FullSlabConstants* slab = constants.full.data();
    const auto factor = [pi](const FullSlabConstants& f) {
        return pi ? std::fmax(f.cosTwoTheta, kSmallestPolarisation) : 1.0;
    };
    Complex x, T;
    double q = 0;
    if (!(sinOmega > 0) || !slabAt(slab[0], cosOmega, sinOmega, factor(slab[0]), x, T, q)) {
        outside = true;
        return Complex(0.0, 0.0);
    }
    Complex X = substrateAmplitude(x);
    if (theory != kTheoryDynamical && theory != kTheoryKinematical) return X;
    for (int i = 1; i <= constants.layerCount; ++i) {
        const FullSlabConstants& f = slab[i];
        if (f.thicknessScale == 0) continue;
        const double qBelow = q;
        if (!slabAt(f, cosOmega, sinOmega, factor(f), x, T, q)) {
            outside = true;
            return Complex(0.0, 0.0);
        }
        // The ratio Dh/D0 of the wave amplitudes is continuous across the interface; the reduced
        // X is that ratio times √|γh/γ0| of its slab, i.e. proportional to 1/q.
        X *= qBelow / q;
        X = theory == kTheoryDynamical ? dynamicalStep(X, x, T) : kinematicalStep(X, x, T);
    }
    return X;
}

}  // namespace kelvarin
