#include "engine/layered.hpp"

#include <cmath>
#include <string>

#include "engine/engine_error.hpp"
#include "engine/layered_simd.hpp"
#include "engine/material_scattering.hpp"
#include "engine/sample.hpp"
#include "engine/scattering.hpp"

namespace kelvarin {

namespace {

constexpr Complex kI{0.0, 1.0};

/// Principal square root, re ≥ 0 and the imaginary part taking the sign of im(z). Here z = x² − 1
/// with |x| far below 1e12 for any scan, so a² + b² needs none of the library's scaling.
inline Complex principalSqrt(Complex z) {
    const double a = z.real();
    const double b = z.imag();
    if (a == 0 && b == 0) return Complex(0.0, b);
    const double modulus = std::sqrt(a * a + b * b);
    if (a >= 0) {
        const double t = std::sqrt(0.5 * (modulus + a));
        return Complex(t, b / (2 * t));
    }
    const double t = std::sqrt(0.5 * (modulus - a));
    return Complex(std::fabs(b) / (2 * t), std::copysign(t, b));
}

/// a/b by the textbook formula; values near the ends of the double range go to the library's
/// scaled division instead.
inline Complex divide(Complex a, Complex b) {
    const double d = b.real() * b.real() + b.imag() * b.imag();
    if (!(d > 1e-290 && d < 1e290)) return a / b;
    return Complex((a.real() * b.real() + a.imag() * b.imag()) / d,
                   (a.imag() * b.real() - a.real() * b.imag()) / d);
}

Extended siteFormFactor(const CoefficientTables& t, int site, Extended s) {
    const int base = site == 1 ? 0 : 6;
    return formFactor(t[base + 1], t[base + 2], t[base + 3], t[base + 4], t[base + 5], t[base + 6],
                      s);
}

/// Structure factor of slab `i` of `stack` with Bragg value s, negated as the layered
/// calculation takes it (which leaves |F′| and κ as they are), with the real forward term F0r (not
/// negated). A lamella of its own crystal (or a substrate known by its sites) takes the factor
/// from its sites, with their own thermal factors; otherwise it comes from the substrate's
/// two-site tables, each site's whole scattering factor at s multiplied by its thermal factor
/// (1: at rest), the forward terms, at s = 0, keeping theirs.
StructureFactor negatedStructureFactor(const EngineState& state, const LayerStack& stack, int i,
                                       const SitePhases& phases, Extended s,
                                       const Extended (&thermal)[2] = {1, 1}) {
    const auto slab = static_cast<std::size_t>(i);
    const MaterialScattering* material =
        i > 0 && slab < stack.material.size() && stack.material[slab]
            ? stack.material[slab].get()
            : state.substrateMaterial.get();
    StructureFactor F;
    if (material != nullptr) {
        F = allowedStructureFactor(*material, state.millerH, state.millerK, state.millerL, s);
        F.F0i = -F.F0i;
    } else {
        const RadiationRecord& rr = state.radiationRecord;
        const Extended t1 = thermal[0];
        const Extended t2 = thermal[1];
        const Extended f1 = siteFormFactor(state.scatteringCoefficients, 1, s);
        const Extended f2 = siteFormFactor(state.scatteringCoefficients, 2, s);
        F = structureFactor(f1 * t1, f2 * t2, rr[kSlotF1Real] * t1, rr[kSlotF1Imag] * t1,
                            rr[kSlotF2Real] * t2, rr[kSlotF2Imag] * t2, phases);
        requireAllowedReflection(F, f1, f2, rr[kSlotF1Real], rr[kSlotF2Real], state.millerH,
                                 state.millerK, state.millerL);
        // Four atoms on each site; at s = 0 the form factor is the atom's electron count.
        F.F0i = -(4 * rr[kSlotF1Imag] + 4 * rr[kSlotF2Imag]);
        F.F0r = 4 * (siteFormFactor(state.scatteringCoefficients, 1, 0) + rr[kSlotF1Real]) +
                4 * (siteFormFactor(state.scatteringCoefficients, 2, 0) + rr[kSlotF2Real]);
    }
    F.Fhr = -F.Fhr;
    F.Fhi = -F.Fhi;
    return F;
}

bool finite(const SlabConstants& c) {
    return std::isfinite(c.strainShift) && std::isfinite(c.etaRoot) &&
           std::isfinite(c.etaSin2Theta) && std::isfinite(c.etaDenominator) &&
           c.etaDenominator != 0 && std::isfinite(c.g) && std::isfinite(c.kappa) &&
           std::isfinite(c.T.real()) && std::isfinite(c.T.imag());
}

}  // namespace

void prepareLayered(const EngineState& state, const LayerStack& stack, LayeredConstants& out) {
    const Extended h = state.millerH;
    const Extended k = state.millerK;
    const Extended l = state.millerL;
    const Extended P = kPolarisation;
    out.model = PhysicsModel::Classic;
    out.layerCount = stack.layerCount;
    if (out.slab.size() < static_cast<std::size_t>(stack.layerCount) + 1)
        out.slab.resize(static_cast<std::size_t>(stack.layerCount) + 1);
    out.phi = std::acos(l / std::sqrt(h * h + k * k + l * l));
    out.gamma0 = std::sin(stack.thetaB[0] - out.phi);
    out.gammaH = -std::sin(stack.thetaB[0] + out.phi);
    const Extended absGamma0 = std::fabs(out.gamma0);
    const Extended absGammaH = std::fabs(out.gammaH);
    const Extended root = std::sqrt(std::fabs(out.gamma0 * out.gammaH));
    const Extended cosPhi = std::cos(out.phi);
    const Extended sinPhi = std::sin(out.phi);
    // The substrate's Γ0 sets the thickness scale of every lamella.
    const double gamma0Thickness = static_cast<double>(stack.Gamma[0]);
    const double pi = static_cast<double>(kPi);
    const double lambda = stack.lambda;

    const SitePhases phases = sitePhases(state.sitePositions, h, k, l);
    for (int i = 0; i <= stack.layerCount; ++i) {
        StructureFactor F = negatedStructureFactor(state, stack, i, phases, stack.s[i]);
        // A damaged lamella scatters its reflection f times as strongly; its forward term and
        // its absorption ratio stay.
        const double damage = stack.damage[static_cast<std::size_t>(i)];
        if (damage != 1) {
            F.Fhr *= damage;
            F.Fhi *= damage;
            F.strength *= damage;
        }
        const Extended absFhr = F.strength;
        SlabConstants& c = out.slab[i];
        c.Fhr = F.Fhr;
        c.Fhi = F.Fhi;
        c.etaRoot = root;
        c.etaSin2Theta = std::sin(2 * stack.thetaB[i]);
        c.etaDenominator = stack.Gamma[i] * P * absFhr * absGammaH;
        c.kappa = static_cast<double>(F.kappa);
        if (i == 0) {
            // The substrate: the deviation parameter as for any perfect crystal.
            c.strainShift = 0;
            c.g = static_cast<double>(F.F0i * root * (1 / absGamma0 + 1 / absGammaH) /
                                      (2 * P * absFhr));
            c.T = Complex(0.0, 0.0);
        } else {
            const Extended eps = stack.strain[i];
            c.strainShift = eps * (cosPhi * cosPhi * std::tan(stack.thetaB[i]) + cosPhi * sinPhi);
            c.g = static_cast<double>(root * F.F0i * (1 / absGamma0 + 1 / absGammaH) /
                                      (absFhr * P * 2));
            const double A = stack.thickness[i] * pi * static_cast<double>(P) * gamma0Thickness *
                             static_cast<double>(absFhr) / (lambda * static_cast<double>(root));
            c.T = Complex(A, 0.0) * Complex(1.0, c.kappa);
        }
        if (!finite(c)) {
            if (i == 0) {
                throw EngineError("The substrate values of this reflection are not finite.");
            }
            throw CandidateRejected("The values of lamella " + std::to_string(i) +
                                    " are not finite numbers.");
        }
    }
}

namespace {

/// The sign of the in-plane component of h (−1 grazing incidence, +1 grazing exit, 0 symmetric)
/// for the reflection of `state` in `geometry`.
double inPlaneSign(const EngineState& state, ScatteringGeometry geometry) {
    const bool symmetric = state.millerH == 0 && state.millerK == 0;
    // Only a refusal spells the reflection out: a candidate's preparation allocates nothing.
    const auto hkl = [&state] {
        return engineNumber(state.millerH) + " " + engineNumber(state.millerK) + " " +
               engineNumber(state.millerL);
    };
    switch (geometry) {
        case ScatteringGeometry::FromMillerIndices:
            if (symmetric) return 0;
            return state.millerL < 0 ? 1 : -1;
        case ScatteringGeometry::Symmetric:
            if (!symmetric) {
                throw EngineError("The reflection " + hkl() +
                                  " is asymmetric: the geometry \"symmetric\" needs planes "
                                  "parallel to the (001) surface (h = k = 0).");
            }
            return 0;
        case ScatteringGeometry::GrazingIncidence:
            if (state.millerL < 0) {
                throw EngineError("The reflection " + hkl() +
                                  " with a negative l is measured in grazing exit; give l > 0 "
                                  "for the geometry \"grazing-incidence\".");
            }
            return symmetric ? 0 : -1;
        case ScatteringGeometry::GrazingExit:
            return symmetric ? 0 : 1;
    }
    return 0;
}

}  // namespace

void prepareLayeredFull(const EngineState& state, const LayerStack& stack,
                        const PhysicsOptions& options, LayeredConstants& out) {
    const int n = stack.layerCount;
    const double lambda = stack.lambda;
    out.model = PhysicsModel::Full;
    out.layerCount = n;
    if (out.slab.size() < static_cast<std::size_t>(n) + 1)
        out.slab.resize(static_cast<std::size_t>(n) + 1);
    out.full.resize(static_cast<std::size_t>(n) + 1);

    // The substrate's reciprocal vector in units of k = 1/λ: in-plane part p, normal part l/c.
    const double a = static_cast<double>(state.latticeA);
    const double b = static_cast<double>(state.latticeB);
    const double c = static_cast<double>(state.latticeC);
    const double inPlane =
        std::hypot(static_cast<double>(state.millerH) / a, static_cast<double>(state.millerK) / b);
    const double hx = inPlaneSign(state, options.geometry) * lambda * inPlane;
    const double hz0 = lambda * std::fabs(static_cast<double>(state.millerL)) / c;
    // The Bragg law |h| = 2k·sin θB; the incidence angle is θB − ψ with h = |h|·(−sin ψ, cos ψ).
    const double thetaB = std::asin(std::hypot(hx, hz0) / 2);
    out.omega0 = thetaB - std::atan2(-hx, hz0);
    out.phi = std::atan2(std::fabs(hx), hz0);
    out.gamma0 = std::sin(out.omega0);
    out.gammaH = std::sin(out.omega0) - hz0;
    if (!(out.gamma0 > 0) || !(out.gammaH < 0)) {
        throw EngineError("The reflection " + engineNumber(state.millerH) + " " +
                          engineNumber(state.millerK) + " " + engineNumber(state.millerL) +
                          " cannot be measured in reflection from the (001) surface in this "
                          "geometry: one of the beams would pass through the crystal.");
    }

    // Intensity weights of the σ and π curves; a monochromator passes cos²2θM of the π part.
    const double cosMono = std::cos(options.monochromatorTwoTheta);
    const double piPart = cosMono * cosMono;
    switch (options.polarisation) {
        case Polarisation::Sigma:
            out.sigmaWeight = 1;
            out.piWeight = 0;
            break;
        case Polarisation::Pi:
            out.sigmaWeight = 0;
            out.piWeight = 1;
            break;
        case Polarisation::Unpolarised:
            out.sigmaWeight = 1 / (1 + piPart);
            out.piWeight = piPart / (1 + piPart);
            break;
    }

    const SitePhases phases =
        sitePhases(state.sitePositions, state.millerH, state.millerK, state.millerL);
    const double pi = static_cast<double>(kPi);
    const double rootBragg = std::sqrt(static_cast<double>(out.gamma0 * -out.gammaH));
    for (int i = 0; i <= n; ++i) {
        const auto index = static_cast<std::size_t>(i);
        FullSlabConstants& f = out.full[index];
        const double eps = stack.strain[index];
        f.hx = hx;
        f.hz = hz0 / (1 + eps);
        f.hh = hx * hx + f.hz * f.hz;
        const double sinTheta = std::sqrt(f.hh) / 2;
        if (!(sinTheta < 1)) {
            throw CandidateRejected("Lamella " + std::to_string(i) + " with the strain " +
                                    engineNumber(eps) + " cannot reflect at this wavelength.");
        }
        f.cosTwoTheta = std::fabs(1 - 2 * sinTheta * sinTheta);
        // s = sin θB/λ of the slab's own spacing; the thermal factor exp(−B·s²) per site.
        const Extended s = sinTheta / lambda;
        const Extended thermal[2] = {std::exp(-options.debyeWallerB[0] * s * s),
                                     std::exp(-options.debyeWallerB[1] * s * s)};
        StructureFactor F = negatedStructureFactor(state, stack, i, phases, s, thermal);
        const double damage = stack.damage[index];
        const double strength = static_cast<double>(F.strength) * damage;
        const double Gamma = static_cast<double>(stack.Gamma[index]);
        f.chi0r = -Gamma * static_cast<double>(F.F0r);
        f.chi0i = Gamma * static_cast<double>(F.F0i);
        f.inverseScale = 1 / (2 * Gamma * strength);
        f.kappa = static_cast<double>(F.kappa);
        f.thicknessScale = i == 0 ? 0 : pi * stack.thickness[index] * Gamma * strength / lambda;
        SlabConstants& sc = out.slab[index];
        sc = SlabConstants{};
        sc.Fhr = F.Fhr * damage;
        sc.Fhi = F.Fhi * damage;
        sc.kappa = f.kappa;
        const double A = f.thicknessScale / rootBragg;
        sc.T = Complex(A, A * f.kappa);
        if (!std::isfinite(f.inverseScale) || !std::isfinite(f.chi0r) ||
            !std::isfinite(f.thicknessScale) || !std::isfinite(f.kappa)) {
            if (i == 0)
                throw EngineError("The substrate values of this reflection are not finite.");
            throw CandidateRejected("The values of lamella " + std::to_string(i) +
                                    " are not finite numbers.");
        }
    }
}

void prepareLayered(const EngineState& state, const LayerStack& stack,
                    const PhysicsOptions& options, LayeredConstants& out) {
    if (options.full()) {
        prepareLayeredFull(state, stack, options, out);
        return;
    }
    out.model = PhysicsModel::Classic;
    prepareLayered(state, stack, out);
}

int scanPointCount(int scanStart, int scanEnd, int scanStep) {
    if (scanStep <= 0) {
        throw EngineError("The scan step must be a positive number of seconds of arc (it is " +
                          std::to_string(scanStep) + ").");
    }
    if (scanEnd < scanStart) return 0;
    const long long count =
        (static_cast<long long>(scanEnd) - static_cast<long long>(scanStart)) / scanStep + 1;
    if (count > kCurveCapacity) {
        throw EngineError("The scan from " + std::to_string(scanStart) + " to " +
                          std::to_string(scanEnd) + " in steps of " + std::to_string(scanStep) +
                          " has " + std::to_string(count) + " points; at most " +
                          std::to_string(kCurveCapacity) + " can be computed.");
    }
    return static_cast<int>(count);
}

Extended referenceReflectivity(const LayeredConstants& constants, Theory theory, double theta) {
    if (constants.model == PhysicsModel::Full) {
        const Extended omega =
            constants.omega0 + kPi * static_cast<Extended>(theta) * kArcsecFactor;
        const double cosOmega = static_cast<double>(std::cos(omega));
        const double sinOmega = static_cast<double>(std::sin(omega));
        Extended R = 0;
        bool outside = false;
        if (constants.sigmaWeight > 0) {
            R += constants.sigmaWeight *
                 reflectivity(fullAmplitude(constants, theory, cosOmega, sinOmega, false, outside));
        }
        if (constants.piWeight > 0 && !outside) {
            R += constants.piWeight *
                 reflectivity(fullAmplitude(constants, theory, cosOmega, sinOmega, true, outside));
        }
        if (outside) R = 0;
        if (!std::isfinite(R)) {
            throw CandidateRejected("The reflectivity at " + engineNumber(theta) +
                                    " seconds of arc is not a finite number.");
        }
        return R;
    }
    const int n = constants.layerCount;
    const SlabConstants* slab = constants.slab.data();
    const Extended thetaRad = kPi * static_cast<Extended>(theta) * kArcsecFactor;
    Complex X = substrateAmplitude(slabDeviation(slab[0], thetaRad));
    if (theory == kTheoryDynamical) {
        for (int i = 1; i <= n; ++i) {
            X = dynamicalStep(X, slabDeviation(slab[i], thetaRad), slab[i].T);
        }
    } else if (theory == kTheoryKinematical) {
        for (int i = 1; i <= n; ++i) {
            X = kinematicalStep(X, slabDeviation(slab[i], thetaRad), slab[i].T);
        }
    }
    const Extended R = reflectivity(X);
    if (!std::isfinite(R)) {
        throw CandidateRejected("The reflectivity at " + engineNumber(theta) +
                                " seconds of arc is not a finite number.");
    }
    return R;
}

ScanGrid scanGridOf(const CurveStore& cs) {
    return ScanGrid{static_cast<double>(cs.scanStart), static_cast<double>(cs.scanStep),
                    scanPointCount(cs.scanStart, cs.scanEnd, cs.scanStep)};
}

void layeredCurve(const EngineState& state, const LayeredConstants& constants, ComputedCurve& out,
                  LayeredPath path) {
    layeredCurve(constants, state.theoryChoice, scanGridOf(state.curveStore), out, path);
}

void layeredCurve(const LayeredConstants& constants, Theory theory, const ScanGrid& grid,
                  ComputedCurve& out, LayeredPath path) {
    if (grid.points < 0 || grid.points > kCurveCapacity || !(grid.step > 0)) {
        throw EngineError("A scan of " + std::to_string(grid.points) + " points in steps of " +
                          engineNumber(grid.step) + " seconds of arc cannot be computed.");
    }
    if (path == LayeredPath::Fast) {
        layeredCurveFast(constants, theory, grid, out, bestSimdLevel());
        return;
    }
    const int points = grid.points;
    out.ensure(points);
    out.calcMax = 0;
    out.calcCount = 0;
    out.calcComputed = 0;
    for (int p = 0; p < points; ++p) {
        // Whole seconds of arc: start + p·step is exact in double precision.
        const double theta = grid.angle(p);
        const Extended R = referenceReflectivity(constants, theory, theta);
        if (R > out.calcMax) out.calcMax = R;
        out.calcAngle[p] = theta;
        out.calcRaw[p] = R;
        out.calcCurve[p] = R;
    }
    out.calcComputed = points;
    // The last computed angle takes no part in scaling and error.
    out.calcCount = points > 0 ? points - 1 : 0;
}

void layeredCurve(const EngineState& state, const LayerStack& stack, ComputedCurve& out,
                  LayeredPath path) {
    LayeredConstants constants;
    prepareLayered(state, stack, constants);
    layeredCurve(state, constants, out, path);
}

std::string kinematicalRangeWarning(const LayeredConstants& constants, Theory theory,
                                    Extended calcMax) {
    if (theory != kTheoryKinematical) return {};
    double thickness = 0;
    for (int i = 1; i <= constants.layerCount; ++i)
        thickness += constants.slab[static_cast<std::size_t>(i)].T.real();
    if (calcMax > 1) {
        return "the kinematical theory gives a reflectivity of " + engineNumber(calcMax) +
               ", above 1: the lamellae are too thick or too strongly reflecting for it "
               "(use the dynamical theory)";
    }
    if (thickness > 1) {
        return "the lamellae are " + engineNumber(std::round(thickness * 100) / 100) +
               " times as thick as the extinction length of the reflection, beyond the range "
               "of the kinematical theory (use the dynamical theory)";
    }
    return {};
}

Complex dynamicalStep(Complex X, Complex x, Complex T) {
    // A lamella of zero thickness passes X on exactly (the formula would, to rounding).
    if (T == Complex(0.0, 0.0)) return X;
    const Complex r = principalSqrt(x * x - Complex(1.0, 0.0));
    if (r == Complex(0.0, 0.0)) {
        // x = ±1: the limit of the general solution as r → 0.
        return x + (X - x) / (Complex(1.0, 0.0) - kI * T * (X - x));
    }
    // X' = x + r·(N1 + N2)/(N1 − N2) with N1 = (X − x + r)·exp(−S), N2 = (X − x − r)·exp(S) and
    // S = i·T·r. Both N are divided by the growing one of exp(±S), which leaves the decaying
    // exp(−2|Re S|) only: the same value, and no overflow however thick the lamella.
    const Complex S = kI * T * r;
    const bool growing = S.real() >= 0;  // exp(S) is the larger of exp(±S)
    const Complex twoS = growing ? -2.0 * S : 2.0 * S;
    // exp(twoS) with re(twoS) ≤ 0; once its modulus underflows the phase no longer matters.
    const double modulus = std::exp(twoS.real());
    const Complex decay =
        modulus == 0 ? Complex(0.0, 0.0)
                     : Complex(modulus * std::cos(twoS.imag()), modulus * std::sin(twoS.imag()));
    Complex n1 = X - x + r;
    Complex n2 = X - x - r;
    if (growing) {
        n1 *= decay;
    } else {
        n2 *= decay;
    }
    return x + divide(r * (n1 + n2), n1 - n2);
}

Complex kinematicalStep(Complex X, Complex x, Complex T) {
    if (x == Complex(0.0, 0.0)) {
        // sin(x·T)/x → T.
        return X + kI * T;
    }
    // X·exp(−2i·xT) + i·exp(−i·xT)·sin(xT)/x, with i·exp(−i·xT)·sin(xT) = (1 − exp(−2i·xT))/2:
    // one exponential, which decays with absorption, so a thick lamella cannot overflow.
    const Complex e = std::exp(Complex(0.0, -2.0) * (x * T));
    return X * e + divide(Complex(1.0, 0.0) - e, 2.0 * x);
}

double substratePeakOffset(const EngineState& state, const PhysicsOptions& options) {
    if (!options.full()) return 0;
    LayerStack stack;
    layerStack(Sample{}, state, stack);
    LayeredConstants constants;
    prepareLayered(state, stack, options, constants);
    const auto R = [&constants](double theta) {
        return static_cast<double>(referenceReflectivity(constants, kTheoryDynamical, theta));
    };
    // The highest point on a coarse grid (the tails of even the narrowest peak rise towards
    // it), again on a fine grid around it, then the two half-maximum crossings by bisection: the
    // middle of a plateau, not the side absorption tilts it to.
    constexpr double kReach = 3600;
    constexpr double kCoarse = 0.5;
    constexpr double kStep = 0.005;
    double top = -1;
    double atTop = 0;
    const auto highest = [&](double from, double to, double step) {
        for (int i = 0; from + i * step <= to; ++i) {
            const double theta = from + i * step;
            const double r = R(theta);
            if (r > top) {
                top = r;
                atTop = theta;
            }
        }
    };
    highest(-kReach, kReach, kCoarse);
    const double coarseTop = atTop;
    highest(coarseTop - kCoarse, coarseTop + kCoarse, kStep);
    if (!(top > 0)) {
        throw EngineError("The substrate reflects nowhere within " + engineNumber(kReach) +
                          " seconds of arc of its Bragg angle.");
    }
    const double half = top / 2;
    const auto crossing = [&](double direction) {
        double inside = atTop;
        double outside = atTop + direction * kStep;
        while (R(outside) >= half && std::fabs(outside - atTop) < kReach)
            outside += direction * kStep;
        for (int i = 0; i < 40; ++i) {
            const double middle = (inside + outside) / 2;
            (R(middle) >= half ? inside : outside) = middle;
        }
        return (inside + outside) / 2;
    };
    return (crossing(-1) + crossing(+1)) / 2;
}

}  // namespace kelvarin
