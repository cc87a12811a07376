#include "Skyfolder/OAuthCredentialConcreteStore.h"

#include "Platform/Foundation/Keychain.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Uuid.h"
#include "Skyfolder/SFConfig.h"

#include <chrono>

namespace kesto {

namespace {

std::string hostOf(const std::optional<net::URL>& url) { return url ? url->host() : std::string(); }

}  // namespace

OAuthCredentialConcreteStore::OAuthCredentialConcreteStore(fnd::Dictionary credentials,
                                                           std::optional<net::URL> baseURL,
                                                           std::optional<net::URL> authenticationURL)
    : store_(std::move(credentials)), baseURL_(std::move(baseURL)), authenticationURL_(std::move(authenticationURL)) {
  if (!authenticationURL_) authenticationURL_ = baseURL_;
}

std::optional<std::string> OAuthCredentialConcreteStore::credentialNamed(const std::string& name) const {
  const auto it = store_.find(name);
  if (it == store_.end()) return std::nullopt;
  return it->second.stringIfString();
}

void OAuthCredentialConcreteStore::setValue(const char* key, std::optional<std::string> value) {
  if (value) {
    store_.insert_or_assign(key, fnd::Value(std::move(*value)));
  } else {
    store_.erase(key);
    removeValueFromKeychainUsingName(key);
  }
}

void OAuthCredentialConcreteStore::setCredential(const std::string& value, const std::string& name) {
  store_.insert_or_assign(name, fnd::Value(value));
  addToKeychainUsingName(name, value);
}

void OAuthCredentialConcreteStore::removeCredentialNamed(const std::string& name) {
  store_.erase(name);
  removeValueFromKeychainUsingName(name);
}

void OAuthCredentialConcreteStore::discardOAuthCredentials() {
  setRequestToken(std::nullopt);
  setRequestTokenSecret(std::nullopt);
  setAccessToken(std::nullopt);
  setAccessTokenSecret(std::nullopt);
  setSessionHandle(std::nullopt);
}

std::string OAuthCredentialConcreteStore::tokenSecret() const {
  // A token that came without its secret signs with an empty second half.
  if (accessToken()) return accessTokenSecret().value_or("");
  if (requestToken()) return requestTokenSecret().value_or("");
  return "";
}

std::string OAuthCredentialConcreteStore::signingKey() const {
  return fnd::percentEncodeUnreserved(consumerSecret().value_or("")) + "&" + fnd::percentEncodeUnreserved(tokenSecret());
}

std::string OAuthCredentialConcreteStore::timestamp() const {
  // 64-bit, so requests keep working after January 2038.
  const auto seconds = static_cast<std::int64_t>(fnd::Date::now().timeIntervalSince1970());
  return std::to_string(seconds);
}

OAURLRequestParameter OAuthCredentialConcreteStore::oauthConsumerKeyParameter() const {
  return {"oauth_consumer_key", consumerKey()};
}

std::optional<OAURLRequestParameter> OAuthCredentialConcreteStore::oauthTokenParameter() const {
  if (auto token = accessToken()) return OAURLRequestParameter("oauth_token", std::move(token));
  if (auto token = requestToken()) return OAURLRequestParameter("oauth_token", std::move(token));
  return std::nullopt;
}

OAURLRequestParameter OAuthCredentialConcreteStore::oauthSignatureMethodParameter() const {
  return {"oauth_signature_method", signatureMethod()};
}

OAURLRequestParameter OAuthCredentialConcreteStore::oauthTimestampParameter() const {
  return {"oauth_timestamp", timestamp()};
}

OAURLRequestParameter OAuthCredentialConcreteStore::oauthNonceParameter() const {
  return {"oauth_nonce", fnd::Uuid::newString()};
}

OAURLRequestParameter OAuthCredentialConcreteStore::oauthVersionParameter() const {
  if (auto version = credentialNamed(kOAuthVersionParameter)) return {"oauth_version", std::move(version)};
  return {"oauth_version", std::string("1.0")};
}

std::vector<OAURLRequestParameter> OAuthCredentialConcreteStore::oauthParameters() const {
  std::vector<OAURLRequestParameter> out;
  out.reserve(6);
  out.push_back(oauthConsumerKeyParameter());
  if (auto token = oauthTokenParameter()) out.push_back(std::move(*token));
  out.push_back(oauthSignatureMethodParameter());
  out.push_back(oauthTimestampParameter());
  out.push_back(oauthNonceParameter());
  out.push_back(oauthVersionParameter());
  return out;
}

void OAuthCredentialConcreteStore::addToKeychainUsingName(const std::string& name, const std::string& value) const {
  // The keychain refuses a second item for one account: the old value goes first.
  removeValueFromKeychainUsingName(name);
  const std::string account = SFConfig::bundleIdentifier() + "." + name;
  fnd::Keychain::defaultKeychain().addInternetPassword(hostOf(baseURL_), hostOf(authenticationURL_), account, "", 0,
                                                       fnd::kProtocolOAuth, fnd::kAuthenticationTypeDefault,
                                                       fnd::Data(value.begin(), value.end()));
}

std::optional<std::string> OAuthCredentialConcreteStore::findValueFromKeychainUsingName(const std::string& name) const {
  fnd::Data data;
  const std::string account = SFConfig::bundleIdentifier() + "." + name;
  if (fnd::Keychain::defaultKeychain().findInternetPassword(hostOf(baseURL_), hostOf(authenticationURL_), account, "",
                                                            0, fnd::kProtocolAny, fnd::kAuthenticationTypeAny,
                                                            &data) != fnd::errSecSuccess ||
      data.empty())
    return std::nullopt;
  return std::string(data.begin(), data.end());
}

void OAuthCredentialConcreteStore::removeValueFromKeychainUsingName(const std::string& name) const {
  auto& keychain = fnd::Keychain::defaultKeychain();
  const std::string account = SFConfig::bundleIdentifier() + "." + name;
  fnd::KeychainItemRef item;
  if (keychain.findInternetPassword(hostOf(baseURL_), hostOf(authenticationURL_), account, "", 0, fnd::kProtocolAny,
                                    fnd::kAuthenticationTypeAny, nullptr, &item) == fnd::errSecSuccess)
    keychain.deleteItem(item);
}

}  // namespace kesto
