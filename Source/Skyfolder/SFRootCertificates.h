#pragma once

#include <string_view>
#include <vector>

namespace kesto {

// The Base64 texts of the pinned root certificates, in their fixed order.
const std::vector<std::string_view>& SFRootCertificateTexts();

}  // namespace kesto
