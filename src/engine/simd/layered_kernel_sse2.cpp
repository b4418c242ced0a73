// The angle loop for SSE2, the x86-64 baseline: two angles per vector.
#include "engine/simd/layered_kernel.hpp"

namespace kelvarin::simd {

void layeredKernelSse2(const LayeredJob& job, const LayeredChunk& chunk) {
    Lanes<xsimd::sse2>::run(job, chunk);
}

}  // namespace kelvarin::simd
