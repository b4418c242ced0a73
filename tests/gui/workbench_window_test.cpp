// The workbench window on real widgets under the offscreen platform: the main window's File
// menu, open, fit, stop, refit and export, and the messages of bad input.
#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScatterSeries>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/application.hpp"
#include "gui/qt_platform.hpp"
#include "gui/readout_chart_view.hpp"
#include "gui/views.hpp"
#include "gui/workbench_plots.hpp"
#include "gui/workbench_window.hpp"
#include "modal_helper.hpp"

namespace kelvarin::gui {
namespace {

class WorkbenchWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);  // the recent projects of a test user
        ASSERT_TRUE(dir.isValid());
        const QString examples = QStringLiteral(KELVARIN_SOURCE_DIR "/examples/");
        ASSERT_TRUE(QFile::copy(examples + "measured.dat", dir.filePath("measured.dat")));
        std::ifstream in((examples + "fit.toml").toStdString());
        std::stringstream text;
        text << in.rdbuf();
        project = dir.filePath("fit.toml");
        std::ofstream(project.toStdString()) << text.str();
    }

    QTemporaryDir dir;
    QString project;
    QtPlatform platform;
    Application app{platform, Locale('.')};
    Gui gui{app, platform};
};

TEST_F(WorkbenchWindowTest, MainWindowsFileMenuOffersTheWorkbench) {
    auto* main = qobject_cast<QMainWindow*>(gui.mainView());
    ASSERT_NE(main, nullptr);
    QStringList entries;
    for (QAction* a : main->menuBar()->actions().front()->menu()->actions())
        entries << a->text();
    ASSERT_GE(entries.size(), 3);
    EXPECT_EQ(entries[0], "&New project…");
    EXPECT_EQ(entries[1], "&Open project…");
    EXPECT_EQ(entries[2], "&Recent projects");
    EXPECT_TRUE(entries.contains("E&xit"));
}

TEST_F(WorkbenchWindowTest, OpenFitStopRefitAndExport) {
#ifdef KELVARIN_SANITIZED
    GTEST_SKIP() << "whole fits take minutes under the sanitizers; make test runs them";
#endif
    WorkbenchWindow& w = gui.workbench();
    w.show();
    ASSERT_TRUE(w.openProject(project));
    EXPECT_EQ(WorkbenchWindow::recentProjects().value(0), QFileInfo(project).absoluteFilePath());
    EXPECT_EQ(w.table()->rowCount(), 5);
    EXPECT_EQ(w.table()->item(0, WorkbenchWindow::Name)->text(), "tau");
    EXPECT_GT(w.plots()->measuredSeries()->count(), 100);
    EXPECT_GT(w.plots()->computedSeries()->count(), 100);
    EXPECT_FALSE(w.stopButton()->isEnabled());

    // Stop pressed while the fit runs: it ends early, with its best shown.
    bool sawRunning = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!w.bench().progress().running || w.bench().progress().generation < 1) return;
        sawRunning = sawRunning || (w.stopButton()->isEnabled() && !w.fitButton()->isEnabled());
        QTest::mouseClick(w.stopButton(), Qt::LeftButton);
    });
    poll.start();
    QTest::mouseClick(w.fitButton(), Qt::LeftButton);
    poll.stop();
    EXPECT_TRUE(sawRunning);
    EXPECT_LT(w.bench().progress().generation, 100);
    EXPECT_TRUE(w.reportView()->toPlainText().contains("stopped"))
        << w.reportView()->toPlainText().toStdString();

    // A refit runs to the end and gives the command line's numbers.
    QTest::mouseClick(w.fitButton(), Qt::LeftButton);
    EXPECT_TRUE(w.reportView()->toPlainText().contains("error         3.34295 %"))
        << w.reportView()->toPlainText().toStdString();
    EXPECT_EQ(w.table()->item(0, WorkbenchWindow::Fitted)->text(), "fitted");
    EXPECT_TRUE(w.statusLine()->text().startsWith("Generation 100 / 100"));
    EXPECT_GT(w.plots()->profileSeries()->count(), 10);
    EXPECT_TRUE(w.windowTitle().endsWith("*"));

    for (const char* suffix : {"png", "svg", "pdf"}) {
        const QString path = dir.filePath(QStringLiteral("plots.") + suffix);
        ASSERT_TRUE(w.exportPlots(path)) << suffix;
        EXPECT_GT(QFileInfo(path).size(), 1000) << suffix;
    }
    EXPECT_FALSE(QImage(dir.filePath("plots.png")).isNull());
    QFile svg(dir.filePath("plots.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("Intensity (counts)"));
    ASSERT_TRUE(w.exportProfile(dir.filePath("profile.csv")));
    ASSERT_TRUE(w.exportReport(dir.filePath("report.txt")));
    QFile report(dir.filePath("report.txt"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_TRUE(report.readAll().contains("error         3.34295 %"));

    testing::ModalAnswerer answers;
    EXPECT_FALSE(w.exportPlots(dir.filePath("missing/plots.png")));
    EXPECT_TRUE(answers.seen.text.contains(dir.filePath("missing")))
        << answers.seen.text.toStdString();
    EXPECT_FALSE(w.exportProfile(dir.filePath("missing/profile.csv")));
    EXPECT_TRUE(answers.seen.text.contains(dir.filePath("missing")))
        << answers.seen.text.toStdString();

    // Closing with the fitted values unsaved asks first; the answer here saves them.
    const int asked = answers.seen.count;
    EXPECT_TRUE(w.close());
    EXPECT_EQ(answers.seen.count, asked + 1);
    EXPECT_EQ(answers.seen.title, "Unsaved changes");
    QFile saved(project);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("346.772")) << "fitted ro saved";
}

TEST_F(WorkbenchWindowTest, ABadProjectIsNamedWithItsLineAndChangesNothing) {
    WorkbenchWindow& w = gui.workbench();
    ASSERT_TRUE(w.openProject(project));
    const QString title = w.windowTitle();
    const QString bad = dir.filePath("bad.toml");
    std::ofstream(bad.toStdString()) << "[sample]\nsubstrate = \"GaAs\"\n[profile]\nmodel = 7\n";
    testing::ModalAnswerer answers;
    EXPECT_FALSE(w.openProject(bad));
    EXPECT_EQ(answers.seen.count, 1);
    EXPECT_TRUE(answers.seen.text.contains("model")) << answers.seen.text.toStdString();
    EXPECT_TRUE(answers.seen.text.contains("4")) << answers.seen.text.toStdString();
    EXPECT_EQ(w.windowTitle(), title);
    EXPECT_EQ(w.table()->rowCount(), 5);

    // A refused edit in the table goes back to the value in use.
    w.table()->item(1, WorkbenchWindow::Value)->setText("abc");
    QTest::qWait(20);
    EXPECT_EQ(w.table()->item(1, WorkbenchWindow::Value)->text(), "300");

    // An accepted value redraws the computed curve and the profile at once.
    const QPointF before = w.plots()->computedSeries()->at(900);
    QElapsedTimer clock;
    clock.start();
    w.table()->item(1, WorkbenchWindow::Value)->setText("400");
    const double ms = clock.nsecsElapsed() / 1e6;
    EXPECT_NE(w.plots()->computedSeries()->at(900), before);
    EXPECT_TRUE(w.windowTitle().endsWith("*"));
    // A fit result's standard errors stand in their column.
    fit::Uncertainty u;
    u.valid = true;
    u.parameters = {{0, 0.004, 1.5e-4, false, false, false}, {2, 150, 0, false, false, true}};
    ASSERT_TRUE(w.bench().setUncertainty(u));
    EXPECT_EQ(w.table()->item(0, WorkbenchWindow::Error)->text(), "0.00015");
    EXPECT_EQ(w.table()->item(2, WorkbenchWindow::Error)->text(), "not determined");
    std::printf("[ redraw   ] edit of ro: curve of %d points and profile in %.2f ms\n",
                static_cast<int>(w.plots()->computedSeries()->count()), ms);
}

TEST_F(WorkbenchWindowTest, ModelListsRebuildTheTableAndShowTheDamageProfile) {
    WorkbenchWindow& w = gui.workbench();
    ASSERT_TRUE(w.openProject(project));
    EXPECT_EQ(w.modelBox()->currentText(), "2gauss");
    EXPECT_EQ(w.substrateBox()->currentText(), "GaAs");
    EXPECT_FALSE(w.plots()->damageShown());
    const auto choose = [](QComboBox* box, const QString& item) {
        box->setCurrentIndex(box->findText(item));
        emit box->activated(box->currentIndex());
    };
    choose(w.modelBox(), "bspline");
    choose(w.damageBox(), "proportional");
    EXPECT_EQ(w.table()->rowCount(), 1 + 10 + 1 + 1);
    EXPECT_EQ(w.table()->item(1, WorkbenchWindow::Name)->text(), "strain1");
    EXPECT_TRUE(w.plots()->damageShown());
    EXPECT_GT(w.plots()->damageSeries()->count(), 10);
    EXPECT_TRUE(w.windowTitle().endsWith("*"));

    // A refused combination is named and the lists go back to the model in use.
    testing::ModalAnswerer answers;
    choose(w.modelBox(), "boxes");  // each box has a damage factor of its own
    EXPECT_EQ(answers.seen.count, 1);
    EXPECT_TRUE(answers.seen.text.contains("damage")) << answers.seen.text.toStdString();
    EXPECT_EQ(w.modelBox()->currentText(), "bspline");
    EXPECT_EQ(w.table()->rowCount(), 13);
    choose(w.damageBox(), "none");
    choose(w.modelBox(), "boxes");
    EXPECT_EQ(w.table()->rowCount(), 3 + 1);
    EXPECT_TRUE(w.plots()->damageShown());

    choose(w.substrateBox(), "Si");
    EXPECT_EQ(w.bench().project().substrate, "Si");
}

TEST_F(WorkbenchWindowTest, DraggingAControlPointRecomputesAsItMoves) {
    // The example's 1800 points and every sixth of them (300 points).
    std::ifstream in(dir.filePath("measured.dat").toStdString());
    std::ofstream thin(dir.filePath("measured300.dat").toStdString());
    std::string line;
    for (int i = 0; std::getline(in, line); ++i)
        if (i % 6 == 0) thin << line << "\n";
    thin.close();
    std::ifstream example(project.toStdString());
    std::stringstream buffer;
    buffer << example.rdbuf();
    std::string text = buffer.str();
    const std::size_t from = text.find("[profile]");
    text.replace(from, text.find("[[dataset]]") - from,
                 "[profile]\nmodel = \"bspline\"\ndepth = 1500\n"
                 "strain1 = { value = 0.5, min = -0.5, max = 2 }\n\n");
    for (const char* file : {"measured.dat", "measured300.dat"}) {
        std::string t = text;
        t.replace(t.find("\"measured.dat\""), 14, "\"" + std::string(file) + "\"");
        const QString path = dir.filePath(QStringLiteral("drag-%1.toml").arg(file));
        std::ofstream(path.toStdString()) << t;

        WorkbenchWindow& w = gui.workbench();
        w.resize(1400, 900);
        w.show();
        ASSERT_TRUE(w.openProject(path)) << file;
        ASSERT_EQ(w.plots()->controlSeries()->count(), 10) << file;
        QChart* chart = w.plots()->profileChart();
        QWidget* viewport = w.plots()->profileView()->viewport();
        const auto at = [&](QPointF value) {
            const QPointF scene =
                chart->mapToScene(chart->mapToPosition(value, w.plots()->controlSeries()));
            return w.plots()->profileView()->mapFromScene(scene);
        };
        const QPointF first = w.plots()->controlSeries()->at(0);
        EXPECT_NEAR(first.y(), 0.5, 1e-9);
        const QPoint start = at(first);
        QTest::mousePress(viewport, Qt::LeftButton, {}, start);
        const double before = w.plots()->computedSeries()->at(100).y();
        QElapsedTimer clock;
        double slowest = 0;
        for (int step = 1; step <= 10; ++step) {
            QMouseEvent move(QEvent::MouseMove, QPointF(start - QPoint(0, 3 * step)),
                             viewport->mapToGlobal(QPointF(start - QPoint(0, 3 * step))),
                             Qt::NoButton, Qt::LeftButton, {});
            clock.start();
            QApplication::sendEvent(viewport, &move);
            QApplication::processEvents();  // the plots repainted
            slowest = std::max(slowest, clock.nsecsElapsed() / 1e6);
        }
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, start - QPoint(0, 30));
        const double strain = static_cast<double>(w.bench().parameters()[1].parameter.value);
        EXPECT_GT(strain, 0.5) << file;  // dragged up
        EXPECT_NEAR(w.plots()->controlSeries()->at(0).y(), strain, 1e-9) << file;
        EXPECT_NE(w.plots()->computedSeries()->at(100).y(), before) << file;
        EXPECT_GT(w.lastDragRedrawMs(), 0) << file;
        std::printf(
            "[ redraw   ] drag of strain1 over %d points: %.2f ms to compute and update,"
            " %.2f ms with the repaint (slowest of 10 moves)\n",
            static_cast<int>(w.plots()->computedSeries()->count()), w.lastDragRedrawMs(), slowest);
        // A press away from the points still zooms, and does not move any value.
        QTest::mousePress(viewport, Qt::LeftButton, {}, start + QPoint(200, 40));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, start + QPoint(260, 80));
        EXPECT_EQ(static_cast<double>(w.bench().parameters()[1].parameter.value), strain);
        w.bench().save();  // the next project opens without a question
    }

    // A box dragged sideways changes its thickness; the first movement sets the direction.
    WorkbenchWindow& w = gui.workbench();
    ASSERT_TRUE(w.bench().setModel(ProfileKind::Boxes, fit::DamageKind::None));
    QChart* chart = w.plots()->profileChart();
    QScatterSeries* points = w.plots()->controlSeries();
    ASSERT_EQ(points->count(), 1);
    const QPoint start = w.plots()->profileView()->mapFromScene(
        chart->mapToScene(chart->mapToPosition(points->at(0), points)));
    QWidget* viewport = w.plots()->profileView()->viewport();
    const double strain = points->at(0).y();
    QTest::mousePress(viewport, Qt::LeftButton, {}, start);
    for (int step = 1; step <= 5; ++step) {
        QMouseEvent move(QEvent::MouseMove, QPointF(start + QPoint(8 * step, step % 2)),
                         viewport->mapToGlobal(QPointF(start + QPoint(8 * step, step % 2))),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(viewport, &move);
    }
    // The axes stay put while the point moves: it ends under the cursor (an axis that followed
    // the growing box would run away with it).
    const QPointF cursor = chart->mapToValue(
        chart->mapFromScene(w.plots()->profileView()->mapToScene(start + QPoint(40, 1))), points);
    EXPECT_NEAR(w.bench().controlPoints()[0].depth, cursor.x(), 1);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, start + QPoint(40, 1));
    EXPECT_GT(w.bench().parameters()[0].parameter.value, 100);  // box1_thickness
    EXPECT_EQ(points->at(0).y(), strain);
    w.bench().save();
}

TEST_F(WorkbenchWindowTest, MeasuredFilesOpenedOrDroppedShowWhatWasReadAndTheirZeroMoves) {
    WorkbenchWindow& w = gui.workbench();
    w.show();
    // A project dropped on the window opens.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(project)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &drop);
    QTest::qWait(20);
    ASSERT_TRUE(w.bench().hasProject());
    EXPECT_TRUE(w.dataView()->text().contains("1801 points")) << w.dataView()->text().toStdString();

    ASSERT_TRUE(w.openMeasured(QStringLiteral(KELVARIN_SOURCE_DIR "/examples/measured.x00")));
    const QString shown = w.dataView()->text();
    for (const char* part : {"PANalytical .x00", "1001 points", "omega/2theta", "1 s per point"})
        EXPECT_TRUE(shown.contains(part)) << part << " in " << shown.toStdString();
    const double first = w.plots()->measuredSeries()->at(0).x();
    w.zeroBox()->setValue(w.zeroBox()->value() + 0.01);
    EXPECT_NEAR(w.plots()->measuredSeries()->at(0).x(), first - 36, 1e-3);

    // A file that cannot be read is named and the data stays.
    const QString bad = dir.filePath("bad.xrdml");
    std::ofstream(bad.toStdString()) << "<?xml version=\"1.0\"?><nothing/>";
    testing::ModalAnswerer answers;
    EXPECT_FALSE(w.openMeasured(bad));
    EXPECT_TRUE(answers.seen.text.contains("bad.xrdml")) << answers.seen.text.toStdString();
    EXPECT_TRUE(w.dataView()->text().contains("1001 points"));
    EXPECT_NEAR(w.plots()->measuredSeries()->at(0).x(), first - 36, 1e-3);
    w.bench().save();
}

TEST_F(WorkbenchWindowTest, EndingTheProgramFromTheMainWindowAsksAboutUnsavedChangesFirst) {
    WorkbenchWindow& w = gui.workbench();
    w.show();
    ASSERT_TRUE(w.openProject(project));
    w.table()->item(1, WorkbenchWindow::Value)->setText("400");
    ASSERT_TRUE(w.bench().dirty());
    testing::ModalAnswerer answers;
    QTimer::singleShot(0, [this] { platform.terminate(); });  // the main window's Exit
    QTimer guard;  // ends a loop that would otherwise hang
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(3); });
    guard.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(answers.seen.count, 1);
    EXPECT_EQ(answers.seen.title, "Unsaved changes");
    EXPECT_FALSE(w.bench().dirty());  // the answer saved them
    QFile saved(project);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("value = 400"));
}

}  // namespace
}  // namespace kelvarin::gui
