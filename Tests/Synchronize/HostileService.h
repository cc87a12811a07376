#pragma once

// What the online-service clients meet on the wire beyond the loopback stand-ins that behave: a
// loopback TLS server that answers every request one hostile way, and a record of the HTTP
// client's operations as they start and finish, so a test sees that a request took that road.

#include "LoopbackTLS.h"

#include "Network/NetHTTPRequestOperation.h"
#include "Network/NetworkingNotifications.h"
#include "Synchronize/ServiceRequest.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kesto::test {

class HostileService {
 public:
  enum class Mode {
    SlowBody,        // a byte now and then, never the end
    StalledBody,     // the start of a body, then nothing
    OversizeBody,    // more than the reply's cap
    WrongType,       // an answer that would do, as an HTML page
    RedirectToHttp,  // on to plain http elsewhere
    RedirectToFile,  // on to a file of this machine
  };

  // `answer` is the body every mode sends (or starts) when it sends one.
  struct Case {
    Mode mode;
    std::string says;  // in the error the user is shown
  };
  // Every mode with the words its error holds.
  static std::vector<Case> cases() {
    return {{Mode::SlowBody, "did not answer in time"},    {Mode::StalledBody, "timed out"},
            {Mode::OversizeBody, "larger than allowed"},    {Mode::WrongType, "not an XML document"},
            {Mode::RedirectToHttp, "not a secure (https) one"}, {Mode::RedirectToFile, "not a secure (https) one"}};
  }
  // Small enough to reach in moments: 64 KiB; the slow body meets the limit on the whole exchange
  // (1.5 s), the stalled one the idle time-out (1 s). The other cases get time to spare, so a
  // loaded machine's slow handshake is not taken for a time-out.
  static ServiceRequest::Limits hostileLimits(Mode mode) {
    return {64 * 1024, mode == Mode::StalledBody ? 1.0 : 30.0, mode == Mode::SlowBody ? 1.5 : 30.0};
  }

  HostileService(const TestIdentity& identity, std::string answer)
      : server_(identity.certPath.c_str(), identity.keyPath.c_str()), answer_(std::move(answer)) {
    auto handle = [this](const httplib::Request& q, httplib::Response& r) { respond(q, r); };
    server_.Get(".*", handle);
    server_.Post(".*", handle);
    server_.set_keep_alive_max_count(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~HostileService() {
    stopping_ = true;
    server_.stop();
    thread_.join();
  }

  std::string baseURL() const { return "https://127.0.0.1:" + std::to_string(port_); }
  std::atomic<Mode> mode{Mode::SlowBody};
  // Every request's method, path and whether its body was multipart (an upload).
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void respond(const httplib::Request& q, httplib::Response& r) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(q.method + " " + q.path + (q.is_multipart_form_data() ? " multipart" : ""));
    }
    switch (mode.load()) {
      case Mode::SlowBody:
      case Mode::StalledBody: {
        const bool drip = mode.load() == Mode::SlowBody;
        auto provide = [this, drip, sent = false](std::size_t, httplib::DataSink& sink) mutable {
          if (stopping_) return false;
          if (!sent) {
            sent = true;
            return sink.write(answer_.data(), answer_.size() / 2);
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          return !drip || sink.write(" ", 1);
        };
        r.set_chunked_content_provider("text/xml", provide);
        return;
      }
      case Mode::OversizeBody:
        return r.set_content(answer_ + std::string(256 * 1024, ' '), "text/xml");
      case Mode::WrongType:
        return r.set_content(answer_, "text/html");
      case Mode::RedirectToHttp:
        return r.set_redirect("http://192.0.2.1" + q.path, 302);
      case Mode::RedirectToFile:
        return r.set_redirect("file:///etc/passwd", 302);
    }
  }

  httplib::SSLServer server_;
  std::string answer_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  int port_ = 0;
};

// The HTTP client's operations as they start and finish: method and path of each one's request,
// in the order the notifications came (on the main thread). Only operations started while this
// watches count: one an earlier test left running may finish now, on a loaded machine.
struct ClientOperations {
  ClientOperations() {
    auto& center = fnd::NotificationCenter::defaultCenter();
    center.addObserver(this, [this](const fnd::Notification& n) {
        seen.insert(n.objectAs<fnd::Operation>());
        started.push_back(describe(n));
      }, kNetOperationDidStartNotification);
    center.addObserver(this, [this](const fnd::Notification& n) {
        if (seen.count(n.objectAs<fnd::Operation>())) finished.push_back(describe(n));
      }, kNetOperationDidFinishNotification);
  }
  ~ClientOperations() { fnd::NotificationCenter::defaultCenter().removeObserver(this); }
  static std::string describe(const fnd::Notification& n) {
    auto* op = dynamic_cast<NetHTTPRequestOperation*>(n.objectAs<fnd::Operation>());
    return op ? op->request().httpMethod() + " " + op->request().url().path() : std::string("?");
  }

  std::vector<std::string> started, finished;
  std::set<const fnd::Operation*> seen;
};

}  // namespace kesto::test
