#pragma once

#include "Model/WrenEntity.h"

namespace kesto {

// One connected online bookmark service ("delicious" or "pinboard").
class Service : public Entity<Service> {
 public:
  static const char* entityName() { return "Service"; }
  static constexpr const char* kDelicious = "delicious";
  static constexpr const char* kPinboard = "pinboard";

  std::string name() const;
  void setName(const std::string& v);
  std::string login() const;
  void setLogin(const std::string& v);
  // Base64 text of the account password.
  std::string password() const;
  void setPassword(const std::string& v);
  std::int64_t defaultsToPublic() const;
  void setDefaultsToPublic(std::int64_t v);

  // The row of that service in the main context (or `context`), or null.
  static Ref serviceNamed(const std::string& name, const ContextRef& context = nullptr);
};

}  // namespace kesto
