#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Net/URL.h"
#include "Platform/Net/URLRequest.h"
#include "Skyfolder/OAuthAPIRequestLoader.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class OAuthAuthenticationMethod;
class OAuthCredentialConcreteStore;

// A general OAuth 1.0/1.0a client: holds the credentials, runs the three-legged token exchange
// through its authentication method and performs signed calls. Main thread only.
class OAuthAPI {
 public:
  enum SignatureScheme { PlainText = 0, HMAC_SHA1 = 1, RSA_SHA1 = 2 };
  static constexpr int kStateNotAuthenticated = 0;
  static constexpr int kStateAuthenticated = 2;

  OAuthAPI(const fnd::Dictionary& credentials, const net::URL& baseURL)
      : OAuthAPI(credentials, baseURL, baseURL, true) {}
  OAuthAPI(const fnd::Dictionary& credentials, const net::URL& authenticationURL, const net::URL& baseURL,
           bool autoStart = true, const fnd::Dictionary* configuration = nullptr);
  ~OAuthAPI();
  OAuthAPI(const OAuthAPI&) = delete;
  OAuthAPI& operator=(const OAuthAPI&) = delete;

  OAuthCredentialConcreteStore& credentials() { return *credentials_; }
  const net::URL& baseURL() const { return baseURL_; }
  const net::URL& authenticationURL() const { return authenticationURL_; }
  OAuthAuthenticationMethod* authenticationMethod() const { return authenticationMethod_.get(); }
  int signatureScheme() const { return signatureScheme_; }
  // 0 PLAINTEXT, 2 RSA-SHA1 (which signing then refuses), anything else HMAC-SHA1.
  void setSignatureScheme(int scheme);
  int authenticationState() const { return authenticationState_; }
  void setAuthenticationState(int state) { authenticationState_ = state; }
  bool isAuthenticated() const { return authenticationState_ == kStateAuthenticated; }

  void authenticate();

  using Target = OAuthAPIRequestLoader::Target;
  // `method` resolved against `url` (or `url` itself when absent, which then needs a path or a
  // query). False, with an error logged, when there is nothing to call.
  bool performMethod(const std::optional<std::string>& method, Target target);
  bool performMethod(const std::optional<std::string>& method, const net::URL& url, const fnd::Dictionary& parameters,
                     Target target, const std::string& httpMethod = "GET");
  bool performPOSTMethod(const std::optional<std::string>& method, const net::URL& url,
                         const fnd::Dictionary& parameters, Target target) {
    return performMethod(method, url, parameters, std::move(target), "POST");
  }
  bool performURLRequest(const net::URLRequest* request, Target target);
  // A synchronous call on the base URL; the reply's body.
  std::optional<fnd::Data> dataForMethod(const std::string& method, const fnd::Dictionary& parameters = {});
  std::optional<fnd::Data> dataForURL(const net::URL& url, const std::string& method, const fnd::Dictionary& parameters);

  std::optional<std::string> credentialNamed(const std::string& name) const;
  void setCredential(const std::string& value, const std::string& name);
  void removeCredentialNamed(const std::string& name);
  void discardCredentials();

  // Running loaders; they end with their reply or with the API.
  std::size_t activeLoaderCount() const { return activeLoaders_.size(); }
  void loaderFinished(OAuthAPIRequestLoader& loader);

 private:
  bool start(OAuthURLRequest request, Target target);

  std::unique_ptr<OAuthCredentialConcreteStore> credentials_;
  net::URL baseURL_;
  net::URL authenticationURL_;
  std::unique_ptr<OAuthAuthenticationMethod> authenticationMethod_;
  int signatureScheme_ = HMAC_SHA1;
  int authenticationState_ = kStateNotAuthenticated;
  std::vector<std::shared_ptr<OAuthAPIRequestLoader>> activeLoaders_;
};

}  // namespace kesto
