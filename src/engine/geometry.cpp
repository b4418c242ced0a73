#include "engine/geometry.hpp"

#include <cmath>
#include <string>

#include "engine/engine_error.hpp"

namespace kelvarin {

namespace {

std::string millerText(Extended h, Extended k, Extended l) {
    return engineNumber(h) + " " + engineNumber(k) + " " + engineNumber(l);
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
    if (g.gamma0 == 0 || g.gammaH == 0) {
        throw EngineError("With the reflection " + millerText(h, k, l) +
                          " a beam runs parallel to the surface: the reflection cannot be "
                          "measured in this geometry.");
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
    for (int site = 0; site < 2; ++site) {
        for (int n = 0; n < 4; ++n) {
            const Extended cosine = phases.cosine[site][n];
            const Extended sine = phases.sine[site][n];
            F.Fhr += (f[site] + fReal[site]) * cosine - fImag[site] * sine;
            F.Fhi += (f[site] + fReal[site]) * sine + fImag[site] * cosine;
        }
    }
    F.F0i = 4 * f1Imag + 4 * f2Imag;
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
    const Extended magnitude = std::fabs(F.Fhr);
    if (!(magnitude > 1e-6L * atoms) || !std::isfinite(magnitude) ||
        !std::isfinite(F.Fhi / F.Fhr)) {
        throw EngineError("The reflection " + millerText(h, k, l) +
                          " is forbidden for this crystal: its structure factor (real part " +
                          engineNumber(F.Fhr) + ") vanishes against the atomic scattering " +
                          "factors. Choose an allowed reflection.");
    }
}

Complex deviationParameter(Extended delta, Extended thetaB, Extended gamma0, Extended gammaH,
                           Extended Gamma, Extended F0i, Extended Fhr, Extended Fhi) {
    const Extended root = std::sqrt(std::fabs(gamma0 * gammaH));
    const Extended absFhr = std::fabs(Fhr);
    const Extended denominator = Gamma * kPolarisation * absFhr * std::fabs(gammaH);
    const Extended eta = delta * root * std::sin(2 * thetaB) / denominator;
    const Extended g =
        F0i * root * (1 / std::fabs(gamma0) + 1 / std::fabs(gammaH)) / (2 * kPolarisation * absFhr);
    const Extended kappa = std::fabs(Fhi / Fhr);
    return reducedDeviation(static_cast<double>(eta), static_cast<double>(g),
                            static_cast<double>(kappa));
}

Complex substrateAmplitude(Complex x) {
    const Complex root = std::sqrt(x * x - Complex(1.0, 0.0));
    return x.real() < 0 ? x + root : x - root;
}

}  // namespace kelvarin
