#pragma once

#include "Model/LibraryFixture.h"
#include "SidebarDelays.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Preferences.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/DialogResponder.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/TextField.h"
#include "Sidebar/FolderPanels.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarKeys.h"
#include "Sidebar/ViewManager.h"
#include "Synchronize/SyncTombstones.h"
#include "Views/SourceList.h"

#include "Harness/TestDialogResponder.h"
#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kesto::test {

// A folder list over a real store in the test's own HOME, with a loaded library and every
// dialog answered by the test responder.
class FolderListTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    dialogs = std::make_shared<TestDialogResponder>();
    ui::DialogResponder::install(dialogs);
    ViewManager::sharedInstance().setCurrentView(ViewManager::Folders);
  }
  void TearDown() override {
    controller.reset();
    dm.reset();
    ui::DialogResponder::install(nullptr);
    LibraryTest::TearDown();
  }

  static fnd::UndoManager* undo() { return WrenEntity::defaultContext()->undoManager(); }
  static fnd::UserDefaults& defaults() { return fnd::UserDefaults::standard(); }

  Folder::Ref folder(const std::string& name, const std::string& parent = Folder::kRootID, std::int64_t order = 0) {
    auto f = Folder::initEntity();
    f->setName(name);
    f->setParentFolderID(parent);
    if (order) f->setOrderIndex(order);
    return f;
  }
  Bookmark::Ref bookmark(const std::string& url, const Folder::Ref& f) {
    auto b = Bookmark::addBookmarkWithURL(url, f);
    b->setTitle(url);
    return b;
  }
  // Wakes the list over a loaded library and builds its tree. A test goes on only when this held
  // (ASSERT_NO_FATAL_FAILURE(start())): without the library there are no rows to work on. The
  // same goes for select(), whose row the test works on next.
  void start() {
    ASSERT_NO_FATAL_FAILURE(save());
    dm = std::make_unique<DataManager>();
    dm->setPreferences(prefs);
    controller = std::make_unique<FoldersController>();
    controller->setDataManager(dm.get());
    controller->awakeFromNib();
    ASSERT_NO_FATAL_FAILURE(load(true));
    controller->updateViewCompletely();
    settle();
  }
  // Ends the main loop's pass, which closes the undo group of what was changed so far, and
  // forgets those changes' undo.
  void settle() {
    spin(0.05);
    undo()->removeAllActions();
  }
  void load(bool awake = false) { LibraryTest::load(*dm, awake); }

  SourceList& list() { return *controller->sourceList(); }
  // Titles of an item's children.
  static std::vector<std::string> titles(const SourceListItem* item) {
    std::vector<std::string> out;
    if (!item) return out;
    for (size_t i = 0; i < item->childCount(); ++i) out.push_back(item->childAt(i)->title());
    return out;
  }
  std::optional<std::int64_t> badge(const Folder::Ref& f) {
    auto* item = controller->itemForFolderID(f->folderID());
    return item ? item->badgeValue() : std::nullopt;
  }
  void select(const std::string& folderID) {
    auto* item = folderID == Folder::kInboxID ? controller->inboxItem()
                 : folderID == "home"         ? controller->homeItem()
                                              : controller->itemForFolderID(folderID);
    for (size_t i = 0; !item && i < controller->homeItem()->childCount(); ++i)
      if (controller->homeItem()->childAt(i)->identifier() == folderID) item = controller->homeItem()->childAt(i);
    ASSERT_TRUE(item) << folderID;
    for (auto* p = list().parentForItem(item); p; p = list().parentForItem(p)) list().expandItem(p);
    if (auto* parent = dynamic_cast<SourceListItem*>(list().parentForItem(item))) list().expandItem(parent);
    brightwren::setSelectedItems(list(), {item});
    ASSERT_EQ(controller->selectedIdentifier(), folderID);
  }
  static std::int64_t storedOrder(const Folder::Ref& f) {
    auto fresh = Folder::existingFolderWithFolderID(f->folderID());
    return fresh ? fresh->orderIndex() : -1;
  }

  std::shared_ptr<TestDialogResponder> dialogs;
  std::unique_ptr<DataManager> dm;
  std::unique_ptr<FoldersController> controller;
};

}  // namespace kesto::test
