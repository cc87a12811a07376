#pragma once

#include "Network/NetHTTPRequestOperation.h"
#include "Network/NetURLRequestSerialization.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/Net/URL.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

class NetHTTPResponseSerializer;
class NetMultipartFormData;
class NetReachabilityManager;
class NetSecurityPolicy;

// The entry point for HTTP requests: builds each request with its request serializer, wraps it
// in an operation carrying the shared settings, and runs it on its queue. Operations finish
// even when the manager that made them is gone.
class NetHTTPRequestOperationManager : public fnd::Coding {
 public:
  using Success = NetHTTPRequestOperation::Success;
  using Failure = NetHTTPRequestOperation::Failure;
  using Parameters = NetHTTPRequestSerializer::Parameters;

  static std::shared_ptr<NetHTTPRequestOperationManager> manager();
  explicit NetHTTPRequestOperationManager(std::optional<net::URL> baseURL = std::nullopt);
  ~NetHTTPRequestOperationManager();

  const std::optional<net::URL>& baseURL() const { return baseURL_; }
  const std::shared_ptr<NetHTTPRequestSerializer>& requestSerializer() const { return requestSerializer_; }
  void setRequestSerializer(std::shared_ptr<NetHTTPRequestSerializer> s) { requestSerializer_ = std::move(s); }
  const std::shared_ptr<NetHTTPResponseSerializer>& responseSerializer() const { return responseSerializer_; }
  void setResponseSerializer(std::shared_ptr<NetHTTPResponseSerializer> s) { responseSerializer_ = std::move(s); }
  const std::shared_ptr<NetSecurityPolicy>& securityPolicy() const { return securityPolicy_; }
  void setSecurityPolicy(std::shared_ptr<NetSecurityPolicy> p) { securityPolicy_ = std::move(p); }
  fnd::OperationQueue& operationQueue() { return *operationQueue_; }
  bool shouldUseCredentialStorage() const { return shouldUseCredentialStorage_; }
  void setShouldUseCredentialStorage(bool on) { shouldUseCredentialStorage_ = on; }
  const std::optional<net::URLCredential>& credential() const { return credential_; }
  void setCredential(std::optional<net::URLCredential> c) { credential_ = std::move(c); }
  NetReachabilityManager& reachabilityManager() const { return *reachabilityManager_; }
  std::shared_ptr<fnd::DispatchQueue> completionQueue() const { return completionQueue_; }
  void setCompletionQueue(std::shared_ptr<fnd::DispatchQueue> q) { completionQueue_ = std::move(q); }
  std::shared_ptr<fnd::DispatchGroup> completionGroup() const { return completionGroup_; }
  void setCompletionGroup(std::shared_ptr<fnd::DispatchGroup> g) { completionGroup_ = std::move(g); }

  // Not enqueued.
  std::shared_ptr<NetHTTPRequestOperation> HTTPRequestOperationWithRequest(const net::URLRequest& request, Success success,
                                                                           Failure failure);
  // Null when the request cannot be built; the failure block then gets a null operation and
  // the error on the completion queue.
  std::shared_ptr<NetHTTPRequestOperation> HTTPRequestOperationWithHTTPMethod(const std::string& method,
                                                                              const std::string& URLString,
                                                                              const Parameters& parameters,
                                                                              Success success, Failure failure);

  std::shared_ptr<NetHTTPRequestOperation> GET(const std::string& URLString, const Parameters& parameters, Success success,
                                               Failure failure);
  std::shared_ptr<NetHTTPRequestOperation> HEAD(const std::string& URLString, const Parameters& parameters,
                                                std::function<void(const std::shared_ptr<NetHTTPRequestOperation>&)> success,
                                                Failure failure);
  std::shared_ptr<NetHTTPRequestOperation> POST(const std::string& URLString, const Parameters& parameters, Success success,
                                                Failure failure);
  std::shared_ptr<NetHTTPRequestOperation> POST(const std::string& URLString, const Parameters& parameters,
                                                const std::function<void(NetMultipartFormData&)>& body, Success success,
                                                Failure failure);
  std::shared_ptr<NetHTTPRequestOperation> PUT(const std::string& URLString, const Parameters& parameters, Success success,
                                               Failure failure);
  std::shared_ptr<NetHTTPRequestOperation> PATCH(const std::string& URLString, const Parameters& parameters, Success success,
                                                 Failure failure);
  std::shared_ptr<NetHTTPRequestOperation> DELETE(const std::string& URLString, const Parameters& parameters, Success success,
                                                  Failure failure);

  // A manager with the same base URL and copies of both serializers; everything else default.
  std::shared_ptr<NetHTTPRequestOperationManager> copy() const;
  std::string description() const;

  // Archived: the base URL and both serializers; the rest takes its defaults when read.
  std::string codingClassName() const override { return "NetHTTPRequestOperationManager"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;
  static std::shared_ptr<NetHTTPRequestOperationManager> initWithCoder(fnd::KeyedUnarchiver& coder);

 private:
  std::shared_ptr<NetHTTPRequestOperation> enqueue(std::shared_ptr<NetHTTPRequestOperation> operation);
  std::string resolve(const std::string& URLString) const;
  void reportBuildFailure(const Failure& failure, const fnd::Error& error) const;

  std::optional<net::URL> baseURL_;
  std::shared_ptr<NetHTTPRequestSerializer> requestSerializer_;
  std::shared_ptr<NetHTTPResponseSerializer> responseSerializer_;
  std::shared_ptr<NetSecurityPolicy> securityPolicy_;
  std::shared_ptr<fnd::OperationQueue> operationQueue_;
  bool shouldUseCredentialStorage_ = true;
  std::optional<net::URLCredential> credential_;
  NetReachabilityManager* reachabilityManager_;
  std::shared_ptr<fnd::DispatchQueue> completionQueue_;
  std::shared_ptr<fnd::DispatchGroup> completionGroup_;
};

}  // namespace kesto
