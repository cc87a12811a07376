#include "Network/NetURLRequestSerialization.h"

#include "Network/NetMultipartFormData.h"
#include "Network/NetNetworking.h"
#include "Network/NetQueryString.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/SystemInfo.h"
#include "Platform/Net/URLError.h"

#include <algorithm>

namespace kesto {

const std::vector<std::string>& NetObservedRequestProperties() {
  static const std::vector<std::string> names{"allowsCellularAccess",    "cachePolicy",        "HTTPShouldHandleCookies",
                                              "HTTPShouldUsePipelining", "networkServiceType", "timeoutInterval"};
  return names;
}

std::string NetAcceptLanguageHeader(const std::vector<std::string>& languages) {
  std::vector<std::string> entries;
  for (std::size_t i = 0; i < languages.size(); ++i) {
    float q = static_cast<float>(i) * -0.1f + 1.0f;
    entries.push_back(languages[i] + ";q=" + fnd::numberText(static_cast<double>(q), 1));
    if (q <= 0.5f) break;
  }
  return fnd::join(entries, ", ");
}

std::string NetUserAgentHeader(const std::string& name, const std::string& version, const std::string& os) {
  std::string agent = name + "/" + version + " (" + os + ")";
  bool ascii = std::all_of(agent.begin(), agent.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return agent;
  std::string t = fnd::transliterate(agent, "Any-Latin; Latin-ASCII; [:^ASCII:] Remove");
  return t.empty() ? agent : t;
}

std::shared_ptr<NetHTTPRequestSerializer> NetHTTPRequestSerializer::serializer() {
  return std::make_shared<NetHTTPRequestSerializer>();
}

NetHTTPRequestSerializer::NetHTTPRequestSerializer() {
  headers_.set("Accept-Language", NetAcceptLanguageHeader(net::preferredLanguages()));
  headers_.set("User-Agent", NetUserAgentHeader(net::applicationExecutableName(), net::applicationVersion(),
                                                net::operatingSystemVersionString()));
}

void NetHTTPRequestSerializer::setAllowsCellularAccess(bool on) { setProperty(cellular_, on, "allowsCellularAccess"); }
void NetHTTPRequestSerializer::setCachePolicy(std::uint64_t policy) { setProperty(cachePolicy_, policy, "cachePolicy"); }
void NetHTTPRequestSerializer::setHTTPShouldHandleCookies(bool on) { setProperty(cookies_, on, "HTTPShouldHandleCookies"); }
void NetHTTPRequestSerializer::setHTTPShouldUsePipelining(bool on) { setProperty(pipelining_, on, "HTTPShouldUsePipelining"); }
void NetHTTPRequestSerializer::setNetworkServiceType(std::uint64_t type) { setProperty(serviceType_, type, "networkServiceType"); }
void NetHTTPRequestSerializer::setTimeoutInterval(double seconds) { setProperty(timeout_, seconds, "timeoutInterval"); }
void NetHTTPRequestSerializer::clearRequestProperty(const std::string& name) { changed_.erase(name); }

void NetHTTPRequestSerializer::setValueForHTTPHeaderField(std::optional<std::string> value, const std::string& field) {
  if (value)
    headers_.set(field, *value);
  else
    headers_.remove(field);
}

void NetHTTPRequestSerializer::setAuthorizationHeaderFieldWithUsername(const std::string& username, const std::string& password) {
  std::string pair = username + ":" + password;
  headers_.set("Authorization", "Basic " + net::base64Encode(fnd::Data(pair.begin(), pair.end())));
}

void NetHTTPRequestSerializer::setAuthorizationHeaderFieldWithToken(const std::string& token) {
  headers_.set("Authorization", "Token token=\"" + token + "\"");
}

void NetHTTPRequestSerializer::clearAuthorizationHeader() { headers_.remove("Authorization"); }

void NetHTTPRequestSerializer::setQueryStringSerializationWithStyle(std::uint64_t style) {
  style_ = style;
  block_ = nullptr;
}

void NetHTTPRequestSerializer::setQueryStringSerializationWithBlock(QueryStringSerialization block) {
  block_ = std::move(block);
}

std::optional<net::URLRequest> NetHTTPRequestSerializer::requestWithMethod(const std::string& method,
                                                                          const std::string& URLString,
                                                                          const Parameters& parameters, fnd::Error* error) {
  auto url = net::URL::fromString(URLString);
  if (!url || url->scheme().empty()) {
    if (error) *error = net::makeURLError(net::urlerror::BadURL, nullptr, "unsupported URL");
    return std::nullopt;
  }
  net::URLRequest request(*url);
  request.setHTTPMethod(method);
  for (const auto& name : NetObservedRequestProperties()) {
    if (!changed_.count(name)) continue;
    if (name == "allowsCellularAccess") request.setAllowsCellularAccess(cellular_);
    else if (name == "cachePolicy") request.setCachePolicy(cachePolicy_);
    else if (name == "HTTPShouldHandleCookies") request.setHTTPShouldHandleCookies(cookies_);
    else if (name == "HTTPShouldUsePipelining") request.setHTTPShouldUsePipelining(pipelining_);
    else if (name == "networkServiceType") request.setNetworkServiceType(serviceType_);
    else if (name == "timeoutInterval") request.setTimeoutInterval(timeout_);
  }
  return requestBySerializingRequest(request, parameters, error);
}

net::URLRequest NetHTTPRequestSerializer::withDefaultHeaders(const net::URLRequest& request) const {
  net::URLRequest copy = request;
  for (const auto& [name, value] : headers_.fields())
    if (!copy.allHTTPHeaderFields().contains(name)) copy.setValueForHTTPHeaderField(value, name);
  return copy;
}

namespace {

// The query goes before a fragment, never into it.
std::optional<net::URL> appendingQuery(const net::URL& url, const std::string& query) {
  std::string s = url.absoluteString();
  std::string fragment;
  auto hash = s.find('#');
  if (hash != std::string::npos) {
    fragment = s.substr(hash);
    s.erase(hash);
  }
  s += (url.query() ? "&" : "?") + query + fragment;
  return net::URL::fromString(s);
}

}  // namespace

std::optional<net::URLRequest> NetHTTPRequestSerializer::requestBySerializingRequest(const net::URLRequest& request,
                                                                                    const Parameters& parameters,
                                                                                    fnd::Error* error) {
  net::URLRequest copy = withDefaultHeaders(request);
  if (!parameters) return copy;
  std::optional<std::string> query;
  if (block_) {
    fnd::Error e;
    e = fnd::Error();
    query = block_(request, *parameters, &e);
    if (!query) {
      // A block that answers nothing fails the request, with its error or a generic one.
      if (error)
        *error = e.domain().empty() ? fnd::Error(kNetURLRequestSerializationErrorDomain, net::urlerror::CannotDecodeRawData,
                                                 {{fnd::kLocalizedDescriptionKey,
                                                   NetLocalizedString("The query string could not be built.")}})
                                    : e;
      return std::nullopt;
    }
  } else {
    query = NetQueryStringFromParameters(*parameters, stringEncoding_, error);
    if (!query) return std::nullopt;
  }
  if (uriMethods_.count(fnd::asciiUppercase(request.httpMethod()))) {
    auto url = appendingQuery(copy.url(), *query);
    if (!url) {
      if (error) *error = net::makeURLError(net::urlerror::BadURL, &copy.url());
      return std::nullopt;
    }
    copy.setURL(*url);
  } else {
    if (!copy.allHTTPHeaderFields().contains("Content-Type"))
      copy.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    copy.setHTTPBody(fnd::Data(query->begin(), query->end()));
  }
  return copy;
}

std::optional<net::URLRequest> NetHTTPRequestSerializer::requestWithEncodedBody(const net::URLRequest& request,
                                                                               const Parameters& parameters,
                                                                               fnd::Error* error,
                                                                               const std::string& contentType,
                                                                               const BodyEncoder& encode) {
  if (HTTPMethodsEncodingParametersInURI().count(fnd::asciiUppercase(request.httpMethod())))
    return NetHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
  net::URLRequest copy = withDefaultHeaders(request);
  if (parameters) {
    if (!copy.allHTTPHeaderFields().contains("Content-Type")) copy.setValueForHTTPHeaderField(contentType, "Content-Type");
    if (auto body = encode(*parameters, error)) copy.setHTTPBody(std::move(*body));
  }
  return copy;
}

std::optional<net::URLRequest> NetHTTPRequestSerializer::multipartFormRequestWithMethod(
    const std::string& method, const std::string& URLString, const Parameters& parameters,
    const std::function<void(NetMultipartFormData&)>& block, fnd::Error* error) {
  auto request = requestWithMethod(method, URLString, std::nullopt, error);
  if (!request) return std::nullopt;
  NetStreamingMultipartFormData form(*request, fnd::kUTF8StringEncoding);
  if (parameters) {
    for (const auto& pair : NetQueryPairsFromParameters(*parameters)) {
      fnd::Data data;
      if (pair.value.isData()) {
        data = pair.value.data();
      } else if (!pair.value.isNull()) {
        std::string text = NetQueryValueDescription(pair.value);
        auto bytes = stringEncoding_ == fnd::kUTF8StringEncoding ? std::optional<std::string>(text)
                                                                  : fnd::encodeText(text, stringEncoding_);
        if (!bytes) {
          if (error)
            *error = fnd::Error(kNetURLRequestSerializationErrorDomain, net::urlerror::CannotDecodeRawData,
                                {{fnd::kLocalizedDescriptionKey, NetLocalizedString("Could not encode a parameter in the request's text encoding.")}});
          return std::nullopt;
        }
        data = fnd::Data(bytes->begin(), bytes->end());
      }
      form.appendPartWithFormData(std::move(data), pair.field);
    }
  }
  if (block) block(form);
  return form.requestByFinalizingMultipartFormData();
}

net::URLRequest NetHTTPRequestSerializer::requestWithMultipartFormRequest(
    const net::URLRequest& request, const std::string& filePath, std::function<void(const fnd::Error* error)> completionHandler) {
  std::shared_ptr<net::InputStream> input = request.httpBodyStream();
  auto output = net::makeFileOutputStream(filePath, false);
  fnd::DispatchQueue::global(fnd::DispatchQueue::Priority::Default).async([input, output, completionHandler] {
    std::optional<fnd::Error> failure;
    output->open();
    if (output->status() == net::StreamStatus::Error) failure = output->error();
    if (input && !failure) {
      input->open();
      std::vector<std::uint8_t> buffer(64 * 1024);
      while (!failure) {
        std::ptrdiff_t n = input->read(buffer.data(), buffer.size());
        if (n < 0) {
          failure = input->error().value_or(fnd::Error(kNetURLRequestSerializationErrorDomain, -1));
          break;
        }
        if (n == 0) break;
        // Every byte read is written, or the copy fails.
        std::size_t written = 0;
        while (written < static_cast<std::size_t>(n)) {
          std::ptrdiff_t w = output->write(buffer.data() + written, static_cast<std::size_t>(n) - written);
          if (w <= 0) {
            failure = output->error().value_or(fnd::Error(kNetURLRequestSerializationErrorDomain, -1));
            break;
          }
          written += static_cast<std::size_t>(w);
        }
      }
      input->close();
    }
    output->close();
    if (completionHandler) {
      fnd::DispatchQueue::main().async([completionHandler, failure] { completionHandler(failure ? &*failure : nullptr); });
    }
  });
  net::URLRequest copy = request;
  copy.setHTTPBodyStream(nullptr);
  return copy;
}

void NetHTTPRequestSerializer::copySettingsTo(NetHTTPRequestSerializer& other) const {
  other.headers_ = headers_;
  other.style_ = style_;
  other.block_ = block_;
}

std::shared_ptr<NetHTTPRequestSerializer> NetHTTPRequestSerializer::copy() const {
  auto c = std::make_shared<NetHTTPRequestSerializer>();
  copySettingsTo(*c);
  return c;
}

// ---------------------------------------------------------------------------------------------

std::optional<net::URLRequest> NetJSONRequestSerializer::requestBySerializingRequest(const net::URLRequest& request,
                                                                                    const Parameters& parameters,
                                                                                    fnd::Error* error) {
  return requestWithEncodedBody(request, parameters, error, "application/json",
                                [this](const fnd::Value& value, fnd::Error* e) -> std::optional<fnd::Data> {
                                  auto text = fnd::Json::write(value, static_cast<unsigned>(writingOptions_), e);
                                  if (!text) return std::nullopt;
                                  return fnd::Data(text->begin(), text->end());
                                });
}

std::shared_ptr<NetHTTPRequestSerializer> NetJSONRequestSerializer::copy() const {
  auto c = std::make_shared<NetJSONRequestSerializer>(writingOptions_);
  copySettingsTo(*c);
  return c;
}

std::optional<net::URLRequest> NetPropertyListRequestSerializer::requestBySerializingRequest(
    const net::URLRequest& request, const Parameters& parameters, fnd::Error* error) {
  return requestWithEncodedBody(request, parameters, error, "application/x-plist",
                                [this](const fnd::Value& value, fnd::Error* e) {
                                  return fnd::PropertyList::write(value, static_cast<fnd::PropertyListFormat>(format_), e);
                                });
}

std::shared_ptr<NetHTTPRequestSerializer> NetPropertyListRequestSerializer::copy() const {
  auto c = std::make_shared<NetPropertyListRequestSerializer>(format_, writeOptions_);
  copySettingsTo(*c);
  return c;
}

}  // namespace kesto

// ---- Archiving

namespace kesto {

void NetHTTPRequestSerializer::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  fnd::Dictionary headers;
  for (const auto& [name, value] : headers_.fields()) headers[name] = value;
  coder.encodeObject(fnd::Value(std::move(headers)), "mutableHTTPRequestHeaders");
  coder.encodeInt64(static_cast<std::int64_t>(style_), "queryStringSerializationStyle");
}

void NetJSONRequestSerializer::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  NetHTTPRequestSerializer::encodeWithCoder(coder);
  coder.encodeInt64(static_cast<std::int64_t>(writingOptions_), "writingOptions");
}

void NetPropertyListRequestSerializer::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  NetHTTPRequestSerializer::encodeWithCoder(coder);
  coder.encodeInt64(static_cast<std::int64_t>(format_), "format");
  coder.encodeInt64(static_cast<std::int64_t>(writeOptions_), "writeOptions");
}

const std::set<std::string>& NetHTTPRequestSerializer::codingClassNames() {
  static const std::set<std::string> names{"NetHTTPRequestSerializer", "NetJSONRequestSerializer",
                                           "NetPropertyListRequestSerializer"};
  return names;
}

std::shared_ptr<NetHTTPRequestSerializer> NetHTTPRequestSerializer::initWithCoder(fnd::KeyedUnarchiver& c) {
  std::shared_ptr<NetHTTPRequestSerializer> s;
  if (c.className() == "NetHTTPRequestSerializer") {
    s = std::make_shared<NetHTTPRequestSerializer>();
  } else if (c.className() == "NetJSONRequestSerializer") {
    s = std::make_shared<NetJSONRequestSerializer>(static_cast<std::uint64_t>(c.decodeInt64("writingOptions")));
  } else if (c.className() == "NetPropertyListRequestSerializer") {
    s = std::make_shared<NetPropertyListRequestSerializer>(static_cast<std::uint64_t>(c.decodeInt64("format", 100)),
                                                           static_cast<std::uint64_t>(c.decodeInt64("writeOptions")));
  } else {
    return nullptr;
  }
  if (auto headers = c.decodeObjectOfType(fnd::Value::Type::Dictionary, "mutableHTTPRequestHeaders")) {
    net::HTTPHeaders decoded;
    for (const auto& [name, value] : headers->dictionary())
      if (value.isString() && !name.empty() && net::isSafeHeaderText(name) && net::isSafeHeaderText(value.string()))
        decoded.set(name, value.string());
    s->headers_ = std::move(decoded);
  }
  s->style_ = static_cast<std::uint64_t>(c.decodeInt64("queryStringSerializationStyle"));
  return s;
}

std::shared_ptr<NetHTTPRequestSerializer> NetHTTPRequestSerializer::decode(fnd::KeyedUnarchiver& coder, std::string_view key) {
  auto c = coder.decodeObjectOfClasses(key, codingClassNames());
  return c ? initWithCoder(*c) : nullptr;
}

}  // namespace kesto
