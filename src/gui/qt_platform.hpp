// The platform services on Qt 6 widgets.
#pragma once

#include "app/platform.hpp"

namespace kelvarin::gui {

class QtPlatform : public Platform {
public:
    void showModal(Window& window) override;
    void showException(const std::exception& error) override;
    std::optional<std::string> chooseFile() override;
    void processMessages() override;
    void beep() override;
    void terminate() override;
};

}  // namespace kelvarin::gui
