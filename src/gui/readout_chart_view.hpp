// A chart view a user can explore: rubber-band zoom, wheel zoom, panning with the middle button
// or the arrow keys, right click back to the whole curve, and a read-out of the values under
// the cursor.
#pragma once

#include <QChartView>
#include <functional>

namespace kelvarin::gui {

class ReadoutChartView : public QChartView {
public:
    explicit ReadoutChartView(QChart* chart, QWidget* parent = nullptr);

    /// Receives "x = …, y = …" in the units of the axes while the cursor moves over the plot.
    std::function<void(const QString&)> onReadout;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointF panFrom_;
    bool panning_ = false;
};

}  // namespace kelvarin::gui
