#include "refine/evaluate.hpp"

#include "app/application.hpp"
#include "engine/engine_error.hpp"

namespace kelvarin {

Evaluation evaluateCandidate(EngineState& engine, const RefineState& refine, int k, Workspace& ws) {
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
        return result;
    }
    commitEvaluation(engine, ws);
    return result;
}

Extended evaluateCandidate(Application& app, int k) {
    auto ws = std::make_unique<Workspace>();
    const Evaluation e = evaluateCandidate(app.engine(), app.refine(), k, *ws);
    if (!e.scored) throw EngineError(e.problem);
    return e.error;
}

EngineEvaluator::EngineEvaluator(EngineState& engine)
    : engine_(engine), ws_(std::make_unique<Workspace>()) {}

Evaluation EngineEvaluator::evaluate(const RefineState& state, int k) {
    return evaluateCandidate(engine_, state, k, *ws_);
}

}  // namespace kelvarin
