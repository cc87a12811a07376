#include "Platform/Net/URLCoding.h"

#include <functional>

namespace kesto::net {

namespace {

// Writes a value through a callback, as a nested object of the given class.
struct Writer final : fnd::Coding {
  std::string name;
  std::function<void(fnd::KeyedArchiver&)> write;
  Writer(std::string n, std::function<void(fnd::KeyedArchiver&)> w) : name(std::move(n)), write(std::move(w)) {}
  std::string codingClassName() const override { return name; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override { write(coder); }
};

fnd::Value headersValue(const HTTPHeaders& headers) {
  fnd::Array list;
  for (const auto& [name, value] : headers.fields()) list.push_back(fnd::Value(fnd::Array{name, value}));
  return fnd::Value(std::move(list));
}

HTTPHeaders headersFrom(fnd::KeyedUnarchiver& coder, std::string_view key) {
  HTTPHeaders headers;
  auto list = coder.decodeObjectOfType(fnd::Value::Type::Array, key);
  if (!list) return headers;
  for (const auto& pair : list->array()) {
    // Line breaks would let an archive add header lines of its own.
    if (pair.size() != 2 || !pair.at(0).isString() || !pair.at(1).isString() || pair.at(0).string().empty() ||
        !isSafeHeaderText(pair.at(0).string()) || !isSafeHeaderText(pair.at(1).string())) {
      coder.failWithError(fnd::Error::withDescription(fnd::kCocoaErrorDomain, fnd::KeyedUnarchiver::kReadCorruptError,
                                                      "A header field is malformed."));
      return {};
    }
    headers.add(pair.at(0).string(), pair.at(1).string());
  }
  return headers;
}

}  // namespace

void encodeURL(fnd::KeyedArchiver& coder, const URL& url, std::string_view key) { coder.encodeObject(url.absoluteString(), key); }

std::optional<URL> decodeURL(fnd::KeyedUnarchiver& coder, std::string_view key) {
  auto text = coder.decodeString(key);
  return text ? URL::fromString(*text) : std::nullopt;
}

void encodeRequest(fnd::KeyedArchiver& coder, const URLRequest& request, std::string_view key) {
  Writer w("NSURLRequest", [&](fnd::KeyedArchiver& c) {
    encodeURL(c, request.url(), "URL");
    c.encodeObject(request.httpMethod(), "HTTPMethod");
    c.encodeObject(headersValue(request.allHTTPHeaderFields()), "allHTTPHeaderFields");
    if (request.httpBody()) c.encodeObject(fnd::Value(*request.httpBody()), "HTTPBody");
    c.encodeDouble(request.timeoutInterval(), "timeoutInterval");
    c.encodeInt64(static_cast<std::int64_t>(request.cachePolicy()), "cachePolicy");
    c.encodeBool(request.httpShouldHandleCookies(), "HTTPShouldHandleCookies");
    c.encodeBool(request.httpShouldUsePipelining(), "HTTPShouldUsePipelining");
    c.encodeBool(request.allowsCellularAccess(), "allowsCellularAccess");
    c.encodeInt64(static_cast<std::int64_t>(request.networkServiceType()), "networkServiceType");
  });
  coder.encodeObject(&w, key);
}

std::optional<URLRequest> decodeRequest(fnd::KeyedUnarchiver& coder, std::string_view key) {
  auto c = coder.decodeObjectOfClasses(key, {"NSURLRequest"});
  if (!c) return std::nullopt;
  auto url = decodeURL(*c, "URL");
  if (!url) return std::nullopt;
  URLRequest request(*url, c->decodeDouble("timeoutInterval", 60.0));
  if (auto method = c->decodeString("HTTPMethod")) request.setHTTPMethod(*method);
  HTTPHeaders headers = headersFrom(*c, "allHTTPHeaderFields");
  for (const auto& [name, value] : headers.fields()) request.setValueForHTTPHeaderField(value, name);
  if (auto body = c->decodeObjectOfType(fnd::Value::Type::Data, "HTTPBody")) request.setHTTPBody(body->data());
  request.setCachePolicy(static_cast<std::uint64_t>(c->decodeInt64("cachePolicy")));
  request.setHTTPShouldHandleCookies(c->decodeBool("HTTPShouldHandleCookies", true));
  request.setHTTPShouldUsePipelining(c->decodeBool("HTTPShouldUsePipelining"));
  request.setAllowsCellularAccess(c->decodeBool("allowsCellularAccess", true));
  request.setNetworkServiceType(static_cast<std::uint64_t>(c->decodeInt64("networkServiceType")));
  return request;
}

void encodeResponse(fnd::KeyedArchiver& coder, const URLResponse& response, std::string_view key) {
  auto http = dynamic_cast<const HTTPURLResponse*>(&response);
  Writer w(http ? "NSHTTPURLResponse" : "NSURLResponse", [&](fnd::KeyedArchiver& c) {
    encodeURL(c, response.url(), "URL");
    if (http) {
      c.encodeInt64(http->statusCode(), "statusCode");
      c.encodeObject(headersValue(http->allHeaderFields()), "allHeaderFields");
    } else {
      if (response.mimeType()) c.encodeObject(*response.mimeType(), "MIMEType");
      c.encodeInt64(response.expectedContentLength(), "expectedContentLength");
      if (response.textEncodingName()) c.encodeObject(*response.textEncodingName(), "textEncodingName");
    }
  });
  coder.encodeObject(&w, key);
}

std::shared_ptr<const URLResponse> decodeResponse(fnd::KeyedUnarchiver& coder, std::string_view key) {
  auto c = coder.decodeObjectOfClasses(key, {"NSHTTPURLResponse", "NSURLResponse"});
  if (!c) return nullptr;
  auto url = decodeURL(*c, "URL");
  if (!url) return nullptr;
  if (c->className() == "NSHTTPURLResponse") {
    auto status = c->decodeInt64("statusCode");
    if (status < 100 || status > 999) return nullptr;
    return std::make_shared<HTTPURLResponse>(*url, static_cast<int>(status), headersFrom(*c, "allHeaderFields"));
  }
  return std::make_shared<URLResponse>(*url, c->decodeString("MIMEType"), c->decodeInt64("expectedContentLength", -1),
                                       c->decodeString("textEncodingName"));
}

void encodeConfiguration(fnd::KeyedArchiver& coder, const URLSessionConfiguration& configuration, std::string_view key) {
  Writer w("NSURLSessionConfiguration", [&](fnd::KeyedArchiver& c) {
    if (configuration.identifier) c.encodeObject(*configuration.identifier, "identifier");
    c.encodeDouble(configuration.timeoutIntervalForRequest, "timeoutIntervalForRequest");
    c.encodeObject(headersValue(configuration.additionalHeaders), "HTTPAdditionalHeaders");
    c.encodeInt64(static_cast<std::int64_t>(configuration.maximumBodySize), "maximumBodySize");
  });
  coder.encodeObject(&w, key);
}

std::optional<URLSessionConfiguration> decodeConfiguration(fnd::KeyedUnarchiver& coder, std::string_view key) {
  auto c = coder.decodeObjectOfClasses(key, {"NSURLSessionConfiguration"});
  if (!c) return std::nullopt;
  URLSessionConfiguration configuration;
  configuration.identifier = c->decodeString("identifier");
  configuration.timeoutIntervalForRequest = c->decodeDouble("timeoutIntervalForRequest", 60.0);
  configuration.additionalHeaders = headersFrom(*c, "HTTPAdditionalHeaders");
  auto maximum = c->decodeInt64("maximumBodySize", static_cast<std::int64_t>(configuration.maximumBodySize));
  if (maximum > 0) configuration.maximumBodySize = static_cast<std::size_t>(maximum);
  return configuration;
}

}  // namespace kesto::net
