#include "Platform/Foundation/NumberText.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace kesto::fnd {

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string shortestNumberText(double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::string numberText(double value, int significantDigits) {
  char buf[128];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general,
                               std::clamp(significantDigits, 0, 64));
  return std::string(buf, r.ptr);
}

std::size_t readNumber(std::string_view s, double& value) {
  std::size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) ++i;
  const std::size_t start = i;
  // The power of ten of the first non-zero digit, which tells an overflow from an underflow.
  long long magnitude = 0;
  bool nonZero = false;
  std::size_t digits = 0;
  for (; i < s.size() && isDigit(s[i]); ++i, ++digits) {
    if (nonZero) ++magnitude;
    else nonZero = s[i] != '0';
  }
  if (i < s.size() && s[i] == '.') {
    long long zeros = 0;
    for (++i; i < s.size() && isDigit(s[i]); ++i, ++digits) {
      if (nonZero) continue;
      if (s[i] == '0') ++zeros;
      else nonZero = true, magnitude = -(zeros + 1);
    }
  }
  if (digits == 0) return 0;
  std::size_t end = i;
  long long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    const bool negativeExponent = j < s.size() && s[j] == '-';
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && isDigit(s[j])) {
      for (; j < s.size() && isDigit(s[j]); ++j)
        if (exponent < 1'000'000) exponent = exponent * 10 + (s[j] - '0');
      if (negativeExponent) exponent = -exponent;
      end = j;
    }
  }
  double v = 0;
  const auto r = std::from_chars(s.data() + start, s.data() + end, v);
  if (r.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone on range errors; strtod's answer is what readers expect
    // ("1e999" is how an infinity is written).
    v = magnitude + exponent >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (r.ec != std::errc()) {
    return 0;
  } else {
    end = static_cast<std::size_t>(r.ptr - s.data());
  }
  value = negative ? -v : v;
  return end;
}

std::optional<double> numberFromText(std::string_view text) {
  double v = 0;
  if (text.empty() || readNumber(text, v) != text.size()) return std::nullopt;
  return v;
}

}  // namespace kesto::fnd
