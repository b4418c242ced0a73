#include "engine/material_scattering.hpp"

#include <cmath>
#include <complex>

#include "engine/engine_error.hpp"

namespace kelvarin {

MaterialScattering::MaterialScattering(std::string name, const CrystalStructure& structure,
                                       int radiationIndex, Extended lambda)
    : name_(std::move(name)), structure_(structure) {
    buildSites(radiationIndex, lambda, true);
}

MaterialScattering MaterialScattering::withStructure(std::string name,
                                                     const CrystalStructure& structure) const {
    MaterialScattering m;
    m.name_ = std::move(name);
    m.structure_ = structure;
    m.elements_ = elements_;
    m.buildSites(0, 0, false);
    return m;
}

void MaterialScattering::buildSites(int radiationIndex, Extended lambda, bool resolveNew) {
    if (structure_.sites.empty())
        throw MaterialError("The crystal '" + name_ + "' has a structure with no atoms");
    sites_.clear();
    for (const CrystalSite& cs : structure_.sites) {
        Site site{{}, cs.positions, cs.debyeWallerB};
        for (const SiteSpecies& sp : cs.species) {
            std::size_t index = elements_.size();
            for (std::size_t e = 0; e < elements_.size(); ++e)
                if (elements_[e].symbol() == sp.element) index = e;
            if (index == elements_.size()) {
                if (!resolveNew)
                    throw MaterialError("The crystal '" + name_ + "' holds " + sp.element +
                                        ", which its other compositions lack");
                try {
                    elements_.emplace_back(sp.element, radiationIndex, lambda);
                } catch (const MaterialError& e) {
                    throw MaterialError("The crystal '" + name_ + "': " + e.what());
                }
            }
            site.species.push_back({index, sp.fraction});
        }
        if (site.species.empty() || site.positions.empty())
            throw MaterialError("The crystal '" + name_ + "' has a site with no atoms");
        sites_.push_back(std::move(site));
    }
}

StructureFactor MaterialScattering::structureFactor(Extended h, Extended k, Extended l,
                                                    Extended s) const {
    using C = std::complex<Extended>;
    std::vector<Extended> f0(elements_.size());
    for (std::size_t e = 0; e < elements_.size(); ++e)
        f0[e] = elements_[e].formFactor(s);
    C plain{0, 0};             // F′ = Σ (f0 + f')·w·e^{ip}
    C absorbing{0, 0};         // F″ = Σ f''·w·e^{ip}
    Extended forward = 0;      // Σ f'' of every atom
    Extended forwardReal = 0;  // Σ (f0(0) + f') of every atom
    std::vector<Extended> electrons(elements_.size());
    for (std::size_t e = 0; e < elements_.size(); ++e)
        electrons[e] = elements_[e].formFactor(0) + elements_[e].anomalous().fReal;
    for (const Site& site : sites_) {
        const Extended dw = std::exp(-static_cast<Extended>(site.B) * s * s);
        Extended fr = 0, fi = 0, fi0 = 0, fr0 = 0;
        for (const Species& sp : site.species) {
            fr0 += sp.fraction * electrons[sp.element];
            const AnomalousTerms& a = elements_[sp.element].anomalous();
            fr += sp.fraction * (f0[sp.element] + a.fReal) * dw;
            fi += sp.fraction * a.fImag * dw;
            fi0 += sp.fraction * a.fImag;
        }
        for (const auto& r : site.positions) {
            const Extended p = 2 * kPi * (h * r[0] + k * r[1] + l * r[2]);
            const C phase(std::cos(p), std::sin(p));
            plain += fr * phase;
            absorbing += fi * phase;
            forward += fi0;
            forwardReal += fr0;
        }
    }
    StructureFactor F;
    const C total = plain + C(0, 1) * absorbing;
    F.Fhr = total.real();
    F.Fhi = total.imag();
    F.F0i = forward;
    F.F0r = forwardReal;
    F.strength = std::abs(plain);
    F.kappa = F.strength > 0 ? std::abs(absorbing) / F.strength : 0;
    return F;
}

Extended MaterialScattering::atomicScattering(Extended s) const {
    Extended sum = 0;
    for (const Site& site : sites_)
        for (const Species& sp : site.species) {
            const Extended f =
                elements_[sp.element].formFactor(s) + elements_[sp.element].anomalous().fReal;
            sum += sp.fraction * std::fabs(f) * static_cast<Extended>(site.positions.size());
        }
    return sum;
}

std::vector<std::string> MaterialScattering::sources() const {
    std::vector<std::string> out;
    for (const ResolvedElement& e : elements_)
        out.push_back(e.symbol() + ": " + e.source());
    return out;
}

StructureFactor allowedStructureFactor(const MaterialScattering& m, Extended h, Extended k,
                                       Extended l, Extended s) {
    const StructureFactor F = m.structureFactor(h, k, l, s);
    // A forbidden reflection cancels the atoms only to rounding: below a millionth of their
    // scattering counts as zero.
    if (!(F.strength > 1e-6L * m.atomicScattering(s)) || !std::isfinite(F.kappa))
        throw EngineError("The reflection " + std::to_string(static_cast<int>(h)) + " " +
                          std::to_string(static_cast<int>(k)) + " " +
                          std::to_string(static_cast<int>(l)) + " is forbidden for " + m.name() +
                          ": its structure factor (|F| = " + engineNumber(F.strength) +
                          ") vanishes against the atomic scattering factors.");
    return F;
}

}  // namespace kelvarin
