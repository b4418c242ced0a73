// Paints the recorded drawing operations of a Canvas with QPainter: on screen, into an image,
// and into a PNG file.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <string>

class QPainter;

namespace kelvarin {
class Canvas;
}

namespace kelvarin::gui {

/// Replays the operations of `canvas` in order onto `painter` (one pixel per canvas unit).
void paintCanvas(QPainter& painter, const Canvas& canvas);

/// The canvas as an image of its own size; a blank canvas is white.
QImage renderCanvas(const Canvas& canvas);

/// Writes the canvas as a PNG at `path` through a temporary file, so a failed write never
/// replaces a good image. Returns "" on success, otherwise a message naming the file.
std::string savePng(const Canvas& canvas, const std::string& path);

/// The drawing area of a window: at least the canvas's design size, growing with the window;
/// repainted when the canvas changes. A new widget size is handed to `onResize` (plotting-area
/// width and height, pixels), which is to resize the canvas and redraw it.
class CanvasWidget : public QWidget {
public:
    CanvasWidget(const Canvas& canvas, QWidget* parent);
    /// Repaints when the canvas has changed since the last paint (called on every push).
    void refresh();
    std::function<void(int width, int height)> onResize;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void askForSize();
    const Canvas& canvas_;
    unsigned shownRevision_ = ~0u;
    bool resizePending_ = false;
};

}  // namespace kelvarin::gui
