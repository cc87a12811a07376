#include "Views/TileCollectionViewSelection.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {
IndexPath at(std::int64_t item, std::int64_t section = 0) { return IndexPath::forItem(item, section); }
}  // namespace

// The selection without any view: order, anchor, holes and re-mapping.
TEST(TileSelection, KeepsSelectingOrderAnchorAndLatest) {
  TileCollectionViewSelection s;
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.anchor(), std::nullopt);
  EXPECT_EQ(s.latest(), std::nullopt);
  s.add(at(5));
  s.add(at(2));
  s.add(at(0, 1));
  s.add(at(5));  // already there: keeps its place
  EXPECT_EQ(s.ordered(), (std::vector<IndexPath>{at(5), at(2), at(0, 1)}));
  EXPECT_EQ(s.anchor(), at(5));
  EXPECT_EQ(s.latest(), at(0, 1));
  s.remove(at(5));
  s.remove(at(9));  // not a member
  EXPECT_EQ(s.anchor(), at(2));
  s.remove(at(0, 1));
  EXPECT_EQ(s.latest(), at(2));
  EXPECT_TRUE(s.contains(at(2)));
  EXPECT_FALSE(s.contains(at(5)));
  EXPECT_EQ(s.size(), 1u);
  s.clear();
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.latest(), std::nullopt);
}

TEST(TileSelection, ManyRemovalsCompactWithoutLosingOrder) {
  TileCollectionViewSelection s;
  for (int i = 0; i < 1000; ++i) s.add(at(i));
  // Remove all but every hundredth from the front and middle: holes far outnumber members.
  for (int i = 0; i < 1000; ++i)
    if (i % 100 != 0) s.remove(at(i));
  std::vector<IndexPath> expected;
  for (int i = 0; i < 1000; i += 100) expected.push_back(at(i));
  EXPECT_EQ(s.ordered(), expected);
  EXPECT_EQ(s.anchor(), at(0));
  EXPECT_EQ(s.latest(), at(900));
  // Positions stay right after compaction: removing and re-adding works at the end.
  s.remove(at(500));
  s.add(at(500));
  EXPECT_EQ(s.latest(), at(500));
  EXPECT_EQ(s.size(), 10u);
}

TEST(TileSelection, RemapMovesDropsAndMergesInOrder) {
  TileCollectionViewSelection s;
  for (int i : {7, 3, 9, 4}) s.add(at(i));
  // 9 is gone, 7 and 4 land on one place, 3 moves down by one.
  s.remap([](const IndexPath& p) -> std::optional<IndexPath> {
    if (p.item == 9) return std::nullopt;
    if (p.item == 7 || p.item == 4) return at(1);
    return at(p.item - 1);
  });
  EXPECT_EQ(s.ordered(), (std::vector<IndexPath>{at(1), at(2)}));
  EXPECT_EQ(s.anchor(), at(1));
  EXPECT_FALSE(s.contains(at(9)));
  s.remap([](const IndexPath&) { return std::optional<IndexPath>(); });
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.anchor(), std::nullopt);
}
