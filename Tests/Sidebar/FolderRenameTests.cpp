#include "SidebarFixture.h"

#include "Harness/StoreConnection.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/Window.h"
#include "Sidebar/SidebarCommands.h"

#include <algorithm>

// Last: the toolkit's keyword macros must not meet the store's headers.
#include "Harness/FocusedKeys.h"

namespace kesto::test {
namespace {

// Renaming folders in place: what opens the editor on which rows, and what a rename stores.
class FolderRenameTest : public FolderListTest {
 protected:
  // The list on screen, where its editor shows and takes the keys.
  void show() {
    window = std::make_unique<ui::Window>(fnd::Rect(0, 0, 240, 600));
    window->contentView()->addSubview(controller->view());
    window->makeKeyAndOrderFront();
    window->makeFirstResponder(&list());
    // An editor opened before the window is active would lose the focus as it becomes so.
    ASSERT_TRUE(runUntil([&] { return window->isKeyWindow(); }, 30));
    spin(0.05);
  }
  void TearDown() override {
    if (controller) controller->view()->removeFromSuperview();
    window.reset();
    FolderListTest::TearDown();
  }
  // The row's middle in the coordinates events carry.
  ui::Event click(SourceListItem* item, ui::EventType type, int clicks = 1, std::uint64_t flags = 0) {
    const fnd::Rect r = list().rectOfRow(list().rowForItem(item));
    const fnd::Point p = list().convertPointToView(fnd::Point{r.midX(), r.midY()}, nullptr);
    return ui::Event::mouse(type, p, flags, clicks);
  }
  void press(SourceListItem* item, int clicks = 1, std::uint64_t flags = 0) {
    list().mouseDown(click(item, ui::EventType::LeftMouseDown, clicks, flags));
    list().mouseUp(click(item, ui::EventType::LeftMouseUp, clicks, flags));
  }
  void key(std::uint16_t code, std::uint64_t flags = 0) { list().keyDown(ui::Event::key(code, flags)); }
  // Closes an open editor without storing its text.
  void closeEditor() {
    if (list().isEditing()) key(ui::KeyCode::Escape);
    ASSERT_FALSE(list().isEditing());
  }
  static double doubleClickTime() { return ui::Event::doubleClickInterval(); }
  static int storedVersion(const Folder::Ref& f) {
    return onStoreConnection("select ZVERSION from ZFOLDER where ZFOLDERID = '" + f->folderID() + "'");
  }
  static bool storedName(const Folder::Ref& f, const std::string& name) {
    return onStoreConnection("select count(*) from ZFOLDER where ZFOLDERID = '" + f->folderID() + "' and ZNAME = '" +
                             name + "'") == 1;
  }
  static std::vector<std::string> titles(const std::shared_ptr<ui::Menu>& menu) {
    std::vector<std::string> out;
    for (auto& item : menu->items()) out.push_back(item->isSeparatorItem() ? "-" : item->title());
    return out;
  }
  std::unique_ptr<ui::Window> window;
};

TEST_F(FolderRenameTest, KeysAndDoubleClicksOpenTheEditorOnlyOnRowsThatMayBeRenamed) {
  auto mine = folder("Mine");
  auto locked = folder("Locked");
  locked->setBlocked(1);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(show());
  auto* row = controller->itemForFolderID(mine->folderID());
  ASSERT_TRUE(row);
  ASSERT_NO_FATAL_FAILURE(select(mine->folderID()));
  for (auto code : {ui::KeyCode::F2, ui::KeyCode::Return, ui::KeyCode::KeypadEnter}) {
    key(code);
    EXPECT_TRUE(list().isEditing()) << code;
    ASSERT_NO_FATAL_FAILURE(closeEditor());
  }
  // With a modifier the keys are someone else's.
  for (auto flag : {ui::ModifierFlag::Command, ui::ModifierFlag::Option, ui::ModifierFlag::Shift}) {
    key(ui::KeyCode::F2, flag);
    EXPECT_FALSE(list().isEditing()) << flag;
    ASSERT_NO_FATAL_FAILURE(closeEditor());
    key(ui::KeyCode::Return, flag);
    EXPECT_FALSE(list().isEditing()) << flag;
    ASSERT_NO_FATAL_FAILURE(closeEditor());
  }

  for (const std::string& id : {std::string(Folder::kInboxID), std::string("home"), locked->folderID()}) {
    ASSERT_NO_FATAL_FAILURE(select(id));
    // Each key on its own: Return would close an editor F2 opened.
    key(ui::KeyCode::F2);
    EXPECT_FALSE(list().isEditing()) << id;
    ASSERT_NO_FATAL_FAILURE(closeEditor());
    key(ui::KeyCode::Return);
    EXPECT_FALSE(list().isEditing()) << id;
    ASSERT_NO_FATAL_FAILURE(closeEditor());
  }

  // A double click on a row not selected before selects and opens it; on a fixed row nothing.
  press(row);
  list().mouseDown(click(row, ui::EventType::LeftMouseDown, 2));
  EXPECT_TRUE(list().isEditing());
  list().mouseUp(click(row, ui::EventType::LeftMouseUp, 2));
  EXPECT_EQ(controller->selectedIdentifier(), mine->folderID());
  ASSERT_NO_FATAL_FAILURE(closeEditor());
  press(controller->inboxItem());
  press(controller->inboxItem(), 2);
  EXPECT_FALSE(list().isEditing());
  // Shift or Ctrl double clicks change the selection only.
  press(row, 1, ui::ModifierFlag::Shift);
  press(row, 2, ui::ModifierFlag::Shift);
  EXPECT_FALSE(list().isEditing());
}

TEST_F(FolderRenameTest, ASecondClickOnTheSelectedRowOpensTheEditorOnceTheDoubleClickTimeHasPassed) {
  auto mine = folder("Mine");
  auto other = folder("Other");
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(show());
  auto* row = controller->itemForFolderID(mine->folderID());
  ASSERT_TRUE(row);
  // The click that selects a row only selects it.
  press(row);
  ASSERT_TRUE(waitPast(doubleClickTime()));
  EXPECT_FALSE(list().isEditing());

  press(row);
  EXPECT_FALSE(list().isEditing());
  EXPECT_TRUE(runUntil([&] { return list().isEditing(); }, doubleClickTime() + 20));
  ASSERT_NO_FATAL_FAILURE(closeEditor());

  // A key, or another row chosen, before the time is up: no editor.
  press(row);
  key(ui::KeyCode::RightArrow);
  ASSERT_TRUE(waitPast(doubleClickTime()));
  EXPECT_FALSE(list().isEditing());
  press(row);
  ASSERT_NO_FATAL_FAILURE(select(other->folderID()));
  ASSERT_TRUE(waitPast(doubleClickTime()));
  EXPECT_FALSE(list().isEditing());
}

// A new folder asked for while another row's name is open: that name is kept as typed and the
// new folder's name opens.
TEST_F(FolderRenameTest, ANewFolderAskedForWhileANameIsOpenTakesTheEditor) {
  auto mine = folder("Mine");
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(show());
  ASSERT_NO_FATAL_FAILURE(select(mine->folderID()));
  key(ui::KeyCode::F2);
  ASSERT_TRUE(list().isEditing());
  controller->addFolder();
  EXPECT_TRUE(list().isEditing());
  auto created = Folder::fetchEntityWhereProperty("name", std::string("New Folder"));
  ASSERT_TRUE(created);
  EXPECT_EQ(controller->selectedIdentifier(), created->folderID());
  EXPECT_EQ(created->parentFolderID(), mine->folderID());
  EXPECT_TRUE(storedName(mine, "Mine"));
}

// New Folder asked for while the keys go elsewhere (a field of the window, or no view at all):
// the new row's name opens at once and takes what is typed next, at the top level and inside
// a folder.
TEST_F(FolderRenameTest, ANewFolderTakesItsNameAtOnceWhereverTheKeysWere) {
  auto mine = folder("Mine");
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(show());
  auto field = std::make_shared<ui::TextField>(fnd::Rect(0, 0, 100, 22));
  window->contentView()->addSubview(field);
  struct Case {
    ui::Responder* keys;
    std::string selected, name, parent;
  };
  for (const Case& c : {Case{field.get(), "home", "Travel", Folder::kRootID}, Case{nullptr, "home", "Trip", Folder::kRootID},
                        Case{controller->searchField().get(), mine->folderID(), "Inside", mine->folderID()}}) {
    ASSERT_NO_FATAL_FAILURE(select(c.selected));
    window->makeFirstResponder(c.keys);
    controller->addFolder();
    // The focus moves on the main loop's turn as well.
    spin(0.05);
    ASSERT_TRUE(list().isEditing()) << c.name;
    type(QString::fromStdString(c.name));
    kesto::test::press(Qt::Key_Return);
    EXPECT_FALSE(list().isEditing()) << c.name;
    auto named = Folder::fetchEntityWhereProperty("name", c.name);
    ASSERT_TRUE(named) << c.name;
    EXPECT_TRUE(storedName(named, c.name));
    EXPECT_EQ(named->parentFolderID(), c.parent) << c.name;
  }
  field->removeFromSuperview();
}

TEST_F(FolderRenameTest, TheContextMenuOffersRenameOnlyWhereARenameIsPossible) {
  auto mine = folder("Mine");
  auto locked = folder("Locked");
  locked->setBlocked(1);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(show());
  auto menu = controller->menuForItem(controller->itemForFolderID(mine->folderID()));
  auto names = titles(menu);
  auto at = std::find(names.begin(), names.end(), "Rename");
  ASSERT_NE(at, names.end());
  // Between Save/Share and Delete, showing the list's key.
  EXPECT_EQ(*(at - 1), "Save/Share");
  EXPECT_EQ(*(at + 1), "Delete");
  auto rename = menu->items()[at - names.begin()];
  EXPECT_EQ(rename->keyEquivalentText(), "F2");

  ASSERT_NO_FATAL_FAILURE(select(mine->folderID()));
  ASSERT_TRUE(rename->target()->performAction(rename->action(), rename.get()));
  EXPECT_TRUE(list().isEditing());
  ASSERT_NO_FATAL_FAILURE(closeEditor());

  for (auto* item : {controller->itemForFolderID(locked->folderID()), controller->homeItem(), controller->inboxItem(),
                     controller->importedItem()}) {
    auto other = titles(controller->menuForItem(item));
    EXPECT_EQ(std::find(other.begin(), other.end(), "Rename"), other.end()) << item->identifier();
  }
  // Asked for on a locked row anyway (a stale menu), the command opens nothing.
  ASSERT_NO_FATAL_FAILURE(select(locked->folderID()));
  controller->performAction(cmd::renameFolder, rename.get());
  EXPECT_FALSE(list().isEditing());
}

TEST_F(FolderRenameTest, ARenameIsSavedWithANewVersionAndUndoneAndRedoneAsChangesOfTheirOwn) {
  auto f = folder("Old");
  auto sibling = folder("Sibling");
  ASSERT_NO_FATAL_FAILURE(start());
  const int v0 = storedVersion(f);
  controller->sourceListSetObjectValueForItem(list(), fnd::Value("New"), controller->itemForFolderID(f->folderID()));
  EXPECT_TRUE(storedName(f, "New"));
  EXPECT_EQ(storedVersion(f), v0 + 1);
  ASSERT_TRUE(controller->itemForFolderID(f->folderID()));
  EXPECT_EQ(controller->itemForFolderID(f->folderID())->title(), "New");
  ASSERT_TRUE(undo()->canUndo());
  EXPECT_EQ(undo()->undoActionName(), "Rename");
  spin(0.05);

  // Undone, the old name is a change of its own: it must win over the renamed copy other
  // machines already hold.
  ASSERT_TRUE(controller->performAction(cmd::undo, nullptr));
  EXPECT_TRUE(storedName(f, "Old"));
  EXPECT_EQ(storedVersion(f), v0 + 2);
  ASSERT_TRUE(controller->itemForFolderID(f->folderID()));
  EXPECT_EQ(controller->itemForFolderID(f->folderID())->title(), "Old");
  spin(0.05);
  ASSERT_TRUE(controller->performAction(cmd::redo, nullptr));
  EXPECT_TRUE(storedName(f, "New"));
  EXPECT_EQ(storedVersion(f), v0 + 3);
  spin(0.05);

  // Undone from elsewhere (the list without the focus), the row follows too.
  undo()->undo();
  EXPECT_TRUE(storedName(f, "Old"));
  ASSERT_TRUE(controller->itemForFolderID(f->folderID()));
  EXPECT_EQ(controller->itemForFolderID(f->folderID())->title(), "Old");
  EXPECT_TRUE(storedName(sibling, "Sibling"));

  // The same name again, or a blank one, is no step to undo.
  undo()->removeAllActions();
  EXPECT_TRUE(controller->renameFolder(f->folderID(), "Old"));
  EXPECT_FALSE(controller->renameFolder(f->folderID(), " \t"));
  EXPECT_FALSE(undo()->canUndo());
  EXPECT_EQ(storedVersion(f), v0 + 4);

  // A folder deleted since its rename (by a sync, say): undoing the rename makes nothing.
  ASSERT_TRUE(controller->renameFolder(f->folderID(), "Last"));
  spin(0.05);
  undo()->disableUndoRegistration();
  f->deleteEntity();
  ASSERT_TRUE(WrenEntity::saveContext());
  undo()->enableUndoRegistration();
  undo()->undo();
  EXPECT_FALSE(Folder::existingFolderWithFolderID(f->folderID()));
  EXPECT_EQ(onStoreConnection("select count(*) from ZFOLDER where ZNAME = 'Old'"), 0);
}

// An emptied or blank name keeps the old one. Backspace and Delete in the editor edit the text:
// they never ask to delete the folder being renamed, and the arrows stay in the text too.
TEST_F(FolderRenameTest, KeysInTheEditorEditTheTextAndAnEmptiedOrBlankNameKeepsTheOldOne) {
  auto mine = folder("Mine");
  auto other = folder("Other");
  start();
  show();
  select(mine->folderID());
  const int v0 = storedVersion(mine);
  auto* row = controller->itemForFolderID(mine->folderID());
  for (const char* typed : {"", "   "}) {
    key(ui::KeyCode::F2);
    ASSERT_TRUE(list().isEditing());
    ASSERT_EQ(list().editingText(), "Mine");
    // The whole name is selected as the editor opens: Backspace takes it away.
    key(ui::KeyCode::Delete);
    EXPECT_TRUE(list().isEditing());
    EXPECT_EQ(list().editingText(), "");
    for (const char* c = typed; *c; ++c) list().keyDown(ui::Event::key(ui::KeyCode::Space, 0, " "));
    key(ui::KeyCode::ForwardDelete);
    key(ui::KeyCode::UpArrow);
    key(ui::KeyCode::DownArrow);
    EXPECT_TRUE(list().isEditing());
    EXPECT_EQ(list().editingText(), typed);
    EXPECT_EQ(list().selectedRow(), list().rowForItem(row));
    key(ui::KeyCode::Return);
    EXPECT_FALSE(list().isEditing());
    ASSERT_TRUE(waitPast(kConfirmedRemovalDelay));  // where a confirmed removal would have run
    // Past here an asked or done removal would leave `row` deleted.
    ASSERT_TRUE(dialogs->alerts.empty()) << dialogs->alerts.front().message;
    ASSERT_TRUE(Folder::existingFolderWithFolderID(mine->folderID()));
    EXPECT_TRUE(storedName(mine, "Mine")) << '"' << typed << '"';
    EXPECT_EQ(storedVersion(mine), v0);
    EXPECT_EQ(row->title(), "Mine");
  }
  EXPECT_TRUE(storedName(other, "Other"));
}

// Bookmarks on the clipboard (no text) and Ctrl+V in the editor, as the toolkit delivers the key:
// the name stays (pasting no text over the selection deleted it), and typing goes on after it.
TEST_F(FolderRenameTest, PastingWithNoTextOnTheClipboardLeavesTheNameBeingEdited) {
  ui::Application::shared();
  auto mine = folder("Mine");
  start();
  show();
  select(mine->folderID());
  ui::PasteboardItem bookmarks;
  bookmarks.setString("http://a.example/\n", "BookmarkCopyType");
  ASSERT_TRUE(ui::Pasteboard::general().writeObjects({bookmarks}));
  key(ui::KeyCode::F2);
  ASSERT_TRUE(list().isEditing());
  test::press(Qt::Key_V, QString(), Qt::ControlModifier);
  EXPECT_EQ(list().editingText(), "Mine");
  test::press(Qt::Key_End);
  test::type("s");
  EXPECT_EQ(list().editingText(), "Mines");
  key(ui::KeyCode::Return);
  EXPECT_TRUE(storedName(mine, "Mines"));
}

}  // namespace
}  // namespace kesto::test
