// The one error type of the diffraction engine: a set-up, a scan or a candidate that the physics
// cannot evaluate. The message says what is wrong in words the user can act on.
#pragma once

#include <charconv>
#include <stdexcept>
#include <string>

namespace kelvarin {

/// Thrown instead of producing a NaN or an infinity in a curve, a scale factor or an error.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& message) : std::runtime_error(message) {}
};

/// One candidate's parameters (or the curve they give) cannot be scored: a zero width or
/// half-width, a strain that collapses the cell, a computed curve that cannot be scaled or whose
/// scaled intensities are not positive where counts were measured. The set-up itself is fine, so
/// a refinement can reject this candidate and go on.
class CandidateRejected : public EngineError {
public:
    using EngineError::EngineError;
};

/// A number for an engine message: general form, 8 significant digits, "." as decimal point.
inline std::string engineNumber(long double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                      std::chars_format::general, 8);
    return std::string(buffer, result.ptr);
}

}  // namespace kelvarin
