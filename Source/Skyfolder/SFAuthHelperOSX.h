#pragma once

#include "Platform/Foundation/FoundationForward.h"
#include "Skyfolder/SkyfolderNotifications.h"
#include "Platform/Net/URL.h"
#include "Skyfolder/SFRestClientDelegate.h"

#include <functional>
#include <memory>
#include <optional>

namespace kesto {

// Links the application to an account: request token, the authorisation page in the browser,
// then the access token when the user returns to the application. Main thread only.
class SFAuthHelperOSX : public SFRestClientDelegate {
 public:
  using URLOpener = std::function<void(const net::URL&)>;

  static SFAuthHelperOSX& sharedHelper();
  SFAuthHelperOSX();
  ~SFAuthHelperOSX() override;

  void authenticate();
  bool isLoading() const { return loading_; }
  // Made on first use on the shared session.
  SFRestClient* restClient();
  void postStateChangedNotification(const fnd::Error* error);
  void applicationDidBecomeActive();

  // Opens the authorisation page; the desktop's default browser unless replaced (tests).
  void setURLOpener(URLOpener opener) { opener_ = std::move(opener); }

  std::uint64_t implementedOperations() const override;
  void restClientLoadedRequestToken(SFRestClient& client) override;
  void restClientLoadRequestTokenFailedWithError(SFRestClient& client, const fnd::Error& error) override;
  void restClientLoadedAccessToken(SFRestClient& client) override;
  void restClientLoadAccessTokenFailedWithError(SFRestClient& client, const fnd::Error& error) override;

 private:
  void observeActivation();
  void stopObserving();

  bool loading_ = false;
  bool observing_ = false;
  std::unique_ptr<SFRestClient> restClient_;
  URLOpener opener_;
};

}  // namespace kesto
