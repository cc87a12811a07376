#include "Skyfolder/SFConfig.h"

#include "Platform/Foundation/UserDefaults.h"

namespace kesto {

namespace {

std::string hostFor(const char* key, const char* fallback) {
  auto value = fnd::UserDefaults::standard().stringForKey(key);
  return value && !value->empty() ? *value : std::string(fallback);
}

}  // namespace

std::string SFConfig::apiHost() { return hostFor(kAPIHostKey, "api.skyfolder.com"); }
std::string SFConfig::contentHost() { return hostFor(kContentHostKey, "api-content.skyfolder.com"); }
std::string SFConfig::webHost() { return hostFor(kWebHostKey, "www.skyfolder.com"); }

std::string SFConfig::bundleName() { return "Kesto"; }
std::string SFConfig::bundleIdentifier() { return "org.kesto.Kesto"; }
std::string SFConfig::bundleDisplayName() { return "Kesto"; }
std::string SFConfig::bundleShortVersion() {
#ifdef KESTO_VERSION
  return KESTO_VERSION;
#else
  return "1.0.0";
#endif
}

}  // namespace kesto
