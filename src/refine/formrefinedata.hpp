#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tformrefinedata : public Window {
public:
    explicit Tformrefinedata(Application& app);
};

}  // namespace kelvarin
