// The "Rocking Curve Calculation" window: the "Start" run, the refinement buttons, the plot of
// the measured and computed curves, and the result files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/controls.hpp"
#include "app/window.hpp"
#include "results/canvas.hpp"
#include "results/output_files.hpp"

namespace kelvarin {

class Tformcalc : public Window {
public:
    /// Size of the drawing area `grafico`, pixels.
    static constexpr int kPlotWidth = 641;
    static constexpr int kPlotHeight = 353;

    explicit Tformcalc(Application& app);

    ProgressBar ProgressBar1{{}, 0, 100, 0};
    Button Button2{{}, "Start"};
    Button Button1{{.enabled = false}, "Plot"};
    Label Label4{{}, "Label4", {}};
    Label Label1{{}, "Generations:", {}};
    Edit ncycles{{}, "1", {}};
    Button butGo{{}, "GO"};
    /// Ends a running refinement after its current generation (enabled while one runs).
    Button butStop{{.enabled = false}, "Stop"};
    Button butTeste{{}, "butTeste"};
    Button Button7{{}, "New population"};
    Canvas grafico{kPlotWidth, kPlotHeight};
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
    Edit nomearquivo{{}, "morvel3", {}};
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
    /// "Plot" and "Replot".
    void Button1Click();
    void Button3Click() { Button1Click(); }
    /// "Save output files": <nomearquivo>.fit, .out, .ion (and .png with a display).
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
    /// True when the job is a rocking-curve calculation: the curve is the perfect crystal's
    /// reflectivity and no measured curve belongs to it.
    bool perfectCrystalJob() const;
};

}  // namespace kelvarin
