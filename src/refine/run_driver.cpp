// The refinement buttons of the calculation window: "GO", "bufo", "butTeste" and
// "New population".
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>

#include "app/application.hpp"
#include "engine/engine_error.hpp"
#include "fit/problem_evaluator.hpp"
#include "refine/evaluate.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/population.hpp"
#include "refine/refinement_run.hpp"
#include "refine/window_fit.hpp"
#include "results/formcalc.hpp"

namespace kelvarin {

namespace {

/// Marks the application busy for the lifetime of a run, so that the handlers that the message
/// processing lets through cannot start a second run or change the population under it.
class BusyGuard {
public:
    explicit BusyGuard(Application& app) : app_(app) { app_.setBusy(true); }
    ~BusyGuard() { app_.setBusy(false); }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    Application& app_;
};

/// Text shown by the variance label while no generation has given a variance.
constexpr const char* kNoVariance = "-----";

}  // namespace

void Tformcalc::butGoClick() {
    if (app_.busy()) return;
    RefineState& state = app_.refine();
    Tformrefine& progress = app_.formrefine();
    const Locale& loc = app_.locale();

    if (state.nelements < kMinPopulation || state.nelements > kMaxPopulation) {
        app_.showError("The number of elements must lie between " + std::to_string(kMinPopulation) +
                       " and " + std::to_string(kMaxPopulation) +
                       "; press \"Start\" after correcting it.");
        return;
    }

    progress.hide();
    const int generations = loc.textToInt(ncycles.text, "Generations");
    const long long barMax = static_cast<long long>(state.nelements) * generations;
    ProgressBar1.min = 0;
    ProgressBar1.max = static_cast<int>(std::clamp<long long>(barMax, 0, INT_MAX));
    ProgressBar1.position = 0;
    const Extended pmut = loc.textToFloat(
        loc.NormalizeDecimalSeparator(app_.formrefinedata().Edit2.text), "Mutation probability");

    BusyGuard busy(app_);
    app_.clearStopRequest();
    const bool goWasEnabled = butGo.enabled;
    butGo.enabled = false;
    butStop.enabled = true;

    // The run works in the background; what it shows reaches the windows through posted
    // updates. The progress bar advances by the breeding steps of each generation, spread over
    // the scoring of its candidates, so it moves while a pass is evaluated and stands where the
    // breeding loop leaves it when the generation is complete.
    Platform& platform = app_.platform();
    const int n = state.nelements;
    const int barMaximum = ProgressBar1.max;
    int barBase = 0;    // position when the generation's breeding began
    int barTarget = 0;  // position once its breeding steps are counted
    // The run works on a fit problem built once from what "Start" stored and the progress
    // window's limits; it reaches the windows only through the progress callback.
    WindowFit windowFit;
    try {
        windowFit = buildWindowFit(app_);
    } catch (...) {
        butGo.enabled = goWasEnabled;
        butStop.enabled = false;
        throw;
    }
    fit::ProblemEvaluator evaluator(*windowFit.problem, state.evaluationThreads);
    fit::EvolutionaryOptions& options = windowFit.options;
    options.generations = generations;
    options.mutationProbability = pmut;
    // A converged population is redrawn within the progress window's limits, which the mutation
    // steps then follow too.
    options.stopRequested = [this] { return app_.stopRequested(); };
    options.progress = [&](const fit::SearchProgress& p) {
        using Kind = fit::SearchProgress::Kind;
        switch (p.kind) {
            case Kind::PairBred:
            case Kind::BreedingDone:
                barTarget = std::min(barTarget + p.barStep, barMaximum);
                platform.processMessages();
                return !app_.terminated();
            case Kind::CandidateScored: {
                if (p.generation == 0) return true;  // the first pass shows nothing
                std::array<std::string, kCandidateColumns> cells;
                for (int j = 0; j < kCandidateColumns; ++j)
                    cells[j] = candidateText(app_, p.genes[j]);
                const int shown =
                    barBase +
                    static_cast<int>(static_cast<long long>(barTarget - barBase) * (p.row + 1) / n);
                platform.post([this, &progress, cells = std::move(cells), row = p.row, shown] {
                    for (int j = 0; j < kCandidateColumns; ++j)
                        progress.StringGrid1.setCell(j, row + 1, cells[j]);
                    ProgressBar1.position = shown;
                });
                return true;
            }
            case Kind::GenerationDone:
                barBase = barTarget;
                platform.post([this, shown = barTarget] { ProgressBar1.position = shown; });
                return !app_.terminated();
        }
        return true;
    };

    fit::GenePool pool = poolOf(state);
    RunResult result;
    platform.runInBackground([&result, &pool, &evaluator, &options] {
        result = runResultOf(fit::runEvolutionary(pool, evaluator, options));
    });
    storePool(pool, state);
    if (result.restarts > 0) {
        // The limits a restart drew within are the mutation steps from then on, as they stand
        // in the progress window.
        RefineSettings& rs = state.refineSettings;
        rs.wLo = options.lo[kColW];
        rs.wHi = options.hi[kColW];
        rs.tauLo = options.lo[kColTau];
        rs.tauHi = options.hi[kColTau];
        rs.roLo = options.lo[kColRo];
        rs.roHi = options.hi[kColRo];
        rs.sigma1Lo = options.lo[kColSigma1];
        rs.sigma1Hi = options.hi[kColSigma1];
        rs.sigma2Lo = options.lo[kColSigma2];
        rs.sigma2Hi = options.hi[kColSigma2];
        rs.maxMutW = options.maxMutation[kColW];
        rs.maxMutTau = options.maxMutation[kColTau];
        rs.maxMutRo = options.maxMutation[kColRo];
        rs.maxMutSigma1 = options.maxMutation[kColSigma1];
        rs.maxMutSigma2 = options.maxMutation[kColSigma2];
    }
    butGo.enabled = goWasEnabled;
    butStop.enabled = false;
    if (result.outcome == RunOutcome::Stopped) return;
    if (result.outcome == RunOutcome::Failed) {
        progress.Label5.caption = kNoVariance;
        progress.show();
        app_.showError(result.message);
        return;
    }

    Panel2.caption = "Error=" + loc.floatToText(result.finalError);
    Button1.enabled = true;
    CandidateRow best{};
    for (int g = 0; g < kGeneCount; ++g)
        best[static_cast<std::size_t>(g)] = static_cast<float>(result.bestGenes[g]);
    showBestParameters(best);
    progress.Label5.caption =
        result.varianceValid ? loc.singleToText(static_cast<float>(result.variance)) : kNoVariance;
    progress.show();
    app_.platform().beep();
}

void Tformcalc::butStopClick() {
    if (!app_.busy()) return;
    app_.requestStop();
    butStop.enabled = false;
}

void Tformcalc::closeRequest() {
    if (app_.busy()) {
        butStopClick();
        return;
    }
    close();
}

void Tformcalc::Button6Click() {
    if (app_.busy()) return;
    const Locale& loc = app_.locale();
    EngineState& engine = app_.engine();
    Candidate& row = app_.refine().population[1];
    // The design texts are written with "."; either separator is accepted so that they work
    // whatever the locale.
    auto value = [&loc](const Edit& e, const char* name) {
        return loc.textToFloat(loc.NormalizeDecimalSeparator(e.text), name);
    };
    // Genes are single precision: a typed value beyond its range would become an infinite gene.
    auto gene = [&value](const Edit& e, const char* name) {
        const float g = static_cast<float>(value(e, name));
        if (!std::isfinite(g))
            throw std::runtime_error(std::string(name) + ": '" + e.text +
                                     "' is too large for a model parameter");
        return g;
    };
    // All five fields are read before any is stored: a typing error changes nothing.
    const Extended background = value(txbg, "background");
    const float genes[] = {gene(tau, "tau"), gene(ro, "ro"), gene(sigma1, "sigma1"),
                           gene(sigma2, "sigma2")};
    // A parameter set that cannot be evaluated is refused as a whole: row 1 and the background
    // stay as they were.
    const Candidate rowBefore = row;
    const Extended engineBackgroundBefore = engine.background;
    engine.background = background;
    row[kColTau] = genes[0];
    row[kColRo] = genes[1];
    row[kColSigma1] = genes[2];
    row[kColSigma2] = genes[3];
    try {
        Label4.caption =
            "Error of the typed parameters (%): " + loc.floatToText(evaluateCandidate(app_, 1));
    } catch (const EngineError& e) {
        row = rowBefore;
        engine.background = engineBackgroundBefore;
        app_.showError(std::string("This parameter set cannot be evaluated: ") + e.what());
    }
}

void Tformcalc::butTesteClick() {
    if (app_.busy()) return;
    RefineState& state = app_.refine();
    for (int d = kColTau; d <= kColSigma2; ++d) {
        state.population[1][d] = 1.0f;
        state.population[2][d] = 2.0f;
    }
    crossover(state, 1, 2, 1);
    for (int d = kColTau; d <= kColSigma2; ++d) {
        state.population[1][d] = state.offspring[1][d];
        state.population[2][d] = state.offspring[2][d];
    }
    showPopulation(app_);
}

void Tformcalc::Button7Click() {
    if (app_.busy()) return;
    newPopulation(app_, 0);
    showPopulation(app_);
}

}  // namespace kelvarin
