// The evolutionary search a project asks for, set up and finished the same way wherever it runs
// (the command line, the workbench), so that one project gives the same numbers everywhere.
#pragma once

#include <string>
#include <vector>

#include "fit/evolutionary.hpp"
#include "fit/fit_problem.hpp"
#include "fit/problem_evaluator.hpp"
#include "fit/profile_band.hpp"
#include "fit/project_file.hpp"

namespace kelvarin::fit {

/// The first population and the options of a project's search.
struct ProjectSearch {
    GenePool pool;
    EvolutionaryOptions options;
};

/// Draws the first population as the windows draw it (row after row, gene after gene, from the
/// project's seed or the clock) within the limits of the free parameters, and sets the
/// generations and mutation probability of the project. Throws ProjectError when every
/// parameter is fixed.
ProjectSearch prepareSearch(const Project& project, const FitProblem& problem);

/// Evaluates the best candidate of a finished search once more, commits its curves and profile
/// to the datasets and returns its parameter vector (every table entry); `result.summary` gets
/// that vector and error. `ws` keeps the evaluation (its profile is the fitted one).
std::vector<Extended> finishSearch(const FitProblem& problem, const ProblemEvaluator& evaluator,
                                   const GenePool& pool, SearchResult& result,
                                   ProblemWorkspace& ws);

/// `v` in the "%g" form with `digits` significant digits, as the reports and result files write.
std::string shortNumber(double v, int digits = 6);

/// Parameters with their units, one a line, then the error of the fit and the summary line.
std::string parametersText(const ParameterTable& table, const std::vector<Extended>& best,
                           const Summary& summary);

/// The profile as CSV: depth from the surface (Å) of each lamella's top, its strain (%) and damage
/// factor, and the 16/84 % band of both at the lamella's middle when `band` has one.
std::string profileCsv(const Sample& sample, const ProfileBand& band = {});

}  // namespace kelvarin::fit
