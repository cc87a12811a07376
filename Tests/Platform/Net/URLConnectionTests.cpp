#include "Platform/Net/ServerTrust.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLConnection.h"
#include "Platform/Net/URLError.h"

#include "Harness/TestSupport.h"
#include "LoopbackServer.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kesto;
using namespace kesto::net;

namespace {

using Server = test::LoopbackServer;

// The address with `userInfo` ("user:password") in front of its host.
std::string withUserInfo(std::string url, const std::string& userInfo) {
  url.insert(url.find("://") + 3, userInfo + "@");
  return url;
}

// Records every callback, in order, and waits for the end.
class Recorder : public URLConnectionDelegate {
 public:
  std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& request,
                                                      const HTTPURLResponse* redirect) override {
    note(redirect ? "redirect " + std::to_string(redirect->statusCode()) : "willSend");
    requests.push_back(request);
    if (redirect && refuseRedirects) return std::nullopt;
    return request;
  }
  bool connectionShouldUseCredentialStorage(URLConnection&) override {
    note("credentialStorage");
    return true;
  }
  void connectionWillSendRequestForAuthenticationChallenge(URLConnection&, AuthenticationChallenge& c) override {
    note(c.protectionSpace().authenticationMethod == kAuthenticationMethodServerTrust ? "trust" : "auth");
    failureCounts.push_back(c.previousFailureCount());
    if (c.protectionSpace().authenticationMethod == kAuthenticationMethodServerTrust) {
      if (trustAnswer) trustAnswer(c);
    } else if (authAnswer) {
      authAnswer(c);
    }
  }
  void connectionDidSendBodyData(URLConnection&, std::int64_t, std::int64_t total, std::int64_t) override {
    std::lock_guard lock(mutex);
    if (events.empty() || events.back() != "sent") events.push_back("sent");
    sent = total;
  }
  void connectionDidReceiveResponse(URLConnection&, std::shared_ptr<const URLResponse> r) override {
    note("response");
    response = std::dynamic_pointer_cast<const HTTPURLResponse>(r);
  }
  void connectionDidReceiveData(URLConnection& c, const std::uint8_t* bytes, std::size_t length) override {
    {
      std::lock_guard lock(mutex);
      if (events.empty() || events.back() != "data") events.push_back("data");
      body.append(reinterpret_cast<const char*>(bytes), length);
    }
    if (cancelOnData) {
      c.cancel();
      done();
    }
  }
  bool connectionWillCacheResponse(URLConnection&, const URLResponse&) override {
    note("cache");
    return true;
  }
  void connectionDidFinishLoading(URLConnection&) override {
    note("finish");
    done();
  }
  void connectionDidFailWithError(URLConnection&, const fnd::Error& e) override {
    note("fail");
    error = e;
    done();
  }

  bool wait(double seconds = 10) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return ended; });
  }
  std::vector<std::string> snapshot() {
    std::lock_guard lock(mutex);
    return events;
  }

  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
  std::vector<std::string> events;
  std::vector<URLRequest> requests;
  std::vector<int> failureCounts;
  std::shared_ptr<const HTTPURLResponse> response;
  std::string body;
  std::optional<fnd::Error> error;
  std::int64_t sent = 0;
  bool refuseRedirects = false;
  bool cancelOnData = false;
  std::atomic<bool> offNetworkThread{false};
  std::function<void(AuthenticationChallenge&)> trustAnswer;
  std::function<void(AuthenticationChallenge&)> authAnswer;

 private:
  void note(std::string e) {
    if (!URLConnection::isNetworkThread()) offNetworkThread = true;
    std::lock_guard lock(mutex);
    events.push_back(std::move(e));
  }
  void done() {
    std::lock_guard lock(mutex);
    ended = true;
    cv.notify_all();
  }
};

std::shared_ptr<Recorder> run(URLRequest request, std::shared_ptr<Recorder> r = std::make_shared<Recorder>()) {
  auto c = URLConnection::make(std::move(request), r);
  c->start();
  EXPECT_TRUE(r->wait());
  return r;
}

URLRequest get(const std::string& url) { return URLRequest(*URL::fromString(url)); }

}  // namespace

TEST(URLConnectionTest, DeliversCallbacksInOrderOnTheNetworkThread) {
  Server s;
  s.server->Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
    res.set_header("ETag", "\"v1\"");
    res.set_content("got:" + req.body, "text/plain; charset=utf-8");
  });
  s.start();
  URLRequest req = get(s.url("/echo"));
  req.setHTTPMethod("POST");
  req.setHTTPBody(fnd::Data{'a', 'b', 'c'});
  auto r = run(req);
  EXPECT_EQ(r->snapshot(), (std::vector<std::string>{"willSend", "credentialStorage", "sent", "response", "data",
                                                      "cache", "finish"}));
  EXPECT_EQ(r->body, "got:abc");
  ASSERT_TRUE(r->response);
  EXPECT_EQ(r->response->statusCode(), 200);
  EXPECT_EQ(r->response->mimeType(), "text/plain");
  EXPECT_EQ(r->response->textEncodingName(), "utf-8");
  EXPECT_EQ(r->response->allHeaderFields().valueExact("ETag"), "\"v1\"");
  EXPECT_EQ(r->sent, 3);
  EXPECT_FALSE(r->offNetworkThread.load());
}

TEST(URLConnectionTest, FollowsRedirectsChangingMethodsAsBrowsersDo) {
  Server s;
  std::mutex m;
  std::vector<std::string> seen;
  s.server->Post("/see-other", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/target", 303); });
  s.server->Post("/found", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/target", 302); });
  s.server->Post("/temporary", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/target", 307); });
  auto target = [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(m);
    seen.push_back(req.method + " " + req.body);
    res.set_content("t", "text/plain");
  };
  s.server->Get("/target", target);
  s.server->Post("/target", target);
  s.start();
  for (const char* path : {"/see-other", "/found", "/temporary"}) {
    URLRequest req = get(s.url(path));
    req.setHTTPMethod("POST");
    req.setHTTPBody(fnd::Data{'x'});
    auto r = run(req);
    EXPECT_FALSE(r->error) << path;
    EXPECT_EQ(r->body, "t");
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"GET ", "GET ", "POST x"}));
}

TEST(URLConnectionTest, RefusedRedirectDeliversTheRedirectReply) {
  Server s;
  s.server->Get("/old", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/new", 301);
    res.set_content("moved", "text/plain");
  });
  s.server->Get("/new", [&](const httplib::Request&, httplib::Response&) { ++s.requests; });
  s.start();
  auto r = std::make_shared<Recorder>();
  r->refuseRedirects = true;
  run(get(s.url("/old")), r);
  ASSERT_TRUE(r->response);
  EXPECT_EQ(r->response->statusCode(), 301);
  EXPECT_EQ(r->body, "moved");
  EXPECT_EQ(s.requests.load(), 0);
  ASSERT_FALSE(r->snapshot().empty());
  EXPECT_EQ(r->snapshot().front(), "willSend");
  EXPECT_EQ(r->snapshot().at(2), "redirect 301");
}

TEST(URLConnectionTest, CredentialsNeverFollowARedirectToAnotherOrigin) {
  Server other;
  std::string authSeen = "unset";
  other.server->Get("/landing", [&](const httplib::Request& req, httplib::Response& res) {
    authSeen = req.get_header_value("Authorization");
    res.set_content("ok", "text/plain");
  });
  other.start();
  Server s;
  s.server->Get("/go", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(other.url("/landing"), 302);
  });
  s.start();
  URLRequest req = get(s.url("/go"));
  req.setValueForHTTPHeaderField("Bearer secret", "Authorization");
  auto r = run(req);
  EXPECT_FALSE(r->error);
  EXPECT_EQ(r->body, "ok");
  EXPECT_EQ(authSeen, "");
}

TEST(URLConnectionTest, AnswersBasicAuthenticationFromTheURLOverTLS) {
  test::TrustTestCA ca;
  Server s(&test::testPKI().localhost);
  s.server->Get("/private", [](const httplib::Request& req, httplib::Response& res) {
    if (req.get_header_value("Authorization") != "Basic YW5uQHgub3JnOnBhIHNz") {
      test::askForBasicAuth(res, "api");
      res.set_content("denied", "text/plain");
      return;
    }
    res.set_content("welcome", "text/plain");
  });
  s.start();
  auto r = run(get(withUserInfo(s.url("/private"), "ann%40x.org:pa%20ss")));
  EXPECT_FALSE(r->error);
  EXPECT_EQ(r->body, "welcome");
  auto events = r->snapshot();
  EXPECT_EQ(std::count(events.begin(), events.end(), "auth"), 0) << "user-info is tried before the delegate";

  // Wrong credentials: the delegate hears of the failure and the 401 is the answer.
  auto bad = std::make_shared<Recorder>();
  bad->authAnswer = [](AuthenticationChallenge& c) { c.continueWithoutCredential(); };
  run(get(withUserInfo(s.url("/private"), "ann%40x.org:nope")), bad);
  EXPECT_FALSE(bad->error);
  ASSERT_TRUE(bad->response);
  EXPECT_EQ(bad->response->statusCode(), 401);
  EXPECT_EQ(bad->body, "denied");
  ASSERT_FALSE(bad->failureCounts.empty());
  EXPECT_EQ(bad->failureCounts.back(), 1);

  // Cancelling the challenge fails the connection.
  auto cancel = std::make_shared<Recorder>();
  cancel->authAnswer = [](AuthenticationChallenge& c) { c.cancel(); };
  run(get(s.url("/private")), cancel);
  ASSERT_TRUE(cancel->error);
  EXPECT_EQ(cancel->error->code(), urlerror::UserCancelledAuthentication);
}

TEST(URLConnectionTest, PlainHTTPNeverSendsURLCredentials) {
  Server s;
  std::string authSeen = "unset";
  s.server->Get("/private", [&](const httplib::Request& req, httplib::Response& res) {
    authSeen = req.get_header_value("Authorization");
    test::askForBasicAuth(res, "api");
  });
  s.start();
  auto r = run(get(withUserInfo(s.url("/private"), "ann:secret")));
  ASSERT_TRUE(r->response);
  EXPECT_EQ(r->response->statusCode(), 401);
  EXPECT_EQ(authSeen, "");
}

TEST(URLConnectionTest, RefusesBadCertificatesBeforeAnyRequestByte) {
  test::TrustTestCA ca;
  const auto& pki = test::testPKI();
  for (const test::TestIdentity* id : {&pki.wrongHost, &pki.selfSigned, &pki.expired}) {
    Server s(id);
    s.server->Get("/", [&](const httplib::Request&, httplib::Response& res) {
      ++s.requests;
      res.set_content("secret", "text/plain");
    });
    s.start();
    auto r = run(get(s.url("/")));
    ASSERT_TRUE(r->error) << id->certPath;
    EXPECT_EQ(r->error->code(), urlerror::ServerCertificateUntrusted);
    EXPECT_EQ(s.requests.load(), 0) << id->certPath;
    auto events = r->snapshot();
    EXPECT_EQ(std::count(events.begin(), events.end(), "response"), 0);
  }
}

TEST(URLConnectionTest, TrustDelegateCanAcceptOrCancel) {
  const auto& pki = test::testPKI();
  Server s(&pki.selfSigned);
  s.server->Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("hi", "text/plain"); });
  s.start();
  auto accept = std::make_shared<Recorder>();
  std::vector<Certificate> chain;
  accept->trustAnswer = [&](AuthenticationChallenge& c) {
    chain = c.protectionSpace().serverTrust->certificateChain();
    c.useCredential(URLCredential::forTrust(c.protectionSpace().serverTrust));
  };
  run(get(s.url("/")), accept);
  EXPECT_FALSE(accept->error);
  EXPECT_EQ(accept->body, "hi");
  ASSERT_EQ(chain.size(), 1u);
  EXPECT_EQ(chain[0], Certificate::fromPEM(pki.selfSigned.certPEM).at(0));
  EXPECT_EQ(accept->snapshot().at(2), "trust");

  Server s2(&pki.localhost);
  s2.server->Get("/", [&](const httplib::Request&, httplib::Response&) { ++s2.requests; });
  s2.start();
  test::TrustTestCA ca;
  auto cancel = std::make_shared<Recorder>();
  cancel->trustAnswer = [](AuthenticationChallenge& c) { c.cancel(); };
  run(get(s2.url("/")), cancel);
  ASSERT_TRUE(cancel->error);
  EXPECT_EQ(cancel->error->code(), urlerror::UserCancelledAuthentication);
  EXPECT_EQ(s2.requests.load(), 0);
}

TEST(URLConnectionTest, TransportFailuresMapToURLErrors) {
  // Nothing listens on a port we just closed.
  int closedPort;
  int fd = test::bindLoopbackSocket(closedPort);
  ASSERT_GE(fd, 0);
  ::close(fd);
  auto refused = run(get("http://127.0.0.1:" + std::to_string(closedPort) + "/"));
  ASSERT_TRUE(refused->error);
  EXPECT_EQ(refused->error->code(), urlerror::CannotConnectToHost);

  Server s;
  s.server->Get("/slow", [&s](const httplib::Request&, httplib::Response& res) {
    s.held.wait();  // answers only once the test is over: the time-out always comes first
    res.set_content("late", "text/plain");
  });
  s.server->Get("/drop", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "text/plain", [](size_t offset, size_t, httplib::DataSink& sink) {
      if (offset > 0) return false;  // gives up after the first chunk: the connection closes
      sink.write("0123456789", 10);
      return true;
    });
  });
  s.start();
  URLRequest slow = get(s.url("/slow"));
  slow.setTimeoutInterval(0.3);
  auto timedOut = run(slow);
  ASSERT_TRUE(timedOut->error);
  EXPECT_EQ(timedOut->error->code(), urlerror::TimedOut);

  auto dropped = run(get(s.url("/drop")));
  ASSERT_TRUE(dropped->error);
  EXPECT_EQ(dropped->error->code(), urlerror::NetworkConnectionLost);

  auto unsupported = run(get("ftp://127.0.0.1/x"));
  ASSERT_TRUE(unsupported->error);
  EXPECT_EQ(unsupported->error->code(), urlerror::UnsupportedURL);
}

// A delegate with a fault: it throws from the callback it is told to.
class ThrowingRecorder : public Recorder {
 public:
  explicit ThrowingRecorder(std::string where, bool alsoOnFailure = false)
      : where_(std::move(where)), alsoOnFailure_(alsoOnFailure) {}
  std::optional<URLRequest> connectionWillSendRequest(URLConnection& c, const URLRequest& request,
                                                      const HTTPURLResponse* redirect) override {
    auto next = Recorder::connectionWillSendRequest(c, request, redirect);
    if (where_ == "willSend") throw std::runtime_error("delegate fault");
    return next;
  }
  void connectionDidReceiveResponse(URLConnection& c, std::shared_ptr<const URLResponse> r) override {
    Recorder::connectionDidReceiveResponse(c, std::move(r));
    if (where_ == "response") throw std::runtime_error("delegate fault");
  }
  void connectionDidReceiveData(URLConnection& c, const std::uint8_t* bytes, std::size_t length) override {
    Recorder::connectionDidReceiveData(c, bytes, length);
    if (where_ == "data") throw 7;  // not even a std::exception
  }
  void connectionDidFailWithError(URLConnection& c, const fnd::Error& e) override {
    Recorder::connectionDidFailWithError(c, e);
    if (alsoOnFailure_) throw std::runtime_error("fault while failing");
  }

 private:
  std::string where_;
  bool alsoOnFailure_;
};

TEST(URLConnectionTest, ADelegateThatThrowsFailsItsConnectionOnly) {
  Server s;
  s.server->Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("hello", "text/plain"); });
  s.start();
  for (const char* where : {"willSend", "response", "data"}) {
    auto r = run(URLRequest(*URL::fromString(s.url("/"))), std::make_shared<ThrowingRecorder>(where));
    ASSERT_TRUE(r->error) << where;
    EXPECT_EQ(r->error->code(), urlerror::Unknown) << where;
    auto events = r->snapshot();
    EXPECT_EQ(std::count(events.begin(), events.end(), "fail"), 1) << where;
    EXPECT_EQ(std::count(events.begin(), events.end(), "finish"), 0) << where;
  }

  // Throwing again while told of the failure ends it quietly; nothing more arrives.
  auto twice = std::make_shared<ThrowingRecorder>("response", true);
  auto c = URLConnection::make(URLRequest(*URL::fromString(s.url("/"))), twice);
  std::weak_ptr<URLConnection> weak = c;
  c->start();
  c.reset();
  ASSERT_TRUE(twice->wait());
  EXPECT_TRUE(test::runUntil([&] { return weak.expired(); }, 5)) << "the connection stops holding itself";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto events = twice->snapshot();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "fail");

  // The network thread carries on.
  auto after = run(URLRequest(*URL::fromString(s.url("/"))));
  EXPECT_FALSE(after->error);
  EXPECT_EQ(after->body, "hello");
}

TEST(URLConnectionTest, InflatesGzipBodies) {
  Server s;
  std::string big(20000, 'z');
  s.server->Get("/z", [&](const httplib::Request& req, httplib::Response& res) {
    res.set_content(big, "text/plain");  // compressed by the server when asked
  });
  s.start();
  auto r = run(get(s.url("/z")));
  EXPECT_FALSE(r->error);
  EXPECT_EQ(r->body, big);
  auto encoding = r->response->allHeaderFields().value("Content-Encoding");
  ASSERT_TRUE(encoding);
  EXPECT_NE(*encoding, "identity");
  EXPECT_EQ(r->response->expectedContentLength(), -1);
}

TEST(URLConnectionTest, CancelStopsEveryCallback) {
  Server s;
  s.server->Get("/stream", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
      std::string chunk(4096, 'c');
      sink.write(chunk.data(), chunk.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return true;
    });
  });
  s.start();
  auto r = std::make_shared<Recorder>();
  r->cancelOnData = true;
  URLRequest req = get(s.url("/stream"));
  req.setValueForHTTPHeaderField("identity", "Accept-Encoding");  // chunks arrive as written
  run(req, r);
  test::spin(0.3);
  auto events = r->snapshot();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "data");
  EXPECT_EQ(std::count(events.begin(), events.end(), "fail"), 0);
  EXPECT_EQ(std::count(events.begin(), events.end(), "finish"), 0);
}

namespace {
// Fails after handing out some bytes.
class BrokenStream : public InputStream {
 public:
  void open() override { status_ = StreamStatus::Open; }
  void close() override {}
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t max) override {
    if (given_ >= 100) {
      status_ = StreamStatus::Error;
      return -1;
    }
    std::size_t n = std::min<std::size_t>(max, 100 - given_);
    std::memset(buffer, 'b', n);
    given_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  bool hasBytesAvailable() const override { return status_ == StreamStatus::Open; }
  StreamStatus status() const override { return status_; }
  std::optional<fnd::Error> error() const override {
    return fnd::Error(fnd::kPOSIXErrorDomain, EIO, {{fnd::kLocalizedDescriptionKey, std::string("disk gone")}});
  }
  std::optional<std::int64_t> length() const override { return 1000; }

 private:
  StreamStatus status_ = StreamStatus::NotOpen;
  std::size_t given_ = 0;
};
}  // namespace

TEST(URLConnectionTest, BodyStreamsUploadAndAFailingStreamFailsTheRequest) {
  Server s;
  std::atomic<std::size_t> received{0};
  s.server->Post("/up", [&](const httplib::Request& req, httplib::Response& res) {
    received = req.body.size();
    ++s.requests;
    res.set_content("ok", "text/plain");
  });
  s.start();
  URLRequest good = get(s.url("/up"));
  good.setHTTPMethod("POST");
  good.setHTTPBodyStream(makeDataInputStream(fnd::Data(300000, 'q')));
  auto r = run(good);
  EXPECT_FALSE(r->error);
  EXPECT_EQ(received.load(), 300000u);

  URLRequest bad = get(s.url("/up"));
  bad.setHTTPMethod("POST");
  bad.setHTTPBodyStream(std::make_shared<BrokenStream>());
  auto failed = run(bad);
  ASSERT_TRUE(failed->error);
  EXPECT_EQ(failed->error->domain(), fnd::kPOSIXErrorDomain);
  EXPECT_EQ(s.requests.load(), 1) << "the server never saw a complete second request";
}

TEST(URLConnectionTest, SynchronousRequestsWaitAndCapTheBody) {
  Server s;
  s.server->Get("/b", [](const httplib::Request&, httplib::Response& res) { res.set_content(std::string(5000, 'x'), "text/plain"); });
  s.start();
  std::shared_ptr<const URLResponse> response;
  fnd::Error error;
  auto body = URLConnection::sendSynchronousRequest(get(s.url("/b")), &response, &error);
  ASSERT_TRUE(body);
  EXPECT_EQ(body->size(), 5000u);
  ASSERT_TRUE(response);
  auto capped = URLConnection::sendSynchronousRequest(get(s.url("/b")), nullptr, &error, 1000);
  EXPECT_FALSE(capped);
  EXPECT_EQ(error.code(), urlerror::DataLengthExceedsMaximum);
}

TEST(URLConnectionTest, EveryRequestOnAPooledTLSConnectionIsJudged) {
  test::TrustTestCA ca;
  Server s(&test::testPKI().localhost);
  s.server->set_keep_alive_max_count(5);  // the connection is pooled and reused
  s.server->Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  s.start();
  for (int i = 0; i < 2; ++i) {
    auto r = run(get(s.url("/")));
    EXPECT_FALSE(r->error);
    auto events = r->snapshot();
    EXPECT_EQ(std::count(events.begin(), events.end(), "trust"), 1) << "request " << i;
  }
  // A delegate that refuses the reused connection still stops the exchange.
  auto refuse = std::make_shared<Recorder>();
  refuse->trustAnswer = [](AuthenticationChallenge& c) { c.cancel(); };
  run(get(s.url("/")), refuse);
  ASSERT_TRUE(refuse->error);
  EXPECT_EQ(refuse->error->code(), urlerror::UserCancelledAuthentication);
  EXPECT_TRUE(refuse->body.empty());
}

namespace {
// Cancels from inside one chosen callback, with nobody but the connection holding it or its
// delegate: the cancel releases the last reference while the callback is still running.
class CancellingDelegate final : public URLConnectionDelegate {
 public:
  struct Seen {
    std::atomic<int> callbacksAfterCancel{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> destroyed{false};
  };
  CancellingDelegate(std::string at, std::shared_ptr<Seen> seen) : at_(std::move(at)), seen_(std::move(seen)) {}
  ~CancellingDelegate() override { seen_->destroyed = true; }

  std::optional<URLRequest> connectionWillSendRequest(URLConnection& c, const URLRequest& request,
                                                      const HTTPURLResponse* redirect) override {
    step(c, redirect ? "redirect" : "");
    return request;
  }
  void connectionWillSendRequestForAuthenticationChallenge(URLConnection& c, AuthenticationChallenge&) override {
    step(c, "challenge");
  }
  void connectionDidReceiveResponse(URLConnection& c, std::shared_ptr<const URLResponse>) override { step(c, "response"); }
  void connectionDidReceiveData(URLConnection& c, const std::uint8_t*, std::size_t) override { step(c, "data"); }
  void connectionDidFinishLoading(URLConnection& c) override { step(c, "finish"); }
  void connectionDidFailWithError(URLConnection& c, const fnd::Error&) override { step(c, "fail"); }

 private:
  void step(URLConnection& c, const std::string& name) {
    if (seen_->cancelled) ++seen_->callbacksAfterCancel;
    if (name != at_) return;
    seen_->cancelled = true;
    c.cancel();
    // What a delegate typically does next: report where the failed request went.
    (void)c.originalRequest().url().absoluteString();
  }
  std::string at_;
  std::shared_ptr<Seen> seen_;
};
}  // namespace

TEST(URLConnectionTest, ADelegateMayCancelAndReleaseTheLastReferenceFromAnyCallback) {
  Server s;
  const std::string big(3 << 20, 'x');
  s.server->Get("/big", [&](const httplib::Request&, httplib::Response& res) { res.set_content(big, "text/plain"); });
  s.server->Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/big"); });
  s.server->Get("/locked", [](const httplib::Request&, httplib::Response& res) {
    test::askForBasicAuth(res, "r");
    res.set_content(std::string(200000, 'u'), "text/plain");
  });
  s.start();

  struct Case {
    const char* at;
    const char* path;
  };
  for (Case k : {Case{"data", "/big"}, Case{"response", "/big"}, Case{"redirect", "/moved"},
                 Case{"challenge", "/locked"}}) {
    SCOPED_TRACE(k.at);
    auto seen = std::make_shared<CancellingDelegate::Seen>();
    URLRequest req = get(s.url(k.path));
    req.setValueForHTTPHeaderField("identity", "Accept-Encoding");
    std::weak_ptr<URLConnection> weak;
    {
      auto c = URLConnection::make(req, std::make_shared<CancellingDelegate>(k.at, seen));
      weak = c;
      c->start();
    }
    ASSERT_TRUE(test::runUntil([&] { return seen->destroyed.load(); }, 10));
    EXPECT_TRUE(seen->cancelled);
    EXPECT_TRUE(weak.expired());
    test::spin(0.1);
    EXPECT_EQ(seen->callbacksAfterCancel, 0);
  }
}

TEST(URLConnectionTest, AConnectionCancelledBeforeItBeganLetsGoOfItselfAndItsDelegate) {
  // start() hands its work to the network thread; a cancel() that runs there first must leave
  // nothing holding the connection when that work comes.
  struct Quiet final : URLConnectionDelegate {};
  std::weak_ptr<URLConnection> weakConnection;
  std::weak_ptr<URLConnectionDelegate> weakDelegate;
  std::atomic<bool> done{false};
  URLConnection::performOnNetworkThread([&] {
    auto delegate = std::make_shared<Quiet>();
    auto c = URLConnection::make(URLRequest(*URL::fromString("http://127.0.0.1:9/")), delegate);
    weakConnection = c;
    weakDelegate = delegate;
    c->start();
    c->cancel();
    done = true;
  });
  ASSERT_TRUE(test::runUntil([&] { return done.load(); }, 10));
  EXPECT_TRUE(test::runUntil([&] { return weakConnection.expired() && weakDelegate.expired(); }, 10));
}
