#include "fit/bspline.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace kelvarin::fit {

double clampedCubicBSpline(std::span<const double> control, double x) {
    const int m = static_cast<int>(control.size());
    if (m == 0) return 0;
    if (m < 4) return control[0];
    // Knots 0,0,0,0, 1/s, …, (s−1)/s, 1,1,1,1 with s = m − 3 spans; knot j (0..m+3).
    const int spans = m - 3;
    const auto knot = [spans](int j) {
        return static_cast<double>(std::clamp(j - 3, 0, spans)) / spans;
    };
    x = std::clamp(x, 0.0, 1.0);
    const int span = std::min(static_cast<int>(std::floor(x * spans)), spans - 1) + 3;
    // De Boor: the four control points span−3..span, blended three times.
    std::array<double, 4> d{};
    for (int j = 0; j < 4; ++j)
        d[static_cast<std::size_t>(j)] = control[static_cast<std::size_t>(span - 3 + j)];
    for (int r = 1; r <= 3; ++r) {
        for (int j = 3; j >= r; --j) {
            const int i = span - 3 + j;
            const double lo = knot(i);
            const double hi = knot(i + 4 - r);
            const double alpha = hi > lo ? (x - lo) / (hi - lo) : 0;
            d[static_cast<std::size_t>(j)] = (1 - alpha) * d[static_cast<std::size_t>(j - 1)] +
                                             alpha * d[static_cast<std::size_t>(j)];
        }
    }
    return d[3];
}

}  // namespace kelvarin::fit
