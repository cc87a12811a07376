#include "Skyfolder/OAuthAuthenticationMethod.h"

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Timer.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Skyfolder/OAuthAPI.h"
#include "Skyfolder/OAuthCredentialConcreteStore.h"
#include "Skyfolder/OAuthHelpers.h"
#include "Skyfolder/SFBrowser.h"
#include "Skyfolder/SFLog.h"

#include <mutex>

namespace kesto {

namespace {

std::mutex gAutoConfigMutex;
fnd::Dictionary gAutoConfig;

std::optional<net::URL> urlFor(const fnd::Dictionary& configuration, const char* key) {
  const auto it = configuration.find(key);
  if (it == configuration.end() || !it->second.isString()) return std::nullopt;
  return net::URL::fromString(it->second.string());
}

std::optional<std::string> textIn(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  return it == d.end() ? std::nullopt : it->second.stringIfString();
}

}  // namespace

void OAuthAuthenticationMethod::setAutoConfiguration(fnd::Dictionary configuration) {
  std::lock_guard lock(gAutoConfigMutex);
  gAutoConfig = std::move(configuration);
}

std::unique_ptr<OAuthAuthenticationMethod> OAuthAuthenticationMethod::create(OAuthAPI& api, const net::URL& url,
                                                                             const fnd::Dictionary* configuration) {
  if (configuration) return std::make_unique<OAuthAuthenticationMethodOAuth>(api, *configuration);
  fnd::Dictionary chosen;
  {
    std::lock_guard lock(gAutoConfigMutex);
    for (const auto& [domain, config] : gAutoConfig) {
      if (!config.isDictionary() || !oaurlparameteradditions::domainMatches(url, domain)) continue;
      const auto& preferred = config["OAuthAuthenticationPreferredMethods"].array();
      if (preferred.empty()) {
        chosen = config.dictionary();
      } else {
        // The only method class there is; any name gets it, with that name's configuration.
        chosen = config[preferred.front().string()].dictionary();
      }
      break;
    }
  }
  return std::make_unique<OAuthAuthenticationMethodOAuth>(api, chosen);
}

OAuthAuthenticationMethod::OAuthAuthenticationMethod(OAuthAPI& api, const fnd::Dictionary& configuration)
    : api_(api), accessTokenURL_(urlFor(configuration, "OAuthAccessTokenURL")) {}

OAuthAuthenticationMethod::~OAuthAuthenticationMethod() {
  if (refreshTimer_) refreshTimer_->invalidate();
}

void OAuthAuthenticationMethod::authenticate() {
  SFLogError("Not Implemented: All subclasses of OAuthAuthenticationMethod are required to implement -authenticate");
}

void OAuthAuthenticationMethod::setTokenRefreshInterval(double seconds) {
  if (seconds <= 0 || refreshTimer_) return;
  refreshTimer_ = fnd::Timer::scheduledTimer(seconds, true, [this](fnd::Timer&) { refreshAccessToken(); });
}

void OAuthAuthenticationMethod::refreshAccessToken() {
  if (!accessTokenURL_) return;
  fnd::Dictionary params;
  if (auto handle = api_.credentialNamed(kOAuthCredentialSessionHandle))
    params.emplace("oauth_session_handle", fnd::Value(*handle));
  api_.performMethod(std::nullopt, *accessTokenURL_, params, {});
}

OAuthAuthenticationMethodOAuth::OAuthAuthenticationMethodOAuth(OAuthAPI& api, const fnd::Dictionary& configuration)
    : OAuthAuthenticationMethod(api, configuration),
      requestTokenURL_(urlFor(configuration, "OAuthRequestTokenURL")),
      authorizeURL_(urlFor(configuration, "OAuthUserAuthorizationURL")),
      opener_([](const net::URL& url) { SFOpenURLInDefaultBrowser(url); }) {
  // Only the replies of this method's own API: two APIs must never take each other's tokens.
  observer_.observe(kOAuthNotificationRequestTokenReceived,
                    [this](const fnd::Notification& n) { requestTokenReceived(n); }, &api_);
  observer_.observe(kOAuthNotificationRequestTokenRejected, [](const fnd::Notification&) {}, &api_);
  observer_.observe(kOAuthNotificationAccessTokenReceived,
                    [this](const fnd::Notification& n) { accessTokenReceived(n); }, &api_);
}

OAuthAuthenticationMethodOAuth::~OAuthAuthenticationMethodOAuth() = default;

void OAuthAuthenticationMethodOAuth::authenticate() {
  auto& store = api_.credentials();
  const bool hasAccess = store.accessToken().has_value();
  const bool hasRequest = store.requestToken().has_value();
  if (!hasAccess && !hasRequest) return requestToken();
  if (hasRequest && !hasAccess) return requestAccessToken();
  const auto expiry = fnd::UserDefaults::standard().objectForKey(kOAuthAutomaticTokenRefreshLastExpiryDate);
  if (expiry.isNumber() && fnd::Date(expiry.doubleValue()) < fnd::Date::now()) refreshAccessToken();
}

void OAuthAuthenticationMethodOAuth::requestToken() {
  if (!requestTokenURL_) return;
  std::optional<net::URL> callback;
  if (answers(OAuthAuthenticationMethodOAuthDelegate::CallbackURL))
    callback = delegate_->callbackURLForCompletedUserAuthorization();
  fnd::Dictionary params{{"oauth_callback", fnd::Value(callback ? callback->absoluteString() : std::string("oob"))}};
  OAuthAPI::Target target;
  target.didLoad = [this](OAuthAPIRequestLoader& loader, const fnd::Data&) {
    requestTokenLoaded(loader.oauthResponse().oauthParameters);
  };
  target.didFail = [this](OAuthAPIRequestLoader&, const fnd::Error& error) { loadFailed(error); };
  api_.performMethod(std::nullopt, *requestTokenURL_, params, std::move(target));
}

void OAuthAuthenticationMethodOAuth::requestTokenLoaded(const fnd::Dictionary& parameters) {
  const auto token = textIn(parameters, "oauth_token");
  if (!token) return;
  std::optional<net::URL> base;
  // The page named by the reply goes to the browser opener, so only a web page is taken from it:
  // another scheme could start a local program or open a local file.
  if (auto given = textIn(parameters, "xoauth_request_auth_url")) base = net::URL::fromString(*given);
  if (base && base->scheme() != "https" && base->scheme() != "http") base.reset();
  if (!base) base = authorizeURL_;
  if (!base) return;
  std::optional<net::URL> callback;
  if (answers(OAuthAuthenticationMethodOAuthDelegate::CallbackURL))
    callback = delegate_->callbackURLForCompletedUserAuthorization();
  fnd::Dictionary add{{"oauth_token", fnd::Value(*token)}};
  if (!oauth10a_ && callback) add.emplace("oauth_callback", fnd::Value(callback->absoluteString()));
  const auto url = oaurlparameteradditions::urlByAddingParameterDictionary(*base, add);
  if (!url) return;
  if (answers(OAuthAuthenticationMethodOAuthDelegate::AutomaticallyRequestAuthentication) &&
      !delegate_->automaticallyRequestAuthenticationFromURL(*url, callback))
    return;
  if (opener_) opener_(*url);
}

void OAuthAuthenticationMethodOAuth::requestTokenReceived(const fnd::Notification& n) {
  if (n.userInfo.count("oauth_callback_confirmed")) oauth10a_ = true;
  if (auto token = textIn(n.userInfo, "oauth_token")) api_.setCredential(*token, kOAuthCredentialRequestToken);
  if (auto secret = textIn(n.userInfo, "oauth_token_secret"))
    api_.setCredential(*secret, kOAuthCredentialRequestTokenSecret);
}

void OAuthAuthenticationMethodOAuth::requestAccessToken() {
  if (!accessTokenURL_) return;
  fnd::Dictionary params;
  if (answers(OAuthAuthenticationMethodOAuthDelegate::OAuthVerifier))
    if (auto verifier = delegate_->oauthVerifierForCompletedUserAuthorization())
      params.emplace("oauth_verifier", fnd::Value(*verifier));
  OAuthAPI::Target target;
  target.didFail = [this](OAuthAPIRequestLoader&, const fnd::Error& error) { loadFailed(error); };
  api_.performMethod(std::nullopt, *accessTokenURL_, params, std::move(target));
}

void OAuthAuthenticationMethodOAuth::accessTokenReceived(const fnd::Notification& n) {
  if (auto token = textIn(n.userInfo, "oauth_token")) api_.setCredential(*token, kOAuthCredentialAccessToken);
  if (auto secret = textIn(n.userInfo, "oauth_token_secret"))
    api_.setCredential(*secret, kOAuthCredentialAccessTokenSecret);
  if (auto handle = textIn(n.userInfo, "oauth_session_handle"))
    api_.setCredential(*handle, kOAuthCredentialSessionHandle);
  api_.setAuthenticationState(OAuthAPI::kStateAuthenticated);
  auto& defaults = fnd::UserDefaults::standard();
  const auto expiresIn = textIn(n.userInfo, "oauth_expires_in");
  if (!expiresIn) {
    defaults.removeObject(kOAuthAutomaticTokenRefreshLastExpiryDate);
    return;
  }
  const long long seconds = std::atoll(expiresIn->c_str());
  defaults.setDouble(fnd::Date::now().dateByAddingTimeInterval(static_cast<double>(seconds)).timeIntervalSinceReferenceDate(),
                     kOAuthAutomaticTokenRefreshLastExpiryDate);
  if (seconds >= 1) setTokenRefreshInterval(static_cast<double>(seconds));
}

void OAuthAuthenticationMethodOAuth::loadFailed(const fnd::Error& error) {
  if (answers(OAuthAuthenticationMethodOAuthDelegate::AuthenticationDidFail))
    delegate_->authenticationDidFailWithError(error);
}

}  // namespace kesto
