#include "results/canvas.hpp"

#include <algorithm>

namespace kelvarin {

void Canvas::clear() {
    ops_.clear();
    penX_ = penY_ = 0;
    ++revision_;
}

void Canvas::resize(int width, int height) {
    width_ = std::max(width, 1);
    height_ = std::max(height, 1);
    clear();
}

void Canvas::add(DrawKind kind, int x1, int y1, int x2, int y2) {
    ops_.push_back(DrawOp{kind, x1, y1, x2, y2, penColour, brushColour});
    ++revision_;
}

void Canvas::rectangle(int x1, int y1, int x2, int y2) {
    add(DrawKind::Rectangle, x1, y1, x2, y2);
}

void Canvas::moveTo(int x, int y) {
    add(DrawKind::MoveTo, x, y, x, y);
    penX_ = x;
    penY_ = y;
}

void Canvas::lineTo(int x, int y) {
    add(DrawKind::LineTo, x, y, penX_, penY_);
    penX_ = x;
    penY_ = y;
}

void Canvas::ellipse(int x1, int y1, int x2, int y2) {
    add(DrawKind::Ellipse, x1, y1, x2, y2);
}

void Canvas::segment(int x1, int y1, int x2, int y2) {
    add(DrawKind::Segment, x1, y1, x2, y2);
}

void Canvas::text(int x, int y, std::string text, TextAnchor anchor) {
    add(DrawKind::Text, x, y, x, y);
    ops_.back().text = std::move(text);
    ops_.back().anchor = anchor;
}

}  // namespace kelvarin
