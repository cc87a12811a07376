#pragma once

#include "Model/WrenEntity.h"

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
};

}  // namespace kesto
