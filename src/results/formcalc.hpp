#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tformcalc : public Window {
public:
    explicit Tformcalc(Application& app);
};

}  // namespace kelvarin
