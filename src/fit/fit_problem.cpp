#include "fit/fit_problem.hpp"

#include <algorithm>
#include <cmath>

#include "engine/engine_error.hpp"

namespace kelvarin::fit {

FitProblem::FitProblem(std::unique_ptr<ProfileModel> model) : model_(std::move(model)) {
    for (Parameter& p : model_->declare())
        modelParameters_.push_back(table_.add(std::move(p)));
}

int FitProblem::addDataset(EngineState& state, Parameter width, std::string label) {
    Dataset d;
    d.label = std::move(label);
    d.state = &state;
    d.widthParameter = table_.add(std::move(width));
    datasets_.push_back(std::move(d));
    return datasetCount() - 1;
}

int FitProblem::addDataset(std::shared_ptr<EngineState> state, Parameter width, std::string label) {
    const int i = addDataset(*state, std::move(width), std::move(label));
    datasets_.back().owned = std::move(state);
    return i;
}

void FitProblem::setInstrument(int d, InstrumentSettings settings) {
    datasets_.at(static_cast<std::size_t>(d)).instrument = std::move(settings);
}

void FitProblem::addLorentzFraction(int d, Parameter p) {
    datasets_.at(static_cast<std::size_t>(d)).lorentzParameter = table_.add(std::move(p));
}

void FitProblem::addOffset(int d, Parameter p) {
    datasets_.at(static_cast<std::size_t>(d)).offsetParameter = table_.add(std::move(p));
}

InstrumentValues FitProblem::instrumentValues(int d, std::span<const Extended> values) const {
    const Dataset& set = datasets_[static_cast<std::size_t>(d)];
    const auto used = [this, values](int i) {
        const Extended v = values[static_cast<std::size_t>(i)];
        return singlePrecision_ ? static_cast<Extended>(static_cast<float>(v)) : v;
    };
    InstrumentValues v;
    v.width = used(set.widthParameter);
    if (set.lorentzParameter >= 0) v.lorentzFraction = used(set.lorentzParameter);
    if (set.offsetParameter >= 0) v.offset = used(set.offsetParameter);
    // The model is computed at the measured angle less the offset: a measured zero that stands
    // for the model's angle zeroShift takes that much off the offset.
    if (set.zeroShift != 0) v.offset -= set.zeroShift;
    return v;
}

std::vector<int> FitProblem::geneOrder() const {
    std::vector<int> order;
    for (const Dataset& d : datasets_)
        if (table_[d.widthParameter].free) order.push_back(d.widthParameter);
    for (int i : table_.freeIndices())
        if (std::find(order.begin(), order.end(), i) == order.end()) order.push_back(i);
    return order;
}

std::string FitProblem::validate() const {
    if (datasets_.empty()) return "the fit has no dataset";
    if (std::string reason = table_.validate(); !reason.empty()) return reason;
    for (const Dataset& d : datasets_) {
        const CurveStore& cs = d.state->curveStore;
        if (cs.measLast < 1)
            return "the dataset '" + d.label + "' has no measured curve of two points or more";
        if (cs.scanStep <= 0 || cs.scanEnd < cs.scanStart)
            return "the dataset '" + d.label + "' has no scan";
    }
    return {};
}

std::vector<std::string> rangeWarnings(const FitProblem& problem, const ProblemWorkspace& ws) {
    std::vector<std::string> out;
    for (int d = 0; d < problem.datasetCount() && d < static_cast<int>(ws.datasets.size()); ++d) {
        const Workspace& w = *ws.datasets[static_cast<std::size_t>(d)];
        const std::string why = kinematicalRangeWarning(
            w.constants, problem.dataset(d).state->theoryChoice, w.curve.calcMax);
        if (!why.empty()) out.push_back("dataset '" + problem.dataset(d).label + "': " + why);
    }
    return out;
}

ProblemWorkspace FitProblem::makeWorkspace() const {
    ProblemWorkspace ws;
    for (std::size_t i = 0; i < datasets_.size(); ++i)
        ws.datasets.push_back(std::make_unique<Workspace>());
    return ws;
}

Extended FitProblem::evaluate(std::span<const Extended> values, ProblemWorkspace& ws) const {
    if (values.size() != static_cast<std::size_t>(table_.size()))
        throw EngineError("The fit has " + std::to_string(table_.size()) + " parameters, not " +
                          std::to_string(values.size()) + ".");
    while (ws.datasets.size() < datasets_.size())
        ws.datasets.push_back(std::make_unique<Workspace>());
    const auto used = [this](Extended v) {
        return singlePrecision_ ? static_cast<Extended>(static_cast<float>(v)) : v;
    };
    ws.modelValues.resize(modelParameters_.size());
    for (std::size_t i = 0; i < modelParameters_.size(); ++i)
        ws.modelValues[i] = used(values[static_cast<std::size_t>(modelParameters_[i])]);
    const std::span<const Extended> modelValues(ws.modelValues);
    if (model_->fillsSample()) model_->fillSample(modelValues, ws.sample);
    Extended total = 0;
    for (std::size_t d = 0; d < datasets_.size(); ++d) {
        const Dataset& set = datasets_[d];
        Workspace& w = *ws.datasets[d];
        w.physics = set.physics;
        const InstrumentValues instrument = instrumentValues(static_cast<int>(d), values);
        if (model_->fillsSample()) {
            if (adjustment_) {
                ws.adjusted = ws.sample;
                adjustment_->apply(values, d, ws.adjusted);
            }
            layerStack(adjustment_ ? ws.adjusted : ws.sample, *set.state, w.stack);
            total += evaluateFilledStack(*set.state, set.instrument, instrument, w);
        } else {
            model_->fill(modelValues, w.profile);
            total += evaluateFilledProfile(*set.state, set.instrument, instrument, w);
        }
    }
    ws.error = datasets_.size() == 1 ? total : total / static_cast<Extended>(datasets_.size());
    return ws.error;
}

void FitProblem::residuals(std::span<const Extended> values, ProblemWorkspace& ws,
                           std::vector<double>& out) const {
    evaluate(values, ws);
    out.clear();
    for (std::size_t d = 0; d < datasets_.size(); ++d) {
        const Workspace& w = *ws.datasets[d];
        const CurveStore& cs = datasets_[d].state->curveStore;
        for (int i = 0; i < w.curve.calcCount; ++i) {
            const Extended m = cs.measIntensity[static_cast<std::size_t>(i)];
            if (!(m > 0)) continue;
            out.push_back(static_cast<double>(
                std::log10(m) - std::log10(w.curve.calcCurve[static_cast<std::size_t>(i)])));
        }
    }
}

void FitProblem::commit(const ProblemWorkspace& ws) const {
    for (std::size_t d = 0; d < datasets_.size() && d < ws.datasets.size(); ++d)
        commitEvaluation(*datasets_[d].state, *ws.datasets[d]);
}

}  // namespace kelvarin::fit
