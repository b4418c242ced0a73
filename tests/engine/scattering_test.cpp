#include "engine/scattering.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/scattering_catalogue.hpp"

namespace kelvarin {
namespace {

Extended f0(const std::string& name, int site, Extended s) {
    return formFactor(scatteringTables(name), site, s);
}

TEST(FormFactor, EveryElementScattersItsElectronCountAtZeroAngle) {
    // The amplitudes of each set add up to the atomic number of the neutral atom.
    for (const ElementScattering& e : scatteringCatalogue()) {
        for (int set = 0; set < 3; ++set) {
            Extended sum = 0;
            for (Extended a : e.sets[set].a)
                sum += a;
            EXPECT_NEAR(static_cast<double>(sum), e.atomicNumber, 0.004)
                << e.symbol << " set " << set + 1;
        }
    }
    EXPECT_NEAR(static_cast<double>(f0("C", 1, 0)), 6.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(f0("Si", 2, 0)), 13.9995, 5e-5);
}

TEST(FormFactor, SiliconAtTheThreeRangesOfS) {
    // Si 0 0 4 with a = 5.4309 Å: s = 1/(2d) = 2/a.
    const Extended s004 = 2.0L / 5.4309L;
    EXPECT_NEAR(static_cast<double>(s004), 0.36826, 5e-6);
    EXPECT_NEAR(static_cast<double>(f0("Si", 1, s004)), 7.5141, 5e-5);
    EXPECT_NEAR(static_cast<double>(f0("Si", 1, 2)), 1.2646, 5e-5);
    EXPECT_NEAR(static_cast<double>(f0("Si", 1, 4.5L)), 0.4407, 5e-5);
    // Both sites of the elemental crystal carry the same element.
    EXPECT_EQ(f0("Si", 1, s004), f0("Si", 2, s004));
}

TEST(FormFactor, BoundariesBelongToTheMiddleSet) {
    // Sets with one constant term of 1, 2 and 3 electrons show which set was used.
    CoefficientTable a1{}, a2{}, a3{}, b{};
    a1[1] = 1;
    a2[1] = 2;
    a3[1] = 3;
    auto set = [&](Extended s) { return formFactor(a1, a2, a3, b, b, b, s); };
    EXPECT_EQ(set(0), 1);
    EXPECT_EQ(set(std::nextafter(2.0L, 0.0L)), 1);
    EXPECT_EQ(set(2), 2);
    EXPECT_EQ(set(3), 2);
    EXPECT_EQ(set(4), 2);
    EXPECT_EQ(set(std::nextafter(4.0L, 5.0L)), 3);
    EXPECT_EQ(set(6), 3);

    // The real fits join closely at the boundaries (Si within 0.01 electron).
    const Extended below2 = std::nextafter(2.0L, 0.0L), above4 = std::nextafter(4.0L, 5.0L);
    EXPECT_NEAR(static_cast<double>(f0("Si", 1, below2)), static_cast<double>(f0("Si", 1, 2)),
                0.01);
    EXPECT_NEAR(static_cast<double>(f0("Si", 1, above4)), static_cast<double>(f0("Si", 1, 4)),
                0.01);
}

TEST(FormFactor, SulphurAgreesWithIndependentTabulation) {
    // Hubbell et al. (1975) form factors of S as given by xraylib 4.0 FF_Rayl(16, s).
    const std::pair<Extended, double> reference[] = {
        {0.1L, 14.172}, {0.36826L, 8.16521}, {1, 3.5583}, {2, 1.4044},
        {3, 1.0101},    {4.5L, 0.58330},     {6, 0.3098},
    };
    for (const auto& [s, expected] : reference) {
        EXPECT_NEAR(static_cast<double>(f0("ZnS", 2, s)), expected, 0.02) << "s = " << s;
        EXPECT_EQ(f0("CdS", 2, s), f0("ZnS", 2, s));
    }
}

TEST(ScatteringCoefficient, EveryCatalogueCrystalGetsItsTwoElements) {
    // Atomic numbers of site 1 and site 2 for each compound name of the crystal catalogue.
    const std::vector<std::tuple<std::string, int, int>> crystals = {
        {"C", 6, 6},      {"Si", 14, 14},   {"Ge", 32, 32},   {"Sn", 50, 50},   {"SiC", 14, 6},
        {"AlN", 13, 7},   {"AlP", 13, 15},  {"AlAs", 13, 33}, {"AlSb", 13, 51}, {"GaN", 31, 7},
        {"GaP", 31, 15},  {"GaAs", 31, 33}, {"GaSb", 31, 51}, {"InN", 49, 7},   {"InP", 49, 15},
        {"InAs", 49, 33}, {"InSb", 49, 51}, {"ZnS", 30, 16},  {"ZnSe", 30, 34}, {"ZnTe", 30, 52},
        {"CdS", 48, 16},  {"CdSe", 48, 34}, {"CdTe", 48, 52},
    };
    for (const auto& [name, z1, z2] : crystals) {
        for (int k = 1; k <= 12; ++k)
            for (int j = 1; j <= 6; ++j)
                EXPECT_NO_THROW(scatteringCoefficient(name, k, j)) << name << " " << k << " " << j;
        // f0(0) from the coefficients as the Start run fetches them, one at a time.
        Extended site1 = 0, site2 = 0;
        for (int j = 1; j <= 6; ++j) {
            site1 += scatteringCoefficient(name, 1, j);
            site2 += scatteringCoefficient(name, 7, j);
        }
        EXPECT_NEAR(static_cast<double>(site1), z1, 0.004) << name;
        EXPECT_NEAR(static_cast<double>(site2), z2, 0.004) << name;
    }
}

TEST(ScatteringCoefficient, RefusesWhatItCannotServe) {
    auto message = [](const std::string& name, int k, int j) -> std::string {
        try {
            scatteringCoefficient(name, k, j);
        } catch (const ScatteringError& e) {
            return e.what();
        }
        return "";
    };
    // No crystal chosen yet.
    EXPECT_NE(message("0", 1, 1).find("No crystal"), std::string::npos);
    // A name outside the catalogue, whole or half (a stale first click).
    EXPECT_NE(message("Xy", 3, 2).find("'Xy'"), std::string::npos);
    EXPECT_NO_THROW(scatteringCoefficient("Zn", 1, 1));
    EXPECT_NE(message("Zn", 7, 1).find("site 2"), std::string::npos);
    // Indices outside the tables.
    EXPECT_NE(message("Si", 0, 1).find("table 0"), std::string::npos);
    EXPECT_NE(message("Si", 13, 1).find("table 13"), std::string::npos);
    EXPECT_NE(message("Si", 1, 0).find("term 0"), std::string::npos);
    EXPECT_NE(message("Si", 1, 7).find("term 7"), std::string::npos);
    EXPECT_THROW(formFactor(scatteringTables("Si"), 3, 0.5L), ScatteringError);
}

DispersionValues tube(int line, const std::string& name) {
    return dispersionCorrections(line, 0, name, {});
}

TEST(TubeDispersion, BuiltInValuesReachTheRightSites) {
    const DispersionValues sic = tube(4, "SiC");  // Cu K-alpha1
    EXPECT_EQ(sic.lambda, static_cast<Extended>(1.540562));
    EXPECT_EQ(sic.f1Real, 0.2538L);
    EXPECT_EQ(sic.f1Imag, 0.3294L);
    EXPECT_EQ(sic.f2Real, 0.0178L);
    EXPECT_EQ(sic.f2Imag, 0.009L);

    const DispersionValues c = tube(2, "C");  // Co K-alpha1
    EXPECT_EQ(c.lambda, static_cast<Extended>(1.78896));
    EXPECT_EQ(c.f1Real, 0.0234L);
    EXPECT_EQ(c.f1Imag, 0.0125L);
    EXPECT_EQ(c.f2Real, c.f1Real);
    EXPECT_EQ(c.f2Imag, c.f1Imag);

    const DispersionValues si = tube(5, "Si");  // Mo K-alpha1
    EXPECT_EQ(si.f2Real, 0.0823L);
    EXPECT_EQ(si.f2Imag, 0.0707L);

    const DispersionValues gan = tube(0, "GaN");  // Cr K-alpha1
    EXPECT_EQ(gan.lambda, static_cast<Extended>(2.2897));
    EXPECT_EQ(gan.f1Real, -0.4978L);
    EXPECT_EQ(gan.f2Imag, 0.0416L);

    const DispersionValues insb = tube(1, "InSb");  // Fe K-alpha1
    EXPECT_EQ(insb.f1Imag, 7.3557L);
    EXPECT_EQ(insb.f2Real, -0.9524L);

    // Sulphur has values of its own, close to those of its neighbour phosphorus.
    const DispersionValues zns = tube(4, "ZnS");
    EXPECT_EQ(zns.f1Real, -1.5514L);
    EXPECT_NEAR(static_cast<double>(zns.f2Real), 0.33, 0.03);
    EXPECT_NEAR(static_cast<double>(zns.f2Imag), 0.56, 0.03);
}

TEST(TubeDispersion, UnknownCrystalKeepsZeroCorrections) {
    const DispersionValues d = tube(3, "0");
    EXPECT_EQ(d.lambda, static_cast<Extended>(1.65791));
    EXPECT_EQ(d.f1Real, 0);
    EXPECT_EQ(d.f1Imag, 0);
    EXPECT_EQ(d.f2Real, 0);
    EXPECT_EQ(d.f2Imag, 0);
    EXPECT_THROW(tube(-1, "Si"), ScatteringError);
    EXPECT_THROW(tube(7, "Si"), ScatteringError);
}

}  // namespace
}  // namespace kelvarin
