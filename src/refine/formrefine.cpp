#include "refine/formrefine.hpp"

namespace kelvarin {

Tformrefine::Tformrefine(Application& app) : Window(app, "Refinement") {
    for (int c = 0; c < 6; ++c)
        StringGrid1.setCell(c, 0, kGridHeaders[c]);
}

}  // namespace kelvarin
