#pragma once

#include "Platform/Foundation/Value.h"

#include <string>
#include <string_view>
#include <vector>

namespace kesto::net {

// The user's preferred languages, most preferred first ("en-US", "fr").
std::vector<std::string> preferredLanguages();
// "Linux <distribution name>", for the User-Agent.
std::string operatingSystemVersionString();
// The executable's name and the application's version.
std::string applicationExecutableName();
std::string applicationVersion();
// The MIME type for a file name extension, "application/octet-stream" when unknown.
std::string mimeTypeForPathExtension(std::string_view extension);
// Standard Base64 (RFC 4648) with padding.
std::string base64Encode(const fnd::Data& data);

}  // namespace kesto::net
