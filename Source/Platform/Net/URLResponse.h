#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Net/HTTPHeaders.h"
#include "Platform/Net/URL.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kesto::net {

// What a server answered before the body. Objects so they can travel in error user info.
class URLResponse : public fnd::Object {
 public:
  URLResponse(URL url, std::optional<std::string> mimeType, std::int64_t expectedContentLength,
              std::optional<std::string> textEncodingName);

  const URL& url() const { return url_; }
  // Lower-case "type/subtype" without parameters; absent when the server sent no Content-Type.
  const std::optional<std::string>& mimeType() const { return mimeType_; }
  // -1 when unknown.
  std::int64_t expectedContentLength() const { return expectedLength_; }
  // The charset parameter, lower-case, when one was given.
  const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }
  // The decoded last path component, else "index.html"-like fallback "unknown".
  std::string suggestedFilename() const;

  std::string description() const override;

 private:
  URL url_;
  std::optional<std::string> mimeType_;
  std::int64_t expectedLength_;
  std::optional<std::string> textEncodingName_;
};

class HTTPURLResponse : public URLResponse {
 public:
  HTTPURLResponse(URL url, int statusCode, HTTPHeaders headers);

  int statusCode() const { return status_; }
  // Header fields as the server spelled them.
  const HTTPHeaders& allHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return headers_.value(name); }

  // The platform's lower-case reason text ("not found", "internal server error"); "server error"
  // or "informational" etc. for codes it does not name.
  static std::string localizedStringForStatusCode(int statusCode);

  std::string description() const override;

 private:
  int status_;
  HTTPHeaders headers_;
};

// Splits "text/HTML; charset=ISO-8859-1" into ("text/html", "iso-8859-1").
std::pair<std::optional<std::string>, std::optional<std::string>> parseContentType(std::string_view contentType);

}  // namespace kesto::net
