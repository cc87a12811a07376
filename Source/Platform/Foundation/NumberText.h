#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kesto::fnd {

// Reals in stored, sent and parsed text, the same in every locale. The C library's strtod and
// printf follow the process locale, which Qt sets from the environment ("0,5" in German).

// The shortest text that reads back as the same double: "0.1", "100", "1e+21", "inf", "-inf", "nan".
std::string shortestNumberText(double value);
// As printf's "%.<significantDigits>g" in the C locale: 6 digits give "%g", 17 give "%.17g".
std::string numberText(double value, int significantDigits);

// Reads a decimal number at the start of `text`: an optional sign, digits with at most one point,
// an optional exponent; no white space, hexadecimal, "inf" or "nan". A number too large for a
// double reads as infinity, one too small as zero. Answers the count of characters read; 0, with
// `value` untouched, when the text does not start with a number.
std::size_t readNumber(std::string_view text, double& value);
// The whole text as such a number, or nothing.
std::optional<double> numberFromText(std::string_view text);

}  // namespace kesto::fnd
