#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tformdata : public Window {
public:
    explicit Tformdata(Application& app);
};

}  // namespace kelvarin
