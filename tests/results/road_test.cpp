// Whole jobs driven through the windows as a user would: main window, Data Entry, calculation
// window, "Start", "Plot", "Save output files" and "OK".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "results/results_fixture.hpp"

namespace kelvarin::testing {
namespace {

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class RoadTest : public CalcTest {
protected:
    /// Runs a handler and requires that the user was told nothing.
    void click(const std::function<void()>& handler) {
        ASSERT_TRUE(app->dispatch(handler));
        ASSERT_TRUE(platform.allMessages().empty()) << platform.allMessages()[0];
    }
    /// Reflection, scan and radiation, then a two-element crystal chosen with its buttons.
    void dataEntry(void (Tformdata::*cation)(), void (Tformdata::*anion)(), bool typeScan) {
        Tformdata& d = data();
        ASSERT_TRUE(d.visible);
        d.h.text = "0";
        d.k.text = "0";
        d.l.text = "4";
        if (typeScan) {
            d.thetai.text = "-300";
            d.thetaf.text = "300";
            d.step.text = "2";
        }
        d.radiacao.select(4);  // "Cua1"
        click([&] { d.radiacaoChange(); });
        click([&] { d.buttargetClick(); });
        d.tipo.itemIndex = 1;
        click([&] { d.Button1Click(); });
        click([&] { (d.*cation)(); });
        click([&] { (d.*anion)(); });
        ASSERT_TRUE(d.butOK.enabled);
        click([&] { d.butOKClick(); });
        ASSERT_TRUE(calc().visible);
    }
    void plotSaveAndClose(const ScratchDir& dir, int expectedLines) {
        click([&] { calc().Button1Click(); });
        EXPECT_GT(std::count_if(calc().grafico.ops().begin(), calc().grafico.ops().end(),
                                [](const DrawOp& op) { return op.kind == DrawKind::LineTo; }),
                  expectedLines / 2);
        calc().nomearquivo.text = dir.file("job");
        click([&] { calc().Button4Click(); });
        const std::string fit = ScratchDir::read(dir.file("job.fit"));
        EXPECT_EQ(lineCount(fit), expectedLines);
        EXPECT_EQ(fit.find("nan"), std::string::npos);
        EXPECT_EQ(lineCount(ScratchDir::read(dir.file("job.out"))), 10);
        click([&] { calc().Button5Click(); });
        EXPECT_FALSE(calc().visible);
        EXPECT_FALSE(data().visible);
        EXPECT_TRUE(main().visible);
        EXPECT_EQ(data().h.text, "");
        EXPECT_TRUE(calc().Button2.enabled);
    }
};

TEST_P(RoadTest, RockingCurveCalculationOfGaAs) {
    ScratchDir dir;
    main().RadioGroup1.itemIndex = 0;
    click([&] { main().RadioGroup1Click(); });
    main().filetype.itemIndex = 1;  // thickness, strain (%)
    click([&] { main().filetypeClick(); });
    main().file.text = dir.write("profile.dat", "100 0.1\n200 0.25\n100 0.05\n");
    click([&] { main().butokClick(); });
    dataEntry(&Tformdata::GaClick, &Tformdata::AsClick, true);

    click([&] { calc().Button2Click(); });
    const CurveStore& cs = store();
    ASSERT_EQ(cs.calcCount, 301);
    const auto peak = std::max_element(cs.calcCurve.begin(), cs.calcCurve.begin() + 301);
    const Extended peakAngle = cs.calcAngle[static_cast<std::size_t>(peak - cs.calcCurve.begin())];
    EXPECT_LE(std::fabs(static_cast<double>(peakAngle)), 6);
    EXPECT_GT(*peak, 0.2L);
    EXPECT_LE(*peak, 1.0L);
    plotSaveAndClose(dir, 301);
    // The curves file of a calculation: computed angle, no measured intensity, reflectivity.
    std::istringstream fit(ScratchDir::read(dir.file("job.fit")));
    std::string a, m, c;
    fit >> a >> m >> c;
    EXPECT_EQ(a, "-300.000000");
    EXPECT_EQ(m, "0.000000");
}

TEST_P(RoadTest, RefinementOfASiliconCarbideScanInFractionalSteps) {
    // A 3C-SiC 4 0 0 scan as the diffractometer gives it, turned into omega offsets in seconds of
    // arc around its peak (steps of 18 arcsec, not whole numbers): a substrate peak, the broad
    // hump of a strained layer on its low-angle side and a background.
    ScratchDir dir;
    std::ostringstream scan;
    int points = 0;
    for (int i = 0; i < 301; ++i) {
        const double omega = -2700.25 + 18.0 * i;
        const double layer = (omega + 900) / 300;
        const double counts =
            50 + 1e5 * std::exp(-omega * omega / 900) + 400 * std::exp(-layer * layer);
        scan << omega << ' ' << std::round(counts) << '\n';
        ++points;
    }
    ASSERT_GT(points, 250);

    main().RadioGroup1.itemIndex = 1;
    click([&] { main().RadioGroup1Click(); });
    main().file.text = dir.write("sic.dat", scan.str());
    main().nlayers.text = "8";
    main().chkInteiro.checked = false;  // angles from the measured file
    click([&] { main().butokClick(); });
    Tformrefinedata& settings = app->formrefinedata();
    ASSERT_TRUE(settings.visible);
    settings.Edit1.text = "4";
    click([&] { settings.Button1Click(); });
    dataEntry(&Tformdata::SiClick, &Tformdata::CClick, false);
    EXPECT_TRUE(app->formrefine().visible);
    EXPECT_FALSE(calc().butGo.enabled);

    click([&] { calc().Button2Click(); });
    const CurveStore& cs = store();
    EXPECT_EQ(cs.calcCount, cs.scanEnd - cs.scanStart + 1);
    EXPECT_EQ(cs.measLast + 2, cs.calcCount);
    EXPECT_GT(cs.measMax, 100);
    EXPECT_TRUE(calc().butGo.enabled);
    EXPECT_TRUE(calc().Panel2.visible);

    calc().ncycles.text = "1";
    click([&] { calc().butGoClick(); });
    EXPECT_TRUE(calc().Button1.enabled);
    plotSaveAndClose(dir, cs.calcCount);
    EXPECT_EQ(lineCount(ScratchDir::read(dir.file("job.ion"))), 16);
}

/// A new job after an earlier one: what the calculation window shows and saves belongs to the
/// new job alone, whichever way the earlier one was closed.
class NextJobTest : public RoadTest {
protected:
    /// A calculation job over `from`..`to` step `step`, up to the opened calculation window.
    void calculationUpToTheWindow(const ScratchDir& dir, const char* from, const char* to,
                                  const char* step) {
        main().RadioGroup1.itemIndex = 0;
        click([&] { main().RadioGroup1Click(); });
        main().filetype.itemIndex = 1;
        click([&] { main().filetypeClick(); });
        main().file.text = dir.write("profile.dat", "100 0.1\n200 0.25\n");
        click([&] { main().butokClick(); });
        Tformdata& d = data();
        d.thetai.text = from;
        d.thetaf.text = to;
        d.step.text = step;
        if (d.Label1.caption == "0") {
            dataEntry(&Tformdata::GaClick, &Tformdata::AsClick, false);
            return;
        }
        // The crystal of the earlier job is still chosen: "Select target..." and "OK".
        click([&] { d.buttargetClick(); });
        ASSERT_TRUE(d.butOK.enabled);
        click([&] { d.butOKClick(); });
        ASSERT_TRUE(calc().visible);
    }
};

TEST_P(NextJobTest, ClosingTheWindowByItsTitleBarStartsTheNextJobAfresh) {
    ScratchDir dir;
    calculationUpToTheWindow(dir, "-300", "300", "2");
    click([&] { calc().Button2Click(); });
    click([&] { calc().Button1Click(); });
    calc().nomearquivo.text = dir.file("first");
    click([&] { calc().Button4Click(); });
    calc().closeRequest();  // the title-bar X, not "OK"
    EXPECT_FALSE(calc().visible);

    calculationUpToTheWindow(dir, "-1000", "500", "1");
    EXPECT_TRUE(calc().Button2.enabled);
    EXPECT_FALSE(calc().Button1.enabled);
    EXPECT_FALSE(calc().Button4.visible);
    EXPECT_FALSE(calc().Panel1.visible);
    EXPECT_EQ(calc().minX.text, "");
    EXPECT_EQ(calc().nomearquivo.text, "morvel3");
    // Saving before "Start" writes nothing: the curve of the first job is not this job's.
    calc().nomearquivo.text = dir.file("second");
    ASSERT_TRUE(app->dispatch([&] { calc().Button4Click(); }));
    EXPECT_EQ(platform.allMessages().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("second.fit")));

    platform.clearMessages();
    click([&] { calc().Button2Click(); });
    EXPECT_EQ(calc().minX.text, "-1000");
    EXPECT_EQ(calc().maxX.text, "500");
    plotSaveAndClose(dir, 1501);
}

TEST_P(NextJobTest, ACalculationAfterARefinementSavesItsOwnResults) {
    ScratchDir dir;
    std::string measured;
    for (int a = -300; a <= 300; a += 2)
        measured += std::to_string(a) + " " + std::to_string(30 + 1000 / (1 + a * a / 400)) + "\n";
    main().RadioGroup1.itemIndex = 1;
    click([&] { main().RadioGroup1Click(); });
    main().file.text = dir.write("measured.dat", measured);
    main().nlayers.text = "8";
    main().chkInteiro.checked = true;
    click([&] { main().butokClick(); });
    app->formrefinedata().Edit1.text = "4";
    click([&] { app->formrefinedata().Button1Click(); });
    dataEntry(&Tformdata::GaClick, &Tformdata::AsClick, false);
    click([&] { calc().Button2Click(); });
    click([&] { calc().butGoClick(); });
    click([&] { calc().Button1Click(); });
    calc().nomearquivo.text = dir.file("refined");
    click([&] { calc().Button4Click(); });
    EXPECT_NE(app->formrefine().Label14.caption, "---");  // the "Best:" column
    calc().closeRequest();
    EXPECT_FALSE(app->formrefine().visible);

    calculationUpToTheWindow(dir, "-300", "300", "2");
    EXPECT_FALSE(calc().Panel2.visible);
    EXPECT_EQ(calc().Panel2.caption, "Error=");
    EXPECT_EQ(calc().Label4.caption, "");
    click([&] { calc().Button2Click(); });
    click([&] { calc().Button1Click(); });
    calc().nomearquivo.text = dir.file("calculated");
    click([&] { calc().Button4Click(); });
    // The perfect crystal: the run's instrument width (the mean of the width limits, 8.5″), no
    // strain, no lamella and no error, whatever the refinement left.
    EXPECT_EQ(ScratchDir::read(dir.file("calculated.out")),
              "====================================\n"
              "==   OUTPUT FILE FROM KELVARIN    ==\n"
              "====================================\n"
              "Parameters for the ion distribution curve:\n"
              "FWHM: 8.500000\nTau: 0.000000\nRo: 0.000000\nSigma1: 0.000000\nSigma2: 0.000000\n"
              "Logarithmic error: 0.000000\n");
    EXPECT_EQ(ScratchDir::read(dir.file("calculated.ion")), "");
    EXPECT_NE(ScratchDir::read(dir.file("refined.ion")), "");
    EXPECT_NE(calc().Label4.caption.find(dir.file("calculated")), std::string::npos);
}

KELVARIN_BOTH_SEPARATORS(RoadTest);
KELVARIN_BOTH_SEPARATORS(NextJobTest);

}  // namespace
}  // namespace kelvarin::testing
