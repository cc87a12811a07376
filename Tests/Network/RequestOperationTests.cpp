#include "Network/NetHTTPRequestOperation.h"
#include "Network/NetHTTPRequestOperationManager.h"
#include "Network/NetMultipartFormData.h"
#include "Network/NetNetworking.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/XmlDocument.h"
#include "Platform/Net/ServerTrust.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLError.h"

#include "Harness/TestSupport.h"
#include "LoopbackServer.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kesto;

namespace {

using Server = test::LoopbackServer;

struct Outcome {
  int successes = 0;
  int failures = 0;
  bool onMain = true;
  fnd::Value object;
  std::optional<fnd::Error> error;
  std::shared_ptr<NetHTTPRequestOperation> op;
  bool hadOperation = true;

  // Notes a callback: the operation it came with, and whether it came on the main thread.
  void calledWith(const std::shared_ptr<NetHTTPRequestOperation>& by) {
    onMain = onMain && fnd::RunLoop::isMainThread();
    op = by;
  }
};

NetHTTPRequestOperation::Success recordSuccess(Outcome& o) {
  return [&o](const std::shared_ptr<NetHTTPRequestOperation>& op, const fnd::Value& object) {
    ++o.successes;
    o.object = object;
    o.calledWith(op);
  };
}
NetHTTPRequestOperation::Failure recordFailure(Outcome& o) {
  return [&o](const std::shared_ptr<NetHTTPRequestOperation>& op, const fnd::Error& e) {
    ++o.failures;
    o.error = e;
    o.calledWith(op);
    o.hadOperation = op != nullptr;
  };
}
bool ended(const Outcome& o) { return o.successes + o.failures > 0; }

// An operation that GETs `url`, its completion recorded in `o`.
std::shared_ptr<NetHTTPRequestOperation> recordedGET(const std::string& url, Outcome& o) {
  auto op = NetHTTPRequestOperation::make(net::URLRequest(*net::URL::fromString(url)));
  op->setCompletionBlockWithSuccess(recordSuccess(o), recordFailure(o));
  return op;
}

// A manager that parses its answers as XML documents.
std::shared_ptr<NetHTTPRequestOperationManager> xmlManager() {
  auto manager = NetHTTPRequestOperationManager::manager();
  manager->setResponseSerializer(NetXMLDocumentResponseSerializer::serializer());
  return manager;
}

// The same, answering challenges as `user` with `password`.
std::shared_ptr<NetHTTPRequestOperationManager> xmlManagerSignedInAs(const std::string& user,
                                                                      const std::string& password) {
  auto manager = xmlManager();
  manager->setCredential(net::URLCredential::withUser(user, password));
  return manager;
}

// GETs `url` without parameters and runs the event loop until `o` heard the end (10 s at most);
// answers whether it did.
bool getUntilEnded(NetHTTPRequestOperationManager& manager, const std::string& url, Outcome& o) {
  manager.GET(url, std::nullopt, recordSuccess(o), recordFailure(o));
  return test::runUntil([&] { return ended(o); }, 10);
}

const std::string kPosts = "<?xml version=\"1.0\"?><posts user=\"ann\"><post href=\"http://a/\" description=\"A\"/></posts>";

}  // namespace

TEST(RequestOperationManagerTest, GETWithXMLSerializerCallsSuccessOnceOnMain) {
  Server s;
  std::string seenQuery, seenAuth = "unset";
  s.server->Get("/v1/posts/all", [&](const httplib::Request& req, httplib::Response& res) {
    seenQuery = req.get_param_value("results") + "," + req.get_param_value("tag");
    seenAuth = req.get_header_value("Authorization");
    res.set_content(kPosts, "text/xml; charset=utf-8");
  });
  s.start();
  Outcome o;
  {
    // The manager is dropped at once, as the service clients do; the request still runs.
    auto manager = xmlManager();
    fnd::Dictionary params{{"results", 100000}, {"tag", "a b"}};
    ASSERT_TRUE(manager->GET(s.url("/v1/posts/all"), fnd::Value(params), recordSuccess(o), recordFailure(o)));
  }
  ASSERT_TRUE(test::runUntil([&] { return ended(o); }, 10));
  test::spin(0.1);
  EXPECT_EQ(o.successes, 1);
  EXPECT_EQ(o.failures, 0);
  EXPECT_TRUE(o.onMain);
  EXPECT_EQ(seenQuery, "100000,a b");
  EXPECT_EQ(seenAuth, "");
  ASSERT_TRUE(o.object.objectAs<fnd::XmlDocument>());
  ASSERT_TRUE(o.op->responseData());
  EXPECT_EQ(std::string(o.op->responseData()->begin(), o.op->responseData()->end()), kPosts);
  EXPECT_EQ(o.op->responseString(), kPosts);
}

TEST(RequestOperationManagerTest, POSTSendsAFormBody) {
  Server s;
  std::string body, type;
  s.server->Post("/load", [&](const httplib::Request& req, httplib::Response& res) {
    body = req.body;
    type = req.get_header_value("Content-Type");
    res.set_content("<ok/>", "application/xml");
  });
  s.start();
  Outcome o;
  auto manager = xmlManager();
  manager->POST(s.url("/load"), fnd::Value(fnd::Dictionary{{"user[email]", "a@b.c"}, {"user[password]", "p&w"}}),
                recordSuccess(o), recordFailure(o));
  ASSERT_TRUE(test::runUntil([&] { return ended(o); }, 10));
  EXPECT_EQ(o.successes, 1);
  EXPECT_EQ(body, "user[email]=a%40b.c&user[password]=p%26w");
  EXPECT_EQ(type, "application/x-www-form-urlencoded");
}

TEST(RequestOperationManagerTest, RejectedRepliesAndTransportErrorsReachTheFailureBlock) {
  Server s;
  s.server->Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("<error/>", "text/xml");
  });
  s.server->Get("/html", [](const httplib::Request&, httplib::Response& res) { res.set_content("<p>", "text/html"); });
  s.start();
  auto manager = xmlManager();

  Outcome missing;
  ASSERT_TRUE(getUntilEnded(*manager, s.url("/missing"), missing));
  EXPECT_EQ(missing.failures, 1);
  EXPECT_EQ(missing.error->code(), net::urlerror::BadServerResponse);
  EXPECT_EQ(missing.error->localizedDescription(), "Request failed: not found (404)");
  EXPECT_EQ(std::string(missing.op->responseData()->begin(), missing.op->responseData()->end()), "<error/>");

  Outcome html;
  ASSERT_TRUE(getUntilEnded(*manager, s.url("/html"), html));
  EXPECT_EQ(html.error->localizedDescription(), "Request failed: unacceptable content-type: text/html");

  Outcome bad;
  EXPECT_FALSE(manager->GET("http://exa mple/", std::nullopt, recordSuccess(bad), recordFailure(bad)));
  ASSERT_TRUE(test::runUntil([&] { return ended(bad); }, 5));
  EXPECT_FALSE(bad.hadOperation);
  EXPECT_EQ(bad.error->code(), net::urlerror::BadURL);
}

TEST(RequestOperationManagerTest, UntrustedServersFailBeforeAnyRequest) {
  test::TrustTestCA ca;
  Server good(&test::testPKI().localhost);
  good.server->Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("<a/>", "text/xml"); });
  good.start();
  Server wrong(&test::testPKI().wrongHost);
  wrong.server->Get("/", [&](const httplib::Request&, httplib::Response&) { ++wrong.requests; });
  wrong.start();

  auto manager = xmlManager();
  Outcome ok, refused;
  manager->GET(good.url("/"), std::nullopt, recordSuccess(ok), recordFailure(ok));
  manager->GET(wrong.url("/"), std::nullopt, recordSuccess(refused), recordFailure(refused));
  ASSERT_TRUE(test::runUntil([&] { return ended(ok) && ended(refused); }, 10));
  EXPECT_EQ(ok.successes, 1);
  EXPECT_EQ(refused.failures, 1);
  EXPECT_EQ(refused.error->domain(), fnd::kURLErrorDomain);
  EXPECT_EQ(wrong.requests.load(), 0);
}

TEST(RequestOperationManagerTest, MultipartBodiesParseOnTheServer) {
  Server s;
  std::map<std::string, std::string> fields;
  std::string fileName, length;
  s.server->Post("/upload", [&](const httplib::Request& req, httplib::Response& res) {
    for (const auto& [name, file] : req.files) fields[name] = file.content;
    fileName = req.get_file_value("doc").filename;
    length = req.get_header_value("Content-Length");
    res.set_content("{}", "application/json");
  });
  s.start();
  std::string dir = test::makeTempDir();
  test::writeFile(dir + "/notes.txt", "file text");
  Outcome o;
  auto manager = NetHTTPRequestOperationManager::manager();
  manager->POST(s.url("/upload"), fnd::Value(fnd::Dictionary{{"title", "T"}, {"tags", fnd::Array{"a", "b"}}}),
                [&](NetMultipartFormData& form) {
                  fnd::Error e;
                  form.appendPartWithFileURL(net::URL::fileURL(dir + "/notes.txt"), "doc", &e);
                },
                recordSuccess(o), recordFailure(o));
  ASSERT_TRUE(test::runUntil([&] { return ended(o); }, 10));
  EXPECT_EQ(o.successes, 1);
  EXPECT_EQ(fields["title"], "T");
  EXPECT_EQ(fields["doc"], "file text");
  EXPECT_EQ(fileName, "notes.txt");
  EXPECT_FALSE(length.empty());
}

TEST(RequestOperationTest, StartAndFinishNotificationsOnMain) {
  Server s;
  s.server->Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("x", "text/plain"); });
  s.start();
  Outcome o;
  auto op = recordedGET(s.url("/"), o);
  // This operation's only: one an earlier test left running may still announce its end.
  std::vector<fnd::NotificationName> names;
  bool allMain = true;
  fnd::ScopedObserver observer;
  for (auto name : {kNetOperationDidStartNotification, kNetOperationDidFinishNotification})
    observer.observe(
        name,
        [&](const fnd::Notification& n) {
          names.push_back(n.name);
          allMain = allMain && fnd::RunLoop::isMainThread();
        },
        static_cast<const fnd::Operation*>(op.get()));
  fnd::OperationQueue queue;
  queue.addOperation(op);
  ASSERT_TRUE(test::runUntil([&] { return ended(o) && names.size() == 2; }, 10));
  EXPECT_EQ(names, (std::vector<fnd::NotificationName>{kNetOperationDidStartNotification, kNetOperationDidFinishNotification}));
  EXPECT_TRUE(allMain);
  EXPECT_EQ(o.successes, 1);
  EXPECT_EQ(op->totalBytesRead(), 1);
}

TEST(RequestOperationTest, CancellationFinishesWithCancelledError) {
  Server s;
  s.server->Get("/slow", [&s](const httplib::Request&, httplib::Response& res) {
    s.held.wait();  // answers only once the test is over: each cancel meets a running request
    res.set_content("late", "text/plain");
  });
  s.start();
  fnd::OperationQueue queue;

  // Cancelled before it starts.
  Outcome e;
  auto early = recordedGET(s.url("/slow"), e);
  early->cancel();
  queue.addOperation(early);
  ASSERT_TRUE(test::runUntil([&] { return ended(e); }, 10));
  EXPECT_EQ(e.error->code(), net::urlerror::Cancelled);
  EXPECT_EQ(e.error->userInfo().at(fnd::kURLErrorKey).string(), s.url("/slow"));

  // Cancelled while running.
  Outcome r;
  auto running = recordedGET(s.url("/slow"), r);
  queue.addOperation(running);
  ASSERT_TRUE(test::runUntil([&] { return running->isExecuting(); }, 5));
  running->cancel();
  ASSERT_TRUE(test::runUntil([&] { return ended(r); }, 10));
  EXPECT_EQ(r.failures, 1);
  EXPECT_EQ(r.error->code(), net::urlerror::Cancelled);

  // Cancelled while paused: it still finishes, and its block runs once.
  Outcome p;
  auto paused = recordedGET(s.url("/slow"), p);
  queue.addOperation(paused);
  ASSERT_TRUE(test::runUntil([&] { return paused->isExecuting(); }, 5));
  paused->pause();
  EXPECT_TRUE(paused->isPaused());
  paused->cancel();
  ASSERT_TRUE(test::runUntil([&] { return ended(p); }, 10));
  test::spin(0.2);
  EXPECT_TRUE(paused->isFinished());
  EXPECT_EQ(p.failures, 1);
  EXPECT_EQ(p.successes, 0);
  EXPECT_EQ(p.error->code(), net::urlerror::Cancelled);
  EXPECT_EQ(queue.operationCount(), 0u);
}

namespace {
// Serves a body that stops half way until the test opens `s.held`, honouring Range or not.
void serveResumable(Server& s, const std::string& body, bool honourRange, std::atomic<bool>& halfSent) {
  s.server->Get("/file", [&s, body, honourRange, &halfSent](const httplib::Request& req, httplib::Response& res) {
    ++s.requests;
    res.set_header("ETag", "\"v1\"");
    if (honourRange && req.has_header("Range")) {
      res.set_content(body, "application/octet-stream");  // the server library answers 206
      return;
    }
    // Chunked, and with the parsed ranges dropped, so the server library cannot answer 206 on
    // its own: this is the server that ignores Range.
    const_cast<httplib::Request&>(req).ranges.clear();
    auto sent = std::make_shared<std::size_t>(0);
    res.set_chunked_content_provider("application/octet-stream",
                                     [&s, body, sent, &halfSent](size_t, httplib::DataSink& sink) {
                                       if (*sent == 0) {
                                         sink.write(body.data(), body.size() / 2);
                                         *sent = body.size() / 2;
                                         halfSent = true;
                                         return true;
                                       }
                                       if (*sent < body.size()) {
                                         s.held.wait();
                                         sink.write(body.data() + *sent, body.size() - *sent);
                                         *sent = body.size();
                                         return true;
                                       }
                                       sink.done();
                                       return true;
                                     });
  });
}

std::string resumeAgainst(bool honourRange, Outcome& o, std::string& rangeSeen) {
  Server s;
  std::string body(20000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
  std::atomic<bool> halfSent{false};
  serveResumable(s, body, honourRange, halfSent);
  s.start();
  auto op = recordedGET(s.url("/file"), o);
  fnd::OperationQueue queue;
  queue.addOperation(op);
  EXPECT_TRUE(test::runUntil([&] { return halfSent.load() && op->totalBytesRead() >= 10000; }, 10));
  op->pause();
  s.held.open();  // the rest comes only to a paused operation
  test::spin(0.1);
  rangeSeen = op->request().valueForHTTPHeaderField("Range").value_or("") + "|" +
              op->request().valueForHTTPHeaderField("If-Range").value_or("");
  op->resume();
  EXPECT_TRUE(test::runUntil([&] { return ended(o); }, 10));
  EXPECT_EQ(s.requests.load(), 2);
  auto data = op->responseData();
  std::string got = data ? std::string(data->begin(), data->end()) : std::string();
  EXPECT_TRUE(got == body) << got.size() << " bytes, error: " << (o.error ? o.error->description() : "none");
  return got;
}
}  // namespace

TEST(RequestOperationTest, RangeResumeAppendsOnlyAMatchingPartialReply) {
  Outcome honoured;
  std::string range;
  resumeAgainst(true, honoured, range);
  EXPECT_EQ(honoured.successes, 1);
  EXPECT_EQ(range, "bytes=10000-|\"v1\"");

  // A server that ignores Range sends everything again: it replaces the partial body.
  Outcome ignored;
  resumeAgainst(false, ignored, range);
  EXPECT_EQ(ignored.successes, 1);
}

TEST(RequestOperationTest, OversizedRepliesFailInsteadOfExhaustingMemory) {
  Server s;
  s.server->Get("/big", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(100000, 'b'), "application/octet-stream");
  });
  s.start();
  auto op = NetHTTPRequestOperation::make(net::URLRequest(*net::URL::fromString(s.url("/big"))));
  op->setMaximumResponseSize(50000);
  Outcome o;
  op->setCompletionBlockWithSuccess(recordSuccess(o), recordFailure(o));
  fnd::OperationQueue queue;
  queue.addOperation(op);
  ASSERT_TRUE(test::runUntil([&] { return ended(o); }, 10));
  EXPECT_EQ(o.failures, 1);
  EXPECT_FALSE(op->responseData());
}

TEST(RequestOperationTest, SerializerReplacementParsesAgain) {
  Server s;
  s.server->Get("/j", [](const httplib::Request&, httplib::Response& res) { res.set_content("{\"a\":1}", "application/json"); });
  s.start();
  Outcome o;
  auto op = recordedGET(s.url("/j"), o);
  fnd::OperationQueue queue;
  queue.addOperation(op);
  ASSERT_TRUE(test::runUntil([&] { return ended(o); }, 10));
  EXPECT_TRUE(o.object.isData());
  op->setResponseSerializer(NetJSONResponseSerializer::serializer());
  EXPECT_EQ(op->responseObject()["a"].intValue(), 1);
  op->setResponseSerializer(NetXMLDocumentResponseSerializer::serializer());
  EXPECT_TRUE(op->responseObject().isNull());
  ASSERT_TRUE(op->error());
  EXPECT_EQ(op->error()->code(), net::urlerror::CannotDecodeContentData);
}

TEST(RequestOperationTest, BatchesCompleteOnceAfterEveryOperation) {
  Server s;
  s.server->Get("/x", [](const httplib::Request&, httplib::Response& res) { res.set_content("x", "text/plain"); });
  s.start();
  std::vector<std::shared_ptr<NetURLConnectionOperation>> ops;
  int ownBlocks = 0;
  for (int i = 0; i < 3; ++i) {
    auto op = NetHTTPRequestOperation::make(net::URLRequest(*net::URL::fromString(s.url("/x"))));
    op->setCompletionBlockWithSuccess([&](const auto&, const fnd::Value&) { ++ownBlocks; }, nullptr);
    ops.push_back(op);
  }
  std::vector<std::size_t> progress;
  int completions = 0;
  int blocksSeenAtCompletion = -1;
  auto batch = NetURLConnectionOperation::batchOfRequestOperations(
      ops, [&](std::size_t done, std::size_t total) { progress.push_back(done * 10 + total); },
      [&](const auto& all) {
        ++completions;
        blocksSeenAtCompletion = ownBlocks;
        EXPECT_EQ(all.size(), 3u);
      });
  ASSERT_EQ(batch.size(), 4u);
  fnd::OperationQueue queue;
  queue.addOperations(batch, false);
  ASSERT_TRUE(test::runUntil([&] { return completions == 1; }, 10));
  test::spin(0.2);
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(blocksSeenAtCompletion, 3);
  EXPECT_EQ(progress.size(), 3u);

  int empty = 0;
  auto none = NetURLConnectionOperation::batchOfRequestOperations({}, nullptr, [&](const auto& all) {
    EXPECT_TRUE(all.empty());
    ++empty;
  });
  ASSERT_EQ(none.size(), 1u);
  queue.addOperations(none, false);
  ASSERT_TRUE(test::runUntil([&] { return empty == 1; }, 5));
}

TEST(RequestOperationTest, ChallengesUseTheCredentialOnceThenGiveUp) {
  Server s;
  std::atomic<int> attempts{0};
  s.server->Get("/private", [&](const httplib::Request& req, httplib::Response& res) {
    ++attempts;
    if (req.get_header_value("Authorization") == "Basic dTpw") {  // u:p
      res.set_content("<ok/>", "text/xml");
      return;
    }
    test::askForBasicAuth(res, "r");
  });
  s.start();
  auto manager = xmlManagerSignedInAs("u", "p");
  Outcome good;
  ASSERT_TRUE(getUntilEnded(*manager, s.url("/private"), good));
  EXPECT_EQ(good.successes, 1);
  EXPECT_EQ(attempts.load(), 2);

  attempts = 0;
  manager->setCredential(net::URLCredential::withUser("u", "wrong"));
  Outcome bad;
  ASSERT_TRUE(getUntilEnded(*manager, s.url("/private"), bad));
  EXPECT_EQ(bad.failures, 1);
  // The empty body fails to parse too; the status error hangs beneath the parser's.
  ASSERT_TRUE(bad.error->underlyingError());
  EXPECT_EQ(bad.error->underlyingError()->localizedDescription(), "Request failed: unauthorized (401)");
  EXPECT_EQ(attempts.load(), 2) << "after one failure the operation continues without a credential";
}

TEST(RequestOperationTest, TheCredentialStaysWithTheOriginAsked) {
  Server other;
  std::atomic<int> offered{0}, attempts{0};
  other.server->Get("/private", [&](const httplib::Request& req, httplib::Response& res) {
    ++attempts;
    if (req.has_header("Authorization")) ++offered;
    test::askForBasicAuth(res, "r");
  });
  other.start();
  Server service;
  service.server->Get("/moved", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(other.url("/private"));
  });
  service.start();

  auto manager = xmlManagerSignedInAs("u", "p");
  Outcome o;
  ASSERT_TRUE(getUntilEnded(*manager, service.url("/moved"), o));
  EXPECT_EQ(o.failures, 1);
  EXPECT_EQ(attempts.load(), 1) << "the challenge of another origin is not answered";
  EXPECT_EQ(offered.load(), 0);
}

TEST(RequestSerializerFileTest, MultipartBodyIsWrittenToAFile) {
  NetHTTPRequestSerializer s;
  auto request = s.multipartFormRequestWithMethod("POST", "http://h/up", fnd::Value(fnd::Dictionary{{"a", "1"}}), nullptr);
  ASSERT_TRUE(request);
  std::string length = *request->valueForHTTPHeaderField("Content-Length");
  std::string path = test::makeTempDir() + "/body";
  bool called = false;
  bool failed = true;
  auto stripped = s.requestWithMultipartFormRequest(*request, path, [&](const fnd::Error* e) {
    called = true;
    failed = e != nullptr;
  });
  EXPECT_FALSE(stripped.httpBodyStream());
  ASSERT_TRUE(test::runUntil([&] { return called; }, 5));
  EXPECT_FALSE(failed);
  EXPECT_EQ(std::to_string(test::readFile(path).size()), length);

  called = false;
  auto again = s.multipartFormRequestWithMethod("POST", "http://h/up", fnd::Value(fnd::Dictionary{{"a", "1"}}), nullptr);
  s.requestWithMultipartFormRequest(*again, "/no/such/dir/body", [&](const fnd::Error* e) {
    called = true;
    failed = e != nullptr;
  });
  ASSERT_TRUE(test::runUntil([&] { return called; }, 5));
  EXPECT_TRUE(failed);
}

TEST(RequestOperationTest, ARangeReplyFromTheWrongOffsetIsRefused) {
  Server s;
  s.server->Get("/wrong", [](const httplib::Request& req, httplib::Response& res) {
    const_cast<httplib::Request&>(req).ranges.clear();
    res.status = 206;
    res.set_header("Content-Range", "bytes 0-9/10");
    res.set_content("0123456789", "application/octet-stream");
  });
  s.server->Get("/right", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("0123456789", "application/octet-stream");  // the server library answers the Range
  });
  s.start();
  for (const char* path : {"/wrong", "/right"}) {
    auto op = NetHTTPRequestOperation::make(net::URLRequest(*net::URL::fromString(s.url(path))));
    // Four bytes are already held, as after an earlier pause.
    auto stream = net::makeMemoryOutputStream();
    stream->open();
    const std::uint8_t held[] = {'0', '1', '2', '3'};
    stream->write(held, 4);
    op->setOutputStream(stream);
    op->pause();
    EXPECT_EQ(op->request().valueForHTTPHeaderField("Range"), "bytes=4-");
    Outcome o;
    op->setCompletionBlockWithSuccess(recordSuccess(o), recordFailure(o));
    op->resume();  // starts it, without a queue
    ASSERT_TRUE(test::runUntil([&] { return ended(o); }, 10)) << path;
    if (std::string(path) == "/wrong") {
      EXPECT_EQ(o.failures, 1);
      EXPECT_EQ(o.error->code(), net::urlerror::BadServerResponse);
    } else {
      EXPECT_EQ(o.successes, 1);
      auto data = op->responseData();
      ASSERT_TRUE(data);
      EXPECT_EQ(std::string(data->begin(), data->end()), "0123456789");
    }
  }
}
