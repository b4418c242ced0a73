// Scattering data of every element from hydrogen to uranium: the non-dispersive form factor
// f0(s) and the anomalous-dispersion corrections f', f'' at any wavelength. The elements of the
// built-in six-term tables keep those tables, their tube-line corrections and the shipped
// dispersion files; every other element and wavelength comes from the xraylib library.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "engine/material_error.hpp"
#include "engine/state.hpp"

namespace kelvarin {

/// Highest atomic number with element data (uranium).
inline constexpr int kMaxAtomicNumber = 92;

/// The atomic number of an element symbol ("Zr" → 40), or 0 for a text that names no element
/// from H to U. Letter case matters: "CO" is not cobalt.
int atomicNumber(std::string_view symbol);

/// The symbol of atomic number `z` (1..kMaxAtomicNumber), or "" outside.
std::string elementSymbol(int z);

/// f' and f'' of one element at one wavelength, electrons (f'' > 0: absorption).
struct AnomalousTerms {
    Extended fReal = 0;
    Extended fImag = 0;
};

/// The scattering of one element at one radiation, resolved once so that f0(s) is cheap.
class ResolvedElement {
public:
    /// `symbol` at radiation `radiationIndex` (0..5 the tube lines, 6 synchrotron at
    /// `lambda` Å). Throws MaterialError for an unknown element or a wavelength that is not a
    /// positive number, and DataFileError for a shipped dispersion file that is malformed.
    ResolvedElement(std::string_view symbol, int radiationIndex, Extended lambda);

    const std::string& symbol() const { return symbol_; }
    int atomicNumber() const { return z_; }
    /// f0 at s = sin θ / λ (1/Å), electrons.
    Extended formFactor(Extended s) const;
    const AnomalousTerms& anomalous() const { return anomalous_; }
    /// Where f0 and f', f'' came from, for listings: "built-in tables", "shipped dispersion
    /// file", "xraylib".
    const std::string& source() const { return source_; }

private:
    std::string symbol_;
    int z_ = 0;
    bool tables_ = false;                         ///< f0 from the built-in six-term sets
    std::array<std::array<Extended, 7>, 6> t_{};  ///< a1..a3, b1..b3 of those sets
    AnomalousTerms anomalous_;
    std::string source_;
};

/// Whether the shipped (or the user's) dispersion file of `symbol` covers wavelength `lambda`
/// (Å): false when the element has a file and the wavelength lies outside its rows, true
/// otherwise (no file: the caller's own rule applies). Throws DataFileError for a malformed file.
bool dispersionFileCovers(std::string_view symbol, Extended lambda);

/// The version of the xraylib library the program runs with ("4.0.0").
std::string xraylibVersion();

}  // namespace kelvarin
