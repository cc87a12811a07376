#include "SyncConvergence.h"

#include "Harness/TestSupport.h"
#include "TestAlertResponder.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

class ConvergenceFixture : public ::testing::Test {
 protected:
  void SetUp() override { alerts = TestAlertResponder::install(); }
  void TearDown() override { TestAlertResponder::uninstall(); }
  std::shared_ptr<TestAlertResponder> alerts;
};

// Each seed is a test of its own (and so a process of its own under ctest).
class ConvergenceTest : public ConvergenceFixture, public ::testing::WithParamInterface<unsigned> {};

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
  EXPECT_EQ(report.crossedFoldersBack[0] + report.crossedFoldersBack[1], 0);
  EXPECT_TRUE(alerts->shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Seeds, ConvergenceTest, ::testing::Range(1u, 33u));

// Each crossing of a move and a deletion as it stands (no random rounds; the seed picks the
// folders): the folder deleted on one library stays deleted on all three, whatever the other did
// with it meanwhile.
class CrossedMoveAndDeleteTest : public ConvergenceFixture, public ::testing::WithParamInterface<std::tuple<int, unsigned>> {};

TEST_P(CrossedMoveAndDeleteTest, TheDeletedFolderStaysDeletedEverywhere) {
  const auto [crossing, seed] = GetParam();
  ConvergenceRun run(seed, [](const std::function<bool()>& done, double seconds) {
    return runUntil([&done] { return done(); }, seconds);
  }, 0, crossing);
  const auto report = run.run();
  ASSERT_GE(report.crossings[crossing - 1], 1) << "the seed's libraries held no folder to cross";
  EXPECT_EQ(report.crossedFoldersBack[0] + report.crossedFoldersBack[1], 0);
  EXPECT_EQ(report.resurrectedFolders, 0);
  EXPECT_FALSE(report.diverged) << report.detail;
  EXPECT_EQ(report.lost, 0);
  EXPECT_TRUE(alerts->shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Crossings, CrossedMoveAndDeleteTest,
                         ::testing::Combine(::testing::Values(1, 2), ::testing::Range(1u, 5u)));

}  // namespace
}  // namespace kesto::test
