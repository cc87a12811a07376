#include "Harness/TestSupport.h"
#include "SourceListFixture.h"
#include "Platform/UI/GraphicsContext.h"
#include "Views/Unused/SourceListBadgeView.h"

#include "Platform/Foundation/NotificationCenter.h"

#include <cmath>
#include <limits>

using namespace kesto;
using namespace kesto::test;
using SD = SourceListDelegate;

// ---- Items ----

TEST(SourceListItem, ChildrenAreHandedOutAsCopiesAndRemovedByIdentity) {
  auto parent = SourceListItem::itemWithTitle("Folders", "folders");
  EXPECT_TRUE(parent->children().empty());
  EXPECT_FALSE(parent->hasChildren());
  auto before = parent->children();
  auto a = SourceListItem::itemWithTitle("a", "a");
  auto b = SourceListItem::itemWithTitle("b", "b");
  parent->addChildItem(a);
  parent->addChildItem(b);
  parent->addChildItem(a);
  EXPECT_TRUE(before.empty());
  EXPECT_TRUE(parent->hasChildren());
  parent->removeChildItem(a.get());
  ASSERT_EQ(parent->childCount(), 1u);
  EXPECT_EQ(parent->childAt(0), b.get());
  EXPECT_EQ(parent->childAt(1), nullptr);
}

TEST(SourceListItem, InsertsAtIndexesOfTheResultAndRefusesIndexesPastTheEnd) {
  auto parent = std::make_shared<SourceListItem>();
  auto x = SourceListItem::itemWithTitle("x", "x"), y = SourceListItem::itemWithTitle("y", "y");
  auto p = SourceListItem::itemWithTitle("p", "p"), q = SourceListItem::itemWithTitle("q", "q");
  parent->setChildren({x, y});
  parent->insertChildItems({p, q}, fnd::IndexSet{0, 3});
  std::vector<std::string> titles;
  for (auto& c : parent->children()) titles.push_back(c->title());
  EXPECT_EQ(titles, (std::vector<std::string>{"p", "x", "y", "q"}));
  EXPECT_THROW(parent->insertChildItem(x, 9), fnd::ContractViolation);
  EXPECT_THROW(parent->insertChildItems({x}, fnd::IndexSet(6)), fnd::ContractViolation);
  EXPECT_EQ(parent->childCount(), 4u);
  parent->removeChildItems({p, q});
  EXPECT_EQ(parent->childCount(), 2u);
}

TEST(SourceListItem, RepresentedObjectIsOnlyWatched) {
  auto folder = std::make_shared<fnd::Object>();
  auto item = SourceListItem::itemWithRepresentedObject(folder, ui::Image(16, 16));
  EXPECT_EQ(item->representedObject(), folder);
  EXPECT_TRUE(item->title().empty());
  EXPECT_TRUE(item->identifier().empty());
  EXPECT_FALSE(item->icon().isNull());
  folder.reset();
  EXPECT_EQ(item->representedObject(), nullptr);
}

// ---- Reload and selection ----

TEST_F(SourceListFixture, ReloadSelectsTheFirstEntryOnlyWhenEmptySelectionIsNotAllowed) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  wire(true);
  EXPECT_EQ(list->numberOfRows(), 7);
  EXPECT_TRUE(selection().empty());
  list->setAllowsEmptySelection(false);
  list->reloadData();
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1}));
}

TEST_F(SourceListFixture, ReloadMovesASelectionThatBecameAGroupUpToTheNearestEntry) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  wire();
  list->selectRowIndexes(fnd::IndexSet(4), false);  // red
  // The TAGS heading is now where red was: Library gains a row above it.
  library->addChildItem(SourceListItem::itemWithTitle("Archive", "archive"));
  controller.groups = {library, history, tags};
  // LIBRARY, Inbox, Work, Archive, HISTORY, TAGS, red, blue
  list->reloadData();
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{3}));

  // With only headings above, the selection is cleared.
  controller.groups = {history, tags};
  list->reloadData();
  list->selectRowIndexes(fnd::IndexSet(2), false);  // red
  auto shared = SourceListItem::itemWithTitle("SHARED", "shared");
  controller.groups = {history, shared, library};  // HISTORY, SHARED, LIBRARY, Inbox...
  list->reloadData();
  EXPECT_EQ(list->itemAtRow(2), library.get());
  EXPECT_TRUE(selection().empty());
}

TEST_F(SourceListFixture, GroupRowsNeverJoinTheSelection) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  wire();
  list->selectRowIndexes(fnd::IndexSet(1), false);
  list->selectRowIndexes(fnd::IndexSet{0, 3}, false);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1}));
  list->selectRowIndexes(fnd::IndexSet{3, 4}, false);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{4}));
  // An empty set never clears a source list.
  brightwren::resetSelection(*list);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{4}));
  // Selection by items skips items that have no row.
  brightwren::setSelectedItems(*list, {projects.get(), inbox.get()});
  EXPECT_EQ(brightwren::selectedItems(*list), (std::vector<ui::OutlineItem>{inbox.get()}));
  EXPECT_FALSE(list->shouldEditItem(library.get()));
  EXPECT_TRUE(list->shouldEditItem(inbox.get()));
}

// ---- Keys ----

TEST_F(SourceListFixture, ArrowsSkipHeadingsAndStopAtTheEnds) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  wire();
  list->selectRowIndexes(fnd::IndexSet(2), false);  // Work, last under LIBRARY
  list->keyDown(ui::Event::key(ui::KeyCode::DownArrow));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{4}));
  list->keyDown(ui::Event::key(ui::KeyCode::UpArrow));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{2}));
  // Below blue only the HISTORY heading follows; above Inbox only LIBRARY.
  list->selectRowIndexes(fnd::IndexSet(5), false);
  list->keyDown(ui::Event::key(ui::KeyCode::DownArrow));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{5}));
  list->selectRowIndexes(fnd::IndexSet(1), false);
  list->keyDown(ui::Event::key(ui::KeyCode::UpArrow));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1}));
}

TEST_F(SourceListFixture, ShiftArrowsAndSeveralRowsBehaveAsInAPlainOutline) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  wire();
  list->setAllowsMultipleSelection(true);
  list->selectRowIndexes(fnd::IndexSet(1), false);
  list->keyDown(ui::Event::key(ui::KeyCode::DownArrow, ui::ModifierFlag::Shift));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1, 2}));
  // Two selected: the plain outline moves past the last one, and headings are still filtered.
  list->keyDown(ui::Event::key(ui::KeyCode::DownArrow));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1, 2}));
}

TEST_F(SourceListFixture, DeleteKeysPostTheSelectedRowsAndNothingWithoutASelection) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded | SD::DeleteKeyPressedOnRows;
  controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  wire();
  std::vector<fnd::Notification> seen;
  fnd::ScopedObserver observer;
  observer.observe(SourceListDeleteKeyPressedOnRowsNotification, [&](const fnd::Notification& n) { seen.push_back(n); });
  list->keyDown(ui::Event::key(ui::KeyCode::Delete, 0, "\x7f"));
  EXPECT_TRUE(seen.empty());

  list->setAllowsMultipleSelection(true);
  list->selectRowIndexes(fnd::IndexSet{1, 4}, false);
  list->keyDown(ui::Event::key(ui::KeyCode::Delete, 0, "\x7f"));
  list->keyDown(ui::Event::key(ui::KeyCode::ForwardDelete));
  list->keyDown(ui::Event::key(ui::KeyCode::Invalid, 0, "\b"));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].object, list.get());
  EXPECT_EQ(sourceListRowsOf(seen[0]), (fnd::IndexSet{1, 4}));
  EXPECT_EQ(controller.log, (std::vector<std::string>{"delete", "delete", "delete"}));
}

TEST_F(SourceListFixture, TheDelegateIsAskedForTheMenuOfTheRowUnderThePointer) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded | SD::MenuForEvent;
  controller.alwaysExpanded = {"LIBRARY"};
  wire();
  fnd::Rect r = list->rectOfRow(1);
  auto at = [&](double y) { return list->convertPointToView({50, y}, nullptr); };
  window.sendEvent(ui::Event::mouse(ui::EventType::RightMouseDown, at(r.origin.y + 3), 0, 1, &window));
  window.sendEvent(ui::Event::mouse(ui::EventType::RightMouseDown, at(390), 0, 1, &window));
  EXPECT_EQ(controller.log, (std::vector<std::string>{"menu Inbox", "menu <none>"}));
}

// ---- Geometry ----

TEST_F(SourceListFixture, BadgesAreAtLeastFortyWideAndTheCellStopsBeforeThem) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  wire();
  fnd::Size badge = list->sizeOfBadgeAtRow(1);  // 7
  EXPECT_DOUBLE_EQ(badge.width, 40.0);
  EXPECT_DOUBLE_EQ(badge.height, 14.0);
  EXPECT_EQ(list->badgeValueForItem(inbox.get()), 7);
  EXPECT_EQ(list->badgeValueForItem(work.get()), std::numeric_limits<std::int64_t>::max());
  fnd::Size none = list->sizeOfBadgeAtRow(2);
  EXPECT_DOUBLE_EQ(none.width, 0);
  fnd::Rect row = list->rectOfRow(2);
  fnd::Rect cell = list->frameOfCellAtRow(2);
  EXPECT_DOUBLE_EQ(cell.origin.x, 1 * list->indentationPerLevel() + 18.0);
  EXPECT_DOUBLE_EQ(cell.origin.x + cell.size.width, row.size.width - 5.0);
  fnd::Rect badged = list->frameOfCellAtRow(1);
  EXPECT_DOUBLE_EQ(badged.origin.x + badged.size.width, row.size.width - 45.0);
  // A huge count outgrows the minimum.
  inbox->setBadgeValue(123456789012LL);
  EXPECT_GT(list->sizeOfBadgeAtRow(1).width, 40.0);
}

// Cut at the end, so that "Bookmarks Toolbar" and "Bookmarks Menu" still read as what they are.
TEST_F(SourceListFixture, ALongTitleIsCutAtItsEndAndShownWholeAsTheToolTip) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  const std::string name = "Reading list for the long winter holidays of 2026 (archive)";
  inbox->setTitle(name);
  wire();
  EXPECT_EQ(list->textTruncation(), ui::TextTruncation::End);
  fnd::Rect cell = list->frameOfCellAtRow(1);
  ASSERT_LT(cell.size.width, ui::GraphicsContext::sizeOfText(name, ui::Font()).width);
  EXPECT_EQ(list->toolTipAtPoint({cell.midX(), cell.midY()}), name);
  // A title that fits needs no tool tip.
  fnd::Rect work = list->frameOfCellAtRow(2);
  EXPECT_EQ(list->toolTipAtPoint({work.midX(), work.midY()}), "");

  // The row is drawn so: its beginning as the whole name's, unlike a name cut in the middle.
  auto end = list->snapshot();
  list->setTextTruncation(ui::TextTruncation::Middle);
  auto middle = list->snapshot();
  int differing = 0;
  for (int x = int(cell.midX()); x < int(cell.maxX()); ++x)
    for (int y = int(cell.origin.y); y < int(cell.maxY()); ++y)
      if (!(middle.pixelColor(x, y) == end.pixelColor(x, y))) ++differing;
  EXPECT_GT(differing, 10);
}

TEST_F(SourceListFixture, IconsMakeRoomAndNeverGrowTallerThanARow) {
  controller.dataSourceMethods |= SourceListDataSource::ItemHasIcon | SourceListDataSource::IconForItem;
  controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  controller.alwaysExpanded = {"LIBRARY"};
  work->setIcon(ui::Image(16, 16, ui::Color::black()));
  wire();
  EXPECT_DOUBLE_EQ(list->frameOfCellAtRow(2).origin.x, list->indentationPerLevel() + 18.0 + 16.0 + 4.0);
  list->setRowHeight(20);
  list->setIconSize({32, 32});
  EXPECT_EQ(list->iconSize(), (fnd::Size{20, 20}));
  list->setRowHeight(10);
  list->setIconSize({40, 20});
  EXPECT_EQ(list->iconSize(), (fnd::Size{20, 10}));
  list->setFloatsGroupRows(true);
  EXPECT_FALSE(list->floatsGroupRows());
}

TEST_F(SourceListFixture, AnAlwaysExpandedGroupHasNoTriangleAndCannotCollapse) {
  controller.delegateMethods = SD::IsGroupAlwaysExpanded | SD::ShouldCollapseItem;
  controller.alwaysExpanded = {"LIBRARY"};
  wire();
  EXPECT_TRUE(list->frameOfOutlineCellAtRow(0).isEmpty());
  EXPECT_DOUBLE_EQ(list->frameOfCellAtRow(0).origin.x, 7.0);
  list->collapseItem(library.get());
  EXPECT_TRUE(list->isItemExpanded(library.get()));
  // The delegate is not even asked for it; other groups ask it.
  list->expandItem(tags.get());
  list->collapseItem(tags.get());
  EXPECT_EQ(controller.log, (std::vector<std::string>{"should collapse TAGS"}));
  EXPECT_FALSE(list->isItemExpanded(tags.get()));
  EXPECT_FALSE(list->frameOfOutlineCellAtRow(list->rowForItem(tags.get())).isEmpty());
}

TEST(SourceListTableCellView, PutsItsBadgeAgainstTheRightEdgeAtItsNaturalSize) {
  auto row = std::make_shared<SourceListTableCellView>(fnd::Rect(0, 0, 200, 21));
  row->layout();  // no badge view: nothing to place
  auto badge = std::make_shared<SourceListBadgeView>();
  badge->setBadgeValue(42);
  row->addSubview(badge);
  row->setBadgeView(badge);
  row->layout();
  fnd::Size natural = badge->cell().cellSize();
  EXPECT_EQ(badge->frame().size, natural);
  EXPECT_DOUBLE_EQ(badge->frame().origin.x, 200 - natural.width);
  EXPECT_DOUBLE_EQ(badge->frame().origin.y, 10.5 - std::round(natural.height / 2));
  // The badge view is only watched: once gone, layout places nothing.
  badge->removeFromSuperview();
  badge.reset();
  EXPECT_EQ(row->badgeView(), nullptr);
  row->layout();
}
