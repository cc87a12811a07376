#pragma once

#include "Network/NetURLRequestSerialization.h"
#include "Network/NetURLSessionManager.h"
#include "Platform/Net/URL.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

class NetMultipartFormData;

// The HTTP verbs over a URL session manager, with a base URL and a request serializer. Tasks
// are resumed at once. Failing to build a request calls the failure block later on the
// completion queue (main when none is set) and answers null.
class NetHTTPSessionManager : public NetURLSessionManager {
 public:
  using Success = std::function<void(const std::shared_ptr<net::URLSessionTask>& task, const fnd::Value& responseObject)>;
  using Failure = std::function<void(const std::shared_ptr<net::URLSessionTask>& task, const fnd::Error& error)>;
  using Parameters = NetHTTPRequestSerializer::Parameters;

  static std::shared_ptr<NetHTTPSessionManager> manager();
  static std::shared_ptr<NetHTTPSessionManager> make(std::optional<net::URL> baseURL,
                                                     std::optional<net::URLSessionConfiguration> configuration = std::nullopt);

  const std::optional<net::URL>& baseURL() const { return baseURL_; }
  const std::shared_ptr<NetHTTPRequestSerializer>& requestSerializer() const { return requestSerializer_; }
  void setRequestSerializer(std::shared_ptr<NetHTTPRequestSerializer> s) { requestSerializer_ = std::move(s); }

  std::shared_ptr<net::URLSessionTask> GET(const std::string& URLString, const Parameters& parameters, Success success, Failure failure);
  std::shared_ptr<net::URLSessionTask> HEAD(const std::string& URLString, const Parameters& parameters,
                                            std::function<void(const std::shared_ptr<net::URLSessionTask>&)> success,
                                            Failure failure);
  std::shared_ptr<net::URLSessionTask> POST(const std::string& URLString, const Parameters& parameters, Success success, Failure failure);
  std::shared_ptr<net::URLSessionTask> POST(const std::string& URLString, const Parameters& parameters,
                                            const std::function<void(NetMultipartFormData&)>& body, Success success,
                                            Failure failure);
  std::shared_ptr<net::URLSessionTask> PUT(const std::string& URLString, const Parameters& parameters, Success success, Failure failure);
  std::shared_ptr<net::URLSessionTask> PATCH(const std::string& URLString, const Parameters& parameters, Success success, Failure failure);
  std::shared_ptr<net::URLSessionTask> DELETE(const std::string& URLString, const Parameters& parameters, Success success, Failure failure);

  // The data task every verb but the multipart POST makes, not yet resumed; null when the
  // request cannot be built.
  std::shared_ptr<net::URLSessionTask> dataTaskWithHTTPMethod(const std::string& method, const std::string& URLString,
                                                              const Parameters& parameters, Success success, Failure failure);

  // "<NetHTTPSessionManager: 0x…, baseURL: …, session: …, operationQueue: …>"
  std::string description() const override;
  std::string codingClassName() const override { return "NetHTTPSessionManager"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;
  static std::shared_ptr<NetHTTPSessionManager> initWithCoder(fnd::KeyedUnarchiver& coder);
  // A new manager with the same base URL and configuration and copies of both serializers.
  std::shared_ptr<NetHTTPSessionManager> copy() const;

 private:
  NetHTTPSessionManager() = default;
  std::shared_ptr<net::URLSessionTask> resumed(std::shared_ptr<net::URLSessionTask> task);
  std::shared_ptr<net::URLSessionTask> taskFor(std::optional<net::URLRequest> request, const fnd::Error& error, bool upload,
                                            Success success, Failure failure);
  std::string resolve(const std::string& URLString) const;

  std::optional<net::URL> baseURL_;
  std::shared_ptr<NetHTTPRequestSerializer> requestSerializer_ = NetHTTPRequestSerializer::serializer();
};

}  // namespace kesto
