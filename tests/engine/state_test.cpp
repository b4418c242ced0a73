#include "engine/state.hpp"

#include <gtest/gtest.h>

namespace kelvarin {

TEST(EngineState, CurveArraysHoldTheirCapacityAndStartEmpty) {
    EngineState s;
    EXPECT_EQ(s.curveStore.calcRaw.size(), static_cast<std::size_t>(kCurveCapacity));
    EXPECT_EQ(s.curveStore.calcCount, 0);
    EXPECT_EQ(s.curveStore.calcMax, 0);
}

}  // namespace kelvarin
