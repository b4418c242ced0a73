// The settings window's design limits and maximum mutations, for tests that build a RefineState
// without the windows.
#pragma once

#include "refine/refine_state.hpp"

namespace kelvarin::testing {

inline void setDesignLimits(RefineSettings& r) {
    r.wLo = 7, r.wHi = 10, r.tauLo = 0.003L, r.tauHi = 0.005L, r.roLo = 50, r.roHi = 800;
    r.sigma1Lo = 50, r.sigma1Hi = 800, r.sigma2Lo = 50, r.sigma2Hi = 800;
    r.maxMutW = 1, r.maxMutTau = 0.0005L, r.maxMutRo = 10, r.maxMutSigma1 = 10, r.maxMutSigma2 = 10;
}

}  // namespace kelvarin::testing
