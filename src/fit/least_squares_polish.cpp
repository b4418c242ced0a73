#include "fit/least_squares_polish.hpp"

#include <ceres/ceres.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

namespace kelvarin::fit {

namespace {

/// The residual vector of the problem as a function of its free parameters.
class LogResiduals {
public:
    LogResiduals(const FitProblem& problem, std::vector<int> free, std::vector<Extended> base)
        : problem_(problem),
          free_(std::move(free)),
          values_(std::move(base)),
          ws_(problem.makeWorkspace()) {}

    bool operator()(double const* const* parameters, double* residuals) const {
        for (std::size_t j = 0; j < free_.size(); ++j)
            values_[static_cast<std::size_t>(free_[j])] = parameters[0][j];
        try {
            problem_.residuals(values_, ws_, out_);
        } catch (const std::exception&) {
            return false;  // the solver shortens its step
        }
        if (out_.size() != count) return false;
        for (std::size_t i = 0; i < out_.size(); ++i) {
            if (!std::isfinite(out_[i])) return false;
            residuals[i] = out_[i];
        }
        return true;
    }

    std::size_t count = 0;

private:
    const FitProblem& problem_;
    std::vector<int> free_;
    mutable std::vector<Extended> values_;
    mutable ProblemWorkspace ws_;
    mutable std::vector<double> out_;
};

}  // namespace

PolishResult polishLeastSquares(const FitProblem& problem, const std::vector<Extended>& start,
                                const PolishOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    PolishResult result;
    Summary& summary = result.summary;
    summary.best = start;
    const auto fail = [&](std::string why) {
        summary.termination = Termination::Failed;
        summary.message = std::move(why);
        summary.best = start;
        summary.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return result;
    };
    if (std::string why = problem.validate(); !why.empty()) return fail(why);
    const ParameterTable& table = problem.parameters();
    if (start.size() != static_cast<std::size_t>(table.size()))
        return fail("the start has the wrong number of values");
    const std::vector<int> free = problem.geneOrder();
    if (free.empty()) return fail("every parameter is fixed");

    std::vector<double> x;
    for (int g : free)
        x.push_back(std::clamp(static_cast<double>(start[static_cast<std::size_t>(g)]),
                               static_cast<double>(table[g].min),
                               static_cast<double>(table[g].max)));
    std::vector<Extended> base = start;
    for (std::size_t j = 0; j < free.size(); ++j)
        base[static_cast<std::size_t>(free[j])] = x[j];

    std::vector<double> r0;
    ProblemWorkspace ws = problem.makeWorkspace();
    try {
        problem.residuals(base, ws, r0);
        summary.bestError = problem.evaluate(base, ws);
    } catch (const std::exception& e) {
        return fail(std::string("the start cannot be scored: ") + e.what());
    }
    if (r0.size() <= free.size())
        return fail("there are no more scored points than free parameters");
    for (double r : r0)
        if (!std::isfinite(r)) return fail("a residual at the start is not a finite number");

    auto* functor = new LogResiduals(problem, free, base);
    functor->count = r0.size();
    auto* cost = new ceres::DynamicNumericDiffCostFunction<LogResiduals, ceres::CENTRAL>(functor);
    cost->AddParameterBlock(static_cast<int>(x.size()));
    cost->SetNumResiduals(static_cast<int>(r0.size()));
    ceres::Problem lsq;
    lsq.AddResidualBlock(cost, nullptr, x.data());
    for (std::size_t j = 0; j < free.size(); ++j) {
        const Parameter& p = table[free[j]];
        lsq.SetParameterLowerBound(x.data(), static_cast<int>(j), static_cast<double>(p.min));
        lsq.SetParameterUpperBound(x.data(), static_cast<int>(j), static_cast<double>(p.max));
    }
    ceres::Solver::Options so;
    so.linear_solver_type = ceres::DENSE_QR;
    so.minimizer_type = ceres::TRUST_REGION;
    so.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
    so.max_num_iterations = options.maxIterations;
    so.function_tolerance = options.functionTolerance;
    so.logging_type = ceres::SILENT;
    so.minimizer_progress_to_stdout = false;
    if (options.budgetSeconds > 0) so.max_solver_time_in_seconds = options.budgetSeconds;
    ceres::Solver::Summary cs;
    ceres::Solve(so, &lsq, &cs);
    result.startCost = cs.initial_cost;
    result.finalCost = cs.final_cost;
    result.iterations = static_cast<int>(cs.iterations.size());
    summary.evaluations = cs.num_residual_evaluations + cs.num_jacobian_evaluations;
    if (!cs.IsSolutionUsable() || !std::isfinite(cs.final_cost))
        return fail("the least-squares polish failed: " + cs.message);

    std::vector<Extended> polished = start;
    for (std::size_t j = 0; j < free.size(); ++j)
        polished[static_cast<std::size_t>(free[j])] = x[j];
    try {
        summary.bestError = problem.evaluate(polished, ws);
    } catch (const std::exception& e) {
        return fail(std::string("the polished values cannot be scored: ") + e.what());
    }
    summary.best = polished;
    summary.termination = Termination::Finished;
    summary.message = cs.termination_type == ceres::CONVERGENCE
                          ? "converged: " + cs.message
                          : "ended without convergence: " + cs.message;
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

}  // namespace kelvarin::fit
