#include "Platform/Foundation/IndexSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

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

namespace {

// Sorted, disjoint, never touching, and holding exactly the reference's indexes.
void expectMatches(const IndexSet& s, const std::set<std::int64_t>& reference) {
  const auto& ranges = s.ranges();
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    ASSERT_GT(ranges[i].length, 0);
    if (i > 0) {
      ASSERT_LT(ranges[i - 1].max(), ranges[i].location) << "ranges touch or overlap at " << i;
    }
  }
  ASSERT_EQ(s.count(), static_cast<std::int64_t>(reference.size()));
  ASSERT_EQ(s.indexes(), std::vector<std::int64_t>(reference.begin(), reference.end()));
}

}  // namespace

TEST(IndexSet, RandomEditsAgreeWithAPlainSet) {
  std::mt19937 rng(20261206);
  std::uniform_int_distribution<std::int64_t> where(0, 400), length(0, 12);
  IndexSet s;
  std::set<std::int64_t> reference;
  for (int step = 0; step < 4000; ++step) {
    const Range r{where(rng), length(rng)};
    switch (rng() % 4) {
      case 0:
      case 1:
        s.add(r);
        for (std::int64_t i = r.location; i < r.max(); ++i) reference.insert(i);
        break;
      case 2:
        s.remove(r);
        for (std::int64_t i = r.location; i < r.max(); ++i) reference.erase(i);
        break;
      default: {
        IndexSet other;
        std::set<std::int64_t> picked;
        for (int k = 0; k < 6; ++k) {
          const Range part{where(rng), length(rng)};
          other.add(part);
          for (std::int64_t i = part.location; i < part.max(); ++i) picked.insert(i);
        }
        if (rng() % 2) {
          s.add(other);
          reference.insert(picked.begin(), picked.end());
        } else {
          s.remove(other);
          for (auto i : picked) reference.erase(i);
        }
      }
    }
    expectMatches(s, reference);
    if (HasFatalFailure()) return;
    // Queries answer as the plain set does.
    const std::int64_t probe = where(rng) - 5;
    auto atOrAfter = reference.lower_bound(probe);
    ASSERT_EQ(s.indexGreaterThanOrEqualTo(probe), atOrAfter == reference.end() ? NotFound : *atOrAfter);
    auto after = reference.upper_bound(probe);
    ASSERT_EQ(s.indexLessThanOrEqualTo(probe),
              probe < 0 || after == reference.begin() ? NotFound : *std::prev(after));
    ASSERT_EQ(s.contains(probe), reference.count(probe) > 0);
    const Range window{probe, length(rng) * 4};
    std::int64_t inWindow = 0;
    for (auto i : reference) inWindow += i >= window.location && i < window.max();
    ASSERT_EQ(s.countInRange(window), inWindow) << window.location << "+" << window.length;
    ASSERT_EQ(s.intersectsRange(window), inWindow > 0);
  }
  // Ranges reaching the top of the index space are refused or cut, never wrap around.
  s.add(Range{NotFound - 2, 5});
  s.remove(Range{3, NotFound});
  for (auto it = reference.lower_bound(3); it != reference.end();) it = reference.erase(it);
  expectMatches(s, reference);
}

// Many separate ranges in random order, then the gaps between them: each insertion finds its
// place instead of rebuilding the whole list.
TEST(IndexSet, ManySeparateRangesInAnyOrder) {
  constexpr std::int64_t kRanges = 20000;
  std::vector<std::int64_t> starts(kRanges);
  for (std::int64_t i = 0; i < kRanges; ++i) starts[static_cast<std::size_t>(i)] = i * 10;
  std::shuffle(starts.begin(), starts.end(), std::mt19937(7));
  IndexSet s;
  for (auto start : starts) s.add(Range{start, 3});
  ASSERT_EQ(s.ranges().size(), static_cast<std::size_t>(kRanges));
  EXPECT_EQ(s.count(), 3 * kRanges);
  EXPECT_EQ(s.ranges()[1234], (Range{12340, 3}));
  EXPECT_FALSE(s.contains(12343));

  IndexSet gaps;
  for (auto start : starts) gaps.add(Range{start + 3, 7});
  s.add(gaps);
  EXPECT_EQ(s.ranges(), (std::vector<Range>{{0, 10 * kRanges}}));
  for (auto start : starts) s.remove(Range{start + 5, 2});
  ASSERT_EQ(s.ranges().size(), static_cast<std::size_t>(kRanges) + 1);  // the last hole leaves a tail
  EXPECT_EQ(s.ranges()[1], (Range{7, 8}));
  EXPECT_EQ(s.ranges().back(), (Range{10 * kRanges - 3, 3}));
  // Walking a selection index by index, as views do, finds each next index directly.
  std::int64_t walked = 0, last = -1;
  for (std::int64_t i = s.firstIndex(); i != NotFound; i = s.indexGreaterThan(i)) {
    ASSERT_GT(i, last);
    last = i;
    ++walked;
  }
  EXPECT_EQ(walked, 8 * kRanges);
  EXPECT_EQ(s.countInRange(Range{10, 20}), 16);
  EXPECT_EQ(s.count(), 8 * kRanges);
}
