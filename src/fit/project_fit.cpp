#include "fit/project_fit.hpp"

#include <chrono>
#include <ctime>

#include "fit/problem_evaluator.hpp"
#include "fit/project_search.hpp"

namespace kelvarin::fit {

ProjectFitResult fitProject(const Project& project, FitProblem& problem, int threads,
                            const SearchCallback& progress) {
    ProjectSearch search = prepareSearch(project, problem);
    EvolutionaryOptions& options = search.options;
    options.progress = progress;
    if (project.fit.budgetSeconds > 0) {
        // A time budget ends the search after the generation in which it runs out.
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration<double>(project.fit.budgetSeconds);
        options.stopRequested = [end] { return std::chrono::steady_clock::now() >= end; };
    }
    ProblemEvaluator evaluator(problem, threads);
    ProjectFitResult out;
    out.search = runEvolutionary(search.pool, evaluator, options);
    if (!out.search.summary.usable()) return out;
    // The best candidate, evaluated once more so that its curves are the ones reported.
    ProblemWorkspace ws = problem.makeWorkspace();
    out.best = finishSearch(problem, evaluator, search.pool, out.search, ws);
    out.profile = ws.datasets[0]->profile;
    out.evaluated = true;
    return out;
}

}  // namespace kelvarin::fit
