#include "Skyfolder/OAuthHelpers.h"

#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/StringFormat.h"
#include "Platform/Foundation/Strings.h"

namespace kesto {

namespace oaurlescapingadditions {

std::string stringByAddingURIPercentEscapes(std::string_view text) { return fnd::percentEncodeUnreserved(text); }

bool isIPAddress(std::string_view text) {
  int parts = 0;
  std::size_t pos = 0;
  for (;;) {
    const auto dot = text.find('.', pos);
    const auto part = text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    if (++parts > 4) return false;
    if (part.size() > 3) return false;
    int value = 0;
    for (const char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 254) return false;
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  return parts == 4;
}

}  // namespace oaurlescapingadditions

namespace oaurlparameteradditions {

net::URL urlByRemovingQuery(const net::URL& url) {
  const auto& s = url.absoluteString();
  const auto q = s.find('?');
  if (q == std::string::npos) return url;
  return net::URL::fromString(s.substr(0, q)).value_or(url);
}

std::optional<net::URL> urlByAddingParameters(const net::URL& url,
                                              const std::vector<OAURLRequestParameter>& parameters) {
  const auto& s = url.absoluteString();
  const auto q = s.find('?');
  std::vector<OAURLRequestParameter> all;
  if (q != std::string::npos) all = OAURLRequestParameter::parametersFromString(std::string_view(s).substr(q + 1));
  all.insert(all.end(), parameters.begin(), parameters.end());
  return net::URL::fromString(s.substr(0, q) + "?" + OAURLRequestParameter::parameterStringForParameters(all));
}

std::optional<net::URL> urlByAddingParameterDictionary(const net::URL& url, const fnd::Dictionary& parameters) {
  const auto& s = url.absoluteString();
  const auto q = s.find('?');
  fnd::Dictionary merged = parameters;
  if (q != std::string::npos) {
    const std::string query = s.substr(q + 1);
    for (auto& [key, value] : OAURLRequestParameter::parameterDictionaryFromString(&query))
      merged.insert_or_assign(key, value);
  }
  if (q == std::string::npos && merged.empty()) return url;
  return net::URL::fromString(s.substr(0, q) + "?" + OAURLRequestParameter::parameterStringForDictionary(merged));
}

std::string absoluteNormalizedString(const net::URL& url) {
  if (url.path().empty() && !url.query()) return url.absoluteString() + "/";
  return url.absoluteString();
}

bool domainMatches(const net::URL& url, std::string_view domainText) {
  const std::string host = fnd::lowercase(url.host());
  std::string domain = fnd::lowercase(domainText);
  if (host.empty() || domain.empty()) return false;
  if (oaurlescapingadditions::isIPAddress(host)) return host == domain;
  if (domain.front() == '.') domain.erase(0, 1);
  if (host == domain) return true;
  return host.size() > domain.size() + 1 && fnd::hasSuffix(host, domain) &&
         host[host.size() - domain.size() - 1] == '.';
}

}  // namespace oaurlparameteradditions

namespace skyfolder {

fnd::Dictionary dictionaryWithQueryString(std::string_view text) {
  fnd::Dictionary out;
  for (const auto& piece : fnd::split(text, "&")) {
    const auto eq = piece.find('=');
    if (eq == std::string::npos) continue;
    auto value = fnd::removePercentEscapes(std::string_view(piece).substr(eq + 1));
    if (value) out.insert_or_assign(piece.substr(0, eq), fnd::Value(std::move(*value)));
  }
  return out;
}

std::string urlRepresentation(const fnd::Dictionary& dictionary) {
  std::string out;
  for (const auto& [key, value] : dictionary) {
    if (!out.empty()) out += '&';
    out += fnd::percentEncodeUnreserved(key) + "=" +
           fnd::percentEncodeUnreserved(value.isString() ? value.string() : fnd::describe(value));
  }
  return out;
}

std::string normalizedSkyfolderPath(std::string_view path) {
  if (path == "/") return "";
  return fnd::normalizeNFC(fnd::lowercase(path));
}

bool isEqualToSkyfolderPath(std::string_view a, std::string_view b) {
  return normalizedSkyfolderPath(a) == normalizedSkyfolderPath(b);
}

}  // namespace skyfolder

}  // namespace kesto
