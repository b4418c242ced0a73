#include "engine/state.hpp"
