#include "Skyfolder/OAuthURLRequest.h"

#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Skyfolder/OAuthHelpers.h"
#include "Skyfolder/SFBase64.h"

namespace kesto {

OAuthURLRequest::OAuthURLRequest(net::URL url, std::vector<OAURLRequestParameter> parameters)
    : url_(std::move(url)), parameters_(std::move(parameters)) {}

OAuthURLRequest::OAuthURLRequest(const net::URLRequest& request)
    : url_(oaurlparameteradditions::urlByRemovingQuery(request.url())),
      httpMethod_(request.httpMethod()),
      parameters_(OAURLRequestParameter::parametersFromString(request.url().query().value_or(""))) {}

void OAuthURLRequest::addParameters(const std::vector<OAURLRequestParameter>& parameters) {
  parameters_.insert(parameters_.end(), parameters.begin(), parameters.end());
}

std::optional<net::URLRequest> OAuthURLRequest::urlRequestSignedWithSecret(const std::string& secret,
                                                                          const std::string& signatureMethod,
                                                                          fnd::Error* error) {
  std::stable_sort(parameters_.begin(), parameters_.end());
  std::string parameterString = OAURLRequestParameter::parameterStringForParameters(parameters_);
  const auto signature = OAuthSignatureParameter::make(parameterString, secret, *this, signatureMethod, error);
  if (!signature) return std::nullopt;
  parameterString += "&" + signature->URLEncodedParameterString();

  net::URLRequest request;
  request.setHTTPMethod(httpMethod_);
  if (httpMethod_ == "GET") {
    auto url = net::URL::fromString(url_.absoluteString() + "?" + parameterString);
    if (!url) {
      if (error) *error = fnd::Error::withDescription(kOAuthUnhandledHTTPMethod, 0, "The request URL is not valid");
      return std::nullopt;
    }
    request.setURL(std::move(*url));
  } else if (httpMethod_ == "POST") {
    request.setURL(url_);
    request.setHTTPBody(fnd::Data(parameterString.begin(), parameterString.end()));
    request.setValueForHTTPHeaderField(std::to_string(parameterString.size()), "Content-Length");
    request.setValueForHTTPHeaderField(std::string("application/x-www-form-urlencoded"), "Content-Type");
  } else {
    if (error)
      *error = fnd::Error::withDescription(kOAuthUnhandledHTTPMethod, 0,
                                           "The requested HTTP method, " + httpMethod_ + ", is not supported");
    return std::nullopt;
  }
  urlRequest_ = request;
  return request;
}

std::optional<OAuthSignatureParameter> OAuthSignatureParameter::make(const std::string& text,
                                                                     const std::string& secret,
                                                                     const OAuthURLRequest& request,
                                                                     const std::string& method, fnd::Error* error) {
  if (method == "HMAC-SHA1") return makeHMAC_SHA1(text, secret, request);
  if (method == "PLAINTEXT") return OAuthSignatureParameter(secret);
  if (error)
    *error = fnd::Error::withDescription(
        kOAuthUnsupportedSignatureMethod, 0,
        "The signature method \"" + method + "\" is not currently support by OAuthConnection");
  return std::nullopt;
}

OAuthSignatureParameter OAuthSignatureParameter::makeHMAC_SHA1(const std::string& text, const std::string& secret,
                                                               const OAuthURLRequest& request) {
  return OAuthSignatureParameter(HMAC_SHA1SignatureForText(signatureBaseStringUsingParameterString(text, request), secret));
}

std::string OAuthSignatureParameter::signatureBaseStringUsingParameterString(const std::string& text,
                                                                            const OAuthURLRequest& request) {
  return request.httpMethod() + "&" +
         fnd::percentEncodeUnreserved(oaurlparameteradditions::absoluteNormalizedString(request.url())) + "&" +
         fnd::percentEncodeUnreserved(text);
}

std::string OAuthSignatureParameter::HMAC_SHA1SignatureForText(const std::string& text, const std::string& secret) {
  const fnd::Data digest = fnd::crypto::hmacSha1(secret, text);
  std::string out(SFBase64EncodedSize(digest.size()), '\0');
  std::size_t capacity = out.size();
  SFBase64Encode(digest.data(), digest.size(), out.data(), &capacity);
  out.resize(capacity);
  return out;
}

}  // namespace kesto
