// Program-wide state of the evolutionary refinement: the candidate tables, the search settings
// and the random generator that every random decision of the search draws from.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "engine/state.hpp"
#include "fit/evolutionary.hpp"

namespace kelvarin {

/// Columns of a candidate row; 0..4 are the genes, 5 the error of the last evaluation.
enum CandidateColumn : int {
    kColW = 0,       ///< FWHM of the Gaussian instrument function, seconds of arc
    kColTau = 1,     ///< maximum strain (Pearson VII: depth of the peak xc)
    kColRo = 2,      ///< depth of the strain maximum, Å (Pearson VII: area factor A)
    kColSigma1 = 3,  ///< half-width towards the surface, Å (Pearson VII: peak width w)
    kColSigma2 = 4,  ///< half-width towards the bulk, Å (Pearson VII: shape exponent mu)
    kColError = 5,   ///< error of the candidate's curve, percent
};
inline constexpr int kGeneCount = 5;
inline constexpr int kCandidateColumns = 6;

/// One candidate: six single-precision values, indexed by CandidateColumn.
using Candidate = CandidateRow;
static_assert(std::tuple_size_v<Candidate> == kCandidateColumns);

/// Rows of `population` and `offspring`; the population size must lie in 2..kMaxPopulation.
inline constexpr int kMaxPopulation = 200;
inline constexpr int kMinPopulation = 2;

/// Search bounds and evaluation options of a refinement. The "Start" run stores the options
/// here and in EngineState; the physics reads them from EngineState.
struct RefineSettings {
    Extended tauLo = 0, tauHi = 0;
    Extended roLo = 0, roHi = 0;
    Extended sigma1Lo = 0, sigma1Hi = 0;
    Extended sigma2Lo = 0, sigma2Hi = 0;
    Extended maxMutTau = 0, maxMutRo = 0, maxMutSigma1 = 0, maxMutSigma2 = 0, maxMutW = 0;
    Extended wLo = 0, wHi = 0;
    int profileModel = 0;  ///< 0 double half-Gaussian, 1 Pearson VII
    int normMode = 1;      ///< index of the normalisation choice (0, 1 or 2)
    Extended background = 0;
};

using fit::CRandom;

struct RefineState {
    std::array<Candidate, kMaxPopulation> population{};
    std::array<Candidate, kMaxPopulation> offspring{};
    int nelements = 0;  ///< population size in use, set by the "Start" run
    RefineSettings refineSettings;
    CRandom generator;
    /// Seed that "Done" uses instead of the clock when set (batch jobs that must be repeatable).
    std::optional<std::uint32_t> seedOverride;
    /// Threads that evaluate the candidates of a pass; 0: one per core.
    int evaluationThreads = 0;
};

using fit::parityDraw;
using fit::uniformDraw;
inline Extended uniformDraw(RefineState& state, Extended a, Extended b) {
    return uniformDraw(state.generator, a, b);
}

}  // namespace kelvarin
