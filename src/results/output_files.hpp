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

/// One result file of a set: its name and its whole content.
struct ResultFile {
    std::string path;
    std::string content;
};

/// Checks, before any work is done, that result files of these names can be written: each name
/// fits the file system (NAME_MAX bytes per name), its folder exists and is writable, it is not
/// a folder, no two name the same file, and none is one of `inputs` (the job file, the measured
/// or profile file: a result must never overwrite what the job reads). Throws ResultFileError
/// naming the first file that fails.
void checkResultTargets(const std::vector<std::string>& paths,
                        const std::vector<std::string>& inputs = {});

/// Writes a set of result files so that a failure leaves the older set in place:
///  - checkResultTargets first;
///  - a regular file (or a new name) is written to a temporary created exclusively in its
///    folder (a hidden name of our own, never following a symbolic link), then all temporaries
///    are renamed over their targets; a rename that fails puts back the files already
///    replaced, and when one cannot be put back the message says which files are new. A file
///    that existed keeps its permissions; a symbolic link keeps pointing at the file it names;
///  - anything else that exists (a device such as /dev/null, a pipe) is written through, after
///    the regular files;
///  - temporaries left by an earlier save to the same name that was killed are removed, and an
///    interrupt (SIGINT, SIGTERM) during the save removes ours before the program ends.
/// Throws ResultFileError naming the file that failed.
void writeResultFiles(const std::vector<ResultFile>& files,
                      const std::vector<std::string>& inputs = {});

/// writeResultFiles with one file.
void writeResultFile(const std::string& path, const std::string& content);

}  // namespace kelvarin
