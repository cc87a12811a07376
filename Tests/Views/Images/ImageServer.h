#pragma once

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
    server_.Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
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
    server_.Post(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      ++hits_[request.path];
      lastBody_ = request.body;
      lastContentType_ = request.get_header_value("Content-Type");
      for (const auto& [name, file] : request.files) files_[name] = file;
      response.set_content("ok", "text/plain");
    });
    // One request per connection, closed after the answer, so stopping never waits for an idle
    // keep-alive connection to time out.
    server_.set_keep_alive_max_count(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~ImageServer() { stop(); }

  void stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  void serve(const std::string& path, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
  }
  int hits(const std::string& path) {
    std::lock_guard lock(mutex_);
    return hits_[path];
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
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
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::map<std::string, int> hits_;
  std::string lastRequest_, lastBody_, lastContentType_;
  std::map<std::string, httplib::MultipartFormData> files_;
};

}  // namespace kesto::test
