#include "results/output_files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string_view>
#include <system_error>

namespace kelvarin {

namespace {

/// Bytes of the target's name kept in the name of its temporary, which stays within NAME_MAX.
constexpr std::size_t kTempStemMax = 160;
/// Marks our temporaries: ".<name>.kelvarin-<pid>-<random>.tmp".
constexpr std::string_view kTempTag = ".kelvarin-";
/// Most temporaries of one save that an interrupt removes (a save writes five at most).
constexpr int kMaxRegistered = 16;

/// One result file: what the name leads to and how it is written.
struct Target {
    std::string path;       ///< as given, for messages
    std::string finalPath;  ///< the name renamed over: symbolic links resolved
    std::string folder;     ///< folder of finalPath
    std::string name;       ///< file name of finalPath
    bool exists = false;
    bool throughWrite = false;  ///< not a regular file (a device, a pipe): written in place
    mode_t mode = 0;            ///< permissions of the file replaced
    dev_t device = 0;
    ino_t inode = 0;
};

std::string errnoText(int error) {
    return std::strerror(error);
}

void splitPath(Target& t) {
    const std::filesystem::path p(t.finalPath);
    t.name = p.filename().string();
    t.folder = p.has_parent_path() ? p.parent_path().string() : ".";
    if (t.folder.empty()) t.folder = "/";
}

void requireWritableFolder(const Target& t) {
    struct stat info {};
    if (::stat(t.folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw ResultFileError(t.path, "the folder '" + t.folder + "' does not exist");
    if (::access(t.folder.c_str(), W_OK | X_OK) != 0)
        throw ResultFileError(
            t.path, "the folder '" + t.folder + "' is not writable (" + errnoText(errno) + ")");
}

Target classify(const std::string& path) {
    Target t;
    t.path = path;
    t.finalPath = path;
    splitPath(t);
    if (path.empty() || t.name.empty() || t.name == "." || t.name == "..")
        throw ResultFileError(path, "this is not a file name");
    if (t.name.size() > NAME_MAX)
        throw ResultFileError(path, "the name is longer than the " + std::to_string(NAME_MAX) +
                                        " bytes a file name may have");
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) {
        if (errno != ENOENT) throw ResultFileError(path, errnoText(errno));
        requireWritableFolder(t);
        return t;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        // A symbolic link to nothing: the link itself is replaced.
        requireWritableFolder(t);
        return t;
    }
    t.exists = true;
    t.device = info.st_dev;
    t.inode = info.st_ino;
    t.mode = info.st_mode & 07777;
    if (S_ISDIR(info.st_mode)) throw ResultFileError(path, "it is a folder");
    if (!S_ISREG(info.st_mode)) {
        t.throughWrite = true;
        if (::access(path.c_str(), W_OK) != 0) throw ResultFileError(path, errnoText(errno));
        return t;
    }
    if (S_ISLNK(link.st_mode)) {
        // The link keeps pointing at its file: that file is the one replaced.
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) throw ResultFileError(path, errnoText(errno));
        t.finalPath = real;
        std::free(real);
        splitPath(t);
    }
    requireWritableFolder(t);
    return t;
}

std::string absoluteName(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path a = std::filesystem::absolute(path, ec);
    return ec ? path : a.lexically_normal().string();
}

std::vector<Target> classifyTargets(const std::vector<std::string>& paths,
                                    const std::vector<std::string>& inputs) {
    std::vector<Target> targets;
    for (const std::string& path : paths) {
        Target t = classify(path);
        for (const std::string& input : inputs) {
            struct stat info {};
            if (input.empty() || !t.exists || ::stat(input.c_str(), &info) != 0) continue;
            if (info.st_dev == t.device && info.st_ino == t.inode)
                throw ResultFileError(path, "it is '" + input +
                                                "', which this job reads; the results would "
                                                "destroy it (choose another result name)");
        }
        for (const Target& other : targets) {
            const bool sameFile =
                t.exists && other.exists && t.device == other.device && t.inode == other.inode;
            if (sameFile || absoluteName(t.finalPath) == absoluteName(other.finalPath))
                throw ResultFileError(path, "it is the same file as '" + other.path + "'");
        }
        targets.push_back(std::move(t));
    }
    return targets;
}

std::string join(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

/// A fresh name for a temporary (or a backup) of `name`, ours by its tag and process id.
std::string scratchName(const std::string& name, const char* suffix) {
    static std::mt19937_64 random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string text = "." + name.substr(0, kTempStemMax) + std::string(kTempTag) +
                       std::to_string(::getpid()) + "-";
    for (int i = 0; i < 8; ++i)
        text += kLetters[random() % (sizeof kLetters - 1)];
    return text + suffix;
}

/// The process id in a name of our own for a scratch file of `name`, or 0: the current
/// ".<name>.kelvarin-<pid>-…" and the "<name>.tmp<pid>" of earlier versions.
pid_t scratchOwner(std::string_view entry, const std::string& name) {
    const std::string current = "." + name.substr(0, kTempStemMax) + std::string(kTempTag);
    const std::string earlier = name + ".tmp";
    std::string_view digits;
    if (entry.substr(0, current.size()) == current) {
        digits = entry.substr(current.size());
        digits = digits.substr(0, digits.find('-'));
    } else if (entry.substr(0, earlier.size()) == earlier) {
        digits = entry.substr(earlier.size());
    } else {
        return 0;
    }
    pid_t pid = 0;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size()) return 0;
    return pid;
}

/// Removes the scratch files of earlier saves to `t` whose process has ended (a save killed
/// part-way leaves its temporary behind).
void removeStaleScratch(const Target& t) {
    DIR* dir = ::opendir(t.folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = scratchOwner(entry->d_name, t.name);
        if (owner <= 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
        const std::string path = join(t.folder, entry->d_name);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
    }
    ::closedir(dir);
}

// What an interrupt during a save removes, readable from a signal handler.
char gRegistered[kMaxRegistered][PATH_MAX];
volatile std::sig_atomic_t gRegisteredCount = 0;
volatile std::sig_atomic_t gRenaming = 0;
volatile std::sig_atomic_t gPendingSignal = 0;
std::mutex gSaveMutex;

void registerScratch(const std::string& path) {
    const int n = gRegisteredCount;
    if (n >= kMaxRegistered || path.size() >= PATH_MAX) return;
    std::memcpy(gRegistered[n], path.c_str(), path.size() + 1);
    gRegisteredCount = n + 1;
}

extern "C" void removeScratchAndEnd(int signal) {
    if (gRenaming) {
        // The renames take microseconds: the set is completed or put back, then the signal acts.
        gPendingSignal = signal;
        return;
    }
    for (int i = 0; i < gRegisteredCount; ++i)
        ::unlink(gRegistered[i]);
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    ::sigaction(signal, &plain, nullptr);
    ::raise(signal);
}

/// For the lifetime of a save: SIGINT and SIGTERM remove its temporaries before they end the
/// program; during the renames they wait until the set is complete or put back.
class InterruptGuard {
public:
    InterruptGuard() {
        gRegisteredCount = 0;
        gRenaming = 0;
        gPendingSignal = 0;
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            struct sigaction ours {};
            ours.sa_handler = removeScratchAndEnd;
            sigemptyset(&ours.sa_mask);
            installed_[i] = ::sigaction(kSignals[i], nullptr, &previous_[i]) == 0 &&
                            previous_[i].sa_handler != SIG_IGN &&
                            ::sigaction(kSignals[i], &ours, nullptr) == 0;
        }
    }
    ~InterruptGuard() { release(); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    void holdDuringRenames() { gRenaming = 1; }

    /// Puts the previous handlers back and lets a signal held during the renames act.
    void release() {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            if (installed_[i]) ::sigaction(kSignals[i], &previous_[i], nullptr);
        installed_.fill(false);
        gRegisteredCount = 0;
        gRenaming = 0;
        const int pending = gPendingSignal;
        gPendingSignal = 0;
        if (pending != 0) ::raise(pending);
    }

private:
    static constexpr std::array<int, 2> kSignals{SIGINT, SIGTERM};
    std::array<struct sigaction, 2> previous_{};
    std::array<bool, 2> installed_{};
};

/// Writes all of `content` to `fd`; false with errno set on failure.
bool writeAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void writeThrough(const Target& t, const std::string& content) {
    const int fd = ::open(t.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw ResultFileError(t.path, errnoText(errno));
    const bool written = writeAll(fd, content);
    const int error = errno;
    if (::close(fd) != 0 && written) throw ResultFileError(t.path, errnoText(errno));
    if (!written) throw ResultFileError(t.path, errnoText(error));
}

/// The temporaries of a set and, once the renames begin, the backups of the files they
/// replace; whatever is left of them goes when the object does.
class Staged {
public:
    ~Staged() {
        for (const Entry& e : entries_) {
            if (!e.temp.empty()) ::unlink(e.temp.c_str());
            if (!e.backup.empty()) ::unlink(e.backup.c_str());
        }
    }

    void stage(const Target& t, const std::string& content) {
        removeStaleScratch(t);
        Entry e{t, {}, {}};
        int fd = -1;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            e.temp = join(t.folder, scratchName(t.name, ".tmp"));
            fd = ::open(e.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) throw ResultFileError(t.path, errnoText(errno));
        registerScratch(e.temp);
        entries_.push_back(e);
        bool ok = writeAll(fd, content);
        if (ok && t.exists) ok = ::fchmod(fd, t.mode) == 0;
        if (ok) ok = ::fsync(fd) == 0;
        const int error = errno;
        if (::close(fd) != 0 && ok) throw ResultFileError(t.path, errnoText(errno));
        if (!ok) throw ResultFileError(t.path, errnoText(error));
    }

    /// Renames every temporary over its target; on a failure puts back what was replaced.
    void commit() {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            Entry& e = entries_[i];
            if (e.target.exists) {
                const std::string backup =
                    join(e.target.folder, scratchName(e.target.name, ".bak"));
                if (::link(e.target.finalPath.c_str(), backup.c_str()) == 0) {
                    e.backup = backup;
                    registerScratch(backup);
                }
            }
            if (::rename(e.temp.c_str(), e.target.finalPath.c_str()) != 0) {
                const int error = errno;
                throw ResultFileError(e.target.path, errnoText(error) + putBack(i));
            }
            e.temp.clear();
        }
        for (Entry& e : entries_) {
            if (!e.backup.empty()) ::unlink(e.backup.c_str());
            e.backup.clear();
        }
    }

private:
    struct Entry {
        Target target;
        std::string temp;
        std::string backup;
    };

    /// Restores the targets renamed before entry `failed`; says what could not be restored.
    std::string putBack(std::size_t failed) {
        std::string kept;
        for (std::size_t j = failed; j-- > 0;) {
            Entry& e = entries_[j];
            bool restored = false;
            if (!e.backup.empty()) {
                restored = ::rename(e.backup.c_str(), e.target.finalPath.c_str()) == 0;
                if (restored) e.backup.clear();
            } else if (!e.target.exists) {
                restored = ::unlink(e.target.finalPath.c_str()) == 0;
            }
            if (!restored) kept += (kept.empty() ? "'" : ", '") + e.target.path + "'";
        }
        if (kept.empty()) return "; no result file was changed";
        return "; " + kept + " already hold the new results, the other files are as they were";
    }

    std::vector<Entry> entries_;
};

}  // namespace

ResultFileError::ResultFileError(std::string path, const std::string& reason)
    : std::runtime_error("Cannot write the result file '" + path + "': " + reason),
      path_(std::move(path)) {}

std::string fixedText(double value) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    std::array<char, 400> buf{};
    const auto res =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 6);
    return std::string(buf.data(), res.ptr);
}

std::string fitFileText(const std::vector<Extended>& angles,
                        const std::vector<Extended>& intensities,
                        const std::vector<Extended>& curve, int count) {
    std::string text;
    const std::size_t n = std::min({static_cast<std::size_t>(std::max(count, 0)), angles.size(),
                                    intensities.size(), curve.size()});
    text.reserve(n * 40);
    for (std::size_t i = 0; i < n; ++i) {
        text += fixedText(static_cast<double>(angles[i]));
        text += ' ';
        text += fixedText(static_cast<double>(intensities[i]));
        text += ' ';
        text += fixedText(static_cast<double>(curve[i]));
        text += '\n';
    }
    return text;
}

std::string outFileText(const CandidateRow& row) {
    std::string text;
    text += "====================================\n";
    text += "==   OUTPUT FILE FROM KELVARIN    ==\n";
    text += "====================================\n";
    text += "Parameters for the ion distribution curve:\n";
    const char* names[6] = {
        "FWHM: ", "Tau: ", "Ro: ", "Sigma1: ", "Sigma2: ", "Logarithmic error: "};
    for (int c = 0; c < 6; ++c) {
        text += names[c];
        text += fixedText(static_cast<double>(row[static_cast<std::size_t>(c)]));
        text += '\n';
    }
    return text;
}

std::string ionFileText(const ProfileArray& thickness, const ProfileArray& strain, int layerCount) {
    std::string text;
    const int n = std::min(std::max(layerCount, 0), kMaxLayers);
    float depth = 0.0f;
    for (int k = n; k >= 1; --k) {
        const auto i = static_cast<std::size_t>(k);
        const std::string strainText = fixedText(static_cast<double>(strain[i]));
        text += fixedText(depth) + ' ' + strainText + '\n';
        depth = static_cast<float>(static_cast<Extended>(depth) + thickness[i]);
        text += fixedText(depth) + ' ' + strainText + '\n';
    }
    return text;
}

void checkResultTargets(const std::vector<std::string>& paths,
                        const std::vector<std::string>& inputs) {
    classifyTargets(paths, inputs);
}

void writeResultFiles(const std::vector<ResultFile>& files,
                      const std::vector<std::string>& inputs) {
    std::vector<std::string> paths;
    for (const ResultFile& f : files)
        paths.push_back(f.path);
    const std::vector<Target> targets = classifyTargets(paths, inputs);

    const std::lock_guard lock(gSaveMutex);
    InterruptGuard interrupts;
    Staged staged;
    for (std::size_t i = 0; i < targets.size(); ++i)
        if (!targets[i].throughWrite) staged.stage(targets[i], files[i].content);
    interrupts.holdDuringRenames();
    staged.commit();
    interrupts.release();
    for (std::size_t i = 0; i < targets.size(); ++i)
        if (targets[i].throughWrite) writeThrough(targets[i], files[i].content);
}

void writeResultFile(const std::string& path, const std::string& content) {
    writeResultFiles({{path, content}});
}

}  // namespace kelvarin
