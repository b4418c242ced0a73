#include "refine/evaluate.hpp"


#include "app/application.hpp"
#include "engine/engine_error.hpp"

namespace kelvarin {

namespace {

/// Scores row k in `ws` without touching the engine state.
Evaluation scoreRow(const EngineState& engine, const RefineState& refine, int k, Workspace& ws) {
    Evaluation result;
    if (k < 0 || k >= kMaxPopulation) {
        result.scored = false;
        result.error = kUnscorableError;
        result.problem = "There is no candidate in row " + std::to_string(k) + ".";
        return result;
    }
    try {
        result.error = evaluateProfile(engine, refine.population[k], ws);
    } catch (const EngineError& e) {
        result.scored = false;
        result.error = kUnscorableError;
        result.problem = e.what();
    }
    return result;
}

}  // namespace

Evaluation evaluateCandidate(EngineState& engine, const RefineState& refine, int k, Workspace& ws) {
    const Evaluation result = scoreRow(engine, refine, k, ws);
    if (result.scored) commitEvaluation(engine, ws);
    return result;
}

Extended evaluateCandidate(Application& app, int k) {
    auto ws = std::make_unique<Workspace>();
    const Evaluation e = evaluateCandidate(app.engine(), app.refine(), k, *ws);
    if (!e.scored) throw EngineError(e.problem);
    return e.error;
}

EngineEvaluator::EngineEvaluator(EngineState& engine, int threads)
    : engine_(engine), threadsAsked_(threads) {
    ensureProblem();
}

EngineEvaluator::~EngineEvaluator() = default;

bool EngineEvaluator::ensureProblem() {
    if (problem_ && builtModel_ == engine_.profileModel && builtLayers_ == engine_.layerCount)
        return true;
    rows_.reset();
    problem_.reset();
    builtModel_ = engine_.profileModel;
    builtLayers_ = engine_.layerCount;
    try {
        problem_ = std::make_unique<fit::FitProblem>(
            fit::makeProfileModel(engine_.profileModel, engine_.layerCount));
    } catch (const EngineError& e) {
        setupProblem_ = e.what();
        return false;
    }
    problem_->addDataset(engine_, {"width", "arcsec", 0, 0, 0, 0, true});
    rows_ = std::make_unique<fit::ProblemEvaluator>(*problem_, threadsAsked_);
    return true;
}

int EngineEvaluator::threads() const {
    return rows_ ? rows_->threads() : 1;
}

namespace {

/// Every row of the table as a pool of the fit core (genes in the table's column order).
fit::GenePool tablePool(const RefineState& state) {
    fit::GenePool pool(kGeneCount, kMaxPopulation);
    for (int i = 0; i < kMaxPopulation; ++i)
        std::copy(state.population[static_cast<std::size_t>(i)].begin(),
                  state.population[static_cast<std::size_t>(i)].end(), pool.row(i));
    return pool;
}

Evaluation unscorable(const std::string& why) {
    Evaluation e;
    e.scored = false;
    e.error = kUnscorableError;
    e.problem = why;
    return e;
}

}  // namespace

Evaluation EngineEvaluator::evaluate(const RefineState& state, int k) {
    if (!ensureProblem()) return unscorable(setupProblem_);
    return rows_->evaluate(tablePool(state), k);
}

void EngineEvaluator::evaluateRows(const RefineState& state, int first, int count,
                                   const RowScored& scored) {
    if (!ensureProblem()) {
        for (int k = first; k < first + count; ++k)
            scored(k, unscorable(setupProblem_));
        return;
    }
    rows_->evaluateRows(tablePool(state), first, count, scored);
}

}  // namespace kelvarin
