// kelvarin-cli crystals, and simulate on crystals outside the windows' catalogue.
#include "cli/cli_fixture.hpp"

namespace kelvarin::cli::testing {
namespace {

class CrystalsCommand : public TempDirTest {};

TEST_F(CrystalsCommand, ListsEveryCrystalWithSourcesAndChecksAUserFile) {
    Result r = cli({"crystals"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    for (const char* text :
         {"\nYSZ  fluorite  ", "\nSrTiO3  perovskite  SrTiO3", "a = 4.5 Å", "a = 4.3596 Å",
          "C11 = 122.1 GPa, C12 = 56.6 GPa", "scattering: Ga built-in tables; As built-in tables",
          "scattering: Y xraylib; Zr xraylib; O xraylib"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    const std::string mine = write("mine.toml",
                                   "[[crystal]]\nname = \"InGaP\"\nstructure = \"zincblende\"\n"
                                   "sites = [{ In = 0.49, Ga = 0.51 }, \"P\"]\na = 5.6533\n\n"
                                   "[[crystal]]\nname = \"Bad\"\nstructure = \"fluorite\"\n"
                                   "sites = [\"Zr\", \"Oq\"]\na = 5.1\n")
                                 .string();
    r = cli({"crystals", "--file", mine});
    EXPECT_EQ(r.code, kExitBadInput);
    EXPECT_NE(r.out.find("\nInGaP  zincblende  Ga0.51In0.49P"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("mine.toml, crystal 'Bad', line 10: 'Oq' is not an element"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("\nGaAs  "), std::string::npos);
}

TEST_F(CrystalsCommand, SimulatesCrystalsOutsideTheWindowsCatalogue) {
    // Crystals outside the windows' catalogue, and a windows crystal at a wavelength beyond its
    // dispersion files (0.3 to 3 Å), whose f', f'' then come from the library.
    for (const auto& [crystal, radiation] :
         {std::pair{"YSZ", "Cua1"}, std::pair{"MgO", "Cua1"}, std::pair{"SrTiO3", "Moa1"},
          std::pair{"CeO2", "0.9"}, std::pair{"GaAs", "0.25"}}) {
        const Result r = cli({"simulate", "--crystal", crystal, "--hkl", "0", "0", "4",
                              "--radiation", radiation, "--scan", "-20", "20", "10"});
        ASSERT_EQ(r.code, kExitOk) << crystal << r.err;
        EXPECT_NE(r.out.find("\n0 0."), std::string::npos) << r.out;
    }
    const Result r = cli({"simulate", "--crystal", "Kryptonite", "--hkl", "0", "0", "4",
                          "--radiation", "Cua1", "--scan", "-20", "20", "10"});
    EXPECT_EQ(r.code, kExitBadInput);
    EXPECT_NE(r.err.find("unknown crystal 'Kryptonite'"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kelvarin::cli::testing
