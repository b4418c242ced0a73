#include "fit/profile_band.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <exception>
#include <random>

namespace kelvarin::fit {

namespace {

/// Strain at `depth` (Å from the surface) of a profile whose lamella layerCount is at the
/// surface; 0 below the stack.
double strainAt(const StrainProfile& p, double depth) {
    double top = 0;
    for (int i = p.layerCount; i >= 1; --i) {
        const double t = static_cast<double>(p.profileThickness[static_cast<std::size_t>(i)]);
        if (depth < top + t)
            return static_cast<double>(p.profileStrain[static_cast<std::size_t>(i)]);
        top += t;
    }
    return 0;
}

double quantile(std::vector<double>& v, double q) {
    const auto k = static_cast<std::size_t>(std::lround(q * static_cast<double>(v.size() - 1)));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

/// A standard normal deviate by Box–Muller from 53-bit uniforms: the same on every platform.
double normal(std::mt19937_64& rng) {
    const double u1 = (static_cast<double>(rng() >> 11) + 1) * 0x1.0p-53;
    const double u2 = static_cast<double>(rng() >> 11) * 0x1.0p-53;
    return std::sqrt(-2 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

}  // namespace

ProfileBand profileBand(const FitProblem& problem, const std::vector<Extended>& values,
                        const Uncertainty& uncertainty, int draws, std::uint64_t seed) {
    ProfileBand band;
    if (!uncertainty.valid || uncertainty.parameters.empty() || draws < 2) return band;
    const std::size_t modelCount = problem.model().declare().size();
    const auto fill = [&](const std::vector<Extended>& v, StrainProfile& out) {
        // The model's parameters lead the table, in the order the model takes them.
        problem.model().fill(std::span<const Extended>(v.data(), modelCount), out);
    };
    StrainProfile best;
    try {
        fill(values, best);
    } catch (const std::exception&) {
        return band;
    }
    double top = 0;
    for (int i = best.layerCount; i >= 1; --i) {
        const double t = static_cast<double>(best.profileThickness[static_cast<std::size_t>(i)]);
        band.depth.push_back(top + t / 2);
        top += t;
    }

    const auto n = static_cast<Eigen::Index>(uncertainty.parameters.size());
    Eigen::MatrixXd cov(n, n);
    for (Eigen::Index i = 0; i < n; ++i)
        for (Eigen::Index j = 0; j < n; ++j)
            cov(i, j) =
                uncertainty.covariance[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    // A square root of the covariance that tolerates a singular one.
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(cov);
    const Eigen::MatrixXd root =
        eig.eigenvectors() * eig.eigenvalues().cwiseMax(0).cwiseSqrt().asDiagonal();

    const ParameterTable& table = problem.parameters();
    std::mt19937_64 rng(seed);
    std::vector<std::vector<double>> samples(band.depth.size());
    std::vector<Extended> v = values;
    StrainProfile drawn;
    Eigen::VectorXd z(n);
    for (int d = 0; d < draws; ++d) {
        for (Eigen::Index j = 0; j < n; ++j)
            z(j) = normal(rng);
        const Eigen::VectorXd step = root * z;
        for (Eigen::Index j = 0; j < n; ++j) {
            const ParameterUncertainty& pu = uncertainty.parameters[static_cast<std::size_t>(j)];
            const Parameter& p = table[pu.index];
            v[static_cast<std::size_t>(pu.index)] = std::clamp(
                pu.value + step(j), static_cast<double>(p.min), static_cast<double>(p.max));
        }
        try {
            fill(v, drawn);
        } catch (const std::exception&) {
            continue;
        }
        for (std::size_t k = 0; k < band.depth.size(); ++k)
            samples[k].push_back(strainAt(drawn, band.depth[k]));
        ++band.draws;
    }
    if (band.draws < 2) return ProfileBand{};
    for (std::vector<double>& s : samples) {
        band.low.push_back(quantile(s, 0.16));
        band.high.push_back(quantile(s, 0.84));
    }
    band.damageLow.assign(band.depth.size(), 1.0);
    band.damageHigh.assign(band.depth.size(), 1.0);
    return band;
}

}  // namespace kelvarin::fit
