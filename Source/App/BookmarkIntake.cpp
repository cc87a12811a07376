#include "App/BookmarkIntake.h"

#include "Model/StoredText.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Net/URL.h"

#include <algorithm>
#include <cctype>

namespace kesto::intake {

namespace {

std::string stripPrefixAtLineStarts(const std::string& text) {
  const std::string prefix = kSchemePrefix;
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.compare(0, prefix.size(), prefix) == 0) line.erase(0, prefix.size());
    out += line;
    if (end == std::string::npos) break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

// How many times an address's escapes are removed when it is checked for control characters.
constexpr int kEscapeReadings = 3;

// Whether a line is an address escaped as a whole, its scheme's colon too ("https%3A%2F%2F...").
bool isEscapedAsAWhole(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && (fnd::isAsciiLetterOrDigit(line[i]) || line[i] == '+' || line[i] == '-' || line[i] == '.'))
    ++i;
  return i > 0 && fnd::isAsciiLetter(line[0]) && line.size() >= i + 3 && line[i] == '%' &&
         line[i + 1] == '3' && (line[i + 2] == 'A' || line[i + 2] == 'a');
}

// The escaped line breaks of a text, which separate addresses however they arrive, as line feeds.
std::string withLineBreaksDecoded(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && text[i + 1] == '0') {
      const char c = fnd::asciiUppercase(text[i + 2]);
      if (c == 'A' || c == 'D') {
        out += c == 'A' ? '\n' : '\r';
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// A line escaped as a whole (an address percent-encoded with its colon and slashes) is decoded
// once, as it was encoded; an address written out as it stands keeps what its escapes mean.
// Either way it is then in its stored form; a line whose escapes do not decode stays as it came.
std::string decodedPayload(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool first = true;
  for (const auto& line : splitLines(withLineBreaksDecoded(text))) {
    if (!first) out += '\n';
    first = false;
    const auto decoded = fnd::removePercentEscapes(line);
    out += decoded ? fnd::decodeAddressForStorage(isEscapedAsAWhole(line) ? *decoded : line) : line;
  }
  return out;
}

}  // namespace

std::optional<std::string> textFromSchemeURL(const std::string& url) {
  if (url.compare(0, 6, kSchemePrefix) != 0) return std::nullopt;
  // Decoding never lengthens a text, so an oversized URL is refused before any work.
  if (url.size() > kMaximumIntakeBytes) return std::nullopt;
  std::string rest = stripPrefixAtLineStarts(url);
  if (rest == kMenuBarPayload) return std::nullopt;
  // White space as it stands separates addresses; escaped, it is part of one.
  rest = stripPrefixAtLineStarts(separatedOnWhiteSpace(rest));
  // Line feeds may arrive encoded, so lines are looked at again once decoded.
  std::string decoded = stripPrefixAtLineStarts(decodedPayload(rest));
  if (decoded == kMenuBarPayload) return std::nullopt;
  return decoded;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

std::string separatedOnWhiteSpace(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool inRun = false;
  for (char c : text) {
    const bool white = c == ' ' || c == '\t' || c == '\v' || c == '\f';
    if (white && !inRun) out += '\n';
    else if (!white) out += c;
    inRun = white;
  }
  return out;
}

bool looksLikeAddress(const std::string& line) {
  static constexpr char kHttp[] = "http";
  if (line.size() < 4) return false;
  for (std::size_t i = 0; i < 4; ++i)
    if ((line[i] | 0x20) != kHttp[i]) return false;
  return true;
}

namespace {

// The line as the URL parser takes it: the characters a browser would escape before sending
// (spaces of a decoded payload, non-ASCII text) escaped.
std::string escapedForParsing(const std::string& line) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(line.size());
  for (char c : line) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || u == ' ' || u == '"' || u == '<' || u == '>' || u == '\\' || u == '^' || u == '`' ||
        u == '{' || u == '|' || u == '}') {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> addressFromLine(const std::string& line) {
  if (!looksLikeAddress(line) || line.size() > kMaximumAddressBytes) return std::nullopt;
  std::string address;
  address.reserve(line.size());
  for (std::size_t i = 0; i < line.size();) {
    if (std::size_t n = stored::forbiddenCharacterAt(line, i)) {
      // A control character refuses the line; the invisible ones (bidirectional controls, which
      // would show another address than the one stored) are dropped.
      if (n == 1) return std::nullopt;
      i += n;
      continue;
    }
    address += line[i++];
  }
  // Neither the stored form nor a reading of it with its escapes removed, once or again (as a
  // browser given it by another program may), shows a control character.
  std::string text = address;
  for (int readings = 0; readings <= kEscapeReadings; ++readings) {
    if (stored::hasForbiddenCharacters(text)) return std::nullopt;
    std::string decoded = fnd::removePercentEscapesOrKeep(text);
    if (decoded == text) break;
    text = std::move(decoded);
  }
  auto url = net::URL::fromString(escapedForParsing(address));
  if (!url || (url->scheme() != "http" && url->scheme() != "https") || url->host().empty()) return std::nullopt;
  // "HTTP://" and "http://" are one address: stored, and compared with what is stored, alike.
  std::transform(address.begin(), address.begin() + static_cast<std::ptrdiff_t>(address.find(':')), address.begin(),
                 [](char c) { return static_cast<char>(c | 0x20); });
  return address;
}

bool isAddressLine(const std::string& line) { return addressFromLine(line).has_value(); }

std::string storedFormOfAddress(const std::string& line) { return fnd::decodeAddressForStorage(line); }

std::vector<std::string> argumentsWithAbsolutePaths(const std::vector<std::string>& arguments,
                                                    const std::string& workingDirectory) {
  std::vector<std::string> out;
  out.reserve(arguments.size());
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    out.push_back(arg);
    if (arg == "--add-text") {
      if (i + 1 < arguments.size()) out.push_back(arguments[++i]);
    } else if (!arg.empty() && arg[0] != '-' && arg[0] != '/' && arg.compare(0, 6, kSchemePrefix) != 0 &&
               !workingDirectory.empty()) {
      out.back() = workingDirectory + (workingDirectory.back() == '/' ? "" : "/") + arg;
    }
  }
  return out;
}

}  // namespace kesto::intake
