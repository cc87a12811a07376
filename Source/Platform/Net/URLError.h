#pragma once

#include "Platform/Foundation/Error.h"

#include <cstdint>
#include <string>

namespace kesto::net {

class URL;

// Error codes of the URL error domain (fnd::kURLErrorDomain), with the values callers and
// stored logs know.
namespace urlerror {
inline constexpr std::int64_t Unknown = -1;
inline constexpr std::int64_t Cancelled = -999;
inline constexpr std::int64_t BadURL = -1000;
inline constexpr std::int64_t TimedOut = -1001;
inline constexpr std::int64_t UnsupportedURL = -1002;
inline constexpr std::int64_t CannotFindHost = -1003;
inline constexpr std::int64_t CannotConnectToHost = -1004;
inline constexpr std::int64_t NetworkConnectionLost = -1005;
inline constexpr std::int64_t DNSLookupFailed = -1006;
inline constexpr std::int64_t HTTPTooManyRedirects = -1007;
inline constexpr std::int64_t ResourceUnavailable = -1008;
inline constexpr std::int64_t NotConnectedToInternet = -1009;
inline constexpr std::int64_t RedirectToNonExistentLocation = -1010;
inline constexpr std::int64_t BadServerResponse = -1011;
inline constexpr std::int64_t UserCancelledAuthentication = -1012;
inline constexpr std::int64_t UserAuthenticationRequired = -1013;
inline constexpr std::int64_t ZeroByteResource = -1014;
inline constexpr std::int64_t CannotDecodeRawData = -1015;
inline constexpr std::int64_t CannotDecodeContentData = -1016;
inline constexpr std::int64_t CannotParseResponse = -1017;
inline constexpr std::int64_t FileDoesNotExist = -1100;
inline constexpr std::int64_t DataLengthExceedsMaximum = -1103;
inline constexpr std::int64_t SecureConnectionFailed = -1200;
inline constexpr std::int64_t ServerCertificateHasBadDate = -1201;
inline constexpr std::int64_t ServerCertificateUntrusted = -1202;
inline constexpr std::int64_t ServerCertificateHasUnknownRoot = -1203;
inline constexpr std::int64_t ServerCertificateNotYetValid = -1204;
inline constexpr std::int64_t ClientCertificateRejected = -1205;
inline constexpr std::int64_t ClientCertificateRequired = -1206;
inline constexpr std::int64_t CannotCreateFile = -3000;
inline constexpr std::int64_t CannotMoveFile = -3005;
}  // namespace urlerror

// An error of the URL domain. The failing URL is kept under kURLErrorKey and
// kURLErrorStringKey (both the full string: never log them); `description` may be empty, then
// a default text for the code is used.
fnd::Error makeURLError(std::int64_t code, const URL* failingURL, std::string description = {});

// The default English text for a URL error code ("cancelled", "The request timed out.").
std::string urlErrorDescription(std::int64_t code);

// Set (true) in the user info of an exchange ended because the server's certificate was not
// trusted, whatever the code (a delegate that refuses the trust cancels the challenge, -1012).
inline constexpr const char* kServerTrustFailedKey = "NSURLErrorFailingURLPeerTrustErrorKey";
inline constexpr const char* kServerNotTrustedDescription = "The server's certificate is not trusted.";
// Whether the error says the server's certificate was refused (by the trust evaluation, or by
// a delegate judging it).
bool isServerTrustFailure(const fnd::Error& error);
// The error of an exchange ended because the server's certificate was refused.
fnd::Error makeServerTrustError(std::int64_t code, const URL* failingURL);

}  // namespace kesto::net
