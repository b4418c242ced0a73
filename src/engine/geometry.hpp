// Reflection geometry, structure factors, the reduced deviation parameter of the dynamical
// theory and the amplitude ratio of a semi-infinite perfect crystal.
#pragma once

#include <complex>

#include "engine/state.hpp"

namespace kelvarin {

using Complex = std::complex<double>;

/// Classical electron radius, Å.
inline constexpr double kElectronRadius = 2.818e-05;
/// π as the physics of this program takes it for Γ and the structure-factor phases.
inline constexpr Extended kPi = 3.14159265358979L;
/// One second of arc is π·kArcsecFactor radians (kArcsecFactor = 1/648000).
inline constexpr Extended kArcsecFactor = 1.543209876543209877e-06L;
/// Polarisation factor (σ polarisation).
inline constexpr Extended kPolarisation = 1;

/// Geometry of one reflection of one crystal (lengths Å, angles radians).
struct ReflectionGeometry {
    Extended d = 0;       ///< interplanar spacing
    Extended V = 0;       ///< cell volume, Å³
    Extended Gamma = 0;   ///< r_e·λ²/(π·V)
    Extended s = 0;       ///< sin θB / λ = 1/(2d), 1/Å
    Extended thetaB = 0;  ///< Bragg angle
    Extended phi = 0;     ///< angle between [hkl] and the surface normal [001]
    Extended gamma0 = 0;  ///< direction cosine of the incident beam, sin(θB − φ)
    Extended gammaH = 0;  ///< direction cosine of the diffracted beam, −sin(θB + φ)
};

/// d, V, Γ, s, θB, φ, γ0, γh of reflection (h k l) of a cell a×b×c at wavelength λ. With a
/// strain ε the lamella form is used: c² becomes (1 + ε)·c² in d and V becomes (1 + ε)·V.
/// Throws EngineError for h = k = l = 0, non-positive lattice constants or wavelength, 1 + ε ≤ 0,
/// a reflection that the wavelength cannot reach (λ ≥ 2d) and one that cannot be measured in
/// reflection from the (001) surface: the incident and the diffracted beam must both lie outside
/// the crystal, γ0·γh < 0. A negative l writes the grazing-exit setting (γ0 < 0 < γh).
ReflectionGeometry reflectionGeometry(Extended a, Extended b, Extended c, Extended h, Extended k,
                                      Extended l, Extended lambda, Extended strain = 0);

/// Parts of the structure factors: F0i = imaginary part of the forward structure factor,
/// Fh = Fhr + i·Fhi of the reflection (electrons per cell), and what the dynamical theory takes
/// from Fh: the scattering strength |F′| and the absorption ratio κ = |F″|/|F′|, where
/// F′ = Σ(f + f′)·e^{ip} is the part without absorption and F″ = Σ f″·e^{ip} the absorbing one.
/// Where every phase p is a whole multiple of π (h + k + l even in the zinc-blende cell) F′ and
/// F″ are real, and |F′| = |Fhr|, κ = |Fhi/Fhr| are taken from them exactly as such; otherwise
/// (h + k + l odd) Fhr and Fhi mix the two and only |F′|, |F″| mean anything.
struct StructureFactor {
    Extended F0i = 0;
    Extended F0r = 0;  ///< real forward structure factor Σ(f(0) + f′), electrons (layered only)
    Extended Fhr = 0;
    Extended Fhi = 0;
    Extended strength = 0;  ///< |F′|, electrons
    Extended kappa = 0;     ///< |F″|/|F′|
};

/// Fh = Σ over both sites and their four atoms of (f + f' + i·f'')·exp(2πi(hx + ky + lz)),
/// F0i = 4·f1'' + 4·f2'', |F′| and κ. No temperature factor.
StructureFactor structureFactor(Extended f1, Extended f2, Extended f1Real, Extended f1Imag,
                                Extended f2Real, Extended f2Imag, const SitePositions& sites,
                                Extended h, Extended k, Extended l);

/// cos and sin of 2π(hx + ky + lz) for each atom of both sites: the same for every lamella of
/// a stack, so the layered calculation computes them once. `realPhases` tells that every phase
/// is a whole multiple of π (its sine zero up to the rounding of the program's π).
struct SitePhases {
    Extended cosine[2][4];
    Extended sine[2][4];
    bool realPhases = true;
};
SitePhases sitePhases(const SitePositions& sites, Extended h, Extended k, Extended l);

/// structureFactor with the phases given.
StructureFactor structureFactor(Extended f1, Extended f2, Extended f1Real, Extended f1Imag,
                                Extended f2Real, Extended f2Imag, const SitePhases& phases);

/// Throws EngineError when |F′| is zero or negligible against the scattering of the eight
/// atoms (a forbidden reflection such as Si 0 0 2 or 0 0 6), which would divide by zero.
void requireAllowedReflection(const StructureFactor& F, Extended f1, Extended f2, Extended f1Real,
                              Extended f2Real, Extended h, Extended k, Extended l);

/// Reduced complex deviation parameter x = (η + i·g)/(1 + i·κ) at the angular offset Δ
/// (radians, including any lamella strain term) from the Bragg angle θB, for the scattering
/// strength |F′| (electrons) and the absorption ratio κ of the reflection (see StructureFactor).
Complex deviationParameter(Extended delta, Extended thetaB, Extended gamma0, Extended gammaH,
                           Extended Gamma, Extended F0i, Extended strength, Extended kappa);

/// Amplitude ratio of a semi-infinite perfect crystal: x ∓ sqrt(x² − 1), the sign chosen so
/// that |X| ≤ 1 (+ when re(x) < 0).
Complex substrateAmplitude(Complex x);

/// (η + i·g)/(1 + i·κ) = ((η + g·κ) + i·(g − η·κ))/(1 + κ²) in double precision. The divisor is
/// at least 1, so the plain formula needs none of the scaling of a general complex division.
inline Complex reducedDeviation(double eta, double g, double kappa) {
    const double divisor = 1 + kappa * kappa;
    return Complex((eta + g * kappa) / divisor, (g - eta * kappa) / divisor);
}

/// Reflectivity |X|², each square rounded to double before the extended sum.
inline Extended reflectivity(Complex X) {
    const double rr = X.real() * X.real();
    const double ii = X.imag() * X.imag();
    return static_cast<Extended>(rr) + static_cast<Extended>(ii);
}

}  // namespace kelvarin
