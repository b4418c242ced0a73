// Program-wide state of the evolutionary refinement: population, offspring and settings.
#pragma once

namespace kelvarin {

struct RefineState {};

}  // namespace kelvarin
