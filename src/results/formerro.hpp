// The "Error!" window: one word-wrapped message, shown modally.
#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tformerro : public Window {
public:
    static constexpr const char* kDefaultMessage = "New x range is outside the calculated interval";

    explicit Tformerro(Application& app);

    Label Label1{{}, kDefaultMessage, {}};
    Button Button1{{}, "OK"};

    std::string message() const override { return Label1.caption; }

    /// "OK": restores the default message and closes the modal window.
    void Button1Click();
};

}  // namespace kelvarin
