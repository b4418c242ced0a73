// A scan turned into a rocking curve: the offset of ω from the substrate peak in seconds of arc,
// and the counts. A coupled 2θ/ω scan moves ω by half its 2θ step.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/io/scan.hpp"
#include "engine/sample.hpp"

namespace kelvarin {

/// Where the offset is zero.
struct ZeroChoice {
    enum class Kind {
        /// The substrate peak: the peak nearest the substrate's Bragg angle when that is known,
        /// else the strongest peak.
        SubstratePeak,
        /// The substrate's Bragg angle itself.
        Bragg,
        /// `angle`, on the scan's own axis and unit.
        Angle,
    };
    Kind kind = Kind::SubstratePeak;
    double angle = 0;
};

/// The substrate reflection, as the caller computes it for the crystal, reflection and
/// wavelength.
struct SubstrateBragg {
    double thetaB = 0;  ///< Bragg angle, degrees
    double phi = 0;     ///< angle between the reflecting planes and the surface, degrees
};

/// The Bragg angle and plane tilt of reflection (h k l) of `crystal` at `wavelength` (Å).
/// Throws EngineError for a reflection the geometry refuses.
SubstrateBragg substrateBragg(const Crystal& crystal, Extended h, Extended k, Extended l,
                              Extended wavelength);

struct RockingCurve {
    std::vector<double> offset;  ///< seconds of arc from the zero, increasing
    std::vector<double> counts;
    double zero = 0;         ///< on the scan's axis and unit
    std::string zeroReason;  ///< why this zero, for the user
};

/// The angle on the scan's axis and unit where the reflection of `bragg` lies: θB − φ for ω
/// (the incidence angle), 2θB for a 2θ column. Throws DataFileError for an offset axis.
double braggOnAxis(const Scan& scan, const SubstrateBragg& bragg);

/// Peaks of a curve (indices), strongest first: local maxima of the curve smoothed over five
/// points that stand out from their surroundings by at least 5 % of the curve's range, each
/// placed on the highest measured point of the five.
std::vector<std::size_t> findPeaks(const std::vector<double>& counts);

/// Converts `scan` with the zero chosen by `zero`. `bragg` is needed for Kind::Bragg and makes
/// Kind::SubstratePeak take the peak nearest to it. Throws DataFileError naming the file for a
/// Bragg zero on an offset axis, without `bragg`, or outside the scan.
RockingCurve toRockingCurve(const Scan& scan, const ZeroChoice& zero,
                            const std::optional<SubstrateBragg>& bragg);

/// The rocking curve as the two-column text the windows read: one "offset counts" line per
/// point ("%.10g", "." decimals).
std::string twoColumnText(const RockingCurve& curve);

/// A refinement's measured file as the windows read it. An instrument scan (scan `scanNumber`, 0
/// for the only one) is converted once into the two-column text, its zero at the substrate peak
/// nearest `bragg`; `summary` then says what was read and where the zero lies. A plain text file
/// gives nothing: it is read as it stands. Throws DataFileError naming the file.
std::optional<std::string> instrumentScanAsTwoColumns(const std::string& path, int scanNumber,
                                                      const SubstrateBragg& bragg,
                                                      std::string* summary = nullptr);

}  // namespace kelvarin
