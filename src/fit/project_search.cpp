#include "fit/project_search.hpp"

#include <cstdio>
#include <ctime>
#include <sstream>

namespace kelvarin::fit {

std::string shortNumber(double v, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    return text;
}

ProjectSearch prepareSearch(const Project& project, const FitProblem& problem) {
    const ParameterTable& table = problem.parameters();
    const std::vector<int> genes = problem.geneOrder();
    if (genes.empty()) throw ProjectError(project.path + ": every parameter is fixed");
    ProjectSearch search{GenePool(static_cast<int>(genes.size()), project.fit.population), {}};
    GenePool& pool = search.pool;
    EvolutionaryOptions& options = search.options;
    pool.generator.seed(project.fit.seeded ? project.fit.seed
                                           : static_cast<std::uint32_t>(std::time(nullptr)));
    for (int g : genes) {
        options.lo.push_back(table[g].min);
        options.hi.push_back(table[g].max);
        options.maxMutation.push_back(table[g].maxMutation);
    }
    for (int r = 0; r < pool.size; ++r)
        drawRow(pool, pool.row(r), options.lo, options.hi);
    options.generations = project.fit.generations;
    options.mutationProbability = project.fit.mutationProbability;
    return search;
}

std::vector<Extended> finishSearch(const FitProblem& problem, const ProblemEvaluator& evaluator,
                                   const GenePool& pool, SearchResult& result,
                                   ProblemWorkspace& ws) {
    std::vector<Extended> best = evaluator.valuesOf(pool.row(result.finalRow));
    result.summary.bestError = problem.evaluate(best, ws);
    problem.commit(ws);
    result.summary.best = best;
    return best;
}

std::string parametersText(const ParameterTable& table, const std::vector<Extended>& best,
                           const Summary& summary) {
    std::ostringstream out;
    for (int i = 0; i < table.size(); ++i) {
        const Parameter& p = table[i];
        out << p.name << " = "
            << shortNumber(static_cast<double>(best[static_cast<std::size_t>(i)]), 9);
        if (!p.unit.empty()) out << " " << p.unit;
        if (!p.free) out << " (fixed)";
        out << "\n";
    }
    out << "error = " << shortNumber(static_cast<double>(summary.bestError), 9) << " %\n";
    out << "# " << summary.brief() << "\n";
    for (const std::string& w : summary.warnings)
        out << "# warning: " << w << "\n";
    return out.str();
}

std::string profileCsv(const Sample& sample, const ProfileBand& band) {
    std::ostringstream out;
    const bool withBand = band.low.size() == sample.lamellae.size();
    out << "depth_angstrom,strain_percent,damage";
    if (withBand) out << ",strain_low_percent,strain_high_percent,damage_low,damage_high";
    out << "\n";
    double depth = 0;
    for (std::size_t k = 0; k < sample.lamellae.size(); ++k) {
        const Lamella& l = sample.lamellae[k];
        out << shortNumber(depth, 10) << "," << shortNumber(100 * l.strain, 10) << ","
            << shortNumber(l.damage, 10);
        if (withBand) {
            out << "," << shortNumber(100 * band.low[k], 10) << ","
                << shortNumber(100 * band.high[k], 10) << "," << shortNumber(band.damageLow[k])
                << "," << shortNumber(band.damageHigh[k]);
        }
        out << "\n";
        depth += l.thicknessAngstrom;
    }
    return out.str();
}

}  // namespace kelvarin::fit
