// The data the vectorised angle loop works on: per-slab coefficients that are linear in the scan
// index, and one chunk of consecutive scan points. Plain arrays only, so that the kernels, which
// are compiled once per instruction set, share no inline code with the rest of the program.
#pragma once

#include "engine/state.hpp"

namespace kelvarin::simd {

/// Scan points per kernel call; a multiple of the angles a kernel handles at once (up to 32).
inline constexpr int kChunkPoints = 512;

/// Slab s (0 = substrate, 1..lamellae in the order the amplitude crosses them) at scan index p:
///   x = (xr0 + p·xr1) + i·(xi0 + p·xi1)   the reduced deviation parameter,
///   T = tr + i·ti                         the thickness parameter (dynamical step),
///   x·T = (u0 + p·u1) + i·(v0 + p·v1)     (kinematical step); when v1 = 0 the attenuation
///                                          exp(2·Im(x·T)) of the slab is `attenuation`.
struct LayeredJob {
    int theory = 0;    ///< kTheoryDynamical, kTheoryKinematical; any other value: substrate only
    int lamellae = 0;  ///< lamellae crossed (those of zero thickness are left out)
    double xr0[kMaxLayers + 1] = {};
    double xr1[kMaxLayers + 1] = {};
    double xi0[kMaxLayers + 1] = {};
    double xi1[kMaxLayers + 1] = {};
    double tr[kMaxLayers + 1] = {};
    double ti[kMaxLayers + 1] = {};
    double u0[kMaxLayers + 1] = {};
    double u1[kMaxLayers + 1] = {};
    double v0[kMaxLayers + 1] = {};
    double v1[kMaxLayers + 1] = {};
    double attenuation[kMaxLayers + 1] = {};
};

/// One chunk: scan indices first, first + 1, … (count ≤ kChunkPoints). The kernel writes the
/// amplitude ratio of the whole crystal to re/im (kChunkPoints long) for whole groups of
/// vectors, so up to the next multiple of the group width. A point it cannot compute safely (a
/// zero square root, a divisor outside the safe range, a vanishing x in the kinematical step, a
/// phase beyond its sine and cosine) comes back as NaN for the caller to recompute on its own.
struct LayeredChunk {
    double first = 0;
    int count = 0;
    double* re = nullptr;
    double* im = nullptr;
};

using LayeredKernel = void (*)(const LayeredJob&, const LayeredChunk&);

void layeredKernelSse2(const LayeredJob& job, const LayeredChunk& chunk);
void layeredKernelAvx2(const LayeredJob& job, const LayeredChunk& chunk);
void layeredKernelAvx512(const LayeredJob& job, const LayeredChunk& chunk);

}  // namespace kelvarin::simd
