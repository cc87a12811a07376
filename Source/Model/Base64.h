#pragma once

#include "Platform/Foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>

namespace kesto {

// The application's own Base64 (standard alphabet, "=" padding, no line breaks). Stored and
// synced passwords are kept in this form, so its rules must not drift.
class Base64 {
 public:
  // Nothing for empty data.
  static std::optional<std::string> encodeBase64WithData(const fnd::Data& data);
  // Nothing for text outside the alphabet (white space is skipped, a misplaced "=" is
  // rejected); empty text gives empty data.
  static std::optional<fnd::Data> decodeBase64WithString(std::string_view text);

  // Convenience for the password fields: UTF-8 text in, Base64 text out and back.
  static std::string encodeString(std::string_view text);
  static std::optional<std::string> decodeToString(std::string_view text);
};

}  // namespace kesto
