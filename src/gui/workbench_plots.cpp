#include "gui/workbench_plots.hpp"

#include <QAreaSeries>
#include <QChart>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>

#include "gui/readout_chart_view.hpp"
#include "workbench/workbench.hpp"

namespace kelvarin::gui {

namespace {

/// A chart with a legend, titled axes (with units) and the names the cursor read-out uses.
QChart* makeChart(const QString& title, const QString& xName, const QString& yName) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setProperty("xName", xName);
    chart->setProperty("yName", yName);
    return chart;
}

/// A tick interval of 1, 2 or 5 times a power of ten that gives about `ticks` ticks over `span`.
double roundInterval(double span, int ticks) {
    if (!(span > 0) || !std::isfinite(span)) return 1;
    const double raw = span / ticks;
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / decade;
    return (m < 1.5 ? 1 : m < 3.5 ? 2 : m < 7.5 ? 5 : 10) * decade;
}

/// The tick interval of `axis` for `span`: about as many ticks as the axis was made for.
double intervalFor(const QValueAxis* axis, double span) {
    const int ticks = axis->property("ticks").toInt();
    return roundInterval(span, ticks > 0 ? ticks : 5);
}

/// A linear axis whose ticks stay on round numbers (multiples of 1, 2 or 5 times a power of
/// ten, zero among them) whatever range zoom and pan give it; `ticks` about as many as a panel
/// of its size has room for (a chart elides labels that crowd).
QValueAxis* valueAxis(QChart* chart, const QString& title, Qt::Alignment where, int ticks = 5) {
    auto* axis = new QValueAxis;
    axis->setProperty("ticks", ticks);
    axis->setTitleText(title);
    axis->setLabelFormat("%g");
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(intervalFor(axis, axis->max() - axis->min()));
    // Zoom and pan change the range by moderate factors; the interval follows them.
    QObject::connect(axis, &QValueAxis::rangeChanged, axis, [axis](qreal lo, qreal hi) {
        axis->setTickInterval(intervalFor(axis, hi - lo));
    });
    chart->addAxis(axis, where);
    return axis;
}

QLineSeries* lineSeries(QChart* chart, const QString& name, QAbstractAxis* x, QAbstractAxis* y,
                        const QColor& colour) {
    auto* s = new QLineSeries;
    s->setName(name);
    s->setPen(QPen(colour, 1.6));
    chart->addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
    return s;
}

/// A shaded band between two lines (filled by showState), drawn under the profile's line.
QAreaSeries* bandSeries(QChart* chart, const QString& name, QAbstractAxis* x, QAbstractAxis* y,
                        const QColor& colour) {
    // The area does not own its two lines: they are its children, deleted with it.
    auto* band = new QAreaSeries;
    band->setUpperSeries(new QLineSeries(band));
    band->setLowerSeries(new QLineSeries(band));
    band->setName(name);
    QColor fill = colour;
    fill.setAlpha(60);
    band->setBrush(fill);
    band->setPen(Qt::NoPen);
    chart->addSeries(band);
    band->attachAxis(x);
    band->attachAxis(y);
    return band;
}

/// The points a user drags to shape a profile.
QScatterSeries* dragSeries(QChart* chart, QAbstractAxis* x, QAbstractAxis* y,
                           const QColor& colour) {
    auto* s = new QScatterSeries;
    s->setName(QObject::tr("control points (drag)"));
    s->setMarkerSize(9);
    s->setColor(colour);
    s->setBorderColor(Qt::white);
    chart->addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
    return s;
}

/// Sets the range of a linear axis, its tick interval first: the chart lays the ticks out as soon
/// as the range changes, and a range far wider than the old interval would mean millions of
/// ticks.
void setAxisRange(QValueAxis* axis, double lo, double hi) {
    axis->setTickInterval(intervalFor(axis, hi - lo));
    axis->setRange(lo, hi);
}

/// Axis range of the points with a little room, or [0, 1] without points.
void fitRange(QValueAxis* axis, double lo, double hi) {
    if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi)) {
        setAxisRange(axis, 0, 1);
        return;
    }
    const double pad = hi > lo ? 0.02 * (hi - lo) : hi == 0 ? 1 : std::abs(hi) * 0.1;
    setAxisRange(axis, lo - pad, hi + pad);
}

}  // namespace

WorkbenchPlots::WorkbenchPlots(QWidget* parent) : QWidget(parent) {
    curveChart_ = makeChart(tr("Rocking curve"), tr("Δθ (arcsec)"), tr("I (counts)"));
    angleAxis_ = valueAxis(curveChart_, tr("Δθ (arcsec)"), Qt::AlignBottom);
    logAxis_ = new QLogValueAxis;
    logAxis_->setBase(10);
    logAxis_->setLabelFormat("%g");
    logAxis_->setMinorTickCount(8);
    logAxis_->setTitleText(tr("Intensity (counts)"));
    linearAxis_ = new QValueAxis;
    linearAxis_->setLabelFormat("%g");
    linearAxis_->setTickType(QValueAxis::TicksDynamic);
    linearAxis_->setTickAnchor(0);
    linearAxis_->setTitleText(tr("Intensity (counts)"));
    curveChart_->addAxis(logAxis_, Qt::AlignLeft);
    measured_ = new QScatterSeries;
    measured_->setName(tr("measured"));
    measured_->setMarkerSize(4);
    measured_->setBorderColor(Qt::transparent);
    measured_->setColor(QColor(20, 20, 20));
    curveChart_->addSeries(measured_);
    measured_->attachAxis(angleAxis_);
    measured_->attachAxis(logAxis_);
    computed_ = lineSeries(curveChart_, tr("computed"), angleAxis_, logAxis_, QColor(200, 30, 30));

    residualChart_ = makeChart(QString(), tr("Δθ (arcsec)"), tr("log₁₀(meas/calc)"));
    auto* resX = valueAxis(residualChart_, tr("Δθ (arcsec)"), Qt::AlignBottom);
    auto* resY = valueAxis(residualChart_, tr("log₁₀(meas/calc)"), Qt::AlignLeft, 3);
    residual_ = lineSeries(residualChart_, tr("residual"), resX, resY, QColor(30, 90, 200));
    // The residual panel follows the curve's angle range (zoom and pan included).
    connect(angleAxis_, &QValueAxis::rangeChanged, resX,
            [resX](qreal lo, qreal hi) { setAxisRange(resX, lo, hi); });

    profileChart_ = makeChart(tr("Strain profile"), tr("depth (Å)"), tr("strain (%)"));
    auto* depthAxis = valueAxis(profileChart_, tr("Depth (Å)"), Qt::AlignBottom);
    auto* strainAxis = valueAxis(profileChart_, tr("Strain (%)"), Qt::AlignLeft);
    strainBand_ =
        bandSeries(profileChart_, tr("strain 16–84 %"), depthAxis, strainAxis, QColor(0, 130, 60));
    profile_ = lineSeries(profileChart_, tr("strain"), depthAxis, strainAxis, QColor(0, 130, 60));
    control_[0] = dragSeries(profileChart_, depthAxis, strainAxis, QColor(0, 130, 60));

    damageChart_ = makeChart(tr("Damage profile"), tr("depth (Å)"), tr("damage factor"));
    auto* damageDepth = valueAxis(damageChart_, tr("Depth (Å)"), Qt::AlignBottom);
    auto* damageAxis = valueAxis(damageChart_, tr("Damage factor exp(−L_H)"), Qt::AlignLeft);
    damageBand_ = bandSeries(damageChart_, tr("damage 16–84 %"), damageDepth, damageAxis,
                             QColor(170, 100, 0));
    damage_ =
        lineSeries(damageChart_, tr("damage factor"), damageDepth, damageAxis, QColor(170, 100, 0));
    control_[1] = dragSeries(damageChart_, damageDepth, damageAxis, QColor(170, 100, 0));
    // Strain and damage share the depth: zoom and pan of the one move the other.
    connect(depthAxis, &QValueAxis::rangeChanged, damageDepth,
            [damageDepth](qreal lo, qreal hi) { setAxisRange(damageDepth, lo, hi); });

    errorChart_ = makeChart(tr("Fit progress"), tr("generation"), tr("error (%)"));
    auto* genAxis = valueAxis(errorChart_, tr("Generation"), Qt::AlignBottom);
    auto* errAxis = valueAxis(errorChart_, tr("Error (%)"), Qt::AlignLeft, 3);
    error_ = lineSeries(errorChart_, tr("best error"), genAxis, errAxis, QColor(120, 60, 160));

    // The curve over its residuals on the left; strain, damage and progress on the right.
    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    QChart* charts[5] = {curveChart_, profileChart_, residualChart_, errorChart_, damageChart_};
    for (int i = 0; i < 5; ++i)
        views_[i] = new ReadoutChartView(charts[i], this);
    left->addWidget(views_[0], 3);
    left->addWidget(views_[2], 1);
    right->addWidget(views_[1], 2);
    right->addWidget(views_[4], 2);
    right->addWidget(views_[3], 1);
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);
    residualChart_->legend()->setVisible(false);
    errorChart_->legend()->setVisible(false);  // one line, named by the title
    // Short panels keep room for their tick labels (a chart elides labels that do not fit).
    views_[2]->setMinimumHeight(170);
    views_[3]->setMinimumHeight(170);
    views_[4]->setVisible(false);
    views_[1]->viewport()->installEventFilter(this);
    views_[4]->viewport()->installEventFilter(this);
    setMinimumSize(700, 480);
}

ReadoutChartView* WorkbenchPlots::viewOf(workbench::ProfilePart part) const {
    return views_[part == workbench::ProfilePart::Strain ? 1 : 4];
}

int WorkbenchPlots::controlAt(workbench::ProfilePart part, const QPointF& pos) const {
    const QPointF scene = viewOf(part)->mapToScene(pos.toPoint());
    QScatterSeries* points = control_[static_cast<int>(part)];
    QChart* chart = viewOf(part)->chart();
    int best = -1;
    double nearest = 8;  // pixels
    for (int i = 0; i < points->count(); ++i) {
        const QPointF at = chart->mapToScene(chart->mapToPosition(points->at(i), points));
        const double d = QLineF(at, scene).length();
        if (d <= nearest) {
            nearest = d;
            best = i;
        }
    }
    return best;
}

bool WorkbenchPlots::eventFilter(QObject* watched, QEvent* event) {
    using workbench::ProfilePart;
    const auto* mouse = dynamic_cast<QMouseEvent*>(event);
    const bool strain = watched == views_[1]->viewport();
    if (mouse == nullptr || (!strain && watched != views_[4]->viewport()))
        return QWidget::eventFilter(watched, event);
    const ProfilePart part = strain ? ProfilePart::Strain : ProfilePart::Damage;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (mouse->button() != Qt::LeftButton) return false;
            dragging_ = controlAt(part, mouse->position());
            dragPart_ = part;
            dragAxis_ = DragAxis::Undecided;
            pressedAt_ = mouse->position();
            return dragging_ >= 0;
        case QEvent::MouseMove: {
            if (dragging_ < 0) {
                const bool over = controlAt(part, mouse->position()) >= 0;
                viewOf(part)->viewport()->setCursor(over ? Qt::SizeVerCursor : Qt::ArrowCursor);
                return false;
            }
            if (part != dragPart_) return false;
            const QPointF moved = mouse->position() - pressedAt_;
            if (dragAxis_ == DragAxis::Undecided) {
                if (std::max(std::abs(moved.x()), std::abs(moved.y())) < 4) return true;
                const bool canSideways = sideways_[static_cast<int>(part)].value(dragging_, false);
                dragAxis_ = canSideways && std::abs(moved.x()) > std::abs(moved.y())
                                ? DragAxis::Sideways
                                : DragAxis::Vertical;
            }
            QChart* chart = viewOf(part)->chart();
            const QPointF scene = viewOf(part)->mapToScene(mouse->position().toPoint());
            const QPointF value = chart->mapToValue(chart->mapFromScene(scene));
            // A pixel is about a thousandth of the axis: the value keeps the digits that mean
            // something.
            const bool sideways = dragAxis_ == DragAxis::Sideways;
            const auto* axis = static_cast<QValueAxis*>(
                chart->axes(sideways ? Qt::Horizontal : Qt::Vertical).front());
            const double step =
                std::pow(10.0, std::floor(std::log10((axis->max() - axis->min()) / 500)));
            const double v = sideways ? value.x() : value.y();
            const double rounded = step > 0 ? std::round(v / step) * step : v;
            if (onControlDragged) onControlDragged(part, dragging_, sideways, rounded);
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (dragging_ < 0) return false;
            dragging_ = -1;
            if (shown_ != nullptr) showState(*shown_);  // the axes fit the profile again
            return true;
        default:
            return false;
    }
}

bool WorkbenchPlots::damageShown() const {
    return !views_[4]->isHidden();
}

void WorkbenchPlots::setReadout(const std::function<void(const QString&)>& readout) {
    for (ReadoutChartView* v : views_)
        v->onReadout = readout;
}

WorkbenchPlots::~WorkbenchPlots() {
    delete (log_ ? static_cast<QAbstractAxis*>(linearAxis_) : logAxis_);
}

void WorkbenchPlots::setLogScale(bool log) {
    if (log == log_) return;
    QAbstractAxis* from = log_ ? static_cast<QAbstractAxis*>(logAxis_) : linearAxis_;
    QAbstractAxis* to = log ? static_cast<QAbstractAxis*>(logAxis_) : linearAxis_;
    measured_->detachAxis(from);
    computed_->detachAxis(from);
    curveChart_->removeAxis(from);
    curveChart_->addAxis(to, Qt::AlignLeft);
    measured_->attachAxis(to);
    computed_->attachAxis(to);
    log_ = log;
    rangeIntensity();
}

void WorkbenchPlots::rangeIntensity() {
    if (log_) {
        // Whole decades: the ticks fall on 1, 10, 100, …
        logAxis_->setRange(std::pow(10.0, std::floor(std::log10(lowest_))),
                           std::pow(10.0, std::ceil(std::log10(1.2 * highest_))));
    } else {
        setAxisRange(linearAxis_, 0, highest_ * 1.05);
    }
}

void WorkbenchPlots::showState(const workbench::Workbench& bench) {
    shown_ = &bench;
    const workbench::CurveView& c = bench.curve();
    QList<QPointF> meas, calc, res;
    double lo = HUGE_VAL, hi = 0, rlo = HUGE_VAL, rhi = -HUGE_VAL;
    // A logarithmic axis cannot show zero or negative counts: such points are left out.
    for (std::size_t i = 0; i < c.angle.size(); ++i) {
        if (c.measured[i] > 0) {
            meas.append({c.angle[i], c.measured[i]});
            lo = std::min(lo, c.measured[i]);
            hi = std::max(hi, c.measured[i]);
        }
        if (i < c.computed.size() && c.computed[i] > 0) {
            calc.append({c.angle[i], c.computed[i]});
            hi = std::max(hi, c.computed[i]);
        }
        if (i < c.residual.size() && std::isfinite(c.residual[i])) {
            res.append({c.angle[i], c.residual[i]});
            rlo = std::min(rlo, c.residual[i]);
            rhi = std::max(rhi, c.residual[i]);
        }
    }
    const bool newAngles = measured_->count() != meas.size();
    // Each measured point is a marker item of its own: replaced only when the data changed (not
    // while a fit or a drag redraws the computed curve).
    if (meas != shownMeasured_) {
        measured_->replace(meas);
        shownMeasured_ = meas;
    }
    computed_->replace(calc);
    residual_->replace(res);
    lowest_ = lo < HUGE_VAL ? lo : 1;
    highest_ = hi > lowest_ ? hi : lowest_ * 10;
    // The zoom a user chose stays while a fit redraws; new data shows whole.
    if (newAngles || !curveChart_->isZoomed()) {
        if (!c.angle.empty()) fitRange(angleAxis_, c.angle.front(), c.angle.back());
        rangeIntensity();
    }
    const double r = res.isEmpty() ? 1 : std::max({std::abs(rlo), std::abs(rhi), 0.1});
    fitRange(static_cast<QValueAxis*>(residualChart_->axes(Qt::Vertical).front()), -r, r);

    const workbench::ProfileView& p = bench.profile();
    QList<QPointF> prof;
    double slo = 0, shi = 0;
    for (std::size_t i = 0; i < p.depth.size(); ++i) {
        prof.append({p.depth[i], p.strainPercent[i]});
        slo = std::min(slo, p.strainPercent[i]);
        shi = std::max(shi, p.strainPercent[i]);
    }
    const workbench::BandView& band = bench.band();
    double dlo = 1;  // lowest damage factor shown
    QList<QPointF> strainLow, strainHigh, damageLow, damageHigh;
    for (std::size_t i = 0; i < band.depth.size(); ++i) {
        strainLow.append({band.depth[i], band.strainLowPercent[i]});
        strainHigh.append({band.depth[i], band.strainHighPercent[i]});
        damageLow.append({band.depth[i], band.damageLow[i]});
        damageHigh.append({band.depth[i], band.damageHigh[i]});
        slo = std::min(slo, band.strainLowPercent[i]);
        shi = std::max(shi, band.strainHighPercent[i]);
    }
    strainBand_->lowerSeries()->replace(strainLow);
    strainBand_->upperSeries()->replace(strainHigh);
    damageBand_->lowerSeries()->replace(damageLow);
    damageBand_->upperSeries()->replace(damageHigh);
    // A band without points would still stand in the legend.
    strainBand_->setVisible(!band.depth.empty());
    damageBand_->setVisible(!band.depth.empty());
    profile_->replace(prof);
    QList<QPointF> control[2];
    for (const auto part : {workbench::ProfilePart::Strain, workbench::ProfilePart::Damage}) {
        QList<QPointF>& points = control[static_cast<int>(part)];
        QList<bool>& sideways = sideways_[static_cast<int>(part)];
        sideways.clear();
        for (const workbench::ControlPoint& c : bench.controlPoints(part)) {
            points.append({c.depth, c.value});
            sideways.append(c.thicknessRow >= 0);
        }
        control_[static_cast<int>(part)]->replace(points);
        control_[static_cast<int>(part)]->setVisible(!points.isEmpty());
    }
    for (const QPointF& c : control[0]) {
        slo = std::min(slo, c.y());
        shi = std::max(shi, c.y());
    }
    // While a point is dragged the axes stay put, so that the point stays under the cursor (an
    // axis that followed would move the value under it, and on); they fit again on release.
    const bool dragging = dragging_ >= 0;
    if (!dragging) {
        fitRange(static_cast<QValueAxis*>(profileChart_->axes(Qt::Horizontal).front()), 0,
                 p.depth.empty() ? 1 : p.depth.back());
        fitRange(static_cast<QValueAxis*>(profileChart_->axes(Qt::Vertical).front()), slo, shi);
    }
    for (const QPointF& c : control[1])
        dlo = std::min(dlo, c.y());

    QList<QPointF> dam;
    for (std::size_t i = 0; i < p.depth.size(); ++i) {
        dam.append({p.depth[i], p.damage[i]});
        dlo = std::min(dlo, p.damage[i]);
    }
    for (const double d : band.damageLow)
        dlo = std::min(dlo, d);
    damage_->replace(dam);
    views_[4]->setVisible(bench.hasDamage());
    if (!dragging)
        fitRange(static_cast<QValueAxis*>(damageChart_->axes(Qt::Vertical).front()),
                 std::max(0.0, dlo - 0.05), 1);

    const std::vector<double>& e = bench.progress().bestByGeneration;
    QList<QPointF> err;
    double elo = HUGE_VAL, ehi = -HUGE_VAL;
    for (std::size_t g = 0; g < e.size(); ++g) {
        err.append({static_cast<double>(g + 1), e[g]});
        elo = std::min(elo, e[g]);
        ehi = std::max(ehi, e[g]);
    }
    error_->replace(err);
    setAxisRange(static_cast<QValueAxis*>(errorChart_->axes(Qt::Horizontal).front()), 0,
                 std::max(2, bench.progress().generations));
    fitRange(static_cast<QValueAxis*>(errorChart_->axes(Qt::Vertical).front()), elo, ehi);
}

bool WorkbenchPlots::exportTo(const QString& path, QString& error) {
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir() || !folder.isWritable()) {
        error =
            tr("Cannot write into the folder %1.").arg(QDir::toNativeSeparators(folder.filePath()));
        return false;
    }
    const QString suffix = info.suffix().toLower();
    const QSize size = this->size();
    if (suffix == "png") {
        if (grab().save(path, "PNG")) return true;
    } else if (suffix == "svg") {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(tr("Kelvarin workbench plots"));
        QPainter painter;
        if (painter.begin(&svg)) {
            render(&painter);
            if (painter.end()) return true;
        }
    } else if (suffix == "pdf") {
        QPdfWriter pdf(path);
        pdf.setResolution(96);
        pdf.setPageSize(QPageSize(QSizeF(size), QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter;
        if (painter.begin(&pdf)) {
            const double scale =
                std::min(pdf.width() / double(size.width()), pdf.height() / double(size.height()));
            painter.scale(scale, scale);
            render(&painter);
            if (painter.end()) return true;
        }
    } else {
        error = tr("%1: choose a file ending in .png, .svg or .pdf.").arg(info.fileName());
        return false;
    }
    error = tr("Cannot write %1.").arg(QDir::toNativeSeparators(info.absoluteFilePath()));
    return false;
}

}  // namespace kelvarin::gui
