#include "gui/plot_painter.hpp"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>
#include <QSaveFile>
#include <QTimer>

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

/// A text at its anchor point; a rotated one reads from bottom to top.
void drawText(QPainter& painter, const DrawOp& op) {
    const QString text = QString::fromStdString(op.text);
    const QFontMetrics metrics = painter.fontMetrics();
    const int w = metrics.horizontalAdvance(text);
    const int h = metrics.height();
    QRect box;
    switch (op.anchor) {
        case TextAnchor::TopCentre:
            box = QRect(op.x1 - w / 2, op.y1, w, h);
            break;
        case TextAnchor::BottomCentre:
            box = QRect(op.x1 - w / 2, op.y1 - h, w, h);
            break;
        case TextAnchor::RightMiddle:
            box = QRect(op.x1 - w, op.y1 - h / 2, w, h);
            break;
        case TextAnchor::LeftMiddle:
            box = QRect(op.x1, op.y1 - h / 2, w, h);
            break;
        case TextAnchor::CentreRotated:
            painter.save();
            painter.translate(op.x1, op.y1);
            painter.rotate(-90);
            painter.drawText(QRect(-w / 2, -h / 2, w, h), Qt::AlignCenter, text);
            painter.restore();
            return;
    }
    painter.drawText(box, Qt::AlignCenter, text);
}

}  // namespace

void paintCanvas(QPainter& painter, const Canvas& canvas) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.save();
    // Operations are in the coordinates of the plotting area, inside the margins.
    painter.translate(canvas.margins().left, canvas.margins().top);
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
            case DrawKind::Segment:
                painter.drawLine(QPoint(op.x1, op.y1), QPoint(op.x2, op.y2));
                break;
            case DrawKind::Text:
                drawText(painter, op);
                break;
        }
    }
    painter.restore();
}

QImage renderCanvas(const Canvas& canvas) {
    QImage image(std::max(canvas.fullWidth(), 1), std::max(canvas.fullHeight(), 1),
                 QImage::Format_RGB32);
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
    // The window opens with the design size of the plotting area and may grow from there.
    setMinimumSize(canvas.fullWidth(), canvas.fullHeight());
    setAttribute(Qt::WA_OpaquePaintEvent);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
}

void CanvasWidget::refresh() {
    if (isHidden() == canvas_.visible) setVisible(canvas_.visible);
    if (shownRevision_ != canvas_.revision()) update();
    // A size the window logic could not take (a run was busy) is asked for again later.
    if (size() != QSize(canvas_.fullWidth(), canvas_.fullHeight())) askForSize();
}

void CanvasWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    askForSize();
}

void CanvasWidget::askForSize() {
    if (!onResize || resizePending_) return;
    resizePending_ = true;
    // Deferred: the window logic runs outside the layout pass and outside a push.
    QTimer::singleShot(0, this, [this] {
        resizePending_ = false;
        const CanvasMargins& m = canvas_.margins();
        const int w = width() - m.left - m.right;
        const int h = height() - m.top - m.bottom;
        if (w != canvas_.width() || h != canvas_.height()) onResize(w, h);
    });
}

void CanvasWidget::paintEvent(QPaintEvent*) {
    shownRevision_ = canvas_.revision();
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    paintCanvas(painter, canvas_);
}

}  // namespace kelvarin::gui
