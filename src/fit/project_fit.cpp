#include "fit/project_fit.hpp"

#include <chrono>
#include <ctime>
#include <functional>
#include <limits>

#include "fit/differential_evolution.hpp"
#include "fit/problem_evaluator.hpp"
#include "fit/project_search.hpp"
#include "fit/worker_pool.hpp"

namespace kelvarin::fit {

namespace {

/// After each generation: its number, the best error so far (percent) and that candidate (every
/// table entry); false stops the search.
using GenerationStep = std::function<bool(int generation, double error, std::vector<Extended>)>;

/// The windows' evolutionary search on the problem, as the project sets it, its best candidate
/// evaluated once more so that the problem's datasets hold its curves.
SearchResult runWindowsSearch(const Project& project, FitProblem& problem, int threads,
                              const GenerationStep& step, std::vector<Extended>& best) {
    ProjectSearch search = prepareSearch(project, problem);
    EvolutionaryOptions& options = search.options;
    ProblemEvaluator evaluator(problem, threads);
    // The best row scored so far: its genes and, after them, its error.
    std::vector<float> bestRow(static_cast<std::size_t>(search.pool.genes) + 1,
                               std::numeric_limits<float>::infinity());
    if (step)
        options.progress = [&](const SearchProgress& p) {
            const int genes = search.pool.genes;
            if (p.kind == SearchProgress::Kind::CandidateScored && p.genes[genes] < bestRow.back())
                bestRow.assign(p.genes, p.genes + genes + 1);
            if (p.kind != SearchProgress::Kind::GenerationDone) return true;
            return step(p.generation, static_cast<double>(p.bestError),
                        evaluator.valuesOf(bestRow.data()));
        };
    if (project.fit.budgetSeconds > 0) {
        // A time budget ends the search after the generation in which it runs out.
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration<double>(project.fit.budgetSeconds);
        options.stopRequested = [end] { return std::chrono::steady_clock::now() >= end; };
    }
    SearchResult result = runEvolutionary(search.pool, evaluator, options);
    if (!result.summary.usable()) return result;
    ProblemWorkspace ws = problem.makeWorkspace();
    best = finishSearch(problem, evaluator, search.pool, result, ws);
    return result;
}

}  // namespace

ProjectFitResult fitProject(const Project& project, FitProblem& problem,
                            const ProjectFitOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    ProjectFitResult o;
    FitReport& report = o.report;
    report.project = project.path;
    report.table = problem.parameters();
    report.threads = WorkerPool::resolve(options.threads);
    if (problem.geneOrder().empty())
        throw ProjectError(project.path + ": every parameter is fixed; nothing to fit");

    // The caller's answer after each generation; false stops the search there.
    const auto ask = [&o, &options](int generation, int generations, double error,
                                    std::vector<Extended> best) {
        if (o.stopped) return false;
        o.stopped = !options.progress({generation, generations, error, std::move(best)});
        return !o.stopped;
    };
    std::vector<Extended> best;
    if (project.fit.optimizer == "de") {
        // A smooth objective: the values are not rounded to single precision.
        problem.setSinglePrecision(false);
        DeOptions de;
        de.strategy =
            project.fit.strategy == "best1bin" ? DeStrategy::Best1Bin : DeStrategy::Rand1Bin;
        de.population = project.fit.population < 4 ? 4 : project.fit.population;
        de.maxGenerations = project.fit.generations < 1 ? 1 : project.fit.generations;
        de.seed =
            project.fit.seeded ? project.fit.seed : static_cast<std::uint64_t>(std::time(nullptr));
        de.tolerance = project.fit.tolerance;
        de.stallGenerations = project.fit.stallGenerations;
        de.budgetSeconds = project.fit.budgetSeconds;
        de.threads = options.threads;
        std::vector<Extended> bestSoFar;
        if (options.progress) {
            de.bestSoFar = [&bestSoFar](const std::vector<Extended>& b) { bestSoFar = b; };
            de.progress = [&ask, &de, &bestSoFar](int generation, double error) {
                return ask(generation, de.maxGenerations, error, std::move(bestSoFar));
            };
        }
        const DeResult r = runDifferentialEvolution(problem, de);
        report.search = std::string("differential evolution (") +
                        (de.strategy == DeStrategy::Best1Bin ? "best/1/bin" : "rand/1/bin") +
                        ", self-adapting F and CR), population " + std::to_string(de.population) +
                        ", seed " + std::to_string(de.seed);
        report.searchStop = deStopName(r.stop);
        report.global = r.summary;
        o.generations = r.generations;
        best = r.summary.best;
    } else if (project.fit.optimizer == "none") {
        // No global search: the project's values, polished when asked for.
        report.search = "none (the project's values)";
        report.searchStop = "none";
        best = problem.parameters().values();
        report.global.best = best;
    } else {
        GenerationStep step;
        if (options.progress)
            step = [&ask, &project](int generation, double error, std::vector<Extended> b) {
                return ask(generation, project.fit.generations, error, std::move(b));
            };
        const SearchResult r = runWindowsSearch(project, problem, options.threads, step, best);
        report.search = "evolutionary search, population " +
                        std::to_string(project.fit.population) + ", " +
                        std::to_string(project.fit.generations) + " generations";
        report.searchStop = o.stopped ? "stopped" : r.stoppedEarly ? "time" : "generations";
        report.global = r.summary;
        o.generations = r.generationsDone;
    }
    if (!report.global.usable()) {
        o.failed = true;
        o.message = report.global.message;
        return o;
    }
    // The best candidate, evaluated once more so that its curves are the ones written.
    {
        ProblemWorkspace ws = problem.makeWorkspace();
        report.global.bestError = problem.evaluate(best, ws);
    }
    report.global.best = best;
    problem.setSinglePrecision(false);
    if (project.fit.polish && !o.stopped) {
        report.polish = polishLeastSquares(problem, best);
        // A failed polish keeps the global search's result; the report says why.
        if (report.polish->summary.usable()) best = report.polish->summary.best;
    }
    report.values = best;
    report.uncertainty = estimateUncertainty(problem, best);
    report.statistics = fitStatistics(problem, best);
    o.band = profileBand(problem, best, report.uncertainty);
    o.workspace = std::make_unique<ProblemWorkspace>(problem.makeWorkspace());
    problem.evaluate(best, *o.workspace);
    report.global.warnings = rangeWarnings(problem, *o.workspace);
    problem.commit(*o.workspace);
    o.sample = problem.model().fillsSample() ? o.workspace->sample
                                             : sampleOf(o.workspace->datasets[0]->profile);
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return o;
}

}  // namespace kelvarin::fit
