// How much of the two-beam physics a rocking curve takes into account: the windows' arithmetic
// (linear strain shift, the substrate's geometry for every lamella, σ polarisation, no
// refraction) or the full calculation with exact wave vectors for every lamella.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace kelvarin {

/// The arithmetic of the deviation parameter.
enum class PhysicsModel {
    /// The windows' arithmetic, kept bit for bit: each lamella shifted by
    /// ε·(cos²φ·tan θB + cos φ·sin φ), the substrate's direction cosines and Γ for all lamellae,
    /// no refraction, σ polarisation.
    Classic,
    /// Exact wave vectors: each lamella's own reciprocal vector (its component along the surface
    /// normal scaled by 1/(1 + ε)), the exact deviation from the Bragg condition, its own
    /// direction cosines varying along the scan, refraction (the χ0 term) and polarisation.
    Full,
};

/// Polarisation of the incident beam.
enum class Polarisation {
    Sigma,        ///< electric field normal to the scattering plane, C = 1
    Pi,           ///< in the scattering plane, C = |cos 2θB|
    Unpolarised,  ///< the intensity mean of a σ and a π curve (weighted after a monochromator)
};

/// Which of the two settings of an asymmetric reflection is measured.
enum class ScatteringGeometry {
    /// From the Miller indices as the windows read them: l > 0 grazing incidence, l < 0 grazing
    /// exit; a reflection along the surface normal is symmetric.
    FromMillerIndices,
    Symmetric,         ///< reflecting planes parallel to the surface (h = k = 0)
    GrazingIncidence,  ///< incidence θB − φ, exit θB + φ
    GrazingExit,       ///< incidence θB + φ, exit θB − φ
};

/// Everything the full calculation needs beyond the crystal, reflection and radiation.
struct PhysicsOptions {
    PhysicsModel model = PhysicsModel::Classic;
    Polarisation polarisation = Polarisation::Unpolarised;
    /// Bragg angle 2θM of the monochromator crystal in front of the sample, radians; 0 for none.
    /// After it the π component keeps the fraction cos²2θM of its intensity.
    double monochromatorTwoTheta = 0;
    ScatteringGeometry geometry = ScatteringGeometry::FromMillerIndices;
    /// Thermal Debye–Waller B of the two sites, Å²: each atom's scattering factor at the
    /// reflection is multiplied by exp(−B·s²), s = sin θB/λ. 0 (no thermal motion) until the
    /// crystal catalogue supplies B values per site.
    std::array<double, 2> debyeWallerB{0.0, 0.0};

    bool full() const { return model == PhysicsModel::Full; }
};

/// The options of the fitting path when a project names none: the full calculation for an
/// unpolarised tube beam without monochromator, the geometry from the Miller indices.
inline PhysicsOptions fullPhysicsDefaults() {
    PhysicsOptions o;
    o.model = PhysicsModel::Full;
    return o;
}

/// The polarisation of a beam of radiation `radiationIndex` (see Radiation) when nothing else is
/// said: unpolarised for a tube line, σ for synchrotron radiation (index 6), which is polarised
/// in the orbit plane and diffracted in a vertical plane.
inline Polarisation defaultPolarisation(int radiationIndex) {
    return radiationIndex == 6 ? Polarisation::Sigma : Polarisation::Unpolarised;
}

/// "classic" or "full"; nothing for another name.
std::optional<PhysicsModel> physicsModelNamed(std::string_view name);
/// "sigma", "pi" or "unpolarised"; nothing for another name.
std::optional<Polarisation> polarisationNamed(std::string_view name);
/// "symmetric", "grazing-incidence" or "grazing-exit"; nothing for another name.
std::optional<ScatteringGeometry> geometryNamed(std::string_view name);
const char* physicsModelName(PhysicsModel model);
const char* polarisationName(Polarisation polarisation);
/// "symmetric", "grazing-incidence", "grazing-exit", or "" for FromMillerIndices.
const char* geometryName(ScatteringGeometry geometry);

/// Spacing (Å) of a monochromator crystal by name: "Ge220", "Ge440", "Si111", "Si220"; nothing
/// for another name ("none" is handled by the caller).
std::optional<double> monochromatorSpacing(std::string_view name);

/// 2θM (radians) of the monochromator `name` at `wavelength` (Å): 0 for "none". Throws
/// EngineError for an unknown name or a wavelength the crystal cannot reflect.
double monochromatorTwoTheta(std::string_view name, double wavelength);

/// The names monochromatorSpacing knows, for messages: "Ge220, Ge440, Si111, Si220".
std::string monochromatorNames();

}  // namespace kelvarin
