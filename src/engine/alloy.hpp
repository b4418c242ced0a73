// Layer materials: a catalogue crystal or an alloy formula ("Al0.8Ga0.2As", "GaAs1-xPx",
// "Si0.7Ge0.3", "Zr0.85Y0.15O1.93") turned into the site occupancies of its end members'
// structure, with the lattice constant and elastic constants of Vegard's law, and the strain of
// such a layer on a substrate.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/crystal_catalogue.hpp"

namespace kelvarin {

/// One element of a formula and its amount per formula unit.
struct FormulaPart {
    std::string element;
    double amount = 1;
};

/// Splits a formula into elements and amounts: "GaAs0.64P0.36" → Ga 1, As 0.64, P 0.36. An
/// amount may be written with the composition x as "x" or "1-x", which take the value
/// `composition`. Throws MaterialError naming the formula for a text that is not a formula, an
/// unknown element or an x without a composition.
std::vector<FormulaPart> parseFormula(std::string_view formula,
                                      std::optional<double> composition = std::nullopt);

/// Whether the formula holds the composition x ("GaAs1-xPx").
bool formulaHasComposition(std::string_view formula);

/// A layer's own crystal.
struct LayerMaterial {
    std::string name;  ///< as given: a catalogue name or the formula
    CrystalStructure structure;
    double a = 0;                    ///< relaxed lattice constant, Å
    std::optional<double> c11, c12;  ///< GPa
    std::string how;                 ///< "catalogue" or "Vegard's law of AlAs 0.8, GaAs 0.2"
};

/// The material `text` names: a crystal of `catalogue`, or an alloy of catalogue end members of
/// one structure whose site fractions the formula gives (x = `composition` where the formula has
/// one). Throws MaterialError naming the text for an unknown element, a composition outside
/// 0..1, fractions that do not fill the sites of a structure, and end members that are missing.
LayerMaterial resolveMaterial(std::string_view text, const CrystalCatalogue& catalogue,
                              std::optional<double> composition = std::nullopt);

/// Perpendicular strain of a cubic (001) layer relative to the substrate, as the lamellae take
/// it: (a⊥ − a_s)/a_s. The layer's in-plane constant lies between the substrate's (relaxation
/// R = 0, pseudomorphic) and its own (R = 1): a∥ = a_s + R·(a_L − a_s); the tetragonal
/// distortion of a cubic crystal under biaxial stress gives a⊥ = a_L·(1 − 2·C12/C11·(a∥ −
/// a_L)/a_L). For R = 0: ε = (a_L − a_s)/a_s·(1 + 2·C12/C11). Throws MaterialError naming `name`
/// when C11 or C12 is missing and R < 1 needs them, or R lies outside 0..1.
double layerStrain(const LayerMaterial& layer, double substrateA, double relaxation,
                   const std::string& name);

}  // namespace kelvarin
