#include "Skyfolder/OAuthAPI.h"

#include "Platform/Foundation/Assert.h"
#include "Skyfolder/OAuthAuthenticationMethod.h"
#include "Skyfolder/OAuthCredentialConcreteStore.h"
#include "Skyfolder/SFLog.h"

#include <algorithm>

namespace kesto {

OAuthAPI::OAuthAPI(const fnd::Dictionary& credentials, const net::URL& authenticationURL, const net::URL& baseURL,
                   bool autoStart, const fnd::Dictionary* configuration)
    : credentials_(std::make_unique<OAuthCredentialConcreteStore>(credentials, baseURL, authenticationURL)),
      baseURL_(baseURL),
      authenticationURL_(authenticationURL) {
  authenticationMethod_ = OAuthAuthenticationMethod::create(*this, authenticationURL, configuration);
  setSignatureScheme(HMAC_SHA1);
  if (autoStart) authenticate();
}

OAuthAPI::~OAuthAPI() {
  // Loaders first: their callbacks reach the authentication method.
  for (const auto& loader : activeLoaders_) loader->cancel();
  activeLoaders_.clear();
}

void OAuthAPI::setSignatureScheme(int scheme) {
  signatureScheme_ = scheme;
  credentials_->setSignatureMethod(std::string(scheme == PlainText ? "PLAINTEXT"
                                               : scheme == RSA_SHA1 ? "RSA-SHA1"
                                                                    : "HMAC-SHA1"));
}

void OAuthAPI::authenticate() {
  KESTO_ASSERT_MAIN_THREAD();
  if (authenticationMethod_) authenticationMethod_->authenticate();
}

bool OAuthAPI::performMethod(const std::optional<std::string>& method, Target target) {
  return performMethod(method, baseURL_, {}, std::move(target));
}

bool OAuthAPI::performMethod(const std::optional<std::string>& method, const net::URL& url,
                             const fnd::Dictionary& parameters, Target target, const std::string& httpMethod) {
  std::optional<net::URL> callURL;
  if (method) {
    callURL = net::URL::fromString(*method, url);
  } else if (!url.path().empty() || url.query()) {
    callURL = url;
  }
  if (!callURL) {
    SFLogError("OAuthNilMethodRequestException: Nil was passed as the method to be performed on %@",
               url.redactedString());
    return false;
  }
  OAuthURLRequest request(std::move(*callURL), OAURLRequestParameter::parametersFromDictionary(parameters));
  request.setHTTPMethod(httpMethod);
  return start(std::move(request), std::move(target));
}

bool OAuthAPI::performURLRequest(const net::URLRequest* request, Target target) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!request) {
    SFLogError("OAuthNilMethodRequestException: Nil was passed as the method to be performed on %@",
               baseURL_.redactedString());
    return false;
  }
  return start(OAuthURLRequest(*request), std::move(target));
}

bool OAuthAPI::start(OAuthURLRequest request, Target target) {
  KESTO_ASSERT_MAIN_THREAD();
  auto loader = std::make_shared<OAuthAPIRequestLoader>(this, std::move(request), std::move(target));
  activeLoaders_.push_back(loader);
  loader->loadSynchronously(false);
  return true;
}

void OAuthAPI::loaderFinished(OAuthAPIRequestLoader& loader) {
  activeLoaders_.erase(std::remove_if(activeLoaders_.begin(), activeLoaders_.end(),
                                      [&](const auto& l) { return l.get() == &loader; }),
                       activeLoaders_.end());
}

std::optional<fnd::Data> OAuthAPI::dataForMethod(const std::string& method, const fnd::Dictionary& parameters) {
  return dataForURL(baseURL_, method, parameters);
}

std::optional<fnd::Data> OAuthAPI::dataForURL(const net::URL& url, const std::string& method,
                                              const fnd::Dictionary& parameters) {
  auto callURL = net::URL::fromString(method, url);
  if (!callURL) return std::nullopt;
  OAuthAPIRequestLoader loader(this, OAuthURLRequest(*callURL, OAURLRequestParameter::parametersFromDictionary(parameters)),
                               {});
  loader.loadSynchronously(true);
  if (loader.error()) return std::nullopt;
  return loader.data();
}

std::optional<std::string> OAuthAPI::credentialNamed(const std::string& name) const {
  return credentials_->credentialNamed(name);
}

void OAuthAPI::setCredential(const std::string& value, const std::string& name) {
  credentials_->setCredential(value, name);
}

void OAuthAPI::removeCredentialNamed(const std::string& name) { credentials_->removeCredentialNamed(name); }

void OAuthAPI::discardCredentials() {
  credentials_->discardOAuthCredentials();
  authenticationState_ = kStateNotAuthenticated;
}

}  // namespace kesto
