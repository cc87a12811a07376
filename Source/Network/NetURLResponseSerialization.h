#pragma once

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/IndexSet.h"
#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/NetForward.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kesto {

// Validates a response (status code, content type) and turns its body into an object. Handling
// a response only reads the settings, so one serializer serves many responses at once.
class NetHTTPResponseSerializer : public fnd::Coding {
 public:
  static std::shared_ptr<NetHTTPResponseSerializer> serializer();
  NetHTTPResponseSerializer();
  virtual ~NetHTTPResponseSerializer() = default;

  fnd::StringEncoding stringEncoding() const { return stringEncoding_; }
  void setStringEncoding(fnd::StringEncoding e) { stringEncoding_ = e; }
  // 200 to 299 by default; absent accepts every code.
  const std::optional<fnd::IndexSet>& acceptableStatusCodes() const { return statusCodes_; }
  void setAcceptableStatusCodes(std::optional<fnd::IndexSet> codes) { statusCodes_ = std::move(codes); }
  // Lower-case MIME types; absent accepts every type.
  const std::optional<std::set<std::string>>& acceptableContentTypes() const { return contentTypes_; }
  void setAcceptableContentTypes(std::optional<std::set<std::string>> types) { contentTypes_ = std::move(types); }

  // True when acceptable. An invalid response stores its error in `error` (which stays empty
  // for an unacceptable type with an empty body).
  bool validateResponse(const net::URLResponse* response, const fnd::Data* data, std::optional<fnd::Error>* error) const;

  // The object for the body: here the body data itself, valid or not. Null means no object.
  virtual fnd::Value responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response,
                                               const fnd::Data* data, std::optional<fnd::Error>* error) const;

  // A new serializer of the same class with the properties the class declares itself.
  virtual std::shared_ptr<NetHTTPResponseSerializer> copy() const;

  // Archived: the acceptable codes and types (absent ones stay absent) and each class's own
  // options; the string encoding is not.
  std::string codingClassName() const override { return "NetHTTPResponseSerializer"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;
  // The classes initWithCoder can make: those of this library and the registered ones.
  static std::set<std::string> codingClassNames();
  // Lets a library above this one make its serializer class from an archive (the image
  // serializer, which needs the interface layer). The base's keys are read after `make`.
  using CodingFactory = std::function<std::shared_ptr<NetHTTPResponseSerializer>(fnd::KeyedUnarchiver& coder)>;
  static void registerCodingClass(const std::string& className, CodingFactory make);
  // A serializer of the archived object's class; null for a class that is not one.
  static std::shared_ptr<NetHTTPResponseSerializer> initWithCoder(fnd::KeyedUnarchiver& coder);
  // The serializer under `key`, of one of codingClassNames().
  static std::shared_ptr<NetHTTPResponseSerializer> decode(fnd::KeyedUnarchiver& coder, std::string_view key);

 protected:
  // Validation shared by the parsing serializers: false when parsing should not be tried.
  bool startParsing(const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data,
                    std::optional<fnd::Error>* error) const;

 private:
  fnd::StringEncoding stringEncoding_ = fnd::kUTF8StringEncoding;
  std::optional<fnd::IndexSet> statusCodes_;
  std::optional<std::set<std::string>> contentTypes_;
};

class NetJSONResponseSerializer : public NetHTTPResponseSerializer {
 public:
  static std::shared_ptr<NetJSONResponseSerializer> serializer() { return serializerWithReadingOptions(0); }
  static std::shared_ptr<NetJSONResponseSerializer> serializerWithReadingOptions(std::uint64_t options) {
    return std::make_shared<NetJSONResponseSerializer>(options);
  }
  explicit NetJSONResponseSerializer(std::uint64_t readingOptions = 0);

  std::uint64_t readingOptions() const { return readingOptions_; }
  void setReadingOptions(std::uint64_t o) { readingOptions_ = o; }
  bool removesKeysWithNullValues() const { return removesNulls_; }
  void setRemovesKeysWithNullValues(bool on) { removesNulls_ = on; }

  fnd::Value responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data,
                                       std::optional<fnd::Error>* error) const override;
  std::shared_ptr<NetHTTPResponseSerializer> copy() const override;
  std::string codingClassName() const override { return "NetJSONResponseSerializer"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;

 private:
  std::uint64_t readingOptions_;
  bool removesNulls_ = false;
};

// Answers an unrun XML parser (fnd::XmlParser) over the body.
class NetXMLParserResponseSerializer : public NetHTTPResponseSerializer {
 public:
  static std::shared_ptr<NetXMLParserResponseSerializer> serializer();
  NetXMLParserResponseSerializer();
  fnd::Value responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data,
                                       std::optional<fnd::Error>* error) const override;
  std::shared_ptr<NetHTTPResponseSerializer> copy() const override;
  std::string codingClassName() const override { return "NetXMLParserResponseSerializer"; }
};

// Answers an fnd::XmlDocument, parsed without network access or external entities.
class NetXMLDocumentResponseSerializer : public NetHTTPResponseSerializer {
 public:
  static std::shared_ptr<NetXMLDocumentResponseSerializer> serializer() { return serializerWithXMLDocumentOptions(0); }
  static std::shared_ptr<NetXMLDocumentResponseSerializer> serializerWithXMLDocumentOptions(std::uint64_t mask) {
    return std::make_shared<NetXMLDocumentResponseSerializer>(mask);
  }
  explicit NetXMLDocumentResponseSerializer(std::uint64_t options = 0);
  std::uint64_t options() const { return options_; }
  void setOptions(std::uint64_t o) { options_ = o; }
  fnd::Value responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data,
                                       std::optional<fnd::Error>* error) const override;
  std::shared_ptr<NetHTTPResponseSerializer> copy() const override;
  std::string codingClassName() const override { return "NetXMLDocumentResponseSerializer"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;

 private:
  std::uint64_t options_;
};

class NetPropertyListResponseSerializer : public NetHTTPResponseSerializer {
 public:
  static std::shared_ptr<NetPropertyListResponseSerializer> serializer() { return serializerWithFormat(100, 0); }
  static std::shared_ptr<NetPropertyListResponseSerializer> serializerWithFormat(std::uint64_t format,
                                                                                std::uint64_t readOptions) {
    return std::make_shared<NetPropertyListResponseSerializer>(format, readOptions);
  }
  explicit NetPropertyListResponseSerializer(std::uint64_t format = 100, std::uint64_t readOptions = 0);
  std::uint64_t format() const { return format_; }
  void setFormat(std::uint64_t f) { format_ = f; }
  std::uint64_t readOptions() const { return readOptions_; }
  void setReadOptions(std::uint64_t o) { readOptions_ = o; }
  fnd::Value responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data,
                                       std::optional<fnd::Error>* error) const override;
  std::shared_ptr<NetHTTPResponseSerializer> copy() const override;
  std::string codingClassName() const override { return "NetPropertyListResponseSerializer"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;

 private:
  std::uint64_t format_;
  std::uint64_t readOptions_;
};

// Asks each serializer in turn; the first object wins. Falls back to the body data.
class NetCompoundResponseSerializer : public NetHTTPResponseSerializer {
 public:
  static std::shared_ptr<NetCompoundResponseSerializer> compoundSerializerWithResponseSerializers(
      std::vector<std::shared_ptr<NetHTTPResponseSerializer>> serializers);
  const std::vector<std::shared_ptr<NetHTTPResponseSerializer>>& responseSerializers() const { return serializers_; }
  fnd::Value responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data,
                                       std::optional<fnd::Error>* error) const override;
  std::shared_ptr<NetHTTPResponseSerializer> copy() const override;
  std::string codingClassName() const override { return "NetCompoundResponseSerializer"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;

 private:
  std::vector<std::shared_ptr<NetHTTPResponseSerializer>> serializers_;
};

// chain(new, earlier): the earlier error hangs under the new one as its underlying error.
std::optional<fnd::Error> NetErrorWithUnderlyingError(const std::optional<fnd::Error>& error,
                                                      const std::optional<fnd::Error>& underlying);

// The null-free copy of a JSON value: dictionary keys holding null are dropped, recursively.
fnd::Value NetJSONObjectByRemovingKeysWithNullValues(const fnd::Value& value);

}  // namespace kesto
