#include "App/BookmarkIntake.h"

#include "Platform/Foundation/PercentEncoding.h"

#include <algorithm>

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

}  // namespace

std::optional<std::string> textFromSchemeURL(const std::string& url) {
  if (url.compare(0, 6, kSchemePrefix) != 0) return std::nullopt;
  // Decoding never lengthens a text, so an oversized URL is refused before any work.
  if (url.size() > kMaximumIntakeBytes) return std::nullopt;
  std::string rest = stripPrefixAtLineStarts(url);
  if (rest == kMenuBarPayload) return std::nullopt;
  // Line feeds may arrive encoded, so lines are looked at again once decoded.
  std::string decoded = stripPrefixAtLineStarts(fnd::removePercentEscapesOrKeep(rest));
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

bool isAddressLine(const std::string& line) {
  if (line.compare(0, 4, "http") != 0 || line.size() > kMaximumAddressBytes) return false;
  return std::none_of(line.begin(), line.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}

std::string storedFormOfAddress(const std::string& line) { return fnd::removePercentEscapesOrKeep(line); }

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
