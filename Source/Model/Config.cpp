#include "Model/Config.h"

#include "Model/Base64.h"
#include "Model/DataModel.h"

namespace kesto {

std::string Config::kestoKey() const { return value(config_attr::kestoKey).string(); }
void Config::setKestoKey(const std::string& v) { setValue(config_attr::kestoKey, v); }
std::string Config::kestoValue() const { return value(config_attr::kestoValue).string(); }
void Config::setKestoValue(const std::string& v) { setValue(config_attr::kestoValue, v); }

std::optional<std::string> Config::storedPassword() {
  auto config = fetchEntityWhereProperty("kestoKey", kPasswordKey);
  if (!config) return std::nullopt;
  return config->kestoValue();
}

bool Config::isFolderPassword(const std::string& typed) {
  auto stored = storedPassword();
  if (!stored) return false;
  auto decoded = Base64::decodeToString(*stored);
  return decoded && typed == *decoded;
}

}  // namespace kesto
