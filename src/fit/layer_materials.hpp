// The crystals of a project: the catalogue it sees (shipped, the user's, the project's own file),
// its substrate's set-up, and the lamellae that carry a crystal of their own (a catalogue crystal
// or an alloy, whose composition may be a fitted parameter) with the strain that crystal brings.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/alloy.hpp"
#include "engine/sample.hpp"
#include "fit/fit_problem.hpp"
#include "fit/parameter_table.hpp"

namespace kelvarin::fit {

struct Project;

/// The crystal of one [[sample.layer]].
struct LayerMaterialSpec {
    std::string material;  ///< catalogue crystal or alloy formula; empty: the substrate's
    /// Relaxation R: 0 pseudomorphic (in-plane lattice of the substrate), 1 fully relaxed.
    double relaxation = 0;
    /// The layer gives its strain itself: its crystal changes the structure factor only.
    bool strainGiven = false;
    /// The composition x of a formula that holds one ("GaAs1-xPx"), fixed or fitted.
    std::optional<Parameter> x;
};

/// The catalogue of a project: the standard one (shipped file and the user's file) and the
/// project's own `crystals` file, named relative to the project's folder (none when empty).
/// Throws ProjectError listing every problem of the project's own file.
std::shared_ptr<const CrystalCatalogue> projectCatalogue(const std::string& projectPath,
                                                         const std::string& crystalsFile);

/// The set-up of the project's substrate for one reflection.
Setup substrateSetup(const Project& project, const Reflection& reflection);

/// The lamellae of a project's sample that have their own crystal, lamella k of the sample (from
/// the surface) taking the crystal of layer k. Each gets its crystal at the radiation of each
/// dataset, and, unless its strain is given, the strain the crystal brings on the substrate is
/// added to the model's strain of that lamella.
class LayerMaterials : public SampleAdjustment {
public:
    /// `radiations`: one per dataset. `xParameters[k]`: the table index of layer k's fitted
    /// composition, or −1 for its fixed value. Throws ProjectError naming the layer for a
    /// material that cannot be resolved or a strain without elastic constants.
    LayerMaterials(const Project& project, const std::vector<Radiation>& radiations,
                   std::vector<int> xParameters);

    /// Whether any layer has a crystal of its own.
    bool any() const;

    void apply(std::span<const Extended> values, std::size_t dataset,
               Sample& sample) const override;
    /// The same at the compositions the project gives (for curves without a fit).
    void applyGiven(std::size_t dataset, Sample& sample) const;

private:
    struct Layer {
        LayerMaterialSpec spec;
        int xParameter = -1;
        /// Per dataset: the crystal at a fixed composition, or the element data of an alloy
        /// whose composition changes.
        std::vector<std::shared_ptr<const MaterialScattering>> scattering;
        double strain = 0;  ///< of a fixed composition
    };
    void applyLayer(const Layer& layer, std::size_t k, std::size_t dataset, std::optional<double> x,
                    Sample& sample) const;

    std::shared_ptr<const CrystalCatalogue> catalogue_;
    double substrateA_ = 0;
    std::vector<Layer> layers_;
};

}  // namespace kelvarin::fit
