// A drawing area without a display: it records the drawing operations in pixels, in order, so
// the window logic can be tested point by point and the Qt binding can paint them as they are.
#pragma once

#include <string>
#include <vector>

#include "app/controls.hpp"

namespace kelvarin {

enum class DrawKind {
    Rectangle,  ///< box (x1, y1)-(x2, y2) filled with the brush and outlined with the pen
    MoveTo,     ///< moves the pen to (x1, y1) without drawing
    LineTo,     ///< line from the pen position (x2, y2) to (x1, y1); the pen moves to (x1, y1)
    Ellipse,  ///< ellipse in the box (x1, y1)-(x2, y2): outline with the pen, filled with the brush
    Segment,  ///< line from (x1, y1) to (x2, y2) that leaves the pen where it is (axes, ticks)
    Text,     ///< `text` placed at (x1, y1) as `anchor` says
};

/// Which point of a text lies at its position.
enum class TextAnchor { TopCentre, RightMiddle, BottomCentre, LeftMiddle, CentreRotated };

/// One recorded operation; `pen` and `brush` are the colours in force when it was recorded.
struct DrawOp {
    DrawKind kind;
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
    Colour pen = Colour::Black;
    Colour brush = Colour::White;
    std::string text = {};                      ///< Text only
    TextAnchor anchor = TextAnchor::TopCentre;  ///< Text only; CentreRotated reads bottom to top
    bool operator==(const DrawOp&) const = default;
};

/// Room around the plotting area for the axis numbers and titles, pixels.
struct CanvasMargins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

/// The drawing area: size in pixels, pen and brush colours, and the operations drawn since the
/// last clear(). Pixel x grows to the right, y downward, (0, 0) is the top-left corner of the
/// plotting area; the margins around it (negative x and y, or beyond the size) hold the axes.
class Canvas : public Control {
public:
    Canvas(int width, int height, CanvasMargins margins = {})
        : width_(width), height_(height), margins_(margins) {}

    /// Size of the plotting area, pixels.
    int width() const { return width_; }
    int height() const { return height_; }
    const CanvasMargins& margins() const { return margins_; }
    /// Size of the whole picture, margins included, pixels.
    int fullWidth() const { return margins_.left + width_ + margins_.right; }
    int fullHeight() const { return margins_.top + height_ + margins_.bottom; }
    /// New size of the plotting area (at least 1 × 1); the drawing is cleared.
    void resize(int width, int height);

    Colour penColour = Colour::Black;
    Colour brushColour = Colour::White;

    /// Forgets every operation (the area is blank again).
    void clear();
    void rectangle(int x1, int y1, int x2, int y2);
    void moveTo(int x, int y);
    void lineTo(int x, int y);
    void ellipse(int x1, int y1, int x2, int y2);
    void segment(int x1, int y1, int x2, int y2);
    void text(int x, int y, std::string text, TextAnchor anchor);

    const std::vector<DrawOp>& ops() const { return ops_; }
    /// Grows with every change, so a view knows when to repaint.
    unsigned revision() const { return revision_; }
    int penX() const { return penX_; }
    int penY() const { return penY_; }

private:
    void add(DrawKind kind, int x1, int y1, int x2, int y2);

    int width_;
    int height_;
    CanvasMargins margins_;
    int penX_ = 0;
    int penY_ = 0;
    std::vector<DrawOp> ops_;
    unsigned revision_ = 0;
};

}  // namespace kelvarin
