#include "refine/formrefine.hpp"

#include "app/application.hpp"
#include "refine/refine_state.hpp"

namespace kelvarin {

Tformrefine::Tformrefine(Application& app) : Window(app, "Refinement") {
    for (int c = 0; c < 6; ++c)
        StringGrid1.setCell(c, 0, kGridHeaders[c]);
}

void Tformrefine::showBest(const CandidateRow& genes) {
    const Locale& loc = app_.locale();
    Label14.caption = loc.singleToText(genes[kColTau]);
    Label15.caption = loc.singleToText(genes[kColRo]);
    Label16.caption = loc.singleToText(genes[kColSigma1]);
    Label17.caption = loc.singleToText(genes[kColSigma2]);
    Label18.caption = loc.singleToText(genes[kColW]);
}

void Tformrefine::clearResults() {
    Label5.caption = "-----";
    for (Label* best : {&Label14, &Label15, &Label16, &Label17, &Label18})
        best->caption = "---";
}

}  // namespace kelvarin
