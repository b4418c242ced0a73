// Coefficient lookup by compound name and the six-term form factor.
#include "engine/scattering.hpp"

#include <cmath>
#include <string_view>

#include "engine/scattering_catalogue.hpp"

namespace kelvarin {

namespace {

/// Characters from the third on, at most two: the site-2 symbol of a compound name.
std::string_view anionPart(std::string_view name) {
    return name.size() > 2 ? name.substr(2, 2) : std::string_view{};
}

bool isOneOf(std::string_view text, std::initializer_list<std::string_view> options) {
    for (std::string_view o : options)
        if (text == o) return true;
    return false;
}

void fillSite(ScatteringTables& t, int site, const ElementScattering& e) {
    const int offset = site == 1 ? 0 : 6;
    for (int set = 0; set < 3; ++set) {
        for (int j = 0; j < 6; ++j) {
            t.table[offset + 1 + set][j + 1] = e.sets[set].a[j];
            t.table[offset + 4 + set][j + 1] = e.sets[set].b[j];
        }
        t.filled[offset + 1 + set] = true;
        t.filled[offset + 4 + set] = true;
    }
}

void fillSite(ScatteringTables& t, int site, std::string_view symbol) {
    if (const ElementScattering* e = findElement(symbol)) fillSite(t, site, *e);
}

}  // namespace

ScatteringTables scatteringTables(const std::string& compoundName) {
    ScatteringTables t;
    const std::string_view name = compoundName;
    const std::string_view first2 = name.substr(0, 2);
    // The rules are independent; each one that matches fills its site.
    if (isOneOf(first2, {"Zn", "Cd", "Al", "Ga", "In"})) fillSite(t, 1, first2);
    if (name == "SiC") {
        fillSite(t, 1, "Si");
        fillSite(t, 2, "C");
    }
    if (isOneOf(name, {"Si", "C", "Ge", "Sn"})) {
        fillSite(t, 1, name);
        fillSite(t, 2, name);
    }
    const std::string_view anion = anionPart(name);
    if (isOneOf(anion, {"N", "P", "As", "Sb", "S", "Se", "Te"})) fillSite(t, 2, anion);
    return t;
}

Extended scatteringCoefficient(const std::string& compoundName, int tableIndex, int termIndex) {
    if (tableIndex < 1 || tableIndex > 12)
        throw ScatteringError("Scattering coefficient table " + std::to_string(tableIndex) +
                              " does not exist (tables are 1 to 12)");
    if (termIndex < 1 || termIndex > 6)
        throw ScatteringError("Scattering coefficient term " + std::to_string(termIndex) +
                              " does not exist (terms are 1 to 6)");
    const ScatteringTables t = scatteringTables(compoundName);
    if (!t.filled[tableIndex]) {
        if (compoundName == "0" || compoundName.empty())
            throw ScatteringError("No crystal has been chosen: there are no scattering factors");
        const int site = tableIndex <= 6 ? 1 : 2;
        throw ScatteringError("No scattering-factor coefficients for site " + std::to_string(site) +
                              " of the crystal '" + compoundName +
                              "': it is not in the crystal catalogue");
    }
    return t.table[tableIndex][termIndex];
}

Extended formFactor(const CoefficientTable& a1, const CoefficientTable& a2,
                    const CoefficientTable& a3, const CoefficientTable& b1,
                    const CoefficientTable& b2, const CoefficientTable& b3, Extended s) {
    Extended sum = 0;
    for (int j = 1; j <= 6; ++j) {
        // Set 2 owns both boundaries, s = 2 and s = 4.
        if (s < 2) sum += a1[j] * std::exp(-b1[j] * s * s);
        if (s >= 2 && s <= 4) sum += a2[j] * std::exp(-b2[j] * s * s);
        if (s > 4) sum += a3[j] * std::exp(-b3[j] * s * s);
    }
    return sum;
}

Extended formFactor(const ScatteringTables& t, int site, Extended s) {
    if (site != 1 && site != 2)
        throw ScatteringError("Site " + std::to_string(site) + " does not exist (sites are 1, 2)");
    const int o = site == 1 ? 0 : 6;
    return formFactor(t.table[o + 1], t.table[o + 2], t.table[o + 3], t.table[o + 4],
                      t.table[o + 5], t.table[o + 6], s);
}

}  // namespace kelvarin
