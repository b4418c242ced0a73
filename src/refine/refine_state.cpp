#include "refine/refine_state.hpp"

namespace kelvarin {

Extended uniformDraw(CRandom& generator, Extended a, Extended b) {
    const int r = generator.next() % 10000;
    return a + static_cast<Extended>(r) * (b - a) * 0.0001L;
}

bool parityDraw(CRandom& generator) {
    return generator.next() % 2 == 1;
}

}  // namespace kelvarin
