#include "Platform/Net/URLError.h"

#include "Platform/Net/URL.h"

namespace kesto::net {

std::string urlErrorDescription(std::int64_t code) {
  switch (code) {
    case urlerror::Cancelled: return "cancelled";
    case urlerror::BadURL: return "unsupported URL";
    case urlerror::TimedOut: return "The request timed out.";
    case urlerror::UnsupportedURL: return "unsupported URL";
    case urlerror::CannotFindHost: return "A server with the specified hostname could not be found.";
    case urlerror::CannotConnectToHost: return "Could not connect to the server.";
    case urlerror::NetworkConnectionLost: return "The network connection was lost.";
    case urlerror::HTTPTooManyRedirects: return "too many HTTP redirects";
    case urlerror::NotConnectedToInternet: return "The Internet connection appears to be offline.";
    case urlerror::BadServerResponse: return "The server returned a bad response.";
    case urlerror::UserCancelledAuthentication: return "The operation couldn't be completed. (NSURLErrorDomain error -1012.)";
    case urlerror::CannotDecodeRawData: return "cannot decode raw data";
    case urlerror::CannotDecodeContentData: return "cannot decode content data";
    case urlerror::DataLengthExceedsMaximum: return "resource exceeds maximum size";
    case urlerror::SecureConnectionFailed: return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case urlerror::ServerCertificateHasBadDate: return "The certificate for this server is invalid.";
    case urlerror::ServerCertificateUntrusted: return "The certificate for this server is invalid.";
    case urlerror::ServerCertificateHasUnknownRoot: return "The certificate for this server was signed by an unknown certifying authority.";
    case urlerror::CannotMoveFile: return "The file could not be moved.";
    default: return "unknown error";
  }
}

fnd::Error makeURLError(std::int64_t code, const URL* failingURL, std::string description) {
  fnd::Dictionary info;
  info[fnd::kLocalizedDescriptionKey] = description.empty() ? urlErrorDescription(code) : std::move(description);
  if (failingURL && !failingURL->isEmpty()) {
    info[fnd::kURLErrorKey] = failingURL->absoluteString();
    info[fnd::kURLErrorStringKey] = failingURL->absoluteString();
  }
  return fnd::Error(fnd::kURLErrorDomain, code, std::move(info));
}

bool isServerTrustFailure(const fnd::Error& error) {
  if (error.domain() != fnd::kURLErrorDomain) return false;
  switch (error.code()) {
    case urlerror::ServerCertificateHasBadDate:
    case urlerror::ServerCertificateUntrusted:
    case urlerror::ServerCertificateHasUnknownRoot:
    case urlerror::ServerCertificateNotYetValid: return true;
    default: break;
  }
  auto it = error.userInfo().find(kServerTrustFailedKey);
  return it != error.userInfo().end() && it->second.boolValue();
}

fnd::Error makeServerTrustError(std::int64_t code, const URL* failingURL) {
  auto error = makeURLError(code, failingURL, kServerNotTrustedDescription);
  error.mutableUserInfo()[kServerTrustFailedKey] = fnd::Value(true);
  return error;
}

}  // namespace kesto::net
