#include "results/formcalc.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "engine/state.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/formerro.hpp"
#include "results/output_files.hpp"
#include "results/plot_axes.hpp"
#include "setup/formdata.hpp"

namespace kelvarin {

namespace {

/// Pixel coordinate from a mapped value; far-off values are held well outside the area so the
/// conversion to int stays defined.
int toPixel(double value) {
    constexpr double kLimit = 1.0e6;
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

}  // namespace

Tformcalc::Tformcalc(Application& app) : Window(app, "Rocking Curve Calculation") {}

void Tformcalc::FormShow() {
    resetResults();
    const Locale& loc = app_.locale();
    Tformdata& data = app_.formdata();
    EngineState& engine = app_.engine();
    engine.millerH = loc.textToInt(data.h.text, "h (Miller index)");
    engine.millerK = loc.textToInt(data.k.text, "k (Miller index)");
    engine.millerL = loc.textToInt(data.l.text, "l (Miller index)");

    // Search limits and maximum mutations, each read as a double. Their design texts are
    // written with a point and only "Done" of a refinement rewrites them with the locale's
    // separator, so either separator is taken here.
    Tformrefinedata& rd = app_.formrefinedata();
    RefineSettings& rs = app_.refine().refineSettings;
    auto num = [&](const Edit& field, const std::string& name) -> Extended {
        return static_cast<double>(
            loc.textToFloat(loc.NormalizeDecimalSeparator(field.text), name));
    };
    const std::string settings = " (refinement settings)";
    rs.tauLo = num(rd.taui, "tau minimum" + settings);
    rs.tauHi = num(rd.tauf, "tau maximum" + settings);
    rs.roLo = num(rd.roi, "ro minimum" + settings);
    rs.roHi = num(rd.rof, "ro maximum" + settings);
    rs.sigma1Lo = num(rd.sigma1i, "sigma1 minimum" + settings);
    rs.sigma1Hi = num(rd.sigma1f, "sigma1 maximum" + settings);
    rs.sigma2Lo = num(rd.sigma2i, "sigma2 minimum" + settings);
    rs.sigma2Hi = num(rd.sigma2f, "sigma2 maximum" + settings);
    rs.maxMutTau = num(rd.maxmuttau, "tau max mutation" + settings);
    rs.maxMutRo = num(rd.maxmutro, "ro max mutation" + settings);
    rs.maxMutSigma1 = num(rd.maxmutsigma1, "sigma1 max mutation" + settings);
    rs.maxMutSigma2 = num(rd.maxmutsigma2, "sigma2 max mutation" + settings);
    rs.maxMutW = num(rd.maxmutw, "width max mutation" + settings);
}

void Tformcalc::FormClose() {
    app_.formrefine().hide();
}

void Tformcalc::resetResults() {
    shownCurve_ = ShownCurve::None;
    plotShown_ = false;
    Button2.enabled = true;
    Button1.enabled = false;
    Panel1.visible = false;
    Button4.visible = false;
    Button5.visible = false;
    Panel2.visible = false;
    Panel2.caption = "Error=";
    Label4.caption.clear();
    ProgressBar1.position = ProgressBar1.min;
    for (Edit* range : {&minX, &maxX, &minY, &maxY})
        range->text.clear();
    nomearquivo.text = kDefaultFileName;
    grafico.clear();
}

bool Tformcalc::readRanges(PlotRanges& r) {
    const Locale& loc = app_.locale();
    const CurveStore& cs = app_.engine().curveStore;
    r.x0 = static_cast<double>(loc.textToFloat(minX.text, "X range (first angle)"));
    r.x1 = static_cast<double>(loc.textToFloat(maxX.text, "X range (last angle)"));
    if (cs.scanStart > r.x0 || cs.scanEnd < r.x1) {
        app_.showError(Tformerro::kDefaultMessage);
        return false;
    }
    if (!(r.x1 > r.x0)) {
        app_.showError("X range: the first angle (" + minX.text +
                       ") must lie below the last angle (" + maxX.text + ").");
        return false;
    }

    // The computed curve of a calculation job is a reflectivity (at most 1): its logarithmic
    // axis reaches below one decade.
    const bool reflectivity = shownCurve_ == ShownCurve::PerfectCrystal;
    r.logAxis = ckLog.checked;
    const double yMaxText = static_cast<double>(loc.textToFloat(maxY.text, "Y range (top)"));
    const double yMinText = static_cast<double>(loc.textToFloat(minY.text, "Y range (bottom)"));
    r.yTop = yMaxText;
    r.yBottom = yMinText;
    if (r.logAxis) {
        if (!(yMaxText > 0)) {
            app_.showError("Y range: the top of a logarithmic axis must be greater than 0.");
            return false;
        }
        r.yTop = std::log10(yMaxText);
        if (reflectivity)
            r.yBottom = yMinText > 0 ? std::log10(yMinText) : r.yTop - kReflectivityDecades;
        else
            r.yBottom = yMinText > 1 ? std::log10(yMinText) : 1.0;
    }
    if (!(r.yTop > r.yBottom) || !std::isfinite(r.yTop - r.yBottom)) {
        app_.showError("Y range: the bottom (" + minY.text + ") must lie below the top (" +
                       maxY.text + ")" + (r.logAxis ? " of the logarithmic axis." : "."));
        return false;
    }
    return true;
}

void Tformcalc::Button1Click() {
    Panel1.visible = true;
    grafico.visible = true;
    Button1.enabled = false;
    Button4.visible = true;
    Button5.visible = true;
    if (shownCurve_ == ShownCurve::None) {
        app_.showError("There is no curve to plot yet: press \"Start\" first.");
        return;
    }
    PlotRanges ranges;
    if (!readRanges(ranges)) return;
    drawPlot(ranges);
}

void Tformcalc::resizePlot(int width, int height) {
    if (width == grafico.width() && height == grafico.height()) return;
    grafico.resize(width, height);
    if (plotShown_) drawPlot(shownRanges_);
}

void Tformcalc::drawPlot(const PlotRanges& r) {
    const CurveStore& cs = app_.engine().curveStore;
    const bool reflectivity = shownCurve_ == ShownCurve::PerfectCrystal;
    const double x0 = r.x0;
    const double x1 = r.x1;
    const int W = grafico.width();
    const int H = grafico.height();
    const double xScale = (x1 - x0) / W;
    const double yScale = (r.yTop - r.yBottom) / H;
    auto mapX = [&](Extended a) {
        return toPixel(std::floor((static_cast<double>(a) - x0) / xScale));
    };
    auto mapY = [&](Extended value) {
        double v = static_cast<double>(value);
        if (r.logAxis) {
            if (!(v > 0)) return H;  // nothing to take the logarithm of: bottom edge
            v = std::log10(v);
        }
        return toPixel(H - std::floor((v - r.yBottom) / yScale));
    };

    grafico.clear();
    grafico.penColour = Colour::Black;
    grafico.brushColour = Colour::White;
    grafico.rectangle(0, 0, W, H);

    if (!reflectivity) {
        Panel2.visible = true;
        grafico.penColour = Colour::Red;
        grafico.brushColour = Colour::White;
        const int last = std::min(cs.measLast, kCurveCapacity);
        for (int i = 0; i <= last - 1; ++i) {
            const double t = x0 + static_cast<double>(i) * cs.scanStep;
            if (t < cs.measAngle[0] || t > cs.measAngle[static_cast<std::size_t>(last - 1)])
                continue;
            const auto ui = static_cast<std::size_t>(i);
            const int px = mapX(cs.measAngle[ui]);
            const int py = mapY(cs.measIntensity[ui]);
            grafico.ellipse(px - 2, py - 2, px + 2, py + 2);
        }
    }

    grafico.penColour = Colour::Black;
    grafico.moveTo(0, H);
    // A refinement draws its curve at the measured angles, point against point; a calculation
    // job has no measured curve and draws at the computed angles.
    const std::vector<Extended>& angles = reflectivity ? cs.calcAngle : cs.measAngle;
    const int lastIndex = reflectivity ? cs.calcCount - 1 : cs.measLast - 2;
    for (int i = 0; i <= std::min(lastIndex, kCurveCapacity - 1); ++i) {
        const auto ui = static_cast<std::size_t>(i);
        if (angles[ui] < x0 || angles[ui] > x1) continue;
        grafico.lineTo(mapX(angles[ui]), mapY(cs.calcCurve[ui]));
    }

    const std::string yTitle = reflectivity ? "Reflectivity" : "Intensity (counts)";
    drawAxes(grafico, {x0, x1, false}, {r.yBottom, r.yTop, r.logAxis}, "Angle (seconds of arc)",
             r.logAxis ? yTitle + ", log scale" : yTitle, app_.locale());
    plotShown_ = true;
    shownRanges_ = r;
}

void Tformcalc::showBestParameters(const CandidateRow& genes) {
    const Locale& loc = app_.locale();
    const Tformrefinedata& settings = app_.formrefinedata();
    // Under the double half-Gaussian the parameters are a strain and three depths; the Pearson
    // VII captions carry no unit.
    const bool twoGauss = settings.Label3.caption == "tau:";
    const Label* captions[] = {&settings.Label3, &settings.Label4, &settings.Label2,
                               &settings.Label5};
    std::string text = "Best:";
    for (int i = 0; i < 4; ++i) {
        text += (i ? ", " : " ") + captions[i]->fieldName() + " = " +
                loc.singleToText(genes[kColTau + i]);
        if (twoGauss && i > 0) text += " \u00c5";
    }
    text += ", width = " + loc.singleToText(genes[kColW]) + "\u2033";
    Label4.caption = text;
    app_.formrefine().showBest(genes);
}

void Tformcalc::Button4Click() {
    if (shownCurve_ == ShownCurve::None) {
        app_.showError("There is nothing to save yet: press \"Start\" first.");
        return;
    }
    const std::string base = nomearquivo.text;
    if (base.empty()) {
        app_.showError("Type a name for the result files (without file extension).");
        return;
    }
    const EngineState& engine = app_.engine();
    const CurveStore& cs = engine.curveStore;
    std::string fit;
    std::string out;
    std::string ion;
    if (shownCurve_ == ShownCurve::PerfectCrystal) {
        // No measured curve: the angle column holds the computed angles, the intensity column 0.
        const std::vector<Extended> none(static_cast<std::size_t>(std::max(cs.calcCount, 0)), 0);
        fit = fitFileText(cs.calcAngle, none, cs.calcCurve, cs.calcCount);
        // The perfect crystal: the instrument width of the run and no strained layer (no strain,
        // no lamella, no error without a measured curve), whatever an earlier job left.
        const RefineSettings& rs = app_.refine().refineSettings;
        CandidateRow perfect{};
        perfect[kColW] = static_cast<float>((rs.wLo + rs.wHi) * 0.5L);
        out = outFileText(perfect);
    } else {
        fit = fitFileText(cs.measAngle, cs.measIntensity, cs.calcCurve, cs.calcCount);
        out = outFileText(app_.refine().population[0]);
        ion = ionFileText(engine.profileThickness, engine.profileStrain, engine.layerCount);
    }
    try {
        std::vector<ResultFile> files{
            {base + ".fit", fit}, {base + ".out", out}, {base + ".ion", ion}};
        if (moreResultFiles)
            for (ResultFile& f : moreResultFiles(base))
                files.push_back(std::move(f));
        // The input file of the job must survive a result name that collides with it.
        writeResultFiles(files, {app_.formmain().file.text});
    } catch (const ResultFileError& e) {
        app_.showError(e.what());
        return;
    }
    std::string saved = ".fit, .out, .ion";
    if (savePlotImage) {
        const std::string png = base + ".png";
        const std::string problem = savePlotImage(png);
        if (!problem.empty()) {
            // The binding's own message names the image already; others get the name added.
            app_.showError(problem.find(png) != std::string::npos
                               ? problem
                               : "Cannot write the plot image '" + png + "': " + problem);
        } else {
            saved += " and the plot as .png";
        }
    }
    std::error_code ec;
    const std::filesystem::path where = std::filesystem::absolute(base, ec);
    Label4.caption = "Saved " + (ec ? base : where.string()) + " " + saved;
}

void Tformcalc::Button5Click() {
    Tformdata& data = app_.formdata();
    resetResults();
    data.Label1.caption = "0";
    app_.formmain().file.text.clear();
    for (Edit* e : {&data.h, &data.k, &data.l, &data.thetai, &data.thetaf, &data.step})
        e->text.clear();
    data.buttarget.enabled = true;
    data.tipo.enabled = false;
    data.Button1.enabled = false;
    data.butOK.enabled = false;
    data.butUndo.enabled = false;
    for (Label* label : {&data.Label1, &data.Label2, &data.Label3, &data.Label4})
        label->visible = false;
    hide();
    data.hide();
}

}  // namespace kelvarin
