// The rocking curve of a known strain profile over any scan, fractional steps included: the
// perfect crystal, a lamella stack of one of the strain models, or a stack read from a
// thickness/strain file, computed with the engine's own functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/instrument_function.hpp"
#include "engine/physics.hpp"
#include "engine/state.hpp"

namespace kelvarin::cli {

/// A simulation that cannot be computed (unknown crystal, bad scan, unreadable profile, a
/// reflection or profile the physics rejects). The message says what is wrong.
class SimulationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Most points one simulation computes.
inline constexpr long long kMaxSimulationPoints = 2000000;

/// One lamella of a profile file, as read: thickness in Å, strain in percent, damage factor
/// f = exp(−L_H) in (0, 1] (1: a perfect lamella).
struct ProfileLayer {
    double thicknessAngstrom = 0;
    double strainPercent = 0;
    double damage = 1;
};

struct SimulationRequest {
    std::string crystal;  ///< catalogue name
    std::array<int, 3> hkl{0, 0, 4};
    int radiation = 4;                   ///< radiation list item, 6 = synchrotron
    Extended synchrotronWavelength = 0;  ///< Å, for radiation 6
    double scanStart = 0;                ///< seconds of arc
    double scanEnd = 0;
    double scanStep = 1;
    Theory theory = Theory::Dynamical;

    enum class Structure { PerfectCrystal, Model, Profile };
    Structure structure = Structure::PerfectCrystal;
    int layers = 16;                            ///< Model: number of lamellae
    ProfileKind model = ProfileKind::TwoGauss;  ///< Model: 2Gauss or Pearson VII
    std::array<float, 4> params{};      ///< Model: tau, ro, sigma1, sigma2 (or xc, A, w, mu)
    std::vector<ProfileLayer> profile;  ///< Profile: surface lamella first

    std::optional<Extended> width;  ///< FWHM of the instrument function, seconds of arc
    /// The instrument function: the Gaussian, a pseudo-Voigt of Lorentzian fraction
    /// `lorentzFraction`, or a measured resolution curve (which needs no width).
    InstrumentFunction instrument;
    Extended lorentzFraction = 0;

    /// Classic (the windows' arithmetic, the default) or the full two-beam calculation; its
    /// monochromatorTwoTheta is set from `monochromator` at the request's wavelength.
    PhysicsOptions physics;
    std::string monochromator = "none";  ///< "none", "Ge220", "Ge440", "Si111", "Si220"
};

struct SimulationResult {
    std::vector<double> angle;          ///< seconds of arc
    std::vector<Extended> raw;          ///< reflectivity
    std::vector<Extended> broadened;    ///< empty without a width
    std::vector<std::string> warnings;  ///< results to be read with care (printed on stderr)
};

/// Number of scan points start, start + step, … up to end (a point within 1e-9 steps of end
/// counts). Throws SimulationError for a step that is not positive, end below start or more
/// than kMaxSimulationPoints points.
long long simulationPointCount(double start, double end, double step);

/// Reads a two-column thickness (Å) / strain (%) file, one lamella per pair from the surface
/// inward, or a three-column file whose every line adds the damage factor (up to
/// kMaxSampleLamellae lamellae). Throws SimulationError naming the file for a file that cannot be
/// read, an odd count of numbers, no lamella, more than kMaxLayers lamellae (two columns), a
/// negative thickness, a strain at or below −100 % or a damage factor outside (0, 1].
std::vector<ProfileLayer> readProfileFile(const std::string& path);

/// Computes the curve. The raw reflectivity is the perfect crystal's as the "Start" run
/// computes it, or the layered curve of the stack as a refinement evaluates it. The broadened
/// curve is the Start run's: the Gaussian-weighted mean of the raw one over the neighbouring
/// points within the scan, as far as the Gaussian reaches (see buildKernel).
SimulationResult simulate(const SimulationRequest& request);

/// Counting statistics for a made-up measured curve.
struct CountingNoise {
    double peakCounts = 0;              ///< counts at the top of the curve
    double background = 0;              ///< counts added everywhere
    std::optional<std::uint64_t> seed;  ///< Poisson noise from this seed; none: exact means
};

/// Measured-curve intensities: background + peakCounts · curve / max(curve), with Poisson
/// noise drawn by a generator of its own (the same numbers on every platform) when a seed is
/// given.
std::vector<double> countCurve(const std::vector<Extended>& curve, const CountingNoise& noise);

/// The simulation as text: one line per angle, "angle raw [broadened]", or "angle counts" when
/// `counts` is given; numbers in the "%.10g" form with "." as decimal point.
std::string simulationText(const SimulationResult& result,
                           const std::vector<double>* counts = nullptr);

}  // namespace kelvarin::cli
