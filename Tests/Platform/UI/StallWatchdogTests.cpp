#include "Harness/TestSupport.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/UI/StallWatchdog.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace kesto::test {
namespace {

// Runs the event loop as the application does, waiting for events between them (the test
// harness's own spin polls instead, which never waits and so would look busy throughout).
void runLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// The same until `done` says so, looking every few milliseconds.
void runLoopUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  look.start(10);
  loop.exec();
}

// Tells a held program (stopped, or given no processor) from a stalled main thread: a thread of
// its own looks at the clock every few milliseconds and counts the gaps of a stall's length,
// which only a hold of the whole program makes in it.
class HoldCounter {
 public:
  explicit HoldCounter(std::chrono::milliseconds gap) {
    thread_ = std::thread([this, gap] {
      auto last = std::chrono::steady_clock::now();
      while (!done_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto now = std::chrono::steady_clock::now();
        if (now - last >= gap) ++holds_;
        last = now;
        ++beats_;
      }
    });
  }
  ~HoldCounter() {
    done_ = true;
    thread_.join();
  }
  // Holds seen so far, a hold that has just ended included.
  int holds() const {
    const int after = beats_ + 2;
    while (beats_ < after) std::this_thread::yield();
    return holds_;
  }

 private:
  std::atomic<bool> done_{false};
  std::atomic<int> holds_{0}, beats_{0};
  std::thread thread_;
};

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TEST(StallWatchdog, ReportsALongStallOnceWithTheMainThreadsStackAndNothingWhileIdle) {
  const std::string log = makeTempDir("stalls") + "/stalls.log";
  // Idle: the loop waits for events, which is no stall however long it lasts. A time in which
  // the whole program was held is a stall of its own that says nothing about the idle loop, and
  // its report may come a little after the hold: a look counts only when no hold was seen in it
  // or in the look before it.
  {
    HoldCounter counter(std::chrono::milliseconds(100));
    int holdsBefore = counter.holds();
    ASSERT_TRUE(ui::StallWatchdog::start(log, 150));
    bool looked = false;
    for (int i = 0; i < 50 && !looked; ++i) {
      const auto reported = ui::StallWatchdog::reportedStalls();
      const int holdsAtStart = counter.holds();
      runLoop(300);
      const auto reportedNow = ui::StallWatchdog::reportedStalls();
      const int holdsNow = counter.holds();
      if (holdsNow == holdsBefore) {
        looked = true;
        EXPECT_EQ(reportedNow, reported) << "a stall counted while idle";
      }
      holdsBefore = holdsAtStart;
    }
    ASSERT_TRUE(looked) << "the program was held in every look";
  }
  const auto reportedWhileIdle = ui::StallWatchdog::reportedStalls();

  // The main thread is stuck until the stall is reported, so no loaded or paused machine ends it
  // first; only a watch that never reports lets it go, much later.
  bool ran = false;
  fnd::DispatchQueue::main().async([&] {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ui::StallWatchdog::reportedStalls() == reportedWhileIdle && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ran = true;
  });
  runLoopUntil([&] { return ran; });
  // Short work does not count.
  fnd::DispatchQueue::main().async([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
  runLoop(200);
  const auto reported = ui::StallWatchdog::reportedStalls();
  ui::StallWatchdog::stop();

  // One report for the long stall (a loaded machine may add one of its own, never fewer).
  EXPECT_GE(reported, reportedWhileIdle + 1);
  const std::string text = readFile(log);
  EXPECT_EQ(occurrences(text, "main thread busy for "), static_cast<std::size_t>(reported)) << text;
  // A stack of several frames follows the heading.
  EXPECT_GE(occurrences(text, "\n"), 4u) << text;
  EXPECT_EQ(text.find("no stack"), std::string::npos) << text;
}

TEST(StallWatchdog, StaysOffWithoutALogFileAndRefusesASecondStart) {
  unsetenv("KESTO_STALL_LOG");
  EXPECT_FALSE(ui::StallWatchdog::startFromEnvironment());
  const std::string log = makeTempDir("stalls") + "/stalls.log";
  ASSERT_TRUE(ui::StallWatchdog::start(log, 100));
  EXPECT_FALSE(ui::StallWatchdog::start(log, 100));
  ui::StallWatchdog::stop();
  ui::StallWatchdog::stop();
}

}  // namespace
}  // namespace kesto::test
