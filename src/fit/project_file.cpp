#include "fit/project_file.hpp"

#include <toml++/toml.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/alloy.hpp"
#include "engine/catalogue.hpp"
#include "engine/engine_error.hpp"
#include "engine/io/scan.hpp"
#include "engine/measured_curve.hpp"
#include "engine/numio.hpp"
#include "engine/scattering.hpp"

namespace kelvarin::fit {

namespace {

constexpr std::uintmax_t kMaxProjectBytes = 1u << 20;

/// Looks every key up through one place, so that a message names file, line and key and keys
/// nobody asked for can be refused afterwards.
class Reader {
public:
    explicit Reader(std::string name) : name_(std::move(name)) {}

    [[noreturn]] void fail(const std::string& key, const toml::node* node,
                           const std::string& what) const {
        std::string where = name_;
        if (node != nullptr && node->source().begin.line > 0)
            where += ", line " + std::to_string(node->source().begin.line);
        throw ProjectError(where + ": key '" + key + "' " + what);
    }

    const toml::node* get(const toml::table& t, const std::string& prefix, const char* key) {
        used_.insert(prefix + key);
        return t.get(key);
    }

    double number(const toml::node& n, const std::string& key) {
        if (auto v = n.value<double>(); v && n.is_number()) {
            if (!std::isfinite(*v)) fail(key, &n, "must be a finite number");
            return *v;
        }
        fail(key, &n, "must be a number");
    }
    std::int64_t integer(const toml::node& n, const std::string& key, std::int64_t lo,
                         std::int64_t hi) {
        if (!n.is_integer()) fail(key, &n, "must be a whole number");
        const std::int64_t v = *n.value<std::int64_t>();
        if (v < lo || v > hi)
            fail(key, &n, "must lie between " + std::to_string(lo) + " and " + std::to_string(hi));
        return v;
    }
    std::string text(const toml::node& n, const std::string& key) {
        if (!n.is_string()) fail(key, &n, "must be a string");
        return *n.value<std::string>();
    }
    bool boolean(const toml::node& n, const std::string& key) {
        if (!n.is_boolean()) fail(key, &n, "must be true or false");
        return *n.value<bool>();
    }

    /// A parameter: a number (fixed) or { value, min, max, max_mutation, fixed }.
    Parameter parameter(const toml::node& n, const std::string& key, Parameter p) {
        if (n.is_number()) {
            p.value = number(n, key);
            p.min = p.max = p.value;
            p.free = false;
            return p;
        }
        if (!n.is_table()) fail(key, &n, "must be a number or a table { value, min, max }");
        const toml::table& t = *n.as_table();
        for (auto&& [k, v] : t) {
            const std::string sub(k.str());
            if (sub != "value" && sub != "min" && sub != "max" && sub != "max_mutation" &&
                sub != "fixed")
                fail(key + "." + sub, &v, "is not known (value, min, max, max_mutation, fixed)");
        }
        if (const auto* v = t.get("value")) p.value = number(*v, key + ".value");
        if (const auto* v = t.get("min")) p.min = number(*v, key + ".min");
        if (const auto* v = t.get("max")) p.max = number(*v, key + ".max");
        if (const auto* v = t.get("max_mutation"))
            p.maxMutation = number(*v, key + ".max_mutation");
        else
            p.maxMutation = (p.max - p.min) / 10;
        p.free = true;
        if (const auto* v = t.get("fixed")) p.free = !boolean(*v, key + ".fixed");
        if (!t.get("value")) p.value = (p.min + p.max) / 2;
        if (p.free && !(p.min < p.max)) fail(key, &n, "must have its minimum below its maximum");
        if (p.free && (p.value < p.min || p.value > p.max))
            fail(key, &n, "has its value outside its limits");
        if (p.maxMutation < 0) fail(key, &n, "must have a max_mutation of 0 or more");
        return p;
    }

    /// Refuses every key of `t` (under `prefix`) that was not asked for.
    void refuseUnknown(const toml::table& t, const std::string& prefix) {
        for (auto&& [k, v] : t) {
            const std::string key = prefix + std::string(k.str());
            if (!used_.count(key)) fail(key, &v, "is not known");
        }
    }

private:
    std::string name_;
    std::set<std::string> used_;
};

Scaling scalingNamed(Reader& r, const toml::node& n, const std::string& key) {
    const std::string s = r.text(n, key);
    if (s == "match-top") return Scaling::MatchTop;
    if (s == "lsm-fixed-background") return Scaling::FixedBackground;
    if (s == "lsm-scale-and-background") return Scaling::FitBackground;
    r.fail(key, &n,
           "must be \"match-top\", \"lsm-fixed-background\" or \"lsm-scale-and-background\"");
}

const char* scalingName(Scaling s) {
    switch (s) {
        case Scaling::MatchTop:
            return "match-top";
        case Scaling::FixedBackground:
            return "lsm-fixed-background";
        case Scaling::FitBackground:
            break;
    }
    return "lsm-scale-and-background";
}

void readSample(Reader& r, const toml::table& root, Project& p) {
    const toml::node* node = r.get(root, "", "sample");
    if (node == nullptr) return;
    if (!node->is_table()) r.fail("sample", node, "must be a table");
    const toml::table& t = *node->as_table();
    if (const auto* v = r.get(t, "sample.", "crystals")) {
        p.crystalsFile = r.text(*v, "sample.crystals");
        if (p.crystalsFile.empty()) r.fail("sample.crystals", v, "must name a file");
    }
    p.catalogue = projectCatalogue(p.path, p.crystalsFile);
    if (const auto* v = r.get(t, "sample.", "substrate")) {
        p.substrate = r.text(*v, "sample.substrate");
        if (p.catalogue->find(p.substrate) == nullptr)
            r.fail("sample.substrate", v,
                   "names no crystal of the catalogue (kelvarin-cli crystals lists them)");
    }
    if (const auto* v = r.get(t, "sample.", "layer")) {
        if (!v->is_array_of_tables()) r.fail("sample.layer", v, "must be [[sample.layer]] tables");
        for (const toml::node& item : *v->as_array()) {
            const toml::table& lt = *item.as_table();
            Lamella l;
            LayerMaterialSpec m;
            const toml::node* relaxation = nullptr;
            for (auto&& [k, val] : lt) {
                const std::string key = "sample.layer." + std::string(k.str());
                const std::string name(k.str());
                if (name == "thickness") {
                    l.thicknessAngstrom = r.number(val, key);
                    if (!(l.thicknessAngstrom >= 0)) r.fail(key, &val, "must be 0 Å or more");
                } else if (name == "strain") {
                    l.strain = r.number(val, key) / 100;
                    if (!(l.strain > -1)) r.fail(key, &val, "must lie above -100 %");
                } else if (name == "damage") {
                    l.damage = r.number(val, key);
                    if (!(l.damage > 0 && l.damage <= 1)) r.fail(key, &val, "must lie in (0, 1]");
                } else if (name == "material") {
                    m.material = r.text(val, key);
                    if (m.material.empty()) r.fail(key, &val, "must name a crystal or a formula");
                } else if (name == "relaxation") {
                    relaxation = &val;
                    m.relaxation = r.number(val, key);
                    if (!(m.relaxation >= 0 && m.relaxation <= 1))
                        r.fail(key, &val, "must lie between 0 (pseudomorphic) and 1 (relaxed)");
                } else if (name == "x") {
                    m.x = r.parameter(val, key, Parameter{"x", "", 0.5L, 0, 1, 0.05L, false});
                    const Parameter& x = *m.x;
                    if (!((x.free ? x.min : x.value) >= 0 && (x.free ? x.max : x.value) <= 1))
                        r.fail(key, &val, "must lie between 0 and 1");
                } else {
                    r.fail(key, &val,
                           "is not known (thickness, strain, damage, material, relaxation, x)");
                }
            }
            if (lt.get("thickness")) p.layersGiveSample = true;
            m.strainGiven = lt.get("strain") != nullptr;
            const std::string where = "sample.layer";
            if (m.material.empty() && (relaxation || m.x))
                r.fail(where, &item, "gives 'relaxation' or 'x' without a 'material'");
            if (relaxation && m.strainGiven)
                r.fail("sample.layer.relaxation", relaxation,
                       "cannot stand beside 'strain' (the strain is given, or it follows from the "
                       "crystal and its relaxation)");
            if (!m.material.empty()) {
                try {
                    const std::optional<double> x =
                        m.x ? std::optional<double>(static_cast<double>(m.x->value)) : std::nullopt;
                    if (m.x && (!formulaHasComposition(m.material) ||
                                p.catalogue->find(m.material) != nullptr))
                        r.fail("sample.layer.x", lt.get("x"),
                               "has no composition to set: '" + m.material +
                                   "' holds no x (write it as \"GaAs1-xPx\")");
                    if (formulaHasComposition(m.material) && !m.x &&
                        p.catalogue->find(m.material) == nullptr)
                        r.fail("sample.layer.material", lt.get("material"),
                               "holds the composition x: give 'x' too");
                    const LayerMaterial resolved = resolveMaterial(m.material, *p.catalogue, x);
                    if (!m.strainGiven && m.relaxation < 1 && (!resolved.c11 || !resolved.c12))
                        r.fail("sample.layer.material", lt.get("material"),
                               "'" + m.material +
                                   "' has no elastic constants C11, C12 for a strained layer: "
                                   "give them in a crystal catalogue, or relaxation = 1, or the "
                                   "strain");
                } catch (const MaterialError& e) {
                    r.fail("sample.layer.material", lt.get("material"),
                           std::string("names no usable crystal: ") + e.what());
                }
            }
            p.layers.push_back(l);
            p.layerMaterials.push_back(m);
        }
        if (p.layers.size() > static_cast<std::size_t>(kMaxSampleLamellae))
            r.fail("sample.layer", v, "holds more than 1000 lamellae");
    }
    r.refuseUnknown(t, "sample.");
}

/// Refuses limits that let a search draw values no sample can have: a depth at or below 0 or cut
/// into more lamellae than a sample holds, a damage factor outside (0, 1], a strain weight that
/// collapses the cell.
void checkProfileRange(Reader& r, const Parameter& par, const std::string& key,
                       const toml::node* node, double lamellaThickness) {
    const Extended lo = par.free ? par.min : par.value;
    const Extended hi = par.free ? par.max : par.value;
    const std::string& n = par.name;
    const auto endsWith = [&n](const std::string& tail) {
        return n.size() >= tail.size() && n.compare(n.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (n == "depth" || n == "depth_ratio" || endsWith("thickness")) {
        if (!(lo > 0)) r.fail(key, node, "must be above 0");
        if (n == "depth" && hi / lamellaThickness > kMaxSampleLamellae)
            r.fail(key, node,
                   "must be at most " + std::to_string(kMaxSampleLamellae) +
                       " lamellae of lamella_thickness deep");
    } else if (n.rfind("damage", 0) == 0 || endsWith("_damage")) {
        if (!(lo > 0 && hi <= 1)) r.fail(key, node, "must lie in (0, 1]");
    } else if (n.rfind("strain", 0) == 0 || endsWith("_strain")) {
        if (!(lo > -100)) r.fail(key, node, "must lie above -100 %");
    }
}

void readProfile(Reader& r, const toml::table& root, Project& p) {
    const toml::node* node = r.get(root, "", "profile");
    if (node == nullptr) return;
    if (!node->is_table()) r.fail("profile", node, "must be a table");
    const toml::table& t = *node->as_table();
    p.hasProfile = true;
    if (const auto* v = r.get(t, "profile.", "model")) {
        const std::string m = r.text(*v, "profile.model");
        if (m == "2gauss")
            p.profile = ProfileKind::TwoGauss;
        else if (m == "pearson")
            p.profile = ProfileKind::PearsonVII;
        else if (m == "bspline")
            p.profile = ProfileKind::BSpline;
        else if (m == "boxes")
            p.profile = ProfileKind::Boxes;
        else if (m == "ion-profile")
            p.profile = ProfileKind::IonProfile;
        else
            r.fail("profile.model", v,
                   "must be \"2gauss\", \"pearson\", \"bspline\", \"boxes\" or "
                   "\"ion-profile\"");
    }
    if (const auto* v = r.get(t, "profile.", "file")) p.ionProfileFile = r.text(*v, "profile.file");
    if (p.profile == ProfileKind::IonProfile) {
        if (p.ionProfileFile.empty())
            r.fail("profile.file", node,
                   "must name the depth/concentration file of the ion profile");
        p.damage = DamageKind::Proportional;  // unless the project says otherwise
    }
    if (const auto* v = r.get(t, "profile.", "boxes"))
        p.boxes = static_cast<int>(r.integer(*v, "profile.boxes", 1, kMaxSampleLamellae));
    if (const auto* v = r.get(t, "profile.", "layers"))
        p.profileLayers = static_cast<int>(r.integer(*v, "profile.layers", 1, kMaxLayers));
    if (const auto* v = r.get(t, "profile.", "damage")) {
        const std::string m = r.text(*v, "profile.damage");
        if (m == "none")
            p.damage = DamageKind::None;
        else if (m == "proportional")
            p.damage = DamageKind::Proportional;
        else if (m == "bspline")
            p.damage = DamageKind::BSpline;
        else
            r.fail("profile.damage", v, "must be \"none\", \"proportional\" or \"bspline\"");
    }
    if (const auto* v = r.get(t, "profile.", "weights"))
        p.weights = static_cast<int>(r.integer(*v, "profile.weights", 4, 100));
    if (const auto* v = r.get(t, "profile.", "damage_weights"))
        p.damageWeights = static_cast<int>(r.integer(*v, "profile.damage_weights", 4, 100));
    if (const auto* v = r.get(t, "profile.", "lamella_thickness")) {
        p.lamellaThickness = r.number(*v, "profile.lamella_thickness");
        if (!(p.lamellaThickness > 0)) r.fail("profile.lamella_thickness", v, "must be above 0 Å");
    }
    p.extendedProfile = t.get("depth_ratio") != nullptr || t.get("thickness") != nullptr;
    std::unique_ptr<ProfileModel> model;
    try {
        model = makeProfileModel(profileSettings(p));
    } catch (const EngineError& e) {
        r.fail("profile", node, e.what());
    }
    for (Parameter& declared : model->declare()) {
        const std::string key = "profile." + declared.name;
        const auto* v = r.get(t, "profile.", declared.name.c_str());
        if (v != nullptr) declared = r.parameter(*v, key, declared);
        checkProfileRange(r, declared, key, v, p.lamellaThickness);
        p.profileParameters.push_back(declared);
    }
    r.refuseUnknown(t, "profile.");
}

/// The keys of a dataset's physics: physics, polarisation, monochromator, geometry, surface.
void readPhysics(Reader& r, const toml::table& t, DatasetSpec& d) {
    if (const auto* v = r.get(t, "dataset.", "physics")) {
        const auto model = physicsModelNamed(r.text(*v, "dataset.physics"));
        if (!model) r.fail("dataset.physics", v, "must be \"classic\" or \"full\"");
        d.physics = *model;
    }
    // A tube beam is unpolarised; synchrotron radiation is polarised in the orbit plane,
    // σ for the usual vertical scattering plane.
    d.polarisation = defaultPolarisation(d.radiation.index);
    if (const auto* v = r.get(t, "dataset.", "polarisation")) {
        const auto pol = polarisationNamed(r.text(*v, "dataset.polarisation"));
        if (!pol) r.fail("dataset.polarisation", v, "must be \"sigma\", \"pi\" or \"unpolarised\"");
        d.polarisation = *pol;
    }
    if (const auto* v = r.get(t, "dataset.", "monochromator")) {
        d.monochromator = r.text(*v, "dataset.monochromator");
        if (d.monochromator != "none" && !monochromatorSpacing(d.monochromator))
            r.fail("dataset.monochromator", v,
                   "must be \"none\" or one of " + monochromatorNames());
    }
    if (const auto* v = r.get(t, "dataset.", "geometry")) {
        const auto g = geometryNamed(r.text(*v, "dataset.geometry"));
        if (!g)
            r.fail("dataset.geometry", v,
                   "must be \"symmetric\", \"grazing-incidence\" or \"grazing-exit\"");
        d.geometry = *g;
    }
    // The classic physics has no choice of these: refused rather than silently left out.
    if (d.physics == PhysicsModel::Classic) {
        for (const char* key : {"polarisation", "monochromator", "geometry"}) {
            if (const auto* v = r.get(t, "dataset.", key))
                r.fail(std::string("dataset.") + key, v,
                       "needs physics = \"full\" (the classic physics is σ-polarised, "
                       "without monochromator, in the geometry the sign of l gives)");
        }
    }
    if (const auto* v = r.get(t, "dataset.", "surface")) {
        const toml::array* a = v->as_array();
        bool normal001 = a != nullptr && a->size() == 3;
        for (std::size_t i = 0; normal001 && i < 3; ++i) {
            const auto value = a->get(i)->value<double>();
            normal001 = value && *value == (i == 2 ? 1.0 : 0.0);
        }
        if (!normal001)
            r.fail("dataset.surface", v, "only the (001) surface is supported: [0, 0, 1]");
    }
}

/// `instrument = "gaussian" | "pseudo-voigt"` or `instrument = { file = "resolution.txt" }`.
void readInstrument(Reader& r, const toml::node& n, DatasetSpec& d) {
    if (n.is_table()) {
        const toml::table& t = *n.as_table();
        for (auto&& [k, v] : t)
            if (k.str() != "file")
                r.fail("dataset.instrument." + std::string(k.str()), &v,
                       "is not known (file: a measured resolution curve)");
        const toml::node* file = t.get("file");
        if (file == nullptr)
            r.fail("dataset.instrument", &n, "must name the resolution curve: { file = \"…\" }");
        d.resolutionFile = r.text(*file, "dataset.instrument.file");
        if (d.resolutionFile.empty()) r.fail("dataset.instrument.file", file, "must not be empty");
        d.instrument = InstrumentShape::Measured;
        return;
    }
    const std::string s = n.is_string() ? r.text(n, "dataset.instrument") : std::string();
    if (s == "gaussian")
        d.instrument = InstrumentShape::Gaussian;
    else if (s == "pseudo-voigt")
        d.instrument = InstrumentShape::PseudoVoigt;
    else
        r.fail("dataset.instrument", &n,
               "must be \"gaussian\", \"pseudo-voigt\" or { file = \"resolution curve\" }");
}

/// How an instrument file of a dataset is read: `scan = N`, `zero`, `axis`, `unit`.
void readScanKeys(Reader& r, const toml::table& t, DatasetSpec& d) {
    if (const auto* v = r.get(t, "dataset.", "zero")) {
        ZeroChoice z;
        if (v->is_number()) {
            z.kind = ZeroChoice::Kind::Angle;
            z.angle = r.number(*v, "dataset.zero");
        } else {
            const std::string s = v->is_string() ? r.text(*v, "dataset.zero") : std::string();
            if (s == "bragg")
                z.kind = ZeroChoice::Kind::Bragg;
            else if (s != "substrate-peak")
                r.fail("dataset.zero", v,
                       "must be \"substrate-peak\", \"bragg\" or an angle on the file's axis");
        }
        d.zero = z;
    }
    if (const auto* v = r.get(t, "dataset.", "axis")) {
        d.axis = axisFromName(r.text(*v, "dataset.axis"));
        if (!d.axis)
            r.fail("dataset.axis", v,
                   "must be \"omega\", \"omega/2theta\", \"2theta/omega\", \"2theta\" or "
                   "\"omega-offset\"");
    }
    if (const auto* v = r.get(t, "dataset.", "unit")) {
        const std::string u = r.text(*v, "dataset.unit");
        if (u == "deg")
            d.unit = AngleUnit::Degrees;
        else if (u == "arcsec")
            d.unit = AngleUnit::ArcSeconds;
        else
            r.fail("dataset.unit", v, "must be \"deg\" or \"arcsec\"");
    }
}

void readDatasets(Reader& r, const toml::table& root, Project& p) {
    const toml::node* node = r.get(root, "", "dataset");
    if (node == nullptr) return;
    if (!node->is_array_of_tables()) r.fail("dataset", node, "must be [[dataset]] tables");
    for (const toml::node& item : *node->as_array()) {
        const toml::table& t = *item.as_table();
        DatasetSpec d;
        if (const auto* v = r.get(t, "dataset.", "file")) d.file = r.text(*v, "dataset.file");
        const auto* scanNode = r.get(t, "dataset.", "scan");
        if (scanNode != nullptr && scanNode->is_integer()) {
            d.scanNumber = static_cast<int>(r.integer(*scanNode, "dataset.scan", 1, 100000));
            if (d.file.empty())
                r.fail("dataset.scan", scanNode,
                       "chooses a scan of the measured 'file', which is missing");
        } else if (const auto* v = scanNode) {
            const toml::array* a = v->as_array();
            if (a == nullptr || a->size() != 3)
                r.fail("dataset.scan", v,
                       "must be [initial, final, step] in seconds of arc, or the number of the "
                       "file's scan");
            std::array<double, 3> s{};
            for (std::size_t i = 0; i < 3; ++i)
                s[i] = r.number(*a->get(i), "dataset.scan");
            if (!(s[2] > 0) || s[1] < s[0])
                r.fail("dataset.scan", v,
                       "must rise from its initial to its final angle in steps above 0");
            d.scan = s;
        }
        if (d.file.empty() && !d.scan)
            r.fail("dataset", &item, "needs a measured 'file' or a 'scan'");
        if (const auto* v = r.get(t, "dataset.", "hkl")) {
            const toml::array* a = v->as_array();
            if (a == nullptr || a->size() != 3) r.fail("dataset.hkl", v, "must be [h, k, l]");
            for (std::size_t i = 0; i < 3; ++i)
                d.hkl[i] = static_cast<int>(r.integer(*a->get(i), "dataset.hkl", -99, 99));
        }
        const auto* radiation = r.get(t, "dataset.", "radiation");
        const auto* wavelength = r.get(t, "dataset.", "wavelength");
        if (radiation && wavelength)
            r.fail("dataset.wavelength", wavelength, "cannot stand beside 'radiation'");
        if (radiation) {
            try {
                d.radiation = Radiation::tubeLine(r.text(*radiation, "dataset.radiation"));
            } catch (const EngineError& e) {
                r.fail("dataset.radiation", radiation, e.what());
            }
        }
        if (wavelength) {
            const double w = r.number(*wavelength, "dataset.wavelength");
            if (!(w > 0)) r.fail("dataset.wavelength", wavelength, "must be above 0 Å");
            d.radiation = Radiation::synchrotron(w);
        }
        if (const auto* v = r.get(t, "dataset.", "width")) {
            d.width = r.parameter(*v, "dataset.width", d.width);
            if (!(d.width.free ? d.width.min > 0 : d.width.value > 0))
                r.fail("dataset.width", v, "must be above 0 seconds of arc");
        }
        readScanKeys(r, t, d);
        if (const auto* v = r.get(t, "dataset.", "instrument")) readInstrument(r, *v, d);
        if (const auto* v = r.get(t, "dataset.", "lorentz_fraction")) {
            if (d.instrument != InstrumentShape::PseudoVoigt)
                r.fail("dataset.lorentz_fraction", v, "belongs to instrument = \"pseudo-voigt\"");
            d.lorentzFraction = r.parameter(*v, "dataset.lorentz_fraction", d.lorentzFraction);
            const Parameter& f = d.lorentzFraction;
            if (!(f.free ? f.min >= 0 && f.max <= 1 : f.value >= 0 && f.value <= 1))
                r.fail("dataset.lorentz_fraction", v, "must lie in [0, 1]");
        }
        if (const auto* v = r.get(t, "dataset.", "offset")) {
            d.offset = r.parameter(*v, "dataset.offset",
                                   Parameter{"offset", "arcsec", 0, -50, 50, 10, false});
            if (!(std::fabs(d.offset->free ? std::max(-d.offset->min, d.offset->max)
                                           : d.offset->value) <= 1e6))
                r.fail("dataset.offset", v, "must stay within ±1e6 seconds of arc");
        }
        if (const auto* v = r.get(t, "dataset.", "scaling"))
            d.scaling = scalingNamed(r, *v, "dataset.scaling");
        if (const auto* v = r.get(t, "dataset.", "background"))
            d.background = r.number(*v, "dataset.background");
        if (const auto* v = r.get(t, "dataset.", "theory")) {
            const std::string th = r.text(*v, "dataset.theory");
            if (th == "dynamical")
                d.theory = Theory::Dynamical;
            else if (th == "kinematical")
                d.theory = Theory::Kinematical;
            else
                r.fail("dataset.theory", v, "must be \"dynamical\" or \"kinematical\"");
        }
        readPhysics(r, t, d);
        r.refuseUnknown(t, "dataset.");
        p.datasets.push_back(std::move(d));
    }
}

void readFit(Reader& r, const toml::table& root, Project& p) {
    const toml::node* node = r.get(root, "", "fit");
    if (node == nullptr) return;
    if (!node->is_table()) r.fail("fit", node, "must be a table");
    const toml::table& t = *node->as_table();
    FitSettings& f = p.fit;
    if (const auto* v = r.get(t, "fit.", "optimizer")) {
        f.optimizer = r.text(*v, "fit.optimizer");
        if (f.optimizer != "evolutionary" && f.optimizer != "de" && f.optimizer != "none")
            r.fail("fit.optimizer", v, "must be \"evolutionary\", \"de\" or \"none\"");
    }
    if (const auto* v = r.get(t, "fit.", "strategy")) {
        f.strategy = r.text(*v, "fit.strategy");
        if (f.strategy != "rand1bin" && f.strategy != "best1bin")
            r.fail("fit.strategy", v, "must be \"rand1bin\" or \"best1bin\"");
    }
    if (const auto* v = r.get(t, "fit.", "polish")) f.polish = r.boolean(*v, "fit.polish");
    if (const auto* v = r.get(t, "fit.", "budget_s")) {
        f.budgetSeconds = r.number(*v, "fit.budget_s");
        if (!(f.budgetSeconds > 0)) r.fail("fit.budget_s", v, "must be above 0 seconds");
    }
    if (const auto* v = r.get(t, "fit.", "tolerance")) {
        f.tolerance = r.number(*v, "fit.tolerance");
        if (!(f.tolerance > 0)) r.fail("fit.tolerance", v, "must be above 0");
    }
    if (const auto* v = r.get(t, "fit.", "stall_generations"))
        f.stallGenerations = static_cast<int>(r.integer(*v, "fit.stall_generations", 1, 1000000));
    if (const auto* v = r.get(t, "fit.", "population"))
        f.population = static_cast<int>(r.integer(*v, "fit.population", 2, 200));
    if (const auto* v = r.get(t, "fit.", "generations"))
        f.generations = static_cast<int>(r.integer(*v, "fit.generations", 0, 1000000));
    if (const auto* v = r.get(t, "fit.", "seed")) {
        f.seed = static_cast<std::uint32_t>(r.integer(*v, "fit.seed", 0, 4294967295LL));
        f.seeded = true;
    }
    if (const auto* v = r.get(t, "fit.", "mutation_probability")) {
        f.mutationProbability = r.number(*v, "fit.mutation_probability");
        if (!(f.mutationProbability >= 0 && f.mutationProbability <= 1))
            r.fail("fit.mutation_probability", v, "must lie between 0 and 1");
    }
    r.refuseUnknown(t, "fit.");
}

std::string numberText(double v) {
    std::ostringstream out;
    out.precision(17);
    out << v;
    std::string s = out.str();
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
}

std::string parameterText(const Parameter& p) {
    if (!p.free) return numberText(static_cast<double>(p.value));
    return "{ value = " + numberText(static_cast<double>(p.value)) +
           ", min = " + numberText(static_cast<double>(p.min)) +
           ", max = " + numberText(static_cast<double>(p.max)) +
           ", max_mutation = " + numberText(static_cast<double>(p.maxMutation)) + " }";
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

ProfileSettings profileSettings(const Project& p) {
    ProfileSettings s;
    s.strain = p.profile;
    s.damage = p.damage;
    s.layers = p.profileLayers;
    s.weights = p.weights;
    s.damageWeights = p.damageWeights;
    s.maxLamella = p.lamellaThickness;
    s.extended = p.extendedProfile;
    s.boxes = p.boxes;
    s.ionProfile = {{0, 0}, {p.lamellaThickness, 1}};
    return s;
}

Project parseProject(const std::string& text, const std::string& name) {
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error& e) {
        throw ProjectError(name + ", line " + std::to_string(e.source().begin.line) + ": " +
                           std::string(e.description()));
    }
    Reader r(name);
    Project p;
    p.path = name;
    readSample(r, root, p);
    readProfile(r, root, p);
    readDatasets(r, root, p);
    readFit(r, root, p);
    r.refuseUnknown(root, "");
    if (p.datasets.empty()) throw ProjectError(name + ": the project has no [[dataset]]");
    return p;
}

Project loadProject(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw ProjectError("project file '" + path + "' does not exist or is not a file");
    if (std::filesystem::file_size(path, ec) > kMaxProjectBytes)
        throw ProjectError("project file '" + path + "' is larger than 1 MiB");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ProjectError("project file '" + path + "' cannot be opened");
    std::ostringstream text;
    text << in.rdbuf();
    return parseProject(text.str(), path);
}

std::string projectText(const Project& p) {
    std::ostringstream out;
    out << "[sample]\nsubstrate = " << quoted(p.substrate) << "\n";
    if (!p.crystalsFile.empty()) out << "crystals = " << quoted(p.crystalsFile) << "\n";
    for (std::size_t i = 0; i < p.layers.size(); ++i) {
        const Lamella& l = p.layers[i];
        const LayerMaterialSpec* m = i < p.layerMaterials.size() ? &p.layerMaterials[i] : nullptr;
        out << "\n[[sample.layer]]\n";
        if (p.layersGiveSample) out << "thickness = " << numberText(l.thicknessAngstrom) << "\n";
        if (m == nullptr || m->material.empty() || m->strainGiven)
            out << "strain = " << numberText(l.strain * 100) << "\n";
        out << "damage = " << numberText(l.damage) << "\n";
        if (m != nullptr && !m->material.empty()) {
            out << "material = " << quoted(m->material) << "\n";
            if (!m->strainGiven) out << "relaxation = " << numberText(m->relaxation) << "\n";
            if (m->x) out << "x = " << parameterText(*m->x) << "\n";
        }
    }
    if (p.hasProfile) {
        out << "\n[profile]\nmodel = " << quoted(profileKindName(p.profile))
            << "\nlayers = " << p.profileLayers << "\n";
        if (p.damage != DamageKind::None)
            out << "damage = " << quoted(damageKindName(p.damage)) << "\n";
        if (p.profile == ProfileKind::BSpline)
            out << "weights = " << p.weights
                << "\nlamella_thickness = " << numberText(p.lamellaThickness) << "\n";
        if (p.profile == ProfileKind::Boxes) out << "boxes = " << p.boxes << "\n";
        if (!p.ionProfileFile.empty()) out << "file = " << quoted(p.ionProfileFile) << "\n";
        if (p.damage == DamageKind::BSpline) out << "damage_weights = " << p.damageWeights << "\n";
        for (const Parameter& par : p.profileParameters)
            out << par.name << " = " << parameterText(par) << "\n";
    }
    for (const DatasetSpec& d : p.datasets) {
        out << "\n[[dataset]]\n";
        if (!d.file.empty()) out << "file = " << quoted(d.file) << "\n";
        if (d.scan)
            out << "scan = [" << numberText((*d.scan)[0]) << ", " << numberText((*d.scan)[1])
                << ", " << numberText((*d.scan)[2]) << "]\n";
        out << "hkl = [" << d.hkl[0] << ", " << d.hkl[1] << ", " << d.hkl[2] << "]\n";
        if (d.radiation.index == kSynchrotron)
            out << "wavelength = "
                << numberText(static_cast<double>(d.radiation.synchrotronWavelength)) << "\n";
        else
            out << "radiation = " << quoted(d.radiation.name()) << "\n";
        if (d.scanNumber > 0) out << "scan = " << d.scanNumber << "\n";
        if (d.zero) {
            out << "zero = ";
            if (d.zero->kind == ZeroChoice::Kind::Angle)
                out << numberText(d.zero->angle) << "\n";
            else
                out << quoted(d.zero->kind == ZeroChoice::Kind::Bragg ? "bragg" : "substrate-peak")
                    << "\n";
        }
        if (d.axis) out << "axis = " << quoted(axisName(*d.axis)) << "\n";
        if (d.unit)
            out << "unit = " << quoted(*d.unit == AngleUnit::Degrees ? "deg" : "arcsec") << "\n";
        out << "width = " << parameterText(d.width) << "\n";
        if (d.instrument == InstrumentShape::Measured)
            out << "instrument = { file = " << quoted(d.resolutionFile) << " }\n";
        else if (d.instrument != InstrumentShape::Gaussian)
            out << "instrument = " << quoted(instrumentShapeName(d.instrument)) << "\n";
        if (d.instrument == InstrumentShape::PseudoVoigt)
            out << "lorentz_fraction = " << parameterText(d.lorentzFraction) << "\n";
        if (d.offset) out << "offset = " << parameterText(*d.offset) << "\n";
        out << "scaling = " << quoted(scalingName(d.scaling)) << "\n";
        out << "background = " << numberText(d.background) << "\n";
        out << "theory = " << quoted(d.theory == Theory::Dynamical ? "dynamical" : "kinematical")
            << "\n";
        out << "physics = " << quoted(physicsModelName(d.physics)) << "\n";
        if (d.physics == PhysicsModel::Full) {
            out << "polarisation = " << quoted(polarisationName(d.polarisation)) << "\n";
            out << "monochromator = " << quoted(d.monochromator) << "\n";
            if (d.geometry != ScatteringGeometry::FromMillerIndices)
                out << "geometry = " << quoted(geometryName(d.geometry)) << "\n";
        }
    }
    out << "\n[fit]\noptimizer = " << quoted(p.fit.optimizer)
        << "\npopulation = " << p.fit.population << "\ngenerations = " << p.fit.generations
        << "\nmutation_probability = " << numberText(p.fit.mutationProbability)
        << "\nstrategy = " << quoted(p.fit.strategy)
        << "\npolish = " << (p.fit.polish ? "true" : "false")
        << "\ntolerance = " << numberText(p.fit.tolerance) << "\n";
    if (p.fit.stallGenerations != FitSettings{}.stallGenerations)
        out << "stall_generations = " << p.fit.stallGenerations << "\n";
    if (p.fit.budgetSeconds > 0) out << "budget_s = " << numberText(p.fit.budgetSeconds) << "\n";
    if (p.fit.seeded) out << "seed = " << p.fit.seed << "\n";
    return out.str();
}

bool storeParameter(Project& project, const FitProblem& problem, int row, const Parameter& p) {
    Parameter* target = nullptr;
    if (row >= 0 && static_cast<std::size_t>(row) < project.profileParameters.size())
        target = &project.profileParameters[static_cast<std::size_t>(row)];
    for (int i = 0; target == nullptr && i < problem.datasetCount() &&
                    static_cast<std::size_t>(i) < project.datasets.size();
         ++i) {
        const Dataset& d = problem.dataset(i);
        DatasetSpec& spec = project.datasets[static_cast<std::size_t>(i)];
        if (row == d.widthParameter)
            target = &spec.width;
        else if (row == d.lorentzParameter)
            target = &spec.lorentzFraction;
        else if (row == d.offsetParameter && spec.offset)
            target = &*spec.offset;
    }
    if (target == nullptr) return false;
    const std::string name = target->name;
    *target = p;
    target->name = name;
    return true;
}

RockingCurve datasetScan(const std::string& path, const Project& p, const DatasetSpec& d) {
    ScanReadOptions options;
    options.scanNumber = d.scanNumber;
    options.axis = d.axis;
    options.unit = d.unit;
    const Scan scan = readScan(path, options);
    if (d.scanNumber > scan.scanCount)
        throw DataFileError("measured file '" + path + "' holds " + std::to_string(scan.scanCount) +
                            " scan" + (scan.scanCount == 1 ? "" : "s") + ", not scan " +
                            std::to_string(d.scanNumber) + " (key 'dataset.scan')");
    if (scan.axis == ScanAxis::OmegaOffset && d.zero && d.zero->kind == ZeroChoice::Kind::Bragg)
        throw DataFileError("measured file '" + path +
                            "' holds offsets, which have no Bragg angle: zero = \"bragg\" needs "
                            "its angles (declare them with 'axis' and 'unit')");
    std::optional<SubstrateBragg> bragg;
    if (scan.axis != ScanAxis::OmegaOffset) {
        // The substrate as the fit computes it: any crystal of the project's catalogue.
        const Reflection reflection{static_cast<Extended>(d.hkl[0]),
                                    static_cast<Extended>(d.hkl[1]),
                                    static_cast<Extended>(d.hkl[2]), d.radiation};
        const ReflectionGeometry geo = substrateSetup(p, reflection).geometry;
        const double toDegrees = 180.0 / static_cast<double>(kPi);
        bragg = SubstrateBragg{static_cast<double>(geo.thetaB) * toDegrees,
                               static_cast<double>(geo.phi) * toDegrees};
    }
    // A file of offsets keeps its own zero unless the project moves it.
    const ZeroChoice zero = d.zero ? *d.zero
                            : scan.axis == ScanAxis::OmegaOffset
                                ? ZeroChoice{ZeroChoice::Kind::Angle, 0}
                                : ZeroChoice{};
    return toRockingCurve(scan, zero, bragg);
}

namespace {

/// The measured curve of a dataset as the windows take a refinement's file with equally spaced
/// whole-second angles: the scan runs from its first to its last angle in the step of its first
/// two.
void loadMeasured(const std::string& path, EngineState& state) {
    NumberReader reader = NumberReader::fromFile(path);
    const MeasuredCurve curve = parseMeasuredCurve(reader, MeasuredMode::Raw);
    const Extended first = curve.angle.front();
    const Extended second = curve.angle.size() > 1 ? curve.angle[1] : first;
    const Extended last = curve.angle[static_cast<std::size_t>(std::max(curve.last - 1, 0))];
    const Extended step = second - first;
    if (first != std::floor(first) || step != std::floor(step) || !(step > 0))
        throw ProjectError("measured file '" + path +
                           "': the angles must be whole seconds of arc in equal steps");
    CurveStore& cs = state.curveStore;
    cs.scanStart = static_cast<int>(first);
    cs.scanEnd = static_cast<int>(last);
    cs.scanStep = static_cast<int>(step);
    scanPointCount(cs.scanStart, cs.scanEnd, cs.scanStep);
    storeMeasuredCurve(cs, state.radiationRecord, curve, MeasuredMode::Raw);
}

/// An instrument scan (or a text curve with steps that are not whole equal seconds of arc)
/// turned into offsets from its zero and stored as it stands: the curve is computed at the
/// measured angles, with no resampling.
void loadScan(const std::string& path, const Project& p, const DatasetSpec& d, EngineState& state) {
    const RockingCurve rc = datasetScan(path, p, d);
    if (rc.offset.size() > static_cast<std::size_t>(kCurveCapacity))
        throw DataFileError("measured file '" + path + "' holds " +
                            std::to_string(rc.offset.size()) + " points, more than " +
                            std::to_string(kCurveCapacity));
    MeasuredCurve curve;
    curve.angle.assign(rc.offset.begin(), rc.offset.end());
    curve.intensity.assign(rc.counts.begin(), rc.counts.end());
    curve.last = static_cast<int>(curve.angle.size()) - 1;
    for (Extended c : curve.intensity)
        curve.max = std::max(curve.max, c);
    CurveStore& cs = state.curveStore;
    // The whole-second scan is not used; it only spans the curve.
    cs.scanStart = static_cast<int>(std::floor(rc.offset.front()));
    cs.scanEnd = static_cast<int>(std::ceil(rc.offset.back()));
    cs.scanStep = 1;
    storeMeasuredCurve(cs, state.radiationRecord, curve, MeasuredMode::Raw);
}

/// Reads the measured file of dataset `d`: a plain two-column curve of equally spaced whole
/// seconds of arc as the windows read it; anything else as an instrument scan. Returns whether
/// the curve is computed at its measured angles.
bool loadDatasetFile(const std::string& path, const Project& p, const DatasetSpec& d,
                     EngineState& state) {
    const bool declared = d.axis || d.unit || d.zero || d.scanNumber > 0;
    if (!declared && scanFormatOfFile(path) == ScanFormat::PlainText) {
        try {
            loadMeasured(path, state);
            return false;
        } catch (const DataFileError&) {
            // Steps that are not equal: read below as a scan of offsets.
        } catch (const ProjectError&) {
            // Steps that are not whole seconds: the same.
        }
    }
    loadScan(path, p, d, state);
    return true;
}

}  // namespace

PhysicsOptions physicsOptionsOf(const DatasetSpec& d, double wavelength) {
    PhysicsOptions o;
    o.model = d.physics;
    o.polarisation = d.polarisation;
    o.geometry = d.geometry;
    o.monochromatorTwoTheta = monochromatorTwoTheta(d.monochromator, wavelength);
    return o;
}

double zeroShiftOf(const DatasetSpec& d, const EngineState& state, const PhysicsOptions& physics) {
    if (d.zero && d.zero->kind == ZeroChoice::Kind::Bragg) return 0;
    return substratePeakOffset(state, physics);
}

/// The layers' own crystals on the model's lamellae, each fitted composition a parameter of the
/// problem ("layer1_x").
void addLayerMaterials(const Project& p, FitProblem& problem) {
    std::vector<Radiation> radiations;
    for (const DatasetSpec& d : p.datasets)
        radiations.push_back(d.radiation);
    std::vector<int> xParameters;
    for (std::size_t k = 0; k < p.layerMaterials.size(); ++k) {
        const LayerMaterialSpec& m = p.layerMaterials[k];
        int index = -1;
        if (m.x && !m.material.empty()) {
            Parameter x = *m.x;
            x.name = "layer" + std::to_string(k + 1) + "_x";
            index = problem.parameters().add(std::move(x));
        }
        xParameters.push_back(index);
    }
    auto materials = std::make_shared<LayerMaterials>(p, radiations, std::move(xParameters));
    if (!materials->any()) return;
    if (!problem.model().fillsSample())
        throw ProjectError(p.path +
                           ": layers with a crystal of their own need a profile model of "
                           "lamellae (boxes, bspline, ion-profile or a damage model)");
    problem.setSampleAdjustment(std::move(materials));
}

std::unique_ptr<FitProblem> buildProblem(const Project& p) {
    if (!p.hasProfile) throw ProjectError(p.path + ": a fit needs a [profile] model");
    const std::filesystem::path folder = std::filesystem::path(p.path).parent_path();
    std::unique_ptr<FitProblem> problem;
    try {
        ProfileSettings settings = profileSettings(p);
        if (p.profile == ProfileKind::IonProfile)
            settings.ionProfile = readIonProfile((folder / p.ionProfileFile).string());
        problem = std::make_unique<FitProblem>(makeProfileModel(settings));
        for (std::size_t i = 0; i < p.profileParameters.size(); ++i)
            problem->parameters()[static_cast<int>(i)] = p.profileParameters[i];
        for (std::size_t i = 0; i < p.datasets.size(); ++i) {
            const DatasetSpec& d = p.datasets[i];
            auto state = std::make_shared<EngineState>();
            const Reflection reflection{static_cast<Extended>(d.hkl[0]),
                                        static_cast<Extended>(d.hkl[1]),
                                        static_cast<Extended>(d.hkl[2]), d.radiation};
            const Setup setup = substrateSetup(p, reflection);
            storeSetup(setup, *state);
            state->theoryChoice = d.theory;
            state->normMode = d.scaling;
            state->background = d.background;
            state->profileModel =
                p.profile == ProfileKind::TwoGauss ? kModelTwoGauss : kModelPearsonVII;
            state->layerCount = p.profileLayers;
            if (d.file.empty())
                throw ProjectError(p.path + ": dataset " + std::to_string(i + 1) +
                                   " has no measured 'file' to fit");
            const std::filesystem::path file = folder / d.file;
            InstrumentSettings instrument;
            instrument.atMeasuredAngles = loadDatasetFile(file.string(), p, d, *state);
            instrument.function.shape = d.instrument;
            if (d.instrument == InstrumentShape::Measured)
                instrument.function.resolution = std::make_shared<const ResolutionCurve>(
                    readResolutionCurve((folder / d.resolutionFile).string()));
            const std::string suffix = p.datasets.size() > 1 ? std::to_string(i + 1) : "";
            Parameter width = d.width;
            width.name += suffix;
            const int index = problem->addDataset(state, width, file.string());
            problem->setPhysics(index,
                                physicsOptionsOf(d, static_cast<double>(setup.dispersion.lambda)));
            problem->setZeroShift(index, zeroShiftOf(d, *state, problem->dataset(index).physics));
            problem->setInstrument(index, std::move(instrument));
            if (d.instrument == InstrumentShape::PseudoVoigt) {
                Parameter eta = d.lorentzFraction;
                eta.name += suffix;
                problem->addLorentzFraction(index, eta);
            }
            if (d.offset) {
                Parameter offset = *d.offset;
                offset.name += suffix;
                problem->addOffset(index, offset);
            }
        }
    } catch (const EngineError& e) {
        throw ProjectError(p.path + ": " + e.what());
    } catch (const DataFileError& e) {
        throw ProjectError(p.path + ": " + e.what());
    } catch (const ScatteringError& e) {
        throw ProjectError(p.path + ": " + e.what());
    }
    addLayerMaterials(p, *problem);
    if (std::string why = problem->validate(); !why.empty())
        throw ProjectError(p.path + ": " + why);
    return problem;
}

}  // namespace kelvarin::fit
