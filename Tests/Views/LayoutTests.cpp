#include "CollectionViewFixture.h"

#include "Views/Unused/TileCollectionViewListLayout.h"

using namespace kesto;
using namespace kesto::test;

namespace {
std::vector<std::int64_t> items(const std::vector<IndexPath>& paths) {
  std::vector<std::int64_t> out;
  for (auto& p : paths) out.push_back(p.item);
  return out;
}
}  // namespace

TEST(GridLayout, ColumnsAndPaddingForTheVisibleWidth) {
  CollectionHarness h(800, 600, {250, 310}, {7});
  h.view->reloadData();
  EXPECT_EQ(h.grid->numberOfColumns(), 3u);
  EXPECT_EQ(h.grid->itemPadding(), 12);  // floor(50 / 4)
  EXPECT_EQ(h.view->rectForItemAtIndexPath(IndexPath::forItem(1, 0)).origin.x, 274);
  EXPECT_EQ(h.view->rectForItemAtIndexPath(IndexPath::forItem(2, 0)).origin.x, 536);

  h.grid->setItemPaddingEnabled(false);
  h.grid->invalidateLayout();
  EXPECT_EQ(h.grid->itemPadding(), 0);
  EXPECT_EQ(h.view->rectForItemAtIndexPath(IndexPath::forItem(2, 0)).origin.x, 500);

  h.grid->setItemHorizontalMargin(10);
  h.grid->setItemPaddingEnabled(true);
  h.grid->invalidateLayout();
  EXPECT_EQ(h.grid->numberOfColumns(), 3u);  // floor(790 / 260)
  EXPECT_EQ(h.grid->itemPadding(), 10);

  // Narrower than one item: one column without padding, at the left inset.
  FakeGridDelegate d;
  d.methods = TileCollectionViewGridLayoutDelegate::InsetForSection;
  d.insets = fnd::EdgeInsets{0, 7, 0, 0};
  h.grid->setDelegate(&d);
  h.grid->setItemHorizontalMargin(0);
  h.view->setFrameSize({200, 600});
  h.view->layoutSubtreeIfNeeded();
  EXPECT_EQ(h.grid->numberOfColumns(), 1u);
  EXPECT_EQ(h.grid->itemPadding(), 0);
  EXPECT_EQ(h.view->rectForItemAtIndexPath(IndexPath::forItem(3, 0)), fnd::Rect(7, 930, 250, 310));
}

TEST(GridLayout, SectionsStackHeaderRowsFooterAndInsets) {
  FakeGridDelegate d;
  d.methods = TileCollectionViewGridLayoutDelegate::HeightForHeader | TileCollectionViewGridLayoutDelegate::HeightForFooter |
              TileCollectionViewGridLayoutDelegate::SizeForItem;
  d.size = {250, 100};
  d.header = 10.7;  // truncated to 10
  d.footer = 10;
  CollectionHarness h(800, 600, {44, 44}, {7, 0, 2}, 2);
  h.grid->setDelegate(&d);
  h.view->reloadData();
  EXPECT_EQ(h.grid->itemSize(), (fnd::Size{250, 100}));  // the delegate's size wins
  auto& s0 = *h.grid->sections()[0];
  EXPECT_EQ(s0.headerHeight, 10);
  EXPECT_EQ(s0.offset, 10);
  EXPECT_EQ(s0.height, 304);  // 3 rows of 100 and two gaps of 2
  EXPECT_EQ(h.view->rectForSection(0), fnd::Rect(0, 0, 800, 324));
  EXPECT_EQ(h.view->rectForSupplementaryViewWithKind(TileCollectionViewGridLayoutHeader, 0), fnd::Rect(0, 0, 800, 10));
  EXPECT_EQ(h.view->rectForSupplementaryViewWithKind(TileCollectionViewGridLayoutFooter, 0), fnd::Rect(0, 314, 800, 10));
  // The empty section still takes its header and footer.
  auto& s1 = *h.grid->sections()[1];
  EXPECT_EQ(s1.height, 0);
  EXPECT_EQ(s1.offset, 334);
  EXPECT_EQ(h.grid->sections()[2]->offset, 334 + 20);
  EXPECT_EQ(h.view->rectForSupplementaryViewWithKind("Other", 0), fnd::Rect());
  // One section on a 600-high view: the content is 600 high; on a 200-high one, 324.
  h.source.counts = {7};
  h.view->reloadData();
  EXPECT_EQ(h.view->data().encompassingSize().height, 600);
  h.view->setFrameSize({800, 200});
  h.view->layoutSubtreeIfNeeded();
  EXPECT_EQ(h.view->data().encompassingSize().height, 324);
}

TEST(GridLayout, ItemsInRectUseTheRowPitchAndStopAtTheEnd) {
  // Compact items 540 x 100 with spacing 2 in a 1000-wide view: one column.
  CollectionHarness h(1000, 800, {540, 100}, {50000}, 2);
  h.view->reloadData();
  auto& section = *h.grid->sections()[0];
  // Deep in the list the last row is the one the bottom edge reaches, not 2% further.
  fnd::Rect deep(0, 10000 * 102.0, 1000, 800);
  fnd::Range rows = h.grid->rowsInRect(deep, section);
  EXPECT_EQ(rows.location, 10000);
  EXPECT_EQ(rows.max() - 1, 10000 + 7);  // 800 / 102 = 7.8: rows 10000 ... 10007
  EXPECT_EQ(h.view->indexPathsForVisibleItems().size(), 8u);
  // A rect past the last row is clamped to the rows that exist.
  fnd::Rect end(0, 49998 * 102.0, 1000, 5000);
  EXPECT_EQ(h.grid->rowsInRect(end, section).max(), 50000);
  // The bottom edge on the section's top still reaches row 0; zero height reaches nothing.
  EXPECT_EQ(h.grid->rowsInRect(fnd::Rect(0, -50, 10, 50), section), (fnd::Range{0, 1}));
  EXPECT_TRUE(h.view->indexPathsForItemsInRect(fnd::Rect(0, 10, 1000, 0)).empty());
  // The live cells stay at the visible count while scrolling far down.
  h.clip().scrollToPoint({0, 30000 * 102.0});
  EXPECT_EQ(h.view->visibleCells().size(), 8u);
}

TEST(GridLayout, ColumnsInRectProbeLeftEdges) {
  CollectionHarness h(800, 600, {250, 310}, {9});
  h.view->reloadData();
  // Left edges at 12, 274, 536.
  EXPECT_EQ(h.grid->columnsInRect(fnd::Rect(0, 0, 800, 10)), (fnd::Range{0, 3}));
  EXPECT_EQ(h.grid->columnsInRect(fnd::Rect(13, 0, 400, 10)), (fnd::Range{1, 1}));
  EXPECT_EQ(h.grid->columnsInRect(fnd::Rect(0, 0, 12, 10)), (fnd::Range{0, 0}));  // half-open
  EXPECT_EQ(items(*h.grid->indexPathsForItemsInRect(fnd::Rect(0, 300, 800, 20))),
            (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5}));
}

TEST(GridLayout, KeyboardNeighbours) {
  CollectionHarness h(800, 2000, {250, 310}, {7});
  h.view->reloadData();
  auto next = [&](TileCollectionViewDirection d, std::int64_t item) {
    return h.grid->indexPathForNextItemInDirection(d, IndexPath::forItem(item, 0));
  };
  EXPECT_EQ(next(TileCollectionViewDirectionRight, 2), IndexPath::forItem(3, 0));
  EXPECT_EQ(next(TileCollectionViewDirectionLeft, 3), IndexPath::forItem(2, 0));
  EXPECT_EQ(next(TileCollectionViewDirectionLeft, 0), std::nullopt);
  EXPECT_EQ(next(TileCollectionViewDirectionDown, 1), IndexPath::forItem(4, 0));
  EXPECT_EQ(next(TileCollectionViewDirectionUp, 4), IndexPath::forItem(1, 0));
  EXPECT_EQ(next(TileCollectionViewDirectionUp, 1), std::nullopt);
  // Row 2 has only item 6: nothing below item 4 or 5.
  EXPECT_EQ(next(TileCollectionViewDirectionDown, 5), std::nullopt);
  EXPECT_EQ(next(TileCollectionViewDirectionDown, 3), IndexPath::forItem(6, 0));
  // A stale path (item 40 of 7) has no neighbours.
  EXPECT_EQ(next(TileCollectionViewDirectionDown, 40), std::nullopt);
  EXPECT_EQ(next(TileCollectionViewDirectionRight, 40), std::nullopt);
  EXPECT_EQ(h.grid->indexPathForNextItemInDirection(TileCollectionViewDirection(9), IndexPath::forItem(2, 0)),
            IndexPath::forItem(2, 0));
}

TEST(GridLayout, DegenerateItemSizesStayBounded) {
  CollectionHarness h(800, 600, {0, 0}, {5});
  h.view->reloadData();
  EXPECT_LE(h.grid->numberOfColumns(), 1000000u);
  EXPECT_TRUE(h.view->indexPathsForItemsInRect(fnd::Rect(0, 0, 800, 600)).empty());  // no row pitch
  EXPECT_EQ(h.view->indexPathForItemAtPoint({1, 1}), std::nullopt);
}

TEST(GridLayout, InvalidatesOnlyForWidthChanges) {
  TileCollectionViewGridLayout grid;
  EXPECT_TRUE(grid.shouldInvalidateLayoutForBoundsChange(fnd::Rect(0, 0, 800, 600)));
  EXPECT_FALSE(grid.shouldInvalidateLayoutForBoundsChange(fnd::Rect(0, 0, 800, 300)));
  EXPECT_TRUE(grid.shouldInvalidateLayoutForBoundsChange(fnd::Rect(0, 0, 700, 300)));
  EXPECT_EQ(grid.lastInvalidatedBounds(), fnd::Rect(0, 0, 700, 300));
  // Attributes for paths the cache does not know are absent rather than read past the arrays.
  EXPECT_FALSE(grid.layoutAttributesForItemAtIndexPath(IndexPath::forItem(0, 0)));
}

namespace {
struct ListHarness {
  CollectionHarness h;
  std::shared_ptr<TileCollectionViewListLayout> list = std::make_shared<TileCollectionViewListLayout>();
  ListHarness(std::vector<std::uint64_t> counts, double height = 300) : h(400, height, {44, 44}, std::move(counts)) {
    h.view->setCollectionViewLayout(list);
  }
};

struct ListDelegate : TileCollectionViewListLayoutDelegate {
  double header = 0, footer = 0;
  unsigned implementedListLayoutMethods() const override { return HeightForHeader | HeightForFooter; }
  double collectionViewHeightForHeaderInSection(TileCollectionView&, std::int64_t) override { return header; }
  double collectionViewHeightForFooterInSection(TileCollectionView&, std::int64_t) override { return footer; }
};
}  // namespace

TEST(ListLayout, RowsSpacingHeadersAndFooters) {
  ListHarness l({3, 2});
  l.h.view->reloadData();
  auto& s0 = *l.list->sections()[0];
  EXPECT_EQ(s0.height, 132);
  EXPECT_EQ(s0.frame, fnd::Rect(0, 0, 400, 132));
  EXPECT_EQ(l.h.view->rectForItemAtIndexPath(IndexPath::forItem(2, 0)), fnd::Rect(0, 88, 400, 44));
  EXPECT_EQ(l.list->sections()[1]->offset, 132);  // no gap between sections

  l.list->setVerticalSpacing(2);
  ListDelegate d;
  d.header = 20.7;
  d.footer = 10.9;
  l.list->setDelegate(&d);
  l.h.source.counts = {3, 0};
  l.h.view->reloadData();
  auto& t0 = *l.list->sections()[0];
  EXPECT_EQ(t0.headerHeight, 20);
  EXPECT_EQ(t0.rowInfo[0].offset, 20);
  EXPECT_EQ(t0.rowInfo[2].offset, 20 + 92);
  EXPECT_EQ(t0.height, 20 + 136 + 10);
  auto footer = l.list->layoutAttributesForSupplementaryItemInSection(0, TileCollectionViewListLayoutFooter);
  EXPECT_EQ(footer->frame, fnd::Rect(0, t0.height - 10, 400, 10));
  EXPECT_EQ(footer->zIndex, INT64_MAX);
  EXPECT_EQ(l.list->sections()[1]->height, 30);  // an empty section: header and footer only
  auto other = l.list->layoutAttributesForSupplementaryItemInSection(0, "Other");
  EXPECT_EQ(other->frame, fnd::Rect());
  EXPECT_EQ(other->alpha, 1.0);
  EXPECT_EQ(l.list->indexPathForNextItemInDirection(TileCollectionViewDirectionLeft, IndexPath::forItem(1, 0)),
            IndexPath::forItem(1, 0));
}

TEST(ListLayout, ItemsInRectAndEmptySections) {
  ListHarness l({3, 0, 2});
  l.h.view->reloadData();
  auto in = [&](double y0, double y1) { return items(*l.list->indexPathsForItemsInRect(fnd::Rect(0, y0, 400, y1 - y0))); };
  EXPECT_EQ(in(50, 100), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(in(44, 60), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(in(0, 10), (std::vector<std::int64_t>{0}));
  // The empty middle section reports no row; section 2 starts right at 132.
  auto paths = *l.list->indexPathsForItemsInRect(fnd::Rect(0, 100, 400, 50));
  for (auto& p : paths) EXPECT_NE(p.section, 1);
  // The bottom-edge search may end on the first row below the rect (row 1 starts at 176).
  EXPECT_EQ(paths, (std::vector<IndexPath>{IndexPath::forItem(2, 0), IndexPath::forItem(0, 2), IndexPath::forItem(1, 2)}));
}

TEST(ListLayout, StickyHeadersPinAndArePushedUp) {
  struct Delegate : TileCollectionViewListLayoutDelegate {
    unsigned implementedListLayoutMethods() const override { return HeightForHeader | HeightForRow; }
    double collectionViewHeightForHeaderInSection(TileCollectionView&, std::int64_t) override { return 30; }
    double collectionViewHeightForRowAtIndexPath(TileCollectionView&, const IndexPath&) override { return 47; }
  } d;
  ListHarness l({10, 10}, 200);  // section 0: 30 + 470 = 500 high
  l.list->setDelegate(&d);
  l.h.view->reloadData();
  ASSERT_EQ(l.list->sections()[1]->offset, 500);
  auto headerY = [&] {
    return l.list->layoutAttributesForSupplementaryItemInSection(0, TileCollectionViewListLayoutHeader)->frame.origin.y;
  };
  l.h.clip().scrollToPoint({0, 100});
  EXPECT_EQ(headerY(), 0);  // not sticky
  l.list->setStickyHeaders(true);
  EXPECT_TRUE(l.list->shouldApplyExistingLayoutAttributesOnLayout());
  EXPECT_EQ(headerY(), 100);
  l.h.clip().scrollToPoint({0, 480});
  EXPECT_EQ(headerY(), 470);
  l.h.clip().scrollToPoint({0, 0});
  EXPECT_EQ(headerY(), 0);
}
