#include "refine/formrefine.hpp"

namespace kelvarin {

Tformrefine::Tformrefine(Application& app) : Window(app, "Refinement") {}

}  // namespace kelvarin
