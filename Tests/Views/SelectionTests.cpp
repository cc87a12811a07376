#include "CollectionViewFixture.h"

using namespace kesto;
using namespace kesto::test;
namespace KeyCode = kesto::ui::KeyCode;
namespace ModifierFlag = kesto::ui::ModifierFlag;

namespace {
// 5 columns of 100 in a 500-wide view (no padding), rows of 100: items 0-4 on row 0, 5-9 on row 1...
struct SelectionHarness : CollectionHarness {
  SelectionHarness(std::uint64_t count = 100, double height = 300) : CollectionHarness(500, height, {100, 100}, {count}) {
    grid->setItemPaddingEnabled(false);
    view->reloadData();
    view->setAnimatesSelection(true);
  }
};
}  // namespace

TEST(Selection, PlainClickSelectsTheItemAlone) {
  SelectionHarness h;
  h.view->selectItemsAtIndexPaths({IndexPath::forItem(1, 0), IndexPath::forItem(2, 0), IndexPath::forItem(3, 0)}, false);
  h.source.events.clear();
  h.click(IndexPath::forItem(7, 0));
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{7}));
  EXPECT_EQ(h.source.count("select 0.7"), 1);
  EXPECT_EQ(h.source.count("deselect"), 3);
  ASSERT_FALSE(h.source.events.empty());
  EXPECT_EQ(h.source.events.front(), "down 0.7");  // before the selection changes
  EXPECT_EQ(h.source.events.back(), "up 0.7");
  EXPECT_EQ(h.window->firstResponder(), h.view.get());
  EXPECT_TRUE(h.view->cellForItemAtIndexPath(IndexPath::forItem(7, 0))->isSelected());
  EXPECT_FALSE(h.view->cellForItemAtIndexPath(IndexPath::forItem(2, 0))->isSelected());
}

TEST(Selection, CommandClickTogglesAndReselectsTheOthers) {
  SelectionHarness h;
  h.click(IndexPath::forItem(1, 0));
  h.click(IndexPath::forItem(2, 0), ModifierFlag::Command);
  h.click(IndexPath::forItem(3, 0), ModifierFlag::Command);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{1, 2, 3}));
  h.source.events.clear();
  h.click(IndexPath::forItem(2, 0), ModifierFlag::Command | ModifierFlag::Shift);  // Command wins
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{1, 3}));
  EXPECT_EQ(h.source.count("select 0.1"), 1);
  EXPECT_EQ(h.source.count("select 0.3"), 1);
  EXPECT_EQ(h.source.count("deselect 0.2"), 1);
}

TEST(Selection, ShiftClickExtendsFromTheAnchor) {
  SelectionHarness h;
  h.click(IndexPath::forItem(3, 0), ModifierFlag::Shift);  // empty selection: just the item
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{3}));
  h.click(IndexPath::forItem(2, 0));
  h.click(IndexPath::forItem(5, 0), ModifierFlag::Shift);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{2, 3, 4, 5}));
  EXPECT_EQ(h.view->indexPathForSelectedItem(), IndexPath::forItem(5, 0));  // the clicked item last
  h.click(IndexPath::forItem(0, 0), ModifierFlag::Shift);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{2, 1, 0}));
}

TEST(Selection, RangeWalkStopsAtAnEmptySection) {
  CollectionHarness h(500, 600, {100, 100}, {3, 0, 3});
  h.grid->setItemPaddingEnabled(false);
  h.view->reloadData();
  h.view->selectItemAtIndexPath(IndexPath::forItem(1, 0), 0, false, 0);
  h.view->selectItemAtIndexPath(IndexPath::forItem(1, 2), 0, false, 1);
  std::vector<IndexPath> expected{IndexPath::forItem(1, 0), IndexPath::forItem(2, 0), IndexPath::forItem(1, 2)};
  EXPECT_EQ(h.view->selectedIndexes(), expected);
}

TEST(Selection, VetoedDeselectionKeepsItemsThroughPlainClicks) {
  SelectionHarness h;
  h.click(IndexPath::forItem(1, 0));
  h.source.shouldDeselect = false;
  h.click(IndexPath::forItem(4, 0));
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{1, 4}));
  h.source.shouldDeselect = true;
  h.view->setAllowsSelection(false);
  h.click(IndexPath::forItem(8, 0));
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{1, 4}));
}

TEST(Selection, SelectAllAndDeselectAllMessageEveryItem) {
  SelectionHarness h;
  h.click(IndexPath::forItem(0, 0));
  h.key(KeyCode::A, ModifierFlag::Command, "a");  // the menu's Select All
  EXPECT_EQ(h.view->selectedIndexes().size(), 100u);
  h.view->deselectItemAtIndexPath(IndexPath::forItem(50, 0), false);
  h.source.events.clear();
  h.view->deselectAllItems();
  EXPECT_EQ(h.source.count("deselect"), 100);  // selected or not
  EXPECT_TRUE(h.view->selectedIndexes().empty());
  EXPECT_EQ(h.view->indexPathForSelectedItem(), std::nullopt);
}

TEST(Selection, ArrowKeysMoveAndShiftArrowsExtendFromTheFirstItem) {
  SelectionHarness h(100, 300);
  h.click(IndexPath::forItem(6, 0));
  h.key(KeyCode::RightArrow);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{7}));
  h.key(KeyCode::DownArrow);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{12}));
  h.key(KeyCode::UpArrow);
  h.key(KeyCode::LeftArrow);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{6}));
  h.key(KeyCode::RightArrow, ModifierFlag::Shift);
  h.key(KeyCode::RightArrow, ModifierFlag::Shift);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{6, 7, 8}));
  h.key(KeyCode::LeftArrow, ModifierFlag::Shift);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{6, 7}));
  h.key(KeyCode::DownArrow, ModifierFlag::Shift);  // from 7 down to 12, range from the anchor 6
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{6, 7, 8, 9, 10, 11, 12}));
  // Down from the last item: nothing changes and nothing scrolls.
  h.view->selectItemAtIndexPath(IndexPath::forItem(99, 0), 1, false, 0);
  double y = h.originY();
  h.source.events.clear();
  h.key(KeyCode::DownArrow);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{99}));
  EXPECT_EQ(h.originY(), y);
  EXPECT_TRUE(h.source.events.empty());
}

// Home and End select the first and the last item and bring it into view, over empty sections;
// with Shift they extend from the anchor; an empty view leaves them to the scroll view.
TEST(Selection, HomeAndEndGoToTheFirstAndTheLastItem) {
  CollectionHarness h(500, 300, {100, 100}, {0, 40, 30, 0});
  h.grid->setItemPaddingEnabled(false);
  h.view->reloadData();
  h.click(IndexPath::forItem(3, 1));
  h.key(KeyCode::End);
  EXPECT_EQ(h.view->selectedIndexes(), (std::vector<IndexPath>{IndexPath::forItem(29, 2)}));
  EXPECT_EQ(h.source.count("scroll 2.29"), 1) << "the last item is scrolled into view";
  h.key(KeyCode::Home);
  EXPECT_EQ(h.view->selectedIndexes(), (std::vector<IndexPath>{IndexPath::forItem(0, 1)}));
  EXPECT_EQ(h.source.count("scroll 1.0"), 1);
  h.key(KeyCode::RightArrow);
  h.key(KeyCode::RightArrow);
  h.key(KeyCode::Home, ModifierFlag::Shift);
  EXPECT_EQ(h.view->selectedIndexes(), (std::vector<IndexPath>{IndexPath::forItem(2, 1), IndexPath::forItem(1, 1),
                                                               IndexPath::forItem(0, 1)}));

  CollectionHarness empty(500, 300, {100, 100}, {0});
  empty.view->reloadData();
  empty.view->keyDown(ui::Event::key(KeyCode::End));
  EXPECT_TRUE(empty.view->selectedIndexes().empty());
}

TEST(Selection, AShrinkingReloadDropsTheItemsItTookAway) {
  SelectionHarness h(100, 300);
  h.view->selectItemAtIndexPath(IndexPath::forItem(90, 0), 1, false, 0);
  h.view->selectItemAtIndexPath(IndexPath::forItem(6, 0), 1, false, TileCollectionViewSelectionTypeToggle);
  h.view->selectItemAtIndexPath(IndexPath::forItem(4, 0), 1, false, TileCollectionViewSelectionTypeToggle);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{90, 6, 4}));
  h.source.counts = {10};
  h.view->reloadData();  // item 90 is gone; the others keep their order
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{6, 4}));
  EXPECT_EQ(h.view->indexPathForSelectedItem(), IndexPath::forItem(4, 0));
  EXPECT_EQ(h.view->rectForItemAtIndexPath(IndexPath::forItem(90, 0)), fnd::Rect());
  // Scrolling to the gone item does nothing (it used to jump to the top).
  h.clip().scrollToPoint({0, 0});
  h.source.events.clear();
  h.view->scrollToItemAtIndexPath(IndexPath::forItem(90, 0), 1, false);
  EXPECT_EQ(h.source.count("scroll"), 0);
  // The anchor is the earliest item still there, not the gone one.
  h.click(IndexPath::forItem(8, 0), ModifierFlag::Shift);
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{6, 7, 8}));
  // A reload down to nothing leaves nothing selected, and keys then select nothing stale.
  h.source.counts = {0};
  h.view->reloadData();
  EXPECT_TRUE(h.view->selectedIndexes().empty());
  EXPECT_EQ(h.view->indexPathForSelectedItem(), std::nullopt);
  h.source.counts = {10};
  h.view->reloadData();
  h.view->selectItemsAtIndexPaths({IndexPath::forItem(2, 0)}, false);
  h.view->reloadDataAndDeselect();
  EXPECT_TRUE(h.view->selectedIndexes().empty());
}

TEST(Selection, DoubleAndRightClicksReachTheDelegate) {
  SelectionHarness h;
  h.click(IndexPath::forItem(2, 0), 0, 2);
  h.click(IndexPath::forItem(2, 0), 0, 3);
  EXPECT_EQ(h.source.count("double 0.2"), 1);
  EXPECT_EQ(h.source.count("up 0.2"), 2);
  auto cell = h.view->cellForItemAtIndexPath(IndexPath::forItem(2, 0));
  fnd::Point at = cell->convertPointToView({5, 5}, nullptr);
  h.window->sendEvent(ui::Event::mouse(ui::EventType::RightMouseDown, at));
  EXPECT_EQ(h.source.count("right 0.2"), 1);
  // Control-click is no right click.
  h.click(IndexPath::forItem(2, 0), ModifierFlag::Control);
  EXPECT_EQ(h.source.count("right"), 1);
}

TEST(Scrolling, PositionsPlaceTheItemAsSpecified) {
  SelectionHarness h(500, 300);  // 100 rows of 100, 300 visible
  IndexPath item = IndexPath::forItem(50, 0);  // row 10: y 1000
  h.view->scrollToItemAtIndexPath(item, 0, false);
  EXPECT_EQ(h.originY(), 0);
  EXPECT_EQ(h.source.count("scroll"), 0);
  h.view->scrollToItemAtIndexPath(item, 1, false);
  EXPECT_EQ(h.originY(), 800);  // nearest: its bottom edge at the bottom
  h.view->scrollToItemAtIndexPath(item, 2, false);
  EXPECT_EQ(h.originY(), 1000);  // its top at the top
  h.view->scrollToItemAtIndexPath(item, 3, false);
  EXPECT_EQ(h.originY(), 850);  // top at 1000 + 150 - 300
  h.view->scrollToItemAtIndexPath(item, 4, false);
  EXPECT_EQ(h.originY(), 700);  // the visible area ends at the item's top
  EXPECT_EQ(h.source.count("scroll 0.50"), 4);
  h.view->scrollToCurrentRect(fnd::Rect(0, 40, 10, 10));
  EXPECT_EQ(h.originY(), 40);
}

TEST(Selection, VetoedSelectionChangesNothingAndTellsNoOne) {
  SelectionHarness h;
  h.source.shouldSelect = false;
  h.view->selectItemAtIndexPath(IndexPath::forItem(2, 0), false);
  EXPECT_TRUE(h.view->selectedIndexes().empty());
  EXPECT_FALSE(h.view->cellForItemAtIndexPath(IndexPath::forItem(2, 0))->isSelected());
  EXPECT_EQ(h.source.count("select"), 0);

  // Deselecting asks its own question: a veto on selecting does not stop it.
  h.source.shouldSelect = true;
  h.view->selectItemAtIndexPath(IndexPath::forItem(2, 0), false);
  h.source.shouldSelect = false;
  h.view->deselectItemAtIndexPath(IndexPath::forItem(2, 0), false);
  EXPECT_TRUE(h.view->selectedIndexes().empty());
  EXPECT_FALSE(h.view->cellForItemAtIndexPath(IndexPath::forItem(2, 0))->isSelected());
  EXPECT_EQ(h.source.count("deselect 0.2"), 1);

  // No index path: nothing to ask about.
  h.source.events.clear();
  h.view->selectItemAtIndexPath(std::nullopt, false);
  h.view->deselectItemAtIndexPath(std::nullopt, false);
  EXPECT_TRUE(h.source.events.empty());
}

TEST(Selection, TheViewAnswersTheArrowCommandsAndSelectAllAndPassesTheRestOn) {
  SelectionHarness h;
  for (ui::Command own : {ui::cmd::moveLeft, ui::cmd::moveLeftAndModifySelection, ui::cmd::moveRight,
                          ui::cmd::moveRightAndModifySelection, ui::cmd::moveUp, ui::cmd::moveUpAndModifySelection,
                          ui::cmd::moveDown, ui::cmd::moveDownAndModifySelection, ui::cmd::selectAll})
    EXPECT_TRUE(h.view->respondsToAction(own)) << own.text();
  EXPECT_FALSE(h.view->respondsToAction(ui::cmd::copy));
  EXPECT_FALSE(h.view->performAction(ui::cmd::copy, nullptr));

  // Sent as commands (a menu item or the chain), they act as the keys do.
  h.view->selectItemAtIndexPath(IndexPath::forItem(6, 0), false);
  EXPECT_TRUE(h.view->performAction(ui::cmd::moveDown, nullptr));
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{11}));
  EXPECT_TRUE(h.view->performAction(ui::cmd::moveRightAndModifySelection, nullptr));
  EXPECT_EQ(h.selectedItems(), (std::vector<std::int64_t>{11, 12}));
  EXPECT_TRUE(h.view->performAction(ui::cmd::selectAll, nullptr));
  EXPECT_EQ(h.view->selectedIndexes().size(), 100u);
}
