// Number texts of the windows: one decimal separator for the whole program, the general
// float-to-text form, and text-to-number conversions that raise a ConversionError.
// Data files never go through here: they always use "." (see engine/numio.hpp).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvarin {

/// A window text that is not a number. The message names the text and, when known, the field.
class ConversionError : public std::runtime_error {
public:
    ConversionError(std::string text, std::string field, bool integer);
    const std::string& text() const { return text_; }
    const std::string& field() const { return field_; }

private:
    std::string text_;
    std::string field_;
};

class Locale {
public:
    explicit Locale(char decimalSeparator = '.');

    char decimalSeparator() const { return sep_; }

    /// Copy of `text` with every "," and every "." replaced by the decimal separator.
    std::string NormalizeDecimalSeparator(std::string_view text) const;

    /// General form: up to 15 significant digits, trailing zeros dropped, plain notation for
    /// 1e-5 <= |v| < 1e15 and "1.5E-7" style otherwise, with this locale's separator.
    std::string floatToText(long double value) const { return floatToText(value, 15); }
    /// The same form with at most `significantDigits` (1 to 15) significant digits.
    std::string floatToText(long double value, int significantDigits) const;
    /// A single-precision value (a gene, a number read from a data file) with the fewest
    /// significant digits that give back the same float, so 0.15f reads "0.15" and not
    /// "0.150000005960464".
    std::string singleToText(float value) const;

    /// Parses a number written with this locale's separator (surrounding blanks allowed,
    /// optional sign and exponent). Throws ConversionError for anything else, including
    /// "nan", "inf", the other separator, and values outside the extended range.
    long double textToFloat(std::string_view text, std::string_view field = {}) const;

    /// Plain decimal integer (optional sign, surrounding blanks allowed) within 32 bits.
    int textToInt(std::string_view text, std::string_view field = {}) const;

    /// Like textToInt but returns false instead of throwing.
    static bool tryTextToInt(std::string_view text, int& out);
    bool tryTextToFloat(std::string_view text, long double& out) const;

private:
    char sep_;
};

}  // namespace kelvarin
