// The angle loop for AVX2 with FMA: four angles per vector.
#include "engine/simd/layered_kernel.hpp"

namespace kelvarin::simd {

void layeredKernelAvx2(const LayeredJob& job, const LayeredChunk& chunk) {
    Lanes<xsimd::fma3<xsimd::avx2>>::run(job, chunk);
}

}  // namespace kelvarin::simd
