// Atomic scattering factors of the two crystal sites: the six-term coefficient catalogue, the
// form factor f0(s) and the anomalous-dispersion corrections f', f''.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/state.hpp"

namespace kelvarin {

/// A crystal name or an index that the scattering-factor lookups cannot serve. The message names
/// the crystal (or the index) and what is missing.
class ScatteringError : public std::runtime_error {
public:
    explicit ScatteringError(const std::string& message) : std::runtime_error(message) {}
};

/// One coefficient table: terms 1..6 (index 0 is not used).
using CoefficientTable = std::array<Extended, 7>;

/// The twelve per-crystal tables, index 1..12 (index 0 is not used):
///  1, 2, 3   site 1 amplitudes a_j (electrons) of the sets for s < 2, 2 <= s <= 4, s > 4;
///  4, 5, 6   site 1 widths b_j (square ångström) of the same three sets;
///  7 .. 12   the same for site 2.
/// `filled[k]` tells whether a lookup rule filled table k; unfilled tables hold zeros.
struct ScatteringTables {
    std::array<CoefficientTable, 13> table{};
    std::array<bool, 13> filled{};
};

/// Builds the twelve tables for a compound name ("GaAs", "Si", "SiC", "ZnS", ...). Site 1 is the
/// element named by the first two characters, site 2 the one named from the third character on;
/// the elemental crystals C, Si, Ge, Sn put their element on both sites. Never throws: a name that
/// matches no rule leaves tables unfilled (see `filled`).
ScatteringTables scatteringTables(const std::string& compoundName);

/// One coefficient of the per-crystal tables: `tableIndex` 1..12 as in ScatteringTables,
/// `termIndex` 1..6. Throws ScatteringError when an index is out of range or when the compound
/// name fills no coefficients for that table (a crystal outside the catalogue, or "0" when no
/// crystal has been chosen).
Extended scatteringCoefficient(const std::string& compoundName, int tableIndex, int termIndex);

/// Non-dispersive atomic scattering factor f0 (electrons) of one site at s = sin(thetaB)/lambda
/// (1/ångström): the sum over j = 1..6 of a_j * exp(-b_j * s^2), with the coefficients of set 1
/// for s < 2, set 2 for 2 <= s <= 4 and set 3 for s > 4. `a1..a3` are the amplitude tables of
/// the three sets (tables 1..3 for site 1, 7..9 for site 2), `b1..b3` their widths (4..6, 10..12).
Extended formFactor(const CoefficientTable& a1, const CoefficientTable& a2,
                    const CoefficientTable& a3, const CoefficientTable& b1,
                    const CoefficientTable& b2, const CoefficientTable& b3, Extended s);

/// formFactor of site 1 or 2 (`site`) taken from a full set of tables.
Extended formFactor(const ScatteringTables& tables, int site, Extended s);

/// Working wavelength and the dispersion corrections of the two sites.
struct DispersionValues {
    Extended lambda = 0;  ///< wavelength, ångström
    Extended f1Real = 0;  ///< f' of site 1, electrons
    Extended f1Imag = 0;  ///< f'' of site 1, electrons (positive: absorption)
    Extended f2Real = 0;  ///< f' of site 2
    Extended f2Imag = 0;  ///< f'' of site 2
};

/// Number of radiation choices: six tube lines (0..5) and synchrotron radiation (6).
inline constexpr int kRadiationCount = 7;
inline constexpr int kSynchrotron = 6;

/// Wavelength (ångström) of tube line `radiationIndex` 0..5: Cr, Fe, Co, Ni, Cu, Mo K-alpha1.
Extended tubeWavelength(int radiationIndex);

/// Folders searched for synchrotron dispersion files, in order: the working directory (""),
/// then the program's data folder "<data>/dispersion", where <data> is the environment variable
/// KELVARIN_DATA_DIR when set and not empty, else the folder fixed when the program was built.
std::vector<std::string> dispersionSearchPath();

/// Wavelength and corrections for radiation `radiationIndex` (0..5 tube lines from the built-in
/// table, 6 synchrotron). `synchrotronWavelength` (ångström) is the number typed for synchrotron
/// radiation and is used only for index 6. For synchrotron radiation f', f'' come from the files
/// "<SYMBOL>lambda.dat" of the two sites, looked up along `searchPath`, interpolated linearly in
/// wavelength between the two rows that bracket it.
/// A site for which no rule applies keeps f' = f'' = 0 (tube lines with a name outside the
/// catalogue). Throws ScatteringError for a radiation index outside 0..6 or a synchrotron
/// wavelength that is not a positive number or a crystal without dispersion files, and
/// DataFileError for a missing or malformed file or a wavelength outside a file's range.
DispersionValues dispersionCorrections(int radiationIndex, Extended synchrotronWavelength,
                                       const std::string& compoundName,
                                       const std::vector<std::string>& searchPath);
/// Same, searching dispersionSearchPath().
DispersionValues dispersionCorrections(int radiationIndex, Extended synchrotronWavelength,
                                       const std::string& compoundName);

/// One row of a dispersion file: wavelength (ångström), f', f''.
struct DispersionRow {
    Extended lambda = 0;
    Extended fReal = 0;
    Extended fImag = 0;
};

/// Reads a whole dispersion file (rows of three numbers, "." decimal point, any white space).
/// Throws DataFileError when the file cannot be opened, holds text, ends within a row, has fewer
/// than two rows or has wavelengths that are not positive and strictly ascending.
std::vector<DispersionRow> readDispersionFile(const std::string& path);

/// f', f'' at `lambda` from rows in ascending order: linear interpolation between the first pair
/// of consecutive rows with lambda_1 <= lambda < lambda_2; a wavelength equal to the last row's
/// gives that row. The range is compared in the rows' single precision, so a wavelength typed as
/// the first or last tabulated one (0.3 Å) takes that row. Throws DataFileError naming
/// `fileName` for a wavelength outside the rows.
DispersionRow interpolateDispersion(const std::vector<DispersionRow>& rows, Extended lambda,
                                    const std::string& fileName);

/// Finds the dispersion file `fileName` ("GAlambda.dat") along `searchPath`; in each folder an
/// exact match comes first, then a name that differs only in letter case ("Galambda.dat").
/// Throws DataFileError naming the file and the folders searched when there is none.
std::string findDispersionFile(const std::string& fileName,
                               const std::vector<std::string>& searchPath);

}  // namespace kelvarin
