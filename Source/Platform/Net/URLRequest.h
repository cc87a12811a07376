#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Net/HTTPHeaders.h"
#include "Platform/Net/URL.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kesto::net {

class InputStream;

// One request: URL, method, headers and a body from bytes or from a stream. A plain value;
// copies share the body stream.
class URLRequest {
 public:
  URLRequest() = default;
  explicit URLRequest(URL url, double timeoutInterval = 60.0) : url_(std::move(url)), timeout_(timeoutInterval) {}

  const URL& url() const { return url_; }
  void setURL(URL url) { url_ = std::move(url); }
  // Upper-case method; "GET" by default.
  const std::string& httpMethod() const { return method_; }
  void setHTTPMethod(std::string method) { method_ = std::move(method); }

  const HTTPHeaders& allHTTPHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return headers_.value(name); }
  // An empty optional removes the field.
  void setValueForHTTPHeaderField(std::optional<std::string> value, std::string_view name);
  void addValueForHTTPHeaderField(std::string_view value, std::string_view name) { headers_.add(name, value); }

  const std::optional<fnd::Data>& httpBody() const { return body_; }
  // Setting a body drops a body stream and the other way round.
  void setHTTPBody(std::optional<fnd::Data> body);
  const std::shared_ptr<InputStream>& httpBodyStream() const { return bodyStream_; }
  void setHTTPBodyStream(std::shared_ptr<InputStream> stream);

  // Seconds without any progress before the request fails with a time-out (60 by default).
  double timeoutInterval() const { return timeout_; }
  void setTimeoutInterval(double seconds) { timeout_ = seconds; }
  // 0 follows the protocol, 1 reloads ignoring caches.
  std::uint64_t cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(std::uint64_t policy) { cachePolicy_ = policy; }
  bool httpShouldHandleCookies() const { return cookies_; }
  void setHTTPShouldHandleCookies(bool on) { cookies_ = on; }
  // Stored only.
  bool httpShouldUsePipelining() const { return pipelining_; }
  void setHTTPShouldUsePipelining(bool on) { pipelining_ = on; }
  bool allowsCellularAccess() const { return cellular_; }
  void setAllowsCellularAccess(bool on) { cellular_ = on; }
  std::uint64_t networkServiceType() const { return serviceType_; }
  void setNetworkServiceType(std::uint64_t type) { serviceType_ = type; }

  // "<URLRequest: METHOD url>" with user-info redacted.
  std::string description() const;

 private:
  URL url_;
  std::string method_ = "GET";
  HTTPHeaders headers_;
  std::optional<fnd::Data> body_;
  std::shared_ptr<InputStream> bodyStream_;
  double timeout_ = 60.0;
  std::uint64_t cachePolicy_ = 0;
  bool cookies_ = true;
  bool pipelining_ = false;
  bool cellular_ = true;
  std::uint64_t serviceType_ = 0;
};

}  // namespace kesto::net
