#pragma once

#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Net/URL.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

class OAuthAPI;

// The user default holding the access token's expiry (seconds since 2001-01-01).
inline constexpr const char* kOAuthAutomaticTokenRefreshLastExpiryDate = "OAuthAutomaticTokenRefreshLastExpiryDate";

// How an OAuthAPI obtains and refreshes its tokens.
class OAuthAuthenticationMethod {
 public:
  // The method for `url`: the class named first by the matching domain of the automatic
  // configuration (none is shipped), else the OAuth method without configuration.
  static std::unique_ptr<OAuthAuthenticationMethod> create(OAuthAPI& api, const net::URL& url,
                                                           const fnd::Dictionary* configuration = nullptr);
  // Domain → configuration with "OAuthAuthenticationPreferredMethods" (tests; empty by default).
  static void setAutoConfiguration(fnd::Dictionary configuration);

  OAuthAuthenticationMethod(OAuthAPI& api, const fnd::Dictionary& configuration);
  virtual ~OAuthAuthenticationMethod();

  // Subclasses must implement it; the base class logs and does nothing.
  virtual void authenticate();
  void setTokenRefreshInterval(double seconds);
  void refreshAccessToken();

  OAuthAPI& oauthAPI() const { return api_; }
  const std::optional<net::URL>& oauthGetAccessTokenURL() const { return accessTokenURL_; }

 protected:
  OAuthAPI& api_;
  std::optional<net::URL> accessTokenURL_;
  std::shared_ptr<fnd::Timer> refreshTimer_;
};

// Optional answers of the application during the exchange; list the implemented ones in
// implementedOperations().
class OAuthAuthenticationMethodOAuthDelegate {
 public:
  enum Operation : std::uint32_t {
    CallbackURL = 1,
    OAuthVerifier = 2,
    AutomaticallyRequestAuthentication = 4,
    AuthenticationDidFail = 8,
  };
  virtual ~OAuthAuthenticationMethodOAuthDelegate() = default;
  virtual std::uint32_t implementedOperations() const = 0;
  virtual std::optional<net::URL> callbackURLForCompletedUserAuthorization() { return std::nullopt; }
  virtual std::optional<std::string> oauthVerifierForCompletedUserAuthorization() { return std::nullopt; }
  // False keeps the authorisation page closed (the application shows it itself).
  virtual bool automaticallyRequestAuthenticationFromURL(const net::URL& url,
                                                         const std::optional<net::URL>& callback) {
    return true;
  }
  virtual void authenticationDidFailWithError(const fnd::Error& error) {}
};

// The three-legged OAuth 1.0/1.0a exchange.
class OAuthAuthenticationMethodOAuth : public OAuthAuthenticationMethod {
 public:
  OAuthAuthenticationMethodOAuth(OAuthAPI& api, const fnd::Dictionary& configuration);
  ~OAuthAuthenticationMethodOAuth() override;

  void authenticate() override;
  OAuthAuthenticationMethodOAuthDelegate* delegate() const { return delegate_; }
  void setDelegate(OAuthAuthenticationMethodOAuthDelegate* delegate) { delegate_ = delegate; }
  bool oauth10aModeActive() const { return oauth10a_; }
  const std::optional<net::URL>& oauthRequestTokenURL() const { return requestTokenURL_; }
  const std::optional<net::URL>& oauthAuthorizeTokenURL() const { return authorizeURL_; }
  // Opens the authorisation page; the desktop's default browser unless replaced (tests).
  void setURLOpener(std::function<void(const net::URL&)> opener) { opener_ = std::move(opener); }

 private:
  bool answers(OAuthAuthenticationMethodOAuthDelegate::Operation op) const {
    return delegate_ && (delegate_->implementedOperations() & op);
  }
  void requestToken();
  void requestAccessToken();
  void requestTokenLoaded(const fnd::Dictionary& parameters);
  void requestTokenReceived(const fnd::Notification& notification);
  void accessTokenReceived(const fnd::Notification& notification);
  void loadFailed(const fnd::Error& error);

  std::optional<net::URL> requestTokenURL_;
  std::optional<net::URL> authorizeURL_;
  bool oauth10a_ = false;
  OAuthAuthenticationMethodOAuthDelegate* delegate_ = nullptr;
  std::function<void(const net::URL&)> opener_;
  fnd::ScopedObserver observer_;
};

}  // namespace kesto
