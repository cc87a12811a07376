#pragma once

#include "Platform/Foundation/Date.h"

namespace kesto {

// A small shared client object: decides whether a server copy is newer than the local one.
class BRWAPIClient {
 public:
  // Made once, also when first asked from several threads at a time.
  static BRWAPIClient& sharedInstance();
  // True when the local date is earlier than the remote date (equal dates count as earlier).
  bool shouldUpdateFromServerGivenRemoteDate(fnd::Date remoteDate, fnd::Date localDate) const;

 private:
  BRWAPIClient() = default;
};

}  // namespace kesto
