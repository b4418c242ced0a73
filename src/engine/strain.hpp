// Strain-depth models (double half-Gaussian and Pearson VII) and the lamella stack derived from
// a strain profile.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "engine/state.hpp"

namespace kelvarin {

/// Thickness and strain of every lamella of one candidate.
struct StrainProfile {
    double thickness = 0;        ///< Å, the same for every lamella
    std::vector<double> strain;  ///< entries 1..N: 1 deepest (on the substrate), N at the surface
    int layerCount = 0;          ///< N
    ProfileArray profileThickness{};  ///< entries 1..N = thickness
    ProfileArray profileStrain{};     ///< entries 1..N, same order as `strain`

    StrainProfile() : strain(kMaxLayers + 1, 0.0) {}
};

/// Lamella thickness of the Pearson VII model, Å, whatever the number of lamellae.
inline constexpr double kPearsonThickness = 62.01125;

/// Largest Pearson VII shape exponent μ: beyond it the model's normalisation overflows (and the
/// profile is a Gaussian to single precision long before).
inline constexpr double kMaxPearsonMu = 1000;

/// Fills `out` from candidate columns 1..4 with the model `profileModel` (0 2Gauss: τ, ρ, σ1, σ2;
/// 1 Pearson VII: xc, A, w, μ) over `layerCount` lamellae. Throws EngineError for layerCount
/// outside 1..kMaxLayers or an unknown model, CandidateRejected for non-finite parameters, a
/// 2Gauss half-width of 0 or a negative depth ρ, and a Pearson VII μ ≤ 0.5, μ > kMaxPearsonMu or
/// w = 0.
/// Allocation-free once `out` exists.
void strainProfile(const CandidateRow& row, ProfileKind profileModel, int layerCount,
                   StrainProfile& out);

/// The four model parameters of a strain profile in double precision (τ, ρ, σ1, σ2 or
/// xc, A, w, μ), for a search that varies them smoothly.
using ProfileValues = std::array<double, 4>;

/// The same profile from double-precision parameters; for values that are single-precision
/// numbers the result is bit-identical to the overload above.
void strainProfile(const ProfileValues& values, ProfileKind profileModel, int layerCount,
                   StrainProfile& out);

/// ln Γ(v) by the six-coefficient Lanczos approximation (v rounded to single precision).
double lnGamma(double v);

/// Crystal values of the substrate (index 0) and of lamellae 1..N.
struct LayerStack {
    int layerCount = 0;
    double lambda = 0;              ///< wavelength, Å (rounded to double)
    std::vector<double> strain;     ///< ε_i
    std::vector<double> thickness;  ///< t_i, Å
    std::vector<Extended> V;        ///< cell volume, Å³ (entry 0: V0 rounded to double)
    std::vector<Extended> d;        ///< spacing, Å
    std::vector<Extended> Gamma;    ///< λ²·r_e/(V·π)
    std::vector<Extended> s;        ///< 1/(2d), 1/Å
    std::vector<Extended> thetaB;   ///< Bragg angle, radians
    /// Static Debye–Waller factor of each lamella's structure factor (1: perfect lamella).
    std::vector<double> damage;
    Extended F0i = 0;  ///< imaginary forward structure factor of substrate and lamellae, negated
    /// Each lamella's own crystal (entry i, null: the substrate's), from a sample's lamellae.
    std::vector<std::shared_ptr<const MaterialScattering>> material;

    LayerStack()
        : strain(kMaxLayers + 1),
          thickness(kMaxLayers + 1),
          V(kMaxLayers + 1),
          d(kMaxLayers + 1),
          Gamma(kMaxLayers + 1),
          s(kMaxLayers + 1),
          thetaB(kMaxLayers + 1),
          damage(kMaxLayers + 1, 1.0) {}

    /// Makes room for `layers` lamellae; keeps the storage it already has.
    void reserveLayers(int layers);
};

/// Largest |strain| of a lamella (a fraction, i.e. 100 %): the lamella keeps the substrate's
/// structure factor and only its spacing changes, which has no meaning for larger strains (the
/// dynamical theory then gives reflectivities above 1).
inline constexpr double kMaxStrain = 1.0;

/// Substrate and lamella values for `profile` on the crystal of `state` (lattice constants,
/// Miller indices, λ and f'' of radiationRecord). Throws EngineError for a set-up the geometry
/// rejects (see reflectionGeometry), CandidateRejected for a lamella whose strain makes 1 + ε ≤ 0,
/// exceeds kMaxStrain in magnitude or puts its reflection out of reach.
void layerStack(const StrainProfile& profile, const EngineState& state, LayerStack& out);

struct Sample;

/// The same for a sample of lamellae, each with its own thickness and damage factor (lamella 1
/// of the stack is the deepest, the sample lists them from the surface inward). Lamellae of a
/// sample made from a StrainProfile give exactly the stack of that profile.
void layerStack(const Sample& sample, const EngineState& state, LayerStack& out);

}  // namespace kelvarin
