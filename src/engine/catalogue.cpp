#include "engine/catalogue.hpp"

#include <algorithm>

namespace kelvarin {

namespace {

// Lattice constants at room temperature, Å.
//
// Grey (alpha) tin: a = 6.4892 Å at 20 °C, J. Thewlis and A. R. Davey, "Thermal expansion of
// grey tin", Nature 174, 1011 (1954).
// Zinc-blende InN: a = 4.98 Å, I. Vurgaftman and J. R. Meyer, "Band parameters for
// nitrogen-containing semiconductors", J. Appl. Phys. 94, 3675 (2003), table of zinc-blende
// InN parameters.
constexpr std::array<CrystalEntry, kCatalogueSize> kCatalogue{{
    {"C", 1, "C", "C", "3", "5670"},       {"Si", 1, "Si", "Si", "5", "4309"},
    {"Ge", 1, "Ge", "Ge", "5", "6576"},    {"Sn", 1, "Sn", "Sn", "6", "4892"},
    {"SiC", 2, "Si", "C", "4", "3490"},    {"AlN", 2, "Al", "N", "4", "3650"},
    {"AlP", 2, "Al", "P", "5", "4510"},    {"AlAs", 2, "Al", "As", "5", "6616"},
    {"AlSb", 2, "Al", "Sb", "6", "1355"},  {"GaN", 2, "Ga", "N", "4", "3640"},
    {"GaP", 2, "Ga", "P", "5", "4505"},    {"GaAs", 2, "Ga", "As", "5", "6534"},
    {"GaSb", 2, "Ga", "Sb", "6", "0954"},  {"InN", 2, "In", "N", "4", "98"},
    {"InP", 2, "In", "P", "5", "86875"},   {"InAs", 2, "In", "As", "6", "05838"},
    {"InSb", 2, "In", "Sb", "6", "47877"}, {"ZnS", 2, "Zn", "S", "5", "4093"},
    {"ZnSe", 2, "Zn", "Se", "5", "6676"},  {"ZnTe", 2, "Zn", "Te", "6", "1010"},
    {"CdS", 2, "Cd", "S", "5", "8320"},    {"CdSe", 2, "Cd", "Se", "6", "0500"},
    {"CdTe", 2, "Cd", "Te", "6", "4770"},
}};

bool oneOf(std::string_view text, std::initializer_list<std::string_view> choices) {
    return std::find(choices.begin(), choices.end(), text) != choices.end();
}

}  // namespace

std::string CrystalEntry::latticeText(char separator) const {
    std::string text(integerText);
    text += separator;
    text += fractionText;
    return text;
}

Extended CrystalEntry::latticeAngstrom() const {
    Extended value = 0;
    for (char c : integerText)
        value = value * 10 + (c - '0');
    Extended scale = 1;
    for (char c : fractionText) {
        scale /= 10;
        value += scale * (c - '0');
    }
    return value;
}

const std::array<CrystalEntry, kCatalogueSize>& crystalCatalogue() {
    return kCatalogue;
}

const CrystalEntry* findCrystal(std::string_view name) {
    for (const auto& entry : kCatalogue)
        if (entry.name == name) return &entry;
    return nullptr;
}

std::string positionText(Extended coordinate, char separator) {
    const char* digits = nullptr;
    if (coordinate == 0.5L)
        digits = "5";
    else if (coordinate == 0.25L)
        digits = "25";
    else if (coordinate == 0.75L)
        digits = "75";
    if (digits == nullptr) return "0";
    std::string text = "0";
    text += separator;
    text += digits;
    return text;
}

bool writesSite1Positions(std::string_view compoundName) {
    const std::string_view first = compoundName.substr(0, 2);
    return oneOf(first, {"Al", "Ga", "In", "Zn", "Cd", "Sn", "Ge", "Si", "C"});
}

bool writesSite2Positions(std::string_view compoundName) {
    const std::string_view first = compoundName.substr(0, 2);
    const std::string_view second =
        compoundName.substr(std::min<std::size_t>(2, compoundName.size()), 2);
    return oneOf(second, {"N", "P", "Sb", "As", "S", "Se", "Te"}) ||
           oneOf(first, {"Sn", "Ge", "Si", "C"});
}

}  // namespace kelvarin
