#pragma once

#include <string>
#include <string_view>

namespace kesto::syncsettings {

// A string user default; absent reads as empty.
std::string stringDefault(const char* key);
// Whether a host ("name" or "name:port") is this machine: the only place plain http may reach,
// for a local stand-in of a service.
bool isLoopbackHost(std::string_view host);

}  // namespace kesto::syncsettings
