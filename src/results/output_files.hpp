// The three result files of a run: curves (.fit), parameters of the kept candidate (.out) and
// the strain profile as a step function of depth (.ion). Numbers are written in the fixed
// six-decimal form with "." whatever the locale.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/state.hpp"

namespace kelvarin {

/// A result file that could not be written. The message names the file.
class ResultFileError : public std::runtime_error {
public:
    ResultFileError(std::string path, const std::string& reason);
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

/// `value` in the "%f" form: fixed notation, six decimals, "." as decimal point.
std::string fixedText(double value);

/// One line per point: angle, measured intensity, computed curve ("%f %f %f\n"), each value
/// rounded to double first. `angles` and `intensities` give the first two columns.
std::string fitFileText(const std::vector<Extended>& angles,
                        const std::vector<Extended>& intensities,
                        const std::vector<Extended>& curve, int count);

/// The ten lines of the parameters file for one candidate row (w, tau, ro, sigma1, sigma2,
/// error).
std::string outFileText(const CandidateRow& row);

/// Strain against depth from the surface inward: for each lamella from `layerCount` down to 1,
/// its top and its bottom depth with its strain. The depth is summed in single precision.
std::string ionFileText(const ProfileArray& thickness, const ProfileArray& strain, int layerCount);

/// Writes `content` to `path` through a temporary file in the same folder that replaces `path`
/// only once it is complete, so a failure never leaves a half-written file in place of an older
/// one. Throws ResultFileError naming `path`.
void writeResultFile(const std::string& path, const std::string& content);

}  // namespace kelvarin
