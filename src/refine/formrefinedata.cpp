#include "refine/formrefinedata.hpp"

#include <ctime>
#include <string>
#include <vector>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "engine/numio.hpp"
#include "refine/formrefine.hpp"
#include "refine/refine_state.hpp"
#include "setup/formdata.hpp"

namespace kelvarin {

namespace {

/// Angles of a measured rocking curve (angle, intensity pairs); the intensities are skipped.
/// Throws DataFileError for a file that cannot be read, holds no pair, has a number without its
/// partner at the end, or does not fit the curve arrays.
std::vector<float> readMeasuredAngles(const std::string& path) {
    NumberReader reader = NumberReader::fromFile(path);
    std::vector<float> angles;
    float angle = 0;
    float intensity = 0;
    while (reader.nextOrThrow(angle)) {
        if (!reader.nextOrThrow(intensity))
            throw DataFileError("file '" + path + "': the last angle has no intensity");
        if (static_cast<int>(angles.size()) >= kCurveCapacity)
            throw DataFileError("file '" + path + "': more than " + std::to_string(kCurveCapacity) +
                                " points");
        angles.push_back(angle);
    }
    if (angles.empty()) throw DataFileError("file '" + path + "' holds no measured point");
    return angles;
}

}  // namespace

Tformrefinedata::Tformrefinedata(Application& app)
    : Window(app, "Evolutionary refinement of experimental data") {
    // The design probability is shown with the decimal separator of every other field.
    Edit2.text = app.locale().NormalizeDecimalSeparator(Edit2.text);
}

void Tformrefinedata::Button2Click() {
    if (app_.busy()) return;
    if (Label3.caption == "tau:") {
        Label3.caption = "xc:";
        Label4.caption = "A:";
        Label2.caption = "w:";
        Label5.caption = "mu:";
        Button2.caption = "-> 2Gauss";
    } else {
        Label3.caption = "tau:";
        Label4.caption = "ro:";
        Label2.caption = "sigma1:";
        Label5.caption = "sigma2:";
        Button2.caption = "-> Pearson VII";
    }
}

void Tformrefinedata::Button1Click() {
    // Redrawing the population under a running refinement would corrupt it.
    if (app_.busy()) return;
    RefineState& state = app_.refine();
    const Locale& loc = app_.locale();

    const int n = loc.textToInt(Edit1.text, "# of elements");
    if (n < kMinPopulation || n > kMaxPopulation) {
        app_.showError("The number of elements must lie between " + std::to_string(kMinPopulation) +
                       " and " + std::to_string(kMaxPopulation) + ".");
        return;
    }

    // The measured file is checked before anything changes, so a missing or damaged file
    // leaves the window, its fields and the population as they were.
    std::vector<float> angles;
    try {
        angles = readMeasuredAngles(app_.formmain().file.text);
    } catch (const DataFileError& e) {
        app_.showError(e.what());
        return;
    }

    // Every limit the draw needs is read before anything changes, so a typing error leaves
    // the fields, the generator and the population as they were.
    auto value = [&](const Edit& e, const std::string& name) {
        return loc.textToFloat(loc.NormalizeDecimalSeparator(e.text), name);
    };
    // Fields are named in messages by their row caption (which follows the model) and column.
    auto lo = [&](const Edit& e, const Label& row) {
        return value(e, row.fieldName() + " Minimum");
    };
    auto hi = [&](const Edit& e, const Label& row) {
        return value(e, row.fieldName() + " Maximum");
    };
    const Extended wLo = value(wmin, "Gaussian width Min"), wHi = value(wmax, "Gaussian width Max");
    const Extended tauLo = lo(taui, Label3), tauHi = hi(tauf, Label3);
    const Extended roLo = lo(roi, Label4), roHi = hi(rof, Label4);
    const Extended s1Lo = lo(sigma1i, Label2), s1Hi = hi(sigma1f, Label2);
    const Extended s2Lo = lo(sigma2i, Label5), s2Hi = hi(sigma2f, Label5);
    // A minimum above its maximum is a typing slip, not a search range.
    const struct {
        std::string name;
        Extended low, high;
        const Edit &lowField, &highField;
    } ranges[] = {{Label3.fieldName(), tauLo, tauHi, taui, tauf},
                  {Label4.fieldName(), roLo, roHi, roi, rof},
                  {Label2.fieldName(), s1Lo, s1Hi, sigma1i, sigma1f},
                  {Label5.fieldName(), s2Lo, s2Hi, sigma2i, sigma2f},
                  {"Gaussian width", wLo, wHi, wmin, wmax}};
    for (const auto& r : ranges)
        if (r.low > r.high) {
            app_.showError(r.name + ": the minimum (" + r.lowField.text +
                           ") is larger than the maximum (" + r.highField.text + ").");
            return;
        }

    state.generator.seed(state.seedOverride ? *state.seedOverride
                                            : static_cast<std::uint32_t>(std::time(nullptr)));

    Edit* const limits[] = {&taui,    &tauf,     &maxmuttau,    &sigma1i,      &sigma2i,
                            &sigma1f, &sigma2f,  &maxmutsigma1, &maxmutsigma2, &roi,
                            &rof,     &maxmutro, &wmin,         &wmax,         &maxmutw};
    for (Edit* e : limits)
        e->text = loc.NormalizeDecimalSeparator(e->text);

    Tformrefine& progress = app_.formrefine();
    Edit* const copies[] = {&progress.taui,    &progress.tauf,         &progress.maxmuttau,
                            &progress.sigma1i, &progress.sigma2i,      &progress.sigma1f,
                            &progress.sigma2f, &progress.maxmutsigma1, &progress.maxmutsigma2,
                            &progress.roi,     &progress.rof,          &progress.maxmutro,
                            &progress.wmin,    &progress.wmax,         &progress.maxmutw};
    for (std::size_t i = 0; i < std::size(limits); ++i)
        copies[i]->text = limits[i]->text;

    for (int i = 0; i < n; ++i) {
        Candidate& row = state.population[i];
        row[kColW] = static_cast<float>(uniformDraw(state, wLo, wHi));
        row[kColTau] = static_cast<float>(uniformDraw(state, tauLo, tauHi));
        row[kColRo] = static_cast<float>(uniformDraw(state, roLo, roHi));
        row[kColSigma1] = static_cast<float>(uniformDraw(state, s1Lo, s1Hi));
        row[kColSigma2] = static_cast<float>(uniformDraw(state, s2Lo, s2Hi));
    }

    CurveStore& curves = app_.engine().curveStore;
    for (std::size_t i = 0; i < angles.size(); ++i)
        curves.measAngle[i] = angles[i];

    Tformdata& data = app_.formdata();
    // The angles are single-precision file numbers: shown with the digits they hold.
    const float first = angles.front();
    const float second = angles.size() > 1 ? angles[1] : first;
    data.thetai.text = loc.singleToText(first);
    data.thetaf.text = loc.singleToText(angles.back());
    data.step.text = loc.singleToText(second - first);
    data.thetai.enabled = false;
    data.thetaf.enabled = false;
    data.step.enabled = false;

    hide();
    data.show();
}

}  // namespace kelvarin
