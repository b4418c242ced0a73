// The crystal catalogue of the fitting path: every crystal with its structure (a list of sites),
// lattice constant, elastic constants and the literature source of each, read from the data file
// shipped with the program and from the user's own file, which adds crystals or overrides values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/crystal_structure.hpp"

namespace kelvarin {

/// One crystal of the catalogue.
struct CatalogueCrystal {
    std::string name;  ///< "GaAs", "YSZ"
    CrystalStructure structure;
    double a = 0;  ///< cubic lattice constant, Å
    std::string aSource;
    std::optional<double> c11;  ///< elastic constants, GPa
    std::optional<double> c12;
    std::string elasticSource;
    std::string origin;  ///< "file, line N" of the entry that set it last

    /// The elements per site as a formula: "GaAs", "Zr0.85Y0.15O1.93".
    std::string formula() const;
};

class CrystalCatalogue {
public:
    /// The shipped data file and the user's file (see userCatalogueFile), read once. Problems
    /// with the user's file are kept in warnings(); the shipped crystals load regardless.
    static const CrystalCatalogue& standard();
    /// The windows' crystals, then the file `shipped`, then the user's file `user` when it exists
    /// (none when empty). Every problem of either file goes to warnings().
    static CrystalCatalogue load(const std::string& shipped, const std::string& user);

    /// Reads `path` and adds or overrides its crystals. A file that cannot be read or parsed
    /// adds nothing; an entry with an error is left out. Each problem appends a message naming
    /// the file, the entry and the line to `problems`. Returns the number of crystals taken.
    int addFile(const std::string& path, std::vector<std::string>& problems);
    /// The same from a text; `name` stands for the file in messages.
    int addText(const std::string& text, const std::string& name,
                std::vector<std::string>& problems);

    const CatalogueCrystal* find(std::string_view name) const;
    /// The crystal whose sites hold exactly these single elements, in order ({"Zr", "O"} →
    /// ZrO2), or nullptr.
    const CatalogueCrystal* findByElements(const std::vector<std::string>& siteElements) const;
    const std::vector<CatalogueCrystal>& crystals() const { return crystals_; }
    const std::vector<std::string>& warnings() const { return warnings_; }

private:
    std::vector<CatalogueCrystal> crystals_;
    std::vector<std::string> warnings_;
};

/// The shipped data file: "<data>/crystals.toml" with <data> the environment variable
/// KELVARIN_DATA_DIR when set and not empty, else the folder fixed when the program was built.
std::string shippedCatalogueFile();

/// The user's file: $XDG_CONFIG_HOME/kelvarin/crystals.toml, else ~/.config/kelvarin/crystals.toml
/// (empty when neither variable is set).
std::string userCatalogueFile();

}  // namespace kelvarin
