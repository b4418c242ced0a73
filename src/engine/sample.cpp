#include "engine/sample.hpp"

#include <array>
#include <charconv>
#include <cmath>

#include "engine/catalogue.hpp"
#include "engine/element_data.hpp"
#include "engine/engine_error.hpp"
#include "engine/scattering.hpp"

namespace kelvarin {

namespace {

constexpr std::array<std::string_view, 6> kTubeLines = {"Cra1", "Fea1", "Coa1",
                                                        "Nia1", "Cua1", "Moa1"};

}  // namespace

Crystal Crystal::fromCatalogue(std::string_view name) {
    const CrystalEntry* entry = findCrystal(name);
    if (entry == nullptr) {
        std::string names;
        for (const CrystalEntry& e : crystalCatalogue())
            names += std::string(names.empty() ? "" : ", ") + std::string(e.name);
        throw EngineError("Unknown crystal '" + std::string(name) + "' (the catalogue has " +
                          names + ").");
    }
    Crystal crystal;
    crystal.name = std::string(entry->name);
    // The lattice constant as the Data Entry window shows it and reads it back: the nearest
    // extended value to the decimal text.
    const std::string text = entry->latticeText('.');
    Extended a = 0;
    std::from_chars(text.data(), text.data() + text.size(), a);
    crystal.a = crystal.b = crystal.c = a;
    for (std::size_t atom = 0; atom < 4; ++atom)
        for (std::size_t xyz = 0; xyz < 3; ++xyz) {
            crystal.sites[0][atom][xyz] = static_cast<double>(kSite1Positions[atom][xyz]);
            crystal.sites[1][atom][xyz] = static_cast<double>(kSite2Positions[atom][xyz]);
        }
    return crystal;
}

Radiation Radiation::tubeLine(std::string_view name) {
    for (std::size_t i = 0; i < kTubeLines.size(); ++i)
        if (kTubeLines[i] == name) return Radiation{static_cast<int>(i), 0};
    throw EngineError("Unknown radiation '" + std::string(name) +
                      "': give Cra1, Fea1, Coa1, Nia1, Cua1, Moa1 or a wavelength in Å.");
}

Radiation Radiation::synchrotron(Extended wavelengthAngstrom) {
    return Radiation{kSynchrotron, wavelengthAngstrom};
}

std::string Radiation::name() const {
    if (index >= 0 && index < static_cast<int>(kTubeLines.size()))
        return std::string(kTubeLines[static_cast<std::size_t>(index)]);
    return "synchrotron";
}

Setup buildSetup(const Crystal& crystal, const Reflection& reflection) {
    Setup setup;
    setup.crystal = crystal;
    setup.reflection = reflection;
    const Extended h = reflection.h, k = reflection.k, l = reflection.l;
    setup.dispersion = dispersionCorrections(
        reflection.radiation.index, reflection.radiation.synchrotronWavelength, crystal.name);
    setup.geometry =
        reflectionGeometry(crystal.a, crystal.b, crystal.c, h, k, l, setup.dispersion.lambda);
    for (int term = 1; term <= 6; ++term)
        for (int table = 1; table <= 12; ++table)
            setup.tables[static_cast<std::size_t>(table)][static_cast<std::size_t>(term)] =
                scatteringCoefficient(crystal.name, table, term);
    const CoefficientTables& t = setup.tables;
    const Extended f1 = formFactor(t[1], t[2], t[3], t[4], t[5], t[6], setup.geometry.s);
    const Extended f2 = formFactor(t[7], t[8], t[9], t[10], t[11], t[12], setup.geometry.s);
    const DispersionValues& d = setup.dispersion;
    setup.structureFactor =
        structureFactor(f1, f2, d.f1Real, d.f1Imag, d.f2Real, d.f2Imag, crystal.sites, h, k, l);
    requireAllowedReflection(setup.structureFactor, f1, f2, d.f1Real, d.f2Real, h, k, l);
    return setup;
}

Crystal Crystal::fromCatalogueEntry(const CatalogueCrystal& entry) {
    Crystal crystal;
    if (findCrystal(entry.name) != nullptr) {
        crystal = Crystal::fromCatalogue(entry.name);
        if (static_cast<double>(crystal.a) == entry.a) return crystal;
    }
    crystal.name = entry.name;
    crystal.a = crystal.b = crystal.c = entry.a;
    return crystal;
}

Setup buildSetup(const CatalogueCrystal& entry, const Reflection& reflection) {
    // A windows crystal keeps its own tables, unless a synchrotron wavelength lies outside its
    // elements' dispersion files: then its sites take the library's f', f'' like any crystal.
    bool covered = true;
    const Radiation& radiation = reflection.radiation;
    if (radiation.index == kSynchrotron && radiation.synchrotronWavelength > 0)
        for (const CrystalSite& site : entry.structure.sites)
            for (const SiteSpecies& sp : site.species)
                covered =
                    covered && dispersionFileCovers(sp.element, radiation.synchrotronWavelength);
    if (findCrystal(entry.name) != nullptr && covered)
        return buildSetup(Crystal::fromCatalogueEntry(entry), reflection);
    Setup setup;
    setup.crystal.name = entry.name;
    setup.crystal.a = setup.crystal.b = setup.crystal.c = entry.a;
    setup.reflection = reflection;
    const Radiation& r = reflection.radiation;
    if (r.index < 0 || r.index > kSynchrotron)
        throw ScatteringError("Radiation " + std::to_string(r.index) + " does not exist");
    setup.dispersion.lambda =
        r.index == kSynchrotron ? r.synchrotronWavelength : tubeWavelength(r.index);
    if (!(setup.dispersion.lambda > 0))
        throw ScatteringError("The synchrotron wavelength must be a positive number of ångström");
    setup.material = std::make_shared<const MaterialScattering>(entry.name, entry.structure,
                                                                r.index, setup.dispersion.lambda);
    setup.geometry = reflectionGeometry(entry.a, entry.a, entry.a, reflection.h, reflection.k,
                                        reflection.l, setup.dispersion.lambda);
    setup.structureFactor = allowedStructureFactor(*setup.material, reflection.h, reflection.k,
                                                   reflection.l, setup.geometry.s);
    // The lamellae take the forward absorption from the f'' slots: all of it in site 1's.
    setup.dispersion.f1Imag = setup.structureFactor.F0i / 4;
    return setup;
}

void storeSetup(const Setup& setup, EngineState& state) {
    state.substrateMaterial = setup.material;
    state.latticeA = setup.crystal.a;
    state.latticeB = setup.crystal.b;
    state.latticeC = setup.crystal.c;
    state.sitePositions = setup.crystal.sites;
    state.millerH = setup.reflection.h;
    state.millerK = setup.reflection.k;
    state.millerL = setup.reflection.l;
    state.scatteringCoefficients = setup.tables;
    RadiationRecord& rr = state.radiationRecord;
    rr[kSlotLambda] = setup.dispersion.lambda;
    rr[kSlotF1Real] = setup.dispersion.f1Real;
    rr[kSlotF1Imag] = setup.dispersion.f1Imag;
    rr[kSlotF2Real] = setup.dispersion.f2Real;
    rr[kSlotF2Imag] = setup.dispersion.f2Imag;
}

Extended perfectCrystalReflectivity(const Setup& setup, double thetaArcsec) {
    const ReflectionGeometry& geo = setup.geometry;
    const StructureFactor& F = setup.structureFactor;
    const Extended delta = kPi * static_cast<Extended>(thetaArcsec) * kArcsecFactor;
    const Complex x = deviationParameter(delta, geo.thetaB, geo.gamma0, geo.gammaH, geo.Gamma,
                                         -F.F0i, F.strength, F.kappa);
    const Extended R = reflectivity(substrateAmplitude(x));
    if (!std::isfinite(R)) {
        throw EngineError("The reflectivity at " + engineNumber(thetaArcsec) +
                          " seconds of arc is not a finite number.");
    }
    return R;
}

Sample sampleOf(const StrainProfile& profile) {
    Sample sample;
    const int n = profile.layerCount;
    sample.lamellae.reserve(static_cast<std::size_t>(n));
    for (int i = n; i >= 1; --i)
        sample.lamellae.push_back(
            Lamella{profile.thickness, profile.strain[static_cast<std::size_t>(i)], 1.0});
    return sample;
}

void validateSample(const Sample& sample) {
    const auto n = sample.lamellae.size();
    if (n == 0) throw EngineError("The sample has no lamella.");
    if (n > static_cast<std::size_t>(kMaxSampleLamellae)) {
        throw EngineError("The sample has " + std::to_string(n) + " lamellae; at most " +
                          std::to_string(kMaxSampleLamellae) + " can be computed.");
    }
    for (std::size_t i = 0; i < n; ++i) {
        const Lamella& l = sample.lamellae[i];
        const std::string which = "Lamella " + std::to_string(i + 1) + " (from the surface)";
        if (!(l.thicknessAngstrom >= 0) || !std::isfinite(l.thicknessAngstrom))
            throw EngineError(which + " has the thickness " + engineNumber(l.thicknessAngstrom) +
                              " Å; a thickness must be 0 or more.");
        if (!(l.strain > -1) || !std::isfinite(l.strain))
            throw EngineError(which + " has the strain " + engineNumber(100 * l.strain) +
                              " %, which collapses the cell.");
        if (!(l.damage > 0 && l.damage <= 1))
            throw EngineError(which + " has the damage factor " + engineNumber(l.damage) +
                              "; it must lie in (0, 1] (1: a perfect lamella).");
    }
}

}  // namespace kelvarin
