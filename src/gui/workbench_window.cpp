#include "gui/workbench_window.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "engine/catalogue.hpp"
#include "fit/sample_profile_model.hpp"
#include "gui/qt_platform.hpp"
#include "gui/workbench_plots.hpp"

namespace kelvarin::gui {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString number(Extended v) {
    return QString::number(static_cast<double>(v), 'g', 7);
}

}  // namespace

WorkbenchWindow::WorkbenchWindow(QtPlatform& platform, QWidget* parent)
    : QMainWindow(parent), bench_(std::make_unique<workbench::Workbench>(platform)) {
    setObjectName("workbench");
    resize(1440, 900);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    projectActions_ << file->addAction(tr("&New project…"), this, [this] { newProjectDialog(); });
    projectActions_ << file->addAction(tr("&Open project…"), this, [this] { openProjectDialog(); });
    QMenu* recent = file->addMenu(tr("&Recent projects"));
    connect(recent, &QMenu::aboutToShow, this, [this, recent] {
        fillRecentMenu(recent, [this]() -> WorkbenchWindow& { return *this; });
    });
    projectActions_ << recent->menuAction();
    projectActions_ << file->addAction(tr("Open &measured file…"), this,
                                       [this] { openMeasuredDialog(); });
    projectActions_ << file->addAction(tr("&Save project"), this, [this] {
        if (bench_->save())
            remember();
        else
            showFailure(tr("Save project"));
    });
    projectActions_ << file->addAction(tr("Save project &as…"), this, [this] { saveAs(); });
    file->addSeparator();
    file->addAction(tr("Export &plots…"), this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, tr("Export plots"), QString(), tr("PNG (*.png);;SVG (*.svg);;PDF (*.pdf)"));
        if (!path.isEmpty()) exportPlots(path);
    });
    file->addAction(tr("Export p&rofile (CSV)…"), this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, tr("Export profile"), QString(), tr("CSV (*.csv)"));
        if (!path.isEmpty()) exportProfile(path);
    });
    file->addAction(tr("Export re&port…"), this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, tr("Export report"), QString(), tr("Text (*.txt)"));
        if (!path.isEmpty()) exportReport(path);
    });
    file->addSeparator();
    file->addAction(tr("&Close"), this, [this] { close(); });

    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* rows = new QVBoxLayout(central);

    auto* buttons = new QHBoxLayout;
    fit_ = new QPushButton(tr("Fit"), central);
    stop_ = new QPushButton(tr("Stop"), central);
    fit_->setShortcut(QKeySequence(Qt::Key_F5));
    fit_->setToolTip(tr("Runs the project's evolutionary search (F5)"));
    stop_->setShortcut(QKeySequence(Qt::Key_Escape));
    stop_->setToolTip(tr("Ends the fit after the current generation, keeping its best (Esc)"));
    logScale_ = new QCheckBox(tr("Logarithmic intensity"), central);
    logScale_->setChecked(true);
    status_ = new QLabel(central);
    buttons->addWidget(fit_);
    buttons->addWidget(stop_);
    buttons->addWidget(logScale_);
    buttons->addWidget(status_, 1);
    rows->addLayout(buttons);

    auto* split = new QSplitter(Qt::Horizontal, central);
    auto* left = new QSplitter(Qt::Vertical, split);

    // Sample and model: what the parameter table is the parameters of.
    choices_ = new QWidget(left);
    auto* form = new QFormLayout(choices_);
    form->setContentsMargins(0, 0, 0, 0);
    substrate_ = new QComboBox(choices_);
    for (const CrystalEntry& c : crystalCatalogue())
        substrate_->addItem(QString::fromUtf8(c.name.data(), static_cast<int>(c.name.size())));
    auto* reflection = new QHBoxLayout;
    for (QSpinBox*& box : hkl_) {
        box = new QSpinBox(choices_);
        box->setRange(-12, 12);
        reflection->addWidget(box);
    }
    radiation_ = new QComboBox(choices_);
    for (const char* line : {"Cra1", "Fea1", "Coa1", "Nia1", "Cua1", "Moa1"})
        radiation_->addItem(line);
    reflection->addWidget(radiation_, 1);
    model_ = new QComboBox(choices_);
    for (ProfileKind k : {ProfileKind::TwoGauss, ProfileKind::PearsonVII, ProfileKind::BSpline,
                          ProfileKind::Boxes, ProfileKind::IonProfile})
        model_->addItem(fit::profileKindName(k), static_cast<int>(k));
    damage_ = new QComboBox(choices_);
    for (fit::DamageKind k :
         {fit::DamageKind::None, fit::DamageKind::Proportional, fit::DamageKind::BSpline})
        damage_->addItem(fit::damageKindName(k), static_cast<int>(k));
    auto* models = new QHBoxLayout;
    models->addWidget(model_, 1);
    models->addWidget(new QLabel(tr("damage"), choices_));
    models->addWidget(damage_, 1);
    data_ = new QLabel(choices_);
    data_->setWordWrap(true);
    data_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* zeroRow = new QHBoxLayout;
    zero_ = new QDoubleSpinBox(choices_);
    zero_->setDecimals(5);
    zero_->setKeyboardTracking(false);
    zero_->setToolTip(tr("The angle of the measured file taken as the Bragg angle"));
    auto* openData = new QPushButton(tr("Open measured file…"), choices_);
    zeroRow->addWidget(zero_, 1);
    zeroRow->addWidget(openData);
    form->addRow(tr("Data"), data_);
    form->addRow(tr("Zero"), zeroRow);
    connect(openData, &QPushButton::clicked, this, [this] { openMeasuredDialog(); });
    connect(zero_, &QDoubleSpinBox::valueChanged, this, [this](double zero) {
        if (bench_->setZero(zero)) return;
        fillData();
        showFailure(tr("Zero"));
    });
    form->addRow(tr("Substrate"), substrate_);
    form->addRow(tr("Reflection"), reflection);
    form->addRow(tr("Strain model"), models);
    connect(substrate_, &QComboBox::activated, this, [this] { setupChosen(); });
    connect(radiation_, &QComboBox::activated, this, [this] { setupChosen(); });
    for (QSpinBox* box : hkl_)
        connect(box, &QSpinBox::editingFinished, this, [this] { setupChosen(); });
    connect(model_, &QComboBox::activated, this, [this] { modelChosen(); });
    connect(damage_, &QComboBox::activated, this, [this] { modelChosen(); });

    table_ = new QTableWidget(0, ColumnCount, left);
    table_->setHorizontalHeaderLabels({tr("Parameter"), tr("Value"), tr("±"), tr("Unit"), tr("Min"),
                                       tr("Max"), tr("Free"), tr("Fit")});
    table_->verticalHeader()->setVisible(false);
    // Sized to the contents when rows come or go (fillTable), not on every change of a value.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    report_ = new QPlainTextEdit(left);
    report_->setReadOnly(true);
    report_->setPlaceholderText(tr("The report of a fit appears here."));
    plots_ = new WorkbenchPlots(split);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    split->setSizes({420, 1260});  // the plots take what the table does not need
    rows->addWidget(split, 1);

    readout_ = new QLabel(this);
    statusBar()->addPermanentWidget(readout_);
    plots_->setReadout([this](const QString& s) { readout_->setText(s); });
    plots_->onControlDragged = [this](workbench::ProfilePart part, int index, bool sideways,
                                      double value) {
        QElapsedTimer clock;
        clock.start();
        if (!(sideways ? bench_->moveControlPointTo(index, value, part)
                       : bench_->moveControlPoint(index, value, part)))
            return;
        lastDragMs_ = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        statusBar()->showMessage(tr("redrawn in %1 ms").arg(lastDragMs_, 0, 'f', 2), 3000);
    };

    connect(fit_, &QPushButton::clicked, this, [this] {
        bench_->fit();
        if (!bench_->message().empty()) showFailure(tr("Fit"));
    });
    connect(stop_, &QPushButton::clicked, this, [this] { bench_->stop(); });
    connect(logScale_, &QCheckBox::toggled, this, [this](bool on) { plots_->setLogScale(on); });
    connect(table_, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* item) { cellEdited(item); });

    setAcceptDrops(true);
    bench_->onChanged = [this] { refresh(); };
    refresh();
}

WorkbenchWindow::~WorkbenchWindow() {
    bench_->onChanged = nullptr;
}

void WorkbenchWindow::showFailure(const QString& title) {
    QMessageBox box(QMessageBox::Warning, title, text(bench_->message()), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool WorkbenchWindow::openProject(const QString& path) {
    if (!settleChanges()) return false;
    if (bench_->open(path.toStdString())) {
        remember();
        return true;
    }
    showFailure(tr("Open project"));
    return false;
}

void WorkbenchWindow::openProjectDialog() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Open project"), QString(),
                                                      tr("Projects (*.toml);;All files (*)"));
    if (!path.isEmpty()) openProject(path);
}

void WorkbenchWindow::openMeasuredDialog() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Measured file"), QFileInfo(text(bench_->project().path)).path(),
        tr("Measured scans (*.xrdml *.x00 *.ras *.uxd *.dat *.txt *.csv);;All files (*)"));
    if (!path.isEmpty()) openMeasured(path);
}

bool WorkbenchWindow::openMeasured(const QString& path, bool asNewProject) {
    const std::string file = path.toStdString();
    ScanReadOptions read;
    const int scans = workbench::Workbench::scansIn(file);
    if (scans > 1) {
        bool ok = false;
        read.scanNumber = QInputDialog::getInt(
            this, tr("Measured file"),
            tr("%1 holds %2 scans. Which one?").arg(QFileInfo(path).fileName()).arg(scans), 1, 1,
            scans, 1, &ok);
        if (!ok) return false;
    }
    const auto load = [&] {
        return asNewProject ? bench_->newProject(file, read) : bench_->importMeasured(file, read);
    };
    if (load()) return true;
    // A plain text file says nothing of its angles: the user declares what they are.
    if (workbench::Workbench::isPlainText(file)) {
        const QList<ScanAxis> axes = {ScanAxis::Omega, ScanAxis::OmegaTwoTheta,
                                      ScanAxis::TwoThetaOmega, ScanAxis::TwoTheta,
                                      ScanAxis::OmegaOffset};
        QStringList names;
        for (ScanAxis a : axes)
            names << text(axisName(a)) +
                         (a == ScanAxis::OmegaOffset ? tr(" in arcsec") : tr(" in degrees"));
        bool ok = false;
        const QString chosen = QInputDialog::getItem(
            this, tr("Measured file"),
            tr("%1 does not read as offsets in arcsec.\nWhat does its angle column hold?")
                .arg(QFileInfo(path).fileName()),
            names, 0, false, &ok);
        if (!ok) return false;
        read.axis = axes.value(static_cast<int>(names.indexOf(chosen)));
        read.unit = read.axis == ScanAxis::OmegaOffset ? AngleUnit::ArcSeconds : AngleUnit::Degrees;
        if (load()) return true;
    }
    showFailure(tr("Measured file"));
    return false;
}

void WorkbenchWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !bench_->progress().running) event->acceptProposedAction();
}

void WorkbenchWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return;
    const QString path = urls.front().toLocalFile();
    event->acceptProposedAction();
    // Handled once the drop is over: the dialogs it may open must not run inside it.
    QTimer::singleShot(0, this, [this, path] {
        if (path.endsWith(".toml", Qt::CaseInsensitive))
            openProject(path);
        else
            openMeasured(path);
    });
}

void WorkbenchWindow::fillData() {
    const workbench::DataInfo& d = bench_->dataInfo();
    const QSignalBlocker block(zero_);
    if (d.file.empty()) {
        data_->setText(tr("Drop a measured file or a project here."));
        zero_->setEnabled(false);
        return;
    }
    QStringList lines;
    lines << tr("%1 (%2)").arg(QFileInfo(text(d.file)).fileName(), text(d.format));
    lines << tr("%1 points, axis %2 in %3").arg(d.points).arg(text(d.axis), text(d.unit));
    lines << (d.countingTime ? tr("counting time %1 s per point").arg(*d.countingTime)
                             : tr("counting time not stated"));
    lines << tr("zero %1 %2: %3").arg(d.zero, 0, 'g', 10).arg(text(d.unit), text(d.zeroReason));
    if (d.resampledStep > 0)
        lines << tr("fitted as %1 (every %2″)")
                     .arg(QFileInfo(text(d.fitFile)).fileName())
                     .arg(d.resampledStep);
    for (const std::string& note : d.notes)
        lines << text(note);
    data_->setText(lines.join("\n"));
    zero_->setRange(-1e9, 1e9);
    zero_->setValue(d.zero);
    zero_->setSuffix(QStringLiteral(" ") + text(d.unit));
    zero_->setSingleStep(d.unit == "°" ? 0.001 : 1);
    zero_->setEnabled(!bench_->progress().running);
}

void WorkbenchWindow::newProjectDialog() {
    if (!settleChanges()) return;
    const QString path = QFileDialog::getOpenFileName(
        this, tr("New project: the measured curve"), QString(),
        tr("Measured scans (*.xrdml *.x00 *.ras *.uxd *.dat *.txt *.csv);;All files (*)"));
    if (!path.isEmpty()) openMeasured(path, true);
}

bool WorkbenchWindow::saveAs() {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Save project as"), text(bench_->project().path), tr("Projects (*.toml)"));
    if (path.isEmpty()) return false;
    if (bench_->save(path.toStdString())) {
        remember();
        return true;
    }
    showFailure(tr("Save project"));
    return false;
}

namespace {
const char* const kRecentKey = "workbench/recentProjects";
}

QStringList WorkbenchWindow::recentProjects() {
    return QSettings("Kelvarin", "Kelvarin").value(kRecentKey).toStringList();
}

void WorkbenchWindow::remember() {
    const QString path = QFileInfo(text(bench_->project().path)).absoluteFilePath();
    QStringList list = recentProjects();
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > kRecent)
        list.removeLast();
    QSettings("Kelvarin", "Kelvarin").setValue(kRecentKey, list);
}

void WorkbenchWindow::fillRecentMenu(QMenu* menu, const std::function<WorkbenchWindow&()>& window) {
    menu->clear();
    const QStringList list = recentProjects();
    for (const QString& path : list)
        menu->addAction(path, menu, [window, path] {
            WorkbenchWindow& w = window();
            w.show();
            w.raise();
            w.openProject(path);
        });
    if (list.isEmpty()) menu->addAction(tr("(none yet)"))->setEnabled(false);
}

bool WorkbenchWindow::exportPlots(const QString& path) {
    QString error;
    if (plots_->exportTo(path, error)) return true;
    QMessageBox box(QMessageBox::Warning, tr("Export plots"), error, QMessageBox::Ok, this);
    box.exec();
    return false;
}

bool WorkbenchWindow::exportProfile(const QString& path) {
    if (bench_->exportProfileCsv(path.toStdString())) return true;
    showFailure(tr("Export profile"));
    return false;
}

bool WorkbenchWindow::exportReport(const QString& path) {
    if (bench_->exportReport(path.toStdString())) return true;
    showFailure(tr("Export report"));
    return false;
}

bool WorkbenchWindow::settleChanges() {
    if (!bench_->dirty()) return true;
    QMessageBox box(
        QMessageBox::Question, tr("Unsaved changes"),
        tr("%1 has changes that are not saved. Save them?").arg(text(bench_->project().path)),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    if (answer == QMessageBox::Cancel) return false;
    if (answer == QMessageBox::Discard) return true;
    if (bench_->save()) return true;
    showFailure(tr("Save project"));
    return false;
}

void WorkbenchWindow::closeEvent(QCloseEvent* event) {
    if (bench_->progress().running) {
        // The fit ends after its generation; the window closes once the user asks again.
        bench_->stop();
        event->ignore();
        return;
    }
    if (settleChanges())
        event->accept();
    else
        event->ignore();
}

void WorkbenchWindow::refresh() {
    const workbench::Workbench& b = *bench_;
    const workbench::FitProgress& p = b.progress();
    setWindowTitle(text(b.title()));
    fit_->setEnabled(b.hasProject() && !p.running);
    stop_->setEnabled(p.running);
    table_->setEnabled(!p.running);
    choices_->setEnabled(b.hasProject() && !p.running);
    if (!p.running) fillChoices();
    fillData();
    for (QAction* a : projectActions_)
        a->setEnabled(!p.running);
    QString line;
    if (p.running || p.generation > 0) {
        line = tr("Generation %1 / %2").arg(p.generation).arg(p.generations);
        if (!p.bestByGeneration.empty())
            line += tr(" · best error %1 %").arg(p.bestByGeneration.back(), 0, 'g', 5);
        line += p.running ? tr(" · about %1 s left").arg(p.secondsLeft, 0, 'f', 1)
                          : tr(" · %1 s").arg(p.elapsedSeconds, 0, 'f', 2);
    } else if (b.hasProject()) {
        line = text(b.dataSummary());
    } else {
        line = tr("File ▸ New project… or Open project…");
    }
    status_->setText(line);
    report_->setPlainText(text(b.report()));
    if (!p.running && !editing_) fillTable();
    plots_->showState(b);
}

void WorkbenchWindow::fillChoices() {
    const fit::Project& p = bench_->project();
    const QSignalBlocker blocks[] = {QSignalBlocker(substrate_), QSignalBlocker(radiation_),
                                     QSignalBlocker(model_),     QSignalBlocker(damage_),
                                     QSignalBlocker(hkl_[0]),    QSignalBlocker(hkl_[1]),
                                     QSignalBlocker(hkl_[2])};
    // A crystal the list lacks still shows as the project's (never another in its place).
    if (substrate_->findText(text(p.substrate)) < 0) substrate_->addItem(text(p.substrate));
    substrate_->setCurrentText(text(p.substrate));
    model_->setCurrentIndex(model_->findData(static_cast<int>(p.profile)));
    damage_->setCurrentIndex(damage_->findData(static_cast<int>(p.damage)));
    if (!p.datasets.empty()) {
        const fit::DatasetSpec& d = p.datasets.front();
        for (int i = 0; i < 3; ++i)
            hkl_[i]->setValue(d.hkl[static_cast<std::size_t>(i)]);
        // A synchrotron wavelength is no tube line: it stands in the list while it is in use.
        if (radiation_->findText(text(d.radiation.name())) < 0)
            radiation_->addItem(text(d.radiation.name()));
        radiation_->setCurrentText(text(d.radiation.name()));
    }
}

void WorkbenchWindow::modelChosen() {
    const auto strain = static_cast<ProfileKind>(model_->currentData().toInt());
    const auto damage = static_cast<fit::DamageKind>(damage_->currentData().toInt());
    std::string ionFile;
    if (strain == ProfileKind::IonProfile && bench_->project().ionProfileFile.empty()) {
        ionFile = QFileDialog::getOpenFileName(this, tr("Ion profile: depth (Å) and concentration"),
                                               QFileInfo(text(bench_->project().path)).path())
                      .toStdString();
        if (ionFile.empty()) {
            fillChoices();
            return;
        }
    }
    if (!bench_->setModel(strain, damage, ionFile)) {
        fillChoices();
        showFailure(tr("Strain model"));
    }
}

void WorkbenchWindow::setupChosen() {
    const fit::Project& p = bench_->project();
    if (p.datasets.empty()) return;
    const std::array<int, 3> hkl{hkl_[0]->value(), hkl_[1]->value(), hkl_[2]->value()};
    const std::string substrate = substrate_->currentText().toStdString();
    const std::string radiation = radiation_->currentText().toStdString();
    const fit::DatasetSpec& d = p.datasets.front();
    if (substrate == p.substrate && hkl == d.hkl && radiation == d.radiation.name()) return;
    if (!bench_->setSetup(substrate, hkl, radiation)) {
        fillChoices();
        showFailure(tr("Sample"));
    }
}

void WorkbenchWindow::fillTable() {
    filling_ = true;
    const auto& rows = bench_->parameters();
    bool renewed = table_->rowCount() != static_cast<int>(rows.size());
    int changedCells = 0;  // one while a control point is dragged: the columns stay
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const fit::Parameter& p = rows[static_cast<std::size_t>(r)].parameter;
        // Cells are changed only where they differ: a redraw while a control point is dragged
        // cannot afford to renew the whole table.
        const auto put = [&](int column, const QString& s, bool editable) {
            QTableWidgetItem* item = table_->item(r, column);
            if (item == nullptr) {
                item = new QTableWidgetItem(s);
                if (!editable) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                if (column == Free) item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                table_->setItem(r, column, item);
                renewed = true;
            } else if (item->text() != s) {
                item->setText(s);
                ++changedCells;
            }
            return item;
        };
        put(Name, text(p.name), false);
        put(Value, number(p.value), true);
        const std::optional<double>& error = rows[static_cast<std::size_t>(r)].error;
        put(Error,
            !error               ? QString()
            : std::isnan(*error) ? tr("not determined")
                                 : QString::number(*error, 'g', 3),
            false);
        put(Unit, text(p.unit), false);
        put(Min, number(p.min), true);
        put(Max, number(p.max), true);
        QTableWidgetItem* free = put(Free, QString(), false);
        const Qt::CheckState check = p.free ? Qt::Checked : Qt::Unchecked;
        if (free->checkState() != check) free->setCheckState(check);
        put(Fitted, rows[static_cast<std::size_t>(r)].fitted ? tr("fitted") : QString(), false);
    }
    if (renewed || changedCells > 1) table_->resizeColumnsToContents();
    filling_ = false;
}

void WorkbenchWindow::cellEdited(QTableWidgetItem* item) {
    if (filling_) return;
    using F = workbench::ParameterField;
    F field;
    std::string value = item->text().toStdString();
    switch (item->column()) {
        case Value:
            field = F::Value;
            break;
        case Min:
            field = F::Min;
            break;
        case Max:
            field = F::Max;
            break;
        case Free:
            field = F::Free;
            value = item->checkState() == Qt::Checked ? "true" : "false";
            break;
        default:
            return;
    }
    editing_ = true;
    if (!bench_->setParameter(item->row(), field, value))
        statusBar()->showMessage(text(bench_->message()), 5000);
    editing_ = false;
    // Refilled once the edit is over (a refused text goes back to the value in use): the item
    // that was edited must outlive this signal.
    QTimer::singleShot(0, this, [this] { fillTable(); });
}

}  // namespace kelvarin::gui
