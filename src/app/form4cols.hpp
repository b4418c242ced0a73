#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tform4cols : public Window {
public:
    explicit Tform4cols(Application& app);
};

}  // namespace kelvarin
