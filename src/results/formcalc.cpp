#include "results/formcalc.hpp"

#include <algorithm>
#include <cmath>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "engine/state.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/formerro.hpp"
#include "results/output_files.hpp"
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
    const Locale& loc = app_.locale();
    Tformdata& data = app_.formdata();
    EngineState& engine = app_.engine();
    engine.millerH = loc.textToInt(data.h.text, "h");
    engine.millerK = loc.textToInt(data.k.text, "k");
    engine.millerL = loc.textToInt(data.l.text, "l");

    // Search limits and maximum mutations, each read as a double. Their design texts are
    // written with a point and only "Done" of a refinement rewrites them with the locale's
    // separator, so either separator is taken here.
    Tformrefinedata& rd = app_.formrefinedata();
    RefineSettings& rs = app_.refine().refineSettings;
    auto num = [&](const Edit& field, const char* name) -> Extended {
        return static_cast<double>(
            loc.textToFloat(loc.NormalizeDecimalSeparator(field.text), name));
    };
    rs.tauLo = num(rd.taui, "taui");
    rs.tauHi = num(rd.tauf, "tauf");
    rs.roLo = num(rd.roi, "roi");
    rs.roHi = num(rd.rof, "rof");
    rs.sigma1Lo = num(rd.sigma1i, "sigma1i");
    rs.sigma1Hi = num(rd.sigma1f, "sigma1f");
    rs.sigma2Lo = num(rd.sigma2i, "sigma2i");
    rs.sigma2Hi = num(rd.sigma2f, "sigma2f");
    rs.maxMutTau = num(rd.maxmuttau, "maxmuttau");
    rs.maxMutRo = num(rd.maxmutro, "maxmutro");
    rs.maxMutSigma1 = num(rd.maxmutsigma1, "maxmutsigma1");
    rs.maxMutSigma2 = num(rd.maxmutsigma2, "maxmutsigma2");
    rs.maxMutW = num(rd.maxmutw, "maxmutw");
}

void Tformcalc::FormClose() {
    app_.formrefine().hide();
}

bool Tformcalc::perfectCrystalJob() const {
    return !app_.formmain().isRefinementJob();
}

void Tformcalc::Button1Click() {
    Panel1.visible = true;
    grafico.visible = true;
    Button1.enabled = false;
    Button4.visible = true;
    Button5.visible = true;

    const Locale& loc = app_.locale();
    const CurveStore& cs = app_.engine().curveStore;
    const double x0 = static_cast<double>(loc.textToFloat(minX.text, "minX"));
    const double x1 = static_cast<double>(loc.textToFloat(maxX.text, "maxX"));
    if (cs.scanStart > x0 || cs.scanEnd < x1) {
        app_.showError(Tformerro::kDefaultMessage);
        return;
    }
    const double xRange = std::fabs(x1 - x0);
    if (!(xRange > 0)) {
        app_.showError("The x range is empty: the first angle must lie below the last.");
        return;
    }

    // The computed curve of a calculation job is a reflectivity (at most 1): its logarithmic
    // axis reaches below one decade.
    const bool reflectivity = perfectCrystalJob();
    const bool logAxis = ckLog.checked;
    const double yMaxText = static_cast<double>(loc.textToFloat(maxY.text, "maxY"));
    const double yMinText = static_cast<double>(loc.textToFloat(minY.text, "minY"));
    double yTop = yMaxText;
    double yBottom = yMinText;
    if (logAxis) {
        if (!(yMaxText > 0)) {
            app_.showError("The top of a logarithmic y range must be greater than 0.");
            return;
        }
        yTop = std::log10(yMaxText);
        if (reflectivity)
            yBottom = yMinText > 0 ? std::log10(yMinText) : yTop - kReflectivityDecades;
        else
            yBottom = yMinText > 1 ? std::log10(yMinText) : 1.0;
    }
    const double yRange = std::fabs(yTop - yBottom);
    if (!(yRange > 0) || !std::isfinite(yRange)) {
        app_.showError("The y range is empty: the bottom must differ from the top.");
        return;
    }

    const int W = grafico.width();
    const int H = grafico.height();
    const double xScale = xRange / W;
    const double yScale = yRange / H;
    auto mapX = [&](Extended a) {
        return toPixel(std::floor((static_cast<double>(a) - x0) / xScale));
    };
    auto mapY = [&](Extended value) {
        double v = static_cast<double>(value);
        if (logAxis) {
            if (!(v > 0)) return H;  // nothing to take the logarithm of: bottom edge
            v = std::log10(v);
        }
        return toPixel(H - std::floor((v - yBottom) / yScale));
    };
    int pyMax = 0;
    int pyMin = 100;
    auto track = [&](int py) {
        if (py > pyMax) pyMax = py;
        if (py < pyMin) pyMin = py;
    };

    grafico.clear();
    grafico.penColour = Colour::Black;
    grafico.brushColour = Colour::White;
    grafico.rectangle(0, 0, W, H);

    if (app_.formmain().isRefinementJob()) {
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
            track(py);
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
        const int px = mapX(angles[ui]);
        const int py = mapY(cs.calcCurve[ui]);
        track(py);
        grafico.lineTo(px, py);
    }

    Label4.caption = loc.floatToText(pyMax) + " " + loc.floatToText(pyMin);
}

void Tformcalc::Button4Click() {
    const std::string base = nomearquivo.text;
    if (base.empty()) {
        app_.showError("Type a name for the result files (without file extension).");
        return;
    }
    const EngineState& engine = app_.engine();
    const CurveStore& cs = engine.curveStore;
    std::string fit;
    if (perfectCrystalJob()) {
        // No measured curve: the angle column holds the computed angles, the intensity column 0.
        const std::vector<Extended> none(static_cast<std::size_t>(std::max(cs.calcCount, 0)), 0);
        fit = fitFileText(cs.calcAngle, none, cs.calcCurve, cs.calcCount);
    } else {
        fit = fitFileText(cs.measAngle, cs.measIntensity, cs.calcCurve, cs.calcCount);
    }
    const std::string out = outFileText(app_.refine().population[0]);
    const std::string ion =
        ionFileText(engine.profileThickness, engine.profileStrain, engine.layerCount);
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
    if (savePlotImage) {
        const std::string png = base + ".png";
        const std::string problem = savePlotImage(png);
        if (!problem.empty()) {
            // The binding's own message names the image already; others get the name added.
            app_.showError(problem.find(png) != std::string::npos
                               ? problem
                               : "Cannot write the plot image '" + png + "': " + problem);
        }
    }
}

void Tformcalc::Button5Click() {
    Tformdata& data = app_.formdata();
    Button2.enabled = true;
    Button1.enabled = false;
    data.Label1.caption = "0";
    Panel1.visible = false;
    Button4.visible = false;
    Button5.visible = false;
    ProgressBar1.position = ProgressBar1.min;
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
