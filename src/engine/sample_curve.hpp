// The rocking curve of a sample of lamellae at any list of angles, computed with the reference
// arithmetic of the layered calculation (the arithmetic kelvarin-cli simulate uses), and
// optionally broadened by the instrument Gaussian.
#pragma once

#include <optional>
#include <span>

#include "engine/physics.hpp"
#include "engine/sample.hpp"

namespace kelvarin {

/// Everything a curve of a sample needs besides its angles, checked and prepared once.
struct SampleCurveRequest {
    Setup setup;                        ///< from buildSetup
    Sample sample;                      ///< no lamella: the perfect crystal
    Theory theory = Theory::Dynamical;  ///< of the strained lamellae
    std::optional<Extended> width;      ///< FWHM of the instrument Gaussian, seconds of arc
    PhysicsOptions physics;             ///< classic unless the caller asks for the full one
};

/// Reflectivity of the request at each of `angles` (seconds of arc from the substrate's Bragg
/// angle) into `out` (same length). With a width the angles must be equally spaced (the step is
/// angles[1] − angles[0]) and each point becomes the Gaussian-weighted mean of its neighbours
/// within the scan. Throws EngineError with the message a user sees for a sample that cannot be
/// computed, angles that are not finite, or a width on angles that are not equally spaced.
/// Allocates only its working arrays; safe to call from several threads at once.
void sampleCurve(const SampleCurveRequest& request, std::span<const double> angles,
                 std::span<double> out);

}  // namespace kelvarin
