#pragma once

// Loopback servers for the URL-loading and HTTP tests and benchmarks: an HTTP or HTTPS server
// on an ephemeral 127.0.0.1 port, on its own thread, and a bare bound socket.

#include "TestCertificates.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kesto::test {

// Holds a handler's answer until the test lets it go: the client is then seen doing something
// (cancelling, timing out, pausing) while its request is unanswered, however slow the machine,
// instead of racing a fixed sleep.
class Gate {
 public:
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// Add routes to `server`, then start(). TLS with an identity from testPKI().
struct LoopbackServer {
  explicit LoopbackServer(const TestIdentity* identity = nullptr) {
    if (identity)
      server = std::make_unique<httplib::SSLServer>(identity->certPath.c_str(), identity->keyPath.c_str());
    else
      server = std::make_unique<httplib::Server>();
    tls = identity != nullptr;
    // One request per connection, closed after the answer: an idle keep-alive connection would
    // hold the server's shutdown for seconds. (A zero keep-alive wait would instead drop any
    // request that reaches a fresh connection more than a few milliseconds late, as happens on a
    // loaded machine.)
    server->set_keep_alive_max_count(1);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  ~LoopbackServer() {
    held.open();  // no handler outlives the server
    server->stop();
    if (thread.joinable()) thread.join();
  }

  void start() {
    port = server->bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server->listen_after_bind(); });
    while (!server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::string url(const std::string& path, const std::string& host = "localhost") const {
    return std::string(tls ? "https" : "http") + "://" + host + ":" + std::to_string(port) + path;
  }

  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int port = 0;
  bool tls = false;
  // For handlers to count what reached the server.
  std::atomic<int> requests{0};
  // For handlers whose answer waits for the test; opened when the server stops.
  Gate held;
};

// Answers 401 with a challenge for Basic authentication in `realm`.
inline void askForBasicAuth(httplib::Response& res, const std::string& realm) {
  res.status = 401;
  res.set_header("WWW-Authenticate", "Basic realm=\"" + realm + "\"");
}

// A TCP socket bound to an ephemeral loopback port, not yet listening; -1 when none can be had.
// Closing it at once leaves a port that refuses connections.
inline int bindLoopbackSocket(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

}  // namespace kesto::test
