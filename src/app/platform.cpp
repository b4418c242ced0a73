#include "app/platform.hpp"

#include "app/window.hpp"

namespace kelvarin {

void HeadlessPlatform::showModal(Window& window) {
    modalMessages.push_back(window.message());
    window.hide();  // a headless user dismisses it at once
}

void HeadlessPlatform::showException(const std::exception& error) {
    exceptionMessages.emplace_back(error.what());
}

std::optional<std::string> HeadlessPlatform::chooseFile() {
    if (fileChoices.empty()) return std::nullopt;
    auto choice = fileChoices.front();
    fileChoices.pop_front();
    return choice;
}

std::vector<std::string> HeadlessPlatform::allMessages() const {
    std::vector<std::string> all = modalMessages;
    all.insert(all.end(), exceptionMessages.begin(), exceptionMessages.end());
    return all;
}

void HeadlessPlatform::clearMessages() {
    modalMessages.clear();
    exceptionMessages.clear();
}

}  // namespace kelvarin
