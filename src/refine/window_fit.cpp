#include "refine/window_fit.hpp"

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "engine/engine_error.hpp"
#include "refine/formrefine.hpp"
#include "refine/refine_state.hpp"

namespace kelvarin {

WindowFit buildWindowFit(Application& app) {
    EngineState& engine = app.engine();
    const Tformrefine& f = app.formrefine();
    const Locale& loc = app.locale();
    auto field = [&](const Edit& edit, const char* name) {
        return loc.textToFloat(loc.NormalizeDecimalSeparator(edit.text), name);
    };
    // Every limit is read before anything is built: a typing error changes nothing.
    const Extended lo[kGeneCount] = {field(f.wmin, "width min."), field(f.taui, "tau min."),
                                     field(f.roi, "ro min."), field(f.sigma1i, "sigma1 min."),
                                     field(f.sigma2i, "sigma2 min.")};
    const Extended hi[kGeneCount] = {field(f.wmax, "width max."), field(f.tauf, "tau max."),
                                     field(f.rof, "ro max."), field(f.sigma1f, "sigma1 max."),
                                     field(f.sigma2f, "sigma2 max.")};
    const Extended step[kGeneCount] = {
        field(f.maxmutw, "width max. mutation"), field(f.maxmuttau, "tau max. mutation"),
        field(f.maxmutro, "ro max. mutation"), field(f.maxmutsigma1, "sigma1 max. mutation"),
        field(f.maxmutsigma2, "sigma2 max. mutation")};

    const fit::ProfileKind kind = engine.profileModel == kModelPearsonVII
                                      ? fit::ProfileKind::PearsonVII
                                      : fit::ProfileKind::TwoGauss;
    WindowFit out;
    out.problem = std::make_unique<fit::FitProblem>(fit::makeProfileModel(kind, engine.layerCount));
    fit::ParameterTable& table = out.problem->parameters();
    // The search keeps its own limits; the table takes the progress window's, unchecked, as the
    // windows accept any order of minimum and maximum.
    for (int i = 0; i < 4; ++i) {
        table[i].min = lo[i + 1];
        table[i].max = hi[i + 1];
        table[i].maxMutation = step[i + 1];
        table[i].value = lo[i + 1];
    }
    out.problem->addDataset(engine, {"width", "arcsec", lo[0], lo[0], hi[0], step[0], true},
                            app.formmain().file.text);
    for (int g = 0; g < kGeneCount; ++g) {
        out.options.lo.push_back(lo[g]);
        out.options.hi.push_back(hi[g]);
        out.options.maxMutation.push_back(step[g]);
    }
    return out;
}

}  // namespace kelvarin
