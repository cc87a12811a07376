#include "Platform/Foundation/PercentEncoding.h"

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Strings.h"

#include <array>

namespace kesto::fnd {

namespace {

using KeepSet = std::array<bool, 128>;

constexpr const char* kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// Characters that may stand in a URL unescaped, besides letters and digits.
constexpr const char* kURLLegalMarks = "!$&'()*+,-./:;=?@_~";

KeepSet makeSet(const char* keep, const char* remove = "") {
  KeepSet s{};
  for (const char* p = kAlnum; *p; ++p) s[static_cast<unsigned char>(*p)] = true;
  for (const char* p = keep; *p; ++p) s[static_cast<unsigned char>(*p)] = true;
  for (const char* p = remove; *p; ++p) s[static_cast<unsigned char>(*p)] = false;
  return s;
}

std::string encode(std::string_view s, const KeepSet& keep) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size() + s.size() / 2);
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 128 && keep[c]) {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string addPercentEscapes(std::string_view s) {
  static const KeepSet set = makeSet(kURLLegalMarks);
  return encode(s, set);
}

std::string urlEncodeString(std::string_view s) {
  static const KeepSet set = makeSet(kURLLegalMarks, "?=&+");
  return encode(s, set);
}

std::string percentEncodeUnreserved(std::string_view s) {
  static const KeepSet set = makeSet("-._~");
  return encode(s, set);
}

std::string percentEncodeQueryField(std::string_view s) {
  static const KeepSet set = makeSet("-._~[]");
  return encode(s, set);
}

std::string escapePath(std::string_view s) {
  static const KeepSet set = makeSet(kURLLegalMarks, ":?=,!$&'()*+;[]@#~");
  return encode(s, set);
}

std::string percentEncodeHostAllowed(std::string_view s) {
  static const KeepSet set = makeSet("!$&'()*+,-.:;=[]_~");
  return encode(s, set);
}

std::optional<std::string> removePercentEscapes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    int hi = i + 1 < s.size() ? hexValue(s[i + 1]) : -1;
    int lo = i + 2 < s.size() ? hexValue(s[i + 2]) : -1;
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (!isValidUtf8(out)) return std::nullopt;
  return out;
}

std::string removePercentEscapesOrKeep(std::string_view s) {
  auto r = removePercentEscapes(s);
  return r ? std::move(*r) : std::string(s);
}

std::optional<std::string> percentEncodeUnreserved(std::string_view s, std::string_view charsetName) {
  auto bytes = encodeText(s, charsetName);
  if (!bytes) return std::nullopt;
  return percentEncodeUnreserved(*bytes);
}

std::optional<std::string> removePercentEscapes(std::string_view s, std::string_view charsetName) {
  if (!isKnownCharset(charsetName)) return std::nullopt;
  std::string out, run;
  auto flush = [&]() -> bool {
    if (run.empty()) return true;
    auto text = decodeText(run, charsetName);
    run.clear();
    if (!text) return false;
    out += *text;
    return true;
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      if (!flush()) return std::nullopt;
      out += s[i];
      continue;
    }
    int hi = i + 1 < s.size() ? hexValue(s[i + 1]) : -1;
    int lo = i + 2 < s.size() ? hexValue(s[i + 2]) : -1;
    if (hi < 0 || lo < 0) return std::nullopt;
    run += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (!flush()) return std::nullopt;
  return out;
}

std::string escapeQuotedHeaderParameter(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '"')
      out += "%22";
    else if (c == '\r')
      out += "%0D";
    else if (c == '\n')
      out += "%0A";
    else
      out += c;
  }
  return out;
}

}  // namespace kesto::fnd
