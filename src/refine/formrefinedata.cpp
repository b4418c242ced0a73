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
    : Window(app, "Evolutionary refinement of experimental data") {}

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
    auto value = [&](const Edit& e, const char* name) {
        return loc.textToFloat(loc.NormalizeDecimalSeparator(e.text), name);
    };
    const Extended wLo = value(wmin, "wmin"), wHi = value(wmax, "wmax");
    const Extended tauLo = value(taui, "taui"), tauHi = value(tauf, "tauf");
    const Extended roLo = value(roi, "roi"), roHi = value(rof, "rof");
    const Extended s1Lo = value(sigma1i, "sigma1i"), s1Hi = value(sigma1f, "sigma1f");
    const Extended s2Lo = value(sigma2i, "sigma2i"), s2Hi = value(sigma2f, "sigma2f");

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
    const Extended first = angles.front();
    const Extended second = angles.size() > 1 ? static_cast<Extended>(angles[1]) : first;
    data.thetai.text = loc.floatToText(first);
    data.thetaf.text = loc.floatToText(static_cast<Extended>(angles.back()));
    data.step.text = loc.floatToText(second - first);
    data.thetai.enabled = false;
    data.thetaf.enabled = false;
    data.step.enabled = false;

    hide();
    data.show();
}

}  // namespace kelvarin
