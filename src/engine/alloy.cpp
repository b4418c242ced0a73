#include "engine/alloy.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "engine/element_data.hpp"
#include "engine/engine_error.hpp"

namespace kelvarin {

namespace {

constexpr double kTolerance = 1e-6;
/// Least filling of a site with vacancies (the anions of a doped oxide: O1.93 of 2).
constexpr double kLeastFilling = 0.9;

std::string quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

/// The sites of structure `kind` filled in order with `parts`; empty when they do not fit.
std::vector<std::vector<SiteSpecies>> fillSites(const std::vector<FormulaPart>& parts,
                                                const std::vector<double>& multiplicity) {
    std::vector<std::vector<SiteSpecies>> sites(multiplicity.size());
    std::vector<double> filled(multiplicity.size(), 0);
    std::size_t site = 0;
    for (const FormulaPart& p : parts) {
        if (site < sites.size() && filled[site] >= multiplicity[site] - kTolerance) ++site;
        if (site >= sites.size()) return {};
        if (filled[site] + p.amount > multiplicity[site] + kTolerance) return {};
        sites[site].push_back({p.element, p.amount / multiplicity[site]});
        filled[site] += p.amount;
    }
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const bool last = i + 1 == sites.size();
        const double f = filled[i] / multiplicity[i];
        if (sites[i].empty() || f > 1 + kTolerance) return {};
        if (f < 1 - kTolerance && !(last && f >= kLeastFilling)) return {};
    }
    return sites;
}

/// Vegard's law over every end member (one element per site), weighted by the product of the
/// site fractions (each site's fractions taken relative to its filling).
bool vegard(const CrystalStructure& s, const CrystalCatalogue& catalogue, LayerMaterial& out,
            std::string& missing) {
    const bool diamond = s.kind == "diamond";
    std::vector<std::size_t> pick(diamond ? 1 : s.sites.size(), 0);
    double a = 0, c11 = 0, c12 = 0;
    bool elastic = true;
    std::ostringstream how;
    while (true) {
        std::vector<std::string> elements;
        double w = 1;
        for (std::size_t i = 0; i < s.sites.size(); ++i) {
            // The diamond structure holds one mixture on both sites: its end members are the
            // elemental crystals.
            const std::size_t which = diamond ? pick[0] : pick[i];
            const SiteSpecies& sp = s.sites[i].species[which];
            elements.push_back(sp.element);
            if (!diamond || i == 0) w *= sp.fraction / s.sites[i].occupancy();
        }
        const CatalogueCrystal* end = catalogue.findByElements(elements);
        if (end == nullptr || end->structure.kind != s.kind) {
            missing.clear();
            for (const std::string& e : elements)
                missing += e;
            return false;
        }
        a += w * end->a;
        if (end->c11 && end->c12) {
            c11 += w * *end->c11;
            c12 += w * *end->c12;
        } else {
            elastic = false;
        }
        how << (how.tellp() > 0 ? ", " : "") << end->name << " " << w;
        std::size_t i = 0;
        while (i < pick.size() && ++pick[i] == s.sites[i].species.size())
            pick[i++] = 0;
        if (i == pick.size()) break;
    }
    out.a = a;
    if (elastic) {
        out.c11 = c11;
        out.c12 = c12;
    }
    out.how = "Vegard's law of " + how.str();
    return true;
}

}  // namespace

bool formulaHasComposition(std::string_view formula) {
    return formula.find('x') != std::string_view::npos;
}

std::vector<FormulaPart> parseFormula(std::string_view formula, std::optional<double> x) {
    std::vector<FormulaPart> parts;
    std::size_t i = 0;
    const auto bad = [&](const std::string& what) -> MaterialError {
        return MaterialError("The formula " + quoted(formula) + " " + what);
    };
    if (formula.empty()) throw bad("is empty");
    while (i < formula.size()) {
        if (!std::isupper(static_cast<unsigned char>(formula[i])))
            throw bad("has " + quoted(formula.substr(i, 1)) + " where an element symbol begins");
        std::size_t j = i + 1;
        while (j < formula.size() && std::islower(static_cast<unsigned char>(formula[j])) &&
               formula[j] != 'x')
            ++j;
        const std::string symbol(formula.substr(i, j - i));
        if (atomicNumber(symbol) == 0)
            throw bad("holds " + quoted(symbol) + ", which is not an element symbol (H to U)");
        double amount = 1;
        if (formula.compare(j, 3, "1-x") == 0 || (j < formula.size() && formula[j] == 'x')) {
            if (!x) throw bad("holds the composition x, and no value of x is given");
            const bool complement = formula[j] == '1';
            amount = complement ? 1 - *x : *x;
            j += complement ? 3 : 1;
        } else if (j < formula.size() &&
                   (std::isdigit(static_cast<unsigned char>(formula[j])) || formula[j] == '.')) {
            std::size_t k = j;
            while (k < formula.size() &&
                   (std::isdigit(static_cast<unsigned char>(formula[k])) || formula[k] == '.'))
                ++k;
            const std::string number(formula.substr(j, k - j));
            char* end = nullptr;
            amount = std::strtod(number.c_str(), &end);
            if (end != number.c_str() + number.size())
                throw bad("has the amount " + quoted(number));
            j = k;
        }
        if (!(amount >= 0) || !std::isfinite(amount))
            throw bad("gives " + symbol + " the amount " + engineNumber(amount));
        if (amount > 0) parts.push_back({symbol, amount});
        i = j;
    }
    return parts;
}

LayerMaterial resolveMaterial(std::string_view text, const CrystalCatalogue& catalogue,
                              std::optional<double> composition) {
    LayerMaterial m;
    m.name = std::string(text);
    if (const CatalogueCrystal* c = catalogue.find(text)) {
        m.structure = c->structure;
        m.a = c->a;
        m.c11 = c->c11;
        m.c12 = c->c12;
        m.how = "catalogue";
        return m;
    }
    if (composition && !(*composition >= 0 && *composition <= 1))
        throw MaterialError("The composition x = " + engineNumber(*composition) + " of " +
                            quoted(text) + " lies outside 0..1");
    const std::vector<FormulaPart> parts = parseFormula(text, composition);
    if (parts.empty()) throw MaterialError("The formula " + quoted(text) + " holds no atoms");
    // A formula that is a catalogue crystal's (YSZ written out) is that crystal.
    for (const CatalogueCrystal& c : catalogue.crystals()) {
        std::vector<FormulaPart> own;
        try {
            own = parseFormula(c.formula());
        } catch (const MaterialError&) {
            continue;
        }
        // Compared as sets of elements: a catalogue site lists its elements alphabetically.
        std::vector<FormulaPart> mine = parts;
        const auto byElement = [](const FormulaPart& x, const FormulaPart& y) {
            return x.element < y.element;
        };
        std::sort(own.begin(), own.end(), byElement);
        std::sort(mine.begin(), mine.end(), byElement);
        bool same = own.size() == mine.size();
        for (std::size_t i = 0; same && i < own.size(); ++i)
            same = own[i].element == mine[i].element &&
                   std::fabs(own[i].amount - mine[i].amount) < kTolerance;
        if (same) return resolveMaterial(c.name, catalogue);
    }
    double total = 0;
    for (const FormulaPart& p : parts)
        total += p.amount;
    std::string missing;
    // An alloy of elemental crystals of the diamond structure: the mixture on both sites.
    if (std::fabs(total - 1) < kTolerance) {
        std::vector<SiteSpecies> mix;
        for (const FormulaPart& p : parts)
            mix.push_back({p.element, p.amount});
        try {
            m.structure = makeStructure("diamond", {mix, mix});
            if (vegard(m.structure, catalogue, m, missing)) return m;
        } catch (const MaterialError&) {
        }
    }
    std::string tried;
    for (const std::string& kind : structureKinds()) {
        if (kind == "diamond") continue;
        const auto sites = fillSites(parts, siteMultiplicities(kind));
        if (sites.empty()) continue;
        try {
            m.structure = makeStructure(kind, sites);
        } catch (const MaterialError&) {
            continue;
        }
        if (vegard(m.structure, catalogue, m, missing)) return m;
        tried += (tried.empty() ? "" : "; ") + kind + " needs the end member " + missing;
    }
    if (!tried.empty())
        throw MaterialError("The alloy " + quoted(text) +
                            " has no end member in the crystal catalogue for Vegard's law (" +
                            tried + ")");
    throw MaterialError("The fractions of " + quoted(text) +
                        " do not fill the sites of any structure: each site's elements must add "
                        "up to its atoms per formula unit (\"Al0.8Ga0.2As\": 0.8 + 0.2 = 1)");
}

double layerStrain(const LayerMaterial& layer, double substrateA, double relaxation,
                   const std::string& name) {
    if (!(relaxation >= 0 && relaxation <= 1))
        throw MaterialError(name + ": the relaxation " + engineNumber(relaxation) +
                            " lies outside 0..1");
    if (!(layer.a > 0) || !(substrateA > 0))
        throw MaterialError(name + ": a lattice constant must be above 0 Å");
    const double aParallel = substrateA + relaxation * (layer.a - substrateA);
    if (relaxation == 1) return (layer.a - substrateA) / substrateA;
    if (!layer.c11 || !layer.c12)
        throw MaterialError(name + " (" + layer.name +
                            "): a strained layer needs the elastic constants C11 and C12 of its "
                            "crystal; give them in the crystal catalogue, or relaxation = 1");
    const double poisson = 2 * *layer.c12 / *layer.c11;
    const double aPerp = layer.a * (1 - poisson * (aParallel - layer.a) / layer.a);
    return (aPerp - substrateA) / substrateA;
}

}  // namespace kelvarin
