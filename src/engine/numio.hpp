// Numbers in data files: whitespace-separated decimal numbers with "." as decimal point,
// whatever the locale, read as single-precision values (then widened by the caller).
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace kelvarin {

/// A data file that cannot be read, or holds something that is not a number. The message names
/// the file and, where it applies, the line and the offending text.
class DataFileError : public std::runtime_error {
public:
    explicit DataFileError(const std::string& message) : std::runtime_error(message) {}
};

class NumberReader {
public:
    enum class Status { Number, End, NotANumber };

    /// Reads the whole file; throws DataFileError naming it when it cannot be opened, is not a
    /// regular file (a pipe, a device or a folder is refused before anything is read, so it
    /// never blocks) or is larger than `maxBytes`.
    static NumberReader fromFile(const std::string& path, std::size_t maxBytes = 64u << 20);
    /// Reads numbers from a text held in memory (after a UTF-8 byte-order mark, if there is
    /// one); `name` is used in messages.
    NumberReader(std::string text, std::string name);

    /// Next number as a single-precision value. Status::NotANumber leaves the offending token
    /// in badToken() (and does not consume it); Status::End at the end of the text.
    Status next(float& out);
    /// Like next(), but throws DataFileError for a token that is not a number.
    bool nextOrThrow(float& out);

    /// True when only white space is left.
    bool atEnd();

    const std::string& name() const { return name_; }
    int line() const { return line_; }
    const std::string& badToken() const { return bad_; }
    /// "file 'x', line 3: 'abc' is not a number" for the last NotANumber.
    std::string badMessage() const;

private:
    void skipSpace();

    std::string text_;
    std::string name_;
    std::size_t pos_ = 0;
    int line_ = 1;
    std::string bad_;
};

/// Parses one token as a data-file number ("." decimal point, optional sign and exponent).
/// Rejects "nan", "inf", a comma, trailing text and values outside the single-precision range.
bool parseDataNumber(const std::string& token, float& out);

}  // namespace kelvarin
