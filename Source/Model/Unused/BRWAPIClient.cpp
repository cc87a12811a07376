#include "Model/Unused/BRWAPIClient.h"

#include "Model/DateAdditions.h"

namespace kesto {

BRWAPIClient& BRWAPIClient::sharedInstance() {
  static BRWAPIClient instance;
  return instance;
}

bool BRWAPIClient::shouldUpdateFromServerGivenRemoteDate(fnd::Date remoteDate, fnd::Date localDate) const {
  return brightwren::isEarlierThanDate(localDate, remoteDate);
}

}  // namespace kesto
