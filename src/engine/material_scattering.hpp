// The structure factor of a crystal given as a list of sites, at one radiation: the generic sum
// F_h = Σ_sites Σ_positions Σ_elements fraction·(f0(s) + f' + i·f'')·exp(−B·s²)·exp(2πi·h·r).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/crystal_structure.hpp"
#include "engine/element_data.hpp"
#include "engine/geometry.hpp"

namespace kelvarin {

class MaterialScattering {
public:
    /// The sites of `structure` with each element's data at radiation `radiationIndex` (0..5
    /// tube lines, 6 synchrotron at `lambda` Å). Throws MaterialError for an unknown element.
    MaterialScattering(std::string name, const CrystalStructure& structure, int radiationIndex,
                       Extended lambda);

    /// The same elements (their data already resolved) on the sites of `structure`, which must
    /// hold no element this crystal lacks: an alloy at another composition. Throws
    /// MaterialError for a new element.
    MaterialScattering withStructure(std::string name, const CrystalStructure& structure) const;

    const std::string& name() const { return name_; }
    const CrystalStructure& structure() const { return structure_; }

    /// F of reflection (h k l) at s = sin θB / λ (1/Å), in the same parts as the two-site
    /// structure factor: Fhr + i·Fhi, the forward terms F0r = Σ fraction·(f0(0) + f') and
    /// F0i = Σ fraction·f'', |F′| and
    /// κ = |F″|/|F′| with F′ the part without f'' and F″ the part of f'' alone.
    StructureFactor structureFactor(Extended h, Extended k, Extended l, Extended s) const;

    /// Σ fraction·(f0(s) + f') over every atom: what a forbidden reflection's |F′| vanishes
    /// against.
    Extended atomicScattering(Extended s) const;

    /// The elements and where their data came from ("Zr: xraylib"), for listings.
    std::vector<std::string> sources() const;

private:
    MaterialScattering() = default;
    void buildSites(int radiationIndex, Extended lambda, bool resolveNew);

    struct Species {
        std::size_t element;  ///< index into elements_
        double fraction;
    };
    struct Site {
        std::vector<Species> species;
        std::vector<std::array<double, 3>> positions;
        double B;
    };
    std::string name_;
    CrystalStructure structure_;
    std::vector<ResolvedElement> elements_;
    std::vector<Site> sites_;
};

/// The reflection (h k l) of `m` at s with the check that it is not forbidden. Throws
/// EngineError naming the reflection and the crystal when |F′| vanishes against the atoms.
StructureFactor allowedStructureFactor(const MaterialScattering& m, Extended h, Extended k,
                                       Extended l, Extended s);

}  // namespace kelvarin
