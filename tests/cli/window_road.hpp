// Jobs driven through the windows by hand, independently of the command-line tool, as the
// reference its results are compared with.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "app/platform.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/formcalc.hpp"
#include "setup/formdata.hpp"

namespace kelvarin::cli::testing {

/// One application with a headless platform; every click must pass without a message.
struct WindowRoad {
    HeadlessPlatform platform;
    Application app{platform, Locale('.')};

    void click(const std::function<void()>& handler) {
        if (!app.dispatch(handler) || !platform.allMessages().empty())
            throw std::runtime_error("the windows said: " +
                                     (platform.allMessages().empty()
                                          ? std::string("(handler did not finish)")
                                          : platform.allMessages().front()));
    }

    /// GaAs 0 0 4 with Cu K-alpha1, chosen with the Ga and As buttons, then "OK".
    void gaAsDataEntry() {
        Tformdata& d = app.formdata();
        d.h.text = "0";
        d.k.text = "0";
        d.l.text = "4";
        d.radiacao.select(4);
        click([&] { d.radiacaoChange(); });
        click([&] { d.buttargetClick(); });
        d.tipo.itemIndex = 1;
        click([&] { d.Button1Click(); });
        click([&] { d.GaClick(); });
        click([&] { d.AsClick(); });
        click([&] { d.butOKClick(); });
    }

    /// Refinement job up to and including "Start": measured file `measured` (whole-second
    /// angles), `layers` lamellae, population `population`, generator seeded with `seed`.
    void refinementToStart(const std::string& measured, int theory, int population,
                           std::uint32_t seed) {
        Tformmain& m = app.formmain();
        m.RadioGroup1.itemIndex = 1;
        click([&] { m.RadioGroup1Click(); });
        m.theory.itemIndex = theory;
        m.file.text = measured;
        m.chkInteiro.checked = true;
        m.nlayers.text = "16";
        click([&] { m.butokClick(); });
        Tformrefinedata& s = app.formrefinedata();
        s.Edit1.text = std::to_string(population);
        app.refine().seedOverride = seed;
        click([&] { s.Button1Click(); });
        gaAsDataEntry();
        click([&] { app.formcalc().Button2Click(); });
    }

    /// Calculation job from a thickness/strain file up to and including "Start"; the instrument
    /// width is (8 + 9)/2.
    void calculationToStart(const std::string& profile, int first, int last, int step) {
        Tformmain& m = app.formmain();
        m.filetype.itemIndex = 1;
        click([&] { m.filetypeClick(); });
        m.file.text = profile;
        click([&] { m.butokClick(); });
        Tformdata& d = app.formdata();
        d.thetai.text = std::to_string(first);
        d.thetaf.text = std::to_string(last);
        d.step.text = std::to_string(step);
        Tformrefinedata& s = app.formrefinedata();
        s.wmin.text = "8";
        s.wmax.text = "9";
        gaAsDataEntry();
        click([&] { app.formcalc().Button2Click(); });
    }
};

}  // namespace kelvarin::cli::testing
