// The "Rocking Curve Calculation" window: the "Start" run, the refinement buttons, the plot of
// the measured and computed curves, and the result files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/controls.hpp"
#include "app/window.hpp"
#include "engine/state.hpp"
#include "results/canvas.hpp"
#include "results/output_files.hpp"

namespace kelvarin {

class Tformcalc : public Window {
public:
    /// Size of the plotting area of `grafico` when the window opens, pixels; it follows the
    /// window's size afterwards.
    static constexpr int kPlotWidth = 641;
    static constexpr int kPlotHeight = 353;
    /// Room around the plotting area for the axis numbers and titles, pixels.
    static constexpr CanvasMargins kPlotMargins{78, 10, 16, 44};
    /// The design name of the result files.
    static constexpr const char* kDefaultFileName = "morvel3";

    /// What the curve in the engine's arrays belongs to: nothing yet in this job, the perfect
    /// crystal of a calculation job, or a refinement job (its Start, a GO or a "bufo").
    enum class ShownCurve { None, PerfectCrystal, Refinement };

    explicit Tformcalc(Application& app);

    ProgressBar ProgressBar1{{}, 0, 100, 0};
    Button Button2{{}, "Start"};
    Button Button1{{.enabled = false}, "Plot"};
    /// Status line: the best parameters of a run, the error of a typed set, what was saved.
    Label Label4{{}, "", {}};
    Label Label1{{}, "Generations:", {}};
    Edit ncycles{{}, "1", {}};
    Button butGo{{}, "GO"};
    /// Ends a running refinement after its current generation (enabled while one runs).
    Button butStop{{.enabled = false}, "Stop"};
    Button butTeste{{}, "butTeste"};
    Button Button7{{}, "New population"};
    Canvas grafico{kPlotWidth, kPlotHeight, kPlotMargins};
    Panel Panel2{{.visible = false}, "Error="};
    Panel Panel1{{.visible = false}, ""};
    Label Label2{{}, "X range:", {}};
    Edit minX{{}, "", {}};
    Label Label7{{}, "to", {}};
    Edit maxX{{}, "", {}};
    Label Label3{{}, "Y range:", {}};
    Edit minY{{}, "", {}};
    Label Label6{{}, "to", {}};
    Edit maxY{{}, "", {}};
    CheckBox ckLog{{}, "Log10", false};
    Button Button3{{}, "Replot"};
    Label Label5{{}, "File name (without file extension):", {}};
    Edit nomearquivo{{}, kDefaultFileName, {}};
    Button Button4{{.visible = false}, "Save output files"};
    Button Button5{{.visible = false}, "OK"};
    Edit tau{{}, "0.0041769", {}};
    Edit ro{{}, "496.08999", {}};
    Edit sigma1{{}, "830.7999", {}};
    Edit sigma2{{}, "646.39", {}};
    Button Button6{{}, "bufo"};
    Edit txbg{{}, "30", {}};

    /// Set by the Qt binding: saves the drawing area as an image at `path` ("<name>.png").
    /// Returns "" on success, otherwise what went wrong. Unset without a display.
    std::function<std::string(const std::string& path)> savePlotImage;

    /// Set by a caller that saves further files with the results (the command-line tool's
    /// plot): they are written in the same set as <name>.fit, .out and .ion, all or none.
    std::function<std::vector<ResultFile>(const std::string& base)> moreResultFiles;

    // Shown / closed (public so the binding and tests can run them directly).
    void FormShow() override;
    void FormClose() override;

    /// "Start": the rocking-curve run of the perfect crystal (results/start_run.cpp).
    void Button2Click() { startRun(); }
    void startRun();
    /// The curve the engine's arrays hold for this job; set by a successful Start.
    ShownCurve shownCurve() const { return shownCurve_; }
    /// Declares what the engine's arrays hold when a caller filled them without "Start".
    void setShownCurve(ShownCurve curve) { shownCurve_ = curve; }
    /// The plotting area took a new size (pixels): the shown plot is drawn again to fit it.
    void resizePlot(int width, int height);
    /// The status line after a refinement: the best parameters under their names and units.
    void showBestParameters(const CandidateRow& best);
    /// "Plot" and "Replot".
    void Button1Click();
    void Button3Click() { Button1Click(); }
    /// "Save output files": <nomearquivo>.fit, .out, .ion (and the plot as .png with a
    /// display); the status line says what was written where.
    void Button4Click();
    /// "OK": closes the results and resets the set-up windows for the next job.
    void Button5Click();

    // Refinement buttons, implemented with the run driver (refine/run_driver.cpp).
    void butGoClick();
    void butStopClick();
    /// The user closes the window: while a refinement runs this asks it to stop and the window
    /// stays, to show the result; otherwise the window closes.
    void closeRequest();
    void Button6Click();
    void butTesteClick();
    void Button7Click();

    /// Decades shown below the top of a logarithmic axis for a reflectivity curve when `minY`
    /// gives no positive bottom.
    static constexpr double kReflectivityDecades = 6.0;

private:
    /// The ranges of the plot on screen, kept so that a new window size redraws the same plot.
    struct PlotRanges {
        double x0 = 0;
        double x1 = 0;
        double yBottom = 0;  ///< log10 value when `logAxis`
        double yTop = 0;
        bool logAxis = false;
    };
    /// A new job in the window: no curve, no plot, no result of an earlier job shown, and
    /// "Start" ready again.
    void resetResults();
    /// Reads and checks the four range fields; false after telling the user what is wrong.
    bool readRanges(PlotRanges& ranges);
    void drawPlot(const PlotRanges& ranges);

    ShownCurve shownCurve_ = ShownCurve::None;
    bool plotShown_ = false;
    PlotRanges shownRanges_;
};

}  // namespace kelvarin
