// Cubic crystal structures as data: a list of sites, each with its atoms' fractional positions in
// the conventional cell, the elements that share it and a Debye–Waller factor, and the generic
// structure factor of such a list.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "engine/material_error.hpp"

namespace kelvarin {

/// One element on a site and the fraction of the site's positions it fills.
struct SiteSpecies {
    std::string element;
    double fraction = 1;
};

/// A crystallographic site: equivalent positions that the same mixture of elements occupies.
struct CrystalSite {
    std::vector<SiteSpecies> species;              ///< fractions add up to the occupancy (≤ 1)
    std::vector<std::array<double, 3>> positions;  ///< fractional coordinates x, y, z
    double debyeWallerB = 0;  ///< thermal B, Å²: every atom scatters exp(−B·s²) times f

    double occupancy() const;
};

/// A cubic structure: its name, its sites and the formula units of the conventional cell.
struct CrystalStructure {
    std::string kind;  ///< "diamond", "zincblende", "rocksalt", "fluorite", "perovskite"
    std::vector<CrystalSite> sites;
    int formulaUnits = 1;

    /// Number of atoms of the conventional cell, weighted by occupancy.
    double atomsPerCell() const;
};

/// The structures the catalogue knows, in the order of their names.
const std::vector<std::string>& structureKinds();

/// The number of distinct sites of structure `kind` (diamond 1 element on 2 sites counts as 2),
/// and how many atoms per formula unit each site holds (fluorite: cation 1, anion 2).
std::vector<double> siteMultiplicities(std::string_view kind);

/// Structure `kind` with `species[i]` on its site i. Throws MaterialError for an unknown kind, a
/// number of sites that does not match the kind, a site without elements or occupancies outside
/// (0, 1].
CrystalStructure makeStructure(std::string_view kind,
                               const std::vector<std::vector<SiteSpecies>>& species);

}  // namespace kelvarin
