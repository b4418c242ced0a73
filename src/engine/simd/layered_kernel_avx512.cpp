// The angle loop for AVX-512 (foundation): eight angles per vector.
#include "engine/simd/layered_kernel.hpp"

namespace kelvarin::simd {

void layeredKernelAvx512(const LayeredJob& job, const LayeredChunk& chunk) {
    Lanes<xsimd::avx512f>::run(job, chunk);
}

}  // namespace kelvarin::simd
