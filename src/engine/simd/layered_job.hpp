// The data the vectorised angle loop works on: per-slab coefficients that are linear in the scan
// index, and one chunk of consecutive scan points. Plain arrays only, so that the kernels, which
// are compiled once per instruction set, share no inline code with the rest of the program.
#pragma once

#include <vector>

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
    Theory theory = Theory::Dynamical;  ///< any value other than the two theories: substrate only
    int lamellae = 0;                   ///< lamellae crossed (those of zero thickness are left out)
    std::vector<double> xr0, xr1, xi0, xi1, tr, ti, u0, u1, v0, v1, attenuation;

    /// The full calculation instead: x and T of each slab from its exact wave vectors at the
    /// incidence angle of each point (see FullSlabConstants), with the polarisation factor C
    /// already applied: scale = 1/(2·C·Γ|F′|), thick = π·t·C·Γ|F′|/λ, damping = 1/(1 + κ²).
    bool full = false;
    std::vector<double> hx, hz, hh, chi0r, chi0i, scale, kappa, damping, thick;

    /// Makes room for `slabs` slabs (substrate included); keeps the storage it already has.
    void reserveSlabs(int slabs) {
        const auto n = static_cast<std::size_t>(slabs);
        if (xr0.size() >= n) return;
        for (std::vector<double>* v :
             {&xr0,         &xr1, &xi0, &xi1, &tr,    &ti,    &u0,    &u1,    &v0,      &v1,
              &attenuation, &hx,  &hz,  &hh,  &chi0r, &chi0i, &scale, &kappa, &damping, &thick})
            v->resize(n, 0.0);
    }
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
    /// Full calculation: cos ω and sin ω of the chunk's points (kChunkPoints long, the points
    /// past `count` any finite value) and room for one number per point.
    const double* cosOmega = nullptr;
    const double* sinOmega = nullptr;
    double* scratch = nullptr;
};

using LayeredKernel = void (*)(const LayeredJob&, const LayeredChunk&);

void layeredKernelSse2(const LayeredJob& job, const LayeredChunk& chunk);
void layeredKernelAvx2(const LayeredJob& job, const LayeredChunk& chunk);
void layeredKernelAvx512(const LayeredJob& job, const LayeredChunk& chunk);

}  // namespace kelvarin::simd
