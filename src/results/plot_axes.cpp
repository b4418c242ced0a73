#include "results/plot_axes.hpp"

#include <cmath>

#include "app/locale.hpp"

namespace kelvarin {

std::vector<double> tickValues(double low, double high, int target) {
    std::vector<double> ticks;
    const double span = high - low;
    if (!(span > 0) || !std::isfinite(span) || target < 1) return ticks;
    const double rough = span / target;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (factor * power >= rough) {
            step = factor * power;
            break;
        }
    const double first = std::ceil(low / step - 1e-9);
    for (double k = first; k * step <= high + step * 1e-9; k += 1) {
        ticks.push_back(k * step);
        if (static_cast<int>(ticks.size()) > 2 * target + 1) break;
    }
    return ticks;
}

namespace {

constexpr int kTickLength = 5;

/// Tick values of a logarithmic axis (log values): whole decades, every second or third one when
/// there are many, or round steps when the axis spans less than two decades.
std::vector<double> logTicks(double low, double high, int target) {
    std::vector<double> decades;
    for (double d = std::ceil(low); d <= high; d += 1)
        decades.push_back(d);
    if (decades.size() < 2) return tickValues(low, high, target);
    const std::size_t stride =
        (decades.size() + static_cast<std::size_t>(target) - 1) / static_cast<std::size_t>(target);
    std::vector<double> ticks;
    for (std::size_t i = 0; i < decades.size(); i += stride)
        ticks.push_back(decades[i]);
    return ticks;
}

std::string tickText(double value, bool log10, const Locale& locale) {
    if (log10) return locale.floatToText(std::pow(10.0, value), 3);
    if (std::fabs(value) < 1e-12) return "0";
    return locale.floatToText(value, 6);
}

}  // namespace

void drawAxes(Canvas& canvas, const AxisScale& x, const AxisScale& y, const std::string& xTitle,
              const std::string& yTitle, const Locale& locale) {
    const int W = canvas.width();
    const int H = canvas.height();
    const CanvasMargins& m = canvas.margins();
    const Colour pen = canvas.penColour;
    canvas.penColour = Colour::Black;

    const double xRange = x.high - x.low;
    const auto xTicks = x.log10 ? logTicks(x.low, x.high, std::max(W / 90, 2))
                                : tickValues(x.low, x.high, std::max(W / 90, 2));
    for (double v : xTicks) {
        const int px = static_cast<int>(std::floor((v - x.low) / (xRange / W)));
        canvas.segment(px, H, px, H + kTickLength);
        canvas.text(px, H + kTickLength + 2, tickText(v, x.log10, locale), TextAnchor::TopCentre);
    }
    const double yRange = y.high - y.low;
    const auto yTicks = y.log10 ? logTicks(y.low, y.high, std::max(H / 50, 2))
                                : tickValues(y.low, y.high, std::max(H / 50, 2));
    for (double v : yTicks) {
        const int py = H - static_cast<int>(std::floor((v - y.low) / (yRange / H)));
        canvas.segment(-kTickLength, py, 0, py);
        canvas.text(-kTickLength - 3, py, tickText(v, y.log10, locale), TextAnchor::RightMiddle);
    }
    canvas.text(W / 2, H + m.bottom - 2, xTitle, TextAnchor::BottomCentre);
    canvas.text(-m.left + 10, H / 2, yTitle, TextAnchor::CentreRotated);
    canvas.penColour = pen;
}

}  // namespace kelvarin
