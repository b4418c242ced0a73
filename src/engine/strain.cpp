#include "engine/strain.hpp"

#include <cmath>
#include <string>

#include "engine/engine_error.hpp"
#include "engine/geometry.hpp"
#include "engine/sample.hpp"

namespace kelvarin {

namespace {

void storeStrain(StrainProfile& out, int j, double thickness, Extended strain) {
    const int n = out.layerCount;
    out.profileThickness[j] = thickness;
    out.profileStrain[n - j + 1] = strain;
    out.strain[n - j + 1] = static_cast<double>(strain);
}

void requireFinite(const ProfileValues& row) {
    for (int c = 0; c < 4; ++c) {
        if (!std::isfinite(row[static_cast<std::size_t>(c)])) {
            throw CandidateRejected("Profile parameter " + std::to_string(c + 1) +
                                    " of the candidate is not a number.");
        }
    }
}

void twoGauss(const ProfileValues& row, StrainProfile& out) {
    const double tau = row[0];
    const double ro = row[1];
    const double sigma1 = row[2];
    const double sigma2 = row[3];
    if (sigma1 == 0 || sigma2 == 0) {
        throw CandidateRejected(
            "The half-widths sigma1 and sigma2 of the strain profile must not be 0 "
            "(sigma1 = " +
            engineNumber(sigma1) + " Å, sigma2 = " + engineNumber(sigma2) + " Å).");
    }
    if (ro < 0) {
        throw CandidateRejected("The depth of the strain maximum must not be negative (ro = " +
                                engineNumber(ro) + " Å).");
    }
    const int n = out.layerCount;
    // The stack spans five times the depth of the maximum; each lamella takes the strain at
    // its lower edge. The exponent is (z − ρ)²/(4σ²).
    const double t = 5 * ro / static_cast<double>(n);
    out.thickness = t;
    for (int j = 1; j <= n; ++j) {
        const double z = j * t;
        const double u = z > ro ? (z - ro) / (2 * sigma2) : (z - ro) / (2 * sigma1);
        storeStrain(out, j, t, tau * std::exp(-(u * u)));
    }
}

void pearsonVII(const ProfileValues& row, StrainProfile& out) {
    const double xc = row[0];
    const double area = row[1];
    const double w = row[2];
    const double mu = row[3];
    // Above kMaxPearsonMu, Γ(μ − ½) overflows even in extended precision and 2^(1/μ) − 1
    // tends to 0, where ln Γ divides by zero: the shape is a Gaussian long before that.
    if (!(mu > 0.5) || !(mu <= kMaxPearsonMu)) {
        throw CandidateRejected(
            "The Pearson VII shape exponent mu must lie above 0.5 and at most " +
            engineNumber(kMaxPearsonMu) + " (it is " + engineNumber(mu) + ").");
    }
    if (w == 0) {
        throw CandidateRejected("The Pearson VII width w must not be 0.");
    }
    const int n = out.layerCount;
    const double t = kPearsonThickness;
    out.thickness = t;
    const double q = std::pow(2.0, 1.0 / mu) - 1;
    const Extended pi = 3.141592653589793L;
    const Extended gammaQ = std::exp(static_cast<Extended>(lnGamma(q)));
    const Extended gammaMu = std::exp(static_cast<Extended>(lnGamma(mu - 0.5)));
    const Extended c = 2 * static_cast<Extended>(area) * std::sqrt(static_cast<Extended>(mu)) *
                       gammaQ / (pi * w * gammaMu);
    if (!std::isfinite(c)) {
        throw CandidateRejected("The Pearson VII parameters (A = " + engineNumber(area) +
                                ", w = " + engineNumber(w) + ", mu = " + engineNumber(mu) +
                                ") give no finite strain.");
    }
    for (int j = 1; j <= n; ++j) {
        const Extended z = j * t;
        const Extended offset = z - xc;
        const Extended p = std::pow(
            1 + 4 * static_cast<Extended>(q) * offset * offset / (static_cast<Extended>(w) * w),
            static_cast<Extended>(-mu));
        storeStrain(out, j, t, 2.358L * c * p);
    }
}

}  // namespace

double lnGamma(double v) {
    static constexpr double kCoefficients[6] = {76.18009172947146,    -86.50532032941678,
                                                24.01409824083091,    -1.231739572450155,
                                                0.001208650973866179, -5.395239384953e-06};
    const double x = static_cast<float>(v);
    double tmp = x + 5.5;
    tmp -= (x + 0.5) * std::log(tmp);
    double series = 1.000000000190015;
    for (int k = 0; k < 6; ++k)
        series += kCoefficients[k] / (x + (k + 1));
    return std::log(2.5066282746310007 * series / x) - tmp;
}

void strainProfile(const CandidateRow& row, ProfileKind profileModel, int layerCount,
                   StrainProfile& out) {
    // Single-precision values widen to double exactly: the same arithmetic as the double path.
    strainProfile(ProfileValues{row[1], row[2], row[3], row[4]}, profileModel, layerCount, out);
}

void strainProfile(const ProfileValues& row, ProfileKind profileModel, int layerCount,
                   StrainProfile& out) {
    if (layerCount < 1 || layerCount > kMaxLayers) {
        throw EngineError("The number of layers must lie between 1 and " +
                          std::to_string(kMaxLayers) + " (it is " + std::to_string(layerCount) +
                          ").");
    }
    requireFinite(row);
    out.layerCount = layerCount;
    if (profileModel == kModelTwoGauss) {
        twoGauss(row, out);
    } else if (profileModel == kModelPearsonVII) {
        pearsonVII(row, out);
    } else {
        throw EngineError("Unknown strain-profile model " +
                          std::to_string(static_cast<int>(profileModel)) + ".");
    }
    for (int i = 1; i <= layerCount; ++i) {
        if (!std::isfinite(out.profileStrain[i])) {
            throw CandidateRejected("The strain profile has no finite value at lamella " +
                                    std::to_string(i) + ".");
        }
    }
}

void LayerStack::reserveLayers(int layers) {
    const auto n = static_cast<std::size_t>(layers) + 1;
    if (strain.size() >= n) return;
    strain.resize(n);
    thickness.resize(n);
    V.resize(n);
    d.resize(n);
    Gamma.resize(n);
    s.resize(n);
    thetaB.resize(n);
    damage.resize(n, 1.0);
}

namespace {

/// Fills `out` for n lamellae whose strain, thickness and damage lamella(i) gives (i = 1 deepest).
template <class LamellaAt>
void fillStack(int n, LamellaAt&& lamella, const EngineState& state, LayerStack& out) {
    const Extended a = state.latticeA;
    const Extended b = state.latticeB;
    const Extended c = state.latticeC;
    const Extended h = state.millerH;
    const Extended k = state.millerK;
    const Extended l = state.millerL;
    const double lambda = static_cast<double>(state.radiationRecord[kSlotLambda]);
    // Rejects an unusable set-up (no reflection, no crystal, unreachable reflection).
    reflectionGeometry(a, b, c, h, k, l, lambda);

    out.reserveLayers(n);
    const Extended re = kElectronRadius;
    const Extended lambda2 = static_cast<Extended>(lambda) * lambda;
    out.layerCount = n;
    out.lambda = lambda;
    const Extended sumAB = h * h / (a * a) + k * k / (b * b);
    out.d[0] = 1 / std::sqrt(sumAB + l * l / (c * c));
    out.V[0] = static_cast<double>(a * b * c);
    out.Gamma[0] = lambda2 * re / (kPi * out.V[0]);
    out.s[0] = 1 / (2 * out.d[0]);
    out.thetaB[0] = std::asin(lambda / (2 * out.d[0]));
    out.strain[0] = 0;
    out.thickness[0] = 0;
    out.damage[0] = 1;
    for (int i = 1; i <= n; ++i) {
        double strain = 0, thickness = 0, damage = 1;
        lamella(i, strain, thickness, damage);
        const Extended eps = strain;
        const Extended onePlus = 1 + eps;
        if (!(onePlus > 0)) {
            throw CandidateRejected("Lamella " + std::to_string(i) + " has the strain " +
                                    engineNumber(eps) + ", which collapses the cell.");
        }
        if (!(std::fabs(eps) <= kMaxStrain)) {
            throw CandidateRejected("Lamella " + std::to_string(i) + " has the strain " +
                                    engineNumber(eps) + ": beyond " + engineNumber(kMaxStrain) +
                                    " (100 %) a strained lamella of the substrate's structure "
                                    "no longer describes a crystal.");
        }
        if (!(damage > 0 && damage <= 1)) {
            throw CandidateRejected("Lamella " + std::to_string(i) + " has the damage factor " +
                                    engineNumber(damage) + ", outside (0, 1].");
        }
        out.strain[i] = strain;
        out.thickness[i] = thickness;
        out.damage[i] = damage;
        out.V[i] = onePlus * out.V[0];
        // The strain stretches c along the surface normal; its square enters times (1 + ε).
        out.d[i] = 1 / std::sqrt(sumAB + l * l / (onePlus * (c * c)));
        out.Gamma[i] = lambda2 * re / (out.V[i] * kPi);
        out.s[i] = 1 / (2 * out.d[i]);
        const Extended sine = lambda / (2 * out.d[i]);
        if (!(sine < 1)) {
            throw CandidateRejected("Lamella " + std::to_string(i) + " with the strain " +
                                    engineNumber(eps) + " cannot reflect at this wavelength.");
        }
        out.thetaB[i] = std::asin(sine);
    }
    out.F0i = -(4 * state.radiationRecord[kSlotF1Imag] + 4 * state.radiationRecord[kSlotF2Imag]);
}

}  // namespace

void layerStack(const StrainProfile& profile, const EngineState& state, LayerStack& out) {
    fillStack(
        profile.layerCount,
        [&profile](int i, double& strain, double& thickness, double&) {
            strain = profile.strain[static_cast<std::size_t>(i)];
            thickness = profile.thickness;
        },
        state, out);
    out.material.clear();
}

void layerStack(const Sample& sample, const EngineState& state, LayerStack& out) {
    const int n = static_cast<int>(sample.lamellae.size());
    fillStack(
        n,
        [&sample, n](int i, double& strain, double& thickness, double& damage) {
            const Lamella& lamella = sample.lamellae[static_cast<std::size_t>(n - i)];
            strain = lamella.strain;
            thickness = lamella.thicknessAngstrom;
            damage = lamella.damage;
        },
        state, out);
    out.material.assign(static_cast<std::size_t>(n) + 1, nullptr);
    for (int i = 1; i <= n; ++i)
        out.material[static_cast<std::size_t>(i)] =
            sample.lamellae[static_cast<std::size_t>(n - i)].material;
}

}  // namespace kelvarin
