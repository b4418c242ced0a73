#include "engine/numio.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>

namespace kelvarin {

namespace {
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

const char* fileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a plain file";
}
}  // namespace

bool parseDataNumber(const std::string& token, float& out) {
    const char* first = token.data();
    const char* last = token.data() + token.size();
    if (first != last && *first == '+') ++first;
    if (first == last || *first == '+') return false;
    // from_chars takes no leading '+' but would take "inf"/"nan": a number starts with a digit,
    // a point or a minus sign followed by one of those.
    const char* p = first;
    if (*p == '-') ++p;
    if (p == last || !((*p >= '0' && *p <= '9') || *p == '.')) return false;
    float v = 0;
    const auto res = std::from_chars(first, last, v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != last || !std::isfinite(v)) return false;
    out = v;
    return true;
}

NumberReader NumberReader::fromFile(const std::string& path, std::size_t maxBytes) {
    // Opened without blocking and checked before anything is read: a FIFO, a device or a
    // directory named as a data file would otherwise wait for a writer or read for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw DataFileError("Cannot open file '" + path + "': " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw DataFileError("Cannot read file '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw DataFileError("'" + path + "' is not a regular file (" + fileKind(info.st_mode) +
                            "): a data file must be an ordinary file");
    if (static_cast<unsigned long long>(info.st_size) > maxBytes)
        throw DataFileError("File '" + path + "' is too large to be a data file");
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0)
            throw DataFileError("Cannot read file '" + path + "': " + std::strerror(errno));
        if (got == 0) break;  // the file shrank while it was read
        done += static_cast<std::size_t>(got);
    }
    text.resize(done);
    return NumberReader(std::move(text), path);
}

NumberReader::NumberReader(std::string text, std::string name)
    : text_(std::move(text)), name_(std::move(name)) {
    // A UTF-8 byte-order mark, as some editors write it, is not part of the first number.
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
}

void NumberReader::skipSpace() {
    while (pos_ < text_.size() && isSpace(text_[pos_])) {
        if (text_[pos_] == '\n') ++line_;
        ++pos_;
    }
}

bool NumberReader::atEnd() {
    skipSpace();
    return pos_ >= text_.size();
}

NumberReader::Status NumberReader::next(float& out) {
    skipSpace();
    if (pos_ >= text_.size()) return Status::End;
    std::size_t end = pos_;
    while (end < text_.size() && !isSpace(text_[end]))
        ++end;
    std::string token = text_.substr(pos_, end - pos_);
    if (!parseDataNumber(token, out)) {
        bad_ = token.size() > 40 ? token.substr(0, 40) + "..." : token;
        return Status::NotANumber;
    }
    pos_ = end;
    return Status::Number;
}

bool NumberReader::nextOrThrow(float& out) {
    switch (next(out)) {
        case Status::Number:
            return true;
        case Status::End:
            return false;
        case Status::NotANumber:
            break;
    }
    throw DataFileError(badMessage());
}

std::string NumberReader::badMessage() const {
    std::string shown;
    for (char c : bad_)
        shown +=
            (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) ? '?' : c;
    std::ostringstream msg;
    msg << "File '" << name_ << "', line " << line_ << ": '" << shown << "' is not a number";
    return msg.str();
}

}  // namespace kelvarin
