#include "Model/StringAdditions.h"

#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/Uuid.h"

#include <algorithm>

namespace kesto::brightwren {

namespace {

bool sameElement(const fnd::Value& a, const fnd::Value& b) {
  if (a.isObject() || b.isObject()) return a.isObject() && b.isObject() && a.object() == b.object();
  return a == b;
}

}  // namespace

void replaceString(std::string& text, std::string_view target, std::string_view replacement) {
  if (target.empty()) return;
  if (replacement.find(target) != std::string_view::npos) {
    // Restarting from the start would find the replacement again forever: one pass instead.
    std::string out;
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(target, pos)) != std::string::npos; pos = hit + target.size()) {
      out.append(text, pos, hit - pos);
      out.append(replacement);
    }
    out.append(text, pos, std::string::npos);
    text = std::move(out);
    return;
  }
  // The cascade can only shrink or rebuild occurrences to the left of the last hit, so
  // searching from a little before it finds exactly what a search from the start would.
  std::size_t from = 0;
  for (std::size_t hit; (hit = text.find(target, from)) != std::string::npos;) {
    text.replace(hit, target.size(), replacement);
    from = hit >= target.size() ? hit - target.size() + 1 : 0;
    from = std::min(from, hit);
  }
}

std::string stringByReplacingString(std::string_view text, std::string_view target, std::string_view replacement) {
  std::string out(text);
  replaceString(out, target, replacement);
  return out;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

Range lastIndexOf(std::string_view part, std::string_view text) {
  fnd::Range r = fnd::rangeOf(text, part, fnd::BackwardsSearch);
  if (r.isNotFound()) return {kNotFound, 0};
  return {r.location, r.length};
}

std::int32_t occurrencesOfString(std::string_view text, std::string_view part) {
  if (part.empty()) return 0;
  std::int32_t n = 0;
  for (std::size_t pos = 0; (pos = text.find(part, pos)) != std::string_view::npos; pos += part.size()) ++n;
  return n;
}

std::string stringByTrimmingString(std::string_view text) { return fnd::trimWhitespaceAndNewlines(text); }

bool matches(std::string_view text, std::string_view regex) { return fnd::matchesRegex(text, regex); }

std::string stringByCapitalizingFirstCharacter(std::string_view text) { return fnd::uppercaseFirst(text); }

std::string md5(std::string_view text) { return fnd::crypto::md5Hex(text, false); }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return fnd::caseInsensitiveCompare(a, b) == fnd::ComparisonResult::Same;
}

std::string stringWithNewUUID() { return fnd::Uuid::newString(); }

std::string stringByURLEncodingString(std::string_view text) { return fnd::urlEncodeString(text); }

fnd::Array arrayBySortingStrings(const fnd::Array& array) {
  fnd::Array strings;
  for (const auto& v : array)
    if (v.isString()) strings.push_back(v);
  std::stable_sort(strings.begin(), strings.end(), [](const fnd::Value& a, const fnd::Value& b) {
    return fnd::caseInsensitiveCompare(a.string(), b.string()) == fnd::ComparisonResult::Ascending;
  });
  return strings;
}

std::string stringByRemovingLeadingAndTrailingSpaces(std::string_view text) {
  std::string s(text);
  if (!s.empty() && s.front() == ' ') s.erase(0, 1);
  if (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string stringByReversingString(std::string_view text) { return fnd::reversed(text); }

std::string stringWithFirstURLComponent(std::string_view url) {
  std::size_t sep = url.find("://");
  std::string_view scheme = url.substr(0, sep == std::string_view::npos ? url.size() : sep);
  std::string_view host;
  if (!scheme.empty() && sep != std::string_view::npos) {
    std::string_view rest = url.substr(sep + 3);
    host = rest.substr(0, std::min(rest.find('/'), rest.size()));
  }
  std::string out(scheme);
  out += "://";
  out += host;
  return out;
}

bool equals(std::string_view a, std::string_view b) { return a == b; }

std::optional<std::string> ascii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return std::nullopt;
  return std::string(text);
}

std::string stringByConcatenatingStrings(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += p;
  return out;
}

std::string stringByDecodingPercentEscapesInURL(std::string_view text) {
  static const std::pair<const char*, const char*> kCodes[] = {
      {"%21", "!"}, {"%23", "#"}, {"%24", "$"}, {"%25", "%"},      {"%3A", ":"}, {"%3B", ";"}, {"%26", "&"},
      {"%E0", "\xC3\xA0"}, {"%3D", "="}, {"%2F", "/"}, {"%28", "("}, {"%29", ")"}, {"%3F", "?"},
  };
  std::string s(text);
  for (const auto& [code, ch] : kCodes) replaceString(s, code, ch);
  return s;
}

std::optional<std::string> stringFromURL(std::string_view url) {
  std::string path(url);
  if (path.rfind("file://", 0) == 0) path = fnd::removePercentEscapesOrKeep(path.substr(7));
  if (path.empty() || path.front() != '/') return std::nullopt;
  auto contents = fnd::FileManager::readFile(path, 64u * 1024 * 1024);
  if (!contents || !fnd::isValidUtf8(*contents)) return std::nullopt;
  return contents;
}

std::string stringValueWithSeparator(const fnd::Array& array, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (i) out += separator;
    out += array[i].isString() ? array[i].string() : array[i].description();
  }
  return out;
}

std::string stringValue(const fnd::Array& array) { return stringValueWithSeparator(array, " "); }

fnd::Array uniqueMembers(const fnd::Array& array) {
  fnd::Array copy = array;
  for (const auto& element : array) {
    copy.erase(std::remove_if(copy.begin(), copy.end(), [&](const fnd::Value& v) { return sameElement(v, element); }),
               copy.end());
    copy.push_back(element);
  }
  return copy;
}

fnd::Array unionWithArray(const fnd::Array& array, const fnd::Array* other) {
  if (!other) return array;
  fnd::Array joined = array;
  joined.insert(joined.end(), other->begin(), other->end());
  return uniqueMembers(joined);
}

fnd::Array intersectionWithArray(const fnd::Array& array, const fnd::Array& other) {
  fnd::Array kept;
  for (const auto& v : array)
    if (std::find(other.begin(), other.end(), v) != other.end()) kept.push_back(v);
  return uniqueMembers(kept);
}

}  // namespace kesto::brightwren
