// Strain-depth models that fill a sample of lamellae, each with its own thickness and damage
// factor: the double half-Gaussian and Pearson VII in double precision with a free stack depth or
// lamella thickness, the free-form cubic B-spline, each combined with a damage model.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fit/profile_model.hpp"

namespace kelvarin::fit {

/// How the static Debye–Waller factor f = exp(−L_H) of each lamella is modelled.
enum class DamageKind {
    None,          ///< f = 1: perfect lamellae
    Proportional,  ///< L_H proportional to the strain; one parameter, f at the strain maximum
    BSpline,       ///< f a cubic B-spline of its own weights over the strained depth, 1 below it
};

/// "none", "proportional" or "bspline".
const char* damageKindName(DamageKind kind);

/// Everything that shapes a strain model besides its parameters.
struct ProfileSettings {
    ProfileKind strain = ProfileKind::TwoGauss;
    DamageKind damage = DamageKind::None;
    int layers = 16;         ///< lamellae of the double half-Gaussian and the Pearson VII
    int weights = 10;        ///< strain weights of the B-spline (4 or more)
    int damageWeights = 8;   ///< weights of the B-spline damage (4 or more)
    double maxLamella = 20;  ///< Å, thickest lamella the B-spline depth is cut into
    /// The double half-Gaussian with its stack depth (depth_ratio) or the Pearson VII with its
    /// lamella thickness (thickness) as parameters, on the sample path even without damage.
    bool extended = false;
    int boxes = 1;  ///< layers of the boxes model, from the surface inward
    /// The imported depth profile of the ion-profile model: depth from the surface (Å, rising)
    /// and concentration (any unit, some above 0).
    std::vector<std::array<double, 2>> ionProfile{};
};

/// Reads a two-column depth (Å) / concentration file for the ion-profile model. Throws
/// EngineError naming the file for a file that cannot be read, an odd count of numbers, depths
/// that do not rise, a negative depth or concentration, or no concentration above 0.
std::vector<std::array<double, 2>> readIonProfile(const std::string& path);

/// Lamellae from the surface inward with strain (a fraction) and damage factor, for any
/// combination of strain and damage model.
class SampleProfileModel : public ProfileModel {
public:
    /// Throws EngineError naming the setting for a layer count outside 1..kMaxLayers, fewer than
    /// 4 weights, a maximum lamella thickness that is not above 0, boxes outside
    /// 1..kMaxSampleLamellae or boxes with a damage model (each box has its own damage).
    explicit SampleProfileModel(const ProfileSettings& settings);
    ProfileKind kind() const override { return settings_.strain; }
    int layers() const override { return settings_.layers; }
    bool fillsSample() const override { return true; }
    const ProfileSettings& settings() const { return settings_; }

    /// Strain parameters first (tau, ro, sigma1, sigma2, depth_ratio; xc, A, w, mu, thickness;
    /// depth, strain1..strainN in %; boxK_thickness, boxK_strain in %, boxK_damage;
    /// strain_max in %), then
    /// damage_max or damage1..damageM.
    std::vector<Parameter> declare() const override;
    void fillSample(std::span<const Extended> values, Sample& sample) const override;

private:
    /// Fills thickness and strain of every lamella; returns the number of values it used.
    std::size_t fillStrain(std::span<const Extended> values, Sample& sample) const;
    void fillDamage(std::span<const Extended> values, Sample& sample) const;

    ProfileSettings settings_;
};

/// The windows' model (bit for bit the windows' arithmetic) when the settings ask for nothing
/// else, otherwise a SampleProfileModel. Throws EngineError for settings that give no model.
std::unique_ptr<ProfileModel> makeProfileModel(const ProfileSettings& settings);

}  // namespace kelvarin::fit
