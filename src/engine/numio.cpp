#include "engine/numio.hpp"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace kelvarin {

namespace {
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
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
    std::ifstream in(path, std::ios::binary);
    if (!in) throw DataFileError("Cannot open file '" + path + "'");
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) throw DataFileError("Cannot read file '" + path + "'");
    if (static_cast<std::size_t>(size) > maxBytes)
        throw DataFileError("File '" + path + "' is too large to be a data file");
    in.seekg(0, std::ios::beg);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (size > 0 && !in.read(text.data(), size))
        throw DataFileError("Cannot read file '" + path + "'");
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
