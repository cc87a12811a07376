// Download resume data, the response cache, replacement body streams and background sessions.
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLSession.h"

#include "Harness/TestSupport.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

using namespace kesto;
using namespace kesto::net;

namespace {

using Clock = std::chrono::steady_clock;

// A bare HTTP/1.1 server whose answers the test writes byte for byte (a library server applies
// Range on its own, so it cannot send a wrong range or ignore one). Each answer may be held
// after its first part until release().
struct RawServer {
  using Answer = std::function<std::pair<std::string, std::string>(const std::string& head)>;

  explicit RawServer(Answer a) : answer(std::move(a)) {
    fd = test::bindLoopbackSocket(port);
    ::listen(fd, 8);
    thread = std::thread([this] { loop(); });
  }
  ~RawServer() {
    stopping = true;
    thread.join();
    ::close(fd);
  }
  void release() { released = true; }
  std::vector<std::string> heads() {
    std::lock_guard lock(mutex);
    return heads_;
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

  void loop() {
    while (!stopping) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int c = ::accept(fd, nullptr, nullptr);
      if (c < 0) continue;
      std::string head;
      char buf[4096];
      auto deadline = Clock::now() + std::chrono::seconds(20);
      while (head.find("\r\n\r\n") == std::string::npos && Clock::now() < deadline && !stopping) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 20) <= 0) continue;
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<std::size_t>(n));
      }
      head = fnd::asciiLowercase(head);
      {
        std::lock_guard lock(mutex);
        heads_.push_back(head);
      }
      auto [first, rest] = answer(head);
      sendAll(c, first);
      if (!rest.empty()) {
        while (!released && !stopping && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        sendAll(c, rest);
      }
      ::shutdown(c, SHUT_RDWR);
      ::close(c);
    }
  }
  static void sendAll(int c, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(c, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }

  Answer answer;
  int fd = -1;
  int port = 0;
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> released{false};
  std::mutex mutex;
  std::vector<std::string> heads_;
};

std::string pattern(std::size_t n, char salt) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + static_cast<std::size_t>(salt)) % 26);
  return s;
}

std::string reply(int status, const std::string& extra, std::size_t length) {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: close\r\n" + extra + "\r\n";
}

constexpr std::size_t kTotal = 64 * 1024, kFirst = 16 * 1024;

struct Recorder final : URLSessionDelegate {
  std::mutex m;
  std::vector<std::pair<std::int64_t, std::int64_t>> resumes;
  std::vector<std::string> completedOn;
  std::atomic<int> completions{0};
  std::string received;
  std::function<std::shared_ptr<InputStream>(URLSessionTask&)> newBody;
  std::function<std::optional<CachedURLResponse>(const CachedURLResponse&)> cache;
  std::string name;

  void sessionDownloadTaskDidResumeAtOffset(URLSession&, URLSessionTask&, std::int64_t offset, std::int64_t total) override {
    std::lock_guard lock(m);
    resumes.emplace_back(offset, total);
  }
  void sessionTaskDidCompleteWithError(URLSession&, URLSessionTask&, const fnd::Error*) override { ++completions; }
  void sessionDataTaskDidReceiveData(URLSession&, URLSessionTask&, const fnd::Data& data) override {
    std::lock_guard lock(m);
    received.append(data.begin(), data.end());
  }
  std::shared_ptr<InputStream> sessionTaskNeedNewBodyStream(URLSession& s, URLSessionTask& t) override {
    return newBody ? newBody(t) : URLSessionDelegate::sessionTaskNeedNewBodyStream(s, t);
  }
  std::optional<CachedURLResponse> sessionDataTaskWillCacheResponse(URLSession& s, URLSessionTask& t,
                                                                    const CachedURLResponse& proposed) override {
    return cache ? cache(proposed) : proposed;
  }
};

struct Outcome {
  std::promise<void> done;
  std::string file;
  bool fileExisted = false;
  std::optional<fnd::Error> error;
};

// Starts a download whose server stops after kFirst bytes and answers the resumed request with
// `second` (given the request head); returns the resume data taken mid-way.
std::optional<fnd::Data> partialDownload(URLSession& session, RawServer& server) {
  auto task = session.downloadTask(URLRequest(*URL::fromString(server.url("/file"))), [](auto, auto, auto) {});
  task->resume();
  if (!test::runUntil([&] { return task->countOfBytesReceived() >= static_cast<std::int64_t>(kFirst); }, 20)) return std::nullopt;
  std::promise<std::optional<fnd::Data>> produced;
  task->cancelByProducingResumeData([&](std::optional<fnd::Data> d) { produced.set_value(std::move(d)); });
  auto future = produced.get_future();
  if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready) return std::nullopt;
  server.release();
  return future.get();
}

std::shared_ptr<Outcome> resumeWith(URLSession& session, const fnd::Data& data) {
  auto out = std::make_shared<Outcome>();
  auto task = session.downloadTaskWithResumeData(data, [out](const std::string* location, auto, const fnd::Error* e) {
    if (location) {
      out->fileExisted = true;
      out->file = test::readFile(*location);
    }
    if (e) out->error = *e;
    out->done.set_value();
  });
  if (!task) return nullptr;
  task->resume();
  return out;
}

bool finished(Outcome& o) { return o.done.get_future().wait_for(std::chrono::seconds(20)) == std::future_status::ready; }

}  // namespace

TEST(URLSessionResumeTest, ContinuesADownloadWithRangeAndValidator) {
  const std::string body = pattern(kTotal, 1);
  RawServer server([&](const std::string& head) -> std::pair<std::string, std::string> {
    if (head.find("range: bytes=16384-") != std::string::npos && head.find("if-range: \"v1\"") != std::string::npos)
      return {reply(206, "ETag: \"v1\"\r\nContent-Range: bytes 16384-65535/65536\r\n", kTotal - kFirst) + body.substr(kFirst), ""};
    return {reply(200, "ETag: \"v1\"\r\n", kTotal) + body.substr(0, kFirst), body.substr(kFirst)};
  });
  auto recorder = std::make_shared<Recorder>();
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration(), recorder);
  auto data = partialDownload(*session, server);
  ASSERT_TRUE(data) << "resume data for a download with an ETag";

  auto out = resumeWith(*session, *data);
  ASSERT_TRUE(out);
  ASSERT_TRUE(finished(*out));
  EXPECT_FALSE(out->error);
  EXPECT_EQ(out->file.size(), kTotal);
  EXPECT_TRUE(out->file == body) << "the kept bytes and the continuation make the whole body";
  std::lock_guard lock(recorder->m);
  ASSERT_EQ(recorder->resumes.size(), 1u);
  EXPECT_EQ(recorder->resumes[0], (std::pair<std::int64_t, std::int64_t>(kFirst, kTotal)));
}

TEST(URLSessionResumeTest, AWholeReplyReplacesThePartialFileAndAWrongRangeFails) {
  const std::string body = pattern(kTotal, 1), changed = pattern(kTotal / 2, 9);
  std::atomic<int> mode{0};  // 0: the resource changed (a whole 200); 1: a continuation from the wrong place
  RawServer server([&](const std::string& head) -> std::pair<std::string, std::string> {
    if (head.find("range:") == std::string::npos)
      return {reply(200, "Last-Modified: Mon, 07 Dec 2026 01:00:00 GMT\r\n", kTotal) + body.substr(0, kFirst), body.substr(kFirst)};
    if (mode == 0) return {reply(200, "", changed.size()) + changed, ""};
    return {reply(206, "Content-Range: bytes 100-65535/65536\r\n", kTotal - 100) + body.substr(100), ""};
  });
  auto recorder = std::make_shared<Recorder>();
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration(), recorder);

  auto data = partialDownload(*session, server);
  ASSERT_TRUE(data) << "Last-Modified serves as the validator";
  EXPECT_NE(server.heads().size(), 0u);
  auto out = resumeWith(*session, *data);
  ASSERT_TRUE(out && finished(*out));
  EXPECT_FALSE(out->error);
  EXPECT_TRUE(out->file == changed) << "not appended after the stale bytes";
  ASSERT_FALSE(server.heads().empty());
  EXPECT_NE(server.heads().back().find("if-range: mon, 07 dec 2026 01:00:00 gmt"), std::string::npos);
  {
    std::lock_guard lock(recorder->m);
    ASSERT_EQ(recorder->resumes.size(), 1u);
    EXPECT_EQ(recorder->resumes[0].first, 0);
  }

  mode = 1;
  server.released = false;
  data = partialDownload(*session, server);
  ASSERT_TRUE(data);
  out = resumeWith(*session, *data);
  ASSERT_TRUE(out && finished(*out));
  ASSERT_TRUE(out->error);
  EXPECT_EQ(out->error->code(), urlerror::BadServerResponse);
  EXPECT_FALSE(out->fileExisted);
}

// The partial files in our cache folder but those in `kept` (left by earlier tests in the same
// process, whose resume data keeps them).
std::vector<std::string> partialFiles(const std::vector<std::string>& kept = {}) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(fnd::StandardPaths::cachesDirectory() + "/kesto/downloads", ec))
    if (e.path().filename().string().rfind("kesto-download-", 0) == 0 &&
        std::find(kept.begin(), kept.end(), e.path().string()) == kept.end())
      out.push_back(e.path().string());
  return out;
}

TEST(URLSessionResumeTest, PartialFilesStayInTheCacheFolderOnlyWhileTheirTaskRuns) {
  const std::string body = pattern(kTotal, 5);
  RawServer server([&](const std::string& head) -> std::pair<std::string, std::string> {
    // "/cut" ends the reply half-way (a failure); the others hold their second half.
    if (head.find("/cut") != std::string::npos) return {reply(200, "", kTotal) + body.substr(0, kFirst), ""};
    return {reply(200, "", kTotal) + body.substr(0, kFirst), body.substr(kFirst)};
  });
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration());
  const std::vector<std::string> before = partialFiles();
  // Cancelled half-way: the file was in our cache folder, and goes.
  std::promise<void> cancelled;
  auto task = session->downloadTask(URLRequest(*URL::fromString(server.url("/held"))),
                                    [&](auto, auto, auto) { cancelled.set_value(); });
  task->resume();
  ASSERT_TRUE(test::runUntil([&] { return task->countOfBytesReceived() >= static_cast<std::int64_t>(kFirst); }, 20));
  EXPECT_EQ(partialFiles(before).size(), 1u);
  task->cancel();
  ASSERT_EQ(cancelled.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_TRUE(test::runUntil([&] { return partialFiles(before).empty(); }, 10));
  server.release();

  // Failed half-way (the reply ends early): gone as well, and none was ever in the temporary
  // folder.
  std::promise<bool> failed;
  auto cut = session->downloadTask(URLRequest(*URL::fromString(server.url("/cut"))),
                                   [&](auto, auto, const fnd::Error* e) { failed.set_value(e != nullptr); });
  cut->resume();
  auto outcome = failed.get_future();
  ASSERT_EQ(outcome.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_TRUE(outcome.get());
  EXPECT_TRUE(test::runUntil([&] { return partialFiles(before).empty(); }, 10));
}

TEST(URLSessionResumeTest, ResumeDataIsOnlyTakenFromDownloadsOfOurOwn) {
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration());
  EXPECT_FALSE(session->downloadTaskWithResumeData(fnd::Data{'n', 'o'}));

  std::string partial = test::makeTempDir("resume") + "/kesto-download-x";
  test::writeFile(partial, "0123456789");
  auto forge = [](const std::string& path, std::int64_t offset, const std::string& url) {
    fnd::Dictionary d{{"$mark", "KestoDownloadResumeData"}, {"url", url},           {"validator", "\"v\""},
                      {"offset", offset},                     {"path", path},         {"headers", fnd::Value(fnd::Dictionary{})}};
    return *fnd::PropertyList::write(fnd::Value(d), fnd::PropertyListFormat::Binary);
  };
  EXPECT_FALSE(session->downloadTaskWithResumeData(forge("/etc/passwd", 4, "http://127.0.0.1:1/f")))
      << "a file that is not a partial download";
  EXPECT_FALSE(session->downloadTaskWithResumeData(forge(partial, 4, "http://127.0.0.1:1/f")))
      << "a partial download in a folder of its own";
  const char* tmp = std::getenv("TMPDIR");
  std::string inTmp = std::string(tmp && *tmp ? tmp : "/tmp") + "/kesto-download-test-" + std::to_string(::getpid());
  test::writeFile(inTmp, "0123456789");
  EXPECT_FALSE(session->downloadTaskWithResumeData(forge(inTmp, 4, "http://127.0.0.1:1/f")))
      << "the temporary folder is not where our downloads are";
  ::unlink(inTmp.c_str());

  // In our downloads folder, a file shorter than recorded or a file: URL is refused too.
  const std::string folder = fnd::StandardPaths::cachesDirectory() + "/kesto/downloads";
  std::filesystem::create_directories(folder);
  std::string ours = folder + "/kesto-download-test-" + std::to_string(::getpid());
  test::writeFile(ours, "0123456789");
  EXPECT_FALSE(session->downloadTaskWithResumeData(forge(ours, 20, "http://127.0.0.1:1/f")));
  EXPECT_FALSE(session->downloadTaskWithResumeData(forge(ours, 4, "file:///etc/passwd")));
  EXPECT_FALSE(session->downloadTaskWithResumeData(forge(ours + "/../kesto-download-x", 4, "http://127.0.0.1:1/f")));
  auto ok = session->downloadTaskWithResumeData(forge(ours, 4, "http://127.0.0.1:1/f"));
  EXPECT_TRUE(ok);
  EXPECT_EQ(test::readFile(ours), "0123") << "cut back to the recorded length";
  ::unlink(ours.c_str());
}

TEST(URLSessionResumeTest, ResumeDataNeedsAValidatorAndADownload) {
  // Without ETag or Last-Modified the server could send anything after the kept bytes.
  const std::string body = pattern(kTotal, 3);
  RawServer server([&](const std::string&) -> std::pair<std::string, std::string> {
    return {reply(200, "", kTotal) + body.substr(0, kFirst), body.substr(kFirst)};
  });
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration());
  EXPECT_FALSE(partialDownload(*session, server));

  auto data = session->dataTask(URLRequest(*URL::fromString(server.url("/d"))), [](auto, auto, auto) {});
  std::promise<bool> produced;
  data->cancelByProducingResumeData([&](std::optional<fnd::Data> d) { produced.set_value(d.has_value()); });
  auto f = produced.get_future();
  ASSERT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(f.get());
  EXPECT_TRUE(test::runUntil([&] { return data->state() == URLSessionTask::State::Completed; }, 10)) << "still cancelled";
}

TEST(ContentRangeTest, ParsesTheThreeForms) {
  auto r = ContentRange::parse("bytes 100-199/200");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->first, 100u);
  EXPECT_EQ(r->total, 200u);
  r = ContentRange::parse("bytes 0-9/*");
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->total);
  r = ContentRange::parse("bytes */200");
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->first);
  EXPECT_EQ(r->total, 200u);
  for (const char* bad : {"", "bytes", "bytes 5-4/10", "bytes 0-10/10", "items 0-1/2", "bytes -1-2/3", "bytes */*",
                          "bytes 1-2", "bytes 99999999999999999999-1/2"})
    EXPECT_FALSE(ContentRange::parse(bad)) << bad;
}

namespace {
struct EchoServer : test::LoopbackServer {
  EchoServer() {
    server->Get("/data", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("payload " + req.get_param_value("n"), "text/plain");
    });
    server->Get("/private", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "no-store");
      res.set_content("secret", "text/plain");
    });
    server->Post("/echo", [](const httplib::Request& req, httplib::Response& res) { res.set_content(req.body, "text/plain"); });
    server->Post("/moved", [](const httplib::Request&, httplib::Response& res) {
      res.status = 307;
      res.set_header("Location", "/echo");
    });
    start();
  }
  URLRequest request(const std::string& path) { return URLRequest(*URL::fromString(url(path, "127.0.0.1"))); }
};

// Runs a data task without a completion (as a session manager does) until the delegate heard
// of its end.
void runToEnd(URLSession& session, Recorder& r, const URLRequest& request) {
  int before = r.completions;
  session.dataTask(request)->resume();
  ASSERT_TRUE(test::runUntil([&] { return r.completions > before; }, 10));
}
}  // namespace

TEST(URLSessionCacheTest, SuccessfulGetRepliesGoToTheCacheAsTheDelegateDecides) {
  EchoServer s;
  auto recorder = std::make_shared<Recorder>();
  auto config = URLSessionConfiguration::defaultConfiguration();
  config.urlCache = std::make_shared<URLCache>(1024);
  auto session = URLSession::make(config, recorder);

  runToEnd(*session, *recorder, s.request("/data?n=1"));
  auto cached = config.urlCache->cachedResponseForRequest(s.request("/data?n=1"));
  ASSERT_TRUE(cached);
  EXPECT_EQ(std::string(cached->data.begin(), cached->data.end()), "payload 1");
  ASSERT_TRUE(cached->response);

  runToEnd(*session, *recorder, s.request("/private"));
  EXPECT_FALSE(config.urlCache->cachedResponseForRequest(s.request("/private"))) << "no-store";

  URLRequest reload = s.request("/data?n=2");
  reload.setCachePolicy(1);
  runToEnd(*session, *recorder, reload);
  EXPECT_FALSE(config.urlCache->cachedResponseForRequest(reload)) << "a reload ignoring caches";

  // The delegate can refuse or replace what is stored.
  recorder->cache = [](const CachedURLResponse&) { return std::nullopt; };
  runToEnd(*session, *recorder, s.request("/data?n=3"));
  EXPECT_FALSE(config.urlCache->cachedResponseForRequest(s.request("/data?n=3")));
  recorder->cache = [](const CachedURLResponse& p) {
    return std::optional<CachedURLResponse>(CachedURLResponse{p.response, fnd::Data{'x'}});
  };
  runToEnd(*session, *recorder, s.request("/data?n=4"));
  EXPECT_EQ(config.urlCache->cachedResponseForRequest(s.request("/data?n=4"))->data, fnd::Data{'x'});
}

TEST(URLSessionCacheTest, TheOldestRepliesMakeRoomAndOversizedOnesAreNotKept) {
  URLCache cache(10);
  auto at = [](const std::string& path) { return URLRequest(*URL::fromString("http://h" + path)); };
  cache.storeCachedResponse({nullptr, fnd::Data(4, 'a')}, at("/a"));
  cache.storeCachedResponse({nullptr, fnd::Data(4, 'b')}, at("/b"));
  cache.storeCachedResponse({nullptr, fnd::Data(4, 'c')}, at("/c"));
  EXPECT_FALSE(cache.cachedResponseForRequest(at("/a")));
  EXPECT_TRUE(cache.cachedResponseForRequest(at("/b")));
  EXPECT_EQ(cache.currentMemoryUsage(), 8u);
  cache.storeCachedResponse({nullptr, fnd::Data(2, 'b')}, at("/b"));
  EXPECT_EQ(cache.currentMemoryUsage(), 6u) << "a replaced entry no longer counts";
  cache.storeCachedResponse({nullptr, fnd::Data(11, 'z')}, at("/z"));
  EXPECT_FALSE(cache.cachedResponseForRequest(at("/z")));
  EXPECT_EQ(cache.currentMemoryUsage(), 6u);
}

TEST(URLSessionTest, ARedirectedStreamedUploadAsksForANewBodyStream) {
  EchoServer s;
  auto recorder = std::make_shared<Recorder>();
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration(), recorder);
  recorder->newBody = [](URLSessionTask&) { return makeDataInputStream(fnd::Data{'n', 'e', 'w'}); };

  URLRequest post = s.request("/moved");
  post.setHTTPMethod("POST");
  post.setHTTPBodyStream(makeDataInputStream(fnd::Data{'o', 'l', 'd'}));
  auto task = session->uploadTaskWithStreamedRequest(post);
  task->resume();
  ASSERT_TRUE(test::runUntil([&] { return recorder->completions == 1; }, 10));
  EXPECT_FALSE(task->error());
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(task->response());
  ASSERT_TRUE(http);
  EXPECT_EQ(http->statusCode(), 200);
  {
    std::lock_guard lock(recorder->m);
    EXPECT_EQ(recorder->received, "new");
  }

  // No replacement: the retry cannot send its body and the task fails.
  recorder->newBody = [](URLSessionTask&) { return nullptr; };
  post.setHTTPBodyStream(makeDataInputStream(fnd::Data{'o', 'l', 'd'}));
  task = session->uploadTaskWithStreamedRequest(post);
  task->resume();
  ASSERT_TRUE(test::runUntil([&] { return recorder->completions == 2; }, 10));
  EXPECT_TRUE(task->error());

  // The consumed stream itself would send nothing under the old length: refused as well.
  recorder->newBody = [](URLSessionTask& t) { return t.originalRequest().httpBodyStream(); };
  post.setHTTPBodyStream(makeDataInputStream(fnd::Data{'o', 'l', 'd'}));
  task = session->uploadTaskWithStreamedRequest(post);
  task->resume();
  ASSERT_TRUE(test::runUntil([&] { return recorder->completions == 3; }, 10));
  ASSERT_TRUE(task->error());
  EXPECT_EQ(task->error()->code(), urlerror::CannotDecodeRawData);
}

TEST(URLSessionTest, ABackgroundSessionTakesOverTheTasksOfAnEarlierOneWithItsIdentifier) {
  EchoServer s;
  auto first = std::make_shared<Recorder>(), second = std::make_shared<Recorder>();
  auto config = URLSessionConfiguration::backgroundConfiguration("com.kesto.tests.takeover");
  auto a = URLSession::make(config, first);
  auto task = a->dataTask(s.request("/data"));
  auto other = URLSession::make(URLSessionConfiguration::backgroundConfiguration("com.kesto.tests.other"), second);
  EXPECT_EQ(a->tasks().size(), 1u) << "another identifier takes nothing";

  auto b = URLSession::make(config, second);
  EXPECT_TRUE(a->tasks().empty());
  ASSERT_EQ(b->tasks().size(), 1u);
  EXPECT_EQ(b->tasks()[0], task);
  task->resume();
  ASSERT_TRUE(test::runUntil([&] { return second->completions == 1; }, 10));
  EXPECT_EQ(first->completions, 0);
  EXPECT_NE(b->description().find("com.kesto.tests.takeover"), std::string::npos);
}
