// The update check against a loopback update host: the verdicts, every way a reply can fail,
// and that the window stays live while the reply is awaited.
#include "App/UpdateController.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Net/GzipStreams.h"
#include "Platform/Net/LoopbackServer.h"
#include "Platform/Net/TestCertificates.h"
#include "Platform/UI/Panel.h"
#include "Synchronize/TestAlertResponder.h"
#include "Views/KestoPanel.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kesto::test {
namespace {

using Result = UpdateController::Result;

TEST(UpdateVerdict, VersionsAndSystemCodes) {
  EXPECT_EQ(UpdateController::versionNumber("2.1"), 210);
  EXPECT_EQ(UpdateController::versionNumber("2.1.1"), 211);
  EXPECT_EQ(UpdateController::versionNumber("1.0.0"), 100);
  EXPECT_EQ(UpdateController::leadingNumber("  42abc"), 42);
  EXPECT_EQ(UpdateController::leadingNumber("abc"), 0);
  EXPECT_EQ(UpdateController::leadingNumber("99999999999999"), 2147483647);
  EXPECT_EQ(UpdateController::evaluate("211#109", 210, 109), Result::UpdateAvailable);
  EXPECT_EQ(UpdateController::evaluate("211#109", 210, 1010), Result::UpdateAvailable);
  EXPECT_EQ(UpdateController::evaluate("211#109\n", 211, 1010), Result::UpToDate);
  // A newer version for a newer system is not offered.
  EXPECT_EQ(UpdateController::evaluate("300#1011", 210, 1010), Result::UpToDate);
  EXPECT_EQ(UpdateController::evaluate("300#109#notes", 210, 1010), Result::UpdateAvailable);
}

TEST(UpdateVerdict, UnreadableTextsAreFailuresNotUpToDate) {
  for (const char* text : {"", "211", "211#", "#109", "abc#def", "<html>Error 503</html>", "300#109 Error",
                           "9.9.9#0", "300#10.9", "300abc#109", "-300#109", "300 1#109"})
    EXPECT_EQ(UpdateController::evaluate(text, 210, 1010), Result::Failed) << '"' << text << '"';
}

// Serves "/update/update.txt" with a chosen status and body; can hold the reply back.
class UpdateHost {
 public:
  UpdateHost() {
    loopback_.server->Get("/update/update.txt", [this](const httplib::Request&, httplib::Response& response) {
      std::unique_lock lock(mutex_);
      ++hits_;
      if (hold_ && holdsTheReply_) released_.wait(lock, [this] { return !hold_; });
      response.status = status_;
      if (gzipped_ && trickle_) {
        // Already compressed: the first piece, then the rest only once released, so a reader
        // that waits for the whole body waits for its time-out.
        response.set_header("Content-Encoding", "gzip");
        response.set_chunked_content_provider(
            "application/octet-stream", [this, body = body_](std::size_t offset, httplib::DataSink& sink) {
              if (offset >= body.size()) {
                sink.done();
                return true;
              }
              if (offset > 0) {
                std::unique_lock lock(mutex_);
                released_.wait(lock, [this] { return !hold_; });
              }
              const std::size_t n = std::min<std::size_t>(16384, body.size() - offset);
              return sink.write(body.data() + offset, n);
            });
      } else if (trickle_) {
        // A byte at a time, never silent for long, until released: then the rest at once.
        response.set_chunked_content_provider(
            "text/plain", [this, body = body_](std::size_t offset, httplib::DataSink& sink) {
              if (offset >= body.size()) {
                sink.done();
                return true;
              }
              std::size_t n = 1;
              {
                std::unique_lock lock(mutex_);
                if (released_.wait_for(lock, std::chrono::milliseconds(20), [this] { return !hold_; }))
                  n = body.size() - offset;
                sent_ += n;
              }
              return sink.write(body.data() + offset, n);
            });
      } else if (gzipped_) {
        // Already compressed: a type the server does not compress again.
        response.set_header("Content-Encoding", "gzip");
        response.set_content(body_, "application/octet-stream");
      } else {
        response.set_content(body_, "text/plain");
      }
    });
    loopback_.start();
  }
  ~UpdateHost() {
    release();
  }
  void reply(int status, std::string body, bool gzipped = false, bool trickle = false) {
    std::lock_guard lock(mutex_);
    status_ = status;
    body_ = std::move(body);
    gzipped_ = gzipped;
    trickle_ = trickle;
  }
  void hold() {
    std::lock_guard lock(mutex_);
    hold_ = true;
    holdsTheReply_ = true;
  }
  // Holds a trickled body after its first piece; the reply itself goes out.
  void holdTheRest() {
    std::lock_guard lock(mutex_);
    hold_ = true;
    holdsTheReply_ = false;
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      hold_ = false;
    }
    released_.notify_all();
  }
  int hits() {
    std::lock_guard lock(mutex_);
    return hits_;
  }
  std::size_t sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::string url() const { return loopback_.url("/update/update.txt", "127.0.0.1"); }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool hold_ = false, holdsTheReply_ = false;
  int status_ = 200;
  std::string body_;
  bool gzipped_ = false, trickle_ = false;
  int hits_ = 0;
  std::size_t sent_ = 0;
  // Last, so it stops before what its handlers use goes.
  LoopbackServer loopback_;
};

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alerts = TestAlertResponder::install();
    fnd::UserDefaults::standard().setString(host.url(), UpdateController::kUpdateURLDefaultsKey);
  }
  void TearDown() override {
    controller.reset();
    TestAlertResponder::uninstall();
    fnd::UserDefaults::standard().removeObject(UpdateController::kUpdateURLDefaultsKey);
  }
  // Runs one check to its end (never longer than `seconds`).
  Result check(double seconds = 10) {
    controller->checkForUpdates();
    EXPECT_TRUE(runUntil([&] { return !controller->isChecking(); }, seconds));
    return controller->lastResult();
  }
  std::string lastMessage() const { return alerts->shown.empty() ? std::string() : alerts->shown.back().message; }

  UpdateHost host;
  std::shared_ptr<TestAlertResponder> alerts;
  std::unique_ptr<UpdateController> controller = std::make_unique<UpdateController>("2.1");
};

TEST_F(UpdateCheckTest, NewerVersionOpensThePanelAndNoAlert) {
  host.reply(200, "211#109");
  EXPECT_EQ(check(), Result::UpdateAvailable);
  ASSERT_NE(controller->updatesAvailablePanel(), nullptr);
  EXPECT_TRUE(controller->updatesAvailablePanel()->isVisible());
  // The application's own panel, centred over the library window.
  auto* own = dynamic_cast<KestoPanel*>(controller->updatesAvailablePanel());
  ASSERT_NE(own, nullptr);
  EXPECT_TRUE(own->shouldBeCentered());
  EXPECT_TRUE(alerts->shown.empty());
  controller->closeUpdatePanel();
  EXPECT_FALSE(controller->updatesAvailablePanel()->isVisible());
}

TEST_F(UpdateCheckTest, SameAndOlderVersionsAreUpToDate) {
  for (const char* body : {"210#109", "200#109", "300#1011"}) {
    host.reply(200, body);
    EXPECT_EQ(check(), Result::UpToDate) << body;
    ASSERT_FALSE(alerts->shown.empty());
    EXPECT_EQ(alerts->shown.back().title, "Kesto Updater");
    EXPECT_EQ(lastMessage(), "Your version of Kesto is up to date");
    EXPECT_TRUE(alerts->shown.back().information) << "a current version is good news, not a warning";
  }
  EXPECT_EQ(controller->updatesAvailablePanel(), nullptr);
}

TEST_F(UpdateCheckTest, MalformedRepliesAndHttpErrorsReportAFailedCheck) {
  const std::string unreadable =
      "Update check failed. The update server's reply could not be read. If problem persists drop me a line "
      "(support@kestoapp.com)";
  struct Case {
    int status;
    const char* body;
  };
  for (const Case& c : {Case{200, "211"}, Case{200, ""}, Case{200, "Error: quota"}, Case{200, "9.9.9#0"}, Case{404, "211#109"},
                        Case{500, "211#109"}}) {
    alerts->shown.clear();
    host.reply(c.status, c.body);
    EXPECT_EQ(check(), Result::Failed) << c.status << " " << c.body;
    ASSERT_FALSE(alerts->shown.empty()) << c.status << " " << c.body;
    EXPECT_EQ(alerts->shown.back().title, "Kesto Updater");
    if (c.status == 200)
      EXPECT_EQ(lastMessage(), unreadable);
    else
      EXPECT_EQ(lastMessage(), "Update check failed. The update server answered with an error (HTTP " +
                                   std::to_string(c.status) + "). If problem persists drop me a line (support@kestoapp.com)");
  }
  EXPECT_EQ(controller->updatesAvailablePanel(), nullptr);
}

// No connection, a certificate no trusted root issued, an error answer and an unreadable reply
// each say what happened, in words, never as an error code.
TEST_F(UpdateCheckTest, EachCauseOfAFailedCheckIsToldApart) {
  std::vector<std::string> told;
  auto failWith = [&](const std::string& url, const char* says) {
    fnd::UserDefaults::standard().setString(url, UpdateController::kUpdateURLDefaultsKey);
    alerts->shown.clear();
    EXPECT_EQ(check(), Result::Failed) << says;
    const auto message = lastMessage();
    EXPECT_NE(message.find(says), std::string::npos) << message;
    EXPECT_EQ(message.rfind("Update check failed. ", 0), 0u) << message;
    EXPECT_NE(message.find("If problem persists drop me a line (support@kestoapp.com)"), std::string::npos) << message;
    EXPECT_EQ(message.find("NSURLErrorDomain"), std::string::npos) << message;
    told.push_back(message);
  };
  int port = 0;
  const int fd = bindLoopbackSocket(port);
  ASSERT_GE(fd, 0);
  ::close(fd);  // nothing listens there
  failWith("http://127.0.0.1:" + std::to_string(port) + "/update/update.txt", "Could not connect to the update server");

  LoopbackServer untrusted(&testPKI().selfSigned);
  untrusted.server->Get("/update/update.txt",
                        [](const httplib::Request&, httplib::Response& r) { r.set_content("211#109", "text/plain"); });
  untrusted.start();
  failWith(untrusted.url("/update/update.txt"), "certificate is not trusted");
  EXPECT_EQ(untrusted.requests.load(), 0);

  host.reply(503, "211#109");
  failWith(host.url(), "answered with an error (HTTP 503)");
  host.reply(200, "<html>Service Unavailable</html>");
  failWith(host.url(), "reply could not be read");

  std::sort(told.begin(), told.end());
  EXPECT_EQ(std::unique(told.begin(), told.end()), told.end()) << "each cause has its own words";
  EXPECT_EQ(controller->updatesAvailablePanel(), nullptr);
}

TEST_F(UpdateCheckTest, AnOversizedReplyIsAFailure) {
  controller->maximumBytes = 1024;
  host.reply(200, "211#109#" + std::string(64 * 1024, 'x'));
  EXPECT_EQ(check(), Result::Failed);
  EXPECT_NE(lastMessage().find("reply could not be read"), std::string::npos) << lastMessage();
}

// A small compressed reply that inflates to gigabytes ends at the cap as it streams, not at the
// time-out and not after the whole body.
TEST_F(UpdateCheckTest, ACompressedReplyIsCappedByItsInflatedSize) {
  controller->maximumBytes = 1024;
  controller->timeoutSeconds = 600;
  // The same encoding of a small reply reads as usual.
  host.reply(200, gzipped("211#109"), true);
  EXPECT_EQ(check(), Result::UpdateAvailable);
  controller->closeUpdatePanel();

  // Sent at once, and sent in pieces whose rest waits until the check has ended: either way
  // the first piece inflates past the cap and the check fails as unreadable.
  for (bool trickle : {false, true}) {
    host.reply(200, gzipOfZeros(1024), true, trickle);
    if (trickle) host.holdTheRest();
    EXPECT_EQ(check(300), Result::Failed) << trickle;
    EXPECT_NE(lastMessage().find("reply could not be read"), std::string::npos) << lastMessage();
    host.release();
  }
}

TEST_F(UpdateCheckTest, AClosedPortIsAFailure) {
  fnd::UserDefaults::standard().setString("http://127.0.0.1:9/update/update.txt",
                                          UpdateController::kUpdateURLDefaultsKey);
  EXPECT_EQ(check(), Result::Failed);
}

// While the host is silent the window stays live: the check waits in the background and the
// main loop runs other work meanwhile. Only the deadline the test holds ends it, so no loaded or
// paused machine can end it first. Then a silent host also ends the check by itself, through the
// request's own time-out.
TEST_F(UpdateCheckTest, ASilentHostTimesOutWithoutBlockingTheWindow) {
  std::vector<std::function<void()>> deadlines;
  controller->scheduleDeadline = [&](double, std::function<void()> work) { deadlines.push_back(std::move(work)); };
  controller->timeoutSeconds = 600;
  host.reply(200, "211#109");
  host.hold();
  controller->checkForUpdates();
  // The call returns before the reply.
  EXPECT_TRUE(controller->isChecking());
  // A second request while one runs starts nothing.
  controller->checkForUpdates();
  EXPECT_EQ(deadlines.size(), 1u);
  auto ranMeanwhile = std::make_shared<bool>(false);
  fnd::DispatchQueue::main().after(0.05, [ranMeanwhile] { *ranMeanwhile = true; });
  ASSERT_TRUE(runUntil([&] { return *ranMeanwhile; }, 60));
  EXPECT_TRUE(controller->isChecking()) << "nothing but the deadline ends the check";
  ASSERT_TRUE(runUntil([&] { return host.hits() > 0; }, 60));
  ASSERT_EQ(deadlines.size(), 1u);
  deadlines[0]();
  EXPECT_FALSE(controller->isChecking());
  EXPECT_EQ(controller->lastResult(), Result::Failed);
  EXPECT_NE(lastMessage().find("did not answer in time"), std::string::npos) << lastMessage();
  host.release();
  // The late reply changes nothing.
  spin(0.2);
  EXPECT_EQ(host.hits(), 1);
  EXPECT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(controller->updatesAvailablePanel(), nullptr);

  // Silent again, with a short time-out and a deadline that never comes.
  alerts->shown.clear();
  deadlines.clear();
  controller->timeoutSeconds = 0.5;
  host.hold();
  EXPECT_EQ(check(60), Result::Failed);
  EXPECT_NE(lastMessage().find("did not answer in time"), std::string::npos) << lastMessage();
  host.release();
}

// The whole check, connecting to the last byte, ends at its deadline, within the 15 s the user
// is told: a reply that trickles in, never silent long enough for the request's own time-out, is
// told as a host that did not answer in time; a reply whole before the deadline is left alone.
TEST_F(UpdateCheckTest, ATricklingReplyEndsAtTheWholeChecksDeadline) {
  EXPECT_LT(UpdateController("2.1").timeoutSeconds, 15.0);
  std::vector<std::pair<double, std::function<void()>>> deadlines;
  controller->scheduleDeadline = [&](double seconds, std::function<void()> work) {
    deadlines.emplace_back(seconds, std::move(work));
  };
  controller->timeoutSeconds = 600;  // only the deadline this test runs ends the check
  host.reply(200, "211#109" + std::string(4096, ' '), false, true);
  host.holdTheRest();
  controller->checkForUpdates();
  ASSERT_EQ(deadlines.size(), 1u);
  EXPECT_DOUBLE_EQ(deadlines[0].first, controller->timeoutSeconds) << "the whole check ends at its time-out";
  ASSERT_TRUE(runUntil([&] { return host.sent() >= 8; }, 60));
  EXPECT_TRUE(controller->isChecking());
  deadlines[0].second();
  EXPECT_FALSE(controller->isChecking());
  EXPECT_EQ(controller->lastResult(), Result::Failed);
  EXPECT_NE(lastMessage().find("did not answer in time"), std::string::npos) << lastMessage();
  EXPECT_EQ(alerts->shown.size(), 1u);

  deadlines.clear();
  alerts->shown.clear();
  host.release();
  EXPECT_EQ(check(), Result::UpdateAvailable);
  ASSERT_EQ(deadlines.size(), 1u);
  deadlines[0].second();
  EXPECT_EQ(controller->lastResult(), Result::UpdateAvailable);
  EXPECT_TRUE(alerts->shown.empty());
}

// The deadline a new controller schedules goes to the main queue's timer as it is given: work
// given no time runs before a timer of a second started after it, which it would not if the
// timer were given more.
TEST_F(UpdateCheckTest, TheProgramsDeadlineIsTheMainQueuesTimerAsGiven) {
  UpdateController made("2.1");
  ASSERT_TRUE(made.scheduleDeadline);
  auto order = std::make_shared<std::string>();
  made.scheduleDeadline(0, [order] { *order += "deadline "; });
  fnd::DispatchQueue::main().after(1, [order] { *order += "timer "; });
  ASSERT_TRUE(runUntil([&] { return order->size() == std::string("deadline timer ").size(); }, 60));
  EXPECT_EQ(*order, "deadline timer ");
}

}  // namespace
}  // namespace kesto::test
