#include "Network/NetHTTPSessionManager.h"
#include "Network/NetNetworking.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Net/URLError.h"

#include "Harness/TestSupport.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <sys/stat.h>
#include <thread>

using namespace kesto;

namespace {
struct JSONServer : test::LoopbackServer {
  JSONServer() {
    server->Get("/api/items", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("{\"q\":\"" + req.get_param_value("q") + "\"}", "application/json");
    });
    server->Get("/api/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("{}", "application/json");
    });
    server->Get("/file", [](const httplib::Request&, httplib::Response& res) { res.set_content("file body", "application/octet-stream"); });
    start();
  }
  std::string base() const { return url("/api", "127.0.0.1"); }
};

// The session holds its manager only until it is invalid: then the manager, its session and
// their queues go with the last outside reference instead of keeping one another alive. (A task
// holds its session: the caller lets go of its tasks first.)
void expectReleasedOnceInvalid(std::shared_ptr<NetURLSessionManager> manager, bool cancelTasks) {
  std::weak_ptr<NetURLSessionManager> weakManager = manager;
  std::weak_ptr<net::URLSession> weakSession = manager->session();
  std::atomic<bool> invalidated{false};  // posted on the delegate queue
  fnd::ScopedObserver observer;
  observer.observe(kNetSessionDidInvalidateNotification, [&](const fnd::Notification&) { invalidated = true; });
  manager->invalidateSessionCancelingTasks(cancelTasks);
  manager.reset();
  EXPECT_FALSE(weakManager.expired()) << "the session keeps its manager until it is invalid";
  EXPECT_TRUE(test::runUntil([&] { return weakManager.expired() && weakSession.expired(); }, 10));
  EXPECT_TRUE(invalidated);
}
}  // namespace

TEST(HTTPSessionManagerTest, VerbsResolveAgainstTheBaseURLAndSerializeReplies) {
  JSONServer s;
  auto manager = NetHTTPSessionManager::make(net::URL::fromString(s.base()));
  EXPECT_EQ(manager->baseURL()->absoluteString(), s.base() + "/");
  fnd::Value object;
  bool onMain = false;
  std::vector<fnd::NotificationName> notes;
  fnd::Dictionary completeInfo;
  fnd::ScopedObserver observer;
  for (auto name : {kNetTaskDidResumeNotification, kNetTaskDidCompleteNotification})
    observer.observe(name, [&](const fnd::Notification& n) {
      notes.push_back(n.name);
      if (n.name == kNetTaskDidCompleteNotification) completeInfo = n.userInfo;
    });
  auto task = manager->GET("items", fnd::Value(fnd::Dictionary{{"q", "a b"}}),
                           [&](const auto&, const fnd::Value& o) {
                             object = o;
                             onMain = fnd::RunLoop::isMainThread();
                           },
                           nullptr);
  ASSERT_TRUE(task);
  EXPECT_EQ(task->taskDescription(), manager->taskDescriptionForSessionTasks());
  ASSERT_TRUE(test::runUntil([&] { return notes.size() == 2; }, 10));
  EXPECT_EQ(object["q"].string(), "a b");
  EXPECT_TRUE(onMain);
  EXPECT_EQ(notes, (std::vector<fnd::NotificationName>{kNetTaskDidResumeNotification, kNetTaskDidCompleteNotification}));
  EXPECT_TRUE(completeInfo.count(kNetNetworkingTaskDidCompleteResponseDataKey));
  EXPECT_TRUE(completeInfo.count(kNetNetworkingTaskDidCompleteSerializedResponseKey));

  std::optional<fnd::Error> error;
  manager->GET("missing", std::nullopt, nullptr, [&](const auto&, const fnd::Error& e) { error = e; });
  ASSERT_TRUE(test::runUntil([&] { return error.has_value(); }, 10));
  EXPECT_EQ(error->code(), net::urlerror::BadServerResponse);

  std::optional<fnd::Error> bad;
  EXPECT_FALSE(manager->GET("http://exa mple/", std::nullopt, nullptr, [&](const auto& t, const fnd::Error& e) {
    EXPECT_FALSE(t);
    bad = e;
  }));
  ASSERT_TRUE(test::runUntil([&] { return bad.has_value(); }, 10));
  task.reset();
  expectReleasedOnceInvalid(std::move(manager), true);
}

TEST(URLSessionManagerTest, DownloadsMoveToTheDestinationAndAFailedMoveIsAnError) {
  JSONServer s;
  auto manager = NetURLSessionManager::make();
  manager->setResponseSerializer(NetHTTPResponseSerializer::serializer());
  std::string dir = test::makeTempDir();
  net::URLRequest request(*net::URL::fromString("http://127.0.0.1:" + std::to_string(s.port) + "/file"));

  fnd::Value object;
  const fnd::Error* failed = nullptr;
  bool done = false;
  auto ok = manager->downloadTaskWithRequest(
      request, nullptr, [&](const std::string&, auto) { return std::optional<std::string>(dir + "/saved.bin"); },
      [&](auto, const fnd::Value& o, const fnd::Error* e) {
        object = o;
        failed = e;
        done = true;
      });
  ok->resume();
  ASSERT_TRUE(test::runUntil([&] { return done; }, 10));
  EXPECT_FALSE(failed);
  EXPECT_EQ(object.string(), dir + "/saved.bin");
  EXPECT_EQ(test::readFile(dir + "/saved.bin"), "file body");

  // A destination that cannot be written: the completion reports the error, not a success.
  std::optional<fnd::Error> moveError;
  bool notified = false;
  fnd::ScopedObserver observer;
  observer.observe(kNetSessionDownloadTaskDidFailToMoveFileNotification, [&](const fnd::Notification&) { notified = true; });
  done = false;
  auto bad = manager->downloadTaskWithRequest(
      request, nullptr, [&](const std::string&, auto) { return std::optional<std::string>(dir + "/no/such/dir/x.bin"); },
      [&](auto, const fnd::Value&, const fnd::Error* e) {
        if (e) moveError = *e;
        done = true;
      });
  bad->resume();
  ASSERT_TRUE(test::runUntil([&] { return done; }, 10));
  ASSERT_TRUE(moveError);
  EXPECT_EQ(moveError->domain(), fnd::kPOSIXErrorDomain);
  EXPECT_TRUE(notified);
  ok.reset();
  bad.reset();
  expectReleasedOnceInvalid(std::move(manager), false);
}
