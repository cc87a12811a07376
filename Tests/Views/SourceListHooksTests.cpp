#include "Harness/TestSupport.h"
#include "SourceListFixture.h"

#include "Platform/UI/OutlineView_p.h"
#include "Platform/UI/TestAccess_p.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <cmath>
#include <limits>

using namespace kesto;
using namespace kesto::test;
using SD = SourceListDelegate;
using SDS = SourceListDataSource;

namespace {

// A controller answering the optional hooks the test switches on, and noting each question.
class HooksController : public SidebarController {
 public:
  double groupHeight = 30, rowHeight = 24;
  SourceListItemPtr typeSelectAnswer = nullptr;
  bool typeSelect = true;
  bool cellExpansion = true;
  std::optional<fnd::IndexSet> proposedAnswer;
  std::map<std::string, std::shared_ptr<ui::View>> views;
  std::vector<std::pair<std::string, long>> rowViewLog;
  std::vector<std::pair<std::string, std::string>> editing;

  double sourceListHeightOfRowByItem(SourceList&, SourceListItemPtr item) override {
    log.push_back("height " + at(item)->title());
    return item == groups[0].get() || item == groups[1].get() || item == groups[2].get() ? groupHeight : rowHeight;
  }
  SourceListItemPtr sourceListNextTypeSelectMatchFromItemToItemForString(SourceList&, SourceListItemPtr from,
                                                                        SourceListItemPtr to,
                                                                        const std::string& search) override {
    log.push_back("match " + at(from)->title() + ".." + at(to)->title() + " '" + search + "'");
    return typeSelectAnswer;
  }
  bool sourceListShouldTypeSelectForEventWithCurrentSearchString(SourceList&, const ui::Event& event,
                                                                 const std::string& search) override {
    log.push_back("should type-select " + event.characters + " after '" + search + "'");
    return typeSelect;
  }
  std::optional<ui::DragPayload> sourceListPasteboardWriterForItem(SourceList&, SourceListItemPtr item) override {
    if (at(item)->title() == "Work") return std::nullopt;  // folders stay behind
    ui::DragPayload p;
    p.setString("text/plain", at(item)->title());
    p.setString("application/x-kesto-id", at(item)->identifier());
    return p;
  }
  void sourceListSetObjectValueForItem(SourceList&, const fnd::Value& value, SourceListItemPtr item) override {
    at(item)->setTitle(value.string());
  }
  bool sourceListWriteItemsToPasteboard(SourceList&, const std::vector<SourceListItemPtr>&, ui::DragPayload& p) override {
    p.setString("text/plain", "whole list");
    return true;
  }
  bool sourceListShouldShowCellExpansionForItem(SourceList&, SourceListItemPtr) override { return cellExpansion; }
  std::optional<ui::TextCell> sourceListDataCellForItem(SourceList&, SourceListItemPtr item) override {
    if (at(item)->title() != "Inbox" && at(item)->title() != "TAGS") return std::nullopt;
    ui::TextCell cell;
    cell.font = ui::Font{{}, 17.0, false, true};
    return cell;
  }
  fnd::IndexSet sourceListSelectionIndexesForProposedSelection(SourceList&, const fnd::IndexSet& p) override {
    return proposedAnswer.value_or(p);
  }
  std::shared_ptr<ui::View> sourceListViewForItem(SourceList&, SourceListItemPtr item) override {
    auto v = std::make_shared<ui::View>();
    views[at(item)->title()] = v;
    return v;
  }
  void sourceListDidAddRowViewForRow(SourceList&, ui::View&, long row) override { rowViewLog.emplace_back("add", row); }
  void sourceListDidRemoveRowViewForRow(SourceList&, ui::View&, long row) override {
    rowViewLog.emplace_back("remove", row);
  }
  void controlTextDidBeginEditing(const fnd::Notification& n) override { note("begin", n); }
  void controlTextDidChange(const fnd::Notification& n) override { note("change", n); }
  void controlTextDidEndEditing(const fnd::Notification& n) override { note("end", n); }
  void note(const std::string& what, const fnd::Notification& n) {
    editing.emplace_back(what, n.userInfo.at(ui::OutlineFieldEditorKey).string());
  }
};

struct SourceListHooksTest : SourceListFixture {
  HooksController hooks;
  void wireHooks(unsigned delegateMethods, unsigned dataSourceMethods = 0) {
    hooks.groups = controller.groups;
    hooks.delegateMethods = delegateMethods;
    hooks.dataSourceMethods |= dataSourceMethods;
    list->setDelegate(&hooks);
    list->setDataSource(&hooks);
  }
  void type(const std::string& chars) {
    list->keyDown(ui::Event::key(0, 0, chars));
  }
  std::string selectedTitle() const {
    long r = list->selectedRow();
    return r < 0 ? "<none>" : HooksController::at(list->itemAtRow(r))->title();
  }
};

}  // namespace

TEST_F(SourceListHooksTest, RowHeightsComeFromTheDelegateAndPlaceEveryRow) {
  wireHooks(SD::HeightOfRowByItem);
  list->expandItem(library.get());
  // LIBRARY 30, Inbox 24, Work 24, TAGS 30, HISTORY 30.
  ASSERT_EQ(list->numberOfRows(), 5);
  EXPECT_EQ(list->rectOfRow(0).size.height, 30);
  EXPECT_EQ(list->rectOfRow(1).origin.y, 30);
  EXPECT_EQ(list->rectOfRow(2).size.height, 24);
  EXPECT_EQ(list->rectOfRow(3).origin.y, 78);
  EXPECT_EQ(list->rowAtPoint({50, 29.5}), 0);
  EXPECT_EQ(list->rowAtPoint({50, 30}), 1);
  EXPECT_EQ(list->rowAtPoint({50, 107.9}), 3);
  EXPECT_EQ(list->rowAtPoint({50, 138}), -1);

  // Answers are kept until the rows are said to have changed.
  hooks.log.clear();
  hooks.rowHeight = 40;
  list->rectOfRow(2);
  EXPECT_TRUE(hooks.log.empty());
  list->noteHeightOfRowsWithIndexesChanged(fnd::IndexSet(2));
  EXPECT_EQ(list->rectOfRow(2).size.height, 40);
  EXPECT_EQ(list->rectOfRow(1).size.height, 24);
  EXPECT_EQ(list->rectOfRow(3).origin.y, 94);
}

TEST_F(SourceListHooksTest, NonsenseHeightsGiveOnePixelRowsAndNoDelegateGivesTheRowHeight) {
  hooks.groupHeight = std::nan("");
  hooks.rowHeight = -5;
  wireHooks(SD::HeightOfRowByItem);
  list->expandItem(library.get());
  EXPECT_EQ(list->rectOfRow(0).size.height, 1);
  EXPECT_EQ(list->rectOfRow(1).size.height, 1);

  // A delegate that does not answer: every row is rowHeight high, and nobody is asked.
  hooks.log.clear();
  wireHooks(0);
  list->setRowHeight(22);
  EXPECT_EQ(list->rectOfRow(3).origin.y, 66);
  EXPECT_EQ(list->rowAtPoint({50, 65}), 2);
  EXPECT_TRUE(hooks.log.empty());
}

TEST_F(SourceListHooksTest, TypeSelectAsksTheDelegateForTheMatchAndSelectsIt) {
  wireHooks(SD::NextTypeSelectMatch | SD::ShouldTypeSelectForEvent);
  list->expandItem(library.get());
  list->expandItem(tags.get());
  list->selectRowIndexes(fnd::IndexSet(1), false);  // Inbox
  hooks.typeSelectAnswer = blue.get();
  type("q");
  // From the row after the selection round to the selection itself.
  EXPECT_EQ(hooks.log, (std::vector<std::string>{"should type-select q after ''", "match Work..Inbox 'q'"}));
  EXPECT_EQ(selectedTitle(), "blue");

  // No match: the selection stays.
  hooks.typeSelectAnswer = nullptr;
  type("z");
  EXPECT_EQ(selectedTitle(), "blue");
  ASSERT_FALSE(hooks.log.empty());
  EXPECT_EQ(hooks.log.back(), "match blue..red 'qz'");
}

TEST_F(SourceListHooksTest, TypeSelectRefusedByTheDelegateLeavesTheSelection) {
  wireHooks(SD::ShouldTypeSelectForEvent);
  list->expandItem(tags.get());
  list->selectRowIndexes(fnd::IndexSet(2), false);  // red
  hooks.typeSelect = false;
  type("b");
  EXPECT_EQ(selectedTitle(), "red");
  // Allowed, the list's own prefix match runs (the delegate gives no match of its own).
  hooks.typeSelect = true;
  type("b");
  EXPECT_EQ(selectedTitle(), "blue");
}

TEST_F(SourceListHooksTest, WithoutTypeSelectHooksTheListMatchesRowTitles) {
  wireHooks(0);
  list->expandItem(library.get());
  list->expandItem(tags.get());
  type("R");
  EXPECT_EQ(selectedTitle(), "red");
  EXPECT_TRUE(hooks.log.empty());
}

TEST_F(SourceListHooksTest, PasteboardWritersPerItemMakeTheDragAndLeaveOutItemsWithout) {
  wireHooks(0, SDS::PasteboardWriterForItem | SDS::WriteItemsToPasteboard);
  list->expandItem(library.get());
  list->expandItem(tags.get());
  // Inbox, Work (no writer), red.
  fnd::IndexSet rows;
  for (long r : {1L, 2L, 4L}) rows.add(r);
  auto payload = list->dragPayloadForRows(rows);
  ASSERT_TRUE(payload);
  EXPECT_EQ(payload->string("text/plain"), "Inbox\nred");
  // A type that is not text keeps the first item's value.
  EXPECT_EQ(payload->string("application/x-kesto-id"), "inbox");
  EXPECT_EQ(payload->entries.size(), 2u);
  // Only items without writers: no drag at all.
  EXPECT_FALSE(list->dragPayloadForRows(fnd::IndexSet(2)));
}

TEST_F(SourceListHooksTest, WithoutWritersTheWholeSelectionIsWrittenAtOnce) {
  wireHooks(0, SDS::WriteItemsToPasteboard);
  list->expandItem(library.get());
  auto payload = list->dragPayloadForRows(fnd::IndexSet(1));
  ASSERT_TRUE(payload);
  EXPECT_EQ(payload->string("text/plain"), "whole list");
}

namespace {
// Rebuilds its items on every reload, as the folder list does from the store; names them by
// identifier.
class RebuildingController : public SidebarController {
 public:
  bool findsItems = true;
  void rebuild() {
    std::vector<SourceListItemRef> fresh;
    for (auto& g : groups) fresh.push_back(copy(g));
    groups = std::move(fresh);
  }
  static SourceListItemRef copy(const SourceListItemRef& item) {
    auto c = SourceListItem::itemWithTitle(item->title(), item->identifier());
    for (auto& child : item->children()) c->addChildItem(copy(child));
    return c;
  }
  SourceListItemPtr find(const std::string& id, const std::vector<SourceListItemRef>& items) {
    for (auto& i : items) {
      if (i->identifier() == id) return i.get();
      if (auto* f = find(id, i->children())) return f;
    }
    return nullptr;
  }
  fnd::Value sourceListPersistentObjectForItem(SourceList&, SourceListItemPtr item) override {
    return at(item)->identifier();
  }
  SourceListItemPtr sourceListItemForPersistentObject(SourceList&, const fnd::Value& v) override {
    return find(v.string(), groups);
  }
};
}  // namespace

TEST_F(SourceListFixture, PersistentObjectsKeepOpenRowsOpenWhenTheItemsAreRebuilt) {
  for (unsigned methods : {SDS::PersistentObjectForItem | SDS::ItemForPersistentObject, +SDS::PersistentObjectForItem}) {
    RebuildingController rebuilding;
    rebuilding.groups = {RebuildingController::copy(library), RebuildingController::copy(tags)};
    rebuilding.dataSourceMethods |= methods;
    list->setDataSource(&rebuilding);
    list->expandItem(rebuilding.groups[0].get());
    list->expandItem(rebuilding.groups[0]->childAt(1));  // Work
    ASSERT_EQ(list->numberOfRows(), 5);
    rebuilding.rebuild();
    list->reloadData();
    // LIBRARY, Inbox, Work, Projects, TAGS: the new objects opened where the old ones were.
    EXPECT_EQ(list->numberOfRows(), 5) << methods;
    EXPECT_TRUE(list->isItemExpanded(rebuilding.groups[0]->childAt(1)));
    list->setDataSource(nullptr);
  }
}

TEST_F(SourceListFixture, WithoutPersistentObjectsRebuiltItemsComeBackClosed) {
  RebuildingController rebuilding;
  rebuilding.groups = {RebuildingController::copy(library), RebuildingController::copy(tags)};
  list->setDataSource(&rebuilding);
  list->expandItem(rebuilding.groups[0].get());
  rebuilding.rebuild();
  list->reloadData();
  EXPECT_EQ(list->numberOfRows(), 2);
  list->setDataSource(nullptr);
}

TEST_F(SourceListHooksTest, ACutOffRowShowsItsWholeTextUnlessTheDelegateSaysNo) {
  std::string longTitle = "A folder whose name is far too long for a narrow sidebar";
  inbox->setTitle(longTitle);
  wireHooks(0);
  list->expandItem(library.get());
  fnd::Rect r = list->rectOfRow(1);
  fnd::Point onText{list->frameOfCellAtRow(1).origin.x + 4, r.origin.y + r.size.height / 2};
  EXPECT_TRUE(list->isCellTextCut(1));
  EXPECT_EQ(list->toolTipAtPoint(onText), longTitle);
  // A row that fits shows nothing.
  fnd::Rect w = list->rectOfRow(2);
  EXPECT_EQ(list->toolTipAtPoint({60, w.origin.y + 2}), "");

  wireHooks(SD::ShouldShowCellExpansionForItem);
  hooks.cellExpansion = false;
  EXPECT_EQ(list->toolTipAtPoint(onText), "");
  hooks.cellExpansion = true;
  EXPECT_EQ(list->toolTipAtPoint(onText), longTitle);
}

TEST_F(SourceListHooksTest, DataCellsReplaceTheStandardCellIncludingAGroupHeadingsLook) {
  wireHooks(SD::DataCellForItem);
  list->expandItem(library.get());
  ui::TextCell inboxCell = list->preparedCellAtRow(1);
  EXPECT_EQ(inboxCell.font.pointSize, 17.0);
  EXPECT_TRUE(inboxCell.font.italic);
  EXPECT_EQ(inboxCell.stringValue, "Inbox");  // the text still comes from the data source
  ui::TextCell tagsCell = list->preparedCellAtRow(3);
  EXPECT_FALSE(tagsCell.font.bold);
  EXPECT_FALSE(tagsCell.textColor.has_value());
  // Rows the delegate gives nothing for keep the standard cell.
  EXPECT_TRUE(list->preparedCellAtRow(0).font.bold);
  EXPECT_NE(list->preparedCellAtRow(2).font.pointSize, 17.0);
}

TEST_F(SourceListHooksTest, TheDelegateRedirectsAProposedSelectionButNeverOntoAGroup) {
  wireHooks(SD::SelectionIndexesForProposedSelection);
  list->expandItem(library.get());
  list->expandItem(tags.get());
  hooks.proposedAnswer = fnd::IndexSet(4);  // red in place of whatever is proposed
  list->selectRowIndexes(fnd::IndexSet(1), false);
  EXPECT_EQ(selectedTitle(), "red");
  hooks.proposedAnswer = fnd::IndexSet(3);  // the TAGS heading: the selection stays
  list->selectRowIndexes(fnd::IndexSet(2), false);
  EXPECT_EQ(selectedTitle(), "red");
  hooks.proposedAnswer = fnd::IndexSet();  // an empty answer is the delegate's to give
  list->selectRowIndexes(fnd::IndexSet(2), false);
  EXPECT_EQ(selectedTitle(), "<none>");
  hooks.proposedAnswer.reset();
  list->selectRowIndexes(fnd::IndexSet(2), false);
  EXPECT_EQ(selectedTitle(), "Work");
}

TEST_F(SourceListHooksTest, ADelegateGivingViewsMakesTheListViewBased) {
  wireHooks(0);
  EXPECT_FALSE(list->isViewBasedSourceList());
  list->expandItem(library.get());
  EXPECT_TRUE(list->itemHasBadge(inbox.get()));
  EXPECT_EQ(list->viewAtRow(1, true), nullptr);

  wireHooks(SD::ViewForItem | SD::DidAddRowView | SD::DidRemoveRowView);
  EXPECT_TRUE(list->isViewBasedSourceList());
  // Badges and icons are the views' business now.
  EXPECT_FALSE(list->itemHasBadge(inbox.get()));
  EXPECT_EQ(list->badgeValueForItem(inbox.get()), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(list->sizeOfBadgeAtRow(1).width, 0);

  ASSERT_EQ(list->numberOfRows(), 5);
  ui::View* inboxView = list->viewAtRow(1, true);
  ASSERT_NE(inboxView, nullptr);
  EXPECT_EQ(inboxView, hooks.views.at("Inbox").get());
  ui::View* rowView = list->rowViewAtRow(1);
  ASSERT_NE(rowView, nullptr);
  EXPECT_EQ(inboxView->superview(), rowView);
  EXPECT_EQ(rowView->superview(), list.get());
  EXPECT_EQ(rowView->frame(), list->rectOfRow(1));
  // Over the text cell: after the indentation and the triangle.
  EXPECT_EQ(inboxView->frame().origin.x, list->frameOfCellAtRow(1).origin.x);
  EXPECT_EQ(hooks.rowViewLog.size(), 5u);

  // Collapsing takes the rows' views away: their rows are gone.
  hooks.rowViewLog.clear();
  list->collapseItem(library.get());
  list->layoutSubtreeIfNeeded();
  list->viewAtRow(0, true);
  std::vector<std::pair<std::string, long>> removed;
  for (auto& e : hooks.rowViewLog)
    if (e.first == "remove") removed.push_back(e);
  ASSERT_FALSE(removed.empty());
  EXPECT_EQ(std::count(removed.begin(), removed.end(), std::make_pair(std::string("remove"), -1L)), 2);
  EXPECT_EQ(hooks.views.at("Inbox")->superview(), nullptr);
}

TEST_F(SourceListHooksTest, ARenameTellsTheDelegateItsFirstChangeEveryChangeAndItsEnd) {
  wireHooks(SD::ControlTextDidBeginEditing | SD::ControlTextDidChange | SD::ControlTextDidEndEditing,
            SDS::SetObjectValueForItem);
  list->expandItem(library.get());
  window.makeKeyAndOrderFront();
  list->editRow(1);
  ASSERT_TRUE(list->isEditing());
  auto* editor = ui::TestAccess::impl(*list)->tree->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setFocus();
  for (char c : std::string("Re")) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QString(QChar(c)));
    QApplication::sendEvent(editor, &press);
  }
  // The editor starts with the whole name selected: typing replaces it.
  EXPECT_EQ(list->editingText(), "Re");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(editor, &enter);
  test::runUntil([&] { return !list->isEditing(); }, 30);
  using E = std::pair<std::string, std::string>;
  EXPECT_EQ(hooks.editing, (std::vector<E>{{"begin", "R"}, {"change", "R"}, {"change", "Re"}, {"end", "Re"}}));

  // A session that changed nothing still ends, and begins nothing.
  EXPECT_EQ(inbox->title(), "Re");
  hooks.editing.clear();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  list->editRow(2);
  ASSERT_TRUE(list->isEditing());
  editor = ui::TestAccess::impl(*list)->tree->findChildren<QLineEdit*>().value(0);
  ASSERT_NE(editor, nullptr);
  // However the editor closes (Escape, a click elsewhere), the session ends.
  QMetaObject::invokeMethod(ui::TestAccess::impl(*list)->tree, "closeEditor", Q_ARG(QWidget*, editor),
                            Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::RevertModelCache));
  EXPECT_FALSE(list->isEditing());
  EXPECT_EQ(hooks.editing, (std::vector<E>{{"end", "Work"}}));
}

// What the user sees: the tree widget lays its rows out at the delegate's heights (a selected
// row is highlighted exactly over its own rectangle), and a view-based row shows its view.
TEST_F(SourceListHooksTest, RowsAreDrawnAtTheDelegatesHeightsAndViewsShowInTheirRows) {
  wireHooks(SD::HeightOfRowByItem);
  window.makeKeyAndOrderFront();
  list->expandItem(library.get());
  list->selectRowIndexes(fnd::IndexSet(2), false);  // Work: 54..78
  test::runUntil([] { return false; }, 0.05);
  ui::Image shot = list->snapshot();
  fnd::Rect work = list->rectOfRow(2);
  ui::Color inside = shot.pixelColor(4, int(work.origin.y + 2)), insideEnd = shot.pixelColor(4, int(work.origin.y + 21));
  ui::Color above = shot.pixelColor(4, int(work.origin.y - 2)), below = shot.pixelColor(4, int(work.origin.y + 26));
  EXPECT_EQ(inside, insideEnd);
  EXPECT_NE(inside, above);
  EXPECT_NE(inside, below);

  wireHooks(SD::ViewForItem);
  list->viewAtRow(1, true)->setBackgroundColor(ui::Color::rgb(1, 0, 0));
  test::runUntil([] { return false; }, 0.05);
  shot = list->snapshot();
  fnd::Rect cell = list->frameOfCellAtRow(1), inboxRow = list->rectOfRow(1);
  ui::Color red = shot.pixelColor(int(cell.origin.x + 10), int(inboxRow.origin.y + inboxRow.size.height / 2));
  EXPECT_GT(red.red, 0.9);
  EXPECT_LT(red.green, 0.1);
  // Left of the text cell (the indentation and triangle) stays the list's own.
  ui::Color left = shot.pixelColor(2, int(inboxRow.origin.y + inboxRow.size.height / 2));
  EXPECT_LT(left.red - left.green, 0.5);
}
