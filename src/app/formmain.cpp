#include "app/formmain.hpp"

namespace kelvarin {

Tformmain::Tformmain(Application& app) : Window(app, "Kelvarin") {}

}  // namespace kelvarin
