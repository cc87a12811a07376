#pragma once

#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/HTTPHeaders.h"
#include "Platform/Net/URLRequest.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kesto {

class NetMultipartFormData;

// The six request properties a serializer copies to its requests once they were set.
const std::vector<std::string>& NetObservedRequestProperties();

// Builds requests: default headers (Accept-Language, User-Agent), parameters in the query for
// GET/HEAD/DELETE and as a form body otherwise, multipart bodies streamed from data and files.
class NetHTTPRequestSerializer : public fnd::Coding {
 public:
  using QueryStringSerialization =
      std::function<std::optional<std::string>(const net::URLRequest& request, const fnd::Value& parameters, fnd::Error* error)>;
  using Parameters = std::optional<fnd::Value>;

  static std::shared_ptr<NetHTTPRequestSerializer> serializer();
  NetHTTPRequestSerializer();
  virtual ~NetHTTPRequestSerializer() = default;

  fnd::StringEncoding stringEncoding() const { return stringEncoding_; }
  void setStringEncoding(fnd::StringEncoding e) { stringEncoding_ = e; }

  bool allowsCellularAccess() const { return cellular_; }
  void setAllowsCellularAccess(bool on);
  std::uint64_t cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(std::uint64_t policy);
  bool HTTPShouldHandleCookies() const { return cookies_; }
  void setHTTPShouldHandleCookies(bool on);
  bool HTTPShouldUsePipelining() const { return pipelining_; }
  void setHTTPShouldUsePipelining(bool on);
  std::uint64_t networkServiceType() const { return serviceType_; }
  void setNetworkServiceType(std::uint64_t type);
  double timeoutInterval() const { return timeout_; }
  void setTimeoutInterval(double seconds);
  // Forgets that a property was set (its value no longer reaches requests).
  void clearRequestProperty(const std::string& name);
  const std::set<std::string>& mutableObservedChangedKeyPaths() const { return changed_; }

  const std::set<std::string>& HTTPMethodsEncodingParametersInURI() const { return uriMethods_; }
  void setHTTPMethodsEncodingParametersInURI(std::set<std::string> methods) { uriMethods_ = std::move(methods); }

  net::HTTPHeaders HTTPRequestHeaders() const { return headers_; }
  void setValueForHTTPHeaderField(std::optional<std::string> value, const std::string& field);
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const { return headers_.value(field); }
  void setAuthorizationHeaderFieldWithUsername(const std::string& username, const std::string& password);
  void setAuthorizationHeaderFieldWithToken(const std::string& token);
  void clearAuthorizationHeader();

  std::uint64_t queryStringSerializationStyle() const { return style_; }
  void setQueryStringSerializationWithStyle(std::uint64_t style);
  void setQueryStringSerializationWithBlock(QueryStringSerialization block);

  // Absent (with an error) when the URL string is no URL or the parameters cannot be encoded.
  std::optional<net::URLRequest> requestWithMethod(const std::string& method, const std::string& URLString,
                                                   const Parameters& parameters, fnd::Error* error = nullptr);
  virtual std::optional<net::URLRequest> requestBySerializingRequest(const net::URLRequest& request,
                                                                     const Parameters& parameters, fnd::Error* error);
  std::optional<net::URLRequest> multipartFormRequestWithMethod(const std::string& method, const std::string& URLString,
                                                                const Parameters& parameters,
                                                                const std::function<void(NetMultipartFormData&)>& block,
                                                                fnd::Error* error = nullptr);
  // Writes the request's body stream into a file in the background; the handler gets the
  // first error (or null) on the main queue. Answers the request without its body stream.
  net::URLRequest requestWithMultipartFormRequest(const net::URLRequest& request, const std::string& filePath,
                                                  std::function<void(const fnd::Error* error)> completionHandler);

  virtual std::shared_ptr<NetHTTPRequestSerializer> copy() const;

  // Archived: the default headers, the query style and each class's own options. The string
  // encoding, the URI methods and the six request properties come back as after init.
  std::string codingClassName() const override { return "NetHTTPRequestSerializer"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;
  static const std::set<std::string>& codingClassNames();
  static std::shared_ptr<NetHTTPRequestSerializer> initWithCoder(fnd::KeyedUnarchiver& coder);
  // The serializer under `key`, of one of codingClassNames().
  static std::shared_ptr<NetHTTPRequestSerializer> decode(fnd::KeyedUnarchiver& coder, std::string_view key);

 protected:
  // Default headers that the request does not carry yet.
  net::URLRequest withDefaultHeaders(const net::URLRequest& request) const;
  void copySettingsTo(NetHTTPRequestSerializer& other) const;
  // The JSON and property-list forms: methods that carry their parameters in the URI are
  // serialized as plain HTTP; other requests get the encoded parameters as their body, under
  // `contentType` unless the request names its own. A failed encoding leaves the body unset.
  using BodyEncoder = std::function<std::optional<fnd::Data>(const fnd::Value& parameters, fnd::Error* error)>;
  std::optional<net::URLRequest> requestWithEncodedBody(const net::URLRequest& request, const Parameters& parameters,
                                                        fnd::Error* error, const std::string& contentType,
                                                        const BodyEncoder& encode);

 private:
  void markChanged(const std::string& name) { changed_.insert(name); }
  // A request property set on the serializer, which from then on overrides the request's own.
  template <class T>
  void setProperty(T& field, T value, const std::string& name) {
    field = value;
    markChanged(name);
  }

  fnd::StringEncoding stringEncoding_ = fnd::kUTF8StringEncoding;
  bool cellular_ = false;
  std::uint64_t cachePolicy_ = 0;
  bool cookies_ = false;
  bool pipelining_ = false;
  std::uint64_t serviceType_ = 0;
  double timeout_ = 0;
  std::set<std::string> changed_;
  std::set<std::string> uriMethods_{"GET", "HEAD", "DELETE"};
  net::HTTPHeaders headers_;
  std::uint64_t style_ = 0;
  QueryStringSerialization block_;
};

class NetJSONRequestSerializer : public NetHTTPRequestSerializer {
 public:
  static std::shared_ptr<NetJSONRequestSerializer> serializer() { return serializerWithWritingOptions(0); }
  static std::shared_ptr<NetJSONRequestSerializer> serializerWithWritingOptions(std::uint64_t options) {
    return std::make_shared<NetJSONRequestSerializer>(options);
  }
  explicit NetJSONRequestSerializer(std::uint64_t writingOptions = 0) : writingOptions_(writingOptions) {}
  std::uint64_t writingOptions() const { return writingOptions_; }
  void setWritingOptions(std::uint64_t o) { writingOptions_ = o; }
  std::optional<net::URLRequest> requestBySerializingRequest(const net::URLRequest& request, const Parameters& parameters,
                                                             fnd::Error* error) override;
  std::shared_ptr<NetHTTPRequestSerializer> copy() const override;
  std::string codingClassName() const override { return "NetJSONRequestSerializer"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;

 private:
  std::uint64_t writingOptions_;
};

class NetPropertyListRequestSerializer : public NetHTTPRequestSerializer {
 public:
  static std::shared_ptr<NetPropertyListRequestSerializer> serializer() { return serializerWithFormat(100, 0); }
  static std::shared_ptr<NetPropertyListRequestSerializer> serializerWithFormat(std::uint64_t format, std::uint64_t writeOptions) {
    return std::make_shared<NetPropertyListRequestSerializer>(format, writeOptions);
  }
  explicit NetPropertyListRequestSerializer(std::uint64_t format = 100, std::uint64_t writeOptions = 0)
      : format_(format), writeOptions_(writeOptions) {}
  std::uint64_t format() const { return format_; }
  void setFormat(std::uint64_t f) { format_ = f; }
  std::uint64_t writeOptions() const { return writeOptions_; }
  void setWriteOptions(std::uint64_t o) { writeOptions_ = o; }
  std::optional<net::URLRequest> requestBySerializingRequest(const net::URLRequest& request, const Parameters& parameters,
                                                             fnd::Error* error) override;
  std::shared_ptr<NetHTTPRequestSerializer> copy() const override;
  std::string codingClassName() const override { return "NetPropertyListRequestSerializer"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;

 private:
  std::uint64_t format_;
  std::uint64_t writeOptions_;
};

// The Accept-Language value for preferred languages: "en;q=1, fr;q=0.9", at most six entries.
std::string NetAcceptLanguageHeader(const std::vector<std::string>& languages);
// The User-Agent: "<name>/<version> (<os>)", transliterated to ASCII when needed.
std::string NetUserAgentHeader(const std::string& name, const std::string& version, const std::string& os);

}  // namespace kesto
