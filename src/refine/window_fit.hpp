// The one translator from the windows to the fit core: at "GO" the set-up that "Start" stored,
// the model of the refinement settings and the limits of the progress window become a fit
// problem and the options of the evolutionary search.
#pragma once

#include <memory>

#include "fit/evolutionary.hpp"
#include "fit/fit_problem.hpp"

namespace kelvarin {

class Application;

struct WindowFit {
    std::unique_ptr<fit::FitProblem> problem;
    /// Limits and mutation steps per gene (width, then the four profile parameters), as the
    /// progress window holds them; the generations and probability are left to the caller.
    fit::EvolutionaryOptions options;
};

/// Builds the problem on the application's engine state (not copied: the last evaluation lands
/// there for "Plot" and the result files). Throws ConversionError naming a limit field that is
/// not a number, EngineError for a set-up no candidate can be scored on.
WindowFit buildWindowFit(Application& app);

}  // namespace kelvarin
