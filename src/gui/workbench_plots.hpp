// The plots of the workbench: the rocking curve (measured points and computed curve) with its
// residual panel underneath, and beside them the strain and damage profiles against depth (with
// their confidence band after a fit that has one) and the best error against generation.
// Exported together as PNG, SVG or PDF.
#pragma once

#include <QList>
#include <QPointF>
#include <QString>
#include <QWidget>

class QAreaSeries;
class QChart;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
class QLogValueAxis;

#include "workbench/workbench.hpp"

namespace kelvarin::gui {

class ReadoutChartView;

class WorkbenchPlots : public QWidget {
public:
    explicit WorkbenchPlots(QWidget* parent = nullptr);
    /// Deletes the intensity axis that is not in the chart (the chart owns the other one).
    ~WorkbenchPlots() override;

    /// Draws what the workbench holds now (measured and computed curve, residuals, profile,
    /// best error by generation).
    void showState(const workbench::Workbench& bench);
    /// Logarithmic (decades) or linear intensity axis.
    void setLogScale(bool log);
    bool logScale() const { return log_; }

    /// Writes the plots to `path` as PNG, SVG or PDF, after its suffix. On failure returns false
    /// with `error` naming the file or its folder.
    bool exportTo(const QString& path, QString& error);

    /// Called while a control point of a profile is dragged: which profile, the point's index,
    /// whether it moves sideways (a box's thickness) and the value under the cursor: the depth
    /// (Å) sideways, else the strain (%) or damage factor. A drag keeps the direction it starts
    /// in; points without a thickness only move up and down.
    std::function<void(workbench::ProfilePart, int, bool, double)> onControlDragged;
    QScatterSeries* controlSeries(
        workbench::ProfilePart part = workbench::ProfilePart::Strain) const {
        return control_[static_cast<int>(part)];
    }

    /// Receives the cursor read-out of any plot.
    void setReadout(const std::function<void(const QString&)>& readout);

    QChart* curveChart() const { return curveChart_; }
    QChart* profileChart() const { return profileChart_; }
    QChart* residualChart() const { return residualChart_; }
    QChart* errorChart() const { return errorChart_; }
    QChart* damageChart() const { return damageChart_; }
    QLineSeries* damageSeries() const { return damage_; }
    QAreaSeries* strainBand() const { return strainBand_; }
    /// Whether the damage profile is shown (models with damage only).
    bool damageShown() const;
    QAreaSeries* damageBand() const { return damageBand_; }
    /// The view of the strain or damage profile (control points are dragged on it).
    ReadoutChartView* viewOf(workbench::ProfilePart part) const;
    ReadoutChartView* profileView() const { return views_[1]; }
    QLineSeries* computedSeries() const { return computed_; }
    QScatterSeries* measuredSeries() const { return measured_; }
    QLineSeries* profileSeries() const { return profile_; }

protected:
    /// Starts, follows and ends the drag of a control point on the profile plot; other presses
    /// go on to the plot's zoom and pan.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rangeIntensity();
    /// The control point within a few pixels of `pos` (the profile's view coordinates), or −1.
    int controlAt(workbench::ProfilePart part, const QPointF& pos) const;

    QChart* curveChart_;
    QChart* residualChart_;
    QChart* profileChart_;
    QChart* errorChart_;
    QChart* damageChart_;
    ReadoutChartView* views_[5];
    QScatterSeries* measured_;
    QLineSeries* computed_;
    QLineSeries* residual_;
    QLineSeries* profile_;
    QLineSeries* error_;
    QLineSeries* damage_;
    QScatterSeries* control_[2];  ///< strain, damage
    int dragging_ = -1;           ///< the control point being dragged, or −1
    workbench::ProfilePart dragPart_ = workbench::ProfilePart::Strain;
    enum class DragAxis { Undecided, Vertical, Sideways };
    DragAxis dragAxis_ = DragAxis::Undecided;
    /// The workbench last drawn (the window's, which outlives a drag), drawn again when a drag
    /// ends.
    const workbench::Workbench* shown_ = nullptr;
    QPointF pressedAt_;             ///< where the drag started, view coordinates
    QList<bool> sideways_[2];       ///< per control point of each profile: it has a thickness
    QList<QPointF> shownMeasured_;  ///< the measured points the series holds
    QAreaSeries* strainBand_;
    QAreaSeries* damageBand_;
    QValueAxis* angleAxis_;
    QLogValueAxis* logAxis_;
    QValueAxis* linearAxis_;
    double lowest_ = 1;    ///< smallest positive intensity drawn, counts
    double highest_ = 10;  ///< largest intensity drawn, counts
    bool log_ = true;
};

}  // namespace kelvarin::gui
