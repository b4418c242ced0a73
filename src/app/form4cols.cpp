#include "app/form4cols.hpp"

namespace kelvarin {

Tform4cols::Tform4cols(Application& app) : Window(app, "Four-Column Data File") {}

}  // namespace kelvarin
