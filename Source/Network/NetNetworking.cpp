#include "Network/NetNetworking.h"

namespace kesto {

std::string NetLocalizedString(std::string_view englishText) {
  // No translations ship for this table; the key is the text.
  return std::string(englishText);
}

}  // namespace kesto
