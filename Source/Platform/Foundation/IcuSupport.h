#pragma once

// Private to Foundation: conversions between our UTF-8 strings and ICU's strings.

#include <unicode/unistr.h>

#include <string>
#include <string_view>

namespace kesto::fnd::detail {

// Ill-formed UTF-8 becomes U+FFFD.
inline icu::UnicodeString toUnicode(std::string_view s) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

inline std::string toUtf8(const icu::UnicodeString& u) {
  std::string out;
  u.toUTF8String(out);
  return out;
}

}  // namespace kesto::fnd::detail
