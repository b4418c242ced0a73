// libFuzzer driver: one executable per reader, chosen by KELVARIN_FUZZ_TARGET.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_entry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvarin::fuzz::runOne(KELVARIN_FUZZ_TARGET, data, size);
    return 0;
}
