// Program-wide values of the diffraction engine, kept in one explicit object owned by the
// application (one per running program; tests make as many as they like).
#pragma once

#include <array>
#include <vector>

namespace kelvarin {

using Extended = long double;

/// Capacity of every curve array, in points.
inline constexpr int kCurveCapacity = 40000;

/// Measured and computed curves with their counters and the scan (seconds of arc).
struct CurveStore {
    std::vector<Extended> measAngle = std::vector<Extended>(kCurveCapacity);
    std::vector<Extended> measIntensity = std::vector<Extended>(kCurveCapacity);
    std::vector<Extended> calcAngle = std::vector<Extended>(kCurveCapacity);
    std::vector<Extended> calcRaw = std::vector<Extended>(kCurveCapacity);
    std::vector<Extended> calcCurve = std::vector<Extended>(kCurveCapacity);
    int measLast = 0;      ///< index of the last measured point in use
    Extended measMax = 0;  ///< largest measured intensity of the last read
    int calcCount = 0;     ///< computed points stored
    Extended calcMax = 0;  ///< running maximum of every reflectivity computed; never reset
    int scanStart = 0;
    int scanEnd = 0;
    int scanStep = 1;
};

/// Slots: 4 wavelength (Å), 5/6 f', f'' of site 1, 7/8 f', f'' of site 2, 9 measMax.
using RadiationRecord = std::array<Extended, 11>;

struct EngineState {
    CurveStore curveStore;
    RadiationRecord radiationRecord{};
};

}  // namespace kelvarin
