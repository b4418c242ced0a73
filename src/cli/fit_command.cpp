#include "cli/fit_command.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "fit/project_file.hpp"
#include "fit/project_fit.hpp"
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
std::string profileCsv(const StrainProfile& profile) {
    std::ostringstream out;
    out << "depth_angstrom,strain_percent,damage\n";
    double depth = 0;
    for (int i = profile.layerCount; i >= 1; --i) {
        const double strain =
            static_cast<double>(profile.profileStrain[static_cast<std::size_t>(i)]);
        out << fixed(depth, 10) << "," << fixed(100 * strain, 10) << ",1\n";
        depth += static_cast<double>(profile.profileThickness[static_cast<std::size_t>(i)]);
    }
    return out.str();
}

}  // namespace

int doFit(const FitArgs& args, std::ostream& out, std::ostream& err) {
    const fit::Project project = fit::loadProject(args.project);
    std::unique_ptr<fit::FitProblem> problem = fit::buildProblem(project);
    const fit::ParameterTable& table = problem->parameters();
    fit::SearchCallback progress;
    if (!args.quiet) {
        progress = [&err, &project](const fit::SearchProgress& p) {
            if (p.kind == fit::SearchProgress::Kind::GenerationDone)
                err << "generation " << p.generation << "/" << project.fit.generations
                    << ", best error " << fixed(static_cast<double>(p.bestError)) << " %\n";
            return true;
        };
    }
    fit::ProjectFitResult fitted = fit::fitProject(project, *problem, args.threads, progress);
    const fit::Summary& summary = fitted.search.summary;
    if (!fitted.evaluated) {
        err << "kelvarin-cli: " << args.project << ": " << summary.message << "\n";
        return 1;
    }
    const std::vector<Extended>& best = fitted.best;

    const std::filesystem::path base = std::filesystem::path(args.project).replace_extension("");
    std::string fitText;
    for (int d = 0; d < problem->datasetCount(); ++d) {
        const CurveStore& cs = problem->dataset(d).state->curveStore;
        if (d > 0) fitText += "\n";
        fitText += fitFileText(cs.measAngle, cs.measIntensity, cs.calcCurve, cs.calcCount);
    }
    writeResultFile(base.string() + ".fit", fitText);
    writeResultFile(base.string() + ".params.txt", parametersText(table, best, summary));
    writeResultFile(base.string() + ".profile.csv", profileCsv(fitted.profile));
    if (!args.quiet) {
        out << summary.brief() << "\n" << parametersText(table, best, summary);
        out << "wrote " << base.string() << ".fit, .params.txt, .profile.csv\n";
    }
    return 0;
}

}  // namespace kelvarin::cli
