#include "Platform/Foundation/PercentEncoding.h"

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Strings.h"

#include <array>
#include <cstdint>

namespace kesto::fnd {

namespace {

using KeepSet = std::array<bool, 128>;

constexpr const char* kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// Characters that may stand in a URL unescaped, besides letters and digits.
constexpr const char* kURLLegalMarks = "!$&'()*+,-./:;=?@_~";

constexpr KeepSet makeSet(const char* keep, const char* remove = "") {
  KeepSet s{};
  for (const char* p = kAlnum; *p; ++p) s[static_cast<unsigned char>(*p)] = true;
  for (const char* p = keep; *p; ++p) s[static_cast<unsigned char>(*p)] = true;
  for (const char* p = remove; *p; ++p) s[static_cast<unsigned char>(*p)] = false;
  return s;
}

// The escape sets, one for each use below.
constexpr KeepSet kURLLegalSet = makeSet(kURLLegalMarks);
constexpr KeepSet kFormValueSet = makeSet(kURLLegalMarks, "?=&+");
constexpr KeepSet kUnreservedSet = makeSet("-._~");
constexpr KeepSet kQueryFieldSet = makeSet("-._~[]");
constexpr KeepSet kPathSet = makeSet(kURLLegalMarks, ":?=,!$&'()*+;[]@#~");
constexpr KeepSet kHostSet = makeSet("!$&'()*+,-.:;=[]_~");
constexpr KeepSet kBusAddressValueSet = makeSet("-_/.*");

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

// Marks that reorder how text shows, which can make one address look like another, and the
// line and paragraph separators, which stored text never holds.
bool isInvisibleControl(std::uint32_t cp) {
  return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069);
}

// The byte the "%XX" escape at `i` stands for; -1 when no whole escape starts there.
int escapedByteAt(std::string_view s, std::size_t i) {
  if (i + 2 >= s.size() || s[i] != '%') return -1;
  const int hi = hexDigitValue(s[i + 1]), lo = hexDigitValue(s[i + 2]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Walks the text, handing each plain character to `plain` and the byte of each "%XX" to
// `escaped`. False at a "%" without two hexadecimal digits after it, or when a step says false.
template <typename Plain, typename Escaped>
bool walkEscapes(std::string_view s, Plain&& plain, Escaped&& escaped) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      if (!plain(s[i])) return false;
      continue;
    }
    const int b = escapedByteAt(s, i);
    if (b < 0 || !escaped(static_cast<char>(b))) return false;
    i += 2;
  }
  return true;
}

}  // namespace

std::string decodeHarmlessPercentEscapes(std::string_view s) {
  if (s.find('%') == std::string_view::npos) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const int b = escapedByteAt(s, i);
    if (b < 0) {
      out += s[i++];
      continue;
    }
    if (b < 0x80) {
      // A hexadecimal digit after a stray "%" would make an escape the text did not have.
      const std::size_t n = out.size();
      const bool afterStrayPercent =
          (n >= 1 && out[n - 1] == '%') || (n >= 2 && out[n - 2] == '%' && hexDigitValue(out[n - 1]) >= 0);
      const bool spellsEscape = hexDigitValue(static_cast<char>(b)) >= 0 && afterStrayPercent;
      if (kUnreservedSet[static_cast<std::size_t>(b)] && !spellsEscape) {
        out += static_cast<char>(b);
      } else {
        out.append(s.substr(i, 3));
      }
      i += 3;
      continue;
    }
    // A multi-byte character spelt as escapes decodes only whole and valid.
    const int length = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? (b <= 0xEF ? 3 : 0) : b >= 0xC2 ? 2 : 0;
    std::uint32_t cp = length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    bool ok = length > 0;
    for (int k = 1; ok && k < length; ++k) {
      const std::size_t at = i + 3 * static_cast<std::size_t>(k);
      const int c = escapedByteAt(s, at);
      ok = c >= 0x80 && c <= 0xBF;
      if (ok) cp = cp << 6 | static_cast<std::uint32_t>(c & 0x3F);
    }
    ok = ok && !(length == 3 && cp < 0x800) && !(length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) &&
         !(cp >= 0xD800 && cp <= 0xDFFF) && !(cp >= 0x80 && cp <= 0x9F) && !isInvisibleControl(cp);
    const std::size_t span = 3 * static_cast<std::size_t>(ok ? length : 1);
    if (ok) {
      for (int k = 0; k < length; ++k) out += static_cast<char>(escapedByteAt(s, i + 3 * static_cast<std::size_t>(k)));
    } else {
      out.append(s.substr(i, span));
    }
    i += span;
  }
  return out;
}

std::string decodeAddressForStorage(std::string_view s) {
  std::string text = decodeHarmlessPercentEscapes(s);
  if (text.find("%20") == std::string::npos) return text;
  // [first, last) spans what lies between the spaces at either end, escaped or not.
  std::size_t first = std::string::npos, last = 0;
  for (std::size_t i = 0; i < text.size();) {
    const int b = escapedByteAt(text, i);
    const std::size_t length = b < 0 ? 1 : 3;
    if (text[i] != ' ' && b != ' ') {
      if (first == std::string::npos) first = i;
      last = i + length;
    }
    i += length;
  }
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const int b = escapedByteAt(text, i);
    if (b < 0) {
      out += text[i++];
      continue;
    }
    if (b == ' ' && first != std::string::npos && i > first && i < last) out += ' ';
    else out.append(text, i, 3);
    i += 3;
  }
  return out;
}

std::string addPercentEscapes(std::string_view s) { return encode(s, kURLLegalSet); }

std::string urlEncodeString(std::string_view s) { return encode(s, kFormValueSet); }

std::string percentEncodeUnreserved(std::string_view s) { return encode(s, kUnreservedSet); }

std::string percentEncodeQueryField(std::string_view s) { return encode(s, kQueryFieldSet); }

std::string escapePath(std::string_view s) { return encode(s, kPathSet); }

std::string percentEncodeHostAllowed(std::string_view s) { return encode(s, kHostSet); }

std::string escapeBusAddressValue(std::string_view s) { return encode(s, kBusAddressValueSet); }

std::optional<std::string> removePercentEscapes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  const auto append = [&](char c) {
    out += c;
    return true;
  };
  if (!walkEscapes(s, append, append) || !isValidUtf8(out)) return std::nullopt;
  return out;
}

std::string decodeEachPercentEscape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const int b = escapedByteAt(s, i);
    if (b < 0) {
      out += s[i];
      continue;
    }
    out += static_cast<char>(b);
    i += 2;
  }
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
  const bool ok = walkEscapes(
      s,
      [&](char c) {
        if (!flush()) return false;
        out += c;
        return true;
      },
      [&](char b) {
        run += b;
        return true;
      });
  if (!ok || !flush()) return std::nullopt;
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
