#include "setup/formdata.hpp"

namespace kelvarin {

Tformdata::Tformdata(Application& app) : Window(app, "Data Entry") {}

}  // namespace kelvarin
