#include "Network/NetURLResponseSerialization.h"

#include "Network/NetNetworking.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/XmlDocument.h"
#include "Platform/Foundation/XmlParser.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLResponse.h"

#include <map>
#include <mutex>

namespace kesto {

namespace {

bool passesDecodeFailureTest(const fnd::Error& e) {
  if (e.domain() == kNetURLResponseSerializationErrorDomain && e.code() == net::urlerror::CannotDecodeContentData)
    return true;
  auto under = e.underlyingError();
  return under && passesDecodeFailureTest(*under);
}

std::string formatStatus(const std::string& text, int code) {
  return "Request failed: " + text + " (" + std::to_string(code) + ")";
}

// The parsed object; or, when parsing failed, nothing, with the parse error put in front of the
// validation error already reported.
fnd::Value parsedOrFailure(std::optional<fnd::Value> parsed, const fnd::Error& failure, std::optional<fnd::Error>* error) {
  if (error) *error = NetErrorWithUnderlyingError(parsed ? std::nullopt : std::optional<fnd::Error>(failure), *error);
  return parsed ? std::move(*parsed) : fnd::Value();
}

}  // namespace

std::optional<fnd::Error> NetErrorWithUnderlyingError(const std::optional<fnd::Error>& error,
                                                      const std::optional<fnd::Error>& underlying) {
  if (!error) return underlying;
  if (!underlying) return error;
  if (error->userInfo().count(fnd::kUnderlyingErrorKey)) return error;
  fnd::Error chained = *error;
  chained.setUnderlyingError(*underlying);
  return chained;
}

// ---------------------------------------------------------------------------------------------

std::shared_ptr<NetHTTPResponseSerializer> NetHTTPResponseSerializer::serializer() {
  return std::make_shared<NetHTTPResponseSerializer>();
}

NetHTTPResponseSerializer::NetHTTPResponseSerializer() : statusCodes_(fnd::IndexSet(fnd::Range{200, 100})) {}

bool NetHTTPResponseSerializer::validateResponse(const net::URLResponse* response, const fnd::Data* data,
                                                 std::optional<fnd::Error>* error) const {
  auto http = dynamic_cast<const net::HTTPURLResponse*>(response);
  if (!http) return true;
  bool valid = true;
  std::optional<fnd::Error> built;
  const bool hasURL = !http->url().isEmpty();
  fnd::Value responseValue(std::const_pointer_cast<fnd::Object>(http->weak_from_this().lock()));

  if (contentTypes_) {
    std::string mime = http->mimeType().value_or("");
    if (!contentTypes_->count(mime)) {
      valid = false;
      if (data && !data->empty() && hasURL) {
        fnd::Dictionary info;
        info[fnd::kLocalizedDescriptionKey] =
            NetLocalizedString("Request failed: unacceptable content-type: ") + (http->mimeType() ? mime : "(null)");
        info[fnd::kURLErrorKey] = http->url().absoluteString();
        info[kNetNetworkingOperationFailingURLResponseErrorKey] = responseValue;
        info[kNetNetworkingOperationFailingURLResponseDataErrorKey] = *data;
        built = fnd::Error(kNetURLResponseSerializationErrorDomain, net::urlerror::CannotDecodeContentData, std::move(info));
      }
    }
  }
  if (statusCodes_ && !statusCodes_->contains(http->statusCode()) && hasURL) {
    valid = false;
    fnd::Dictionary info;
    info[fnd::kLocalizedDescriptionKey] =
        NetLocalizedString(formatStatus(net::HTTPURLResponse::localizedStringForStatusCode(http->statusCode()), http->statusCode()));
    info[fnd::kURLErrorKey] = http->url().absoluteString();
    info[kNetNetworkingOperationFailingURLResponseErrorKey] = responseValue;
    if (data) info[kNetNetworkingOperationFailingURLResponseDataErrorKey] = *data;
    fnd::Error statusError(kNetURLResponseSerializationErrorDomain, net::urlerror::BadServerResponse, std::move(info));
    built = NetErrorWithUnderlyingError(statusError, built);
  }
  if (!valid && error) *error = built;
  return valid;
}

bool NetHTTPResponseSerializer::startParsing(const std::shared_ptr<const net::URLResponse>& response,
                                             const fnd::Data* data, std::optional<fnd::Error>* error) const {
  std::optional<fnd::Error> local;
  bool valid = validateResponse(response.get(), data, error ? error : &local);
  if (valid) return true;
  if (!error) return false;
  if (!*error || passesDecodeFailureTest(**error)) return false;
  return true;  // only the status failed: parse anyway, the error travels with the object
}

fnd::Value NetHTTPResponseSerializer::responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response,
                                                                const fnd::Data* data,
                                                                std::optional<fnd::Error>* error) const {
  validateResponse(response.get(), data, error);
  return data ? fnd::Value(*data) : fnd::Value();
}

std::shared_ptr<NetHTTPResponseSerializer> NetHTTPResponseSerializer::copy() const {
  auto c = std::make_shared<NetHTTPResponseSerializer>();
  c->statusCodes_ = statusCodes_;
  c->contentTypes_ = contentTypes_;
  return c;
}

// ---------------------------------------------------------------------------------------------

NetJSONResponseSerializer::NetJSONResponseSerializer(std::uint64_t readingOptions) : readingOptions_(readingOptions) {
  setAcceptableContentTypes(std::set<std::string>{"application/json", "text/json", "text/javascript"});
}

fnd::Value NetJSONObjectByRemovingKeysWithNullValues(const fnd::Value& value) {
  if (value.isArray()) {
    fnd::Array out;
    out.reserve(value.array().size());
    for (const auto& e : value.array()) out.push_back(NetJSONObjectByRemovingKeysWithNullValues(e));
    return fnd::Value(std::move(out));
  }
  if (value.isDictionary()) {
    fnd::Dictionary out;
    for (const auto& [k, v] : value.dictionary()) {
      if (v.isNull()) continue;
      out.emplace(k, (v.isArray() || v.isDictionary()) ? NetJSONObjectByRemovingKeysWithNullValues(v) : v);
    }
    return fnd::Value(std::move(out));
  }
  return value;
}

fnd::Value NetJSONResponseSerializer::responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response,
                                                                const fnd::Data* data,
                                                                std::optional<fnd::Error>* error) const {
  if (!startParsing(response, data, error)) return {};
  if (!data) return {};
  std::string charset;
  if (response && response->textEncodingName() && fnd::isKnownCharset(*response->textEncodingName()))
    charset = *response->textEncodingName();
  std::optional<std::string> text = charset.empty() ? fnd::decodeText(fnd::asStringView(*data), stringEncoding())
                                                    : fnd::decodeText(fnd::asStringView(*data), charset);
  std::optional<fnd::Error> parseError;
  fnd::Value object;
  if (text && *text != " ") {
    // decodeText answers UTF-8, so the re-encoding step cannot fail here.
    if (text->empty()) return {};
    fnd::Error e;
    auto parsed = fnd::Json::parse(*text, static_cast<unsigned>(readingOptions_), &e);
    if (parsed)
      object = *parsed;
    else
      parseError = e;
  }
  if (removesNulls_ && !object.isNull()) object = NetJSONObjectByRemovingKeysWithNullValues(object);
  if (error) *error = NetErrorWithUnderlyingError(parseError, *error);
  return object;
}

std::shared_ptr<NetHTTPResponseSerializer> NetJSONResponseSerializer::copy() const {
  auto c = std::make_shared<NetJSONResponseSerializer>(readingOptions_);
  c->removesNulls_ = removesNulls_;
  return c;
}

// ---------------------------------------------------------------------------------------------

std::shared_ptr<NetXMLParserResponseSerializer> NetXMLParserResponseSerializer::serializer() {
  return std::make_shared<NetXMLParserResponseSerializer>();
}

NetXMLParserResponseSerializer::NetXMLParserResponseSerializer() {
  setAcceptableContentTypes(std::set<std::string>{"application/xml", "text/xml"});
}

fnd::Value NetXMLParserResponseSerializer::responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response,
                                                                     const fnd::Data* data,
                                                                     std::optional<fnd::Error>* error) const {
  if (!startParsing(response, data, error)) return {};
  return fnd::Value(std::make_shared<fnd::XmlParser>(data ? *data : fnd::Data()));
}

std::shared_ptr<NetHTTPResponseSerializer> NetXMLParserResponseSerializer::copy() const {
  return std::make_shared<NetXMLParserResponseSerializer>();
}

// ---------------------------------------------------------------------------------------------

NetXMLDocumentResponseSerializer::NetXMLDocumentResponseSerializer(std::uint64_t options) : options_(options) {
  setAcceptableContentTypes(std::set<std::string>{"application/xml", "text/xml"});
}

fnd::Value NetXMLDocumentResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data, std::optional<fnd::Error>* error) const {
  if (!startParsing(response, data, error)) return {};
  fnd::Error e;
  static const fnd::Data kEmpty;
  // Checked in one streaming pass; the tree, several times the reply's size, is built only if
  // the document is read (callers usually read the reply's data themselves).
  auto doc = fnd::XmlDocument::parseDeferringTree(data ? *data : kEmpty, static_cast<unsigned>(options_), &e);
  return parsedOrFailure(doc ? std::optional<fnd::Value>(fnd::Value(doc)) : std::nullopt, e, error);
}

std::shared_ptr<NetHTTPResponseSerializer> NetXMLDocumentResponseSerializer::copy() const {
  return std::make_shared<NetXMLDocumentResponseSerializer>(options_);
}

// ---------------------------------------------------------------------------------------------

NetPropertyListResponseSerializer::NetPropertyListResponseSerializer(std::uint64_t format, std::uint64_t readOptions)
    : format_(format), readOptions_(readOptions) {
  setAcceptableContentTypes(std::set<std::string>{"application/x-plist"});
}

fnd::Value NetPropertyListResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data, std::optional<fnd::Error>* error) const {
  if (!startParsing(response, data, error)) return {};
  if (!data) return {};
  fnd::Error e;
  return parsedOrFailure(fnd::PropertyList::read(*data, nullptr, &e), e, error);
}

std::shared_ptr<NetHTTPResponseSerializer> NetPropertyListResponseSerializer::copy() const {
  return std::make_shared<NetPropertyListResponseSerializer>(format_, readOptions_);
}

// ---------------------------------------------------------------------------------------------

std::shared_ptr<NetCompoundResponseSerializer> NetCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
    std::vector<std::shared_ptr<NetHTTPResponseSerializer>> serializers) {
  auto s = std::make_shared<NetCompoundResponseSerializer>();
  s->serializers_ = std::move(serializers);
  return s;
}

fnd::Value NetCompoundResponseSerializer::responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response,
                                                                    const fnd::Data* data,
                                                                    std::optional<fnd::Error>* error) const {
  for (const auto& s : serializers_) {
    if (!s) continue;
    std::optional<fnd::Error> local;
    fnd::Value object = s->responseObjectForResponse(response, data, &local);
    if (!object.isNull()) {
      if (error) *error = NetErrorWithUnderlyingError(local, *error);
      return object;
    }
  }
  return NetHTTPResponseSerializer::responseObjectForResponse(response, data, error);
}

std::shared_ptr<NetHTTPResponseSerializer> NetCompoundResponseSerializer::copy() const {
  auto c = std::make_shared<NetCompoundResponseSerializer>();
  c->serializers_ = serializers_;
  return c;
}

}  // namespace kesto

// ---- Archiving

namespace kesto {

namespace {

void readBase(NetHTTPResponseSerializer& s, fnd::KeyedUnarchiver& c) {
  std::optional<fnd::IndexSet> codes;
  if (auto ranges = c.decodeObjectOfType(fnd::Value::Type::Array, "acceptableStatusCodes")) {
    codes.emplace();
    for (const auto& r : ranges->array()) {
      std::int64_t location = r.at(0).intValue(-1), length = r.at(1).intValue(-1);
      // Status codes are three digits: anything else is not a set this class wrote.
      if (r.size() != 2 || location < 0 || length <= 0 || location + length > 1000) {
        c.failWithError(fnd::Error::withDescription(fnd::kCocoaErrorDomain, fnd::KeyedUnarchiver::kReadCorruptError,
                                                    "The acceptable status codes are malformed."));
        codes.reset();
        break;
      }
      codes->add(fnd::Range{location, length});
    }
  }
  s.setAcceptableStatusCodes(std::move(codes));
  std::optional<std::set<std::string>> types;
  if (auto list = c.decodeObjectOfType(fnd::Value::Type::Array, "acceptableContentTypes")) {
    types.emplace();
    for (const auto& t : list->array())
      if (t.isString()) types->insert(t.string());
  }
  s.setAcceptableContentTypes(std::move(types));
}

}  // namespace

void NetHTTPResponseSerializer::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  if (statusCodes_) {
    fnd::Array ranges;
    for (const auto& r : statusCodes_->ranges()) ranges.push_back(fnd::Value(fnd::Array{r.location, r.length}));
    coder.encodeObject(fnd::Value(std::move(ranges)), "acceptableStatusCodes");
  }
  if (contentTypes_) {
    fnd::Array types(contentTypes_->begin(), contentTypes_->end());
    coder.encodeObject(fnd::Value(std::move(types)), "acceptableContentTypes");
  }
}

void NetJSONResponseSerializer::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  NetHTTPResponseSerializer::encodeWithCoder(coder);
  coder.encodeInt64(static_cast<std::int64_t>(readingOptions_), "readingOptions");
  coder.encodeBool(removesNulls_, "removesKeysWithNullValues");
}

void NetXMLDocumentResponseSerializer::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  NetHTTPResponseSerializer::encodeWithCoder(coder);
  coder.encodeInt64(static_cast<std::int64_t>(options_), "options");
}

void NetPropertyListResponseSerializer::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  NetHTTPResponseSerializer::encodeWithCoder(coder);
  coder.encodeInt64(static_cast<std::int64_t>(format_), "format");
  coder.encodeInt64(static_cast<std::int64_t>(readOptions_), "readOptions");
}

void NetCompoundResponseSerializer::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  NetHTTPResponseSerializer::encodeWithCoder(coder);
  std::vector<const fnd::Coding*> list;
  for (const auto& s : serializers_) list.push_back(s.get());
  coder.encodeObjects(list, "responseSerializers");
}

namespace {

// Serializer classes of the libraries above this one, by archived class name.
struct CodingRegistry {
  std::mutex mutex;
  std::map<std::string, NetHTTPResponseSerializer::CodingFactory> factories;
};
CodingRegistry& codingRegistry() {
  static auto* registry = new CodingRegistry();
  return *registry;
}

}  // namespace

void NetHTTPResponseSerializer::registerCodingClass(const std::string& className, CodingFactory make) {
  auto& registry = codingRegistry();
  std::lock_guard lock(registry.mutex);
  registry.factories[className] = std::move(make);
}

std::set<std::string> NetHTTPResponseSerializer::codingClassNames() {
  std::set<std::string> names{"NetHTTPResponseSerializer",        "NetJSONResponseSerializer",
                              "NetXMLParserResponseSerializer",   "NetXMLDocumentResponseSerializer",
                              "NetPropertyListResponseSerializer", "NetCompoundResponseSerializer"};
  auto& registry = codingRegistry();
  std::lock_guard lock(registry.mutex);
  for (const auto& entry : registry.factories) names.insert(entry.first);
  return names;
}

std::shared_ptr<NetHTTPResponseSerializer> NetHTTPResponseSerializer::initWithCoder(fnd::KeyedUnarchiver& c) {
  const std::string& name = c.className();
  std::shared_ptr<NetHTTPResponseSerializer> s;
  if (name == "NetHTTPResponseSerializer") {
    s = std::make_shared<NetHTTPResponseSerializer>();
  } else if (name == "NetJSONResponseSerializer") {
    auto json = std::make_shared<NetJSONResponseSerializer>(static_cast<std::uint64_t>(c.decodeInt64("readingOptions")));
    json->setRemovesKeysWithNullValues(c.decodeBool("removesKeysWithNullValues"));
    s = json;
  } else if (name == "NetXMLParserResponseSerializer") {
    s = std::make_shared<NetXMLParserResponseSerializer>();
  } else if (name == "NetXMLDocumentResponseSerializer") {
    s = std::make_shared<NetXMLDocumentResponseSerializer>(static_cast<std::uint64_t>(c.decodeInt64("options")));
  } else if (name == "NetPropertyListResponseSerializer") {
    s = std::make_shared<NetPropertyListResponseSerializer>(static_cast<std::uint64_t>(c.decodeInt64("format", 100)),
                                                            static_cast<std::uint64_t>(c.decodeInt64("readOptions")));
  } else if (name == "NetCompoundResponseSerializer") {
    std::vector<std::shared_ptr<NetHTTPResponseSerializer>> parts;
    if (auto list = c.decodeArrayOfObjectsOfClasses("responseSerializers", codingClassNames()))
      for (auto& part : *list)
        if (auto one = initWithCoder(*part)) parts.push_back(std::move(one));
    s = NetCompoundResponseSerializer::compoundSerializerWithResponseSerializers(std::move(parts));
  } else {
    CodingFactory make;
    {
      auto& registry = codingRegistry();
      std::lock_guard lock(registry.mutex);
      if (auto it = registry.factories.find(name); it != registry.factories.end()) make = it->second;
    }
    if (make) s = make(c);
    if (!s) return nullptr;
  }
  readBase(*s, c);
  return s;
}

std::shared_ptr<NetHTTPResponseSerializer> NetHTTPResponseSerializer::decode(fnd::KeyedUnarchiver& coder, std::string_view key) {
  auto c = coder.decodeObjectOfClasses(key, codingClassNames());
  return c ? initWithCoder(*c) : nullptr;
}

}  // namespace kesto
