#include "engine/crystal_structure.hpp"

#include <cmath>

#include "engine/engine_error.hpp"

namespace kelvarin {

namespace {

using Position = std::array<double, 3>;

/// The face-centred lattice shifted by (dx, dy, dz).
std::vector<Position> fcc(double dx, double dy, double dz) {
    const std::array<Position, 4> base{{{0, 0, 0}, {0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}}};
    std::vector<Position> out;
    for (const Position& p : base)
        out.push_back(
            {std::fmod(p[0] + dx, 1.0), std::fmod(p[1] + dy, 1.0), std::fmod(p[2] + dz, 1.0)});
    return out;
}

struct Prototype {
    std::string_view kind;
    int formulaUnits;
    std::vector<std::vector<Position>> sites;
};

const std::vector<Prototype>& prototypes() {
    static const std::vector<Prototype> table = [] {
        std::vector<Position> anion = fcc(0.25, 0.25, 0.25);
        for (const Position& p : fcc(0.75, 0.75, 0.75))
            anion.push_back(p);
        return std::vector<Prototype>{
            // Two face-centred sublattices a quarter of the body diagonal apart; the diamond
            // structure has one element on both, counted per atom.
            {"diamond", 8, {fcc(0, 0, 0), fcc(0.25, 0.25, 0.25)}},
            {"zincblende", 4, {fcc(0, 0, 0), fcc(0.25, 0.25, 0.25)}},
            // Two face-centred sublattices half a cell edge apart.
            {"rocksalt", 4, {fcc(0, 0, 0), fcc(0.5, 0, 0)}},
            // Cations face-centred, anions on all eight tetrahedral holes.
            {"fluorite", 4, {fcc(0, 0, 0), anion}},
            // ABO3: A at the corner, B at the body centre, O at the face centres.
            {"perovskite",
             1,
             {{{0, 0, 0}}, {{0.5, 0.5, 0.5}}, {{0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5}}}},
        };
    }();
    return table;
}

const Prototype* findPrototype(std::string_view kind) {
    for (const Prototype& p : prototypes())
        if (p.kind == kind) return &p;
    return nullptr;
}

std::string kindList() {
    std::string names;
    for (const std::string& k : structureKinds())
        names += (names.empty() ? "" : ", ") + k;
    return names;
}

}  // namespace

double CrystalSite::occupancy() const {
    double sum = 0;
    for (const SiteSpecies& s : species)
        sum += s.fraction;
    return sum;
}

double CrystalStructure::atomsPerCell() const {
    double n = 0;
    for (const CrystalSite& s : sites)
        n += s.occupancy() * static_cast<double>(s.positions.size());
    return n;
}

const std::vector<std::string>& structureKinds() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const Prototype& p : prototypes())
            out.emplace_back(p.kind);
        return out;
    }();
    return names;
}

std::vector<double> siteMultiplicities(std::string_view kind) {
    const Prototype* p = findPrototype(kind);
    if (p == nullptr) return {};
    std::vector<double> out;
    for (const auto& site : p->sites)
        out.push_back(static_cast<double>(site.size()) / p->formulaUnits);
    return out;
}

CrystalStructure makeStructure(std::string_view kind,
                               const std::vector<std::vector<SiteSpecies>>& species) {
    const Prototype* p = findPrototype(kind);
    if (p == nullptr)
        throw MaterialError("the structure '" + std::string(kind) + "' is not known (" +
                            kindList() + ")");
    if (species.size() != p->sites.size())
        throw MaterialError("the " + std::string(kind) + " structure has " +
                            std::to_string(p->sites.size()) + " sites, not " +
                            std::to_string(species.size()));
    CrystalStructure s;
    s.kind = std::string(kind);
    s.formulaUnits = p->formulaUnits;
    for (std::size_t i = 0; i < species.size(); ++i) {
        CrystalSite site;
        site.species = species[i];
        site.positions = p->sites[i];
        const std::string which = "site " + std::to_string(i + 1) + " of the " + s.kind;
        if (site.species.empty()) throw MaterialError(which + " structure has no atoms");
        for (const SiteSpecies& sp : site.species)
            if (!(sp.fraction > 0 && sp.fraction <= 1))
                throw MaterialError(which + " structure holds " + sp.element +
                                    " with the fraction " + engineNumber(sp.fraction) +
                                    "; it must lie in (0, 1]");
        if (!(site.occupancy() <= 1 + 1e-9))
            throw MaterialError(which + " structure is filled " + engineNumber(site.occupancy()) +
                                " times; the fractions of its elements must add up to 1 at most");
        s.sites.push_back(std::move(site));
    }
    return s;
}

}  // namespace kelvarin
