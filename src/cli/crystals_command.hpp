// `kelvarin-cli crystals`: the crystals the fitting path knows, with their structure, lattice
// constant, elastic constants and sources, and a check of a user's crystal catalogue file.
#pragma once

#include <ostream>
#include <string>

#include "engine/crystal_catalogue.hpp"

namespace kelvarin::cli {

/// One block per crystal: name, structure and formula, a (Å), C11 and C12 (GPa), the source of
/// each and the file and line that set it.
std::string crystalsText(const CrystalCatalogue& catalogue);

/// Lists the standard catalogue, with the crystals of `file` added when it is not empty. Problems
/// of the user's file and of `file` go to `err`, each naming file, entry and line. Returns
/// kExitBadInput when `file` has a problem (the listing is still printed), else kExitOk.
int doCrystals(const std::string& file, std::ostream& out, std::ostream& err);

}  // namespace kelvarin::cli
