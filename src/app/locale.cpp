#include "app/locale.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kelvarin {

namespace {

std::string makeMessage(const std::string& text, const std::string& field, bool integer) {
    std::string msg =
        "'" + text + "' is not a valid " +
        (integer ? std::string("integer value") : std::string("floating point value"));
    if (!field.empty()) msg = field + ": " + msg;
    return msg;
}

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Checks [sign] digits [sep digits] [(e|E) [sign] digits] with at least one mantissa digit and
// rewrites it with "." so that from_chars (locale-independent) can read it.
bool canonicalNumber(std::string_view s, char sep, std::string& out) {
    out.clear();
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') out.push_back('-');
        ++i;
    }
    int mantissaDigits = 0;
    while (i < s.size() && isDigit(s[i])) {
        out.push_back(s[i++]);
        ++mantissaDigits;
    }
    if (i < s.size() && s[i] == sep) {
        out.push_back('.');
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            out.push_back(s[i++]);
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        out.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) out.push_back(s[i++]);
        int expDigits = 0;
        while (i < s.size() && isDigit(s[i])) {
            out.push_back(s[i++]);
            ++expDigits;
        }
        if (expDigits == 0) return false;
    }
    return i == s.size();
}

}  // namespace

ConversionError::ConversionError(std::string text, std::string field, bool integer)
    : std::runtime_error(makeMessage(text, field, integer)),
      text_(std::move(text)),
      field_(std::move(field)) {}

Locale::Locale(char decimalSeparator) : sep_(decimalSeparator) {}

std::string Locale::NormalizeDecimalSeparator(std::string_view text) const {
    std::string out(text);
    for (char& c : out)
        if (c == ',' || c == '.') c = sep_;
    return out;
}

std::string Locale::floatToText(long double value, int significantDigits) const {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";

    // The significant digits in scientific form: d.dddddddddddddde[+-]x
    const int digitsAfterPoint = std::clamp(significantDigits, 1, 15) - 1;
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific,
                             digitsAfterPoint);
    std::string sci(buf, res.ptr);
    const std::size_t ePos = sci.find('e');
    const int exponent = std::atoi(sci.c_str() + ePos + 1);
    std::string mant = sci.substr(0, ePos);
    const bool negative = mant[0] == '-';
    if (negative) mant.erase(0, 1);
    std::string digits;
    for (char c : mant)
        if (isDigit(c)) digits.push_back(c);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        out += digits[0];
        if (digits.size() > 1) {
            out += sep_;
            out += digits.substr(1);
        }
        out += 'E';
        if (exponent < 0) out += '-';
        out += std::to_string(std::abs(exponent));
        return out;
    }
    if (exponent < 0) {
        out += '0';
        out += sep_;
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
        out += digits;
        out.append(intDigits - digits.size(), '0');
    } else {
        out += digits.substr(0, intDigits);
        out += sep_;
        out += digits.substr(intDigits);
    }
    return out;
}

std::string Locale::singleToText(float value) const {
    if (!std::isfinite(value) || value == 0) return floatToText(value);
    // The shortest scientific form that reads back as the same float fixes the digit count.
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    int digits = 0;
    for (const char* c = buf; c != res.ptr && *c != 'e'; ++c)
        if (isDigit(*c)) ++digits;
    return floatToText(value, digits);
}

bool Locale::tryTextToFloat(std::string_view text, long double& out) const {
    std::string canon;
    if (!canonicalNumber(trim(text), sep_, canon)) return false;
    long double v = 0;
    auto res = std::from_chars(canon.data(), canon.data() + canon.size(), v);
    if (res.ec != std::errc() || res.ptr != canon.data() + canon.size()) return false;
    if (!std::isfinite(v)) return false;
    out = v;
    return true;
}

long double Locale::textToFloat(std::string_view text, std::string_view field) const {
    long double v = 0;
    if (!tryTextToFloat(text, v))
        throw ConversionError(std::string(text), std::string(field), false);
    return v;
}

bool Locale::tryTextToInt(std::string_view text, int& out) {
    std::string_view s = trim(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty() || s.front() == '+') return false;
    int v = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return false;
    out = v;
    return true;
}

int Locale::textToInt(std::string_view text, std::string_view field) const {
    int v = 0;
    if (!tryTextToInt(text, v)) throw ConversionError(std::string(text), std::string(field), true);
    return v;
}

}  // namespace kelvarin
