#include "refine/refinement_run.hpp"

#include <exception>

#include "refine/population.hpp"

namespace kelvarin {

void CandidateEvaluator::evaluateRows(const RefineState& state, int first, int count,
                                      const RowScored& scored) {
    for (int k = first; k < first + count; ++k)
        scored(k, evaluate(state, k));
}

bool passesSelection(Extended threshold, float error) {
    return threshold > static_cast<Extended>(error);
}

namespace {

constexpr Extended kNoError = 1000000;

/// Statistics of one evaluation pass. Rows that could not be scored take no part: they can be
/// neither the best nor the worst of a pass.
struct PassStats {
    Extended maxErr = 0;
    Extended minErr = kNoError;
    Extended bestErr = kNoError;
    int iMin = 0;
    int iBest = 0;
    std::array<Extended, kGeneCount> bestGenes{};

    void resetForPass() {
        maxErr = 0;
        minErr = kNoError;
        bestErr = kNoError;
        iMin = 0;
    }

    void update(const Candidate& row, int i) {
        const Extended e = row[kColError];
        if (e > maxErr) maxErr = e;
        if (e < minErr) {
            minErr = e;
            iMin = i;
            if (minErr < bestErr) {
                bestErr = minErr;
                iBest = i;
                for (int d = 0; d < kGeneCount; ++d)
                    bestGenes[d] = row[d];
            }
        }
    }
};

class Run {
public:
    Run(RefineState& state, CandidateEvaluator& evaluator, const RunOptions& options)
        : s_(state),
          eval_(evaluator),
          opt_(options),
          n_(state.nelements),
          scored_(static_cast<std::size_t>(kMaxPopulation), true) {}

    RunResult run() {
        if (n_ < kMinPopulation || n_ > kMaxPopulation) {
            return fail("The population size must lie between " + std::to_string(kMinPopulation) +
                        " and " + std::to_string(kMaxPopulation) + " (it is " + std::to_string(n_) +
                        ").");
        }
        try {
            return body();
        } catch (const std::exception& e) {
            return fail(e.what());
        }
    }

private:
    struct Stop {};

    RunResult fail(std::string message) {
        result_.outcome = RunOutcome::Failed;
        result_.message = std::move(message);
        return result_;
    }

    void report(RunProgress::Kind kind, int generation, int row = -1, int barStep = 0) {
        if (!opt_.progress) return;
        if (!opt_.progress(RunProgress{kind, generation, row, barStep})) throw Stop{};
    }

    void record(int i, const Evaluation& ev) {
        ++result_.evaluations;
        scored_[i] = ev.scored;
        s_.population[i][kColError] = ev.scored ? static_cast<float>(ev.error) : kUnscorableError;
        if (!ev.scored && firstProblem_.empty()) firstProblem_ = ev.problem;
    }

    void updateStats(int i) {
        if (scored_[i]) stats_.update(s_.population[i], i);
    }

    /// Scores the whole population: each row's error, progress and statistics in row order,
    /// and the float sum of the errors that were scored (for the variance).
    void scorePass(int g, float& sum, int& counted) {
        bool stopAsked = false;
        eval_.evaluateRows(s_, 0, n_, [&](int i, const Evaluation& ev) {
            record(i, ev);
            if (opt_.progress &&
                !opt_.progress(RunProgress{RunProgress::Kind::CandidateScored, g, i}))
                stopAsked = true;
            if (scored_[i]) {
                sum = sum + s_.population[i][kColError];
                ++counted;
            }
            updateStats(i);
        });
        if (stopAsked) throw Stop{};
    }

    /// Walks the cursor until a candidate passes the selection test. A full lap without a pass
    /// (possible only when no candidate can be scored, or when all errors are equal and larger
    /// than 9999) takes the candidate under the cursor, so breeding always ends.
    int selectParent() {
        int misses = 0;
        for (;;) {
            const int row = cursor_;
            cursor_ = (cursor_ + 1) % n_;
            const Extended t = uniformDraw(s_, 0, stats_.maxErr + 1);
            const bool pass = scored_[row] && passesSelection(t, s_.population[row][kColError]);
            if (pass || ++misses >= n_) return row;
        }
    }

    void breed(int g) {
        // Keep breeding pairs until every row 1..n − 2 has a child; with an odd size the last
        // pair also fills offspring row n − 1, which is not copied back.
        int c = 1;
        cursor_ = 0;
        do {
            const int p1 = selectParent();
            const int p2 = selectParent();
            crossover(s_, p1, p2, c);
            c += 2;
            report(RunProgress::Kind::PairBred, g, -1, 2);
        } while (c < n_ - 1);
        report(RunProgress::Kind::BreedingDone, g, -1, 2);
    }

    RunResult body() {
        const int last = n_ - 1;
        try {
            float unusedSum = 0;
            int unusedCount = 0;
            scorePass(0, unusedSum, unusedCount);
            result_.bestErrorByPass.push_back(stats_.bestErr);
            if (stats_.bestErr >= kNoError)
                return fail("No candidate of the population could be evaluated: " + firstProblem_);

            for (int g = 1; g <= opt_.generations; ++g) {
                for (int d = 0; d < kGeneCount; ++d) {
                    s_.population[0][d] = s_.population[stats_.iBest][d];
                    s_.population[last][d] = s_.population[stats_.iBest][d];
                }
                breed(g);
                for (int i = 1; i <= n_ - 2; ++i) {
                    for (int d = 0; d < kGeneCount; ++d)
                        s_.population[i][d] = s_.offspring[i][d];
                    const Extended u = uniformDraw(s_, 0, 1);
                    if (opt_.mutationProbability > u) mutate(s_, i);
                }

                stats_.resetForPass();
                float sum = 0;
                int counted = 0;
                scorePass(g, sum, counted);
                result_.bestErrorByPass.push_back(stats_.bestErr);

                // Spread of the errors; a population within about one unit of error has
                // converged and is redrawn around its best candidate.
                result_.varianceValid = counted >= 2;
                if (result_.varianceValid) {
                    const float mean = sum / static_cast<float>(counted);
                    float squares = 0;
                    for (int i = 0; i < n_; ++i) {
                        if (!scored_[i]) continue;
                        const float dev = s_.population[i][kColError] - mean;
                        squares = squares + dev * dev;
                    }
                    result_.variance = squares / static_cast<float>(counted - 1);
                }
                result_.generationsDone = g;
                report(RunProgress::Kind::GenerationDone, g);

                if (result_.varianceValid && result_.variance <= 1.0f) {
                    if (opt_.restart)
                        opt_.restart(stats_.iBest);
                    else
                        redrawPopulation(s_, stats_.iBest);
                    // The kept candidate now sits in the elite rows.
                    stats_.iBest = 0;
                    stats_.iMin = 0;
                    ++result_.restarts;
                }
                if (g < opt_.generations && opt_.stopRequested && opt_.stopRequested()) {
                    result_.stoppedEarly = true;
                    break;
                }
            }
        } catch (const Stop&) {
            result_.outcome = RunOutcome::Stopped;
            result_.message = "The refinement was stopped.";
            fillBest();
            keepBest();
            return result_;
        }

        fillBest();
        result_.finalRow = stats_.iMin;
        const Evaluation final = eval_.evaluate(s_, stats_.iMin);
        ++result_.evaluations;
        if (!final.scored) {
            return fail("No candidate of the population could be evaluated: " +
                        (firstProblem_.empty() ? final.problem : firstProblem_));
        }
        result_.finalError = final.error;
        return result_;
    }

    /// A run ended at an arbitrary moment (in the middle of breeding, say) keeps its best
    /// candidate in elite row 0 with its error, where "Save output files" and the next run find
    /// it.
    void keepBest() {
        if (stats_.bestErr >= kNoError) return;
        for (int d = 0; d < kGeneCount; ++d)
            s_.population[0][d] = stats_.bestGenes[d];
        s_.population[0][kColError] = static_cast<float>(stats_.bestErr);
    }

    void fillBest() {
        result_.bestGenes = stats_.bestGenes;
        result_.bestError = stats_.bestErr;
    }

    RefineState& s_;
    CandidateEvaluator& eval_;
    const RunOptions& opt_;
    const int n_;
    std::vector<bool> scored_;
    PassStats stats_;
    int cursor_ = 0;
    std::string firstProblem_;
    RunResult result_;
};

}  // namespace

RunResult runRefinement(RefineState& state, CandidateEvaluator& evaluator,
                        const RunOptions& options) {
    return Run(state, evaluator, options).run();
}

}  // namespace kelvarin
