#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Net/URLRequest.h"
#include "Skyfolder/OAURLRequestParameter.h"

#include <optional>
#include <string>
#include <vector>

namespace kesto {

// Names of the signing failures (reported as the error's domain, with the reason as its
// description).
inline constexpr const char* kOAuthUnsupportedSignatureMethod = "Unsupported Signature Method";
inline constexpr const char* kOAuthUnhandledHTTPMethod = "UnhandledHTTPMethodException";

// A request before signing: URL without query, method and parameters.
class OAuthURLRequest {
 public:
  OAuthURLRequest(net::URL url, std::vector<OAURLRequestParameter> parameters = {});
  // The URL without its query, the query's parameters and the request's method.
  explicit OAuthURLRequest(const net::URLRequest& request);

  const net::URL& url() const { return url_; }
  const std::string& httpMethod() const { return httpMethod_; }
  void setHTTPMethod(std::string method) { httpMethod_ = std::move(method); }
  const std::vector<OAURLRequestParameter>& parameters() const { return parameters_; }
  void addParameters(const std::vector<OAURLRequestParameter>& parameters);

  // Sorts the parameters, signs them with `secret` by `signatureMethod` ("PLAINTEXT" or
  // "HMAC-SHA1") and returns the request: GET with the parameters and the signature (last) as
  // its query, POST with them as a form body. Absent (and `error` set) for another signature
  // method or HTTP method.
  std::optional<net::URLRequest> urlRequestSignedWithSecret(const std::string& secret,
                                                            const std::string& signatureMethod,
                                                            fnd::Error* error = nullptr);
  const std::optional<net::URLRequest>& urlRequest() const { return urlRequest_; }

 private:
  net::URL url_;
  std::string httpMethod_ = "GET";
  std::vector<OAURLRequestParameter> parameters_;
  std::optional<net::URLRequest> urlRequest_;
};

// The "oauth_signature" parameter.
class OAuthSignatureParameter : public OAURLRequestParameter {
 public:
  // Absent (and `error` set) for a method other than PLAINTEXT and HMAC-SHA1.
  static std::optional<OAuthSignatureParameter> make(const std::string& text, const std::string& secret,
                                                     const OAuthURLRequest& request, const std::string& method,
                                                     fnd::Error* error = nullptr);
  static OAuthSignatureParameter makeHMAC_SHA1(const std::string& text, const std::string& secret,
                                               const OAuthURLRequest& request);

  static std::string signatureBaseStringUsingParameterString(const std::string& text, const OAuthURLRequest& request);
  // Base64 of HMAC-SHA1(secret, text).
  static std::string HMAC_SHA1SignatureForText(const std::string& text, const std::string& secret);

 private:
  explicit OAuthSignatureParameter(std::string value) : OAURLRequestParameter("oauth_signature", std::move(value)) {}
};

}  // namespace kesto
