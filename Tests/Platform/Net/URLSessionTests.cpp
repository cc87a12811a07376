#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLSession.h"

#include "Harness/TestSupport.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <thread>

using namespace kesto;
using namespace kesto::net;

namespace {
struct Server : test::LoopbackServer {
  Server() {
    server->Get("/data", [](const httplib::Request&, httplib::Response& res) { res.set_content("payload", "text/plain"); });
    server->Post("/echo", [](const httplib::Request& req, httplib::Response& res) { res.set_content(req.body, "text/plain"); });
    server->Get("/slow", [this](const httplib::Request&, httplib::Response& res) {
      held.wait();  // answers only once the test is over: the task is always still running
      res.set_content("late", "text/plain");
    });
    start();
  }
  URLRequest request(const std::string& path) { return URLRequest(*URL::fromString(url(path, "127.0.0.1"))); }
};

struct Result {
  std::promise<void> done;
  std::string body;
  std::optional<fnd::Error> error;
  int status = 0;
};
}  // namespace

TEST(URLSessionTest, DataUploadAndDownloadTasksComplete) {
  Server s;
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration());

  auto r = std::make_shared<Result>();
  auto data = session->dataTask(s.request("/data"), [r](const fnd::Data* d, std::shared_ptr<const URLResponse> resp, const fnd::Error* e) {
    if (d) r->body.assign(d->begin(), d->end());
    if (e) r->error = *e;
    r->done.set_value();
  });
  EXPECT_EQ(data->state(), URLSessionTask::State::Suspended);
  data->resume();
  ASSERT_EQ(r->done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(r->body, "payload");
  EXPECT_EQ(data->state(), URLSessionTask::State::Completed);

  auto up = std::make_shared<Result>();
  URLRequest post = s.request("/echo");
  post.setHTTPMethod("POST");
  auto upload = session->uploadTask(post, fnd::Data{'h', 'i'}, [up](const fnd::Data* d, auto, const fnd::Error*) {
    if (d) up->body.assign(d->begin(), d->end());
    up->done.set_value();
  });
  EXPECT_EQ(upload->countOfBytesExpectedToSend(), 2);
  upload->resume();
  ASSERT_EQ(up->done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(up->body, "hi");

  // The downloaded file exists during the handler and is removed afterwards.
  auto dl = std::make_shared<Result>();
  std::string location;
  auto download = session->downloadTask(s.request("/data"), [dl, &location](const std::string* path, auto, const fnd::Error*) {
    if (path) {
      location = *path;
      std::ifstream in(*path);
      dl->body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    dl->done.set_value();
  });
  download->resume();
  ASSERT_EQ(dl->done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(dl->body, "payload");
  // The file is removed on the network thread once the handler returned.
  EXPECT_TRUE(test::runUntil([&] {
    struct stat st {};
    return ::stat(location.c_str(), &st) != 0;
  }, 10)) << location;
}

TEST(URLSessionTest, CancelCompletesWithCancelled) {
  Server s;
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration());
  auto r = std::make_shared<Result>();
  auto task = session->dataTask(s.request("/slow"), [r](const fnd::Data*, auto, const fnd::Error* e) {
    if (e) r->error = *e;
    r->done.set_value();
  });
  task->resume();
  task->cancel();
  ASSERT_EQ(r->done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  ASSERT_TRUE(r->error);
  EXPECT_EQ(r->error->code(), urlerror::Cancelled);
  EXPECT_TRUE(session->tasks().empty());
}

TEST(URLSessionTest, ResumeAndSuspendAreAnnouncedOnlyForRealChanges) {
  Server s;
  std::vector<fnd::NotificationName> seen;
  fnd::ScopedObserver observer;
  for (auto name : {kURLSessionTaskDidResumeNotification, kURLSessionTaskDidSuspendNotification})
    observer.observe(name, [&](const fnd::Notification& n) { seen.push_back(n.name); });
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration());
  auto task = session->dataTask(s.request("/slow"));
  task->suspend();  // already suspended: nothing
  EXPECT_TRUE(seen.empty());
  task->resume();
  task->resume();  // running: nothing
  task->suspend();
  EXPECT_EQ(seen, (std::vector<fnd::NotificationName>{kURLSessionTaskDidResumeNotification, kURLSessionTaskDidSuspendNotification}));
  task->cancel();
  ASSERT_TRUE(test::runUntil([&] { return task->state() == URLSessionTask::State::Completed; }, 10));
  seen.clear();
  task->resume();  // completed tasks still announce
  EXPECT_EQ(seen, std::vector<fnd::NotificationName>{kURLSessionTaskDidResumeNotification});
}
