#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Net/URL.h"
#include "Skyfolder/OAURLRequestParameter.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

// String and URL helpers shared by the signing layer and the client.
namespace oaurlescapingadditions {
// Percent-encodes everything but the unreserved characters of RFC 3986.
std::string stringByAddingURIPercentEscapes(std::string_view text);
// Four dot-separated decimal parts, each at most 254.
bool isIPAddress(std::string_view text);
}  // namespace oaurlescapingadditions

namespace oaurlparameteradditions {
std::optional<net::URL> urlByAddingParameters(const net::URL& url, const std::vector<OAURLRequestParameter>& parameters);
// The existing query's values win over equal names in `parameters`.
std::optional<net::URL> urlByAddingParameterDictionary(const net::URL& url, const fnd::Dictionary& parameters);
net::URL urlByRemovingQuery(const net::URL& url);
// The absolute string, with "/" added when both path and query are empty.
std::string absoluteNormalizedString(const net::URL& url);
// Whether the URL's host lies in `domain`: the same host, or a subdomain of it at a label
// boundary (".example.com" and "example.com" both cover "www.example.com", neither covers
// "notexample.com"). An IP-address host matches only itself.
bool domainMatches(const net::URL& url, std::string_view domain);
}  // namespace oaurlparameteradditions

namespace skyfolder {
// "a=1&b=%20" into a dictionary with decoded values; pieces without "=" or with undecodable
// values are skipped.
fnd::Dictionary dictionaryWithQueryString(std::string_view text);
// "key=value&..." with both sides percent-encoded.
std::string urlRepresentation(const fnd::Dictionary& dictionary);
// "" for "/"; otherwise lower-cased and composed (NFC), so paths compare as the service does.
std::string normalizedSkyfolderPath(std::string_view path);
bool isEqualToSkyfolderPath(std::string_view a, std::string_view b);
}  // namespace skyfolder

}  // namespace kesto
