#include "Network/NetHTTPSessionManager.h"

#include "Network/NetMultipartFormData.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Net/URLCoding.h"

#include <cstdio>

namespace kesto {

std::shared_ptr<NetHTTPSessionManager> NetHTTPSessionManager::manager() { return make(std::nullopt); }

std::shared_ptr<NetHTTPSessionManager> NetHTTPSessionManager::make(std::optional<net::URL> baseURL,
                                                                   std::optional<net::URLSessionConfiguration> configuration) {
  std::shared_ptr<NetHTTPSessionManager> m(new NetHTTPSessionManager());
  if (baseURL && !baseURL->path().empty() && baseURL->absoluteString().back() != '/')
    baseURL = baseURL->appendingPathComponent("");
  m->baseURL_ = std::move(baseURL);
  m->setUp(std::move(configuration));
  return m;
}

std::string NetHTTPSessionManager::resolve(const std::string& URLString) const {
  if (!baseURL_) return URLString;
  auto url = net::URL::fromString(URLString, *baseURL_);
  return url ? url->absoluteString() : URLString;
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::taskFor(std::optional<net::URLRequest> request, const fnd::Error& error,
                                                                 bool upload, Success success, Failure failure) {
  if (!request) {
    // Later, where completions run, as for a request that was sent.
    if (failure) {
      auto queue = completionQueue();
      fnd::DispatchQueue& q = queue ? *queue : fnd::DispatchQueue::main();
      q.async([failure, error] { failure(nullptr, error); });
    }
    return nullptr;
  }
  auto holder = std::make_shared<std::weak_ptr<net::URLSessionTask>>();
  CompletionHandler completion = [holder, success, failure](std::shared_ptr<const net::URLResponse>, const fnd::Value& object,
                                                            const fnd::Error* e) {
    auto task = holder->lock();
    if (e) {
      if (failure) failure(task, *e);
    } else if (success) {
      success(task, object);
    }
  };
  std::shared_ptr<net::URLSessionTask> task = upload ? uploadTaskWithStreamedRequest(*request, nullptr, completion)
                                                     : dataTaskWithRequest(*request, completion);
  *holder = task;
  return task;
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::resumed(std::shared_ptr<net::URLSessionTask> task) {
  if (task) task->resume();
  return task;
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::dataTaskWithHTTPMethod(const std::string& method,
                                                                                   const std::string& URLString,
                                                                                   const Parameters& parameters,
                                                                                   Success success, Failure failure) {
  fnd::Error error;
  auto request = requestSerializer_->requestWithMethod(method, resolve(URLString), parameters, &error);
  return taskFor(std::move(request), error, false, std::move(success), std::move(failure));
}

std::string NetHTTPSessionManager::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<%s: %p, baseURL: ", codingClassName().c_str(), static_cast<const void*>(this));
  std::string base = baseURL_ ? baseURL_->withoutUserInfo().absoluteString() : "(null)";
  std::string inherited = NetURLSessionManager::description();
  // The inherited text after its own address: ", session: …, operationQueue: …>".
  return buf + base + inherited.substr(inherited.find(", session: "));
}

void NetHTTPSessionManager::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  NetURLSessionManager::encodeWithCoder(coder);
  if (baseURL_) net::encodeURL(coder, *baseURL_, "baseURL");
  // Every configuration of ours can be archived, so "identifier" is never needed on its own.
  net::encodeConfiguration(coder, sessionConfiguration(), "sessionConfiguration");
  coder.encodeObject(requestSerializer_.get(), "requestSerializer");
  coder.encodeObject(responseSerializer().get(), "responseSerializer");
}

std::shared_ptr<NetHTTPSessionManager> NetHTTPSessionManager::initWithCoder(fnd::KeyedUnarchiver& coder) {
  auto base = net::decodeURL(coder, "baseURL");
  auto configuration = net::decodeConfiguration(coder, "sessionConfiguration");
  if (!configuration && coder.containsValueForKey("identifier")) {
    if (auto identifier = coder.decodeString("identifier"))
      configuration = net::URLSessionConfiguration::backgroundConfiguration(*identifier);
  }
  auto m = make(std::move(base), std::move(configuration));
  if (auto request = NetHTTPRequestSerializer::decode(coder, "requestSerializer")) m->setRequestSerializer(std::move(request));
  if (auto response = NetHTTPResponseSerializer::decode(coder, "responseSerializer")) m->setResponseSerializer(std::move(response));
  return m;
}

std::shared_ptr<NetHTTPSessionManager> NetHTTPSessionManager::copy() const {
  auto m = make(baseURL_, sessionConfiguration());
  m->setRequestSerializer(requestSerializer_->copy());
  if (auto response = responseSerializer()) m->setResponseSerializer(response->copy());
  return m;
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::GET(const std::string& u, const Parameters& p, Success s, Failure f) {
  return resumed(dataTaskWithHTTPMethod("GET", u, p, std::move(s), std::move(f)));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::HEAD(const std::string& u, const Parameters& p,
                                                                 std::function<void(const std::shared_ptr<net::URLSessionTask>&)> s,
                                                                 Failure f) {
  return resumed(dataTaskWithHTTPMethod("HEAD", u, p, [s](const std::shared_ptr<net::URLSessionTask>& t, const fnd::Value&) {
    if (s) s(t);
  }, std::move(f)));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::POST(const std::string& u, const Parameters& p, Success s, Failure f) {
  return resumed(dataTaskWithHTTPMethod("POST", u, p, std::move(s), std::move(f)));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::POST(const std::string& u, const Parameters& p,
                                                                 const std::function<void(NetMultipartFormData&)>& body,
                                                                 Success s, Failure f) {
  fnd::Error error;
  auto request = requestSerializer_->multipartFormRequestWithMethod("POST", resolve(u), p, body, &error);
  return resumed(taskFor(std::move(request), error, true, std::move(s), std::move(f)));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::PUT(const std::string& u, const Parameters& p, Success s, Failure f) {
  return resumed(dataTaskWithHTTPMethod("PUT", u, p, std::move(s), std::move(f)));
}
std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::PATCH(const std::string& u, const Parameters& p, Success s, Failure f) {
  return resumed(dataTaskWithHTTPMethod("PATCH", u, p, std::move(s), std::move(f)));
}
std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::DELETE(const std::string& u, const Parameters& p, Success s, Failure f) {
  return resumed(dataTaskWithHTTPMethod("DELETE", u, p, std::move(s), std::move(f)));
}

}  // namespace kesto
