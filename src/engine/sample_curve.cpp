#include "engine/sample_curve.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "engine/broadening.hpp"
#include "engine/engine_error.hpp"
#include "engine/layered.hpp"
#include "engine/strain.hpp"

namespace kelvarin {

namespace {

/// The step of equally spaced angles: every angle within a millionth of a step of
/// angles[0] + i·step.
double equalStep(std::span<const double> angles) {
    if (angles.size() < 2) return 1;
    const double step = angles[1] - angles[0];
    if (!(step > 0)) throw EngineError("The angles of a broadened curve must increase.");
    for (std::size_t i = 2; i < angles.size(); ++i) {
        const double expected = angles[0] + static_cast<double>(i) * step;
        if (std::fabs(angles[i] - expected) > 1e-6 * step)
            throw EngineError("The angles of a broadened curve must be equally spaced (angle " +
                              std::to_string(i + 1) + " is off the step of angles 1 and 2).");
    }
    return step;
}

}  // namespace

void sampleCurve(const SampleCurveRequest& request, std::span<const double> angles,
                 std::span<double> out) {
    if (out.size() != angles.size())
        throw EngineError("The curve needs as many values as there are angles.");
    for (double a : angles)
        if (!std::isfinite(a)) throw EngineError("The angles must be finite numbers.");
    const double step = request.width ? equalStep(angles) : 1;

    std::vector<Extended> raw(angles.size());
    if (request.sample.lamellae.empty() && !request.physics.full()) {
        for (std::size_t p = 0; p < angles.size(); ++p)
            raw[p] = perfectCrystalReflectivity(request.setup, angles[p]);
    } else {
        // The full calculation takes the bare substrate through the layered arithmetic too.
        if (!request.sample.lamellae.empty()) validateSample(request.sample);
        EngineState state;
        storeSetup(request.setup, state);
        state.theoryChoice = request.theory;
        LayerStack stack;
        layerStack(request.sample, state, stack);
        LayeredConstants constants;
        prepareLayered(state, stack, request.physics, constants);
        for (std::size_t p = 0; p < angles.size(); ++p)
            raw[p] = referenceReflectivity(constants, request.theory, angles[p]);
    }
    if (request.width && !raw.empty()) {
        InstrumentKernel kernel;
        buildKernel(*request.width, step, static_cast<int>(raw.size()), kernel);
        std::vector<Extended> broadened(raw.size());
        broadenReflectivity(kernel, raw, broadened);
        raw.swap(broadened);
    }
    for (std::size_t p = 0; p < raw.size(); ++p)
        out[p] = static_cast<double>(raw[p]);
}

}  // namespace kelvarin
