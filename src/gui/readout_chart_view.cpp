#include "gui/readout_chart_view.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace kelvarin::gui {

ReadoutChartView::ReadoutChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void ReadoutChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        panning_ = true;
        panFrom_ = event->position();
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void ReadoutChartView::mouseMoveEvent(QMouseEvent* event) {
    if (panning_) {
        const QPointF d = event->position() - panFrom_;
        chart()->scroll(-d.x(), d.y());
        panFrom_ = event->position();
    }
    if (onReadout && chart()->plotArea().contains(event->position())) {
        const QPointF v = chart()->mapToValue(event->position());
        onReadout(QStringLiteral("%1 = %2,  %3 = %4")
                      .arg(chart()->property("xName").toString())
                      .arg(v.x(), 0, 'g', 6)
                      .arg(chart()->property("yName").toString())
                      .arg(v.y(), 0, 'g', 4));
    }
    QChartView::mouseMoveEvent(event);
}

void ReadoutChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        panning_ = false;
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {  // back to the whole curve, not one step out
        chart()->zoomReset();
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void ReadoutChartView::wheelEvent(QWheelEvent* event) {
    const double factor = event->angleDelta().y() > 0 ? 1.25 : 0.8;
    chart()->zoom(factor);
    event->accept();
}

void ReadoutChartView::keyPressEvent(QKeyEvent* event) {
    const qreal step = 20;
    switch (event->key()) {
        case Qt::Key_Left:
            chart()->scroll(-step, 0);
            break;
        case Qt::Key_Right:
            chart()->scroll(step, 0);
            break;
        case Qt::Key_Up:
            chart()->scroll(0, step);
            break;
        case Qt::Key_Down:
            chart()->scroll(0, -step);
            break;
        case Qt::Key_Home:
            chart()->zoomReset();
            break;
        default:
            QChartView::keyPressEvent(event);
            return;
    }
    event->accept();
}

}  // namespace kelvarin::gui
