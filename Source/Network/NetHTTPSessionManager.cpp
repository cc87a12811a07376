#include "Network/NetHTTPSessionManager.h"

#include "Network/NetMultipartFormData.h"
#include "Platform/Foundation/DispatchQueue.h"

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

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::run(std::optional<net::URLRequest> request, const fnd::Error& error,
                                                                bool upload, Success success, Failure failure) {
  if (!request) {
    if (failure) fnd::DispatchQueue::main().async([failure, error] { failure(nullptr, error); });
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
  if (task) task->resume();
  return task;
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::dataTask(const std::string& method, const std::string& URLString,
                                                                     const Parameters& parameters, Success success,
                                                                     Failure failure) {
  fnd::Error error;
  auto request = requestSerializer_->requestWithMethod(method, resolve(URLString), parameters, &error);
  return run(std::move(request), error, false, std::move(success), std::move(failure));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::GET(const std::string& u, const Parameters& p, Success s, Failure f) {
  return dataTask("GET", u, p, std::move(s), std::move(f));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::HEAD(const std::string& u, const Parameters& p,
                                                                 std::function<void(const std::shared_ptr<net::URLSessionTask>&)> s,
                                                                 Failure f) {
  return dataTask("HEAD", u, p, [s](const std::shared_ptr<net::URLSessionTask>& t, const fnd::Value&) {
    if (s) s(t);
  }, std::move(f));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::POST(const std::string& u, const Parameters& p, Success s, Failure f) {
  return dataTask("POST", u, p, std::move(s), std::move(f));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::POST(const std::string& u, const Parameters& p,
                                                                 const std::function<void(NetMultipartFormData&)>& body,
                                                                 Success s, Failure f) {
  fnd::Error error;
  auto request = requestSerializer_->multipartFormRequestWithMethod("POST", resolve(u), p, body, &error);
  return run(std::move(request), error, true, std::move(s), std::move(f));
}

std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::PUT(const std::string& u, const Parameters& p, Success s, Failure f) {
  return dataTask("PUT", u, p, std::move(s), std::move(f));
}
std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::PATCH(const std::string& u, const Parameters& p, Success s, Failure f) {
  return dataTask("PATCH", u, p, std::move(s), std::move(f));
}
std::shared_ptr<net::URLSessionTask> NetHTTPSessionManager::DELETE(const std::string& u, const Parameters& p, Success s, Failure f) {
  return dataTask("DELETE", u, p, std::move(s), std::move(f));
}

}  // namespace kesto
