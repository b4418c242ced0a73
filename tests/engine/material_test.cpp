// Crystals as site lists: the generic structure factor against the two-site one, perfect-crystal
// widths against an independent two-beam solution, an alloy layer's peak against Bragg's law.
#include <gtest/gtest.h>
#include <xraylib/xraylib.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "engine/alloy.hpp"
#include "engine/catalogue.hpp"
#include "engine/layered.hpp"
#include "engine/sample.hpp"

namespace kelvarin {
namespace {

constexpr double kCuKa1 = 1.540562;  // Å
constexpr double kArcsec = 3.14159265358979323846 / 648000;

const CrystalCatalogue& catalogue() {
    return CrystalCatalogue::standard();
}

Reflection cu(int h, int k, int l) {
    return Reflection{static_cast<Extended>(h), static_cast<Extended>(k), static_cast<Extended>(l),
                      Radiation{4, 0}};
}

TEST(MaterialScattering, SiteListGivesTheTwoSiteStructureFactorOfEveryWindowsCrystal) {
    // The same element data through the generic sum over sites must give the two-site result.
    for (const CrystalEntry& entry : crystalCatalogue()) {
        const CatalogueCrystal* c = catalogue().find(entry.name);
        ASSERT_NE(c, nullptr) << entry.name;
        // Cu K-alpha1 and Mo K-alpha1; an odd reflection mixes the sites' phases.
        for (const auto& [h, k, l, radiation] :
             {std::array{0, 0, 4, 4}, std::array{1, 1, -3, 4}, std::array{0, 0, 8, 5}}) {
            const std::array hkl{h, k, l};
            const Crystal crystal = Crystal::fromCatalogue(entry.name);
            const ScatteringTables t = scatteringTables(crystal.name);
            const Extended sValue = std::sqrt(Extended(h * h + k * k + l * l)) / (2 * crystal.a);
            const DispersionValues d = dispersionCorrections(radiation, 0, crystal.name);
            const StructureFactor G =
                structureFactor(formFactor(t, 1, sValue), formFactor(t, 2, sValue), d.f1Real,
                                d.f1Imag, d.f2Real, d.f2Imag, crystal.sites, h, k, l);
            const MaterialScattering m(c->name, c->structure, radiation, 0);
            const StructureFactor F = m.structureFactor(hkl[0], hkl[1], hkl[2], sValue);
            EXPECT_NEAR(F.strength, G.strength, 1e-9 * G.strength)
                << entry.name << hkl[2] << radiation;
            EXPECT_NEAR(F.kappa, G.kappa, 1e-9) << entry.name;
            EXPECT_NEAR(F.F0i, G.F0i, 1e-9) << entry.name;
        }
    }
}

TEST(MaterialScattering, DebyeWallerFactorsDampEachSiteAndLeaveTheForwardAbsorption) {
    // Rock salt 0 0 4: F = 4·(f_Mg·exp(−B_Mg·s²) + f_O·exp(−B_O·s²)) with f = f0 + f' + i·f''.
    CrystalStructure cold = makeStructure("rocksalt", {{{"Mg", 1}}, {{"O", 1}}});
    CrystalStructure warm = cold;
    warm.sites[0].debyeWallerB = 0.3;
    warm.sites[1].debyeWallerB = 0.5;
    const Extended s = 4 / (2 * 4.2112L);
    const MaterialScattering a("cold", cold, 4, 0), b("warm", warm, 4, 0);
    const StructureFactor F = a.structureFactor(0, 0, 4, s), G = b.structureFactor(0, 0, 4, s);
    const ResolvedElement mg("Mg", 4, 0), o("O", 4, 0);
    const Extended fMg = mg.formFactor(s) + mg.anomalous().fReal;
    const Extended fO = o.formFactor(s) + o.anomalous().fReal;
    EXPECT_NEAR(F.strength, 4 * (fMg + fO), 1e-12L);
    EXPECT_NEAR(G.strength, 4 * (fMg * std::exp(-0.3L * s * s) + fO * std::exp(-0.5L * s * s)),
                1e-12L);
    EXPECT_EQ(G.F0i, F.F0i);
}

/// Full width at half maximum (arcsec) of a curve sampled on a fine grid.
template <class Curve>
double fwhm(Curve&& r, double from, double to, double step) {
    std::vector<double> v;
    for (double t = from; t <= to; t += step)
        v.push_back(r(t));
    const double top = *std::max_element(v.begin(), v.end());
    std::size_t lo = 0, hi = v.size() - 1;
    while (v[lo] < top / 2)
        ++lo;
    while (v[hi] < top / 2)
        --hi;
    return static_cast<double>(hi - lo) * step;
}

struct Independent {
    const char* crystal;
    int l;
    // Atoms on each site and the element: the closed form of F(0 0 l) for these reflections,
    // where every atom of a site scatters in phase.
    std::vector<std::pair<int, double>> atoms;  // (Z, atoms per cell)
};

TEST(MaterialScattering, PerfectCrystalWidthsAgreeWithAnIndependentTwoBeamSolution) {
    // Symmetric Bragg case, σ polarisation, thick crystal: the textbook two-beam reflectivity
    // R = |η − sqrt(η² − 1)|² with η = (−b·Δθ·sin 2θB − (1 − b)/2·χ0)/(sqrt|b|·χh), b = −1,
    // χ = −r_e·λ²·F/(π·V), F summed here from xraylib's f0 + f' + i·f'' of each element.
    const std::vector<Independent> cases = {
        {"CeO2", 4, {{58, 4}, {8, 8}}},
        {"ZrO2", 4, {{40, 4}, {8, 8}}},
        {"MgO", 4, {{12, 4}, {8, 4}}},
        {"SrTiO3", 2, {{38, 1}, {22, 1}, {8, 3}}},
    };
    const double re = 2.8179403e-5;
    const double energy = 12.398419843320026 / kCuKa1;
    for (const Independent& c : cases) {
        const CatalogueCrystal* crystal = catalogue().find(c.crystal);
        ASSERT_NE(crystal, nullptr) << c.crystal;
        const double a = crystal->a;
        const double d = a / c.l;
        const double theta = std::asin(kCuKa1 / (2 * d));
        const double s = 1 / (2 * d);
        std::complex<double> Fh{0, 0}, F0{0, 0};
        for (const auto& [z, n] : c.atoms) {
            const double fp = Fi(z, energy, nullptr);
            const double fpp = std::fabs(Fii(z, energy, nullptr));
            Fh += n * std::complex<double>(FF_Rayl(z, s, nullptr) + fp, fpp);
            F0 += n * std::complex<double>(z + fp, fpp);
        }
        const double k = -re * kCuKa1 * kCuKa1 / (3.14159265358979323846 * a * a * a);
        const std::complex<double> chiH = k * Fh, chi0 = k * F0;
        const auto independent = [&](double t) {
            const std::complex<double> eta = (t * kArcsec * std::sin(2 * theta) - chi0) / chiH;
            std::complex<double> root = std::sqrt(eta * eta - 1.0);
            std::complex<double> X = eta - root;
            if (std::abs(X) > 1) X = eta + root;
            return std::norm(X);
        };
        const kelvarin::Setup setup = buildSetup(*crystal, cu(0, 0, c.l));
        const auto program = [&](double t) {
            return static_cast<double>(perfectCrystalReflectivity(setup, t));
        };
        const double want = fwhm(independent, -200, 200, 0.01);
        const double got = fwhm(program, -200, 200, 0.01);
        EXPECT_NEAR(got, want, 0.02 * want) << c.crystal << " 0 0 " << c.l;
        std::printf("%s 00%d width %.3f independent %.3f\n", c.crystal, c.l, got, want);
    }
}

TEST(AlloyLayer, AlGaAsPeakOnGaAsLiesWhereBraggsLawOnTheStrainedSpacingPutsIt) {
    // Al0.8Ga0.2As on GaAs 004, pseudomorphic: a_L by Vegard's law from AlAs 5.6616 Å and GaAs
    // 5.6534 Å, C11, C12 likewise (125.0, 53.4 and 122.1, 56.6 GPa), a⊥ from the tetragonal
    // distortion, the peak from Bragg's law. The lamellae carry no refraction, so the layer's
    // 1.4″ smaller refraction shift than GaAs's (its χ0 is 22 % smaller) is not in either.
    const double aS = 5.6534, aL = 0.8 * 5.6616 + 0.2 * 5.6534;
    const double c11 = 0.8 * 125.0 + 0.2 * 122.1, c12 = 0.8 * 53.4 + 0.2 * 56.6;
    const double aPerp = aL + 2 * c12 / c11 * (aL - aS);
    const double thetaS = std::asin(kCuKa1 * 4 / (2 * aS));
    const double thetaL = std::asin(kCuKa1 * 4 / (2 * aPerp));
    const double want = (thetaL - thetaS) / kArcsec;

    const CatalogueCrystal* gaas = catalogue().find("GaAs");
    ASSERT_NE(gaas, nullptr);
    const kelvarin::Setup setup = buildSetup(*gaas, cu(0, 0, 4));
    EngineState state;
    storeSetup(setup, state);
    const LayerMaterial m = resolveMaterial("Al0.8Ga0.2As", catalogue());
    Lamella layer;
    layer.thicknessAngstrom = 10000;
    layer.strain = layerStrain(m, gaas->a, 0, "layer 1");
    layer.material = std::make_shared<const MaterialScattering>(m.name, m.structure, 4, 0);
    LayerStack stack;
    layerStack(Sample{{layer}}, state, stack);
    LayeredConstants constants;
    prepareLayered(state, stack, constants);
    const auto r = [&](double t) {
        return static_cast<double>(referenceReflectivity(constants, Theory::Dynamical, t));
    };
    // The centre of the layer peak: midway between its half-maximum points.
    std::vector<double> v;
    const double from = want - 60, step = 0.02;
    for (double t = from; t <= want + 60; t += step)
        v.push_back(r(t));
    const auto top = std::max_element(v.begin(), v.end());
    auto lo = top, hi = top;
    while (lo != v.begin() && *lo > *top / 2)
        --lo;
    while (hi + 1 != v.end() && *hi > *top / 2)
        ++hi;
    const double centre =
        from + step * static_cast<double>((lo - v.begin()) + (hi - v.begin())) / 2;
    EXPECT_NEAR(centre, want, 2.0);
    std::printf("AlGaAs peak %.3f Bragg %.3f\n", centre, want);
}

}  // namespace
}  // namespace kelvarin
