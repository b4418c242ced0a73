// The fast path of the layered rocking curve: the angle loop run on whole vectors of angles with
// the widest instruction set this machine offers, picked at run time.
#pragma once

#include "engine/layered.hpp"

namespace kelvarin {

/// Instruction sets the vectorised angle loop is compiled for.
enum class SimdLevel {
    Sse2,    ///< x86-64 baseline, 2 angles per vector
    Avx2,    ///< AVX2 with FMA, 4 angles per vector
    Avx512,  ///< AVX-512 foundation, 8 angles per vector
};

/// Whether this processor and operating system run `level`.
bool simdLevelAvailable(SimdLevel level);

/// The widest available level (looked up once).
SimdLevel bestSimdLevel();

/// "sse2", "avx2" or "avx512".
const char* simdLevelName(SimdLevel level);

/// The layered curve as layeredCurve computes it, with the vector kernel of `level` (which must
/// be available). The deviation parameters are linear in the scan index, their coefficients
/// worked out in extended precision; the steps are those of dynamicalStep and kinematicalStep in
/// double precision, with the kernel's own exponential, sine and cosine (errors below 5e-16).
/// Agrees with the reference path to |ΔR| ≤ 1e-9·R + 1e-13. Points the kernel cannot compute
/// safely (a vanishing square root or x, a divisor near the ends of the double range, a phase
/// beyond 8e5 radians with an attenuation that has not vanished) are recomputed with the
/// reference arithmetic, which also rejects a non-finite reflectivity as the reference does.
void layeredCurveFast(const EngineState& state, const LayeredConstants& constants,
                      ComputedCurve& out, SimdLevel level);

/// The same over any equally spaced scan with `theory`.
void layeredCurveFast(const LayeredConstants& constants, int theory, const ScanGrid& grid,
                      ComputedCurve& out, SimdLevel level);

}  // namespace kelvarin
