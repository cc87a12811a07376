#include "SyncTestSupport.h"

#include "Synchronize/SyncTombstones.h"

namespace kesto::test {
namespace {

class SyncTombstonesTest : public SyncRecordsTest {};

std::vector<SyncTombstone> numbered(int from, int to, std::int64_t version, const char* type = "b") {
  std::vector<SyncTombstone> out;
  out.reserve(std::size_t(to - from));
  for (int i = from; i < to; ++i) out.push_back({"ID-" + std::to_string(i), version, type});
  return out;
}

TEST_F(SyncTombstonesTest, UniteKeepsOneEntryPerObjectAndTypeWithTheHigherVersion) {
  std::vector<SyncTombstone> local{{"A", 3, "b"}, {"B", 1, "b"}, {"A", 1, "f"}};
  auto all = SyncTombstones::unite(local, {{"A", 5, "b"}, {"B", 0, "b"}, {"C", 2, "b"}, {"A", 2, "f"}, {"", 1, "b"}});
  ASSERT_EQ(all.size(), 5u);  // order: ours first, then the new ones as they came
  EXPECT_EQ(all[0].objectID, "A");
  EXPECT_EQ(all[0].version, 5);
  EXPECT_EQ(all[1].version, 1);  // a lower incoming version never lowers ours
  EXPECT_EQ(all[2].type, "f");
  EXPECT_EQ(all[2].version, 2);
  EXPECT_EQ(all[3].objectID, "C");
  EXPECT_EQ(all[4].objectID, "");  // what the peer sent travels on as it came
}

TEST_F(SyncTombstonesTest, TypeAndIdentifierAreNotConfusedByTheSeparator) {
  SyncTombstones::add({{"x|b", 1, "b"}, {"b", 1, "b|x"}});
  EXPECT_EQ(SyncTombstones::tombstones().size(), 2u);
}

// A peer that emptied a large library sends one tombstone per bookmark; every step of a run
// handles the whole list. How long it takes is BM_SyncTombstonesLibraryScale's to tell.
TEST_F(SyncTombstonesTest, LibraryScaleListsAreMergedAddedAndConfirmedQuickly) {
  fixClock(1700000000);
  SyncTombstones::add(numbered(0, 40000, 1));
  auto outgoing = SyncTombstones::unite(SyncTombstones::tombstones(), numbered(20000, 60000, 2));
  ASSERT_EQ(outgoing.size(), 60000u);
  EXPECT_EQ(outgoing[0].version, 1);
  EXPECT_EQ(outgoing[30000].version, 2);
  SyncTombstones::add(numbered(20000, 60000, 2));
  ASSERT_EQ(SyncTombstones::tombstones().size(), 60000u);

  fixClock(1700000000 + 91.0 * 24 * 3600);
  SyncTombstones::add({{"LATE", 1, "b"}});
  SyncTombstones::confirmUploaded(outgoing);
  auto left = SyncTombstones::tombstones();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].objectID, "LATE");
}

// An undone deletion takes back only its own tombstone: a peer's later deletion of the same
// bookmark, learnt meanwhile, must stay, or the next sync brings the bookmark back.
TEST_F(SyncTombstonesTest, UndoingADeletionKeepsALaterDeletionFromAPeer) {
  SyncTombstones::add({{"A", 3, "b"}, {"B", 1, "b"}, {"C", 2, "b"}});
  SyncTombstones::add({{"A", 5, "b"}, {"C", 1, "b"}});  // learnt from a sync
  SyncTombstones::remove({{"A", 3, "b"}, {"B", 1, "b"}, {"C", 2, "b"}});
  auto left = SyncTombstones::tombstones();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].objectID, "A");
  EXPECT_EQ(left[0].version, 5);
}

TEST_F(SyncTombstonesTest, ConfirmingAnOlderVersionKeepsTheNewerTombstone) {
  fixClock(1700000000);
  SyncTombstones::add({{"A", 4, "b"}, {"B", 1, "b"}});
  fixClock(1700000000 + 91.0 * 24 * 3600);
  SyncTombstones::confirmUploaded({{"A", 3, "b"}, {"B", 1, "b"}, {"B", 0, "b"}});
  auto left = SyncTombstones::tombstones();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].objectID, "A");
}

}  // namespace
}  // namespace kesto::test
