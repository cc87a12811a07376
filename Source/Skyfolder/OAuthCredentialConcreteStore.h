#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Net/URL.h"
#include "Skyfolder/OAURLRequestParameter.h"

#include <optional>
#include <string>
#include <vector>

namespace kesto {

// Keys of the credential store.
inline constexpr const char* kOAuthCredentialConsumerKey = "kOAuthCredentialConsumerKey";
inline constexpr const char* kOAuthCredentialConsumerSecret = "kOAuthCredentialConsumerSecret";
inline constexpr const char* kOAuthCredentialUsername = "kOAuthCredentialUsername";
inline constexpr const char* kOAuthCredentialPassword = "kOAuthCredentialPassword";
inline constexpr const char* kOAuthCredentialRequestToken = "kOAuthCredentialRequestToken";
inline constexpr const char* kOAuthCredentialRequestTokenSecret = "kOAuthCredentialRequestTokenSecret";
inline constexpr const char* kOAuthCredentialAccessToken = "kOAuthCredentialAccessToken";
inline constexpr const char* kOAuthCredentialAccessTokenSecret = "kOAuthCredentialAccessTokenSecret";
inline constexpr const char* kOAuthCredentialSessionHandle = "kOAuthCredentialSessionHandle";
inline constexpr const char* kOAuthSignatureMethod = "kOAuthSignatureMethod";
inline constexpr const char* kOAuthVersionParameter = "versionParameter";

// One account's OAuth credentials: consumer key and secret, tokens and the signature method.
// It makes the protocol parameters and the signing key of every request. Values set through
// setCredential also go to the keychain as internet-password items; clearing a token removes
// its item.
class OAuthCredentialConcreteStore {
 public:
  explicit OAuthCredentialConcreteStore(fnd::Dictionary credentials,
                                        std::optional<net::URL> baseURL = std::nullopt,
                                        std::optional<net::URL> authenticationURL = std::nullopt);

  std::optional<std::string> consumerKey() const { return credentialNamed(kOAuthCredentialConsumerKey); }
  std::optional<std::string> consumerSecret() const { return credentialNamed(kOAuthCredentialConsumerSecret); }
  std::optional<std::string> username() const { return credentialNamed(kOAuthCredentialUsername); }
  std::optional<std::string> password() const { return credentialNamed(kOAuthCredentialPassword); }
  std::optional<std::string> requestToken() const { return credentialNamed(kOAuthCredentialRequestToken); }
  void setRequestToken(std::optional<std::string> v) { setValue(kOAuthCredentialRequestToken, std::move(v)); }
  std::optional<std::string> requestTokenSecret() const { return credentialNamed(kOAuthCredentialRequestTokenSecret); }
  void setRequestTokenSecret(std::optional<std::string> v) { setValue(kOAuthCredentialRequestTokenSecret, std::move(v)); }
  std::optional<std::string> accessToken() const { return credentialNamed(kOAuthCredentialAccessToken); }
  void setAccessToken(std::optional<std::string> v) { setValue(kOAuthCredentialAccessToken, std::move(v)); }
  std::optional<std::string> accessTokenSecret() const { return credentialNamed(kOAuthCredentialAccessTokenSecret); }
  void setAccessTokenSecret(std::optional<std::string> v) { setValue(kOAuthCredentialAccessTokenSecret, std::move(v)); }
  std::optional<std::string> sessionHandle() const { return credentialNamed(kOAuthCredentialSessionHandle); }
  void setSessionHandle(std::optional<std::string> v) { setValue(kOAuthCredentialSessionHandle, std::move(v)); }
  std::optional<std::string> signatureMethod() const { return credentialNamed(kOAuthSignatureMethod); }
  void setSignatureMethod(std::optional<std::string> v) { setValue(kOAuthSignatureMethod, std::move(v)); }

  std::optional<std::string> credentialNamed(const std::string& name) const;
  // Stores the value and writes its keychain item.
  void setCredential(const std::string& value, const std::string& name);
  // Removes the value and its keychain item.
  void removeCredentialNamed(const std::string& name);
  // Clears both tokens, their secrets and the session handle.
  void discardOAuthCredentials();

  // The access token's secret when an access token is present, else the request token's, else "".
  std::string tokenSecret() const;
  // Encoded consumer secret, "&", encoded token secret.
  std::string signingKey() const;
  // Whole seconds since 1970 as 64-bit decimal text.
  std::string timestamp() const;
  // consumer key, token (when present), signature method, timestamp, a new nonce, version.
  std::vector<OAURLRequestParameter> oauthParameters() const;
  OAURLRequestParameter oauthConsumerKeyParameter() const;
  std::optional<OAURLRequestParameter> oauthTokenParameter() const;
  OAURLRequestParameter oauthSignatureMethodParameter() const;
  OAURLRequestParameter oauthTimestampParameter() const;
  OAURLRequestParameter oauthNonceParameter() const;
  OAURLRequestParameter oauthVersionParameter() const;

  const std::optional<net::URL>& baseURL() const { return baseURL_; }
  const std::optional<net::URL>& authenticationURL() const { return authenticationURL_; }

  // Internet-password items: server = host of the base URL, security domain = host of the
  // authentication URL, account = "<bundle id>.<name>", protocol 'oaut'.
  void addToKeychainUsingName(const std::string& name, const std::string& value) const;
  std::optional<std::string> findValueFromKeychainUsingName(const std::string& name) const;
  void removeValueFromKeychainUsingName(const std::string& name) const;

 private:
  void setValue(const char* key, std::optional<std::string> value);

  fnd::Dictionary store_;
  std::optional<net::URL> baseURL_;
  std::optional<net::URL> authenticationURL_;
};

}  // namespace kesto
