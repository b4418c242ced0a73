// The real windows on Qt widgets: start-up state, clicks reaching the window logic, the
// "Error!" dialog, closing by the title bar and the highlight timer.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "gui/qt_platform.hpp"
#include "gui/views.hpp"
#include "modal_helper.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "refine/refinement_run.hpp"
#include "results/formcalc.hpp"
#include "results/formerro.hpp"
#include "setup/formdata.hpp"

namespace kelvarin::gui {
namespace {

class WindowsTest : public ::testing::TestWithParam<char> {
protected:
    QtPlatform platform;
    Application app{platform, Locale(GetParam())};
    Gui gui{app, platform};

    template <class W>
    W* widget(const void* state) {
        return qobject_cast<W*>(gui.binder().widgetOf(state));
    }

    void type(Edit& e, const QString& text) {
        auto* field = widget<QLineEdit>(&e);
        field->clear();
        QTest::keyClicks(field, text);
    }
    void pick(RadioGroup& g, int i) {
        widget<QWidget>(&g)->findChildren<QRadioButton*>().at(i)->click();
    }
    void click(const void* state) { widget<QPushButton>(state)->click(); }

    /// Data Entry: Cu K-alpha1, then GaAs with "Select target...", "Choose" and the element
    /// buttons.
    void chooseGaAsWithCuKalpha1() {
        Tformdata& d = app.formdata();
        auto* radiation = widget<QComboBox>(&d.radiacao);
        radiation->setCurrentIndex(4);
        emit radiation->activated(4);
        click(&d.buttarget);
        pick(d.tipo, 1);
        click(&d.Button1);
        click(d.elementButton("Ga"));
        click(d.elementButton("As"));
    }
};

TEST_P(WindowsTest, StartsWithOnlyTheMainWindowShowingItsDesignState) {
    EXPECT_TRUE(gui.mainView()->isVisible());
    EXPECT_EQ(gui.mainView()->windowTitle(), "Kelvarin");
    for (QWidget* other : {gui.dataView(), gui.calcView(), gui.errorView(), gui.fourColsView(),
                           gui.refineDataView(), gui.refineView()})
        EXPECT_FALSE(other->isVisible()) << other->windowTitle().toStdString();
    EXPECT_EQ(gui.dataView()->windowTitle(), "Data Entry");
    EXPECT_EQ(gui.calcView()->windowTitle(), "Rocking Curve Calculation");

    Tformmain& m = app.formmain();
    EXPECT_EQ(widget<QLineEdit>(&m.file)->text(), "MorvelSincrotronA2004.DAT");
    EXPECT_FALSE(widget<QLineEdit>(&m.mstrain)->isEnabled());
    EXPECT_FALSE(widget<QLineEdit>(&m.nlayers)->isEnabled());
    const auto menus = static_cast<QMainWindow*>(gui.mainView())->menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&Help");
    auto* radiation = widget<QComboBox>(&app.formdata().radiacao);
    EXPECT_EQ(radiation->count(), 7);
    EXPECT_EQ(radiation->currentText(), "Element");
}

TEST_P(WindowsTest, JobTypeClickRunsTheHandlerAndTheFieldsFollow) {
    Tformmain& m = app.formmain();
    auto radios = widget<QWidget>(&m.RadioGroup1)->findChildren<QRadioButton*>();
    ASSERT_EQ(radios.size(), 2);
    QTest::mouseClick(radios[1], Qt::LeftButton);
    EXPECT_EQ(m.RadioGroup1.itemIndex, 1);
    EXPECT_TRUE(widget<QLineEdit>(&m.nlayers)->isEnabled());
    EXPECT_FALSE(widget<QWidget>(&m.filetype)->isEnabled());
    EXPECT_EQ(widget<QLabel>(&m.Label2)->text(), "Measured data file:");
    QTest::mouseClick(radios[0], Qt::LeftButton);
    EXPECT_FALSE(widget<QLineEdit>(&m.nlayers)->isEnabled());
    EXPECT_EQ(widget<QLabel>(&m.Label2)->text(), "File containing the ion distribution:");
}

TEST_P(WindowsTest, ErrorWindowShowsTheMessageModallyAndOkRestoresTheDefault) {
    Tformmain& m = app.formmain();
    // Set by the program, not yet pushed: the pull before the handler must not undo it.
    m.file.text = "/nonexistent/kelvarin-no-such-file.dat";
    testing::ModalAnswerer answerer;
    gui.binder().run([&m] { m.fileExit(); });
    EXPECT_EQ(answerer.seen.count, 1);
    EXPECT_EQ(answerer.seen.title, "Error!");
    EXPECT_EQ(answerer.seen.text, "File does not exist: '/nonexistent/kelvarin-no-such-file.dat'.");
    EXPECT_FALSE(gui.errorView()->isVisible());
    EXPECT_FALSE(app.formerro().visible);
    EXPECT_EQ(app.formerro().Label1.caption, Tformerro::kDefaultMessage);
    EXPECT_EQ(m.file.text, "/nonexistent/kelvarin-no-such-file.dat");  // kept as typed
}

TEST_P(WindowsTest, FocusLeavingTheFileFieldChecksTheFile) {
    Tformmain& m = app.formmain();
    QWidget* main = gui.mainView();
    main->activateWindow();
    QApplication::setActiveWindow(main);
    auto* file = widget<QLineEdit>(&m.file);
    file->setFocus(Qt::MouseFocusReason);
    file->selectAll();
    QTest::keyClicks(file, "missing-kelvarin-file.xyz");
    EXPECT_EQ(m.file.text, "missing-kelvarin-file.xyz");
    testing::ModalAnswerer answerer;
    widget<QLineEdit>(&m.mstrain)->setEnabled(true);
    widget<QPushButton>(&m.butok)->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.count, 1, 2000);
    EXPECT_EQ(answerer.seen.text, "File does not exist: 'missing-kelvarin-file.xyz'.");
}

TEST_P(WindowsTest, ClosingTheCalculationWindowAlsoHidesTheProgressWindow) {
    app.formcalc().visible = true;
    app.formrefine().visible = true;
    gui.binder().push();
    ASSERT_TRUE(gui.calcView()->isVisible());
    ASSERT_TRUE(gui.refineView()->isVisible());
    gui.calcView()->close();
    EXPECT_FALSE(app.formcalc().visible);
    EXPECT_FALSE(app.formrefine().visible);
    EXPECT_FALSE(gui.calcView()->isVisible());
    EXPECT_FALSE(gui.refineView()->isVisible());
}

TEST_P(WindowsTest, MissingEntriesTurnBlueAndTheTimerRestoresThem) {
    Tformdata& d = app.formdata();
    d.visible = true;
    gui.binder().push();
    auto* thetai = widget<QLineEdit>(&d.thetai);
    const QColor normal = thetai->palette().color(QPalette::Base);
    widget<QPushButton>(&d.buttarget)->click();
    EXPECT_EQ(d.thetai.colour, Colour::Blue);
    EXPECT_EQ(thetai->palette().color(QPalette::Base), QColor(0, 0, 255));
    EXPECT_FALSE(widget<QPushButton>(&d.Button1)->isEnabled());  // nothing unlocked
    QTRY_COMPARE_WITH_TIMEOUT(thetai->palette().color(QPalette::Base), normal, 3000);
    EXPECT_EQ(d.thetai.colour, Colour::Window);
    EXPECT_FALSE(d.Timer1.enabled);
}

// The calculation road clicked through the real windows: strain profile, Data Entry, "Start",
// "Plot" and "Save output files", which also writes the plot as a PNG beside the text files.
TEST_P(WindowsTest, CalculationRoadPlotsTheCurveAndSavesItAsPng) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string profile = dir.filePath("profile.txt").toStdString();
    std::ofstream(profile) << "100 0.5\n100 0.3\n200 0.1\n";
    Tformmain& m = app.formmain();
    Tformdata& d = app.formdata();
    Tformcalc& c = app.formcalc();

    pick(m.filetype, 1);
    type(m.file, QString::fromStdString(profile));
    widget<QCheckBox>(&m.chkInteiro)->click();
    click(&m.butok);
    ASSERT_TRUE(gui.dataView()->isVisible());
    EXPECT_EQ(d.data.cell(0, 1), "100");

    type(d.thetai, "-100");
    type(d.thetaf, "100");
    type(d.step, "1");
    chooseGaAsWithCuKalpha1();
    EXPECT_EQ(widget<QLabel>(&d.Label1)->text(), "GaAs");
    click(&d.butOK);
    ASSERT_TRUE(gui.calcView()->isVisible());
    EXPECT_FALSE(gui.dataView()->isVisible());

    click(&c.Button2);  // "Start"
    ASSERT_TRUE(widget<QPushButton>(&c.Button1)->isEnabled()) << "Start did not finish";
    click(&c.Button1);  // "Plot"
    QWidget* plot = gui.calcView()->findChild<QWidget*>("grafico");
    ASSERT_NE(plot, nullptr);
    ASSERT_TRUE(plot->isVisible());
    // The plot follows the room the window gives it.
    QTRY_COMPARE_WITH_TIMEOUT(c.grafico.fullWidth(), plot->width(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(c.grafico.fullHeight(), plot->height(), 2000);
    const QImage shown = plot->grab().toImage();
    int black = 0;
    for (int x = 5; x < shown.width() - 5; ++x)
        for (int y = 5; y < shown.height() - 5; ++y)
            black += QColor(shown.pixel(x, y)).lightness() < 80;
    EXPECT_GT(black, 50) << "no curve on the drawing area";

    type(c.nomearquivo, dir.filePath("run1"));
    click(&c.Button4);  // "Save output files"
    for (const char* ext : {".fit", ".out", ".ion", ".png"})
        EXPECT_TRUE(QFile::exists(dir.filePath(QString("run1") + ext))) << ext;
    const QImage saved(dir.filePath("run1.png"));
    // The picture is the drawing area as shown: the plot with its axes in the margins.
    ASSERT_EQ(saved.size(), QSize(c.grafico.fullWidth(), c.grafico.fullHeight()));
    ASSERT_EQ(saved.size(), shown.size());
    EXPECT_EQ(saved.pixel(320, 176), shown.pixel(320, 176));
    int dark = 0;  // tick numbers and axis titles left of and below the frame
    for (int x = 0; x < Tformcalc::kPlotMargins.left - 8; ++x)
        for (int y = 0; y < saved.height(); ++y)
            dark += QColor(saved.pixel(x, y)).lightness() < 80;
    EXPECT_GT(dark, 100) << "no axis numbers beside the plot";
    EXPECT_NE(c.Label4.caption.find("run1"), std::string::npos) << "no word on what was saved";
}

TEST_P(WindowsTest, ExitAndClosingTheMainWindowEndTheEventLoop) {
    for (bool byMenu : {true, false}) {
        QTimer::singleShot(0, [&] {
            if (byMenu) {
                auto* bar = static_cast<QMainWindow*>(gui.mainView())->menuBar();
                for (QAction* a : bar->actions().at(0)->menu()->actions())
                    if (a->text() == "E&xit") a->trigger();  // File > Exit
            } else {
                gui.mainView()->close();
            }
        });
        QTimer guard;  // ends a loop that would otherwise hang; gone with this iteration
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(3); });
        guard.start(5000);
        EXPECT_EQ(QApplication::exec(), 0) << (byMenu ? "Exit" : "title bar");
    }
}

// A long run changes the state between handler ends; each message pump shows it.
TEST_P(WindowsTest, MessagePumpDuringARunShowsTheStateAndRefusesASecondRun) {
    Tformcalc& c = app.formcalc();
    c.visible = true;
    gui.binder().push();
    app.setBusy(true);
    c.ProgressBar1.max = 100;
    c.ProgressBar1.position = 40;
    c.Label4.caption = "generation 2";
    platform.processMessages();
    EXPECT_EQ(widget<QProgressBar>(&c.ProgressBar1)->value(), 40);
    EXPECT_EQ(widget<QLabel>(&c.Label4)->text(), "generation 2");
    // "Start" pressed while the run is busy does nothing.
    // Without a set-up a "Start" that ran would complain; nothing may be shown at all.
    testing::ModalAnswerer answerer;
    widget<QPushButton>(&c.Button2)->click();
    EXPECT_EQ(answerer.seen.count, 0);
    EXPECT_EQ(platform.exceptionsShown(), 0);
    app.setBusy(false);
}

/// The refinement road in the real windows up to "Start": settings "Done" with a population of
/// `population`, Data Entry (GaAs 0 0 4, Cu K-alpha1), "Start" on a small measured curve.
class RefinementRoadTest : public WindowsTest {
protected:
    void startJob(const char* population) {
        ASSERT_TRUE(dir.isValid());
        const std::string measured = dir.filePath("measured.txt").toStdString();
        {
            std::ofstream out(measured);
            for (int a = -150; a <= 150; a += 2)
                out << a << " "
                    << 20 + 1000 * std::exp(-a * a / 200.0) +
                           200 * std::exp(-(a + 60) * (a + 60) / 800.0)
                    << "\n";
        }
        Tformmain& m = app.formmain();
        Tformdata& d = app.formdata();
        Tformrefinedata& settings = app.formrefinedata();
        pick(m.RadioGroup1, 1);
        type(m.file, QString::fromStdString(measured));
        click(&m.butok);
        ASSERT_TRUE(gui.refineDataView()->isVisible());
        type(settings.Edit1, population);
        click(&settings.Button1);  // "Done"
        ASSERT_TRUE(gui.dataView()->isVisible());
        EXPECT_EQ(widget<QLineEdit>(&d.thetai)->text(), "-150");
        EXPECT_FALSE(widget<QLineEdit>(&d.thetai)->isEnabled());

        chooseGaAsWithCuKalpha1();
        click(&d.butOK);
        ASSERT_TRUE(gui.calcView()->isVisible());
        ASSERT_TRUE(gui.refineView()->isVisible());
        click(&app.formcalc().Button2);  // "Start"
        ASSERT_TRUE(widget<QPushButton>(&app.formcalc().butGo)->isEnabled())
            << "Start did not finish";
    }

    QTemporaryDir dir;
};

// "GO" (one generation of a small population) and "Plot"; the progress window shows the
// population.
TEST_P(RefinementRoadTest, ShowsThePopulationAndPlotsTheFit) {
    startJob("6");
    Tformcalc& c = app.formcalc();
    auto* grid = widget<QTableWidget>(&app.formrefine().StringGrid1);
    ASSERT_EQ(grid->rowCount(), 7);
    EXPECT_EQ(grid->item(0, 1)->text(), "Tau");
    click(&c.butGo);
    EXPECT_TRUE(gui.refineView()->isVisible());        // shown again at the end of the run
    EXPECT_FALSE(grid->item(1, 5)->text().isEmpty());  // errors of the last generation
    EXPECT_TRUE(widget<QWidget>(&c.Panel2)->isVisible());
    click(&c.Button1);  // "Plot"
    const QImage shown = gui.calcView()->findChild<QWidget*>("grafico")->grab().toImage();
    int red = 0;
    for (int x = 0; x < shown.width(); ++x)
        for (int y = 0; y < shown.height(); ++y)
            red += QColor(shown.pixel(x, y)) == QColor(255, 0, 0);
    EXPECT_GT(red, 100) << "no measured points on the drawing area";
}

// A long run works in the background: the windows take events, the progress bar moves, a second
// "GO" or "Start" is refused, and "Stop" ends the run with its best candidate shown.
TEST_P(RefinementRoadTest, LongRunStaysLiveAndStops) {
    startJob("20");
    Tformcalc& c = app.formcalc();
    type(c.ncycles, "1000000");
    auto* bar = widget<QProgressBar>(&c.ProgressBar1);
    auto* stop = widget<QPushButton>(&c.butStop);
    EXPECT_FALSE(stop->isEnabled());

    int ticks = 0;
    int lastValue = -1;
    int moves = 0;
    bool goRefused = true;
    bool stopEnabled = false;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        ++ticks;
        if (bar->value() != lastValue) ++moves, lastValue = bar->value();
        stopEnabled |= stop->isEnabled();
        goRefused &= !widget<QPushButton>(&c.butGo)->isEnabled() && app.busy();
        click(&c.Button2);  // refused while busy: no message, no change
        if (moves >= 5 || ticks > 1500) stop->click();
    });
    watcher.start();
    click(&c.butGo);
    watcher.stop();

    EXPECT_GE(moves, 5) << "the progress bar did not move during the run";
    EXPECT_TRUE(stopEnabled);
    EXPECT_TRUE(goRefused);
    EXPECT_FALSE(app.busy());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(widget<QPushButton>(&c.butGo)->isEnabled());
    EXPECT_EQ(platform.exceptionsShown(), 0);
    EXPECT_TRUE(gui.refineView()->isVisible());
    EXPECT_TRUE(widget<QWidget>(&c.Panel2)->isVisible());
    const std::string err = c.Panel2.caption;
    ASSERT_EQ(err.rfind("Error=", 0), 0u) << err;
    float best = kUnscorableError;
    for (int i = 0; i < 20; ++i)
        best = std::min(best, app.refine().population[i][kColError]);
    EXPECT_EQ(static_cast<float>(app.locale().textToFloat(err.substr(6))), best);
    EXPECT_LT(bar->value(), bar->maximum());
}

// Background work and the window thread: updates arrive in order and before the run returns,
// a task run on the window thread hands back its exception, and the work's own exception
// reaches the caller.
TEST_P(WindowsTest, BackgroundWorkPostsInOrderAndHandsBackExceptions) {
    std::vector<int> seen;
    bool onWorker = false;
    platform.runInBackground([&] {
        onWorker = QThread::currentThread() != QCoreApplication::instance()->thread();
        for (int i = 0; i < 500; ++i)
            platform.post([&seen, i] { seen.push_back(i); });
        platform.processMessages();  // nothing to do away from the window thread
        EXPECT_THROW(platform.invoke([] { throw std::runtime_error("on the window thread"); }),
                     std::runtime_error);
        int answer = 0;
        platform.invoke([&answer] {
            answer = QThread::currentThread() == QCoreApplication::instance()->thread() ? 42 : 1;
        });
        EXPECT_EQ(answer, 42);
    });
    EXPECT_TRUE(onWorker);
    ASSERT_EQ(seen.size(), 500u);
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(seen[i], i);
    EXPECT_THROW(platform.runInBackground([] { throw std::logic_error("in the work"); }),
                 std::logic_error);
}

INSTANTIATE_TEST_SUITE_P(Separators, WindowsTest, ::testing::Values('.', ','),
                         [](const auto& info) { return info.param == ',' ? "comma" : "point"; });
INSTANTIATE_TEST_SUITE_P(Separators, RefinementRoadTest, ::testing::Values('.', ','),
                         [](const auto& info) { return info.param == ',' ? "comma" : "point"; });

}  // namespace
}  // namespace kelvarin::gui
