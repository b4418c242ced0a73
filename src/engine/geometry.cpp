#include "engine/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/engine_error.hpp"

namespace kelvarin {

namespace {

using ComplexExtended = std::complex<Extended>;

std::string millerText(Extended h, Extended k, Extended l) {
    return engineNumber(h) + " " + engineNumber(k) + " " + engineNumber(l);
}

/// Degrees to two decimals, for messages.
std::string degrees(Extended radians) {
    return engineNumber(std::round(radians * 180 / kPi * 100) / 100) + "°";
}

/// Whether both beams of reflection (h k l) at the Bragg angle θB lie outside the (001) surface:
/// γ0·γh < 0 with γ0 = sin(θB − φ), γh = −sin(θB + φ).
bool braggCase(Extended thetaB, Extended h, Extended k, Extended l) {
    const Extended phi = std::acos(l / std::sqrt(h * h + k * k + l * l));
    return std::sin(thetaB - phi) * -std::sin(thetaB + phi) < 0;
}

/// An equivalent reflection of a cubic cell that the (001) surface reflects, as " Did you mean
/// 0 0 4?", or nothing. Its spacing, hence θB, is that of (h k l).
std::string equivalentSuggestion(Extended thetaB, Extended h, Extended k, Extended l) {
    Extended p[3] = {std::fabs(h), std::fabs(k), std::fabs(l)};
    std::sort(p, p + 3);
    // Largest index on l first: the least inclined of the equivalent reflections.
    do {
        if (p[2] > 0 && braggCase(thetaB, p[0], p[1], p[2]))
            return " Did you mean " + millerText(p[0], p[1], p[2]) + "?";
    } while (std::next_permutation(p, p + 3));
    return "";
}

/// Why reflection (h k l) cannot be measured in reflection from the (001) surface.
std::string notBraggCase(const ReflectionGeometry& g, Extended h, Extended k, Extended l,
                         bool cubic) {
    std::string why = "The surface is (001), its normal [001]; the reflection " +
                      millerText(h, k, l) + " cannot be measured in reflection from it: ";
    if (g.gamma0 == 0 || g.gammaH == 0) {
        why += "a beam would run parallel to the surface.";
    } else if (l == 0) {
        why +=
            "it lies in the surface plane, so the diffracted beam would pass through the "
            "crystal (a transmission case, which this program does not compute).";
    } else {
        const Extended tilt = std::min(g.phi, kPi - g.phi);
        why += "its planes are tilted by " + degrees(tilt) + " to the surface, more than its " +
               "Bragg angle of " + degrees(g.thetaB) + ", so one of the beams would pass through " +
               "the crystal (a transmission case, which this program does not compute).";
    }
    if (cubic) why += equivalentSuggestion(g.thetaB, h, k, l);
    return why;
}

}  // namespace

ReflectionGeometry reflectionGeometry(Extended a, Extended b, Extended c, Extended h, Extended k,
                                      Extended l, Extended lambda, Extended strain) {
    if (h == 0 && k == 0 && l == 0) {
        throw EngineError(
            "The reflection 0 0 0 is no diffraction: give at least one Miller "
            "index other than 0.");
    }
    if (!(a > 0) || !(b > 0) || !(c > 0) || !std::isfinite(a * b * c)) {
        throw EngineError("The lattice constants must be positive numbers (a = " + engineNumber(a) +
                          ", b = " + engineNumber(b) + ", c = " + engineNumber(c) +
                          " Å): choose a crystal first.");
    }
    if (!(lambda > 0) || !std::isfinite(lambda)) {
        throw EngineError("The wavelength must be a positive number of ångström (it is " +
                          engineNumber(lambda) + ").");
    }
    const Extended onePlusStrain = 1 + strain;
    if (!(onePlusStrain > 0)) {
        throw EngineError("A strain of " + engineNumber(strain) +
                          " would collapse the cell: strains must stay above -1.");
    }
    ReflectionGeometry g;
    g.d = 1 / std::sqrt(h * h / (a * a) + k * k / (b * b) + l * l / (onePlusStrain * (c * c)));
    g.V = onePlusStrain * (a * b * c);
    g.Gamma = static_cast<Extended>(kElectronRadius) * lambda * lambda / (kPi * g.V);
    g.s = 1 / (2 * g.d);
    const Extended sine = lambda / (2 * g.d);
    if (!(sine < 1)) {
        throw EngineError("The reflection " + millerText(h, k, l) + " cannot be reached with " +
                          "the wavelength " + engineNumber(lambda) + " Å: it needs a wavelength " +
                          "below 2d = " + engineNumber(2 * g.d) + " Å.");
    }
    g.thetaB = std::asin(sine);
    g.phi = std::acos(l / std::sqrt(h * h + k * k + l * l));
    g.gamma0 = std::sin(g.thetaB - g.phi);
    g.gammaH = -std::sin(g.thetaB + g.phi);
    // Both beams outside the crystal: the incident one enters (γ0 > 0 in the grazing-incidence
    // setting) and the diffracted one leaves through the same surface, opposite signs in either
    // setting. Equal signs, or a zero, are a transmission case or a beam along the surface.
    if (!(g.gamma0 * g.gammaH < 0)) {
        throw EngineError(notBraggCase(g, h, k, l, a == b && b == c));
    }
    return g;
}

SitePhases sitePhases(const SitePositions& sites, Extended h, Extended k, Extended l) {
    SitePhases phases;
    for (int site = 0; site < 2; ++site) {
        for (int n = 0; n < 4; ++n) {
            const auto& atom = sites[site][n];
            const Extended p =
                2 * kPi *
                (h * static_cast<Extended>(atom[0]) + k * static_cast<Extended>(atom[1]) +
                 l * static_cast<Extended>(atom[2]));
            phases.cosine[site][n] = std::cos(p);
            phases.sine[site][n] = std::sin(p);
            // sin(nπ) with the program's π is some 1e-14·n, not 0.
            if (!(std::fabs(phases.sine[site][n]) < 1e-9L)) phases.realPhases = false;
        }
    }
    return phases;
}

StructureFactor structureFactor(Extended f1, Extended f2, Extended f1Real, Extended f1Imag,
                                Extended f2Real, Extended f2Imag, const SitePhases& phases) {
    StructureFactor F;
    const Extended f[2] = {f1, f2};
    const Extended fReal[2] = {f1Real, f2Real};
    const Extended fImag[2] = {f1Imag, f2Imag};
    ComplexExtended plain{0, 0};      // F′ = Σ(f + f′)·e^{ip}
    ComplexExtended absorbing{0, 0};  // F″ = Σ f″·e^{ip}
    for (int site = 0; site < 2; ++site) {
        for (int n = 0; n < 4; ++n) {
            const Extended cosine = phases.cosine[site][n];
            const Extended sine = phases.sine[site][n];
            F.Fhr += (f[site] + fReal[site]) * cosine - fImag[site] * sine;
            F.Fhi += (f[site] + fReal[site]) * sine + fImag[site] * cosine;
            plain += (f[site] + fReal[site]) * ComplexExtended(cosine, sine);
            absorbing += fImag[site] * ComplexExtended(cosine, sine);
        }
    }
    F.F0i = 4 * f1Imag + 4 * f2Imag;
    if (phases.realPhases) {
        // F′ = Fhr and F″ = i·Fhi up to the rounding of the phases: the same numbers as ever.
        F.strength = std::fabs(F.Fhr);
        F.kappa = std::fabs(F.Fhi / F.Fhr);
    } else {
        F.strength = std::abs(plain);
        F.kappa = std::abs(absorbing) / F.strength;
    }
    return F;
}

StructureFactor structureFactor(Extended f1, Extended f2, Extended f1Real, Extended f1Imag,
                                Extended f2Real, Extended f2Imag, const SitePositions& sites,
                                Extended h, Extended k, Extended l) {
    return structureFactor(f1, f2, f1Real, f1Imag, f2Real, f2Imag, sitePhases(sites, h, k, l));
}

void requireAllowedReflection(const StructureFactor& F, Extended f1, Extended f2, Extended f1Real,
                              Extended f2Real, Extended h, Extended k, Extended l) {
    // The phases of a forbidden reflection cancel the atomic factors only to rounding: anything
    // below a millionth of the scattering of the eight atoms counts as zero.
    const Extended atoms = 4 * (std::fabs(f1 + f1Real) + std::fabs(f2 + f2Real));
    const Extended magnitude = F.strength;
    if (!(magnitude > 1e-6L * atoms) || !std::isfinite(magnitude) || !std::isfinite(F.kappa)) {
        throw EngineError("The reflection " + millerText(h, k, l) +
                          " is forbidden for this crystal: its structure factor (|F| = " +
                          engineNumber(magnitude) + ") vanishes against the atomic scattering " +
                          "factors. Choose an allowed reflection.");
    }
}

Complex deviationParameter(Extended delta, Extended thetaB, Extended gamma0, Extended gammaH,
                           Extended Gamma, Extended F0i, Extended strength, Extended kappa) {
    const Extended root = std::sqrt(std::fabs(gamma0 * gammaH));
    const Extended absFhr = strength;
    const Extended denominator = Gamma * kPolarisation * absFhr * std::fabs(gammaH);
    const Extended eta = delta * root * std::sin(2 * thetaB) / denominator;
    const Extended g =
        F0i * root * (1 / std::fabs(gamma0) + 1 / std::fabs(gammaH)) / (2 * kPolarisation * absFhr);
    return reducedDeviation(static_cast<double>(eta), static_cast<double>(g),
                            static_cast<double>(kappa));
}

Complex substrateAmplitude(Complex x) {
    const Complex root = std::sqrt(x * x - Complex(1.0, 0.0));
    return x.real() < 0 ? x + root : x - root;
}

}  // namespace kelvarin
