// `kelvarin-cli scan`: what the program makes of a measured scan file, as a rocking curve of
// offsets (seconds of arc) from the substrate peak and counts.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "engine/io/rocking_curve.hpp"
#include "engine/io/scan.hpp"
#include "engine/state.hpp"

namespace kelvarin::cli {

struct ScanRequest {
    std::string file;
    ScanReadOptions read;
    ZeroChoice zero;
    /// The substrate, to place its Bragg angle: the catalogue crystal, the reflection (else the
    /// one the file states) and the wavelength in Å (else the one the file states).
    std::string crystal;
    std::optional<std::array<int, 3>> hkl;
    std::optional<Extended> wavelength;
};

/// The substrate's Bragg angle and asymmetry (degrees) for a catalogue crystal, reflection and
/// wavelength (Å). Throws SimulationError for an unknown crystal or a reflection the wavelength
/// cannot reach.
SubstrateBragg substrateBragg(const std::string& crystal, const std::array<int, 3>& hkl,
                              Extended wavelength);

/// The same for any crystal of the crystal catalogue (the windows' crystals with the literature
/// lattice constant where the windows' one is off), as `scan --crystal` places the substrate.
SubstrateBragg catalogueSubstrateBragg(const std::string& crystal, const std::array<int, 3>& hkl,
                                       Extended wavelength);

/// Reads and converts the scan: "#" lines saying what was read and how the zero was chosen,
/// then one line per point, "offset counts" ("%.10g", "." decimal point). Throws
/// DataFileError for a file that cannot be used and SimulationError for a substrate that
/// cannot be placed.
std::string scanText(const ScanRequest& request);

}  // namespace kelvarin::cli
