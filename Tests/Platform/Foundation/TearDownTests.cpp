// The test harness's own tear-down, which every test program relies on to keep one test's
// leftovers out of the next.
#include "Harness/TestSupport.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace kesto::fnd;

// Blocks a finished test left queued on the main loop never run (they would reach its stack and
// fixture), what they held is let go then, and the loop goes on taking work in order.
TEST(TestHarnessTearDown, DropsWhatAFinishedTestLeftQueuedOnTheMainLoop) {
  auto ran = std::make_shared<std::vector<std::string>>();
  DispatchQueue::main().async([ran] { ran->push_back("main queue"); });
  RunLoop::main().perform([ran] { ran->push_back("perform"); });
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> watched = held;
  DispatchQueue::main().async([held = std::move(held)] {});

  kesto::test::dropQueuedMainLoopWork();
  EXPECT_TRUE(watched.expired());
  DispatchQueue::main().async([ran] { ran->push_back("queued after"); });
  // First in, first out: once the last block has run, none before it is still waiting.
  ASSERT_TRUE(kesto::test::runUntil([&] { return !ran->empty() && ran->back() == "queued after"; }, 30));
  EXPECT_EQ(*ran, std::vector<std::string>{"queued after"});
}
