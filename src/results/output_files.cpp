#include "results/output_files.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace kelvarin {

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

void writeResultFile(const std::string& path, const std::string& content) {
    namespace fs = std::filesystem;
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) throw ResultFileError(path, std::strerror(errno));
    const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    const int writeErrno = errno;
    const bool flushed = std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !flushed || !closed) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw ResultFileError(path, std::strerror(!written  ? writeErrno
                                                  : flushed ? errno
                                                            : flushErrno));
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw ResultFileError(path, ec.message());
    }
}

}  // namespace kelvarin
