// The built-in catalogue of cubic sample crystals (diamond and zinc-blende structures): names,
// sites, lattice constants and the fractional atom positions of the two sublattices.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "engine/state.hpp"

namespace kelvarin {

/// One catalogue crystal. The lattice constant a = b = c is kept as the two texts the window
/// shows on either side of the decimal separator, so that the label reads back exactly.
struct CrystalEntry {
    std::string_view name;          ///< compound name: cation then anion ("GaAs"), or the element
    int atoms;                      ///< crystal type: 1 elemental, 2 two-element compound
    std::string_view site1;         ///< element of site 1 (the cation, or the element)
    std::string_view site2;         ///< element of site 2 (the anion, or the element again)
    std::string_view integerText;   ///< integer part of the lattice constant, Å
    std::string_view fractionText;  ///< fraction digits of the lattice constant

    /// The lattice constant as the window writes it, with `separator` as decimal separator.
    std::string latticeText(char separator) const;
    /// The lattice constant in Å.
    Extended latticeAngstrom() const;
};

inline constexpr int kCatalogueSize = 23;

/// The 23 crystals, elemental ones first.
const std::array<CrystalEntry, kCatalogueSize>& crystalCatalogue();

/// The crystal named exactly `name`, or nullptr.
const CrystalEntry* findCrystal(std::string_view name);

/// Fractional coordinates (x, y, z) of the four atoms of a sublattice of the cubic cell.
using SublatticePositions = std::array<std::array<Extended, 3>, 4>;

/// Site 1: the face-centred lattice at the origin.
inline constexpr SublatticePositions kSite1Positions{{
    {0.0L, 0.0L, 0.0L},
    {0.0L, 0.5L, 0.5L},
    {0.5L, 0.0L, 0.5L},
    {0.5L, 0.5L, 0.0L},
}};
/// Site 2: the same lattice shifted by a quarter of the body diagonal.
inline constexpr SublatticePositions kSite2Positions{{
    {0.25L, 0.25L, 0.25L},
    {0.25L, 0.75L, 0.75L},
    {0.75L, 0.25L, 0.75L},
    {0.75L, 0.75L, 0.25L},
}};

/// A fractional coordinate of the tables above as window text: "0" for zero, otherwise "0",
/// the separator and the digits ("0,25").
std::string positionText(Extended coordinate, char separator);

/// Whether the Data Entry "OK" writes the site-1 (resp. site-2) positions for a compound name.
/// Site 1 is named by the first two characters of the name, site 2 by the third and fourth; an
/// elemental crystal of C, Si, Ge or Sn gets both sublattices of the diamond structure.
bool writesSite1Positions(std::string_view compoundName);
bool writesSite2Positions(std::string_view compoundName);

}  // namespace kelvarin
