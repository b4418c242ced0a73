// Strain-depth models: each declares its parameters (name, unit, default limits) and fills the
// lamellae of a sample from values of them.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/sample.hpp"
#include "engine/strain.hpp"
#include "fit/parameter_table.hpp"

namespace kelvarin::fit {

/// "2gauss", "pearson", "bspline", "boxes" or "ion-profile".
const char* profileKindName(ProfileKind kind);

class ProfileModel {
public:
    virtual ~ProfileModel() = default;
    virtual ProfileKind kind() const = 0;
    /// The model's parameters with their default limits, in the order fill() takes them.
    virtual std::vector<Parameter> declare() const = 0;
    /// Fills `profile` (lamella 1 deepest) from `values` (one per declared parameter). Throws
    /// CandidateRejected for values the model cannot turn into a profile. Models that fill a
    /// sample only throw EngineError.
    virtual void fill(std::span<const Extended> values, StrainProfile& profile) const;
    /// Whether the model fills a Sample (lamellae of their own thickness with damage) rather than
    /// the windows' StrainProfile.
    virtual bool fillsSample() const { return false; }
    /// Fills `sample` (from the surface inward) from `values`; by default through fill().
    /// Throws CandidateRejected, naming the parameter, for values that give no usable sample.
    virtual void fillSample(std::span<const Extended> values, Sample& sample) const;
    /// Lamellae of the profiles it makes.
    virtual int layers() const = 0;
};

/// The double half-Gaussian or the Pearson VII model over `layers` lamellae (1..kMaxLayers),
/// with exactly the arithmetic of the windows' refinement. The values are used in double
/// precision; values rounded to single precision (as the windows' search stores them, see
/// FitProblem::setSinglePrecision) give the windows' profile bit for bit. Throws EngineError for a
/// layer count out of range.
std::unique_ptr<ProfileModel> makeProfileModel(ProfileKind kind, int layers);

}  // namespace kelvarin::fit
