// The workbench window: a project file with its parameter table, the plots of the fit and the
// Fit / Stop buttons, on the state and handlers of workbench::Workbench.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "workbench/workbench.hpp"

class QAction;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace kelvarin::gui {

class QtPlatform;
class WorkbenchPlots;

class WorkbenchWindow : public QMainWindow {
public:
    explicit WorkbenchWindow(QtPlatform& platform, QWidget* parent = nullptr);
    ~WorkbenchWindow() override;

    workbench::Workbench& bench() { return *bench_; }

    /// The dialogs of the File menu.
    void newProjectDialog();
    void openProjectDialog();
    void openMeasuredDialog();
    /// Reads a measured file into the project (or a new project around it: `asNewProject`, or
    /// no project open), asking which scan of a file with several; a refusal is shown and
    /// changes nothing.
    bool openMeasured(const QString& path, bool asNewProject = false);
    /// Opens a project; a refusal is shown in a message box and changes nothing.
    bool openProject(const QString& path);
    /// Exports the plots (PNG, SVG or PDF after the suffix); a failure is shown and returned.
    bool exportPlots(const QString& path);
    bool exportProfile(const QString& path);
    bool exportReport(const QString& path);

    /// Projects opened or saved lately, the newest first (at most kRecent), kept in the user's
    /// settings.
    static QStringList recentProjects();
    static constexpr int kRecent = 8;
    /// Fills `menu` with the recent projects; choosing one opens it in `window`.
    static void fillRecentMenu(QMenu* menu, const std::function<WorkbenchWindow&()>& window);

    QPushButton* fitButton() const { return fit_; }
    QPushButton* stopButton() const { return stop_; }
    QTableWidget* table() const { return table_; }
    WorkbenchPlots* plots() const { return plots_; }
    QLabel* statusLine() const { return status_; }
    QPlainTextEdit* reportView() const { return report_; }
    QComboBox* modelBox() const { return model_; }
    QComboBox* damageBox() const { return damage_; }
    QComboBox* substrateBox() const { return substrate_; }
    QComboBox* radiationBox() const { return radiation_; }
    QSpinBox* hklBox(int i) const { return hkl_[i]; }
    QLabel* dataView() const { return data_; }
    QDoubleSpinBox* zeroBox() const { return zero_; }

    /// Milliseconds of the last redraw while a control point was dragged: the new value, the
    /// curve and profile computed, table and plots updated.
    double lastDragRedrawMs() const { return lastDragMs_; }

    /// Table columns.
    enum Column { Name, Value, Error, Unit, Min, Max, Free, Fitted, ColumnCount };

protected:
    void closeEvent(QCloseEvent* event) override;
    /// Projects (.toml) and measured files dropped on the window are opened.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void refresh();
    /// The sample and model choices as the project has them (no signal reaches the workbench).
    void fillChoices();
    /// Hands the model lists' choice to the workbench (asking for the ion-profile file).
    void modelChosen();
    void setupChosen();
    /// What was read of the measured file, and its zero.
    void fillData();
    void fillTable();
    void cellEdited(QTableWidgetItem* item);
    void showFailure(const QString& title);
    bool saveAs();
    /// Asks about unsaved changes; false when the user cancels.
    bool settleChanges();
    /// Puts the project's file at the top of the recent projects.
    void remember();

    std::unique_ptr<workbench::Workbench> bench_;
    QTableWidget* table_;
    WorkbenchPlots* plots_;
    QPushButton* fit_;
    QPushButton* stop_;
    QCheckBox* logScale_;
    QLabel* status_;
    QLabel* readout_;
    QPlainTextEdit* report_;
    QWidget* choices_;
    QComboBox* substrate_;
    QSpinBox* hkl_[3];
    QComboBox* radiation_;
    QComboBox* model_;
    QComboBox* damage_;
    QLabel* data_;
    QDoubleSpinBox* zero_;
    QList<QAction*> projectActions_;  ///< refused while a fit runs
    double lastDragMs_ = 0;
    bool filling_ = false;
    bool editing_ = false;
};

}  // namespace kelvarin::gui
