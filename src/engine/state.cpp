#include "engine/state.hpp"

#include <string>

#include "engine/engine_error.hpp"

namespace kelvarin {

void CurveStore::addCalculatedPoint(Extended angleArcsec, Extended reflectivity) {
    if (calcCount < 0 || calcCount >= kCurveCapacity) {
        throw EngineError("The computed curve is full: a scan may have at most " +
                          std::to_string(kCurveCapacity) + " points.");
    }
    calcAngle[calcCount] = angleArcsec;
    calcRaw[calcCount] = reflectivity;
    calcCurve[calcCount] = reflectivity;
    if (reflectivity > calcMax) calcMax = reflectivity;
    ++calcCount;
    calcComputed = calcCount;
}

}  // namespace kelvarin
