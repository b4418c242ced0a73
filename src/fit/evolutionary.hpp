// The evolutionary search of the windows, over any number of genes: first pass, elitism,
// breeding by selection and uniform crossover, mutation, re-evaluation, statistics and restarts,
// with every random decision drawn from one classic generator in a fixed order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fit/optimizer.hpp"

namespace kelvarin::fit {

/// The C library's classic generator with a 32-bit state, reproduced exactly so that a seeded
/// search draws the same numbers on every platform.
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

/// a + (rand() mod 10000)·(b − a)·0.0001 in extended precision: one of 10000 equally spaced
/// values from a up to, not including, b (also when a > b). Exactly one draw.
Extended uniformDraw(CRandom& generator, Extended a, Extended b);
/// Coin toss: one draw, true when odd.
bool parityDraw(CRandom& generator);

/// The population of a search: `size` rows of `genes` single-precision values and an error, and
/// the offspring rows breeding fills.
struct GenePool {
    int genes = 0;
    int size = 0;
    std::vector<float> population;
    std::vector<float> offspring;
    CRandom generator;

    GenePool() = default;
    GenePool(int geneCount, int rows)
        : genes(geneCount),
          size(rows),
          population(static_cast<std::size_t>(rows * (geneCount + 1)), 0.0f),
          // Breeding fills offspring rows in pairs: with two or three rows, row `rows` too.
          offspring(static_cast<std::size_t>((rows + 1) * (geneCount + 1)), 0.0f) {}

    float* row(int r) { return population.data() + static_cast<std::ptrdiff_t>(r) * (genes + 1); }
    const float* row(int r) const {
        return population.data() + static_cast<std::ptrdiff_t>(r) * (genes + 1);
    }
    float* child(int r) { return offspring.data() + static_cast<std::ptrdiff_t>(r) * (genes + 1); }
    float& error(int r) { return row(r)[genes]; }
    float error(int r) const { return row(r)[genes]; }
};

/// Score of one candidate. `scored` is false when the physics cannot give the candidate a curve
/// or an error; `error` then holds kUnscorableError and `problem` says why.
struct Evaluation {
    Extended error = 0;
    bool scored = true;
    std::string problem;
};

/// Error stored for a candidate that could not be scored: finite, and far above the error of any
/// curve that resembles the measurement.
inline constexpr float kUnscorableError = 1.0e4f;

/// What an evaluator reports for each row of a pass, in row order.
using RowScored = std::function<void(int row, const Evaluation& evaluation)>;

/// Scores rows of a pool.
class RowEvaluator {
public:
    virtual ~RowEvaluator() = default;
    virtual Evaluation evaluate(const GenePool& pool, int row) = 0;
    /// Scores rows first .. first + count − 1 and hands each result to `scored` in row order, one
    /// call at a time (possibly from another thread while later rows are scored). The rows may
    /// be scored at once, but the outcome must be that of scoring them one after another.
    virtual void evaluateRows(const GenePool& pool, int first, int count, const RowScored& scored);
};

struct SearchProgress {
    enum class Kind {
        PairBred,      ///< one crossover done; `barStep` = 2
        BreedingDone,  ///< the breeding loop of a generation ended; `barStep` = 2
        /// Row `row` has its new error (generation 0: the first pass); `genes` points at its
        /// genes and error. Rows come in order, perhaps from another thread; answering "stop"
        /// ends the run when the pass is complete.
        CandidateScored,
        GenerationDone,  ///< statistics of generation `generation` are complete
    };
    Kind kind;
    int generation = 0;
    int row = -1;
    int barStep = 0;
    const float* genes = nullptr;
    Extended bestError = 0;  ///< GenerationDone: the best error of the pass
};

/// Return false to stop the run at this point.
using SearchCallback = std::function<bool(const SearchProgress&)>;

struct EvolutionaryOptions {
    int generations = 1;  ///< G; below 1 only the first pass and the final evaluation
    Extended mutationProbability = 0.5L;
    /// Per gene: the limits a restart redraws within and the largest mutation step.
    std::vector<Extended> lo, hi, maxMutation;
    SearchCallback progress;  ///< may be empty
    /// Asked when a generation is complete: true ends the run there, as if that generation had
    /// been the last (the final evaluation follows). May be empty.
    std::function<bool()> stopRequested;
    /// Redraws the pool around row `keep` when it has converged, instead of redrawPool within
    /// lo/hi. May be empty.
    std::function<void(GenePool& pool, int keep)> restart;

    /// Empty when the options fit a pool of `genes` genes; otherwise why not.
    std::string validate(int genes) const;
};

struct SearchResult {
    Summary summary;
    Extended finalError = 0;  ///< error of the final evaluation of row `finalRow`
    int finalRow = 0;
    std::vector<Extended> bestGenes;  ///< best candidate of the last pass
    Extended bestError = 0;
    float variance = 0;
    bool varianceValid = false;  ///< false when no generation ran
    int generationsDone = 0;
    bool stoppedEarly = false;  ///< stopRequested ended the run before generation G
    int restarts = 0;
    /// Smallest error of each pass: entry 0 the first pass, entry g generation g.
    std::vector<Extended> bestErrorByPass;
};

/// Runs the search on rows 0..size − 1 of `pool` (size 2..200).
SearchResult runEvolutionary(GenePool& pool, RowEvaluator& evaluator,
                             const EvolutionaryOptions& options);

/// Draws the genes of one row within the limits, gene after gene (one draw each).
void drawRow(GenePool& pool, float* row, const std::vector<Extended>& lo,
             const std::vector<Extended>& hi);
/// Copies the genes of row `keep` into rows 0 and size − 1 and redraws rows 1..size − 2.
void redrawPool(GenePool& pool, int keep, const std::vector<Extended>& lo,
                const std::vector<Extended>& hi);
/// Uniform crossover of parent rows p1 and p2 into offspring rows c and c + 1: one coin toss per
/// gene decides which child takes which parent's value.
void crossover(GenePool& pool, int p1, int p2, int c);
/// Perturbs one gene (gene k ≥ 1 for a draw k of the G-sided die) or the first two (k = 0) of
/// row r by up to their maximum mutation, up or down. The result is not clamped to the limits.
void mutate(GenePool& pool, int r, const std::vector<Extended>& maxMutation);
/// The selection test of breeding: a threshold drawn from [0, maxErr + 1) above the error.
bool passesSelection(Extended threshold, float error);

}  // namespace kelvarin::fit
