#include "engine/crystal_catalogue.hpp"

#include <toml++/toml.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/catalogue.hpp"
#include "engine/element_data.hpp"
#include "engine/engine_error.hpp"

namespace kelvarin {

namespace {

constexpr std::uintmax_t kMaxCatalogueBytes = 4u << 20;

std::string lineOf(const toml::node& n) {
    return n.source().begin.line > 0 ? ", line " + std::to_string(n.source().begin.line) : "";
}

/// An entry's problem: the message of MaterialError with file, line and entry in front.
[[noreturn]] void fail(const std::string& where, const toml::node& n, const std::string& what) {
    throw MaterialError(where + lineOf(n) + ": " + what);
}

double positiveNumber(const toml::node& n, const std::string& where, const std::string& key,
                      const std::string& unit) {
    const std::optional<double> v = n.value<double>();
    if (!v || !n.is_number()) fail(where, n, "'" + key + "' must be a number");
    if (!(*v > 0) || !std::isfinite(*v))
        fail(where, n, "'" + key + "' is " + engineNumber(*v) + "; it must be above 0 " + unit);
    return *v;
}

std::string text(const toml::node& n, const std::string& where, const std::string& key) {
    if (!n.is_string()) fail(where, n, "'" + key + "' must be a text");
    return *n.value<std::string>();
}

/// One site: "Ga", or { Zr = 0.85, Y = 0.15 }.
std::vector<SiteSpecies> site(const toml::node& n, const std::string& where) {
    std::vector<SiteSpecies> out;
    if (n.is_string()) {
        out.push_back({*n.value<std::string>(), 1.0});
    } else if (const toml::table* t = n.as_table()) {
        for (auto&& [k, v] : *t) {
            const std::optional<double> f = v.value<double>();
            if (!f || !v.is_number())
                fail(where, v, "the fraction of " + std::string(k.str()) + " must be a number");
            out.push_back({std::string(k.str()), *f});
        }
    } else {
        fail(where, n,
             "a site is an element (\"Ga\") or a table of fractions ({ Zr = 0.85, Y = 0.15 })");
    }
    for (const SiteSpecies& s : out)
        if (atomicNumber(s.element) == 0)
            fail(where, n, "'" + s.element + "' is not an element symbol (H to U)");
    return out;
}

void applyEntry(const toml::table& t, const std::string& where, CatalogueCrystal& c, bool isNew) {
    std::string structure = c.structure.kind;
    std::vector<std::vector<SiteSpecies>> sites;
    for (const CrystalSite& s : c.structure.sites)
        sites.push_back(s.species);
    std::vector<double> b;
    for (const CrystalSite& s : c.structure.sites)
        b.push_back(s.debyeWallerB);
    bool structureGiven = false;
    for (auto&& [k, v] : t) {
        const std::string key(k.str());
        if (key == "name") {
            continue;
        } else if (key == "structure") {
            structure = text(v, where, key);
            structureGiven = true;
        } else if (key == "sites") {
            const toml::array* a = v.as_array();
            if (a == nullptr) fail(where, v, "'sites' must be a list of sites");
            sites.clear();
            for (const toml::node& s : *a)
                sites.push_back(site(s, where));
            structureGiven = true;
        } else if (key == "a") {
            c.a = positiveNumber(v, where, key, "Å");
        } else if (key == "a_source") {
            c.aSource = text(v, where, key);
        } else if (key == "c11") {
            c.c11 = positiveNumber(v, where, key, "GPa");
        } else if (key == "c12") {
            c.c12 = positiveNumber(v, where, key, "GPa");
        } else if (key == "elastic_source") {
            c.elasticSource = text(v, where, key);
        } else if (key == "b") {
            const toml::array* a = v.as_array();
            if (a == nullptr) fail(where, v, "'b' must list one Debye–Waller B (Å²) per site");
            b.clear();
            for (const toml::node& x : *a) {
                const std::optional<double> bv = x.value<double>();
                if (!bv || !(*bv >= 0) || !std::isfinite(*bv))
                    fail(where, x, "a Debye–Waller B must be a number of 0 Å² or more");
                b.push_back(*bv);
            }
            structureGiven = true;
        } else {
            fail(where, v,
                 "'" + key +
                     "' is not known (name, structure, sites, a, a_source, c11, c12, "
                     "elastic_source, b)");
        }
    }
    if (isNew && !t.get("a")) fail(where, t, "a new crystal needs its lattice constant 'a' (Å)");
    if (isNew && (!t.get("structure") || !t.get("sites")))
        fail(where, t, "a new crystal needs its 'structure' and its 'sites'");
    if (structureGiven) {
        try {
            c.structure = makeStructure(structure, sites);
        } catch (const MaterialError& e) {
            fail(where, t, e.what());
        }
        if (!b.empty()) {
            if (b.size() != c.structure.sites.size())
                fail(where, t,
                     "'b' must list one value per site (" +
                         std::to_string(c.structure.sites.size()) + ")");
            for (std::size_t i = 0; i < b.size(); ++i)
                c.structure.sites[i].debyeWallerB = b[i];
        }
    }
}

std::string fraction(double f) {
    if (std::fabs(f - 1) < 1e-12) return "";
    std::ostringstream out;
    out << f;
    return out.str();
}

}  // namespace

std::string CatalogueCrystal::formula() const {
    const std::vector<double> multiplicity = siteMultiplicities(structure.kind);
    std::string out;
    for (std::size_t i = 0; i < structure.sites.size(); ++i) {
        // The diamond structure holds one element (or alloy) on both sites: name it once.
        if (structure.kind == "diamond" && i > 0) break;
        const double m =
            structure.kind == "diamond" ? 1.0 : (i < multiplicity.size() ? multiplicity[i] : 1.0);
        for (const SiteSpecies& s : structure.sites[i].species)
            out += s.element + fraction(s.fraction * m);
    }
    return out;
}

int CrystalCatalogue::addText(const std::string& text, const std::string& name,
                              std::vector<std::string>& problems) {
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error& e) {
        problems.push_back(name + ", line " + std::to_string(e.source().begin.line) + ": " +
                           std::string(e.description()) + " (no crystal of this file was taken)");
        return 0;
    }
    int taken = 0;
    for (auto&& [k, v] : root) {
        if (k.str() != "crystal" || !v.is_array_of_tables()) {
            problems.push_back(name + lineOf(v) + ": '" + std::string(k.str()) +
                               "' is not known (crystals are [[crystal]] tables)");
            continue;
        }
        for (const toml::node& item : *v.as_array()) {
            const toml::table& t = *item.as_table();
            const toml::node* nameNode = t.get("name");
            if (nameNode == nullptr || !nameNode->is_string() ||
                nameNode->value<std::string>()->empty()) {
                problems.push_back(name + lineOf(item) + ": a [[crystal]] needs a 'name'");
                continue;
            }
            const std::string crystal = *nameNode->value<std::string>();
            const std::string where = name + ", crystal '" + crystal + "'";
            CatalogueCrystal* existing = nullptr;
            for (CatalogueCrystal& c : crystals_)
                if (c.name == crystal) existing = &c;
            CatalogueCrystal entry = existing != nullptr ? *existing : CatalogueCrystal{};
            entry.name = crystal;
            try {
                applyEntry(t, where, entry, existing == nullptr);
            } catch (const MaterialError& e) {
                problems.push_back(std::string(e.what()) + " (the entry was left out)");
                continue;
            }
            entry.origin = name + lineOf(item);
            if (existing != nullptr)
                *existing = std::move(entry);
            else
                crystals_.push_back(std::move(entry));
            ++taken;
        }
    }
    return taken;
}

int CrystalCatalogue::addFile(const std::string& path, std::vector<std::string>& problems) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        problems.push_back("crystal catalogue '" + path + "' does not exist or is not a file");
        return 0;
    }
    if (std::filesystem::file_size(path, ec) > kMaxCatalogueBytes) {
        problems.push_back("crystal catalogue '" + path + "' is larger than 4 MiB");
        return 0;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problems.push_back("crystal catalogue '" + path + "' cannot be opened");
        return 0;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return addText(text.str(), path, problems);
}

const CatalogueCrystal* CrystalCatalogue::find(std::string_view name) const {
    for (const CatalogueCrystal& c : crystals_)
        if (c.name == name) return &c;
    return nullptr;
}

const CatalogueCrystal* CrystalCatalogue::findByElements(
    const std::vector<std::string>& siteElements) const {
    for (const CatalogueCrystal& c : crystals_) {
        const auto& sites = c.structure.sites;
        if (sites.size() != siteElements.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < sites.size() && same; ++i)
            same = sites[i].species.size() == 1 && sites[i].species[0].element == siteElements[i] &&
                   sites[i].species[0].fraction == 1;
        if (same) return &c;
    }
    return nullptr;
}

CrystalCatalogue CrystalCatalogue::load(const std::string& shipped, const std::string& user) {
    CrystalCatalogue c;
    // The windows' crystals first, so that a data folder without the file still knows them; the
    // file then gives their literature values and sources, and the other crystals.
    for (const CrystalEntry& e : crystalCatalogue()) {
        CatalogueCrystal w;
        w.name = std::string(e.name);
        const std::string kind = e.atoms == 1 ? "diamond" : "zincblende";
        w.structure =
            makeStructure(kind, {{{std::string(e.site1), 1}}, {{std::string(e.site2), 1}}});
        w.a = static_cast<double>(e.latticeAngstrom());
        w.aSource = "the windows' catalogue";
        w.origin = "built in";
        c.crystals_.push_back(std::move(w));
    }
    c.addFile(shipped, c.warnings_);
    std::error_code ec;
    if (!user.empty() && std::filesystem::exists(user, ec)) c.addFile(user, c.warnings_);
    return c;
}

const CrystalCatalogue& CrystalCatalogue::standard() {
    static const CrystalCatalogue catalogue = load(shippedCatalogueFile(), userCatalogueFile());
    return catalogue;
}

std::string shippedCatalogueFile() {
    const char* env = std::getenv("KELVARIN_DATA_DIR");
    if (env != nullptr && *env != '\0')
        return (std::filesystem::path(env) / "crystals.toml").string();
#ifdef KELVARIN_DATA_DIR
    return (std::filesystem::path(KELVARIN_DATA_DIR) / "crystals.toml").string();
#else
    return "crystals.toml";
#endif
}

std::string userCatalogueFile() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg != '\0')
        return (std::filesystem::path(xdg) / "kelvarin" / "crystals.toml").string();
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return (std::filesystem::path(home) / ".config" / "kelvarin" / "crystals.toml").string();
    return {};
}

}  // namespace kelvarin
