#pragma once

#include "Platform/Foundation/Value.h"

#include <optional>

namespace kesto {

// The user default that says whether a credentials record is stored.
inline constexpr const char* kSFSkyfolderLinkedKey = "SkyfolderLinked";

// Keeps the credentials record of every linked user in one generic-password item of the
// keychain (service: the application's name, account "Skyfolder") as an archived dictionary,
// with the "SkyfolderLinked" flag beside it. Failures are logged as warnings, never raised.
class SFKeychain {
 public:
  // The stored record; absent when nothing is stored, the flag is off or the item is unreadable.
  static std::optional<fnd::Dictionary> credentials();
  // Stores the record, then sets the flag. A failed write leaves the flag as it was.
  static void setCredentials(const fnd::Dictionary& credentials);
  // Removes the item (whatever the flag says) and then the flag.
  static void deleteCredentials();
};

}  // namespace kesto
