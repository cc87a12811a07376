#pragma once

#include <string>

namespace kesto {

// Where the client talks to and how it names itself. Each host is a compiled default that a
// user default overrides ("host" or "host:port"), so tests can point the client at a fake.
class SFConfig {
 public:
  static constexpr const char* kAPIHostKey = "SkyfolderAPIHost";
  static constexpr const char* kContentHostKey = "SkyfolderContentHost";
  static constexpr const char* kWebHostKey = "SkyfolderWebHost";

  static std::string apiHost();
  static std::string contentHost();
  static std::string webHost();

  // The application's bundle facts as the client reports them.
  static std::string bundleName();
  static std::string bundleIdentifier();
  static std::string bundleDisplayName();
  static std::string bundleShortVersion();
};

}  // namespace kesto
