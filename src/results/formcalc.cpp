#include "results/formcalc.hpp"

namespace kelvarin {

Tformcalc::Tformcalc(Application& app) : Window(app, "Rocking Curve Calculation") {}

}  // namespace kelvarin
