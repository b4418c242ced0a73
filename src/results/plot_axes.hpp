// The axes of the calculation window's plot: round tick values, the ticks and their numbers
// around the plotting area, and the axis titles with their units.
#pragma once

#include <string>
#include <vector>

#include "results/canvas.hpp"

namespace kelvarin {

class Locale;

/// One axis: the values at its low and high end (decimal logarithms when `log10` is set).
struct AxisScale {
    double low = 0;
    double high = 1;
    bool log10 = false;
};

/// Round values inside [low, high]: multiples of 1, 2 or 5 times a power of ten, chosen so that
/// about `target` of them (and never more than 2 × target + 1) fall inside.
std::vector<double> tickValues(double low, double high, int target);

/// Ticks, numbers and titles of both axes in the margins of `canvas`, placed with the mapping
/// of the plot (px = floor((a − low) / (range / W)), py = H − floor((v − low) / (range / H))).
/// A logarithmic axis is marked at whole decades and labelled with the values themselves.
void drawAxes(Canvas& canvas, const AxisScale& x, const AxisScale& y, const std::string& xTitle,
              const std::string& yTitle, const Locale& locale);

}  // namespace kelvarin
