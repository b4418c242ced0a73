// The crystal catalogue file, user files with errors, alloy formulas and layer strain.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/alloy.hpp"
#include "engine/catalogue.hpp"
#include "engine/crystal_catalogue.hpp"

namespace kelvarin {
namespace {

const CrystalCatalogue& shipped() {
    return CrystalCatalogue::standard();
}

TEST(CrystalCatalogue, ShippedFileHoldsEveryCrystalWithSourcesAndTheWindowsValuesOrCorrections) {
    EXPECT_TRUE(shipped().warnings().empty()) << shipped().warnings().front();
    for (const char* name : {"MgO", "NiO", "CeO2", "ZrO2", "YSZ", "UO2", "CaF2", "SrTiO3"})
        EXPECT_NE(shipped().find(name), nullptr) << name;
    for (const CatalogueCrystal& c : shipped().crystals()) {
        EXPECT_FALSE(c.aSource.empty()) << c.name;
        EXPECT_EQ(c.c11.has_value(), !c.elasticSource.empty()) << c.name;
    }
    // The lattice constants more than 0.1 % off the literature are corrected; the others are
    // the windows' values.
    const std::map<std::string, double> corrected = {{"SiC", 4.3596}, {"AlN", 4.38},
                                                     {"AlP", 5.4635}, {"GaN", 4.50},
                                                     {"CdS", 5.818},  {"CdSe", 6.077}};
    for (const CrystalEntry& e : crystalCatalogue()) {
        const CatalogueCrystal* c = shipped().find(e.name);
        ASSERT_NE(c, nullptr) << e.name;
        const auto fix = corrected.find(std::string(e.name));
        const double want =
            fix != corrected.end() ? fix->second : static_cast<double>(e.latticeAngstrom());
        EXPECT_DOUBLE_EQ(c->a, want) << e.name;
        EXPECT_EQ(c->structure.sites[0].species[0].element, e.site1) << e.name;
        EXPECT_EQ(c->structure.sites[1].species[0].element, e.site2) << e.name;
    }
}

TEST(CrystalCatalogue, UserFileErrorsNameFileEntryAndLineAndLeaveTheRestLoaded) {
    struct Case {
        const char* entry;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"name = \"X1\"\nstructure = \"rocksalt\"\nsites = [\"Mg\", \"Oo\"]\na = 4.2",
         "'Oo' is not an element symbol"},
        {"name = \"X1\"\nstructure = \"rocksalt\"\nsites = [{ Mg = 0.8, Ni = 0.3 }, \"O\"]\na = "
         "4.2",
         "must add up to 1 at most"},
        {"name = \"X1\"\nstructure = \"rocksalt\"\nsites = [\"Mg\", \"O\"]\na = 0",
         "'a' is 0; it must be above 0 Å"},
        {"name = \"X1\"\nstructure = \"rocksalt\"\nsites = []\na = 4.2", "has 2 sites, not 0"},
        {"name = \"X1\"\nstructure = \"rocksalt\"\nsites = [{}, \"O\"]\na = 4.2", "has no atoms"},
        {"name = \"X1\"\nstructure = \"spinel\"\nsites = [\"Mg\", \"O\"]\na = 4.2",
         "'spinel' is not known"},
        {"name = \"X1\"\nstructure = \"rocksalt\"\nsites = [\"Mg\", \"O\"]", "needs its lattice"},
        {"name = \"GaAs\"\nc11 = -3", "'c11' is -3"},
        {"name = \"GaAs\"\ncolour = \"grey\"", "'colour' is not known"},
    };
    for (const Case& c : cases) {
        CrystalCatalogue catalogue = shipped();
        std::vector<std::string> problems;
        const std::string text =
            "[[crystal]]\nname = \"Y1\"\nstructure = \"rocksalt\"\n"
            "sites = [\"Ni\", \"O\"]\na = 4.18\n\n[[crystal]]\n" +
            std::string(c.entry) + "\n";
        EXPECT_EQ(catalogue.addText(text, "mine.toml", problems), 1) << c.entry;
        ASSERT_EQ(problems.size(), 1u) << c.entry;
        EXPECT_NE(problems[0].find("mine.toml, crystal '"), std::string::npos) << problems[0];
        EXPECT_NE(problems[0].find("line "), std::string::npos) << problems[0];
        EXPECT_NE(problems[0].find(c.message), std::string::npos) << problems[0];
        EXPECT_NE(catalogue.find("Y1"), nullptr);
        EXPECT_DOUBLE_EQ(catalogue.find("GaAs")->a, 5.6534);
    }
    // A file that is not TOML adds nothing and keeps the shipped crystals.
    CrystalCatalogue catalogue = shipped();
    std::vector<std::string> problems;
    EXPECT_EQ(catalogue.addText("[[crystal]\nname = ", "bad.toml", problems), 0);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("bad.toml, line 1"), std::string::npos) << problems[0];
    EXPECT_EQ(catalogue.crystals().size(), shipped().crystals().size());
    // An override changes only what it gives.
    EXPECT_EQ(catalogue.addText("[[crystal]]\nname = \"GaAs\"\na = 5.65\n", "o.toml", problems), 1);
    EXPECT_DOUBLE_EQ(catalogue.find("GaAs")->a, 5.65);
    EXPECT_DOUBLE_EQ(*catalogue.find("GaAs")->c11, 122.1);
}

TEST(CrystalCatalogue, AMissingDataFileOrABrokenUserFileLeavesTheOtherCrystals) {
    const CrystalCatalogue bare = CrystalCatalogue::load("/nonexistent/crystals.toml", "");
    EXPECT_EQ(bare.crystals().size(), crystalCatalogue().size());
    ASSERT_EQ(bare.warnings().size(), 1u);
    EXPECT_NE(bare.warnings()[0].find("/nonexistent/crystals.toml"), std::string::npos);
    const auto user = std::filesystem::temp_directory_path() / "kelvarin_broken_crystals.toml";
    std::ofstream(user) << "[[crystal]]\nname = \"GaAs\"\na = -1\n[[crystal\n";
    const CrystalCatalogue c = CrystalCatalogue::load(shippedCatalogueFile(), user.string());
    EXPECT_EQ(c.crystals().size(), shipped().crystals().size());
    ASSERT_EQ(c.warnings().size(), 1u);
    EXPECT_NE(c.warnings()[0].find("kelvarin_broken_crystals.toml, line 4"), std::string::npos)
        << c.warnings()[0];
    EXPECT_DOUBLE_EQ(c.find("GaAs")->a, 5.6534);
    std::filesystem::remove(user);
}

TEST(Alloy, FormulasResolveToSitesAndVegardsLaw) {
    struct Case {
        const char* formula;
        std::optional<double> x;
        const char* kind;
        double a;
        std::size_t mixedSite;
        const char* element;  ///< an element of the mixed site
        double fraction;      ///< and its fraction there
    };
    const std::vector<Case> cases = {
        {"Al0.8Ga0.2As", {}, "zincblende", 0.8 * 5.6616 + 0.2 * 5.6534, 0, "Al", 0.8},
        {"GaAs0.64P0.36", {}, "zincblende", 0.64 * 5.6534 + 0.36 * 5.4505, 1, "P", 0.36},
        {"GaAs1-xPx", 0.3, "zincblende", 0.7 * 5.6534 + 0.3 * 5.4505, 1, "P", 0.3},
        {"In0.25Ga0.75As", {}, "zincblende", 0.25 * 6.05838 + 0.75 * 5.6534, 0, "In", 0.25},
        {"Si0.7Ge0.3", {}, "diamond", 0.7 * 5.4309 + 0.3 * 5.6576, 1, "Ge", 0.3},
        {"Zr0.85Y0.15O1.93", {}, "fluorite", 5.1391, 0, "Y", 0.15},
        {"MgO", {}, "rocksalt", 4.2112, 0, "Mg", 1},
    };
    for (const Case& c : cases) {
        const LayerMaterial m = resolveMaterial(c.formula, shipped(), c.x);
        EXPECT_EQ(m.structure.kind, c.kind) << c.formula;
        EXPECT_NEAR(m.a, c.a, 1e-12) << c.formula;
        double fraction = 0;
        for (const SiteSpecies& sp : m.structure.sites[c.mixedSite].species)
            if (sp.element == c.element) fraction = sp.fraction;
        EXPECT_NEAR(fraction, c.fraction, 1e-12) << c.formula;
    }
    // YSZ keeps its oxygen vacancies: the anion site is 1.93/2 full.
    EXPECT_NEAR(resolveMaterial("YSZ", shipped()).structure.sites[1].occupancy(), 0.965, 1e-12);
}

TEST(Alloy, BadFormulasAndStrainsNameWhatIsWrong) {
    struct Case {
        const char* formula;
        std::optional<double> x;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"AlQqAs", {}, "'Qq', which is not an element symbol"},
        {"Al0.8Ga0.1As", {}, "do not fill the sites"},
        {"Al0.8Ga0.4As", {}, "do not fill the sites"},
        {"GaAs1-xPx", 1.5, "outside 0..1"},
        {"GaAs1-xPx", {}, "no value of x"},
        {"Mn0.1In0.9As", {}, "needs the end member MnAs"},
        {"", {}, "is empty"},
        {"gaas", {}, "where an element symbol begins"},
    };
    for (const Case& c : cases) {
        try {
            resolveMaterial(c.formula, shipped(), c.x);
            ADD_FAILURE() << c.formula << " was accepted";
        } catch (const MaterialError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    // Pseudomorphic: ε⊥ = (a_L − a_s)/a_s·(1 + 2·C12/C11); relaxed: the plain mismatch.
    const LayerMaterial algaas = resolveMaterial("Al0.8Ga0.2As", shipped());
    const double mismatch = (algaas.a - 5.6534) / 5.6534;
    EXPECT_NEAR(layerStrain(algaas, 5.6534, 0, "layer 1"),
                mismatch * (1 + 2 * *algaas.c12 / *algaas.c11), 1e-12);
    EXPECT_NEAR(layerStrain(algaas, 5.6534, 1, "layer 1"), mismatch, 1e-15);
    const double half = layerStrain(algaas, 5.6534, 0.5, "layer 1");
    EXPECT_GT(half, mismatch);
    EXPECT_LT(half, layerStrain(algaas, 5.6534, 0, "layer 1"));
    EXPECT_THROW(layerStrain(algaas, 5.6534, 1.5, "layer 1"), MaterialError);
    try {
        layerStrain(resolveMaterial("CdSe", shipped()), 6.1, 0, "layer 2");
        ADD_FAILURE() << "a strain without elastic constants";
    } catch (const MaterialError& e) {
        EXPECT_NE(std::string(e.what()).find("layer 2 (CdSe): a strained layer needs the elastic"),
                  std::string::npos)
            << e.what();
    }
}

}  // namespace
}  // namespace kelvarin
