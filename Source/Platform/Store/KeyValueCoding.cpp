#include "Platform/Store/KeyValueCoding.h"

#include "Platform/Foundation/Strings.h"

#include <cctype>


namespace kesto::store {

namespace {

std::size_t utf16Length(const std::string& s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    n += (c >= 0xF0) ? 2 : 1;          // four-byte sequences are surrogate pairs
  }
  return n;
}

fnd::Value step(const fnd::Value& v, std::string_view key) {
  if (fnd::asciiEqualsIgnoringCase(key, "self")) return v;
  if (key == "@count") {
    if (v.isArray() || v.isDictionary()) return fnd::Value(static_cast<std::int64_t>(v.size()));
    return v.isNull() ? fnd::Value() : fnd::Value(1);
  }
  if (v.isArray()) {
    fnd::Array out;
    out.reserve(v.size());
    for (const auto& e : v.array()) {
      fnd::Value r = step(e, key);
      // Mapping a to-many through another to-many flattens, as a set union would.
      if (r.isArray()) {
        for (const auto& x : r.array()) out.push_back(x);
      } else if (!r.isNull()) {
        out.push_back(std::move(r));
      }
    }
    return fnd::Value(std::move(out));
  }
  if (v.isDictionary()) return v[key];
  if (v.isObject()) {
    if (auto* kvc = dynamic_cast<const KeyValueCoding*>(v.object().get())) return kvc->valueForKey(key);
    return {};
  }
  if (v.isString() && key == "length") return fnd::Value(static_cast<std::int64_t>(utf16Length(v.string())));
  if (v.isData() && key == "length") return fnd::Value(static_cast<std::int64_t>(v.size()));
  return {};
}

}  // namespace

fnd::Value valueForKeyPath(const fnd::Value& root, std::string_view keyPath) {
  fnd::Value current = root;
  std::size_t pos = 0;
  while (pos <= keyPath.size()) {
    std::size_t dot = keyPath.find('.', pos);
    std::string_view key = keyPath.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    if (!key.empty()) current = step(current, key);
    if (dot == std::string_view::npos) break;
    if (current.isNull()) return {};
    pos = dot + 1;
  }
  return current;
}

}  // namespace kesto::store
