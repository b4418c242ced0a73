#include "fit/project_curves.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "engine/broadening.hpp"
#include "engine/engine_error.hpp"
#include "engine/instrument_function.hpp"
#include "engine/io/scan.hpp"
#include "engine/layered.hpp"
#include "engine/measured_curve.hpp"
#include "engine/numio.hpp"
#include "engine/scattering.hpp"

namespace kelvarin::fit {

Sample projectSample(const Project& project) {
    if (!project.layers.empty() && (project.layersGiveSample || !project.hasProfile))
        return Sample{project.layers};
    if (!project.hasProfile)
        throw ProjectError(project.path +
                           ": the project has neither [[sample.layer]] nor a [profile]");
    // Every strain model with its settings: the B-spline, boxes and ion-profile models and any
    // model with damage fill a sample of their own.
    ProfileSettings settings = profileSettings(project);
    if (project.profile == ProfileKind::IonProfile)
        settings.ionProfile = readIonProfile(
            (std::filesystem::path(project.path).parent_path() / project.ionProfileFile).string());
    const auto model = makeProfileModel(settings);
    std::vector<Extended> values;
    for (const Parameter& p : project.profileParameters)
        values.push_back(p.value);
    if (model->fillsSample()) {
        Sample sample;
        model->fillSample(values, sample);
        return sample;
    }
    StrainProfile profile;
    model->fill(values, profile);
    return sampleOf(profile);
}

namespace {

/// The scan of a dataset: as given, or from the first two and the last angle of a two-column
/// file. Empty when the file is an instrument scan or its angles are not equally spaced: `angles`
/// then holds them, as offsets from the dataset's zero.
std::optional<ScanGrid> datasetGrid(const Project& project, const DatasetSpec& d,
                                    std::vector<double>& angles) {
    if (d.scan) {
        const auto& s = *d.scan;
        const double steps = std::floor((s[1] - s[0]) / s[2] + 1e-9);
        if (steps + 1 > kCurveCapacity)
            throw ProjectError(project.path + ": the scan has more than " +
                               std::to_string(kCurveCapacity) + " points");
        return ScanGrid{s[0], s[2], static_cast<int>(steps) + 1};
    }
    const std::filesystem::path file = std::filesystem::path(project.path).parent_path() / d.file;
    const bool declared = d.axis || d.unit || d.zero || d.scanNumber > 0;
    if (!declared && scanFormatOfFile(file.string()) == ScanFormat::PlainText) {
        try {
            NumberReader reader = NumberReader::fromFile(file.string());
            const MeasuredCurve curve = parseMeasuredCurve(reader, MeasuredMode::Raw);
            const double first = static_cast<double>(curve.angle.front());
            const double step =
                curve.angle.size() > 1 ? static_cast<double>(curve.angle[1]) - first : 1.0;
            return ScanGrid{first, step > 0 ? step : 1.0, std::max(curve.last, 1)};
        } catch (const DataFileError&) {
            // Unequal steps: read below as a scan of offsets.
        }
    }
    angles = datasetScan(file.string(), project, d).offset;
    return std::nullopt;
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
            const Setup setup = substrateSetup(project, reflection);
            storeSetup(setup, state);
            std::vector<double> angles;
            std::optional<ScanGrid> grid = datasetGrid(project, d, angles);
            const PhysicsOptions physics =
                physicsOptionsOf(d, static_cast<double>(setup.dispersion.lambda));
            // The model at the measured angle less the dataset's offset, the measured zero where
            // the model's substrate peak lies.
            const double offset = (d.offset ? static_cast<double>(d.offset->value) : 0.0) -
                                  zeroShiftOf(d, state, physics);
            Sample own = sample;
            LayerMaterials(project, {d.radiation}, {}).applyGiven(0, own);
            LayerStack stack;
            layerStack(own, state, stack);
            LayeredConstants constants;
            prepareLayered(state, stack, physics, constants);
            ProjectCurve c;
            InstrumentFunction instrument{d.instrument, nullptr};
            if (d.instrument == InstrumentShape::Measured)
                instrument.resolution = std::make_shared<const ResolutionCurve>(readResolutionCurve(
                    (std::filesystem::path(project.path).parent_path() / d.resolutionFile)
                        .string()));
            const InstrumentValues values{d.width.value, d.lorentzFraction.value, offset};
            if (grid) {
                grid->start -= offset;
                auto curve = std::make_unique<ComputedCurve>();
                layeredCurve(constants, d.theory, *grid, *curve);
                const auto n = static_cast<std::size_t>(grid->points);
                c.angle.resize(n);
                for (int p = 0; p < grid->points; ++p)
                    c.angle[static_cast<std::size_t>(p)] = grid->angle(p) + offset;
                c.reflectivity.assign(curve->calcRaw.begin(),
                                      curve->calcRaw.begin() + grid->points);
                c.warning = kinematicalRangeWarning(constants, d.theory, curve->calcMax);
                c.broadened.resize(n);
                InstrumentKernel kernel;
                buildInstrumentKernel(instrument, values, grid->step, grid->points, kernel);
                // The Gaussian as before; wide kernels through the Fourier transform.
                if (d.instrument == InstrumentShape::Gaussian)
                    broadenReflectivity(kernel, c.reflectivity, c.broadened);
                else
                    broadenReflectivity(kernel, c.reflectivity, c.broadened, kWideDirectTerms);
            } else {
                // Angles of any spacing, each computed where it was measured.
                c.angle = angles;
                for (double a : angles)
                    c.reflectivity.push_back(
                        referenceReflectivity(constants, d.theory, a - offset));
                const Extended top =
                    c.reflectivity.empty()
                        ? 0
                        : *std::max_element(c.reflectivity.begin(), c.reflectivity.end());
                c.warning = kinematicalRangeWarning(constants, d.theory, top);
                const std::vector<Extended> at(angles.begin(), angles.end());
                c.broadened.resize(angles.size());
                broadenAtAngles(instrument, values, at, c.reflectivity, c.broadened);
            }
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
