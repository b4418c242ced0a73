#include "refine/formrefinedata.hpp"

namespace kelvarin {

Tformrefinedata::Tformrefinedata(Application& app)
    : Window(app, "Evolutionary refinement of experimental data") {}

}  // namespace kelvarin
