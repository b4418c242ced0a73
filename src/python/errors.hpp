// How the program's errors reach Python: bad input as ValueError, files as OSError, each with
// the program's own message.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <stdexcept>

namespace kelvarin::python {

/// A file that cannot be read or written; reaches Python as OSError.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Registers the translation of the engine's and the fit core's errors to ValueError, and of
/// FileError to OSError.
void registerErrorTranslators();

/// Runs `work`; when it throws one of the program's errors and one of `files` cannot be read
/// (missing, not a regular file, unreadable), throws FileError with the program's message
/// instead (OSError rather than ValueError).
void runWithFiles(const std::vector<std::string>& files, const std::function<void()>& work);

}  // namespace kelvarin::python
