// A measured scan as an instrument file gives it: the angles on the file's own axis and unit, the
// intensity as counts (counting time and attenuation already applied), and what the file says
// about itself. readScan() recognises the format by the file's content.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/numio.hpp"

namespace kelvarin {

/// What the angle column of a scan holds.
enum class ScanAxis {
    Omega,          ///< ω of a rocking scan
    OmegaTwoTheta,  ///< ω of a coupled scan (2θ moves twice as fast)
    TwoThetaOmega,  ///< 2θ of a coupled scan
    TwoTheta,       ///< 2θ; taken as a coupled scan (Δω = Δ(2θ)/2)
    OmegaOffset,    ///< already the offset of ω from some zero
};

enum class AngleUnit { Degrees, ArcSeconds };

/// True when the column holds 2θ, so that one step in it moves ω by half a step.
bool isTwoThetaAxis(ScanAxis axis);
/// "omega", "omega/2theta", "2theta/omega", "2theta", "omega offset".
std::string axisName(ScanAxis axis);
/// Parses the names axisName() gives and "omega-offset", "2theta-omega", "omega-2theta".
std::optional<ScanAxis> axisFromName(const std::string& name);

/// Fewest points a scan may hold.
inline constexpr std::size_t kMinScanPoints = 10;
/// Largest |angle| a scan may hold, in its own unit: far beyond any goniometer, small enough
/// that offsets from any zero stay finite.
inline constexpr double kMaxScanAngle = 1.0e8;
/// Most points a scan may hold.
inline constexpr std::size_t kMaxScanPoints = 1000000;

struct Scan {
    std::string format;  ///< "XRDML", "PANalytical .x00", "Rigaku RAS", "Bruker UXD", "plain text"
    std::string source;  ///< the file, as named to readScan
    ScanAxis axis = ScanAxis::OmegaOffset;
    AngleUnit unit = AngleUnit::ArcSeconds;
    std::vector<double> angle;   ///< in `unit`, increasing
    std::vector<double> counts;  ///< counts, after attenuation and counting time
    /// Seconds per point when the file states it.
    std::optional<double> countingTime;
    /// The file gave counts per second; `counts` holds them times countingTime.
    bool countsPerSecond = false;
    /// Smallest and largest attenuation factor applied (1 when there was none).
    double attenuationMin = 1;
    double attenuationMax = 1;
    /// Counts that were not whole numbers after the corrections (kept as they are).
    std::size_t fractionalCounts = 0;
    std::optional<double> wavelength;              ///< Å
    std::optional<std::array<int, 3>> reflection;  ///< h k l
    std::string sample;
    std::string date;
    std::string instrument;
    int scanNumber = 1;  ///< 1-based, of scanCount
    int scanCount = 1;
    /// Anything read but not used, worth telling the user (one line each).
    std::vector<std::string> notes;
};

struct ScanReadOptions {
    /// Which scan of a file with several (1-based); 0: the file must hold exactly one.
    int scanNumber = 0;
    /// Plain text only: what the angle column holds and its unit, as the user declares them.
    std::optional<ScanAxis> axis;
    std::optional<AngleUnit> unit;
    /// Å; replaces the wavelength the file states (or supplies one it lacks).
    std::optional<double> wavelength;
};

enum class ScanFormat { Xrdml, X00, Ras, Uxd, PlainText };

/// The format of a scan file by its content: the first thing in it that is not white space (a
/// byte-order mark skipped): "<" for XRDML, "HR-XRDScan" for .x00, "*RAS_" for RAS, a "_KEY"
/// line (after ";" comments) for UXD, else plain text.
ScanFormat scanFormatOf(std::string_view text);
/// The same from the first 4096 bytes of the file `path` (PlainText for a file that cannot be
/// read: its reader then says why).
ScanFormat scanFormatOfFile(const std::string& path);

/// Reads the scan in the file `path`, choosing the reader by the content (XML root element,
/// the .x00 "HR-XRDScan" line, "*RAS_" lines, "_KEY=" lines, else plain text). Throws
/// DataFileError naming the file and the line or element for anything it cannot use: a
/// truncated or foreign file, a missing intensity list, a count of intensities that does not
/// match the positions, negative or non-numeric counts, attenuation or counting time at or
/// below 0, several scans with no choice, fewer than kMinScanPoints points, angles that do not
/// increase.
Scan readScan(const std::string& path, const ScanReadOptions& options = {});
/// Like readScan, from text in memory; `name` stands for the file in messages.
Scan parseScan(const std::string& text, const std::string& name,
               const ScanReadOptions& options = {});

}  // namespace kelvarin
