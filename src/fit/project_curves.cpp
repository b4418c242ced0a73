#include "fit/project_curves.hpp"

#include <cmath>
#include <filesystem>

#include "engine/broadening.hpp"
#include "engine/engine_error.hpp"
#include "engine/instrument_function.hpp"
#include "engine/layered.hpp"
#include "engine/measured_curve.hpp"
#include "engine/numio.hpp"
#include "engine/scattering.hpp"

namespace kelvarin::fit {

Sample projectSample(const Project& project) {
    if (!project.layers.empty()) return Sample{project.layers};
    if (!project.hasProfile)
        throw ProjectError(project.path +
                           ": the project has neither [[sample.layer]] nor a [profile]");
    const auto model = makeProfileModel(project.profile, project.profileLayers);
    std::vector<Extended> values;
    for (const Parameter& p : project.profileParameters)
        values.push_back(p.value);
    StrainProfile profile;
    model->fill(values, profile);
    return sampleOf(profile);
}

namespace {

/// The scan of a dataset: as given, or from the first two and the last angle of its file.
ScanGrid datasetGrid(const Project& project, const DatasetSpec& d) {
    if (d.scan) {
        const auto& s = *d.scan;
        const double steps = std::floor((s[1] - s[0]) / s[2] + 1e-9);
        if (steps + 1 > kCurveCapacity)
            throw ProjectError(project.path + ": the scan has more than " +
                               std::to_string(kCurveCapacity) + " points");
        return ScanGrid{s[0], s[2], static_cast<int>(steps) + 1};
    }
    const std::filesystem::path file = std::filesystem::path(project.path).parent_path() / d.file;
    NumberReader reader = NumberReader::fromFile(file.string());
    const MeasuredCurve curve = parseMeasuredCurve(reader, MeasuredMode::Raw);
    const double first = static_cast<double>(curve.angle.front());
    const double step = curve.angle.size() > 1 ? static_cast<double>(curve.angle[1]) - first : 1.0;
    return ScanGrid{first, step > 0 ? step : 1.0, std::max(curve.last, 1)};
}

}  // namespace

std::vector<ProjectCurve> projectCurves(const Project& project) {
    std::vector<ProjectCurve> out;
    try {
        const Sample sample = projectSample(project);
        validateSample(sample);
        for (const DatasetSpec& d : project.datasets) {
            EngineState state;
            const Reflection reflection{static_cast<Extended>(d.hkl[0]),
                                        static_cast<Extended>(d.hkl[1]),
                                        static_cast<Extended>(d.hkl[2]), d.radiation};
            storeSetup(buildSetup(Crystal::fromCatalogue(project.substrate), reflection), state);
            ScanGrid grid = datasetGrid(project, d);
            // The model at the measured angle less the dataset's offset.
            if (d.offset) grid.start -= static_cast<double>(d.offset->value);
            LayerStack stack;
            layerStack(sample, state, stack);
            LayeredConstants constants;
            prepareLayered(state, stack, constants);
            auto curve = std::make_unique<ComputedCurve>();
            layeredCurve(constants, d.theory, grid, *curve);
            ProjectCurve c;
            const auto n = static_cast<std::size_t>(grid.points);
            c.angle.resize(n);
            for (int p = 0; p < grid.points; ++p)
                c.angle[static_cast<std::size_t>(p)] =
                    grid.angle(p) + (d.offset ? static_cast<double>(d.offset->value) : 0.0);
            c.reflectivity.assign(curve->calcRaw.begin(), curve->calcRaw.begin() + grid.points);
            c.broadened.resize(n);
            InstrumentFunction instrument{d.instrument, nullptr};
            if (d.instrument == InstrumentShape::Measured)
                instrument.resolution = std::make_shared<const ResolutionCurve>(readResolutionCurve(
                    (std::filesystem::path(project.path).parent_path() / d.resolutionFile)
                        .string()));
            InstrumentKernel kernel;
            buildInstrumentKernel(instrument, {d.width.value, d.lorentzFraction.value, 0},
                                  grid.step, grid.points, kernel);
            broadenReflectivity(kernel, c.reflectivity, c.broadened);
            out.push_back(std::move(c));
        }
    } catch (const EngineError& e) {
        throw ProjectError(project.path + ": " + e.what());
    } catch (const DataFileError& e) {
        throw ProjectError(project.path + ": " + e.what());
    } catch (const ScatteringError& e) {
        throw ProjectError(project.path + ": " + e.what());
    }
    return out;
}

}  // namespace kelvarin::fit
