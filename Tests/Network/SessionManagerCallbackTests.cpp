// The session manager's callback blocks, adopted tasks, upload progress handlers, resumed
// downloads, description, archiving and copying; the HTTP session manager's task building.
#include "Network/NetHTTPSessionManager.h"
#include "Network/NetNetworking.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Net/URLError.h"

#include "Harness/SharedLog.h"
#include "Harness/TestSupport.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <mutex>
#include <regex>

using namespace kesto;

namespace {

struct Server : test::LoopbackServer {
  Server() {
    server->Get("/json", [](const httplib::Request&, httplib::Response& res) { res.set_content("{\"a\":1}", "application/json"); });
    server->Get("/file", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("ETag", "\"e1\"");
      res.set_content(std::string(1000, 'f'), "application/octet-stream");
    });
    // Sends its first half, then holds the rest until released; a ranged request is answered
    // from the whole body by the server library.
    server->Get("/held", [this](const httplib::Request& req, httplib::Response& res) {
      res.set_header("ETag", "\"e2\"");
      if (req.has_header("Range")) {
        res.set_content(heldBody, "application/octet-stream");
        return;
      }
      res.set_content_provider(heldBody.size(), "application/octet-stream",
                               [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                                 if (offset >= kHalf)
                                   while (!released && std::chrono::steady_clock::now() < deadline)
                                     std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                 std::size_t end = offset < kHalf ? kHalf : heldBody.size();
                                 return sink.write(heldBody.data() + offset, end - offset);
                               });
    });
    server->Post("/upload", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("{\"n\":" + std::to_string(req.body.size()) + "}", "application/json");
    });
    server->Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/json"); });
    server->Get("/private", [](const httplib::Request& req, httplib::Response& res) {
      if (req.get_header_value("Authorization").empty()) {
        test::askForBasicAuth(res, "r");
        return;
      }
      res.set_content("{\"auth\":true}", "application/json");
    });
    start();
  }
  ~Server() { released = true; }
  net::URLRequest request(const std::string& path) const { return net::URLRequest(*net::URL::fromString(url(path, "127.0.0.1"))); }
  static constexpr std::size_t kHalf = 8192;
  const std::string heldBody = std::string(kHalf, 'a') + std::string(kHalf, 'b');
  std::atomic<bool> released{false};
};

// Ends the manager's session and waits until what its tasks queued on the main queue ran, so
// nothing of this test reaches the next one.
void invalidate(const std::shared_ptr<NetURLSessionManager>& m) {
  std::atomic<bool> invalid{false};
  fnd::ScopedObserver observer;
  observer.observe(kNetSessionDidInvalidateNotification, [&](const fnd::Notification&) { invalid = true; },
                   m->session().get());
  m->invalidateSessionCancelingTasks(true);
  EXPECT_TRUE(test::runUntil([&] { return invalid.load(); }, 10));
  for (int round = 0; round < 3; ++round) {
    auto drained = std::make_shared<bool>(false);  // the turn may outlive a wait that gave up
    fnd::DispatchQueue::main().async([drained] { *drained = true; });
    EXPECT_TRUE(test::runUntil([&] { return *drained; }, 10));
  }
}

}  // namespace

TEST(URLSessionManagerBlocksTest, DataTaskBlocksRunAndDecide) {
  Server s;
  auto manager = NetURLSessionManager::make();
  test::SharedLog calls;  // the blocks that ran
  manager->setTaskWillPerformHTTPRedirectionBlock([&](auto&, auto&, const net::HTTPURLResponse& r, const net::URLRequest& next) {
    calls.add("redirect " + std::to_string(r.statusCode()));
    return std::optional<net::URLRequest>(next);
  });
  manager->setDataTaskDidReceiveResponseBlock([&](auto&, auto&, const net::URLResponse&) {
    calls.add("response");
    return NetURLSessionManager::ResponseDisposition::Allow;
  });
  manager->setDataTaskDidReceiveDataBlock([&](auto&, auto&, const fnd::Data&) { calls.add("data"); });
  manager->setTaskDidCompleteBlock([&](auto&, auto&, const fnd::Error* e) { calls.add(e ? "failed" : "complete"); });
  fnd::Value object;
  bool done = false;
  manager->dataTaskWithRequest(s.request("/moved"), [&](auto, const fnd::Value& o, const fnd::Error*) {
    object = o;
    done = true;
  })->resume();
  ASSERT_TRUE(test::runUntil([&] { return done && calls.contains("complete"); }, 10));
  EXPECT_EQ(object["a"].intValue(), 1);
  EXPECT_TRUE(calls.contains("redirect 302"));
  EXPECT_TRUE(calls.contains("response"));
  EXPECT_TRUE(calls.contains("data"));

  // The response block can cancel the task.
  manager->setDataTaskDidReceiveResponseBlock(
      [&](auto&, auto&, const net::URLResponse&) { return NetURLSessionManager::ResponseDisposition::Cancel; });
  std::optional<fnd::Error> error;
  manager->dataTaskWithRequest(s.request("/json"), [&](auto, const fnd::Value&, const fnd::Error* e) {
    if (e) error = *e;
  })->resume();
  ASSERT_TRUE(test::runUntil([&] { return error.has_value(); }, 10));
  EXPECT_EQ(error->code(), net::urlerror::Cancelled);

  // A redirect the block refuses delivers the redirect reply itself.
  manager->setDataTaskDidReceiveResponseBlock(nullptr);
  manager->setTaskWillPerformHTTPRedirectionBlock([](auto&, auto&, auto&, auto&) { return std::optional<net::URLRequest>(); });
  std::shared_ptr<const net::URLResponse> response;
  done = false;
  manager->dataTaskWithRequest(s.request("/moved"), [&](auto r, const fnd::Value&, const fnd::Error*) {
    response = r;
    done = true;
  })->resume();
  ASSERT_TRUE(test::runUntil([&] { return done; }, 10));
  ASSERT_TRUE(std::dynamic_pointer_cast<const net::HTTPURLResponse>(response));
  EXPECT_EQ(std::dynamic_pointer_cast<const net::HTTPURLResponse>(response)->statusCode(), 302);
  invalidate(manager);
}

TEST(URLSessionManagerBlocksTest, ChallengeCacheAndInvalidationBlocks) {
  Server s;
  auto config = net::URLSessionConfiguration::defaultConfiguration();
  config.urlCache = std::make_shared<net::URLCache>();
  auto manager = NetURLSessionManager::make(config);
  std::atomic<int> challenges{0};
  manager->setTaskDidReceiveAuthenticationChallengeBlock(
      [&](auto&, auto&, net::AuthenticationChallenge& c, std::optional<net::URLCredential>& credential) {
        ++challenges;
        if (c.previousFailureCount() > 0) return NetURLSessionManager::Disposition::Cancel;
        credential = net::URLCredential::withUser("user", "pass", net::URLCredential::Persistence::None);
        return NetURLSessionManager::Disposition::UseCredential;
      });
  manager->setDataTaskWillCacheResponseBlock([](auto&, auto&, const net::CachedURLResponse& proposed) {
    return std::optional<net::CachedURLResponse>(net::CachedURLResponse{proposed.response, fnd::Data{'c'}});
  });
  fnd::Value object;
  manager->dataTaskWithRequest(s.request("/private"), [&](auto, const fnd::Value& o, const fnd::Error*) { object = o; })->resume();
  ASSERT_TRUE(test::runUntil([&] { return !object.isNull(); }, 10));
  EXPECT_TRUE(object["auth"].boolValue());
  EXPECT_EQ(challenges, 1);
  auto cached = config.urlCache->cachedResponseForRequest(s.request("/private"));
  ASSERT_TRUE(cached);
  EXPECT_EQ(cached->data, fnd::Data{'c'}) << "what the block answered is stored";

  std::atomic<bool> invalid{false};
  manager->setSessionDidBecomeInvalidBlock([&](net::URLSession& session, const fnd::Error*) {
    invalid = &session == manager->session().get();
  });
  invalidate(manager);
  EXPECT_TRUE(test::runUntil([&] { return invalid.load(); }, 10));
}

TEST(URLSessionManagerBlocksTest, DownloadBlocksAndTheManagerDestinationWins) {
  Server s;
  auto manager = NetURLSessionManager::make();
  manager->setResponseSerializer(NetHTTPResponseSerializer::serializer());
  std::string dir = test::makeTempDir("dl");
  std::atomic<std::int64_t> written{0};
  manager->setDownloadTaskDidWriteDataBlock([&](auto&, auto&, std::int64_t, std::int64_t total, std::int64_t) { written = total; });
  manager->setDownloadTaskDidFinishDownloadingBlock(
      [&](auto&, auto&, const std::string&) { return std::optional<std::string>(dir + "/manager.bin"); });
  bool taskDestinationCalled = false;
  fnd::Value object;
  bool done = false;
  std::shared_ptr<NetTaskProgress> progress;
  manager->downloadTaskWithRequest(
      s.request("/file"), &progress,
      [&](const std::string&, auto) {
        taskDestinationCalled = true;
        return std::optional<std::string>(dir + "/task.bin");
      },
      [&](auto, const fnd::Value& o, const fnd::Error*) {
        object = o;
        done = true;
      })->resume();
  ASSERT_TRUE(test::runUntil([&] { return done; }, 10));
  EXPECT_FALSE(taskDestinationCalled);
  EXPECT_EQ(object.string(), dir + "/manager.bin");
  EXPECT_EQ(test::readFile(dir + "/manager.bin").size(), 1000u);
  EXPECT_EQ(written, 1000);
  EXPECT_EQ(progress->completedUnitCount, 1000);
  invalidate(manager);
}

TEST(URLSessionManagerBlocksTest, UploadProgressReportsAndItsHandlersSuspendAndCancel) {
  Server s;
  auto manager = NetURLSessionManager::make();
  std::atomic<std::int64_t> expected{0};
  manager->setTaskDidSendBodyDataBlock([&](auto&, auto&, std::int64_t, std::int64_t, std::int64_t e) { expected = e; });
  net::URLRequest post = s.request("/upload");
  post.setHTTPMethod("POST");
  std::shared_ptr<NetTaskProgress> progress;
  fnd::Value object;
  auto task = manager->uploadTaskWithRequest(post, fnd::Data(5000, 'u'), &progress,
                                             [&](auto, const fnd::Value& o, const fnd::Error*) { object = o; });
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->totalUnitCount, 5000);
  EXPECT_TRUE(progress->isPausable() && progress->isCancellable());
  progress->pause();
  EXPECT_EQ(task->state(), net::URLSessionTask::State::Suspended);
  task->resume();
  ASSERT_TRUE(test::runUntil([&] { return !object.isNull(); }, 10));
  EXPECT_EQ(object["n"].intValue(), 5000);
  EXPECT_EQ(expected, 5000);
  EXPECT_EQ(progress->completedUnitCount, 5000);

  std::optional<fnd::Error> error;
  auto second = manager->uploadTaskWithRequest(post, fnd::Data(10, 'u'), &progress,
                                               [&](auto, const fnd::Value&, const fnd::Error* e) {
                                                 if (e) error = *e;
                                               });
  progress->cancel();
  ASSERT_TRUE(test::runUntil([&] { return error.has_value(); }, 10));
  EXPECT_EQ(error->code(), net::urlerror::Cancelled);
  EXPECT_TRUE(progress->isCancelled());

  // A download's progress has no handlers.
  manager->downloadTaskWithRequest(s.request("/file"), &progress, nullptr, nullptr);
  EXPECT_FALSE(progress->isPausable() || progress->isCancellable());
  invalidate(manager);
}

TEST(URLSessionManagerBlocksTest, BackgroundSessionsAdoptTasksRecreateUploadsAndReportTheirEvents) {
  Server s;
  auto config = net::URLSessionConfiguration::backgroundConfiguration("com.kesto.tests.manager-adopt");
  auto earlier = NetURLSessionManager::make(config);
  auto task = earlier->dataTaskWithRequest(s.request("/json"), nullptr);
  EXPECT_EQ(task->taskDescription(), earlier->taskDescriptionForSessionTasks());

  auto download = earlier->downloadTaskWithRequest(s.request("/file"), nullptr, nullptr, nullptr);
  auto data = earlier->dataTaskWithRequest(s.request("/json"), nullptr);
  auto all = earlier->tasks();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0], task) << "data tasks first, in order";
  EXPECT_EQ(all[1], data);
  EXPECT_EQ(all[2], download);
  EXPECT_EQ(earlier->downloadTasks().size(), 1u);
  EXPECT_FALSE(earlier->tasksForKeyPath("@unionOfArrays"));
  download->cancel();
  data->cancel();
  ASSERT_TRUE(test::runUntil([&] { return earlier->tasks().size() == 1; }, 10));

  auto later = NetURLSessionManager::make(config);
  EXPECT_EQ(task->taskDescription(), later->taskDescriptionForSessionTasks()) << "adopted and stamped again";
  ASSERT_EQ(later->tasks().size(), 1u);
  EXPECT_TRUE(earlier->tasks().empty());

  std::atomic<bool> complete{false};
  bool eventsOnMain = false;
  std::atomic<bool> events{false};
  later->setTaskDidCompleteBlock([&](auto&, auto&, const fnd::Error* e) { complete = !e; });
  later->setDidFinishEventsForBackgroundURLSessionBlock([&](net::URLSession&) {
    eventsOnMain = fnd::RunLoop::isMainThread();
    events = true;
  });
  std::vector<std::string> notes;
  fnd::ScopedObserver observer;
  observer.observe(kNetTaskDidCompleteNotification, [&](const fnd::Notification& n) {
    if (n.object == task.get()) notes.push_back(std::string(n.name.text()));
  });
  task->resume();
  ASSERT_TRUE(test::runUntil([&] { return complete && events && !notes.empty(); }, 10));
  EXPECT_TRUE(eventsOnMain);

  // An upload from a file the background session cannot read gives no task, even with retries.
  later->setAttemptsToRecreateUploadTasksForBackgroundSessions(true);
  net::URLRequest post = s.request("/upload");
  post.setHTTPMethod("POST");
  EXPECT_FALSE(later->uploadTaskWithRequest(post, "/nonexistent/file", nullptr, nullptr));
  std::string file = test::makeTempDir("up") + "/body";
  test::writeFile(file, "abc");
  auto upload = later->uploadTaskWithRequest(post, file, nullptr, nullptr);
  ASSERT_TRUE(upload);
  upload->cancel();
  invalidate(earlier);
  invalidate(later);
}

TEST(URLSessionManagerBlocksTest, ADownloadContinuesFromResumeData) {
  Server s;
  auto manager = NetURLSessionManager::make();
  std::atomic<int> ended{0};
  auto first = manager->downloadTaskWithRequest(s.request("/held"), nullptr, nullptr, [&](auto, auto&, auto) { ++ended; });
  first->resume();
  ASSERT_TRUE(test::runUntil([&] { return first->countOfBytesReceived() >= static_cast<std::int64_t>(Server::kHalf); }, 20));
  std::optional<fnd::Data> resumeData;
  std::atomic<bool> produced{false};
  first->cancelByProducingResumeData([&](std::optional<fnd::Data> d) {
    resumeData = std::move(d);
    produced = true;
  });
  ASSERT_TRUE(test::runUntil([&] { return produced && ended == 1; }, 20));
  s.released = true;
  ASSERT_TRUE(resumeData);

  std::atomic<std::int64_t> resumedAt{-1}, expectedTotal{-1};
  manager->setDownloadTaskDidResumeBlock([&](auto&, auto&, std::int64_t offset, std::int64_t total) {
    resumedAt = offset;
    expectedTotal = total;
  });
  std::string dir = test::makeTempDir("resume");
  std::shared_ptr<NetTaskProgress> progress;
  fnd::Value object;
  auto second = manager->downloadTaskWithResumeData(
      *resumeData, &progress, [&](const std::string&, auto) { return std::optional<std::string>(dir + "/whole.bin"); },
      [&](auto, const fnd::Value& o, const fnd::Error*) { object = o; });
  ASSERT_TRUE(second);
  second->resume();
  ASSERT_TRUE(test::runUntil([&] { return !object.isNull(); }, 10));
  EXPECT_TRUE(test::readFile(dir + "/whole.bin") == s.heldBody);
  EXPECT_EQ(resumedAt, static_cast<std::int64_t>(Server::kHalf));
  EXPECT_EQ(expectedTotal, static_cast<std::int64_t>(s.heldBody.size()));
  EXPECT_EQ(progress->completedUnitCount, static_cast<std::int64_t>(s.heldBody.size()));
  invalidate(manager);
}

TEST(URLSessionManagerCodingTest, DescriptionArchivingAndCopying) {
  auto config = net::URLSessionConfiguration::defaultConfiguration();
  config.timeoutIntervalForRequest = 12.5;
  config.additionalHeaders.set("X-App", "kesto");
  auto manager = NetURLSessionManager::make(config);
  EXPECT_TRUE(std::regex_match(manager->description(),
                               std::regex("<NetURLSessionManager: 0x[0-9a-f]+, session: <URLSession: 0x[0-9a-f]+>, "
                                          "operationQueue: <DispatchQueue: [^>]+>>")))
      << manager->description();

  auto data = fnd::KeyedArchiver::archivedDataWithRootObject(*manager);
  ASSERT_TRUE(data);
  auto coder = fnd::KeyedUnarchiver::forReadingFromData(*data, {"NetURLSessionManager"});
  ASSERT_TRUE(coder);
  auto decoded = NetURLSessionManager::initWithCoder(*coder);
  EXPECT_EQ(decoded->sessionConfiguration().timeoutIntervalForRequest, 12.5);
  EXPECT_EQ(decoded->sessionConfiguration().additionalHeaders.value("X-App"), "kesto");
  EXPECT_FALSE(fnd::KeyedUnarchiver::forReadingFromData(*data, {"NetHTTPSessionManager"})) << "another class";

  auto copy = manager->copy();
  EXPECT_NE(copy, manager);
  EXPECT_NE(copy->session(), manager->session());
  EXPECT_EQ(copy->sessionConfiguration().timeoutIntervalForRequest, 12.5);
  for (auto& m : {manager, decoded, copy}) invalidate(m);
}

TEST(HTTPSessionManagerCodingTest, RoundTripsBaseURLConfigurationAndBothSerializers) {
  auto manager = NetHTTPSessionManager::make(net::URL::fromString("https://user:pw@api.example/v1"),
                                             net::URLSessionConfiguration::backgroundConfiguration("com.kesto.tests.coded"));
  auto request = NetJSONRequestSerializer::serializerWithWritingOptions(1);
  request->setValueForHTTPHeaderField("token", "X-Token");
  manager->setRequestSerializer(request);
  auto xml = NetXMLDocumentResponseSerializer::serializerWithXMLDocumentOptions(2);
  xml->setAcceptableStatusCodes(fnd::IndexSet{200, 201, 304});
  auto json = NetJSONResponseSerializer::serializerWithReadingOptions(4);
  json->setRemovesKeysWithNullValues(true);
  auto compound = NetCompoundResponseSerializer::compoundSerializerWithResponseSerializers({json, xml});
  compound->setAcceptableContentTypes(std::nullopt);
  manager->setResponseSerializer(compound);
  EXPECT_EQ(manager->description().find("pw"), std::string::npos) << "no password in the description";
  EXPECT_NE(manager->description().find("baseURL: https://api.example/v1/"), std::string::npos) << manager->description();

  auto data = *fnd::KeyedArchiver::archivedDataWithRootObject(*manager);
  invalidate(manager);  // the decoded manager takes its background identifier
  auto coder = fnd::KeyedUnarchiver::forReadingFromData(data, {"NetHTTPSessionManager"});
  ASSERT_TRUE(coder);
  auto decoded = NetHTTPSessionManager::initWithCoder(*coder);
  EXPECT_FALSE(coder->error());
  EXPECT_EQ(decoded->baseURL()->absoluteString(), "https://user:pw@api.example/v1/");
  EXPECT_EQ(decoded->sessionConfiguration().identifier, "com.kesto.tests.coded");
  auto jsonRequest = std::dynamic_pointer_cast<NetJSONRequestSerializer>(decoded->requestSerializer());
  ASSERT_TRUE(jsonRequest);
  EXPECT_EQ(jsonRequest->writingOptions(), 1u);
  EXPECT_EQ(jsonRequest->valueForHTTPHeaderField("X-Token"), "token");
  auto decodedCompound = std::dynamic_pointer_cast<NetCompoundResponseSerializer>(decoded->responseSerializer());
  ASSERT_TRUE(decodedCompound);
  EXPECT_FALSE(decodedCompound->acceptableContentTypes()) << "an absent set stays absent";
  ASSERT_EQ(decodedCompound->responseSerializers().size(), 2u);
  auto decodedJSON = std::dynamic_pointer_cast<NetJSONResponseSerializer>(decodedCompound->responseSerializers()[0]);
  ASSERT_TRUE(decodedJSON);
  EXPECT_EQ(decodedJSON->readingOptions(), 4u);
  EXPECT_TRUE(decodedJSON->removesKeysWithNullValues());
  auto decodedXML = std::dynamic_pointer_cast<NetXMLDocumentResponseSerializer>(decodedCompound->responseSerializers()[1]);
  ASSERT_TRUE(decodedXML);
  EXPECT_EQ(decodedXML->options(), 2u);
  EXPECT_TRUE(*decodedXML->acceptableStatusCodes() == (fnd::IndexSet{200, 201, 304}));

  auto copy = decoded->copy();
  EXPECT_EQ(copy->baseURL()->absoluteString(), decoded->baseURL()->absoluteString());
  EXPECT_NE(copy->requestSerializer(), decoded->requestSerializer());
  EXPECT_TRUE(std::dynamic_pointer_cast<NetJSONRequestSerializer>(copy->requestSerializer()));
  invalidate(decoded);
  invalidate(copy);
}

TEST(HTTPSessionManagerCodingTest, SerializersOfUnexpectedClassesOrShapesAreRefused) {
  // An archive that names a class the reader does not know leaves the default in place.
  struct Foreign : fnd::Coding {
    std::string codingClassName() const override { return "NetHTTPSessionManager"; }
    void encodeWithCoder(fnd::KeyedArchiver& c) const override {
      struct Evil : fnd::Coding {
        std::string codingClassName() const override { return "EvilSerializer"; }
        void encodeWithCoder(fnd::KeyedArchiver&) const override {}
      } evil;
      c.encodeObject(&evil, "responseSerializer");
      struct BadCodes : fnd::Coding {
        std::string codingClassName() const override { return "NetHTTPResponseSerializer"; }
        void encodeWithCoder(fnd::KeyedArchiver& c) const override {
          c.encodeObject(fnd::Value(fnd::Array{fnd::Value(fnd::Array{-5, 1000000})}), "acceptableStatusCodes");
        }
      } bad;
      c.encodeObject(&bad, "requestSerializer");
    }
  } foreign;
  auto data = *fnd::KeyedArchiver::archivedDataWithRootObject(foreign);
  auto coder = fnd::KeyedUnarchiver::forReadingFromData(data, {"NetHTTPSessionManager"});
  auto m = NetHTTPSessionManager::initWithCoder(*coder);
  ASSERT_TRUE(coder->error());
  EXPECT_TRUE(std::dynamic_pointer_cast<NetJSONResponseSerializer>(m->responseSerializer())) << "the default stays";
  ASSERT_TRUE(m->requestSerializer());
  const auto& requestSerializer = *m->requestSerializer();
  EXPECT_EQ(typeid(requestSerializer), typeid(NetHTTPRequestSerializer));
  invalidate(m);

  // An archive with only the identifier of its configuration gets a background one.
  struct IdentifierOnly : fnd::Coding {
    std::string codingClassName() const override { return "NetHTTPSessionManager"; }
    void encodeWithCoder(fnd::KeyedArchiver& c) const override { c.encodeObject(fnd::Value("com.kesto.tests.only-id"), "identifier"); }
  } identifierOnly;
  data = *fnd::KeyedArchiver::archivedDataWithRootObject(identifierOnly);
  coder = fnd::KeyedUnarchiver::forReadingFromData(data, {"NetHTTPSessionManager"});
  m = NetHTTPSessionManager::initWithCoder(*coder);
  EXPECT_EQ(m->sessionConfiguration().identifier, "com.kesto.tests.only-id");
  invalidate(m);

  struct Codes : fnd::Coding {
    std::string codingClassName() const override { return "NetHTTPResponseSerializer"; }
    void encodeWithCoder(fnd::KeyedArchiver& c) const override {
      c.encodeObject(fnd::Value(fnd::Array{fnd::Value(fnd::Array{-5, 1000000})}), "acceptableStatusCodes");
    }
  } codes;
  data = *fnd::KeyedArchiver::archivedDataWithRootObject(codes);
  coder = fnd::KeyedUnarchiver::forReadingFromData(data, NetHTTPResponseSerializer::codingClassNames());
  auto s = NetHTTPResponseSerializer::initWithCoder(*coder);
  ASSERT_TRUE(s);
  EXPECT_TRUE(coder->error());
  EXPECT_FALSE(s->acceptableStatusCodes()) << "no codes rather than codes the archive made up";
}

TEST(HTTPSessionManagerTest, UnbuildableRequestsFailOnTheCompletionQueueAndTasksCanBeBuiltUnstarted) {
  Server s;
  auto manager = NetHTTPSessionManager::make(net::URL::fromString(s.url("/", "127.0.0.1")));
  auto queue = fnd::DispatchQueue::create("com.kesto.tests.completion");
  manager->setCompletionQueue(queue);
  std::atomic<bool> onQueue{false}, failed{false};
  EXPECT_FALSE(manager->GET("http://exa mple/", std::nullopt, nullptr, [&](const auto& task, const fnd::Error&) {
    onQueue = queue->isCurrent() && !task;
    failed = true;
  }));
  ASSERT_TRUE(test::runUntil([&] { return failed.load(); }, 10));
  EXPECT_TRUE(onQueue) << "the failure runs where completions run, not on the main queue";

  std::atomic<bool> succeeded{false};
  auto task = manager->dataTaskWithHTTPMethod("GET", "json", std::nullopt,
                                              [&](const auto& t, const fnd::Value& o) { succeeded = t && o["a"].intValue() == 1; },
                                              nullptr);
  ASSERT_TRUE(task);
  EXPECT_EQ(task->state(), net::URLSessionTask::State::Suspended) << "built, not started";
  task->resume();
  EXPECT_TRUE(test::runUntil([&] { return succeeded.load(); }, 10));
  invalidate(manager);
}

TEST(URLSessionManagerBlocksTest, TheSessionChallengeBlockJudgesServerTrustInsteadOfThePolicy) {
  // A self-signed server the default policy refuses; the block decides instead.
  struct TLS : test::LoopbackServer {
    TLS() : test::LoopbackServer(&test::testPKI().selfSigned) {
      server->Get("/json", [](const httplib::Request&, httplib::Response& res) { res.set_content("{\"a\":2}", "application/json"); });
      start();
    }
  } s;
  auto manager = NetURLSessionManager::make();
  auto request = net::URLRequest(*net::URL::fromString(s.url("/json")));
  std::optional<fnd::Error> error;
  manager->dataTaskWithRequest(request, [&](auto, const fnd::Value&, const fnd::Error* e) {
    if (e) error = *e;
  })->resume();
  ASSERT_TRUE(test::runUntil([&] { return error.has_value(); }, 10));
  EXPECT_EQ(error->code(), net::urlerror::UserCancelledAuthentication) << "the policy refused the trust";

  std::atomic<int> asked{0};
  manager->setSessionDidReceiveAuthenticationChallengeBlock(
      [&](net::URLSession&, net::AuthenticationChallenge& c, std::optional<net::URLCredential>& credential) {
        ++asked;
        credential = net::URLCredential::forTrust(c.protectionSpace().serverTrust);
        return NetURLSessionManager::Disposition::UseCredential;
      });
  fnd::Value object;
  manager->dataTaskWithRequest(request, [&](auto, const fnd::Value& o, const fnd::Error*) { object = o; })->resume();
  ASSERT_TRUE(test::runUntil([&] { return !object.isNull(); }, 10));
  EXPECT_EQ(object["a"].intValue(), 2);
  EXPECT_GE(asked, 1);
  invalidate(manager);
}

TEST(URLSessionManagerBlocksTest, ADataTaskTurnedIntoADownloadReachesTheDownloadBlocks) {
  Server s;
  auto manager = NetURLSessionManager::make();
  manager->setResponseSerializer(NetHTTPResponseSerializer::serializer());
  manager->setDataTaskDidReceiveResponseBlock(
      [](auto&, auto&, const net::URLResponse&) { return NetURLSessionManager::ResponseDisposition::BecomeDownload; });
  std::atomic<bool> became{false};
  manager->setDataTaskDidBecomeDownloadTaskBlock([&](auto&, net::URLSessionTask& data, net::URLSessionTask& download) {
    became = &data == &download && download.kind() == net::URLSessionTask::Kind::Download;
  });
  std::string dir = test::makeTempDir("became");
  manager->setDownloadTaskDidFinishDownloadingBlock(
      [&](auto&, auto&, const std::string&) { return std::optional<std::string>(dir + "/body.json"); });
  fnd::Value object;
  manager->dataTaskWithRequest(s.request("/json"), [&](auto, const fnd::Value& o, const fnd::Error*) { object = o; })->resume();
  ASSERT_TRUE(test::runUntil([&] { return !object.isNull(); }, 10));
  EXPECT_TRUE(became);
  EXPECT_EQ(object.string(), dir + "/body.json");
  EXPECT_EQ(test::readFile(dir + "/body.json"), "{\"a\":1}");
  invalidate(manager);
}
