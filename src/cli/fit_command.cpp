#include "cli/fit_command.hpp"

#include <filesystem>
#include <sstream>

#include "fit/fit_report.hpp"
#include "fit/project_file.hpp"
#include "fit/project_fit.hpp"
#include "fit/project_search.hpp"
#include "results/output_files.hpp"

namespace kelvarin::cli {

FitOutcome runProjectFit(const fit::Project& project, fit::FitProblem& problem, const FitArgs& args,
                         std::ostream& err) {
    fit::ProjectFitOptions options;
    options.threads = args.threads;
    if (!args.quiet)
        options.progress = [&err](const fit::ProjectFitProgress& p) {
            err << "generation " << p.generation << "/" << p.generations << ", best error "
                << fit::shortNumber(p.bestError) << " %\n";
            return true;
        };
    return fit::fitProject(project, problem, options);
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
    writeResultFiles({{stem + ".fit", fitText},
                      {stem + ".params.txt",
                       fit::parametersText(problem.parameters(), o.report.values, summary)},
                      {stem + ".profile.csv", fit::profileCsv(o.sample, o.band)},
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
