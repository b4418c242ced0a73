#include "engine/catalogue.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

namespace kelvarin {
namespace {

TEST(Catalogue, EntriesAreConsistent) {
    const auto& catalogue = crystalCatalogue();
    std::set<std::string_view> names;
    std::set<std::string> constants;
    int elemental = 0;
    for (const auto& crystal : catalogue) {
        SCOPED_TRACE(std::string(crystal.name));
        EXPECT_TRUE(names.insert(crystal.name).second) << "name listed twice";
        EXPECT_EQ(findCrystal(crystal.name), &crystal);
        if (crystal.atoms == 1) {
            ++elemental;
            EXPECT_EQ(crystal.site1, crystal.name);
            EXPECT_EQ(crystal.site2, crystal.name);
        } else {
            EXPECT_EQ(crystal.atoms, 2);
            EXPECT_EQ(std::string(crystal.site1) + std::string(crystal.site2), crystal.name);
        }
        // A lattice constant shared by two different crystals is a copied row.
        EXPECT_TRUE(constants.insert(crystal.latticeText('.')).second)
            << "lattice constant " << crystal.latticeText('.') << " repeats another crystal's";
        const Extended a = crystal.latticeAngstrom();
        EXPECT_GT(a, 3.5L);
        EXPECT_LT(a, 6.6L);
        EXPECT_NEAR(static_cast<double>(a), std::stod(crystal.latticeText('.')), 1e-12);
    }
    EXPECT_EQ(elemental, 4);
    EXPECT_EQ(findCrystal("Cd"), nullptr);
    EXPECT_EQ(findCrystal("0"), nullptr);
    EXPECT_EQ(findCrystal(""), nullptr);
}

TEST(Catalogue, LatticeConstantsMatchReferenceValues) {
    // Room-temperature values from the literature, Å, with the tolerance of a 0.3 % misfit.
    const struct {
        const char* name;
        double a;
    } references[] = {{"Si", 5.4310},   {"Ge", 5.6579}, {"Sn", 6.4892},  {"GaAs", 5.6533},
                      {"InAs", 6.0583}, {"InN", 4.98},  {"InP", 5.8687}, {"InSb", 6.4794},
                      {"ZnSe", 5.6676}, {"CdTe", 6.481}};
    for (const auto& reference : references) {
        const CrystalEntry* crystal = findCrystal(reference.name);
        ASSERT_NE(crystal, nullptr) << reference.name;
        EXPECT_NEAR(static_cast<double>(crystal->latticeAngstrom()), reference.a,
                    0.003 * reference.a)
            << reference.name;
    }
    EXPECT_EQ(findCrystal("Sn")->latticeText(','), "6,4892");
    EXPECT_EQ(findCrystal("InN")->latticeText('.'), "4.98");
    EXPECT_EQ(findCrystal("InAs")->latticeText('.'), "6.05838");
    EXPECT_EQ(findCrystal("GaSb")->latticeText(','), "6,0954");
}

TEST(Catalogue, SitePositionRules) {
    const struct {
        const char* name;
        bool site1;
        bool site2;
    } cases[] = {
        {"GaAs", true, true}, {"GaN", true, true},   {"Si", true, true},  {"C", true, true},
        {"Sn", true, true},   {"SiC", true, true},   {"CdS", true, true}, {"CdSe", true, true},
        {"ZnTe", true, true}, {"InSb", true, true},  {"0", false, false}, {"", false, false},
        {"Cd", true, false},  {"NAs", false, false}, {"Ga", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(writesSite1Positions(c.name), c.site1) << c.name;
        EXPECT_EQ(writesSite2Positions(c.name), c.site2) << c.name;
    }
}

TEST(Catalogue, SublatticesFormTheDiamondStructure) {
    // Site 2 is site 1 shifted by (1/4, 1/4, 1/4); site 1 is the face-centred cubic lattice.
    for (std::size_t atom = 0; atom < 4; ++atom)
        for (std::size_t axis = 0; axis < 3; ++axis)
            EXPECT_EQ(kSite2Positions[atom][axis], kSite1Positions[atom][axis] + 0.25L);
    EXPECT_EQ(positionText(0, ','), "0");
    EXPECT_EQ(positionText(0.5L, ','), "0,5");
    EXPECT_EQ(positionText(0.25L, '.'), "0.25");
    EXPECT_EQ(positionText(0.75L, ','), "0,75");
}

}  // namespace
}  // namespace kelvarin
