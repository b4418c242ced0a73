#include "fit/uncertainty.hpp"

#include <Eigen/Dense>

#include <cmath>
#include <exception>
#include <limits>

namespace kelvarin::fit {

std::vector<std::pair<int, int>> Uncertainty::strongCorrelations(double threshold) const {
    std::vector<std::pair<int, int>> out;
    for (std::size_t i = 0; i < correlation.size(); ++i)
        for (std::size_t j = i + 1; j < correlation.size(); ++j)
            if (std::abs(correlation[i][j]) > threshold)
                out.emplace_back(static_cast<int>(i), static_cast<int>(j));
    return out;
}

Uncertainty estimateUncertainty(const FitProblem& problem, const std::vector<Extended>& values) {
    Uncertainty u;
    const ParameterTable& table = problem.parameters();
    const std::vector<int> free = problem.geneOrder();
    const auto n = static_cast<Eigen::Index>(free.size());
    if (free.empty()) {
        u.message = "every parameter is fixed";
        return u;
    }
    ProblemWorkspace ws = problem.makeWorkspace();
    std::vector<double> r0, plus, minus;
    std::vector<Extended> x = values;
    try {
        problem.residuals(x, ws, r0);
        const auto m = static_cast<Eigen::Index>(r0.size());
        if (m <= n) {
            u.message = "there are no more scored points than free parameters";
            return u;
        }
        Eigen::MatrixXd jac(m, n);
        for (Eigen::Index j = 0; j < n; ++j) {
            const Parameter& p = table[free[static_cast<std::size_t>(j)]];
            const auto k = static_cast<std::size_t>(free[static_cast<std::size_t>(j)]);
            const double v = static_cast<double>(values[k]);
            const double lo = static_cast<double>(p.min), hi = static_cast<double>(p.max);
            const double h = 1e-5 * std::max(std::abs(v), 1e-3 * (hi - lo));
            // Central where the step stays within the limits, one-sided at a limit.
            const double up = std::min(v + h, std::max(hi, v));
            const double down = std::max(v - h, std::min(lo, v));
            x[k] = up;
            problem.residuals(x, ws, plus);
            x[k] = down;
            problem.residuals(x, ws, minus);
            x[k] = values[k];
            if (plus.size() != r0.size() || minus.size() != r0.size() || !(up > down)) {
                u.message = "the residuals of '" + p.name + "' cannot be differentiated";
                return u;
            }
            for (Eigen::Index i = 0; i < m; ++i)
                jac(i, j) =
                    (plus[static_cast<std::size_t>(i)] - minus[static_cast<std::size_t>(i)]) /
                    (up - down);
        }
        double chi2 = 0;
        for (double r : r0)
            chi2 += r * r;
        u.points = static_cast<int>(m);
        u.residualVariance = chi2 / static_cast<double>(m - n);

        // Columns scaled to unit length, so that the singular values compare parameters of any
        // unit; a direction whose singular value is tiny is not fixed by the data.
        Eigen::VectorXd scale(n);
        for (Eigen::Index j = 0; j < n; ++j) {
            const double norm = jac.col(j).norm();
            scale(j) = norm > 0 && std::isfinite(norm) ? norm : 1;
            jac.col(j) /= scale(j);
        }
        Eigen::JacobiSVD<Eigen::MatrixXd> svd(jac, Eigen::ComputeThinV);
        const Eigen::VectorXd& s = svd.singularValues();
        const Eigen::MatrixXd& V = svd.matrixV();
        const double cutoff = 1e-6 * s(0);
        Eigen::MatrixXd inv = Eigen::MatrixXd::Zero(n, n);
        u.parameters.resize(free.size());
        for (Eigen::Index k = 0; k < n; ++k) {
            if (s(k) > cutoff) {
                inv += V.col(k) * V.col(k).transpose() / (s(k) * s(k));
                continue;
            }
            for (Eigen::Index j = 0; j < n; ++j)
                if (std::abs(V(j, k)) > 0.3)
                    u.parameters[static_cast<std::size_t>(j)].undetermined = true;
        }
        for (Eigen::Index j = 0; j < n; ++j)
            if (jac.col(j).norm() == 0)
                u.parameters[static_cast<std::size_t>(j)].undetermined = true;
        const Eigen::MatrixXd cov =
            u.residualVariance * scale.asDiagonal().inverse() * inv * scale.asDiagonal().inverse();
        u.covariance.assign(free.size(), std::vector<double>(free.size()));
        u.correlation = u.covariance;
        for (Eigen::Index i = 0; i < n; ++i)
            for (Eigen::Index j = 0; j < n; ++j) {
                u.covariance[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = cov(i, j);
                const double d = std::sqrt(cov(i, i) * cov(j, j));
                u.correlation[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] =
                    d > 0 ? cov(i, j) / d : (i == j ? 1 : 0);
            }
        bool anyUndetermined = false;
        for (Eigen::Index j = 0; j < n; ++j) {
            ParameterUncertainty& pu = u.parameters[static_cast<std::size_t>(j)];
            const Parameter& p = table[free[static_cast<std::size_t>(j)]];
            pu.index = free[static_cast<std::size_t>(j)];
            pu.value = static_cast<double>(values[static_cast<std::size_t>(pu.index)]);
            const double tol = 1e-6 * static_cast<double>(p.max - p.min);
            pu.atMinimum = pu.value <= static_cast<double>(p.min) + tol;
            pu.atMaximum = pu.value >= static_cast<double>(p.max) - tol;
            pu.standardError = pu.undetermined ? std::numeric_limits<double>::quiet_NaN()
                                               : std::sqrt(std::max(cov(j, j), 0.0));
            anyUndetermined = anyUndetermined || pu.undetermined;
        }
        u.valid = true;
        if (anyUndetermined)
            u.message = "the problem is near-singular: some parameters are not determined";
    } catch (const std::exception& e) {
        u.valid = false;
        u.message = std::string("the residuals cannot be computed: ") + e.what();
    }
    return u;
}

}  // namespace kelvarin::fit
