#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tformmain : public Window {
public:
    explicit Tformmain(Application& app);
};

}  // namespace kelvarin
