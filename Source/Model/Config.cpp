#include "Model/Config.h"

#include "Model/DataModel.h"

namespace kesto {

std::string Config::kestoKey() const { return value(config_attr::kestoKey).string(); }
void Config::setKestoKey(const std::string& v) { setValue(config_attr::kestoKey, v); }
std::string Config::kestoValue() const { return value(config_attr::kestoValue).string(); }
void Config::setKestoValue(const std::string& v) { setValue(config_attr::kestoValue, v); }

}  // namespace kesto
