#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tformrefine : public Window {
public:
    explicit Tformrefine(Application& app);
};

}  // namespace kelvarin
