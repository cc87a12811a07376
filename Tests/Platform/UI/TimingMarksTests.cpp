#include "Harness/TestSupport.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/TimingMarks.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kesto::test {
namespace {

using ui::TimingMarks;

struct Line {
  long long us = 0;
  std::string name, detail;
};

std::vector<Line> lines(const std::string& path) {
  std::vector<Line> out;
  std::istringstream in(readFile(path));
  for (std::string text; std::getline(in, text);) {
    Line l;
    std::istringstream fields(text);
    fields >> l.us >> l.name;
    std::getline(fields >> std::ws, l.detail);
    out.push_back(l);
  }
  return out;
}

// The event loop as the application runs it: waiting for events between them.
void runLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

TEST(TimingMarks, WritesNothingUntilStartedAndNothingOnceStopped) {
  // The tests run without KESTO_TIMING_LOG: marks cost nothing and go nowhere.
  EXPECT_FALSE(TimingMarks::enabled());
  TimingMarks::mark("ignored", 1);
  const std::string log = makeTempDir("timing") + "/marks.log";
  EXPECT_FALSE(TimingMarks::start(log, 0));
  ASSERT_TRUE(TimingMarks::start(log, 16));
  EXPECT_FALSE(TimingMarks::start(log, 16)) << "a second start while running";
  EXPECT_TRUE(TimingMarks::enabled());
  TimingMarks::mark("kept");
  TimingMarks::stop();
  EXPECT_FALSE(TimingMarks::enabled());
  TimingMarks::mark("after", 2);
  TimingMarks::stop();
  const auto written = lines(log);
  ASSERT_EQ(written.size(), 1u) << readFile(log);
  EXPECT_EQ(written[0].name, "kept");
  EXPECT_EQ(written[0].detail, "");
}

TEST(TimingMarks, StampsMarksOnTheSharedMonotonicClockInOrder) {
  const std::string log = makeTempDir("timing") + "/marks.log";
  ASSERT_TRUE(TimingMarks::start(log, 1000));
  const auto before = TimingMarks::nowMicroseconds();
  TimingMarks::mark("list-reload", "269 Kesto");
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  TimingMarks::mark("rows", -7);
  // A detail longer than a line holds is cut, never run into the next line.
  TimingMarks::mark("long", std::string(2000, 'x'));
  const auto after = TimingMarks::nowMicroseconds();
  TimingMarks::stop();
  const auto written = lines(log);
  ASSERT_EQ(written.size(), 3u) << readFile(log);
  EXPECT_EQ(written[0].detail, "269 Kesto");
  EXPECT_EQ(written[1].detail, "-7");
  EXPECT_EQ(written[2].name, "long");
  EXPECT_GT(written[2].detail.size(), 100u);
  EXPECT_GE(written[0].us, before);
  EXPECT_GE(written[1].us - written[0].us, 3000);
  EXPECT_LE(written[2].us, after);
}

TEST(TimingMarks, MarksBusyStretchesOverTheThresholdOnlyAndEachFrameOfAWindow) {
  const std::string log = makeTempDir("timing") + "/marks.log";
  ASSERT_TRUE(TimingMarks::start(log, 40));
  const auto began = TimingMarks::nowMicroseconds();
  fnd::DispatchQueue::main().async([] { std::this_thread::sleep_for(std::chrono::milliseconds(120)); });
  runLoop(300);
  // Short work and idle time are no stall.
  fnd::DispatchQueue::main().async([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
  runLoop(200);
  ui::Window window(fnd::Rect(0, 0, 200, 120));
  window.setTitle("Timed window");
  window.makeKeyAndOrderFront();
  runLoop(300);
  window.contentView()->setNeedsDisplay(true);
  runLoop(300);
  window.orderOut();
  const auto ended = TimingMarks::nowMicroseconds();
  TimingMarks::stop();

  std::vector<long long> busy;
  int frames = 0;
  for (const auto& l : lines(log)) {
    if (l.name == "busy") busy.push_back(std::stoll(l.detail));
    if (l.name == "frame" && l.detail == "Timed window") ++frames;
  }
  // The long stretch, at its length in microseconds: no shorter than the work, no longer than the
  // whole test on the same clock (a loaded or stopped machine may add stretches of its own,
  // never fewer).
  ASSERT_FALSE(busy.empty()) << readFile(log);
  EXPECT_GE(*std::max_element(busy.begin(), busy.end()), 120000) << readFile(log);
  for (auto b : busy) {
    EXPECT_GE(b, 40000);
    EXPECT_LE(b, ended - began);
  }
  EXPECT_GE(frames, 1) << readFile(log);
}

// A harness waits for the animations it started to end before it clicks where they moved things:
// each group is marked as it begins and, once its completion has run, as it ends, also a group
// with no animation or no completion.
TEST(TimingMarks, MarksEachAnimationGroupsBeginningAndItsEndAfterItsCompletion) {
  const std::string log = makeTempDir("timing") + "/marks.log";
  ASSERT_TRUE(TimingMarks::start(log, 1000));
  auto view = std::make_shared<ui::View>(fnd::Rect(0, 0, 10, 10));
  bool done = false;
  ui::AnimationContext::runAnimationGroup(
      [&](ui::AnimationContext& ctx) {
        ctx.setDuration(0.1);
        view->animator().setFrameOrigin(fnd::Point{100, 0});
      },
      [&] {
        done = true;
        TimingMarks::mark("completion");
      });
  ui::AnimationContext::runAnimationGroup([](ui::AnimationContext&) {});
  EXPECT_TRUE(runUntil(
      [&] {
        int n = 0;
        for (const auto& l : lines(log)) n += l.name == "animation-end";
        return n == 2;
      },
      30))
      << readFile(log);
  TimingMarks::stop();
  EXPECT_TRUE(done);
  std::vector<std::string> names;
  for (const auto& l : lines(log)) names.push_back(l.name);
  const std::vector<std::string> expected{"animation-begin", "animation-begin", "animation-end", "completion",
                                          "animation-end"};
  EXPECT_EQ(names, expected) << readFile(log);
}

}  // namespace
}  // namespace kesto::test
