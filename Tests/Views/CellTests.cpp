#include "CollectionViewFixture.h"

#include "Views/TileCollectionViewCellBackgroundView.h"

using namespace kesto;
using namespace kesto::test;

namespace {
struct RecordingCell : TileCollectionViewCell {
  using TileCollectionViewCell::TileCollectionViewCell;
  using TileCollectionViewCell::setSelected;  // keep the animated overload visible
  std::vector<bool> selections;
  void setSelected(bool selected) override {
    selections.push_back(selected);
    TileCollectionViewCell::setSelected(selected);
  }
};
}  // namespace

TEST(TileCollectionViewCell, CrossfadesOnlyRealAnimatedChanges) {
  ui::Window window(fnd::Rect(0, 0, 200, 200));
  auto cell = std::make_shared<RecordingCell>(fnd::Rect(0, 0, 100, 100));
  window.contentView()->addSubview(cell);
  window.orderFront();
  EXPECT_EQ(cell->crossfadeDuration(), 0.25);
  cell->setSelected(false, true);  // no change: no transition, the setter still runs
  EXPECT_TRUE(cell->backgroundView()->animationKeys().empty());
  cell->setSelected(true, false);  // not animated
  EXPECT_TRUE(cell->backgroundView()->animationKeys().empty());
  cell->setSelected(false, true);
  cell->setSelected(true, true);  // replaces the running fade
  EXPECT_EQ(cell->backgroundView()->animationKeys(), std::vector<std::string>{"fade"});
  EXPECT_EQ(cell->selections, (std::vector<bool>{false, true, false, true}));
  cell->prepareForReuse();  // cancels the fade, keeps the state
  EXPECT_TRUE(cell->backgroundView()->animationKeys().empty());
  EXPECT_TRUE(cell->isSelected());
}

TEST(TileCollectionViewCell, ContentAndBackgroundViews) {
  auto cell = std::make_shared<TileCollectionViewCell>(fnd::Rect(0, 0, 80, 60));
  auto& content = cell->contentView();
  EXPECT_EQ(cell->contentView(), content);
  EXPECT_EQ(content->frame(), fnd::Rect(0, 0, 80, 60));
  EXPECT_EQ(cell->subviews().front(), cell->backgroundView());  // backmost
  EXPECT_EQ(cell->subviews().back(), content);                  // frontmost
  auto replacement = std::make_shared<ui::View>();
  auto old = content;
  cell->setContentView(replacement);
  EXPECT_EQ(old->superview(), nullptr);
  EXPECT_EQ(replacement->superview(), cell.get());
  cell->setFrameSize({120, 90});
  EXPECT_EQ(cell->backgroundView()->frame(), fnd::Rect(0, 0, 120, 90));
  EXPECT_EQ(replacement->autoresizingMask(), unsigned(ui::View::WidthSizable | ui::View::HeightSizable));
  // The background draws its colour through the layer; an unchanged frame asks for no redraw.
  auto red = ui::Color::rgb(1, 0, 0);
  cell->setBackgroundColor(red);
  EXPECT_EQ(cell->snapshot().pixelColor(5, 5), red);
  EXPECT_FALSE(cell->backgroundView()->needsDisplay());
  cell->backgroundView()->setFrame(cell->backgroundView()->frame());
  EXPECT_FALSE(cell->backgroundView()->needsDisplay());
  cell->backgroundView()->setFrame(fnd::Rect(1, 1, 10, 10));
  EXPECT_TRUE(cell->backgroundView()->needsDisplay());
}

TEST(TileCollectionViewCell, ClicksReachTheChainBeforeTheSelection) {
  // A subclass of the collection view sees a click before the selection changes, as the
  // browser's own handling needs.
  struct Browser : TileCollectionView {
    using TileCollectionView::TileCollectionView;
    std::vector<std::size_t> selectedAtMouseDown;
    void mouseDown(const ui::Event& e) override {
      selectedAtMouseDown.push_back(selectedIndexes().size());
      TileCollectionView::mouseDown(e);
    }
  };
  ui::Window window(fnd::Rect(0, 0, 300, 100));
  auto view = std::make_shared<Browser>(fnd::Rect(0, 0, 300, 100));
  window.contentView()->addSubview(view);
  auto grid = std::make_shared<TileCollectionViewGridLayout>();
  grid->setItemSize({100, 100});
  grid->setItemPaddingEnabled(false);
  FakeSource source;
  source.counts = {3};
  view->setDataSource(&source);
  view->setDelegate(&source);
  view->setCollectionViewLayout(grid);
  view->reloadData();
  auto cell = view->cellForItemAtIndexPath(IndexPath::forItem(1, 0));
  fnd::Point at = cell->convertPointToView({50, 50}, nullptr);
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, at));
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, at, 0, 2));
  EXPECT_EQ(view->selectedAtMouseDown, std::vector<std::size_t>{0});
  EXPECT_EQ(view->selectedIndexes().size(), 1u);
  std::vector<std::string> tail(source.events.end() - 2, source.events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"up 0.1", "double 0.1"}));
  // A cell without an index path is logged and selects nothing; the delegate hears nil.
  cell->setIndexPath(std::nullopt);
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, at));
  ASSERT_FALSE(source.events.empty());
  EXPECT_EQ(source.events.back(), "down nil");
  EXPECT_EQ(view->selectedIndexes().size(), 1u);
  view->setDataSource(nullptr);
  view->setDelegate(nullptr);
}

TEST(TileCollectionViewCell, ReloadInsideTheCellsOwnClickIsSafe) {
  struct Reloader : FakeSource {
    TileCollectionView* view = nullptr;
    void collectionViewMouseDownInItemAtIndexPath(TileCollectionView& cv, const std::optional<IndexPath>& p) override {
      FakeSource::collectionViewMouseDownInItemAtIndexPath(cv, p);
      cv.reloadData();  // drops every cell, the clicked one included
    }
  } source;
  CollectionHarness h(300, 100, {100, 100}, {3});
  source.counts = {3};
  h.view->setDataSource(&source);
  h.view->setDelegate(&source);
  h.view->reloadData();
  h.click(IndexPath::forItem(1, 0));
  test::spin(0.05);  // let deferred widget deletions run
  EXPECT_EQ(h.selectedItems(), std::vector<std::int64_t>{1});
  EXPECT_TRUE(h.view->cellForItemAtIndexPath(IndexPath::forItem(1, 0))->isSelected());
  h.view->setDataSource(nullptr);
  h.view->setDelegate(nullptr);
}
