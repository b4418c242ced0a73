// The curves of a project at its parameter values, without fitting: what `simulate --project`
// prints and what a plot of a project shows before a fit.
#pragma once

#include <vector>

#include "fit/project_file.hpp"

namespace kelvarin::fit {

/// One dataset's computed curve: angles (seconds of arc), reflectivity, and the reflectivity
/// broadened with the dataset's instrument width.
struct ProjectCurve {
    std::vector<double> angle;
    std::vector<Extended> reflectivity;
    std::vector<Extended> broadened;
    std::string warning;  ///< why the curve lies outside its theory's range, or empty
};

/// The sample of a project at its parameter values: its explicit lamellae, or else the lamellae
/// of its profile model. Throws ProjectError when it has neither.
Sample projectSample(const Project& project);

/// Computes every dataset of `project` over its scan: the `scan` it gives, or else the angles
/// of its measured file. Throws ProjectError naming the project for a set-up, file or sample that
/// cannot be computed.
std::vector<ProjectCurve> projectCurves(const Project& project);

}  // namespace kelvarin::fit
