// What every optimizer of the fit core shares: how a run ended, told the way a solver summary
// tells it.
#pragma once

#include <string>
#include <vector>

#include "engine/state.hpp"

namespace kelvarin::fit {

/// How a run ended.
enum class Termination {
    Finished,  ///< ran its course (all generations, or converged)
    Stopped,   ///< asked to stop; the best candidate so far is kept
    Failed,    ///< could not run or could not score any candidate; `message` says why
};

const char* terminationName(Termination t);

/// The summary every optimizer returns.
struct Summary {
    Termination termination = Termination::Finished;
    std::string message;         ///< why it stopped or failed; empty for a plain finish
    int evaluations = 0;         ///< candidates scored
    double seconds = 0;          ///< wall time of the run
    Extended bestError = 0;      ///< logarithmic error of the best candidate, percent
    std::vector<Extended> best;  ///< the best parameter vector (every table entry)
    /// Results to be read with care, such as a curve beyond the range of its theory.
    std::vector<std::string> warnings;

    bool usable() const { return termination != Termination::Failed; }
    /// One line: "finished after 5050 evaluations in 1.08 s, error 3.36 %".
    std::string brief() const;
};

}  // namespace kelvarin::fit
