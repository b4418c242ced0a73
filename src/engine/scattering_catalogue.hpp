// The built-in per-element data behind the scattering-factor lookups: six-term coefficient sets
// for three ranges of s and the dispersion corrections at the six tube lines.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "engine/state.hpp"

namespace kelvarin {

/// f0(s) = sum of a[j] * exp(-b[j] * s^2): a in electrons, b in square ångström.
struct CoefficientSet {
    std::array<Extended, 6> a;
    std::array<Extended, 6> b;
};

/// f' and f'' (electrons) at one tube line.
struct DispersionPair {
    Extended fReal;
    Extended fImag;
};

struct ElementScattering {
    std::string_view symbol;
    int atomicNumber;
    /// Sets for s < 2, 2 <= s <= 4 and s > 4 (1/ångström).
    std::array<CoefficientSet, 3> sets;
    /// Tube lines Cr, Fe, Co, Ni, Cu, Mo K-alpha1 (radiation index 0..5).
    std::array<DispersionPair, 6> tube;
};

/// Every element with built-in data, S included.
std::span<const ElementScattering> scatteringCatalogue();

/// The element with this exact symbol ("Ga"), or nullptr.
const ElementScattering* findElement(std::string_view symbol);

}  // namespace kelvarin
