#include "SyncConvergence.h"

#include "Harness/TestSupport.h"
#include "TestAlertResponder.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

// Each seed is a test of its own (and so a process of its own under ctest).
class ConvergenceTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override { alerts = TestAlertResponder::install(); }
  void TearDown() override { TestAlertResponder::uninstall(); }
  std::shared_ptr<TestAlertResponder> alerts;
};

TEST_P(ConvergenceTest, ThreeLibrariesEndEqualWithNothingLostOrResurrected) {
  ConvergenceRun run(GetParam(), [](const std::function<bool()>& done, double seconds) {
    return runUntil([&done] { return done(); }, seconds);
  });
  const auto report = run.run();
  EXPECT_FALSE(report.diverged) << report.detail;
  EXPECT_EQ(report.resurrectedFolders, 0);
  EXPECT_EQ(report.resurrectedBookmarks, 0);
  EXPECT_EQ(report.lost, 0);
  EXPECT_GT(report.syncs, 6);
  EXPECT_TRUE(alerts->shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Seeds, ConvergenceTest, ::testing::Range(1u, 33u));

}  // namespace
}  // namespace kesto::test
