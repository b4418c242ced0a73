#include "refine/refine_state.hpp"
