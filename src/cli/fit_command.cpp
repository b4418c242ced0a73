#include "cli/fit_command.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "fit/problem_evaluator.hpp"
#include "fit/project_file.hpp"
#include "fit/project_search.hpp"
#include "results/output_files.hpp"

namespace kelvarin::cli {

int doFit(const FitArgs& args, std::ostream& out, std::ostream& err) {
    const fit::Project project = fit::loadProject(args.project);
    std::unique_ptr<fit::FitProblem> problem = fit::buildProblem(project);
    const fit::ParameterTable& table = problem->parameters();
    fit::ProjectSearch search = fit::prepareSearch(project, *problem);
    fit::GenePool& pool = search.pool;
    fit::EvolutionaryOptions& options = search.options;
    if (!args.quiet) {
        options.progress = [&err, &project](const fit::SearchProgress& p) {
            if (p.kind == fit::SearchProgress::Kind::GenerationDone)
                err << "generation " << p.generation << "/" << project.fit.generations
                    << ", best error " << static_cast<double>(p.bestError) << " %\n";
            return true;
        };
    }

    fit::ProblemEvaluator evaluator(*problem, args.threads);
    fit::SearchResult result = fit::runEvolutionary(pool, evaluator, options);
    if (!result.summary.usable()) {
        err << "kelvarin-cli: " << args.project << ": " << result.summary.message << "\n";
        return 1;
    }
    // The best candidate, evaluated once more so that its curves are the ones written.
    fit::ProblemWorkspace ws = problem->makeWorkspace();
    const std::vector<Extended> best = fit::finishSearch(*problem, evaluator, pool, result, ws);
    const std::filesystem::path base = std::filesystem::path(args.project).replace_extension("");
    std::string fitText;
    for (int d = 0; d < problem->datasetCount(); ++d) {
        const CurveStore& cs = problem->dataset(d).state->curveStore;
        if (d > 0) fitText += "\n";
        fitText += fitFileText(cs.measAngle, cs.measIntensity, cs.calcCurve, cs.calcCount);
    }
    writeResultFile(base.string() + ".fit", fitText);
    writeResultFile(base.string() + ".params.txt",
                    fit::parametersText(table, best, result.summary));
    writeResultFile(base.string() + ".profile.csv", fit::profileCsv(ws.datasets[0]->profile));
    if (!args.quiet) {
        out << result.summary.brief() << "\n" << fit::parametersText(table, best, result.summary);
        out << "wrote " << base.string() << ".fit, .params.txt, .profile.csv\n";
    }
    return 0;
}

}  // namespace kelvarin::cli
