// Depth-profile files: two-column profiles (thickness and concentration, or thickness and strain)
// and four-column ion-position lists, read into the Data Entry window's depth-profile table.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace kelvarin {

class Application;
class StringGrid;

/// A profile or ion file that cannot be used: it cannot be opened, holds text where a number
/// belongs, holds nothing usable, or does not fit the chosen layers. The message names the file.
/// Nothing is changed when it is raised.
class ImportError : public std::runtime_error {
public:
    explicit ImportError(const std::string& message) : std::runtime_error(message) {}
};

/// One layer of a two-column file: thickness in Å and the second column as read.
struct ProfilePair {
    float thickness;
    float value;
};

/// Reads the complete pairs of a two-column file ("." decimal point, any white space between
/// numbers; a trailing single number is no pair). `secondColumn` names the second column in
/// messages. Throws ImportError when the file cannot be opened, holds a token that is not a
/// number, or holds no complete pair.
std::vector<ProfilePair> readProfilePairs(const std::string& path, const std::string& secondColumn);

/// Reads the depths (x, Å) of the complete records (ion number, x, y, z) of a four-column file.
/// Throws ImportError like readProfilePairs, and when the file holds no complete record.
std::vector<float> readIonDepths(const std::string& path);

/// One row of the depth-profile table as texts: thickness in Å, strain in percent.
struct ProfileRow {
    std::string thickness;
    std::string strain;
};

/// Replaces the contents of the depth-profile table: header row ("Thickness(Å)", "Strain") and
/// one row per layer; the row count becomes rows + 1. Whether the header row is fixed is left
/// to the caller.
void writeProfileTable(StringGrid& table, const std::vector<ProfileRow>& rows);

/// Thickness/concentration import: reads the main window's `file`, scales the concentrations so
/// that the largest one equals the maximum strain `mstrain` (percent), writes the depth-profile
/// table with a fixed header row and shows the Data Entry window. ImportError for an unusable
/// file or one without a concentration above zero, ConversionError for a `mstrain` that is not a
/// number; either way the table and the windows stay as they were.
void importConcentrationProfile(Application& app);

/// Thickness/strain import: writes the pairs of the main window's `file` unchanged (strain in
/// percent) into the depth-profile table and shows the Data Entry window. ImportError for an
/// unusable file, with the table and the windows left as they were.
void importStrainProfile(Application& app);

}  // namespace kelvarin
