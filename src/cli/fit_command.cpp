#include "cli/fit_command.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "fit/problem_evaluator.hpp"
#include "fit/project_file.hpp"
#include "results/output_files.hpp"

namespace kelvarin::cli {

namespace {

std::string fixed(double v, int digits = 6) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    return text;
}

/// Parameters with their units, one a line, then the error of the fit.
std::string parametersText(const fit::ParameterTable& table, const std::vector<Extended>& best,
                           const fit::Summary& summary) {
    std::ostringstream out;
    for (int i = 0; i < table.size(); ++i) {
        const fit::Parameter& p = table[i];
        out << p.name << " = " << fixed(static_cast<double>(best[static_cast<std::size_t>(i)]), 9);
        if (!p.unit.empty()) out << " " << p.unit;
        if (!p.free) out << " (fixed)";
        out << "\n";
    }
    out << "error = " << fixed(static_cast<double>(summary.bestError), 9) << " %\n";
    out << "# " << summary.brief() << "\n";
    return out.str();
}

/// Depth from the surface (Å) of each lamella's top, its strain (%) and damage factor.
std::string profileCsv(const Sample& sample) {
    std::ostringstream out;
    out << "depth_angstrom,strain_percent,damage\n";
    double depth = 0;
    for (const Lamella& l : sample.lamellae) {
        out << fixed(depth, 10) << "," << fixed(100 * l.strain, 10) << "," << fixed(l.damage, 10)
            << "\n";
        depth += l.thicknessAngstrom;
    }
    return out.str();
}

}  // namespace

int doFit(const FitArgs& args, std::ostream& out, std::ostream& err) {
    const fit::Project project = fit::loadProject(args.project);
    std::unique_ptr<fit::FitProblem> problem = fit::buildProblem(project);
    const fit::ParameterTable& table = problem->parameters();
    const std::vector<int> genes = problem->geneOrder();
    if (genes.empty()) throw fit::ProjectError(args.project + ": every parameter is fixed");

    // The first population is drawn as the windows draw it: row after row, gene after gene,
    // from the seeded generator.
    fit::GenePool pool(static_cast<int>(genes.size()), project.fit.population);
    pool.generator.seed(project.fit.seeded ? project.fit.seed
                                           : static_cast<std::uint32_t>(std::time(nullptr)));
    fit::EvolutionaryOptions options;
    for (int g : genes) {
        options.lo.push_back(table[g].min);
        options.hi.push_back(table[g].max);
        options.maxMutation.push_back(table[g].maxMutation);
    }
    for (int r = 0; r < pool.size; ++r)
        fit::drawRow(pool, pool.row(r), options.lo, options.hi);
    options.generations = project.fit.generations;
    options.mutationProbability = project.fit.mutationProbability;
    if (!args.quiet) {
        options.progress = [&err, &project](const fit::SearchProgress& p) {
            if (p.kind == fit::SearchProgress::Kind::GenerationDone)
                err << "generation " << p.generation << "/" << project.fit.generations
                    << ", best error " << fixed(static_cast<double>(p.bestError)) << " %\n";
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
    std::vector<Extended> best = evaluator.valuesOf(pool.row(result.finalRow));
    fit::ProblemWorkspace ws = problem->makeWorkspace();
    result.summary.bestError = problem->evaluate(best, ws);
    problem->commit(ws);
    result.summary.best = best;

    const std::filesystem::path base = std::filesystem::path(args.project).replace_extension("");
    std::string fitText;
    for (int d = 0; d < problem->datasetCount(); ++d) {
        const CurveStore& cs = problem->dataset(d).state->curveStore;
        if (d > 0) fitText += "\n";
        fitText += fitFileText(cs.measAngle, cs.measIntensity, cs.calcCurve, cs.calcCount);
    }
    writeResultFile(base.string() + ".fit", fitText);
    writeResultFile(base.string() + ".params.txt", parametersText(table, best, result.summary));
    writeResultFile(
        base.string() + ".profile.csv",
        profileCsv(problem->model().fillsSample() ? ws.sample : sampleOf(ws.datasets[0]->profile)));
    if (!args.quiet) {
        out << result.summary.brief() << "\n" << parametersText(table, best, result.summary);
        out << "wrote " << base.string() << ".fit, .params.txt, .profile.csv\n";
    }
    return 0;
}

}  // namespace kelvarin::cli
