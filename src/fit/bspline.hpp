// Cubic B-splines on uniform clamped knots, the shape of the free-form strain and damage
// profiles.
#pragma once

#include <span>

namespace kelvarin::fit {

/// The cubic B-spline with control points `control` (4 or more) on uniform clamped knots over
/// [0, 1], at `x` (clamped to [0, 1]). It starts at the first control point and ends at the last,
/// and lies between the smallest and the largest control point everywhere.
double clampedCubicBSpline(std::span<const double> control, double x);

}  // namespace kelvarin::fit
