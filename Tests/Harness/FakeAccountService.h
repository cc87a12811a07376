#pragma once

// A loopback stand-in for the account service's five requests: accounts in memory, one stored
// payload per account served from the same server, a reset key kept instead of mailed, and
// switches for the failures a real service shows. Over TLS when given a certificate (PEM, the
// leaf then its issuers) and its key, as the real service is; plain http otherwise.

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kesto::test {

class FakeAccountService {
 public:
  struct Account {
    std::string password, payload, kestoID, resetKey;
  };
  struct Upload {
    std::string contentType;
    std::string email, password, kestoID, syncData, fileName, fileType, file;
  };
  // Unreadable: a load reply cut short; Unexpected: a readable one that is neither a record
  // nor a refusal. DownloadBomb: the payload as a small gzip stream, sent slowly, that inflates
  // past any payload's size; DownloadEndless: a payload that never ends.
  enum class Failure {
    None, Status500, NotXml, NoSyncFile, DownloadFails, UploadFails, Unreadable, Unexpected, DownloadBomb,
    DownloadEndless
  };
  // The compressed body DownloadBomb sends (the test makes it).
  std::string bomb;

  explicit FakeAccountService(const std::string& certPath = {}, const std::string& keyPath = {})
      : tls_(!certPath.empty()),
        server_(tls_ ? std::make_unique<httplib::SSLServer>(certPath.c_str(), keyPath.c_str())
                     : std::make_unique<httplib::Server>()) {
    auto& server = *server_;
    server.set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_;
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Post("/sync.xml", [this](const httplib::Request& q, httplib::Response& r) { sync(q, r); });
    server.Post("/register.xml", [this](const httplib::Request& q, httplib::Response& r) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++registrations;
      if (failure == Failure::Status500) return fail(r);
      const auto email = q.get_param_value("user[email]");
      if (accounts.count(email)) return xml(r, "<errors><error>taken</error></errors>");
      accounts[email].password = q.get_param_value("user[password]");
      xml(r, "<user><email>" + email + "</email></user>");
    });
    server.Post("/forgot_password.xml", [this](const httplib::Request& q, httplib::Response& r) {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = accounts.find(q.get_param_value("user[email]"));
      if (it == accounts.end()) return xml(r, "<errors/>");
      it->second.resetKey = "KEY-" + std::to_string(++keys_);
      xml(r, "<user><email>" + it->first + "</email></user>");
    });
    server.Post("/reset_password.xml", [this](const httplib::Request& q, httplib::Response& r) {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = accounts.find(q.get_param_value("user[email]"));
      if (it == accounts.end() || it->second.resetKey.empty() ||
          it->second.resetKey != q.get_param_value("user[password]"))
        return xml(r, "<errors/>");
      it->second.password = q.get_param_value("user[newpassword]");
      it->second.resetKey.clear();
      xml(r, "<user><email>" + it->first + "</email></user>");
    });
    server.Get(R"(/f/(.+)\.zip)", [this](const httplib::Request& q, httplib::Response& r) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++downloads;
      if (failure == Failure::DownloadFails) return fail(r);
      if (failure == Failure::DownloadBomb || failure == Failure::DownloadEndless) return hostileDownload(r);
      auto it = accounts.find(q.matches[1]);
      if (it == accounts.end() || it->second.payload.empty()) {
        r.status = 404;
        return;
      }
      r.set_content(it->second.payload, "application/zip");
    });
    // One request per connection: stopping never waits for an idle keep-alive connection.
    server.set_keep_alive_max_count(1);
    port_ = server.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~FakeAccountService() {
    stopping_ = true;
    server_->stop();
    thread_.join();
  }

  std::string baseURL() const { return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_); }
  // Requests that reached a handler, whatever they asked.
  int requestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  // Under the lock: the tests read and set these between requests.
  std::map<std::string, Account> accounts;
  std::vector<Upload> uploads;
  std::vector<std::string> rawBodies;
  Failure failure = Failure::None;
  int registrations = 0, downloads = 0;
  std::mutex& mutex() { return mutex_; }

 private:
  static void fail(httplib::Response& r) {
    r.status = 500;
    r.set_content("<error/>", "application/xml");
  }
  static void xml(httplib::Response& r, const std::string& body) { r.set_content(body, "application/xml"); }

  // Under the lock; the body is sent after the handler returns, without it.
  void hostileDownload(httplib::Response& r) {
    if (failure == Failure::DownloadBomb) {
      r.set_header("Content-Encoding", "gzip");
      r.set_chunked_content_provider("application/zip", [this, body = bomb](std::size_t offset, httplib::DataSink& sink) {
        if (stopping_) return false;
        if (offset >= body.size()) {
          sink.done();
          return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return sink.write(body.data() + offset, std::min<std::size_t>(16384, body.size() - offset));
      });
      return;
    }
    r.set_chunked_content_provider("application/zip", [this](std::size_t, httplib::DataSink& sink) {
      static const std::string piece(1u << 20, 'z');
      return !stopping_ && sink.write(piece.data(), piece.size());
    });
  }

  void sync(const httplib::Request& q, httplib::Response& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    rawBodies.push_back(q.body);
    if (q.is_multipart_form_data()) return upload(q, r);
    if (failure == Failure::Status500) return fail(r);
    if (failure == Failure::NotXml) return r.set_content("<user><password/></user>", "text/html");
    if (failure == Failure::Unreadable) return xml(r, "<user><email>me</email><passw");
    if (failure == Failure::Unexpected) return xml(r, "<html><body>Service Unavailable</body></html>");
    const auto email = q.get_param_value("user[email]");
    auto it = accounts.find(email);
    if (it == accounts.end() || it->second.password != q.get_param_value("user[password]"))
      return xml(r, "<errors><error>refused</error></errors>");
    if (failure == Failure::NoSyncFile) return xml(r, "<user><email>" + email + "</email><password></password></user>");
    const std::string file = it->second.payload.empty() ? "missing.png" : baseURL() + "/f/" + email + ".zip";
    xml(r, "<user><email>" + email + "</email><password></password><sync_file>" + file + "</sync_file></user>");
  }

  void upload(const httplib::Request& q, httplib::Response& r) {
    Upload u;
    u.contentType = q.get_header_value("Content-Type");
    auto value = [&q](const char* name) { return q.has_file(name) ? q.get_file_value(name).content : std::string(); };
    u.email = value("user[email]");
    u.password = value("user[password]");
    u.kestoID = value("user[kesto_id]");
    u.syncData = value("user[sync_data]");
    if (q.has_file("user[sync_file]")) {
      const auto& f = q.get_file_value("user[sync_file]");
      u.fileName = f.filename;
      u.fileType = f.content_type;
      u.file = f.content;
    }
    uploads.push_back(u);
    if (failure == Failure::UploadFails) return fail(r);
    auto it = accounts.find(u.email);
    if (it == accounts.end() || it->second.password != u.password) return xml(r, "<errors/>");
    it->second.payload = u.file;
    it->second.kestoID = u.kestoID;
    xml(r, "<user><email>" + u.email + "</email></user>");
  }

  bool tls_;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<httplib::Server> server_;
  std::mutex mutex_;
  std::thread thread_;
  int port_ = 0;
  int keys_ = 0;
  int requests_ = 0;
};

}  // namespace kesto::test
