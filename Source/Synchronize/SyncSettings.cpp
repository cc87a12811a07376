#include "Synchronize/SyncSettings.h"

#include "Platform/Foundation/UserDefaults.h"

namespace kesto::syncsettings {

std::string stringDefault(const char* key) { return fnd::UserDefaults::standard().stringForKey(key).value_or(""); }

bool isLoopbackHost(std::string_view host) {
  if (host == "::1" || host == "[::1]") return true;
  if (host.rfind("[::1]:", 0) == 0) return true;
  if (const auto colon = host.rfind(':'); colon != std::string_view::npos) host = host.substr(0, colon);
  return host == "127.0.0.1" || host == "localhost";
}

}  // namespace kesto::syncsettings
