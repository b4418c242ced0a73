// The measured rocking curve: a text file of (angle in seconds of arc, intensity) pairs, read
// either as it stands or resampled onto whole seconds of arc.
#pragma once

#include <string>
#include <vector>

#include "engine/numio.hpp"
#include "engine/state.hpp"

namespace kelvarin {

enum class MeasuredMode {
    /// The points as they stand, intensities as read; the angles must be equally spaced.
    Raw,
    /// Linear interpolation onto whole seconds of arc; the scan follows the file.
    Resampled,
};

/// A measured curve read and checked, not yet stored. `angle` and `intensity` hold exactly the
/// points the curve store receives (index 0 upward); `last` is the index of the last point that
/// later steps use.
struct MeasuredCurve {
    std::vector<Extended> angle;      ///< seconds of arc
    std::vector<Extended> intensity;  ///< counts
    int last = 0;
    Extended max = 0;  ///< largest intensity, at least 0
    /// Resampled mode only: the whole-second scan that covers the curve, one step beyond the
    /// last interpolated point.
    int scanStart = 0;
    int scanEnd = 0;
};

/// Largest |angle| (seconds of arc) a measured file may hold: beyond it whole-second angles no
/// longer fit the scan's integers.
inline constexpr double kMaxMeasuredAngle = 1.0e8;

/// Parses a measured curve from `reader`. Raw mode stores the pairs and repeats the last one
/// after them (`last` is then the number of pairs), whether or not the file ends with a line end.
/// Resampled mode interpolates at t = floor(a0) + 1, t + 1, ... and stores each intensity with
/// the angle one step beyond the one it was interpolated at. Throws DataFileError naming the
/// file when it is empty, holds text, ends within a pair, has fewer than two pairs, has angles
/// that do not increase or lie beyond kMaxMeasuredAngle, yields no resampled point, or does not
/// fit `capacity` points (the computed scan included), and in raw mode when a step between
/// angles differs from the first one (the message names the line of the first such step).
MeasuredCurve parseMeasuredCurve(NumberReader& reader, MeasuredMode mode,
                                 int capacity = kCurveCapacity);

/// Reads the file `path` (see parseMeasuredCurve) and, only when it is sound, stores it:
/// `measAngle`, `measIntensity`, `measLast`, `measMax`, in resampled mode `scanStart` and
/// `scanEnd`. A file that fails leaves everything unchanged.
void readMeasuredCurve(CurveStore& store, RadiationRecord& radiation, const std::string& path,
                       MeasuredMode mode);

/// Stores an already checked curve (the second half of readMeasuredCurve).
void storeMeasuredCurve(CurveStore& store, RadiationRecord& radiation, const MeasuredCurve& curve,
                        MeasuredMode mode);

}  // namespace kelvarin
