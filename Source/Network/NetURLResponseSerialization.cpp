#include "Network/NetURLResponseSerialization.h"

#include "Network/NetNetworking.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/XmlDocument.h"
#include "Platform/Foundation/XmlParser.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLResponse.h"

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

std::shared_ptr<NetJSONResponseSerializer> NetJSONResponseSerializer::serializerWithReadingOptions(std::uint64_t options) {
  auto s = std::make_shared<NetJSONResponseSerializer>();
  s->readingOptions_ = options;
  return s;
}

NetJSONResponseSerializer::NetJSONResponseSerializer() {
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
  auto c = std::make_shared<NetJSONResponseSerializer>();
  c->readingOptions_ = readingOptions_;
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

std::shared_ptr<NetXMLDocumentResponseSerializer> NetXMLDocumentResponseSerializer::serializerWithXMLDocumentOptions(
    std::uint64_t mask) {
  auto s = std::make_shared<NetXMLDocumentResponseSerializer>();
  s->options_ = mask;
  return s;
}

NetXMLDocumentResponseSerializer::NetXMLDocumentResponseSerializer() {
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
  std::optional<fnd::Error> docError;
  if (!doc) docError = e;
  if (error) *error = NetErrorWithUnderlyingError(docError, *error);
  return doc ? fnd::Value(doc) : fnd::Value();
}

std::shared_ptr<NetHTTPResponseSerializer> NetXMLDocumentResponseSerializer::copy() const {
  auto c = std::make_shared<NetXMLDocumentResponseSerializer>();
  c->options_ = options_;
  return c;
}

// ---------------------------------------------------------------------------------------------

std::shared_ptr<NetPropertyListResponseSerializer> NetPropertyListResponseSerializer::serializerWithFormat(
    std::uint64_t format, std::uint64_t readOptions) {
  auto s = std::make_shared<NetPropertyListResponseSerializer>();
  s->format_ = format;
  s->readOptions_ = readOptions;
  return s;
}

NetPropertyListResponseSerializer::NetPropertyListResponseSerializer() {
  setAcceptableContentTypes(std::set<std::string>{"application/x-plist"});
}

fnd::Value NetPropertyListResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data, std::optional<fnd::Error>* error) const {
  if (!startParsing(response, data, error)) return {};
  if (!data) return {};
  fnd::Error e;
  auto plist = fnd::PropertyList::read(*data, nullptr, &e);
  std::optional<fnd::Error> readError;
  if (!plist) readError = e;
  if (error) *error = NetErrorWithUnderlyingError(readError, *error);
  return plist ? *plist : fnd::Value();
}

std::shared_ptr<NetHTTPResponseSerializer> NetPropertyListResponseSerializer::copy() const {
  auto c = std::make_shared<NetPropertyListResponseSerializer>();
  c->format_ = format_;
  c->readOptions_ = readOptions_;
  return c;
}

// ---------------------------------------------------------------------------------------------

namespace {
std::mutex& decoderMutex() {
  static std::mutex m;
  return m;
}
NetImageResponseSerializer::Decoder& decoder() {
  static NetImageResponseSerializer::Decoder d;
  return d;
}
}  // namespace

void NetImageResponseSerializer::setImageDecoder(Decoder d) {
  std::lock_guard lock(decoderMutex());
  decoder() = std::move(d);
}

std::shared_ptr<NetImageResponseSerializer> NetImageResponseSerializer::serializer() {
  return std::make_shared<NetImageResponseSerializer>();
}

NetImageResponseSerializer::NetImageResponseSerializer() {
  setAcceptableContentTypes(std::set<std::string>{"image/tiff", "image/jpeg", "image/gif", "image/png", "image/ico",
                                                  "image/x-icon", "image/bmp", "image/x-bmp", "image/x-xbitmap",
                                                  "image/x-win-bitmap"});
}

fnd::Value NetImageResponseSerializer::responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response,
                                                                 const fnd::Data* data,
                                                                 std::optional<fnd::Error>* error) const {
  if (!startParsing(response, data, error)) return {};
  if (!data || data->empty()) return {};
  Decoder d;
  {
    std::lock_guard lock(decoderMutex());
    d = decoder();
  }
  return d ? d(*data) : fnd::Value();
}

std::shared_ptr<NetHTTPResponseSerializer> NetImageResponseSerializer::copy() const {
  return std::make_shared<NetImageResponseSerializer>();
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
