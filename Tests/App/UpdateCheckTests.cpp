// The update check against a loopback update host: the verdicts, every way a reply can fail,
// and that the window stays live while the reply is awaited.
#include "App/UpdateController.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Net/LoopbackServer.h"
#include "Platform/UI/Panel.h"
#include "Synchronize/TestAlertResponder.h"
#include "Views/KestoPanel.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

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

// A gzip stream that inflates to `mebibytes` MiB of zeros in about a thousandth of that: one
// deflate block of a mebibyte, flushed so it stands alone, written again and again.
std::string gzipOfZeros(std::size_t mebibytes) {
  const std::string zeros(1u << 20, '\0');
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string block(deflateBound(&z, zeros.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
  z.avail_in = static_cast<uInt>(zeros.size());
  z.next_out = reinterpret_cast<Bytef*>(block.data());
  z.avail_out = static_cast<uInt>(block.size());
  EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
  block.resize(block.size() - z.avail_out);
  deflateEnd(&z);
  std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  const uLong one = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
  uLong crc = crc32(0, nullptr, 0);
  for (std::size_t i = 0; i < mebibytes; ++i) {
    out += block;
    crc = crc32_combine(crc, one, static_cast<z_off_t>(zeros.size()));
  }
  out += std::string("\x03\x00", 2);  // the last block, empty
  const std::uint32_t size = static_cast<std::uint32_t>(mebibytes << 20);
  for (std::uint32_t v : {static_cast<std::uint32_t>(crc), size})
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  return out;
}

// Serves "/update/update.txt" with a chosen status and body; can hold the reply back.
class UpdateHost {
 public:
  UpdateHost() {
    loopback_.server->Get("/update/update.txt", [this](const httplib::Request&, httplib::Response& response) {
      std::unique_lock lock(mutex_);
      ++hits_;
      if (hold_) released_.wait(lock, [this] { return !hold_; });
      response.status = status_;
      if (gzipped_ && trickle_) {
        // Already compressed, sent a piece at a time with a pause between.
        response.set_header("Content-Encoding", "gzip");
        response.set_chunked_content_provider(
            "application/octet-stream", [body = body_](std::size_t offset, httplib::DataSink& sink) {
              if (offset >= body.size()) {
                sink.done();
                return true;
              }
              const std::size_t n = std::min<std::size_t>(16384, body.size() - offset);
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
  std::string url() const { return loopback_.url("/update/update.txt", "127.0.0.1"); }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool hold_ = false;
  int status_ = 200;
  std::string body_;
  bool gzipped_ = false, trickle_ = false;
  int hits_ = 0;
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
  const std::string failed = "Update check failed. If problem persists drop me a line (support@kestoapp.com)";
  struct Case {
    int status;
    const char* body;
  };
  for (const Case& c : {Case{200, "211"}, Case{200, ""}, Case{200, "Error: quota"}, Case{200, "9.9.9#0"}, Case{404, "211#109"},
                        Case{500, "211#109"}}) {
    alerts->shown.clear();
    host.reply(c.status, c.body);
    EXPECT_EQ(check(), Result::Failed) << c.status << " " << c.body;
    EXPECT_EQ(lastMessage(), failed);
  }
  EXPECT_EQ(controller->updatesAvailablePanel(), nullptr);
}

TEST_F(UpdateCheckTest, AnOversizedReplyIsAFailure) {
  controller->maximumBytes = 1024;
  host.reply(200, "211#109#" + std::string(64 * 1024, 'x'));
  EXPECT_EQ(check(), Result::Failed);
}

// A small compressed reply that inflates to gigabytes ends at the cap as it streams: quickly,
// not at the time-out, and without inflating it all.
TEST_F(UpdateCheckTest, ACompressedReplyIsCappedByItsInflatedSize) {
  controller->maximumBytes = 1024;
  // The same encoding of a small reply reads as usual.
  host.reply(200, [] {
    std::string text = "211#109";
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::string out(256, '\0');
    z.next_in = reinterpret_cast<Bytef*>(text.data());
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
  }(), true);
  EXPECT_EQ(check(), Result::UpdateAvailable);
  controller->closeUpdatePanel();

  // Sent at once, and sent slowly: either way the first pieces inflate past the cap.
  for (bool trickle : {false, true}) {
    host.reply(200, gzipOfZeros(1024), true, trickle);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(check(20), Result::Failed) << trickle;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << trickle;
  }
}

TEST_F(UpdateCheckTest, AClosedPortIsAFailure) {
  fnd::UserDefaults::standard().setString("http://127.0.0.1:9/update/update.txt",
                                          UpdateController::kUpdateURLDefaultsKey);
  EXPECT_EQ(check(), Result::Failed);
}

TEST_F(UpdateCheckTest, ASilentHostTimesOutWithoutBlockingTheWindow) {
  controller->timeoutSeconds = 0.5;
  host.reply(200, "211#109");
  host.hold();
  auto started = std::chrono::steady_clock::now();
  controller->checkForUpdates();
  // The call returns at once; the event loop keeps running while the reply is awaited.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
  EXPECT_TRUE(controller->isChecking());
  // A second request while one runs starts nothing.
  controller->checkForUpdates();
  auto ranMeanwhile = std::make_shared<bool>(false);
  fnd::DispatchQueue::main().after(0.05, [ranMeanwhile] { *ranMeanwhile = true; });
  EXPECT_TRUE(runUntil([&] { return !controller->isChecking(); }, 5));
  EXPECT_TRUE(*ranMeanwhile);
  EXPECT_EQ(controller->lastResult(), Result::Failed);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(host.hits(), 1);
  host.release();
  // The late reply changes nothing.
  spin(0.2);
  EXPECT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(controller->updatesAvailablePanel(), nullptr);
}

}  // namespace
}  // namespace kesto::test
