#include "gui/plot_painter.hpp"

#include <QPainter>
#include <QSaveFile>

#include "gui/binding.hpp"
#include "results/canvas.hpp"

namespace kelvarin::gui {

namespace {

/// A box given by two corners, the second one excluded, as the drawing area counts pixels.
QRect box(int x1, int y1, int x2, int y2) {
    const int left = std::min(x1, x2);
    const int top = std::min(y1, y2);
    const int w = std::abs(x2 - x1);
    const int h = std::abs(y2 - y1);
    // A stroked QRect covers width + 1 pixels; the area's boxes stop one pixel short of x2, y2.
    return QRect(left, top, std::max(w - 1, 0), std::max(h - 1, 0));
}

}  // namespace

void paintCanvas(QPainter& painter, const Canvas& canvas) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const DrawOp& op : canvas.ops()) {
        painter.setPen(QPen(toQColor(op.pen), 1, Qt::SolidLine));
        painter.setBrush(QBrush(toQColor(op.brush)));
        switch (op.kind) {
            case DrawKind::Rectangle:
                painter.drawRect(box(op.x1, op.y1, op.x2, op.y2));
                break;
            case DrawKind::Ellipse:
                painter.drawEllipse(box(op.x1, op.y1, op.x2, op.y2));
                break;
            case DrawKind::MoveTo:
                break;  // the pen position travels with each LineTo
            case DrawKind::LineTo:
                painter.drawLine(QPoint(op.x2, op.y2), QPoint(op.x1, op.y1));
                break;
        }
    }
}

QImage renderCanvas(const Canvas& canvas) {
    QImage image(std::max(canvas.width(), 1), std::max(canvas.height(), 1), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintCanvas(painter, canvas);
    painter.end();
    return image;
}

std::string savePng(const Canvas& canvas, const std::string& path) {
    const QImage image = renderCanvas(canvas);
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return "Cannot create the plot image \"" + path + "\": " + file.errorString().toStdString();
    if (!image.save(&file, "PNG")) {
        file.cancelWriting();
        return "Cannot write the plot image \"" + path + "\"";
    }
    if (!file.commit())
        return "Cannot write the plot image \"" + path + "\": " + file.errorString().toStdString();
    return {};
}

CanvasWidget::CanvasWidget(const Canvas& canvas, QWidget* parent)
    : QWidget(parent), canvas_(canvas) {
    setFixedSize(canvas.width(), canvas.height());
    setAttribute(Qt::WA_OpaquePaintEvent);
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
}

void CanvasWidget::refresh() {
    if (isHidden() == canvas_.visible) setVisible(canvas_.visible);
    if (shownRevision_ != canvas_.revision()) update();
}

void CanvasWidget::paintEvent(QPaintEvent*) {
    shownRevision_ = canvas_.revision();
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    paintCanvas(painter, canvas_);
}

}  // namespace kelvarin::gui
