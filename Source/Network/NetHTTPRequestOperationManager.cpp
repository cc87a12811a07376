#include "Network/NetHTTPRequestOperationManager.h"

#include "Network/NetMultipartFormData.h"
#include "Network/NetReachabilityManager.h"
#include "Network/NetSecurityPolicy.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Net/URLCoding.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/OperationQueue.h"

#include <cstdio>

namespace kesto {

std::shared_ptr<NetHTTPRequestOperationManager> NetHTTPRequestOperationManager::manager() {
  return std::make_shared<NetHTTPRequestOperationManager>();
}

NetHTTPRequestOperationManager::NetHTTPRequestOperationManager(std::optional<net::URL> baseURL)
    : requestSerializer_(NetHTTPRequestSerializer::serializer()),
      responseSerializer_(NetJSONResponseSerializer::serializer()),
      securityPolicy_(NetSecurityPolicy::defaultPolicy()),
      operationQueue_(std::make_shared<fnd::OperationQueue>()),
      reachabilityManager_(&NetReachabilityManager::sharedManager()) {
  if (baseURL && !baseURL->path().empty() && baseURL->absoluteString().back() != '/')
    baseURL = baseURL->appendingPathComponent("");
  baseURL_ = std::move(baseURL);
}

NetHTTPRequestOperationManager::~NetHTTPRequestOperationManager() = default;

std::string NetHTTPRequestOperationManager::resolve(const std::string& URLString) const {
  if (!baseURL_) return URLString;
  auto url = net::URL::fromString(URLString, *baseURL_);
  return url ? url->absoluteString() : URLString;
}

void NetHTTPRequestOperationManager::reportBuildFailure(const Failure& failure, const fnd::Error& error) const {
  if (!failure) return;
  fnd::DispatchQueue& q = completionQueue_ ? *completionQueue_ : fnd::DispatchQueue::main();
  q.async([failure, error] { failure(nullptr, error); });
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::HTTPRequestOperationWithRequest(
    const net::URLRequest& request, Success success, Failure failure) {
  auto op = NetHTTPRequestOperation::make(request);
  op->setResponseSerializer(responseSerializer_);
  op->setShouldUseCredentialStorage(shouldUseCredentialStorage_);
  op->setCredential(credential_);
  op->setSecurityPolicy(securityPolicy_);
  op->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
  op->setCompletionQueue(completionQueue_);
  op->setCompletionGroup(completionGroup_);
  return op;
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::HTTPRequestOperationWithHTTPMethod(
    const std::string& method, const std::string& URLString, const Parameters& parameters, Success success,
    Failure failure) {
  fnd::Error error;
  auto request = requestSerializer_->requestWithMethod(method, resolve(URLString), parameters, &error);
  if (!request) {
    reportBuildFailure(failure, error);
    return nullptr;
  }
  return HTTPRequestOperationWithRequest(*request, std::move(success), std::move(failure));
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::enqueue(std::shared_ptr<NetHTTPRequestOperation> op) {
  if (!op) return nullptr;
  op->retainUntilFinished(operationQueue_);
  operationQueue_->addOperation(op);
  return op;
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::GET(const std::string& URLString,
                                                                             const Parameters& parameters, Success success,
                                                                             Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("GET", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::HEAD(
    const std::string& URLString, const Parameters& parameters,
    std::function<void(const std::shared_ptr<NetHTTPRequestOperation>&)> success, Failure failure) {
  Success wrapped = [success](const std::shared_ptr<NetHTTPRequestOperation>& op, const fnd::Value&) {
    if (success) success(op);
  };
  return enqueue(HTTPRequestOperationWithHTTPMethod("HEAD", URLString, parameters, wrapped, std::move(failure)));
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::POST(const std::string& URLString,
                                                                              const Parameters& parameters, Success success,
                                                                              Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("POST", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::POST(
    const std::string& URLString, const Parameters& parameters, const std::function<void(NetMultipartFormData&)>& body,
    Success success, Failure failure) {
  fnd::Error error;
  auto request = requestSerializer_->multipartFormRequestWithMethod("POST", resolve(URLString), parameters, body, &error);
  if (!request) {
    reportBuildFailure(failure, error);
    return nullptr;
  }
  return enqueue(HTTPRequestOperationWithRequest(*request, std::move(success), std::move(failure)));
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::PUT(const std::string& URLString,
                                                                             const Parameters& parameters, Success success,
                                                                             Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("PUT", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::PATCH(const std::string& URLString,
                                                                               const Parameters& parameters,
                                                                               Success success, Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("PATCH", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperationManager::DELETE(const std::string& URLString,
                                                                                const Parameters& parameters,
                                                                                Success success, Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("DELETE", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<NetHTTPRequestOperationManager> NetHTTPRequestOperationManager::copy() const {
  auto c = std::make_shared<NetHTTPRequestOperationManager>(baseURL_);
  c->requestSerializer_ = requestSerializer_->copy();
  c->responseSerializer_ = responseSerializer_->copy();
  return c;
}

void NetHTTPRequestOperationManager::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  if (baseURL_) net::encodeURL(coder, *baseURL_, "baseURL");
  coder.encodeObject(requestSerializer_.get(), "requestSerializer");
  coder.encodeObject(responseSerializer_.get(), "responseSerializer");
}

std::shared_ptr<NetHTTPRequestOperationManager> NetHTTPRequestOperationManager::initWithCoder(fnd::KeyedUnarchiver& coder) {
  auto m = std::make_shared<NetHTTPRequestOperationManager>(net::decodeURL(coder, "baseURL"));
  if (auto request = NetHTTPRequestSerializer::decode(coder, "requestSerializer")) m->requestSerializer_ = std::move(request);
  if (auto response = NetHTTPResponseSerializer::decode(coder, "responseSerializer")) m->responseSerializer_ = std::move(response);
  return m;
}

std::string NetHTTPRequestOperationManager::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return std::string("<NetHTTPRequestOperationManager: ") + address + ", baseURL: " +
         (baseURL_ ? baseURL_->redactedString() : "(null)") + ", operationQueue: " + operationQueue_->name() + ">";
}

}  // namespace kesto
