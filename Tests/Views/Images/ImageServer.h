#pragma once

#include "Platform/Net/LoopbackServer.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace kesto::test {

// A loopback HTTP server on an ephemeral port that serves fixed bodies and counts requests.
class ImageServer {
 public:
  struct Reply {
    int status = 200;
    std::string contentType = "image/png";
    std::string body;
  };

  ImageServer() {
    loopback_.server->Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      ++hits_[request.path];
      lastRequest_ = request.method + " " + request.target;
      auto it = replies_.find(request.path);
      if (it == replies_.end()) {
        response.status = 404;
        response.set_content("<html>not here</html>", "text/html");
        return;
      }
      response.status = it->second.status;
      response.set_content(it->second.body, it->second.contentType.c_str());
    });
    loopback_.server->Post(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      ++hits_[request.path];
      lastBody_ = request.body;
      lastContentType_ = request.get_header_value("Content-Type");
      for (const auto& [name, file] : request.files) files_[name] = file;
      response.set_content("ok", "text/plain");
    });
    loopback_.start();
  }
  ~ImageServer() { stop(); }

  void stop() {
    loopback_.server->stop();
    if (loopback_.thread.joinable()) loopback_.thread.join();
  }

  void serve(const std::string& path, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
  }
  int hits(const std::string& path) {
    std::lock_guard lock(mutex_);
    return hits_[path];
  }
  std::string url(const std::string& path) const { return loopback_.url(path, "127.0.0.1"); }
  std::string lastRequest() {
    std::lock_guard lock(mutex_);
    return lastRequest_;
  }
  std::string lastBody() {
    std::lock_guard lock(mutex_);
    return lastBody_;
  }
  std::string lastContentType() {
    std::lock_guard lock(mutex_);
    return lastContentType_;
  }
  std::map<std::string, httplib::MultipartFormData> files() {
    std::lock_guard lock(mutex_);
    return files_;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::map<std::string, int> hits_;
  std::string lastRequest_, lastBody_, lastContentType_;
  std::map<std::string, httplib::MultipartFormData> files_;
  // Last, so it stops before what its handlers use goes.
  LoopbackServer loopback_;
};

}  // namespace kesto::test
