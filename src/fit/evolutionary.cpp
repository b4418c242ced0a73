#include "fit/evolutionary.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

namespace kelvarin::fit {

Extended uniformDraw(CRandom& generator, Extended a, Extended b) {
    const int r = generator.next() % 10000;
    return a + static_cast<Extended>(r) * (b - a) * 0.0001L;
}

bool parityDraw(CRandom& generator) {
    return generator.next() % 2 == 1;
}

void RowEvaluator::evaluateRows(const GenePool& pool, int first, int count,
                                const RowScored& scored) {
    for (int k = first; k < first + count; ++k)
        scored(k, evaluate(pool, k));
}

bool passesSelection(Extended threshold, float error) {
    return threshold > static_cast<Extended>(error);
}

std::string EvolutionaryOptions::validate(int genes) const {
    const auto g = static_cast<std::size_t>(genes);
    if (genes < 1) return "the search has no free parameter";
    if (lo.size() != g || hi.size() != g || maxMutation.size() != g)
        return "the search needs limits and a mutation step for each of its " +
               std::to_string(genes) + " parameters";
    // A probability beyond 0..1 acts as never or always, as the windows have it.
    if (std::isnan(mutationProbability)) return "the mutation probability is not a number";
    return {};
}

void drawRow(GenePool& pool, float* row, const std::vector<Extended>& lo,
             const std::vector<Extended>& hi) {
    for (int d = 0; d < pool.genes; ++d)
        row[d] = static_cast<float>(uniformDraw(pool.generator, lo[static_cast<std::size_t>(d)],
                                                hi[static_cast<std::size_t>(d)]));
}

void redrawPool(GenePool& pool, int keep, const std::vector<Extended>& lo,
                const std::vector<Extended>& hi) {
    const int last = std::max(pool.size, 1) - 1;
    std::vector<float> kept(pool.row(keep), pool.row(keep) + pool.genes);
    std::copy(kept.begin(), kept.end(), pool.row(0));
    std::copy(kept.begin(), kept.end(), pool.row(last));
    for (int j = 1; j <= last - 1; ++j)
        drawRow(pool, pool.row(j), lo, hi);
}

void crossover(GenePool& pool, int p1, int p2, int c) {
    const float* a = pool.row(p1);
    const float* b = pool.row(p2);
    float* first = pool.child(c);
    float* second = pool.child(c + 1);
    for (int d = 0; d < pool.genes; ++d) {
        if (parityDraw(pool.generator)) {
            first[d] = a[d];
            second[d] = b[d];
        } else {
            second[d] = a[d];
            first[d] = b[d];
        }
    }
}

namespace {

void perturb(GenePool& pool, float* row, int gene, Extended maxMutation) {
    const bool up = parityDraw(pool.generator);
    const Extended m = uniformDraw(pool.generator, 0, maxMutation);
    const auto value = static_cast<Extended>(row[gene]);
    row[gene] = static_cast<float>(up ? value + m : value - m);
}

}  // namespace

void mutate(GenePool& pool, int r, const std::vector<Extended>& maxMutation) {
    float* row = pool.row(r);
    const int gene = pool.generator.next() % pool.genes;
    if (gene == 0) {
        // The first draw moves the first gene (the instrument width) together with the second.
        perturb(pool, row, 0, maxMutation[0]);
        if (pool.genes > 1) perturb(pool, row, 1, maxMutation[1]);
    } else {
        perturb(pool, row, gene, maxMutation[static_cast<std::size_t>(gene)]);
    }
}

namespace {

constexpr Extended kNoError = 1000000;
constexpr int kMinRows = 2;
constexpr int kMaxRows = 200;

/// Statistics of one evaluation pass. Rows that could not be scored take no part.
struct PassStats {
    Extended maxErr = 0;
    Extended minErr = kNoError;
    Extended bestErr = kNoError;
    int iMin = 0;
    int iBest = 0;
    std::vector<Extended> bestGenes;

    void resetForPass() {
        maxErr = 0;
        minErr = kNoError;
        bestErr = kNoError;
        iMin = 0;
    }

    void update(const GenePool& pool, int i) {
        const Extended e = pool.error(i);
        if (e > maxErr) maxErr = e;
        if (e < minErr) {
            minErr = e;
            iMin = i;
            if (minErr < bestErr) {
                bestErr = minErr;
                iBest = i;
                bestGenes.assign(pool.row(i), pool.row(i) + pool.genes);
            }
        }
    }
};

class Run {
public:
    Run(GenePool& pool, RowEvaluator& evaluator, const EvolutionaryOptions& options)
        : p_(pool),
          eval_(evaluator),
          opt_(options),
          n_(pool.size),
          scored_(static_cast<std::size_t>(std::max(pool.size, 0)), true) {
        stats_.bestGenes.assign(static_cast<std::size_t>(std::max(pool.genes, 0)), 0);
    }

    SearchResult run() {
        const auto started = std::chrono::steady_clock::now();
        SearchResult r = checkedBody();
        r.summary.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        r.summary.evaluations = evaluations_;
        return r;
    }

private:
    struct Stop {};

    SearchResult checkedBody() {
        if (n_ < kMinRows || n_ > kMaxRows) {
            return fail("The population size must lie between " + std::to_string(kMinRows) +
                        " and " + std::to_string(kMaxRows) + " (it is " + std::to_string(n_) +
                        ").");
        }
        if (std::string why = opt_.validate(p_.genes); !why.empty()) return fail(why);
        try {
            return body();
        } catch (const std::exception& e) {
            return fail(e.what());
        }
    }

    SearchResult fail(std::string message) {
        result_.summary.termination = Termination::Failed;
        result_.summary.message = std::move(message);
        return result_;
    }

    void report(SearchProgress::Kind kind, int generation, int row = -1, int barStep = 0) {
        if (!opt_.progress) return;
        SearchProgress p{kind, generation, row, barStep};
        if (kind == SearchProgress::Kind::GenerationDone) p.bestError = stats_.bestErr;
        if (!opt_.progress(p)) throw Stop{};
    }

    void record(int i, const Evaluation& ev) {
        ++evaluations_;
        scored_[static_cast<std::size_t>(i)] = ev.scored;
        p_.error(i) = ev.scored ? static_cast<float>(ev.error) : kUnscorableError;
        if (!ev.scored && firstProblem_.empty()) firstProblem_ = ev.problem;
    }

    bool scored(int i) const { return scored_[static_cast<std::size_t>(i)]; }

    void updateStats(int i) {
        if (scored(i)) stats_.update(p_, i);
    }

    /// Scores the whole population: each row's error, progress and statistics in row order, and
    /// the float sum of the errors that were scored (for the variance).
    void scorePass(int g, float& sum, int& counted) {
        bool stopAsked = false;
        eval_.evaluateRows(p_, 0, n_, [&](int i, const Evaluation& ev) {
            record(i, ev);
            if (opt_.progress) {
                SearchProgress p{SearchProgress::Kind::CandidateScored, g, i};
                p.genes = p_.row(i);
                if (!opt_.progress(p)) stopAsked = true;
            }
            if (scored(i)) {
                sum = sum + p_.error(i);
                ++counted;
            }
            updateStats(i);
        });
        if (stopAsked) throw Stop{};
    }

    /// Walks the cursor until a candidate passes the selection test. A full lap without a pass
    /// takes the candidate under the cursor, so breeding always ends.
    int selectParent() {
        int misses = 0;
        for (;;) {
            const int row = cursor_;
            cursor_ = (cursor_ + 1) % n_;
            const Extended t = uniformDraw(p_.generator, 0, stats_.maxErr + 1);
            const bool pass = scored(row) && passesSelection(t, p_.error(row));
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
            crossover(p_, p1, p2, c);
            c += 2;
            report(SearchProgress::Kind::PairBred, g, -1, 2);
        } while (c < n_ - 1);
        report(SearchProgress::Kind::BreedingDone, g, -1, 2);
    }

    void copyGenes(const float* from, float* to) const { std::copy(from, from + p_.genes, to); }

    SearchResult body() {
        const int last = n_ - 1;
        try {
            float unusedSum = 0;
            int unusedCount = 0;
            scorePass(0, unusedSum, unusedCount);
            result_.bestErrorByPass.push_back(stats_.bestErr);
            if (stats_.bestErr >= kNoError)
                return fail("No candidate of the population could be evaluated: " + firstProblem_);

            for (int g = 1; g <= opt_.generations; ++g) {
                copyGenes(p_.row(stats_.iBest), p_.row(0));
                copyGenes(p_.row(stats_.iBest), p_.row(last));
                breed(g);
                for (int i = 1; i <= n_ - 2; ++i) {
                    copyGenes(p_.child(i), p_.row(i));
                    const Extended u = uniformDraw(p_.generator, 0, 1);
                    if (opt_.mutationProbability > u) mutate(p_, i, opt_.maxMutation);
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
                        if (!scored(i)) continue;
                        const float dev = p_.error(i) - mean;
                        squares = squares + dev * dev;
                    }
                    result_.variance = squares / static_cast<float>(counted - 1);
                }
                result_.generationsDone = g;
                report(SearchProgress::Kind::GenerationDone, g);

                if (result_.varianceValid && result_.variance <= 1.0f) {
                    if (opt_.restart)
                        opt_.restart(p_, stats_.iBest);
                    else
                        redrawPool(p_, stats_.iBest, opt_.lo, opt_.hi);
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
            result_.summary.termination = Termination::Stopped;
            result_.summary.message = "The refinement was stopped.";
            fillBest();
            keepBest();
            return result_;
        }

        fillBest();
        result_.finalRow = stats_.iMin;
        const Evaluation final = eval_.evaluate(p_, stats_.iMin);
        ++evaluations_;
        if (!final.scored) {
            return fail("No candidate of the population could be evaluated: " +
                        (firstProblem_.empty() ? final.problem : firstProblem_));
        }
        result_.finalError = final.error;
        if (result_.stoppedEarly) {
            result_.summary.termination = Termination::Stopped;
            result_.summary.message = "stopped after generation " +
                                      std::to_string(result_.generationsDone) + " of " +
                                      std::to_string(opt_.generations);
        }
        return result_;
    }

    /// A run ended at an arbitrary moment keeps its best candidate in elite row 0 with its error.
    void keepBest() {
        if (stats_.bestErr >= kNoError) return;
        std::copy(stats_.bestGenes.begin(), stats_.bestGenes.end(), p_.row(0));
        p_.error(0) = static_cast<float>(stats_.bestErr);
    }

    void fillBest() {
        result_.bestGenes = stats_.bestGenes;
        result_.bestError = stats_.bestErr;
        result_.summary.bestError = stats_.bestErr;
    }

    GenePool& p_;
    RowEvaluator& eval_;
    const EvolutionaryOptions& opt_;
    const int n_;
    std::vector<bool> scored_;
    PassStats stats_;
    int cursor_ = 0;
    int evaluations_ = 0;
    std::string firstProblem_;
    SearchResult result_;
};

}  // namespace

SearchResult runEvolutionary(GenePool& pool, RowEvaluator& evaluator,
                             const EvolutionaryOptions& options) {
    return Run(pool, evaluator, options).run();
}

}  // namespace kelvarin::fit
