// Program-wide state of the evolutionary refinement: the candidate tables, the search settings
// and the random generator that every random decision of the search draws from.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "engine/state.hpp"

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

/// The C library's classic generator with a 32-bit state, reproduced exactly so that a seeded
/// refinement draws the same numbers on every platform.
class CRandom {
public:
    static constexpr int kMax = 32767;

    /// srand(s): the state becomes s and the generator advances once, the value discarded.
    void seed(std::uint32_t s) {
        state_ = s;
        next();
    }
    /// rand(): 0..32767.
    int next() {
        state_ = state_ * 22695477u + 1u;
        ++draws_;
        return static_cast<int>((state_ >> 16) & 0x7FFFu);
    }
    std::uint32_t state() const { return state_; }
    /// Number of values drawn since construction (seeding included); for tests and statistics.
    std::uint64_t draws() const { return draws_; }

private:
    std::uint32_t state_ = 1;
    std::uint64_t draws_ = 0;
};

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

/// a + (rand() mod 10000)·(b − a)·0.0001 in extended precision: one of 10000 equally spaced
/// values from a up to, not including, b (also when a > b). Exactly one draw.
Extended uniformDraw(CRandom& generator, Extended a, Extended b);
inline Extended uniformDraw(RefineState& state, Extended a, Extended b) {
    return uniformDraw(state.generator, a, b);
}

/// Coin toss: one draw, true when odd.
bool parityDraw(CRandom& generator);

}  // namespace kelvarin
