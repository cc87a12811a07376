#include "Harness/TestSupport.h"
#include "Platform/UI/OutlineView.h"
#include "Platform/UI/OutlineView_p.h"
#include "Platform/UI/TestAccess_p.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QDragMoveEvent>
#include <QFontInfo>

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::ui;

namespace {

struct Node : fnd::Object {
  std::string name;
  std::vector<std::shared_ptr<Node>> kids;
  bool expandable = false;
};

std::shared_ptr<Node> node(std::string name, std::vector<std::shared_ptr<Node>> kids = {}, bool expandable = false) {
  auto n = std::make_shared<Node>();
  n->name = std::move(name);
  n->expandable = expandable || !n->kids.empty() || !kids.empty();
  n->kids = std::move(kids);
  return n;
}

// A tree of named nodes that records what the view asks and tells.
class Tree : public OutlineViewDataSource, public OutlineViewDelegate {
 public:
  std::vector<std::shared_ptr<Node>> top;
  std::vector<std::string> log;
  std::set<std::string> groups, vetoCollapse, vetoSelect;
  std::vector<std::pair<std::string, long>> drops;
  std::uint64_t answer = DragOperation::Copy;

  Node* at(OutlineItem item) const { return static_cast<Node*>(item); }
  std::string name(OutlineItem item) const { return item ? at(item)->name : "<root>"; }

  unsigned implementedOutlineDataSourceMethods() const override {
    return SetObjectValue | WriteItems | ValidateDrop | AcceptDrop;
  }
  unsigned implementedOutlineDelegateMethods() const override {
    return IsGroupItem | ShouldSelectItem | ShouldCollapseItem | SelectionIsChanging | SelectionDidChange |
           ItemWillExpand | ItemDidExpand | ItemWillCollapse | ItemDidCollapse | ToolTipForCell;
  }
  long outlineViewNumberOfChildrenOfItem(OutlineView&, OutlineItem item) override {
    return long(item ? at(item)->kids.size() : top.size());
  }
  OutlineItem outlineViewChildOfItem(OutlineView&, long i, OutlineItem item) override {
    return item ? at(item)->kids[size_t(i)].get() : top[size_t(i)].get();
  }
  bool outlineViewIsItemExpandable(OutlineView&, OutlineItem item) override { return at(item)->expandable; }
  fnd::Value outlineViewObjectValueForItem(OutlineView&, OutlineItem item) override { return at(item)->name; }
  void outlineViewSetObjectValueForItem(OutlineView&, const fnd::Value& v, OutlineItem item) override {
    at(item)->name = v.string();
  }
  bool outlineViewWriteItemsToPasteboard(OutlineView&, const std::vector<OutlineItem>& items, DragPayload& pb) override {
    std::string text;
    for (auto* i : items) text += "bm:" + name(i) + "\n";
    pb.setString(DragPayload::PlainText, text);
    return true;
  }
  std::uint64_t outlineViewValidateDropProposedItemProposedChildIndex(OutlineView&, const OutlineDraggingInfo& info, OutlineItem item, long index) override {
    drops.emplace_back("validate " + name(item) + " " + info.payload.string(DragPayload::PlainText).value_or("?"), index);
    return answer;
  }
  bool outlineViewAcceptDropItemChildIndex(OutlineView&, const OutlineDraggingInfo&, OutlineItem item, long index) override {
    drops.emplace_back("accept " + name(item), index);
    return true;
  }
  bool outlineViewIsGroupItem(OutlineView&, OutlineItem item) override { return groups.count(name(item)) > 0; }
  bool outlineViewShouldSelectItem(OutlineView&, OutlineItem item) override { return !vetoSelect.count(name(item)); }
  bool outlineViewShouldCollapseItem(OutlineView&, OutlineItem item) override { return !vetoCollapse.count(name(item)); }
  std::string outlineViewToolTipForCellRectItemMouseLocation(OutlineView&, TextCell& cell, fnd::Rect&, OutlineItem item, const fnd::Point&) override {
    return "tip " + cell.stringValue;
  }
  void outlineViewSelectionIsChanging(OutlineView&) override { log.push_back("changing"); }
  void outlineViewSelectionDidChange(OutlineView&) override { log.push_back("did change"); }
  void outlineViewItemWillExpand(OutlineView&, OutlineItem i) override { log.push_back("will expand " + name(i)); }
  void outlineViewItemDidExpand(OutlineView&, OutlineItem i) override { log.push_back("did expand " + name(i)); }
  void outlineViewItemWillCollapse(OutlineView&, OutlineItem i) override { log.push_back("will collapse " + name(i)); }
  void outlineViewItemDidCollapse(OutlineView&, OutlineItem i) override { log.push_back("did collapse " + name(i)); }
};

// Records every pass through the selection entry point.
class RecordingOutline : public OutlineView {
 public:
  using OutlineView::OutlineView;
  std::vector<std::pair<std::vector<std::int64_t>, bool>> calls;
  std::vector<std::pair<EventType, std::string>> menus;
  void selectRowIndexes(const fnd::IndexSet& rows, bool extend) override {
    calls.emplace_back(rows.indexes(), extend);
    OutlineView::selectRowIndexes(rows, extend);
  }
  bool menuForEvent(const Event& e, OutlineItem item) override {
    menus.emplace_back(e.type, item ? static_cast<Node*>(item)->name : "<none>");
    return true;
  }
};

// Library (group): Inbox, Work (Projects (Alpha)), Tags (group): red
struct OutlineViewTest : ::testing::Test {
  Tree tree;
  std::shared_ptr<Node> library, inbox, work, projects, alpha, tags, red;
  Window window{fnd::Rect(0, 0, 240, 300)};
  std::shared_ptr<RecordingOutline> outline;

  void SetUp() override {
    alpha = node("Alpha");
    projects = node("Projects", {alpha});
    work = node("Work", {projects});
    inbox = node("Inbox");
    library = node("Library", {inbox, work});
    red = node("red");
    tags = node("Tags", {red});
    tree.top = {library, tags};
    tree.groups = {"Library", "Tags"};
    outline = std::make_shared<RecordingOutline>(fnd::Rect(0, 0, 240, 300));
    window.contentView()->addSubview(outline);
    outline->setDataSource(&tree);
    outline->setDelegate(&tree);
    outline->reloadData();
  }
  // A point in the outline's coordinates, as a window event.
  Event mouse(EventType type, fnd::Point p, std::uint64_t flags = 0) {
    return Event::mouse(type, outline->convertPointToView(p, nullptr), flags, 1, &window);
  }
  fnd::Point rowPoint(long row, double x = 100) {
    fnd::Rect r = outline->rectOfRow(row);
    return fnd::Point{x, r.origin.y + r.size.height / 2};
  }
  void click(long row, std::uint64_t flags = 0) {
    window.sendEvent(mouse(EventType::LeftMouseDown, rowPoint(row), flags));
    window.sendEvent(mouse(EventType::LeftMouseUp, rowPoint(row), flags));
  }
  std::vector<std::int64_t> selection() const { return outline->selectedRowIndexes().indexes(); }
};

}  // namespace

TEST_F(OutlineViewTest, RowsFollowTheVisibleTree) {
  EXPECT_EQ(outline->numberOfRows(), 2);
  EXPECT_EQ(outline->itemAtRow(1), tags.get());
  EXPECT_EQ(outline->itemAtRow(2), nullptr);
  EXPECT_EQ(outline->itemAtRow(-1), nullptr);
  // Never asked for yet, and hidden: no row, no level.
  EXPECT_EQ(outline->rowForItem(alpha.get()), -1);
  EXPECT_EQ(outline->levelForItem(alpha.get()), -1);

  outline->expandItem(nullptr, true);
  // Library, Inbox, Work, Projects, Alpha, Tags, red
  ASSERT_EQ(outline->numberOfRows(), 7);
  EXPECT_EQ(outline->rowForItem(alpha.get()), 4);
  EXPECT_EQ(outline->levelForItem(alpha.get()), 3);
  EXPECT_EQ(outline->levelForRow(5), 0);
  EXPECT_EQ(outline->parentForItem(alpha.get()), projects.get());
  EXPECT_EQ(outline->parentForItem(library.get()), nullptr);
  EXPECT_EQ(outline->rowForItem(nullptr), -1);

  outline->collapseItem(work.get());
  EXPECT_EQ(outline->numberOfRows(), 5);
  EXPECT_EQ(outline->rowForItem(alpha.get()), -1);
  EXPECT_EQ(outline->rowForItem(tags.get()), 3);
  // Reopening shows the subtree as it was left.
  outline->expandItem(work.get());
  EXPECT_EQ(outline->rowForItem(alpha.get()), 4);
}

TEST_F(OutlineViewTest, RectsAndPointsAgreeAndMissBelowTheRows) {
  outline->setRowHeight(22);
  outline->expandItem(library.get());
  fnd::Rect r = outline->rectOfRow(2);
  EXPECT_DOUBLE_EQ(r.origin.y, 44);
  EXPECT_DOUBLE_EQ(r.size.height, 22);
  EXPECT_DOUBLE_EQ(r.size.width, 240);
  EXPECT_EQ(outline->rowAtPoint({10, 44}), 2);
  EXPECT_EQ(outline->rowAtPoint({10, 65.9}), 2);
  EXPECT_EQ(outline->rowAtPoint({10, 22.0 * 4}), -1);
  EXPECT_EQ(outline->rowAtPoint({10, -1}), -1);
  EXPECT_TRUE(outline->rectOfRow(4).isEmpty());
}

TEST_F(OutlineViewTest, ExpansionHooksComeInOrderAndAVetoKeepsTheItemOpen) {
  tree.log.clear();
  outline->expandItem(library.get());
  outline->expandItem(library.get());  // already open: no hooks
  EXPECT_EQ(tree.log, (std::vector<std::string>{"will expand Library", "did expand Library"}));

  tree.log.clear();
  tree.vetoCollapse = {"Library"};
  outline->collapseItem(library.get());
  EXPECT_TRUE(outline->isItemExpanded(library.get()));
  EXPECT_TRUE(tree.log.empty());
  EXPECT_EQ(outline->numberOfRows(), 4);

  // A click on the triangle and the Left key ask the same question.
  outline->selectRowIndexes(fnd::IndexSet(0), false);
  outline->keyDown(Event::key(KeyCode::LeftArrow));
  fnd::Rect tri = outline->frameOfOutlineCellAtRow(0);
  ASSERT_FALSE(tri.isEmpty());
  window.sendEvent(mouse(EventType::LeftMouseDown, {tri.origin.x + 4, tri.origin.y + 4}));
  window.sendEvent(mouse(EventType::LeftMouseUp, {tri.origin.x + 4, tri.origin.y + 4}));
  EXPECT_TRUE(outline->isItemExpanded(library.get()));

  tree.vetoCollapse.clear();
  tree.log.clear();
  window.sendEvent(mouse(EventType::LeftMouseDown, {tri.origin.x + 4, tri.origin.y + 4}));
  EXPECT_FALSE(outline->isItemExpanded(library.get()));
  EXPECT_EQ(tree.log, (std::vector<std::string>{"will collapse Library", "did collapse Library"}));
}

TEST_F(OutlineViewTest, MouseKeysAndCodeAllPassThroughTheOneSelectionEntryPoint) {
  outline->expandItem(library.get());
  click(1);
  ASSERT_EQ(outline->calls.size(), 1u);
  EXPECT_EQ(outline->calls.back().first, (std::vector<std::int64_t>{1}));
  EXPECT_FALSE(outline->calls.back().second);

  outline->keyDown(Event::key(KeyCode::DownArrow));
  ASSERT_EQ(outline->calls.size(), 2u);
  EXPECT_EQ(outline->calls.back().first, (std::vector<std::int64_t>{2}));

  outline->selectRowIndexes(fnd::IndexSet(1), false);
  EXPECT_EQ(outline->calls.size(), 3u);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1}));
  // The toolkit's own selection (what assistive technology reads) follows.
  auto selectedIndexes = TestAccess::impl(*outline)->tree->selectionModel()->selectedIndexes();
  ASSERT_EQ(selectedIndexes.size(), 1);
  EXPECT_EQ(TestAccess::impl(*outline)->model->nodeFor(selectedIndexes[0])->item, inbox.get());

  // A real press on the toolkit's widget arrives the same way.
  auto* tree = TestAccess::impl(*outline)->tree;
  QPoint at(100, int(outline->rectOfRow(2).origin.y + 5));
  QMouseEvent press(QEvent::MouseButtonPress, at, tree->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, tree->viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(tree->viewport(), &press);
  QApplication::sendEvent(tree->viewport(), &release);
  ASSERT_EQ(outline->calls.size(), 4u);
  EXPECT_EQ(outline->calls.back().first, (std::vector<std::int64_t>{2}));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{2}));

  // And a real key.
  QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
  QApplication::sendEvent(tree, &up);
  ASSERT_EQ(outline->calls.size(), 5u);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1}));
}

TEST_F(OutlineViewTest, AMousePressReportsChangingAndItsReleaseTheChange) {
  outline->expandItem(library.get());
  tree.log.clear();
  window.sendEvent(mouse(EventType::LeftMouseDown, rowPoint(1)));
  EXPECT_EQ(tree.log, (std::vector<std::string>{"changing"}));
  window.sendEvent(mouse(EventType::LeftMouseUp, rowPoint(1)));
  EXPECT_EQ(tree.log, (std::vector<std::string>{"changing", "did change"}));

  // Keys and code change it at once.
  tree.log.clear();
  outline->keyDown(Event::key(KeyCode::DownArrow));
  outline->selectRowIndexes(fnd::IndexSet(1), false);
  EXPECT_EQ(tree.log, (std::vector<std::string>{"did change", "did change"}));

  // Selecting what is already selected tells nobody.
  tree.log.clear();
  outline->selectRowIndexes(fnd::IndexSet(1), false);
  click(1);
  EXPECT_TRUE(tree.log.empty());
}

TEST_F(OutlineViewTest, SelectionOutsideTheRowsOrRefusedIsLeftOut) {
  outline->expandItem(library.get());
  tree.vetoSelect = {"Work"};
  outline->selectRowIndexes(fnd::IndexSet{1, 9}, false);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1}));
  outline->setAllowsMultipleSelection(true);
  outline->selectRowIndexes(fnd::IndexSet{0, 2}, true);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{0, 1}));
  outline->selectRowIndexes(fnd::IndexSet(1), false);
  outline->setAllowsEmptySelection(false);
  outline->selectRowIndexes(fnd::IndexSet(), false);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1}));
  outline->setAllowsEmptySelection(true);
  outline->selectRowIndexes(fnd::IndexSet(), false);
  EXPECT_TRUE(selection().empty());
}

TEST_F(OutlineViewTest, ArrowsStopAtTheEndsKeepingTheSelection) {
  outline->expandItem(nullptr, true);
  outline->selectRowIndexes(fnd::IndexSet(6), false);
  outline->keyDown(Event::key(KeyCode::DownArrow));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{6}));
  outline->selectRowIndexes(fnd::IndexSet(0), false);
  outline->keyDown(Event::key(KeyCode::UpArrow));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{0}));
}

TEST_F(OutlineViewTest, ScrollingMovesTheCoordinatesWithTheRows) {
  for (int i = 0; i < 40; ++i) inbox->kids.push_back(node("Note " + std::to_string(i)));
  inbox->expandable = true;
  outline->reloadData();
  outline->expandItem(nullptr, true);
  window.makeKeyAndOrderFront();
  outline->scrollRowToVisible(outline->numberOfRows() - 1);
  test::runUntil([&] { return outline->bounds().origin.y > 0; }, 30);
  double scrolled = outline->bounds().origin.y;
  ASSERT_GT(scrolled, 0);
  // A click at the top of the visible part lands on the row scrolled there.
  fnd::Point top{100, scrolled + 2};
  long expected = long(std::floor((scrolled + 2) / outline->rowHeight()));
  window.sendEvent(mouse(EventType::LeftMouseDown, top));
  window.sendEvent(mouse(EventType::LeftMouseUp, top));
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{expected}));
  outline->keyDown(Event::key(KeyCode::PageUp));
  EXPECT_LT(outline->bounds().origin.y, scrolled);
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{expected}));
}

TEST_F(OutlineViewTest, CollapsingAParentDropsHiddenRowsFromTheSelection) {
  outline->expandItem(nullptr, true);
  outline->selectRowIndexes(fnd::IndexSet(4), false);  // Alpha
  tree.log.clear();
  outline->collapseItem(work.get());
  EXPECT_TRUE(selection().empty());
  ASSERT_FALSE(tree.log.empty());
  EXPECT_EQ(tree.log.back(), "did change");
  // Expanding above a selected row moves its index with it.
  outline->selectRowIndexes(fnd::IndexSet(3), false);  // Tags now
  outline->collapseItem(library.get());
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{1}));
  outline->expandItem(library.get());
  EXPECT_EQ(outline->itemAtRow(selection().at(0)), tags.get());
}

TEST_F(OutlineViewTest, ReloadKeepsExpandedItemsAndSelectedRowsAndDropsVanishedOnes) {
  outline->expandItem(nullptr, true);
  outline->selectRowIndexes(fnd::IndexSet(6), false);
  work->kids.clear();
  work->expandable = false;
  outline->reloadData();
  // Library, Inbox, Work, Tags, red: row 6 is past the end now.
  EXPECT_EQ(outline->numberOfRows(), 5);
  EXPECT_TRUE(outline->isItemExpanded(tags.get()));
  EXPECT_TRUE(selection().empty());

  outline->selectRowIndexes(fnd::IndexSet(4), false);
  outline->reloadData();
  EXPECT_EQ(selection(), (std::vector<std::int64_t>{4}));

  // Reloading one item's children asks only for those.
  red->name = "crimson";
  tags->kids.push_back(node("blue"));
  outline->reloadItem(tags.get(), true);
  EXPECT_EQ(outline->numberOfRows(), 6);
  EXPECT_EQ(outline->itemAtRow(4), red.get());
  EXPECT_EQ(outline->selectedRow(), 4);
}

TEST_F(OutlineViewTest, DropsAreValidatedByItemAndChildIndexThroughTheModel) {
  outline->expandItem(library.get());
  auto* model = TestAccess::impl(*outline)->model;
  QMimeData mime;
  mime.setData("text/plain", "folder:7");
  QModelIndex libraryIndex = model->index(0, 0);
  QModelIndex workIndex = model->index(1, 0, libraryIndex);
  ASSERT_EQ(model->nodeFor(workIndex)->item, work.get());

  EXPECT_TRUE(model->canDropMimeData(&mime, Qt::MoveAction, -1, 0, workIndex));
  EXPECT_TRUE(model->canDropMimeData(&mime, Qt::MoveAction, 1, 0, libraryIndex));
  EXPECT_TRUE(model->canDropMimeData(&mime, Qt::MoveAction, -1, 0, QModelIndex()));
  tree.answer = DragOperation::None;
  EXPECT_FALSE(model->canDropMimeData(&mime, Qt::MoveAction, 0, 0, libraryIndex));
  tree.answer = DragOperation::Generic;
  EXPECT_TRUE(model->dropMimeData(&mime, Qt::MoveAction, -1, 0, workIndex));
  EXPECT_EQ(tree.drops, (std::vector<std::pair<std::string, long>>{{"validate Work folder:7", -1},
                                                                   {"validate Library folder:7", 1},
                                                                   {"validate <root> folder:7", -1},
                                                                   {"validate Library folder:7", 0},
                                                                   {"accept Work", -1}}));
}

TEST_F(OutlineViewTest, ADragOverARowProposesOntoItsMiddleAndBetweenAtItsEdges) {
  outline->expandItem(library.get());
  auto* widget = TestAccess::impl(*outline)->tree;
  QMimeData mime;
  mime.setData("text/plain", "bm:1\n");
  auto over = [&](long row, double fraction, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    fnd::Rect r = outline->rectOfRow(row);
    QPointF at(60, r.origin.y + r.size.height * fraction);
    QDragEnterEvent move(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, modifiers);
    QApplication::sendEvent(widget->viewport(), &move);
    return std::make_pair(move.isAccepted(), move.dropAction());
  };
  tree.answer = DragOperation::Generic;
  auto middle = over(2, 0.5);
  EXPECT_TRUE(middle.first);
  EXPECT_EQ(middle.second, Qt::MoveAction);
  over(2, 0.1);
  over(1, 0.9);
  tree.answer = DragOperation::Copy;
  // The copy modifier leaves the source offering a copy only.
  auto copy = over(1, 0.5, Qt::ControlModifier);
  EXPECT_EQ(copy.second, Qt::CopyAction);
  tree.answer = DragOperation::None;
  EXPECT_FALSE(over(1, 0.5).first);
  EXPECT_EQ(tree.drops, (std::vector<std::pair<std::string, long>>{{"validate Work bm:1\n", -1},
                                                                   {"validate Library bm:1\n", 1},
                                                                   {"validate Library bm:1\n", 1},
                                                                   {"validate Inbox bm:1\n", -1},
                                                                   {"validate Inbox bm:1\n", -1}}));
}

TEST_F(OutlineViewTest, DraggedRowsBecomePlainTextLines) {
  outline->expandItem(nullptr, true);
  auto* model = TestAccess::impl(*outline)->model;
  QModelIndex libraryIndex = model->index(0, 0);
  std::unique_ptr<QMimeData> mime(model->mimeData({model->index(0, 0, libraryIndex), model->index(1, 0, libraryIndex)}));
  ASSERT_TRUE(mime);
  EXPECT_EQ(mime->data("text/plain").toStdString(), "bm:Inbox\nbm:Work\n");
  auto payload = outline->dragPayloadForRows(fnd::IndexSet(99));
  EXPECT_FALSE(payload.has_value());
}

TEST_F(OutlineViewTest, ContextMenusNameTheItemUnderThePointerAndHowTheyWereAsked) {
  outline->expandItem(library.get());
  window.sendEvent(mouse(EventType::RightMouseDown, rowPoint(2)));
  window.sendEvent(mouse(EventType::LeftMouseDown, rowPoint(1), ModifierFlag::Control));
  window.sendEvent(mouse(EventType::LeftMouseUp, rowPoint(1), ModifierFlag::Control));
  window.sendEvent(mouse(EventType::RightMouseDown, {100, 250}));
  // The right button on the toolkit's widget.
  auto* tree = TestAccess::impl(*outline)->tree;
  QPoint at(100, int(outline->rectOfRow(0).origin.y + 5));
  QMouseEvent press(QEvent::MouseButtonPress, at, tree->viewport()->mapToGlobal(at), Qt::RightButton, Qt::RightButton,
                    Qt::NoModifier);
  QApplication::sendEvent(tree->viewport(), &press);
  EXPECT_EQ(outline->menus, (std::vector<std::pair<EventType, std::string>>{{EventType::RightMouseDown, "Work"},
                                                                           {EventType::LeftMouseDown, "Inbox"},
                                                                           {EventType::RightMouseDown, "<none>"},
                                                                           {EventType::RightMouseDown, "Library"}}));
  // A Control-click opens the menu without selecting.
  EXPECT_TRUE(selection().empty());
}

TEST_F(OutlineViewTest, TypingSelectsTheNextMatchingRowAndSkipsGroups) {
  outline->expandItem(nullptr, true);
  outline->keyDown(Event::key(KeyCode::W, 0, "w"));
  EXPECT_EQ(outline->selectedRow(), 2);
  outline->keyDown(Event::key(KeyCode::T, 0, "t"));  // "wt" matches nothing: stays
  EXPECT_EQ(outline->selectedRow(), 2);
  // "T" alone would find the group heading "Tags"; groups are never type-selected.
  outline->deselectAll();
  auto* d = TestAccess::impl(*outline);
  d->typedAt = -1e9;
  outline->keyDown(Event::key(KeyCode::T, 0, "t"));
  EXPECT_EQ(outline->selectedRow(), -1);
}

TEST_F(OutlineViewTest, InlineRenameHandsTheNewTextToTheDataSource) {
  outline->expandItem(library.get());
  window.makeKeyAndOrderFront();
  outline->editRow(1);
  ASSERT_TRUE(outline->isEditing());
  auto* editor = TestAccess::impl(*outline)->tree->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text().toStdString(), "Inbox");
  editor->setText("Reading");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(editor, &enter);
  test::runUntil([&] { return !outline->isEditing(); }, 30);
  EXPECT_EQ(inbox->name, "Reading");
  EXPECT_FALSE(outline->isEditing());
}

TEST_F(OutlineViewTest, ReturnAndEnterFromTheWindowStoreARenameAndEscapeKeepsTheOldName) {
  outline->expandItem(nullptr, true);
  window.makeKeyAndOrderFront();
  // As the window delivers keys: to its first responder, the outline view.
  auto rename = [&](long row, const QString& text, std::uint16_t key, const std::string& chars) {
    outline->editRow(row);
    EXPECT_TRUE(outline->isEditing());
    // The editor just closed may still wait for its deletion: the open one is shown.
    QLineEdit* editor = nullptr;
    for (auto* e : TestAccess::impl(*outline)->tree->findChildren<QLineEdit*>())
      if (e->isVisible()) editor = e;
    ASSERT_NE(editor, nullptr);
    editor->setText(text);
    outline->keyDown(Event::key(key, 0, chars));
    test::runUntil([&] { return !outline->isEditing(); }, 30);
    EXPECT_FALSE(outline->isEditing());
  };
  rename(1, "Reading", KeyCode::Return, "\r");
  EXPECT_EQ(inbox->name, "Reading");
  rename(2, "Office", KeyCode::KeypadEnter, "\r");
  EXPECT_EQ(work->name, "Office");
  rename(2, "Nothing", KeyCode::Escape, "\x1b");
  EXPECT_EQ(work->name, "Office");
}

// A quit or a close ends the window's editing: an open rename is stored, as at a click elsewhere.
TEST_F(OutlineViewTest, TheWindowEndingItsEditingStoresAnOpenRename) {
  outline->expandItem(library.get());
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(test::runUntil([&] { return static_cast<QWidget*>(window.nativeHandle())->isActiveWindow(); }));
  outline->editRow(1);
  ASSERT_TRUE(outline->isEditing());
  auto* editor = TestAccess::impl(*outline)->tree->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setText("Reading");
  window.endEditing();
  test::runUntil([&] { return !outline->isEditing(); }, 30);
  EXPECT_FALSE(outline->isEditing());
  EXPECT_EQ(inbox->name, "Reading");
}

TEST_F(OutlineViewTest, TheRenameEditorLiesOverTheRowsTextInItsFont) {
  outline->expandItem(nullptr, true);
  window.makeKeyAndOrderFront();
  const long row = 4;  // Alpha, three levels in
  outline->editRow(row);
  ASSERT_TRUE(outline->isEditing());
  auto* editor = TestAccess::impl(*outline)->tree->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  const fnd::Rect text = outline->frameOfCellAtRow(row), r = outline->rectOfRow(row);
  const QRect g = editor->geometry();
  EXPECT_NEAR(g.x(), text.origin.x, 4);
  EXPECT_GT(g.x(), 20);
  EXPECT_NEAR(g.y(), r.origin.y, 1);
  EXPECT_NEAR(g.height(), r.size.height, 1);
  // Our font sizes are in view units (pixels), the toolkit's in points.
  EXPECT_NEAR(QFontInfo(editor->font()).pixelSize(), outline->preparedCellAtRow(row).font.pointSize, 1);
}

TEST_F(OutlineViewTest, ToolTipsComeFromTheDelegateForTheRowUnderThePointer) {
  EXPECT_EQ(outline->toolTipAtPoint(rowPoint(1)), "tip Tags");
  EXPECT_EQ(outline->toolTipAtPoint({10, 280}), "");
}

TEST_F(OutlineViewTest, SelectedRowsAreHighlightedAcrossTheRow) {
  outline->expandItem(library.get());
  outline->selectRowIndexes(fnd::IndexSet(1), false);
  window.makeKeyAndOrderFront();
  Image shot = outline->snapshot();
  fnd::Rect r = outline->rectOfRow(1);
  Color selected = shot.pixelColor(2, int(r.origin.y + 2));
  Color plain = shot.pixelColor(2, int(outline->rectOfRow(2).origin.y + 2));
  EXPECT_NE(selected, plain);
  EXPECT_LT(selected.blue + selected.green + selected.red, 2.9);
}

namespace {
// Counts the paint events a widget receives.
struct PaintCounter : QObject {
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};
}  // namespace

// What the rows show can change without a reload (a badge): asking the view to be drawn again
// must repaint the rows.
TEST_F(OutlineViewTest, AskingForADrawRepaintsTheRows) {
  window.makeKeyAndOrderFront();
  auto* tree = TestAccess::impl(*outline)->tree;
  PaintCounter counter;
  tree->viewport()->installEventFilter(&counter);
  kesto::test::spin(0.2);
  counter.paints = 0;
  outline->setNeedsDisplay();
  EXPECT_TRUE(kesto::test::runUntil([&] { return counter.paints > 0; }, 30));
  tree->viewport()->removeEventFilter(&counter);
}
