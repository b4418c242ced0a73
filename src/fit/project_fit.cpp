#include "fit/project_fit.hpp"

#include <chrono>
#include <ctime>

#include "fit/problem_evaluator.hpp"

namespace kelvarin::fit {

ProjectFitResult fitProject(const Project& project, FitProblem& problem, int threads,
                            const SearchCallback& progress) {
    const ParameterTable& table = problem.parameters();
    const std::vector<int> genes = problem.geneOrder();
    if (genes.empty()) throw ProjectError(project.path + ": every parameter is fixed");

    // The first population is drawn as the windows draw it: row after row, gene after gene,
    // from the seeded generator.
    GenePool pool(static_cast<int>(genes.size()), project.fit.population);
    pool.generator.seed(project.fit.seeded ? project.fit.seed
                                           : static_cast<std::uint32_t>(std::time(nullptr)));
    EvolutionaryOptions options;
    for (int g : genes) {
        options.lo.push_back(table[g].min);
        options.hi.push_back(table[g].max);
        options.maxMutation.push_back(table[g].maxMutation);
    }
    for (int r = 0; r < pool.size; ++r)
        drawRow(pool, pool.row(r), options.lo, options.hi);
    options.generations = project.fit.generations;
    options.mutationProbability = project.fit.mutationProbability;
    options.progress = progress;
    if (project.fit.budgetSeconds > 0) {
        // A time budget ends the search after the generation in which it runs out.
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration<double>(project.fit.budgetSeconds);
        options.stopRequested = [end] { return std::chrono::steady_clock::now() >= end; };
    }

    ProblemEvaluator evaluator(problem, threads);
    ProjectFitResult out;
    out.search = runEvolutionary(pool, evaluator, options);
    if (!out.search.summary.usable()) return out;
    // The best candidate, evaluated once more so that its curves are the ones reported.
    out.best = evaluator.valuesOf(pool.row(out.search.finalRow));
    ProblemWorkspace ws = problem.makeWorkspace();
    out.search.summary.bestError = problem.evaluate(out.best, ws);
    problem.commit(ws);
    out.search.summary.best = out.best;
    out.profile = ws.datasets[0]->profile;
    out.evaluated = true;
    return out;
}

}  // namespace kelvarin::fit
