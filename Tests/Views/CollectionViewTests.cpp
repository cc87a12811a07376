#include "CollectionViewFixture.h"

#include "Views/TileCollectionViewReusableView.h"

#include <algorithm>

using namespace kesto;
using namespace kesto::test;

namespace {

std::size_t hiddenCells(TileCollectionView& view) {
  std::size_t n = 0;
  for (auto& v : view.documentView()->subviews())
    if (v->isHidden()) ++n;
  return n;
}

struct AssertionRecorder {
  AssertionRecorder() {
    fnd::setAssertionPolicy(fnd::AssertionPolicy::Record);
    fnd::clearRecordedFailures();
  }
  ~AssertionRecorder() { fnd::setAssertionPolicy(fnd::AssertionPolicy::Throw); }
  std::vector<std::string> reasons() const {
    std::vector<std::string> r;
    for (auto& f : fnd::recordedFailures()) r.push_back(f.reason);
    return r;
  }
};

}  // namespace

TEST(CollectionView, ShowsNothingWithoutDataSourceOrBeforeTheFirstReload) {
  CollectionHarness h(800, 600, {250, 310}, {100});
  h.view->setFrameSize({700, 500});
  h.view->layoutSubtreeIfNeeded();
  EXPECT_TRUE(h.view->visibleCells().empty());
  EXPECT_EQ(h.source.cellsAsked, 0);
  h.view->setDataSource(nullptr);
  h.view->reloadData();
  EXPECT_TRUE(h.view->visibleCells().empty());
}

TEST(CollectionView, OnlyVisibleItemsGetCellsAndScrolledOutCellsAreReused) {
  // 800 wide: 3 columns of 250; 600 high with 310-point rows: rows 0 and 1 are visible.
  CollectionHarness h(800, 600, {250, 310}, {100}, 2);
  h.view->reloadData();
  EXPECT_EQ(h.view->visibleCells().size(), 6u);
  EXPECT_EQ(h.source.cellsAsked, 6);
  auto first = h.view->cellForItemAtIndexPath(IndexPath::forItem(0, 0));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->frame(), fnd::Rect(12, 0, 250, 310));
  EXPECT_EQ(first->reuseIdentifier(), "cell");
  // Scroll one row down: row 0 leaves (3 cells to the pool, hidden but kept), row 2 enters.
  h.clip().scrollToPoint({0, 312});
  EXPECT_EQ(h.view->visibleCells().size(), 6u);
  EXPECT_EQ(h.view->reusableCellCount("cell"), 0u);  // the pool was drained again by row 2
  EXPECT_EQ(hiddenCells(*h.view), 0u);
  EXPECT_EQ(h.source.count("end 0.0"), 1);
  EXPECT_FALSE(h.view->cellForItemAtIndexPath(IndexPath::forItem(0, 0)));
  // Row 2 was built from the recycled cells: no new cell was created.
  EXPECT_EQ(h.view->documentView()->subviews().size(), 6u);
  EXPECT_EQ(h.view->cellForItemAtIndexPath(IndexPath::forItem(6, 0))->frame().origin.y, 624);
  // A reload drops every pool and view and builds afresh.
  h.view->reloadData();
  EXPECT_EQ(h.view->documentView()->subviews().size(), 6u);
  EXPECT_EQ(h.view->reusableCellCount("cell"), 0u);
}

// A data source that asks is told the items coming into sight, all of them before the first of
// their cells, and only those: items that keep their cells through a scroll are not told again.
TEST(CollectionView, ItemsComingIntoSightAreAnnouncedTogetherBeforeTheirCells) {
  CollectionHarness h(800, 600, {250, 310}, {100}, 2);
  h.source.announcesComing = true;
  h.view->setDataSource(&h.source);
  h.view->reloadData();
  using Coming = std::vector<std::pair<std::vector<std::int64_t>, int>>;
  EXPECT_EQ(h.source.coming, (Coming{{{0, 1, 2, 3, 4, 5}, 0}}));
  h.source.coming.clear();
  h.clip().scrollToPoint({0, 10});  // the same rows still in sight
  EXPECT_TRUE(h.source.coming.empty());
  h.clip().scrollToPoint({0, 312});  // row 0 leaves, row 2 comes
  EXPECT_EQ(h.source.coming, (Coming{{{6, 7, 8}, 6}}));
  EXPECT_EQ(h.source.cellsAsked, 9);
  // Without asking, nothing is announced.
  h.source.announcesComing = false;
  h.view->setDataSource(&h.source);
  h.source.coming.clear();
  h.clip().scrollToPoint({0, 2000});
  h.view->reloadData();
  EXPECT_TRUE(h.source.coming.empty());
}

// A cell scrolled out goes to the pool without being hidden, so one handed back for the row
// coming in only moves (showing it again would ask the window system for the pointer); a cell left
// in the pool where the list is shown is hidden, never drawn with the row it no longer holds.
TEST(CollectionView, ScrollingMovesPooledCellsWithoutHidingThemAndNeverShowsAStaleOne) {
  struct HidingCell : TileCollectionViewCell {
    using TileCollectionViewCell::TileCollectionViewCell;
    int hides = 0;
    void setHidden(bool hidden) override {
      if (hidden && !isHidden()) ++hides;
      TileCollectionViewCell::setHidden(hidden);
    }
  };
  // 200 high with 100-point rows: two rows in sight, three while between rows.
  CollectionHarness h(300, 200, {300, 100}, {10});
  h.view->registerClass(TileCollectionView::cellClass<HidingCell>(), "cell");
  h.view->reloadData();
  auto noStaleCellInSight = [](CollectionHarness& harness) {
    const fnd::Rect visible = harness.view->documentVisibleRect();
    const auto shown = harness.view->visibleCells();
    for (auto& v : harness.view->documentView()->subviews()) {
      if (v->isHidden() || !v->frame().intersects(visible)) continue;
      EXPECT_NE(std::find(shown.begin(), shown.end(), v), shown.end()) << "a pooled cell in sight at y " << v->frame().origin.y;
    }
    for (auto& cell : shown) EXPECT_FALSE(cell->isHidden());
  };
  h.clip().scrollToPoint({0, 50});  // items 0 to 2
  ASSERT_EQ(h.view->visibleCells().size(), 3u);
  auto first = std::dynamic_pointer_cast<HidingCell>(h.view->cellForItemAtIndexPath(IndexPath::forItem(0, 0)));
  ASSERT_TRUE(first);
  for (double y : {100.0, 150.0, 250.0, 350.0}) {  // item 0 leaves, then its cell comes back for a later row
    h.clip().scrollToPoint({0, y});
    noStaleCellInSight(h);
  }
  EXPECT_EQ(first->hides, 0);
  EXPECT_FALSE(first->isHidden());
  EXPECT_NE(first->indexPath(), IndexPath::forItem(0, 0));
  // Three columns, the last row short: scrolling to the end leaves more cells in the pool than
  // the rows coming in take, some where the list shows next.
  CollectionHarness g(300, 200, {100, 100}, {10});
  g.view->reloadData();
  for (double y : {200.0, 100.0, 0.0, 200.0, 50.0}) {
    g.clip().scrollToPoint({0, y});
    noStaleCellInSight(g);
  }
}

TEST(CollectionView, ReloadingVisibleItemsAsksOnlyForTheChangedOnesInPlace) {
  CollectionHarness h(800, 600, {250, 310}, {100}, 2);
  h.view->reloadData();
  h.view->selectItemAtIndexPath(IndexPath::forItem(4, 0), false);
  ASSERT_EQ(h.source.cellsAsked, 6);
  const auto frameOf4 = h.view->cellForItemAtIndexPath(IndexPath::forItem(4, 0))->frame();
  auto kept = h.view->cellForItemAtIndexPath(IndexPath::forItem(0, 0));
  std::vector<IndexPath> asked;
  h.source.makeCell = [&](TileCollectionView& cv, const IndexPath& p) {
    asked.push_back(p);
    return cv.dequeueReusableCellWithIdentifier("cell");
  };
  // Items 1 and 4 shown, 50 off screen: only the two shown are made again, where they were,
  // the selection kept and no cell left over.
  h.view->reloadVisibleItems([](const IndexPath& p) { return p.item == 1 || p.item == 4 || p.item == 50; });
  std::sort(asked.begin(), asked.end(), [](const IndexPath& a, const IndexPath& b) { return a.item < b.item; });
  EXPECT_EQ(asked, (std::vector<IndexPath>{IndexPath::forItem(1, 0), IndexPath::forItem(4, 0)}));
  EXPECT_EQ(h.source.count("end 0.1"), 1);
  EXPECT_EQ(h.view->visibleCells().size(), 6u);
  EXPECT_EQ(h.view->cellForItemAtIndexPath(IndexPath::forItem(0, 0)), kept);
  EXPECT_EQ(h.view->cellForItemAtIndexPath(IndexPath::forItem(4, 0))->frame(), frameOf4);
  EXPECT_TRUE(h.view->cellForItemAtIndexPath(IndexPath::forItem(4, 0))->isSelected());
  EXPECT_EQ(h.view->documentView()->subviews().size(), 6u);
  EXPECT_EQ(hiddenCells(*h.view), 0u);
  // Nothing shown changed: nothing asked.
  asked.clear();
  h.view->reloadVisibleItems([](const IndexPath& p) { return p.item == 50; });
  EXPECT_TRUE(asked.empty());
}

TEST(CollectionView, InsertedAndRemovedItemsMoveTheCellsAndSelectionWithThem) {
  // Three columns of 100 x 100, two rows shown: items 0-5.
  CollectionHarness h(300, 200, {100, 100}, {20});
  h.view->reloadData();
  for (int item : {1, 4, 12, 19}) h.view->selectItemAtIndexPath(IndexPath::forItem(item, 0), false);
  auto cellOf = [&](int item) { return h.view->cellForItemAtIndexPath(IndexPath::forItem(item, 0)); };
  auto was0 = cellOf(0), was2 = cellOf(2), was4 = cellOf(4), was5 = cellOf(5);
  const auto shown = h.view->visibleCells().size();
  std::vector<IndexPath> asked;
  h.source.makeCell = [&](TileCollectionView& cv, const IndexPath& p) {
    asked.push_back(p);
    return cv.dequeueReusableCellWithIdentifier("cell");
  };
  // Items 1 and 3 leave; three come at 0, 2 and 19 (places in the new 21): old 0 goes to 1,
  // old 2 to 3, old 4 and on keep their places up to 18, old 19 goes to 20.
  h.source.counts = {21};
  ASSERT_TRUE(h.view->itemsChanged({1, 3}, {0, 2, 19}));
  EXPECT_EQ(h.view->numberOfItemsInSection(0), 21);
  EXPECT_EQ(cellOf(1), was0);
  EXPECT_EQ(cellOf(3), was2);
  EXPECT_EQ(cellOf(4), was4);
  EXPECT_EQ(cellOf(5), was5);
  EXPECT_EQ(was0->frame(), fnd::Rect(100, 0, 100, 100));
  EXPECT_EQ(was4->indexPath(), IndexPath::forItem(4, 0));
  // Only the new items in sight are asked for.
  std::sort(asked.begin(), asked.end(), [](const IndexPath& a, const IndexPath& b) { return a.item < b.item; });
  EXPECT_EQ(asked, (std::vector<IndexPath>{IndexPath::forItem(0, 0), IndexPath::forItem(2, 0)}));
  // Item 1 left the selection; the others stayed with their items.
  auto selected = h.view->selectedIndexes();
  std::sort(selected.begin(), selected.end(), [](const IndexPath& a, const IndexPath& b) { return a.item < b.item; });
  EXPECT_EQ(selected, (std::vector<IndexPath>{IndexPath::forItem(4, 0), IndexPath::forItem(12, 0), IndexPath::forItem(20, 0)}));
  EXPECT_TRUE(was4->isSelected());
  EXPECT_FALSE(cellOf(0)->isSelected());
  EXPECT_EQ(h.view->visibleCells().size(), shown);
  EXPECT_EQ(hiddenCells(*h.view), 0u);

  // A change that does not add up to the data source's count, or out of range, does nothing.
  h.source.counts = {25};
  EXPECT_FALSE(h.view->itemsChanged({}, {0}));
  h.source.counts = {21};
  EXPECT_FALSE(h.view->itemsChanged({21}, {0}));
  EXPECT_FALSE(h.view->itemsChanged({3, 1}, {0, 2}));
  EXPECT_EQ(h.view->numberOfItemsInSection(0), 21);
  EXPECT_EQ(cellOf(4), was4);
}

TEST(CollectionView, DequeueHandsBackTheRecycledCellWithPrepareForReuse) {
  struct CountingCell : TileCollectionViewCell {
    using TileCollectionViewCell::TileCollectionViewCell;
    int prepared = 0;
    void prepareForReuse() override {
      ++prepared;
      TileCollectionViewCell::prepareForReuse();
    }
  };
  CollectionHarness h(300, 100, {300, 100}, {10});
  h.view->registerClass(TileCollectionView::cellClass<CountingCell>(), "cell");
  h.view->reloadData();
  auto cell = std::dynamic_pointer_cast<CountingCell>(h.view->cellForItemAtIndexPath(IndexPath::forItem(0, 0)));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->prepared, 1);
  h.clip().scrollToPoint({0, 500});
  // Item 5 entered as item 0 left: the same cell object, prepared again.
  EXPECT_EQ(h.view->cellForItemAtIndexPath(IndexPath::forItem(5, 0)), cell);
  EXPECT_EQ(cell->prepared, 2);
  EXPECT_EQ(cell->indexPath(), IndexPath::forItem(5, 0));
}

TEST(CollectionView, RegistrationKeepsOnlyTheLatestKindOfSource) {
  AssertionRecorder recorder;
  ui::Nib::registerBuilder("EmptyCellNib", [](void*, ui::Nib::TopLevelObjects& objects) {
    objects.push_back(std::make_shared<ui::View>());  // no cell among the top-level objects
    return true;
  });
  CollectionHarness h(300, 100, {300, 100}, {1});
  h.view->registerNib(std::make_shared<ui::Nib>("EmptyCellNib"), "cell");
  EXPECT_FALSE(h.view->dequeueReusableCellWithIdentifier("cell"));
  h.view->reloadData();
  EXPECT_TRUE(h.view->visibleCells().empty());
  auto reasons = recorder.reasons();
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_EQ(reasons[0], "collectionView:cellForItemAtIndexPath: must return a non-nil cell.");
  EXPECT_EQ(reasons[1], "collectionView:cellForItemAtIndexPath: must return an instance or subclass of TileCollectionViewCell.");
  // The class registered after the nib replaces it; an unknown identifier makes a plain cell.
  h.view->registerClass(TileCollectionView::cellClass<TileCollectionViewCell>(), "cell");
  EXPECT_TRUE(h.view->dequeueReusableCellWithIdentifier("cell"));
  EXPECT_TRUE(h.view->dequeueReusableCellWithIdentifier("other"));
  recorder.reasons();
  fnd::clearRecordedFailures();
  h.view->registerClass(nullptr, "cell");
  h.view->dequeueReusableCellWithIdentifier("");
  reasons = recorder.reasons();
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_EQ(reasons[0], "Invalid parameter not satisfying: cellClass");
  EXPECT_EQ(reasons[1], "Invalid parameter not satisfying: identifier");
  ui::Nib::unregisterBuilder("EmptyCellNib");
}

TEST(CollectionView, LayoutsBelongToOneCollectionView) {
  AssertionRecorder recorder;
  CollectionHarness a(300, 100, {100, 100}, {3});
  CollectionHarness b(300, 100, {100, 100}, {3});
  a.view->setCollectionViewLayout(a.grid);  // the current layout again: nothing happens
  EXPECT_TRUE(recorder.reasons().empty());
  b.view->setCollectionViewLayout(a.grid);
  ASSERT_EQ(recorder.reasons().size(), 1u);
  EXPECT_EQ(recorder.reasons()[0], "Collection view layouts should not be reused between separate collection view instances.");
  EXPECT_EQ(b.view->collectionViewLayout(), b.grid);
  // A replaced layout stays attached to its old view.
  auto other = std::make_shared<TileCollectionViewGridLayout>();
  a.view->setCollectionViewLayout(other);
  a.view->setCollectionViewLayout(a.grid);
  EXPECT_EQ(recorder.reasons().size(), 2u);
}

TEST(CollectionViewData, SectionsCountsAndEncompassingSize) {
  CollectionHarness h(300, 300, {100, 100}, {3, 0, 7});
  h.source.answerSections = false;
  h.view->setDataSource(&h.source);
  h.view->reloadData();
  EXPECT_EQ(h.view->numberOfSections(), 1);  // without the optional method: one section
  h.source.answerSections = true;
  h.view->setDataSource(&h.source);
  h.view->reloadData();
  EXPECT_EQ(h.view->numberOfSections(), 3);
  EXPECT_EQ(h.view->numberOfItemsInSection(2), 7);
  EXPECT_EQ(h.view->numberOfItemsInSection(3), 0);
  EXPECT_EQ(h.view->numberOfItemsInSection(-1), 0);
  EXPECT_EQ(h.view->rectForSection(-1), fnd::Rect());
  EXPECT_EQ(h.view->rectForSection(3), fnd::Rect());
  EXPECT_TRUE(h.view->indexPathsForItemsInRect(fnd::Rect()).empty());
  EXPECT_TRUE(h.view->indexesForSectionsInRect(fnd::Rect()).isEmpty());
  // 3 columns: 3 items make 1 row, none 0 rows, 7 items 3 rows: 100 + 0 + 300 = 400 high.
  EXPECT_EQ(h.view->data().encompassingSize(), (fnd::Size{300, 400}));
  EXPECT_EQ(h.view->documentView()->frame().size, (fnd::Size{300, 400}));
  h.source.counts = {1};
  h.view->reloadData();
  EXPECT_EQ(h.view->data().encompassingSize(), (fnd::Size{300, 300}));  // never below the visible size
}

// A reload hands the cells shown back to the data source instead of making new ones; those the
// new rows do not need are hidden, and a new cell registration is never served old cells.
TEST(CollectionViewData, AReloadReusesTheCellsShownAndHidesTheRest) {
  CollectionHarness h(300, 300, {100, 100}, {9});
  std::vector<std::shared_ptr<TileCollectionViewCell>> made;
  h.source.makeCell = [&](TileCollectionView& cv, const IndexPath&) {
    auto cell = cv.dequeueReusableCellWithIdentifier("cell");
    if (std::find(made.begin(), made.end(), cell) == made.end()) made.push_back(cell);
    return cell;
  };
  h.view->reloadData();
  ASSERT_EQ(h.view->visibleCells().size(), 9u);
  ASSERT_EQ(made.size(), 9u);
  h.view->reloadData();
  EXPECT_EQ(made.size(), 9u) << "no cell made again";
  EXPECT_EQ(h.view->visibleCells().size(), 9u);
  for (const auto& cell : h.view->visibleCells()) EXPECT_FALSE(cell->isHidden());
  // Fewer rows: the cells left over stay in the pool, out of sight, and come back later.
  h.source.counts = {4};
  h.view->reloadData();
  EXPECT_EQ(h.view->visibleCells().size(), 4u);
  int hidden = 0;
  for (const auto& cell : made) hidden += cell->isHidden() ? 1 : 0;
  EXPECT_EQ(hidden, 5);
  EXPECT_EQ(h.view->reusableCellCount("cell"), 5u);
  h.source.counts = {9};
  h.view->reloadData();
  EXPECT_EQ(made.size(), 9u);
  for (const auto& cell : h.view->visibleCells()) EXPECT_FALSE(cell->isHidden());
  // Each shown cell is where its own row is.
  for (const auto& cell : h.view->visibleCells()) EXPECT_EQ(cell->frame(), h.view->rectForItemAtIndexPath(cell->indexPath()));
  // Another kind of cell registered: the old ones are not handed out again.
  struct Other : TileCollectionViewCell {
    using TileCollectionViewCell::TileCollectionViewCell;
  };
  h.view->registerClass(TileCollectionView::cellClass<Other>(), "cell");
  h.view->reloadData();
  for (const auto& cell : h.view->visibleCells()) EXPECT_TRUE(dynamic_cast<Other*>(cell.get())) << "an old cell reused";
}

TEST(CollectionViewData, NegativeSectionCountsGiveNoSections) {
  struct Negative : FakeSource {
    std::int64_t numberOfSectionsInCollectionView(TileCollectionView&) override { return -4; }
  } source;
  CollectionHarness h(300, 300, {100, 100}, {3});
  h.view->setDataSource(&source);
  h.view->reloadData();
  EXPECT_EQ(h.view->numberOfSections(), 0);
  EXPECT_TRUE(h.view->allIndexPaths().empty());
  h.view->setDataSource(nullptr);
}

TEST(CollectionViewData, BaseLayoutUnionsItemFramesAndKeepsCountsWithoutLayout) {
  struct Fixed : TileCollectionViewLayout {
    std::optional<TileCollectionViewLayoutAttributes> layoutAttributesForItemAtIndexPath(const IndexPath& p) override {
      TileCollectionViewLayoutAttributes a;
      a.frame = fnd::Rect(0, 40 + 100.0 * double(p.item), 50, 100);  // starts 40 below the top
      a.alpha = 1;
      return a;
    }
  };
  TileCollectionViewData data(nullptr);
  data.recalculateAndPrepareLayout(true);  // no collection view, no layout: nothing happens
  EXPECT_EQ(data.numberOfSections(), 0);

  CollectionHarness h(300, 300, {100, 100}, {5});
  auto fixed = std::make_shared<Fixed>();
  h.view->setCollectionViewLayout(fixed);
  h.view->reloadData();
  EXPECT_EQ(h.view->rectForSection(0), fnd::Rect(0, 40, 50, 500));
  // The content reaches the far corner (540), so the last item can be scrolled into view.
  EXPECT_EQ(h.view->data().encompassingSize().height, 540);
  h.clip().scrollToPoint({0, 10000});
  EXPECT_EQ(h.view->documentVisibleRect().maxY(), 540);
  // The plain base layout: items have no attributes, so the section frame is the zero rect.
  auto base = std::make_shared<TileCollectionViewLayout>();
  h.view->setCollectionViewLayout(base);
  EXPECT_EQ(h.view->rectForSection(0), fnd::Rect());
  EXPECT_EQ(h.view->data().encompassingSize(), (fnd::Size{300, 300}));
  EXPECT_TRUE(h.view->hasVerticalScroller());
  EXPECT_FALSE(h.view->hasHorizontalScroller());
}

TEST(CollectionView, WidthChangeRelaysOutHeightChangeKeepsTheLayout) {
  CollectionHarness h(800, 600, {250, 310}, {10});
  h.view->reloadData();
  EXPECT_EQ(h.grid->numberOfColumns(), 3u);
  h.view->setFrameSize({540, 600});
  h.view->layoutSubtreeIfNeeded();
  EXPECT_EQ(h.grid->numberOfColumns(), 2u);
  EXPECT_EQ(h.view->cellForItemAtIndexPath(IndexPath::forItem(1, 0))->frame().origin.x, 276);  // padding 13
  int asked = h.source.cellsAsked;
  h.view->setFrameSize({540, 700});
  h.view->layoutSubtreeIfNeeded();
  EXPECT_EQ(h.grid->numberOfColumns(), 2u);
  // Cells were kept (no reset); only the new row was asked for.
  EXPECT_EQ(h.source.cellsAsked, asked + 2);
}

TEST(SupplementaryViews, ShownOnlyWhenTheDataSourceProvidesThem) {
  struct Source : FakeSource {
    bool supplementary = true;
    unsigned implementedDataSourceMethods() const override {
      return NumberOfSectionsInCollectionView | (supplementary ? ViewForSupplementaryViewOfKind : 0u);
    }
    std::shared_ptr<ui::View> collectionViewViewForSupplementaryViewOfKind(TileCollectionView& cv, const std::string& kind,
                                                                          std::int64_t) override {
      return cv.dequeueReusableSupplementaryViewOfKind(kind, "header");
    }
  } source;
  FakeGridDelegate delegate;
  delegate.methods = TileCollectionViewGridLayoutDelegate::HeightForHeader;
  delegate.header = 30;
  CollectionHarness h(300, 200, {100, 100}, {3});
  source.counts = {3, 3, 3};
  h.grid->setDelegate(&delegate);
  h.view->registerClass(TileCollectionView::supplementaryViewClass<TileCollectionViewReusableView>(),
                        TileCollectionViewGridLayoutHeader, "header");
  source.supplementary = false;
  h.view->setDataSource(&source);
  h.view->reloadData();
  EXPECT_EQ(h.view->visibleSupplementaryViewCount(), 0u);
  source.supplementary = true;
  h.view->setDataSource(&source);
  h.view->reloadData();
  // Sections are 130 high (30 header + 100 row): headers at 0 and 130 are visible in 200.
  EXPECT_EQ(h.view->visibleSupplementaryViewCount(), 2u);
  auto header = h.view->supplementaryViewForKind(TileCollectionViewGridLayoutHeader, "header", 1);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->frame(), fnd::Rect(0, 130, 300, 30));
  EXPECT_EQ(header->kind(), TileCollectionViewGridLayoutHeader);
  h.clip().scrollToPoint({0, 140});
  EXPECT_FALSE(h.view->supplementaryViewForKind(TileCollectionViewGridLayoutHeader, "header", 0));
  EXPECT_TRUE(h.view->supplementaryViewForKind(TileCollectionViewGridLayoutHeader, "header", 2));
  EXPECT_TRUE(h.view->layoutIdentifiersForSupplementaryViewsInRect(fnd::Rect()).empty());
  h.view->setDataSource(nullptr);
}

TEST(SupplementaryViews, IdentifiersAndRegistrationContracts) {
  AssertionRecorder recorder;
  EXPECT_EQ(TileCollectionView::supplementaryViewIdentifierWithKind("Header", "r"), "Header/r");
  std::string layoutId = TileCollectionView::layoutIdentifierForSupplementaryViewIdentifier("Header/r", 12);
  EXPECT_EQ(layoutId, "12/Header/r");
  EXPECT_EQ(TileCollectionView::sectionForSupplementaryLayoutIdentifier(layoutId), 12);
  EXPECT_EQ(TileCollectionView::supplementaryViewIdentifierForLayoutIdentifier(layoutId), "Header/r");
  EXPECT_EQ(TileCollectionView::kindForSupplementaryViewIdentifier("Header/r"), "Header");
  EXPECT_EQ(TileCollectionView::reuseIdentifierForSupplementaryViewIdentifier("Header/r"), "r");
  EXPECT_EQ(TileCollectionView::sectionForSupplementaryLayoutIdentifier("x/Header/r"), 0);

  CollectionHarness h(300, 100, {100, 100}, {3});
  h.view->dequeueReusableSupplementaryViewOfKind("", "");
  h.view->registerClass(TileCollectionView::supplementaryViewClass<TileCollectionViewReusableView>(), "Head/er", "r");
  h.view->registerClass(TileCollectionView::supplementaryViewClass<TileCollectionViewReusableView>(), "A", "r");
  h.view->registerNib(std::make_shared<ui::Nib>("x"), "A", "r");
  h.view->registerClass(TileCollectionView::supplementaryViewClass<TileCollectionViewReusableView>(), "B", "r");
  auto reasons = recorder.reasons();
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_EQ(reasons[0], "Invalid parameter not satisfying: reuseIdentifier");  // checked before the kind
  EXPECT_NE(reasons[1].find("must not contain"), std::string::npos);
  // "A/r" now has only the nib; two kinds with one reuse identifier are separate entries.
  auto ids = h.view->allSupplementaryViewIdentifiers();
  EXPECT_EQ(ids, (std::vector<std::string>{"B/r", "A/r"}));
}
