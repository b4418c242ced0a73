// The fuzz entry of the scan readers; it needs the engine only, so that it also builds on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelvarin::fuzz {

/// A scan file read as the scan command reads it: on its own, then as scan 1, then (plain text)
/// with a declared 2θ axis in degrees; each scan read is turned into a rocking curve with the
/// zero at the strongest peak, at a peak near a Bragg angle inside the scan and at that angle.
bool scanFile(std::string_view target, const std::uint8_t* data, std::size_t size);

}  // namespace kelvarin::fuzz
