#include "fit/fit_statistics.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvarin::fit {

FitStatistics countStatistics(std::span<const double> measured, std::span<const double> computed,
                              int freeParameters) {
    FitStatistics s;
    s.freeParameters = freeParameters;
    double norm = 0;
    const std::size_t n = std::min(measured.size(), computed.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double m = measured[i];
        const double c = computed[i];
        if (!std::isfinite(m) || !std::isfinite(c)) continue;
        if (m <= 0) ++s.nonPositive;
        const double variance = std::max(m, 1.0);
        s.chi2 += (m - c) * (m - c) / variance;
        norm += m * m / variance;
        ++s.points;
    }
    const int dof = s.points - freeParameters;
    s.reducedChi2 = dof > 0 ? s.chi2 / dof : std::numeric_limits<double>::quiet_NaN();
    s.weightedR =
        norm > 0 ? 100 * std::sqrt(s.chi2 / norm) : std::numeric_limits<double>::quiet_NaN();
    return s;
}

FitStatistics fitStatistics(const FitProblem& problem, const std::vector<Extended>& values) {
    ProblemWorkspace ws = problem.makeWorkspace();
    const double logError = static_cast<double>(problem.evaluate(values, ws));
    std::vector<double> measured, computed;
    for (int d = 0; d < problem.datasetCount(); ++d) {
        const CurveStore& cs = problem.dataset(d).state->curveStore;
        const auto& curve = ws.datasets[static_cast<std::size_t>(d)]->curve;
        for (int i = 0; i < curve.calcCount; ++i) {
            measured.push_back(static_cast<double>(cs.measIntensity[static_cast<std::size_t>(i)]));
            computed.push_back(static_cast<double>(curve.calcCurve[static_cast<std::size_t>(i)]));
        }
    }
    FitStatistics s =
        countStatistics(measured, computed, static_cast<int>(problem.geneOrder().size()));
    s.logError = logError;
    return s;
}

}  // namespace kelvarin::fit
