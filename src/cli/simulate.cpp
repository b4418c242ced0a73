#include "cli/simulate.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "engine/broadening.hpp"
#include "engine/catalogue.hpp"
#include "engine/engine_error.hpp"
#include "engine/geometry.hpp"
#include "engine/layered.hpp"
#include "engine/numio.hpp"
#include "engine/sample.hpp"
#include "engine/scattering.hpp"
#include "engine/strain.hpp"

namespace kelvarin::cli {

namespace {

/// The crystal, reflection and radiation of a request, checked and stored as the Start run
/// stores them.
struct Prepared {
    Setup setup;
    EngineState state;
};

Prepared setUp(const SimulationRequest& r) {
    // The crystal catalogue: the windows' crystals (with the literature lattice constant where
    // the windows' one is off) and every other crystal it holds.
    const CatalogueCrystal* crystal = CrystalCatalogue::standard().find(r.crystal);
    if (crystal == nullptr) {
        std::string names;
        for (const CatalogueCrystal& c : CrystalCatalogue::standard().crystals())
            names += (names.empty() ? "" : ", ") + c.name;
        throw SimulationError("unknown crystal '" + r.crystal + "' (the catalogue has " + names +
                              ")");
    }
    Prepared p;
    const Reflection reflection{static_cast<Extended>(r.hkl[0]), static_cast<Extended>(r.hkl[1]),
                                static_cast<Extended>(r.hkl[2]),
                                Radiation{r.radiation, r.synchrotronWavelength}};
    try {
        p.setup = buildSetup(*crystal, reflection);
    } catch (const MaterialError& e) {
        throw SimulationError(e.what());
    }
    storeSetup(p.setup, p.state);
    p.state.theoryChoice = r.theory;
    return p;
}

double angleAt(const SimulationRequest& r, long long p) {
    return r.scanStart + static_cast<double>(p) * r.scanStep;
}

void perfectCrystal(const SimulationRequest& r, const Setup& setup, long long points,
                    SimulationResult& out) {
    for (long long p = 0; p < points; ++p) {
        const double theta = angleAt(r, p);
        out.angle.push_back(theta);
        out.raw.push_back(perfectCrystalReflectivity(setup, theta));
    }
}

/// The stack of a model or a two-column profile file, through the windows' strain profile.
void layerStackOfProfile(const SimulationRequest& r, const EngineState& state, LayerStack& stack) {
    StrainProfile profile;
    if (r.structure == SimulationRequest::Structure::Model) {
        const CandidateRow row{0.0f, r.params[0], r.params[1], r.params[2], r.params[3], 0.0f};
        strainProfile(row, r.model, r.layers, profile);
    } else {
        const int n = static_cast<int>(r.profile.size());
        if (n < 1 || n > kMaxLayers)
            throw SimulationError("a profile must have 1 to " + std::to_string(kMaxLayers) +
                                  " lamellae (it has " + std::to_string(n) + ")");
        profile.layerCount = n;
        profile.thickness = r.profile.front().thicknessAngstrom;
        // Lamella 1 lies on the substrate, lamella n at the surface.
        for (int j = 0; j < n; ++j) {
            const auto idx = static_cast<std::size_t>(n - j);
            profile.strain[idx] = r.profile[static_cast<std::size_t>(j)].strainPercent / 100.0;
            profile.profileStrain[idx] = profile.strain[idx];
            profile.profileThickness[idx] =
                r.profile[static_cast<std::size_t>(j)].thicknessAngstrom;
        }
    }
    layerStack(profile, state, stack);
    if (r.structure == SimulationRequest::Structure::Profile)
        for (int i = 1; i <= stack.layerCount; ++i)
            stack.thickness[static_cast<std::size_t>(i)] =
                static_cast<double>(profile.profileThickness[static_cast<std::size_t>(i)]);
}

void layered(const SimulationRequest& r, const EngineState& state, long long points,
             SimulationResult& out) {
    LayerStack stack;
    if (r.structure == SimulationRequest::Structure::PerfectCrystal) {
        // The full calculation of the bare substrate: a stack without lamellae.
        layerStack(Sample{}, state, stack);
    } else {
        const bool damaged = std::any_of(r.profile.begin(), r.profile.end(),
                                         [](const ProfileLayer& l) { return l.damage != 1; });
        if (r.structure == SimulationRequest::Structure::Profile &&
            (damaged || r.profile.size() > static_cast<std::size_t>(kMaxLayers))) {
            // Lamellae with damage, or more than the windows hold, go through a sample.
            Sample sample;
            for (const ProfileLayer& l : r.profile)
                sample.lamellae.push_back({l.thicknessAngstrom, l.strainPercent / 100.0, l.damage});
            validateSample(sample);
            layerStack(sample, state, stack);
        } else {
            layerStackOfProfile(r, state, stack);
        }
    }
    PhysicsOptions physics = r.physics;
    if (physics.full())
        physics.monochromatorTwoTheta = monochromatorTwoTheta(
            r.monochromator, static_cast<double>(state.radiationRecord[kSlotLambda]));
    LayeredConstants constants;
    prepareLayered(state, stack, physics, constants);

    // The reference arithmetic of the layered calculation works at any angle, not only on
    // the whole-second scans of the windows.
    for (long long p = 0; p < points; ++p) {
        const double theta = angleAt(r, p);
        out.angle.push_back(theta);
        out.raw.push_back(referenceReflectivity(constants, r.theory, theta));
    }
    const Extended top = out.raw.empty() ? 0 : *std::max_element(out.raw.begin(), out.raw.end());
    if (std::string w = kinematicalRangeWarning(constants, r.theory, top); !w.empty())
        out.warnings.push_back(std::move(w));
}

/// The Start run's broadening of a reflectivity: the mean of `raw` over the neighbours within the
/// scan, weighted by the instrument function (the Gaussian as the Start run has it).
std::vector<Extended> broadened(const std::vector<Extended>& raw, const SimulationRequest& r) {
    InstrumentKernel kernel;
    buildInstrumentKernel(r.instrument, {r.width.value_or(0), r.lorentzFraction, 0}, r.scanStep,
                          static_cast<int>(raw.size()), kernel);
    std::vector<Extended> out(raw.size());
    broadenReflectivity(kernel, raw, out);
    return out;
}

/// splitmix64: a small generator with a fixed sequence for every seed on every platform.
class NoiseGenerator {
public:
    explicit NoiseGenerator(std::uint64_t seed) : state_(seed) {}
    /// Uniform in (0, 1).
    double uniform() {
        state_ += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return (static_cast<double>(z >> 11) + 0.5) * 0x1.0p-53;
    }

    /// A Poisson-distributed count of mean `mu`: multiplication of uniforms for small means,
    /// transformed rejection (PTRS) for large ones.
    double poisson(double mu) {
        if (!(mu > 0)) return 0;
        if (mu < 10) {
            const double limit = std::exp(-mu);
            double product = uniform();
            double k = 0;
            while (product > limit) {
                product *= uniform();
                k += 1;
            }
            return k;
        }
        const double smu = std::sqrt(mu);
        const double b = 0.931 + 2.53 * smu;
        const double a = -0.059 + 0.02483 * b;
        const double invAlpha = 1.1239 + 1.1328 / (b - 3.4);
        const double vr = 0.9277 - 3.6224 / (b - 2);
        const double logMu = std::log(mu);
        for (;;) {
            const double u = uniform() - 0.5;
            const double v = uniform();
            const double us = 0.5 - std::fabs(u);
            const double k = std::floor((2 * a / us + b) * u + mu + 0.43);
            if (us >= 0.07 && v <= vr) return k;
            if (k < 0 || (us < 0.013 && v > us)) continue;
            if (std::log(v) + std::log(invAlpha) - std::log(a / (us * us) + b) <=
                -mu + k * logMu - std::lgamma(k + 1))
                return k;
        }
    }

private:
    std::uint64_t state_;
};

void appendNumber(std::string& out, double value) {
    char buffer[40];
    const auto res =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 10);
    out.append(buffer, res.ptr);
}

}  // namespace

long long simulationPointCount(double start, double end, double step) {
    if (!std::isfinite(start) || !std::isfinite(end))
        throw SimulationError("the scan limits must be finite numbers");
    if (!(step > 0) || !std::isfinite(step))
        throw SimulationError("the scan step must be a positive number of seconds of arc");
    if (end < start) throw SimulationError("the final angle lies below the initial angle");
    const double steps = std::floor((end - start) / step + 1e-9);
    if (steps + 1 > static_cast<double>(kMaxSimulationPoints))
        throw SimulationError("the scan has more than " + std::to_string(kMaxSimulationPoints) +
                              " points");
    return static_cast<long long>(steps) + 1;
}

std::vector<ProfileLayer> readProfileFile(const std::string& path) {
    // Every number with its line: three on every line make a file with a damage column, anything
    // else is read as thickness/strain pairs.
    std::vector<std::pair<float, int>> numbers;
    try {
        NumberReader reader = NumberReader::fromFile(path);
        float value = 0;
        while (reader.nextOrThrow(value)) {
            numbers.emplace_back(value, reader.line());
            if (numbers.size() > 3u * static_cast<std::size_t>(kMaxSampleLamellae) + 3)
                throw SimulationError("profile file '" + path + "' has more than " +
                                      std::to_string(kMaxSampleLamellae) + " lamellae");
        }
    } catch (const DataFileError& e) {
        throw SimulationError(e.what());
    }
    bool threeColumns = !numbers.empty() && numbers.size() % 3 == 0;
    for (std::size_t i = 0; threeColumns && i < numbers.size(); i += 3)
        threeColumns = numbers[i].second == numbers[i + 2].second &&
                       (i == 0 || numbers[i - 1].second != numbers[i].second);
    const std::size_t columns = threeColumns ? 3 : 2;
    if (numbers.size() % columns != 0)
        throw SimulationError("profile file '" + path + "': the last thickness has no strain");
    const std::size_t most = threeColumns ? static_cast<std::size_t>(kMaxSampleLamellae)
                                          : static_cast<std::size_t>(kMaxLayers);
    if (numbers.size() / columns > most)
        throw SimulationError("profile file '" + path + "' has more than " + std::to_string(most) +
                              " lamellae");
    std::vector<ProfileLayer> layers;
    for (std::size_t i = 0; i < numbers.size(); i += columns) {
        const float thickness = numbers[i].first;
        const float strain = numbers[i + 1].first;
        const float damage = threeColumns ? numbers[i + 2].first : 1.0f;
        const std::string which = "profile file '" + path + "': lamella " +
                                  std::to_string(layers.size() + 1) + " (line " +
                                  std::to_string(numbers[i].second) + ")";
        if (!(thickness >= 0)) throw SimulationError(which + " has a negative thickness");
        if (!(strain > -100.0f))
            throw SimulationError(which +
                                  " has a strain at or below -100 %, which collapses the cell");
        if (!(damage > 0 && damage <= 1))
            throw SimulationError(which + " has the damage factor " +
                                  engineNumber(static_cast<double>(damage)) +
                                  "; it must lie in (0, 1] (1: a perfect lamella)");
        layers.push_back({thickness, strain, damage});
    }
    if (layers.empty()) throw SimulationError("profile file '" + path + "' holds no lamella");
    return layers;
}

SimulationResult simulate(const SimulationRequest& request) {
    const long long points =
        simulationPointCount(request.scanStart, request.scanEnd, request.scanStep);
    if (request.theory != kTheoryDynamical && request.theory != kTheoryKinematical)
        throw SimulationError("unknown theory");
    if (request.width && !(*request.width > 0 && std::isfinite(*request.width)))
        throw SimulationError("the instrument width must be a positive number of seconds of arc");
    if (request.instrument.shape == InstrumentShape::PseudoVoigt &&
        !(request.width && request.lorentzFraction >= 0 && request.lorentzFraction <= 1))
        throw SimulationError(
            "the pseudo-Voigt instrument function needs a width and a Lorentzian fraction in "
            "[0, 1]");
    SimulationResult out;
    try {
        const Prepared prepared = setUp(request);
        const EngineState& state = prepared.state;
        out.angle.reserve(static_cast<std::size_t>(points));
        out.raw.reserve(static_cast<std::size_t>(points));
        if (request.structure == SimulationRequest::Structure::PerfectCrystal &&
            !request.physics.full())
            perfectCrystal(request, prepared.setup, points, out);
        else
            layered(request, state, points, out);
        for (std::size_t i = 0; i < out.raw.size(); ++i) {
            if (!std::isfinite(out.raw[i]))
                throw SimulationError("the reflectivity at " + engineNumber(out.angle[i]) +
                                      " seconds of arc is not a finite number");
            // An absorbing crystal never reflects more than it receives; the dynamical theory
            // gives more only where its arithmetic has broken down.
            if (request.theory == kTheoryDynamical && out.raw[i] > 1)
                throw SimulationError("the reflectivity at " + engineNumber(out.angle[i]) +
                                      " seconds of arc comes out as " + engineNumber(out.raw[i]) +
                                      ", above 1: the profile lies outside what the dynamical "
                                      "theory can compute");
        }
        if (request.width || request.instrument.shape == InstrumentShape::Measured)
            out.broadened = broadened(out.raw, request);
    } catch (const EngineError& e) {
        throw SimulationError(e.what());
    } catch (const ScatteringError& e) {
        throw SimulationError(e.what());
    } catch (const DataFileError& e) {
        throw SimulationError(e.what());
    }
    return out;
}

std::vector<double> countCurve(const std::vector<Extended>& curve, const CountingNoise& noise) {
    Extended top = 0;
    for (Extended v : curve)
        top = std::max(top, v);
    if (!(top > 0)) throw SimulationError("the curve is zero everywhere: nothing to count");
    std::vector<double> counts;
    counts.reserve(curve.size());
    std::optional<NoiseGenerator> gen;
    if (noise.seed) gen.emplace(*noise.seed);
    for (Extended v : curve) {
        const double mean = noise.background + noise.peakCounts * static_cast<double>(v / top);
        const double count = gen ? gen->poisson(mean) : mean;
        if (!std::isfinite(count))
            throw SimulationError("the counts (peak " + engineNumber(noise.peakCounts) +
                                  " plus background " + engineNumber(noise.background) +
                                  ") exceed the range of a number");
        counts.push_back(count);
    }
    return counts;
}

std::string simulationText(const SimulationResult& result, const std::vector<double>* counts) {
    std::string out;
    out.reserve(result.angle.size() * 40);
    for (std::size_t i = 0; i < result.angle.size(); ++i) {
        appendNumber(out, result.angle[i]);
        out += ' ';
        if (counts != nullptr) {
            appendNumber(out, (*counts)[i]);
        } else {
            appendNumber(out, static_cast<double>(result.raw[i]));
            if (!result.broadened.empty()) {
                out += ' ';
                appendNumber(out, static_cast<double>(result.broadened[i]));
            }
        }
        out += '\n';
    }
    return out;
}

}  // namespace kelvarin::cli
