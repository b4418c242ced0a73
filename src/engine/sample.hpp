// The sample and the measurement set-up in one place: a crystal from the catalogue (or from the
// values a window shows), a reflection with its radiation, the one builder that turns them into
// the engine's set-up, the perfect-crystal curve, and a sample of lamellae on that crystal.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/crystal_catalogue.hpp"
#include "engine/geometry.hpp"
#include "engine/material_scattering.hpp"
#include "engine/scattering.hpp"
#include "engine/state.hpp"
#include "engine/strain.hpp"

namespace kelvarin {

/// A cubic crystal of two sites of four atoms (diamond or zinc-blende structure).
struct Crystal {
    std::string name;              ///< compound name as the scattering tables know it ("GaAs")
    Extended a = 0, b = 0, c = 0;  ///< lattice constants, Å
    SitePositions sites{};         ///< fractional atom positions of both sites

    /// The catalogue crystal `name`, with its lattice constant read as the Data Entry window
    /// shows it. Throws EngineError naming the catalogue for an unknown name.
    static Crystal fromCatalogue(std::string_view name);
    /// A crystal of the fitting path's catalogue: a crystal of the windows' catalogue with the
    /// lattice constant as the window reads it where the two agree (to the last bit), else the
    /// catalogue's. The sites are those of the two-site structure for the windows' crystals and
    /// unset otherwise (see buildSetup).
    static Crystal fromCatalogueEntry(const CatalogueCrystal& entry);
};

/// The six tube lines and synchrotron radiation, by the names the job files use ("Cua1").
struct Radiation {
    int index = 4;  ///< 0..5 tube lines Cr, Fe, Co, Ni, Cu, Mo K-alpha1; 6 synchrotron
    Extended synchrotronWavelength = 0;  ///< Å, for index 6 only

    /// "Cra1", "Fea1", "Coa1", "Nia1", "Cua1", "Moa1"; throws EngineError for another name.
    static Radiation tubeLine(std::string_view name);
    static Radiation synchrotron(Extended wavelengthAngstrom);
    /// The name of a tube line, or "synchrotron".
    std::string name() const;
};

/// Miller indices of the reflection (the surface is (001)) and the radiation measuring it.
struct Reflection {
    Extended h = 0, k = 0, l = 4;
    Radiation radiation;
};

/// Everything the curve calculations need of crystal, reflection and radiation, checked.
struct Setup {
    Crystal crystal;
    Reflection reflection;
    CoefficientTables tables{};       ///< form-factor tables of both sites
    DispersionValues dispersion;      ///< wavelength and f', f'' of both sites
    ReflectionGeometry geometry;      ///< of the substrate
    StructureFactor structureFactor;  ///< of the substrate at its Bragg angle
    /// The substrate as a list of sites, for a crystal the two-site tables cannot hold (fluorite,
    /// perovskite, mixed sites); null for the two-site crystals.
    std::shared_ptr<const MaterialScattering> material;
};

/// The one set-up builder: wavelength and dispersion corrections, geometry, scattering tables and
/// structure factor, in that order. Throws EngineError, ScatteringError or DataFileError with the
/// message a user sees for a set-up that cannot be computed (an unreachable or forbidden
/// reflection, a geometry that cannot be measured, an unknown crystal or radiation).
Setup buildSetup(const Crystal& crystal, const Reflection& reflection);

/// The set-up of a crystal of the fitting path's catalogue. A crystal of the windows' catalogue
/// (same name) keeps its two-site tables and dispersion data and takes the catalogue's lattice
/// constant (the windows' own value, to the last bit, where the two agree); any other crystal is
/// computed from its list of sites. Throws as the builder above, and MaterialError for an element
/// without data.
Setup buildSetup(const CatalogueCrystal& crystal, const Reflection& reflection);

/// Stores the set-up in `state` (lattice constants, sites, Miller indices, scattering tables,
/// wavelength and dispersion slots of the radiation record), leaving everything else alone.
void storeSetup(const Setup& setup, EngineState& state);

/// Reflectivity of the perfect crystal at θ seconds of arc from its Bragg angle. The forward
/// term enters negated, as for the substrate under the lamellae: with that sign a perfect
/// lamella on the substrate reproduces the substrate.
Extended perfectCrystalReflectivity(const Setup& setup, double thetaArcsec);

/// One lamella of a sample.
struct Lamella {
    double thicknessAngstrom = 0;
    double strain = 0;  ///< perpendicular strain relative to the substrate, a fraction
    /// Static Debye–Waller factor f = exp(−L_H) in (0, 1]: the lamella's structure factor of the
    /// reflection is f times that of a perfect lamella (1: a perfect lamella).
    double damage = 1;
    /// The lamella's own crystal (an alloy or another catalogue crystal) at the radiation of the
    /// set-up; null: the substrate's. Its strain is still relative to the substrate.
    std::shared_ptr<const MaterialScattering> material = nullptr;
};

/// The lamellae on the substrate, from the surface inward.
struct Sample {
    std::vector<Lamella> lamellae;
};

/// Most lamellae a sample may have on the fitting path (the windows keep kMaxLayers).
inline constexpr int kMaxSampleLamellae = 1000;

/// The sample of a strain profile of the windows' models (lamella 1 of `profile` is the deepest).
Sample sampleOf(const StrainProfile& profile);

/// Throws EngineError naming the lamella for an empty sample, more than kMaxSampleLamellae, a
/// thickness below 0 or not finite, a strain at or below −1, or a damage factor outside (0, 1].
void validateSample(const Sample& sample);

}  // namespace kelvarin
