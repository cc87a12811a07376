#include "Platform/Foundation/IndexSet.h"

#include <gtest/gtest.h>

using namespace kesto::fnd;

TEST(IndexSet, AddingMergesAdjacentAndOverlappingRanges) {
  IndexSet s;
  EXPECT_TRUE(s.isEmpty());
  EXPECT_EQ(s.firstIndex(), NotFound);
  EXPECT_EQ(s.lastIndex(), NotFound);
  s.add(5);
  s.add(7);
  EXPECT_EQ(s.ranges().size(), 2u);
  s.add(6);
  EXPECT_EQ(s.ranges(), (std::vector<Range>{{5, 3}}));
  s.add(Range{0, 2});
  s.add(Range{1, 4});  // bridges 0-1 with 5-7
  EXPECT_EQ(s.ranges(), (std::vector<Range>{{0, 8}}));
  s.add(Range{20, 0});
  s.add(-3);
  s.add(NotFound);
  EXPECT_EQ(s.count(), 8);
  EXPECT_EQ(IndexSet({9, 3, 3, 4}).indexes(), (std::vector<std::int64_t>{3, 4, 9}));
}

TEST(IndexSet, RemovingSplitsRanges) {
  IndexSet s(Range{0, 10});
  s.remove(Range{3, 2});
  EXPECT_EQ(s.ranges(), (std::vector<Range>{{0, 3}, {5, 5}}));
  s.remove(0);
  s.remove(9);
  s.remove(42);
  EXPECT_EQ(s.indexes(), (std::vector<std::int64_t>{1, 2, 5, 6, 7, 8}));
  s.remove(IndexSet({1, 2, 5}));
  EXPECT_EQ(s.ranges(), (std::vector<Range>{{6, 3}}));
  s.removeAll();
  EXPECT_TRUE(s.isEmpty());
}

TEST(IndexSet, Queries) {
  IndexSet s({2, 3, 4, 10, 11});
  EXPECT_TRUE(s.contains(3));
  EXPECT_FALSE(s.contains(5));
  EXPECT_FALSE(s.contains(-1));
  EXPECT_TRUE(s.containsRange(Range{2, 3}));
  EXPECT_FALSE(s.containsRange(Range{3, 3}));
  EXPECT_FALSE(s.containsRange(Range{3, 0}));
  EXPECT_TRUE(s.containsAll(IndexSet({2, 11})));
  EXPECT_FALSE(s.containsAll(IndexSet({2, 12})));
  EXPECT_TRUE(s.intersectsRange(Range{5, 6}));
  EXPECT_FALSE(s.intersectsRange(Range{5, 5}));
  EXPECT_EQ(s.countInRange(Range{3, 8}), 3);
  EXPECT_EQ(s.firstIndex(), 2);
  EXPECT_EQ(s.lastIndex(), 11);
  EXPECT_EQ(s.indexGreaterThan(4), 10);
  EXPECT_EQ(s.indexGreaterThan(11), NotFound);
  EXPECT_EQ(s.indexGreaterThanOrEqualTo(3), 3);
  EXPECT_EQ(s.indexGreaterThan(-5), 2);
  EXPECT_EQ(s.indexLessThan(10), 4);
  EXPECT_EQ(s.indexLessThan(2), NotFound);
  EXPECT_EQ(s.indexLessThanOrEqualTo(100), 11);
  EXPECT_EQ(s.indexLessThanOrEqualTo(-1), NotFound);
  std::vector<std::int64_t> seen;
  s.forEach([&](std::int64_t i) {
    seen.push_back(i);
    return i < 4;
  });
  EXPECT_EQ(seen, (std::vector<std::int64_t>{2, 3, 4}));
}

TEST(IndexSet, ShiftingLikeRowsInsertedAndRemoved) {
  IndexSet s({1, 4, 5, 8});
  s.shiftIndexes(5, 2);  // two rows inserted before row 5
  EXPECT_EQ(s.indexes(), (std::vector<std::int64_t>{1, 4, 7, 10}));
  s.shiftIndexes(4, -2);  // rows 2 and 3 removed
  EXPECT_EQ(s.indexes(), (std::vector<std::int64_t>{1, 2, 5, 8}));
  s.shiftIndexes(2, -1);  // row 1 removed: its index goes with it
  EXPECT_EQ(s.indexes(), (std::vector<std::int64_t>{1, 4, 7}));
  s.shiftIndexes(1, -5);  // indexes pushed below zero vanish
  EXPECT_EQ(s.indexes(), (std::vector<std::int64_t>{2}));
  IndexSet run(Range{0, 10});
  run.shiftIndexes(5, 3);
  EXPECT_EQ(run.ranges(), (std::vector<Range>{{0, 5}, {8, 5}}));
}
