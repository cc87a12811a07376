#include "Platform/Foundation/JsonText.h"

#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/Strings.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kesto::fnd::json {

void appendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

std::optional<char> simpleEscape(char letter) {
  switch (letter) {
    case '"': return '"';
    case '\\': return '\\';
    case '/': return '/';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return std::nullopt;
  }
}

namespace {
bool readQuad(const char*& p, const char* end, std::uint32_t& out) {
  out = 0;
  for (int i = 0; i < 4; ++i) {
    const int h = p < end ? hexDigitValue(*p) : -1;
    if (h < 0) return false;
    ++p;
    out = out * 16 + static_cast<std::uint32_t>(h);
  }
  return true;
}
}  // namespace

UnicodeEscapeError readUnicodeEscape(const char*& p, const char* end, std::string& out) {
  std::uint32_t hi = 0;
  if (!readQuad(p, end, hi)) return UnicodeEscapeError::HighDigits;
  if (hi >= 0xDC00 && hi <= 0xDFFF) return UnicodeEscapeError::LoneLowSurrogate;
  if (hi < 0xD800 || hi > 0xDBFF) {
    appendUtf8(out, hi);
    return UnicodeEscapeError::None;
  }
  if (end - p < 2 || p[0] != '\\' || p[1] != 'u') return UnicodeEscapeError::NoLowEscape;
  p += 2;
  std::uint32_t lo = 0;
  if (!readQuad(p, end, lo)) return UnicodeEscapeError::LowDigits;
  if (lo < 0xDC00 || lo > 0xDFFF) return UnicodeEscapeError::NotALowSurrogate;
  appendUtf8(out, 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00));
  return UnicodeEscapeError::None;
}

std::optional<Value> numberValue(const char* begin, const char* end, bool integral) {
  if (integral) {
    std::int64_t n = 0;
    const auto r = std::from_chars(begin, end, n);
    if (r.ec == std::errc() && r.ptr == end) return Value(static_cast<long long>(n));
  }
  const std::optional<double> d = numberFromText(std::string_view(begin, static_cast<std::size_t>(end - begin)));
  if (!d || !std::isfinite(*d)) return std::nullopt;
  return Value(*d);
}

}  // namespace kesto::fnd::json
