#pragma once

#include "Model/WrenEntity.h"

#include <optional>
#include <string>

namespace kesto {

// A key and value row; "password" holds the Base64 folder-lock password.
class Config : public Entity<Config> {
 public:
  static const char* entityName() { return "Config"; }
  static constexpr const char* kPasswordKey = "password";

  std::string kestoKey() const;
  void setKestoKey(const std::string& v);
  std::string kestoValue() const;
  void setKestoValue(const std::string& v);

  // The folder-lock password as stored (Base64), when one has been made.
  static std::optional<std::string> storedPassword();
  // Whether `typed` is the folder-lock password; false while there is none.
  static bool isFolderPassword(const std::string& typed);
};

}  // namespace kesto
