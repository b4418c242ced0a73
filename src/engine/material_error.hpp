// A crystal, alloy or catalogue entry that cannot be used: an unknown element, occupancies that do
// not add up, a composition outside 0..1, a structure without atoms, a lattice constant at or
// below zero, elastic constants missing where a strain needs them.
#pragma once

#include <stdexcept>
#include <string>

namespace kelvarin {

/// The message names the entry (and the file and line where there is one) and what is wrong.
class MaterialError : public std::runtime_error {
public:
    explicit MaterialError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kelvarin
