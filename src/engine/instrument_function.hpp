// The angular response of the diffractometer that a computed rocking curve is convolved with:
// a Gaussian, a pseudo-Voigt (Gaussian and Lorentzian of one full width, mixed by a Lorentzian
// fraction η) or a resolution curve measured on a perfect crystal.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/state.hpp"

namespace kelvarin {

enum class InstrumentShape { Gaussian, PseudoVoigt, Measured };

/// "gaussian", "pseudo-voigt", "measured".
const char* instrumentShapeName(InstrumentShape shape);

/// A measured resolution curve: offsets in seconds of arc (increasing) from its peak, and its
/// intensity per second of arc, normalised to unit area (trapezoid rule).
struct ResolutionCurve {
    std::string source;  ///< the file, for messages
    std::vector<double> offset;
    std::vector<double> density;
    /// The density at offset x, linearly interpolated; 0 outside the measured range.
    double at(double x) const;
};

/// A resolution curve from measured (offset, intensity) pairs: checked (at least three points,
/// offsets finite and increasing, intensities finite and at least 0, some above 0), shifted so
/// that its highest point lies at offset 0, and normalised. Throws DataFileError naming `source`.
ResolutionCurve makeResolutionCurve(std::vector<double> offset, std::vector<double> intensity,
                                    const std::string& source);

/// Reads a resolution curve from a file: two columns (offset in seconds of arc, intensity) or any
/// instrument scan format readScan knows, whose angles are turned into offsets from the peak.
/// Throws DataFileError naming the file.
ResolutionCurve readResolutionCurve(const std::string& path);

/// The instrument function of a dataset (its width and Lorentzian fraction are parameters).
struct InstrumentFunction {
    InstrumentShape shape = InstrumentShape::Gaussian;
    std::shared_ptr<const ResolutionCurve> resolution;  ///< Measured only
};

/// The values of a dataset's instrument parameters in one evaluation.
struct InstrumentValues {
    Extended width = 8.5L;         ///< full width at half maximum, seconds of arc
    Extended lorentzFraction = 0;  ///< η of the pseudo-Voigt, in [0, 1]
    Extended offset = 0;           ///< angle offset, seconds of arc
};

/// Largest weight of the Lorentzian tails a pseudo-Voigt kernel leaves out.
inline constexpr double kOmittedTailWeight = 1e-4;

/// Half-width (seconds of arc) beyond which a Lorentzian of full width w, carried with weight η,
/// holds at most kOmittedTailWeight of the kernel: its tails beyond X weigh (2/π)·atan(w/2X).
Extended lorentzianReach(Extended width, Extended eta);

/// The kernel of `f` on a grid of `step` seconds of arc, reaching at most `scanPoints` steps
/// each side. The Gaussian is buildKernel's (not normalised, the same weights as the windows
/// use). The pseudo-Voigt (1 − η)·G + η·L reaches as far as its Gaussian does (where it falls to
/// 1e-6) or its Lorentzian does (lorentzianReach), whichever is further; the measured curve as
/// far as it was measured. Both are normalised to unit sum after the cut. Throws
/// CandidateRejected for a width ≤ 0 or η outside [0, 1] (not finite included).
void buildInstrumentKernel(const InstrumentFunction& f, const InstrumentValues& v, Extended step,
                           int scanPoints, InstrumentKernel& kernel);

/// The density (unit area, per second of arc) of `f` at offset x seconds of arc.
Extended instrumentDensity(const InstrumentFunction& f, const InstrumentValues& v, Extended x);

/// Most points of the equally spaced grid that broadening at unequal angles works on.
inline constexpr Extended kMaxFineGridPoints = 1 << 18;

/// Broadening on angles that are not equally spaced: the raw curve, taken as straight lines
/// between the measured points, is laid on an equally spaced grid of the finest measured step
/// (at most kMaxFineGridPoints over the scan), broadened there as broadenReflectivity does (the
/// instrument-weighted mean over the points of the scan, wide kernels through the Fourier
/// transform) and read back at the measured angles.
void broadenAtAngles(const InstrumentFunction& f, const InstrumentValues& v,
                     std::span<const Extended> angles, std::span<const Extended> raw,
                     std::span<Extended> curve);

}  // namespace kelvarin
