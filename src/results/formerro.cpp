#include "results/formerro.hpp"

namespace kelvarin {

Tformerro::Tformerro(Application& app) : Window(app, "Error!") {}

void Tformerro::Button1Click() {
    Label1.caption = kDefaultMessage;
    hide();
}

}  // namespace kelvarin
