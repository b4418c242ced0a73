#include "cli/fit_command.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "fit/differential_evolution.hpp"
#include "fit/fit_report.hpp"
#include "fit/problem_evaluator.hpp"
#include "fit/profile_band.hpp"
#include "fit/project_file.hpp"
#include "fit/project_fit.hpp"
#include "fit/project_search.hpp"
#include "fit/worker_pool.hpp"
#include "results/output_files.hpp"

namespace kelvarin::cli {

namespace {

/// The windows' evolutionary search on the problem, as the project sets it.
fit::SearchResult runWindowsSearch(const fit::Project& project, fit::FitProblem& problem,
                                   const FitArgs& args, std::ostream& err,
                                   std::vector<Extended>& best) {
    fit::SearchCallback progress;
    if (!args.quiet) {
        progress = [&err, &project](const fit::SearchProgress& p) {
            if (p.kind == fit::SearchProgress::Kind::GenerationDone)
                err << "generation " << p.generation << "/" << project.fit.generations
                    << ", best error " << static_cast<double>(p.bestError) << " %\n";
            return true;
        };
    }
    fit::ProjectFitResult fitted = fit::fitProject(project, problem, args.threads, progress);
    best = fitted.best;
    return fitted.search;
}

}  // namespace

FitOutcome runProjectFit(const fit::Project& project, fit::FitProblem& problem, const FitArgs& args,
                         std::ostream& err) {
    const auto started = std::chrono::steady_clock::now();
    FitOutcome o;
    fit::FitReport& report = o.report;
    report.project = project.path;
    report.table = problem.parameters();
    report.threads = fit::WorkerPool::resolve(args.threads);
    if (problem.geneOrder().empty())
        throw fit::ProjectError(project.path + ": every parameter is fixed; nothing to fit");

    std::vector<Extended> best;
    if (project.fit.optimizer == "de") {
        // A smooth objective: the values are not rounded to single precision.
        problem.setSinglePrecision(false);
        fit::DeOptions de;
        de.strategy = project.fit.strategy == "best1bin" ? fit::DeStrategy::Best1Bin
                                                         : fit::DeStrategy::Rand1Bin;
        de.population = project.fit.population < 4 ? 4 : project.fit.population;
        de.maxGenerations = project.fit.generations < 1 ? 1 : project.fit.generations;
        de.seed =
            project.fit.seeded ? project.fit.seed : static_cast<std::uint64_t>(std::time(nullptr));
        de.tolerance = project.fit.tolerance;
        de.budgetSeconds = project.fit.budgetSeconds;
        de.threads = args.threads;
        if (!args.quiet)
            de.progress = [&err, &de](int generation, double error) {
                err << "generation " << generation << "/" << de.maxGenerations << ", best error "
                    << fit::shortNumber(error) << " %\n";
                return true;
            };
        const fit::DeResult r = fit::runDifferentialEvolution(problem, de);
        report.search = std::string("differential evolution (") +
                        (de.strategy == fit::DeStrategy::Best1Bin ? "best/1/bin" : "rand/1/bin") +
                        ", self-adapting F and CR), population " + std::to_string(de.population) +
                        ", seed " + std::to_string(de.seed);
        report.searchStop = fit::deStopName(r.stop);
        report.global = r.summary;
        best = r.summary.best;
    } else if (project.fit.optimizer == "none") {
        // No global search: the project's values, polished when asked for.
        report.search = "none (the project's values)";
        report.searchStop = "none";
        best = problem.parameters().values();
        report.global.best = best;
    } else {
        const fit::SearchResult r = runWindowsSearch(project, problem, args, err, best);
        report.search = "evolutionary search, population " +
                        std::to_string(project.fit.population) + ", " +
                        std::to_string(project.fit.generations) + " generations";
        report.searchStop = r.stoppedEarly ? "time" : "generations";
        report.global = r.summary;
    }
    if (!report.global.usable()) {
        o.failed = true;
        o.message = report.global.message;
        return o;
    }
    // The best candidate, evaluated once more so that its curves are the ones written.
    {
        fit::ProblemWorkspace ws = problem.makeWorkspace();
        report.global.bestError = problem.evaluate(best, ws);
    }
    report.global.best = best;
    problem.setSinglePrecision(false);
    if (project.fit.polish) {
        report.polish = fit::polishLeastSquares(problem, best);
        // A failed polish keeps the global search's result; the report says why.
        if (report.polish->summary.usable()) best = report.polish->summary.best;
    }
    report.values = best;
    report.uncertainty = fit::estimateUncertainty(problem, best);
    report.statistics = fit::fitStatistics(problem, best);
    o.band = fit::profileBand(problem, best, report.uncertainty);
    o.workspace = std::make_unique<fit::ProblemWorkspace>(problem.makeWorkspace());
    problem.evaluate(best, *o.workspace);
    report.global.warnings = fit::rangeWarnings(problem, *o.workspace);
    problem.commit(*o.workspace);
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return o;
}

void writeFitResults(const std::string& stem, const fit::FitProblem& problem, const FitOutcome& o) {
    std::string fitText;
    for (int d = 0; d < problem.datasetCount(); ++d) {
        const CurveStore& cs = problem.dataset(d).state->curveStore;
        if (d > 0) fitText += "\n";
        fitText += fitFileText(cs.measAngle, cs.measIntensity, cs.calcCurve, cs.calcCount);
    }
    fit::Summary summary = o.report.global;
    summary.bestError = static_cast<Extended>(o.report.statistics.logError);
    writeResultFiles(
        {{stem + ".fit", fitText},
         {stem + ".params.txt",
          fit::parametersText(problem.parameters(), o.report.values, summary)},
         {stem + ".profile.csv", fit::profileCsv(problem.model().fillsSample()
                                                     ? o.workspace->sample
                                                     : sampleOf(o.workspace->datasets[0]->profile),
                                                 o.band)},
         {stem + ".report.txt", fit::reportText(o.report)},
         {stem + ".report.json", fit::reportJson(o.report)}});
}

int doFit(const FitArgs& args, std::ostream& out, std::ostream& err) {
    const fit::Project project = fit::loadProject(args.project);
    std::unique_ptr<fit::FitProblem> problem = fit::buildProblem(project);
    FitOutcome o = runProjectFit(project, *problem, args, err);
    if (o.failed) {
        err << "kelvarin-cli: " << args.project << ": " << o.message << "\n";
        return 1;
    }
    const std::string stem = std::filesystem::path(args.project).replace_extension("").string();
    writeFitResults(stem, *problem, o);
    for (const std::string& w : o.report.global.warnings)
        err << "kelvarin-cli: warning: " << w << "\n";
    if (!args.quiet) {
        out << fit::reportText(o.report);
        out << "wrote " << stem << ".fit, .params.txt, .profile.csv, .report.txt, .report.json\n";
    }
    return 0;
}

}  // namespace kelvarin::cli
