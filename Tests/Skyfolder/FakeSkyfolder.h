#pragma once

#include "TestPKI.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace kesto {
class SFSession;
namespace net {
class URL;
}
}  // namespace kesto

namespace kesto::test {

// A loopback stand-in for the service's API as the client uses it: TLS, OAuth token calls with
// approval, in-memory files with revisions and parent_rev semantics, PLAINTEXT signature
// checks, fault injection and a log of every request that reached it.
class FakeSkyfolder {
 public:
  static constexpr const char* kConsumerKey = "appkey";
  static constexpr const char* kConsumerSecret = "app&secret";
  static constexpr const char* kRequestToken = "rt1";
  static constexpr const char* kRequestSecret = "r/s&";
  static constexpr const char* kAccessToken = "at1";
  static constexpr const char* kAccessSecret = "a+s";
  static constexpr const char* kUserId = "4242";

  struct Logged {
    std::string method;
    std::string path;
    std::string rawQuery;
    std::multimap<std::string, std::string> params;
    std::map<std::string, std::string> headers;
    std::uint64_t bodySize = 0;
  };
  struct Fault {
    int status = 500;
    std::string body;
    std::map<std::string, std::string> headers;
    // Announce "bytes" of 100 in the metadata header but send 90 octets, without Content-Length.
    bool shortBody = false;
    // Send the file gzip-compressed with Content-Encoding (downloads).
    bool gzip = false;
    int delayMs = 0;
  };

  FakeSkyfolder(const TestIdentity& identity);
  ~FakeSkyfolder();

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  // Points the client's API, content and web hosts here.
  void pointClientHere() const;

  std::string putFile(const std::string& path, std::string content);
  std::optional<std::string> fileContent(const std::string& path) const;
  std::optional<std::string> fileRev(const std::string& path) const;
  // A file of `size` generated octets, streamed and never held in memory (benchmarks).
  void putGeneratedFile(const std::string& path, std::uint64_t size);
  // Octets received by the last upload too large to keep.
  std::uint64_t lastStreamedUploadSize() const { return lastStreamedUpload_; }

  void approveRequestToken() { approved_ = true; }
  // The next `times` requests whose path begins with `pathPrefix` get `fault`.
  void injectFault(const std::string& pathPrefix, Fault fault, int times = 1);
  std::vector<Logged> log() const;
  void clearLog();
  int signatureFailures() const { return signatureFailures_; }

 private:
  struct File {
    std::string content;
    std::uint64_t generatedSize = 0;
    bool generated = false;
    std::string rev;
    std::int64_t revision = 0;
  };
  void install();
  std::string metadataJson(const std::string& path, const File& file) const;
  std::string folderJson(const std::string& path) const;
  bool signatureValid(const std::multimap<std::string, std::string>& params) const;
  std::optional<Fault> takeFault(const std::string& path);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, File> files_;
  std::vector<Logged> log_;
  std::vector<std::tuple<std::string, Fault, int>> faults_;
  std::int64_t nextRevision_ = 1;
  std::atomic<bool> approved_{false};
  std::atomic<bool> requestTokenIssued_{false};
  std::atomic<bool> accessTokenIssued_{false};
  std::atomic<int> signatureFailures_{0};
  std::atomic<std::uint64_t> lastStreamedUpload_{0};
};

// A fake on loopback whose certificate a fresh test root issued for 127.0.0.1 and localhost;
// the fixtures of the client's tests derive from it.
struct LoopbackSkyfolder {
  // Issues the certificates into `folder` and starts the fake.
  void startSkyfolder(const std::string& folder);
  // Sends the client's API, content and web hosts to the fake and pins its test root.
  void pinClientToSkyfolder() const;
  // Both: the fake started with its key material in `folder`, the client pinned to it.
  void startPinnedSkyfolder(const std::string& folder);
  // Takes the pinned roots back to the built-in ones.
  static void unpinClient();
  // A session with the fake's application key, not linked.
  static std::shared_ptr<SFSession> newSession();
  // The same, linked as the link flow leaves it: the fake's access token kept.
  static std::shared_ptr<SFSession> linkedSession();
  // The browser of the link flow: the page it is sent to goes into `opened` and the user
  // approves the request there at once.
  void approveInTheBrowser(std::optional<net::URL>& opened) const;

  std::string dir;  // the key material lives here; tests may put their files here too
  TestCert ca, leaf;
  std::unique_ptr<FakeSkyfolder> fake;
};

}  // namespace kesto::test
