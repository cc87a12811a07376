#include "Views/KestoPanel.h"
#include "Sidebar/SidebarCommands.h"
#include "SidebarFixture.h"

#include "Harness/StoreConnection.h"

#include "Model/Base64.h"
#include "Model/Config.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Panel.h"
#include "Sidebar/SidebarController.h"
#include "Synchronize/SharedFolderArchive.h"
#include "Views/Pathbar.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>

#include <sys/mount.h>

namespace kesto::test {
namespace {

using FolderEditTest = FolderListTest;

std::vector<std::string> tombstoneTexts() {
  std::vector<std::string> out;
  for (auto& t : SyncTombstones::tombstones()) out.push_back(t.objectID + "|" + std::to_string(t.version) + "|" + t.type);
  return out;
}

// Every folder of the subtree gets a tombstone: a library where a subfolder was moved elsewhere
// or renamed meanwhile must not keep it and send it back.
TEST_F(FolderEditTest, RemovingTrashesTheSubtreeIntoTheInboxWithATombstonePerFolderAndUndoesAsOneStep) {
  auto top = folder("Top");
  auto mid = folder("Mid", top->folderID());
  auto low = folder("Low", mid->folderID());
  auto keep = folder("Keep");
  auto b1 = bookmark("http://1.example/", top);
  auto b3 = bookmark("http://3.example/", low);
  top->setVersion(4);
  mid->setVersion(2);
  low->setVersion(7);
  ASSERT_NO_FATAL_FAILURE(start());
  std::vector<std::string> expected{top->folderID() + "|4|f", mid->folderID() + "|2|f", low->folderID() + "|7|f"};
  std::sort(expected.begin(), expected.end());
  auto sortedTombstones = [] {
    auto texts = tombstoneTexts();
    std::sort(texts.begin(), texts.end());
    return texts;
  };
  ASSERT_TRUE(controller->doRemoveFolder(top->folderID()));
  EXPECT_FALSE(Folder::existingFolderWithFolderID(top->folderID()));
  EXPECT_FALSE(Folder::existingFolderWithFolderID(mid->folderID()));
  EXPECT_FALSE(Folder::existingFolderWithFolderID(low->folderID()));
  EXPECT_TRUE(Folder::existingFolderWithFolderID(keep->folderID()));
  for (auto& b : {b1, b3}) {
    EXPECT_EQ(b->trashed(), 1);
    ASSERT_TRUE(b->folder());
    EXPECT_EQ(b->folder()->folderID(), Folder::kInboxID);
  }
  EXPECT_EQ(sortedTombstones(), expected);
  EXPECT_FALSE(controller->itemForFolderID(top->folderID()));
  EXPECT_EQ(titles(controller->homeItem()).back(), "Keep");

  // Undo brings every level back and takes the tombstone with it, so a sync cannot delete the
  // folders again; redo does both once more.
  ASSERT_TRUE(controller->performAction(ui::cmd::undo, nullptr));
  ASSERT_TRUE(Folder::existingFolderWithFolderID(top->folderID()));
  EXPECT_TRUE(Folder::existingFolderWithFolderID(low->folderID()));
  EXPECT_EQ(b3->trashed(), 0);
  ASSERT_TRUE(b3->folder());
  EXPECT_EQ(b3->folder()->folderID(), low->folderID());
  EXPECT_TRUE(tombstoneTexts().empty());
  EXPECT_TRUE(controller->itemForFolderID(top->folderID()));

  ASSERT_TRUE(controller->performAction(ui::cmd::redo, nullptr));
  EXPECT_FALSE(Folder::existingFolderWithFolderID(top->folderID()));
  EXPECT_EQ(sortedTombstones(), expected);
}

// A library that has taken in an import: its folders under Imported share the numbering of a
// full load with the top-level ones, while a removal renumbers only the removed folder's
// siblings. Each load after a removal (a tab chosen again, a sync, an import) renumbers again.
TEST_F(FolderEditTest, UndoAfterTheListIsLoadedAgainTakesBackTheRemovalItNames) {
  auto apple = folder("Apple", Folder::kRootID, 1);
  auto imported = folder("Bookmarks bar", Folder::kImportedID, 2);
  auto inner = folder("Topic", imported->folderID(), 1);
  auto search = folder("Search", Folder::kRootID, 3);
  auto kesto = folder("Kesto", Folder::kRootID, 4);
  auto sub = folder("Sub", kesto->folderID(), 1);
  auto b1 = bookmark("http://1.example/", kesto);
  auto b2 = bookmark("http://2.example/", sub);
  auto b3 = bookmark("http://3.example/", inner);
  ASSERT_NO_FATAL_FAILURE(start());
  auto chooseTabsAgain = [&] {
    // Trash, then folders: the folder list is loaded again; then the Library row.
    controller->updateViewCompletely();
    ASSERT_NO_FATAL_FAILURE(select("home"));
    spin(0.05);
  };
  auto removed = [&] {
    return !Folder::existingFolderWithFolderID(kesto->folderID()) &&
           !Folder::existingFolderWithFolderID(sub->folderID()) && b1->trashed() == 1 && b2->trashed() == 1;
  };
  auto restored = [&] {
    return Folder::existingFolderWithFolderID(kesto->folderID()) &&
           Folder::existingFolderWithFolderID(sub->folderID()) && b1->trashed() == 0 && b2->trashed() == 0 && b1->folder() && b1->folder()->folderID() == kesto->folderID() &&
           b2->folder() && b2->folder()->folderID() == sub->folderID();
  };
  ui::MenuItem undoItem("Undo", ui::cmd::undo);

  // Removed, taken back, removed again: the list is loaded in between, as after each undo.
  ASSERT_TRUE(controller->doRemoveFolder(kesto->folderID()));
  spin(0.05);
  ASSERT_TRUE(removed());
  ASSERT_TRUE(controller->performAction(ui::cmd::undo, nullptr));
  spin(0.05);
  ASSERT_TRUE(restored());
  ASSERT_TRUE(controller->doRemoveFolder(kesto->folderID()));
  spin(0.05);
  ASSERT_TRUE(removed());

  chooseTabsAgain();
  ASSERT_TRUE(controller->validateMenuItem(undoItem));
  EXPECT_EQ(undo()->undoMenuItemTitle(), "Undo Delete");
  ASSERT_TRUE(controller->performAction(ui::cmd::undo, nullptr));
  spin(0.05);
  EXPECT_TRUE(restored());
  for (const auto& t : tombstoneTexts())
    EXPECT_TRUE(t.rfind(kesto->folderID(), 0) != 0 && t.rfind(sub->folderID(), 0) != 0) << t;
  EXPECT_EQ(b3->trashed(), 0);
  // Nothing of the loads is left to undo in place of the user's changes.
  chooseTabsAgain();
  EXPECT_FALSE(controller->validateMenuItem(undoItem)) << undoItem.title();
}

// Opening and closing rows, finding a folder and going to one keep the list's own state; none is
// a step Undo takes back before the user's last change.
TEST_F(FolderEditTest, OpeningClosingFindingAndGoingToRowsLeaveTheUserChangeOnTopOfUndo) {
  auto imported = folder("Bookmarks bar", Folder::kImportedID, 1);
  auto inner = folder("Topic", imported->folderID(), 1);
  auto deep = folder("Deep", inner->folderID(), 1);
  auto doomed = folder("Doomed");
  bookmark("http://1.example/", doomed);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(controller->doRemoveFolder(doomed->folderID()));
  spin(0.05);
  list().expandItem(controller->importedItem());
  spin(0.05);
  if (auto* row = controller->itemForFolderID(imported->folderID())) list().expandItem(row);
  spin(0.05);
  list().collapseItem(controller->importedItem());
  spin(0.05);
  controller->selectFolderWithID(deep->folderID());
  spin(0.05);
  EXPECT_EQ(undo()->undoActionName(), "Delete");
  ASSERT_TRUE(controller->performAction(ui::cmd::undo, nullptr));
  EXPECT_TRUE(Folder::existingFolderWithFolderID(doomed->folderID()));
  EXPECT_FALSE(undo()->canUndo());
}

TEST_F(FolderEditTest, TheConfirmedFolderIsRemovedAndFixedRowsNeverAre) {
  auto first = folder("First");
  auto second = folder("Second");
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(select(first->folderID()));
  controller->removeFolder();
  ASSERT_EQ(dialogs->alerts.size(), 1u);
  EXPECT_EQ(dialogs->alerts[0].message, "Delete this folder?");
  EXPECT_EQ(dialogs->alerts[0].buttons, (std::vector<std::string>{"Delete", "Cancel"}));
  // The selection moves before the deferred removal runs: the confirmed folder still goes.
  ASSERT_NO_FATAL_FAILURE(select(second->folderID()));
  ASSERT_TRUE(runUntil([&] { return !Folder::existingFolderWithFolderID(first->folderID()); }, 20));
  EXPECT_TRUE(Folder::existingFolderWithFolderID(second->folderID()));

  for (const char* fixed : {"_inbox", "_imported", "home", "library", "pinboard", "delicious"})
    EXPECT_FALSE(controller->doRemoveFolder(fixed)) << fixed;
  EXPECT_TRUE(Folder::existingFolderWithFolderID(Folder::kInboxID));
  ASSERT_NO_FATAL_FAILURE(select(Folder::kInboxID));
  controller->removeFolder();
  EXPECT_EQ(dialogs->alerts.size(), 1u);

  // Cancel changes nothing.
  dialogs->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  ASSERT_NO_FATAL_FAILURE(select(second->folderID()));
  controller->removeFolder();
  ASSERT_TRUE(waitPast(kConfirmedRemovalDelay));
  EXPECT_TRUE(Folder::existingFolderWithFolderID(second->folderID()));
}

TEST_F(FolderEditTest, LockingAsksForThePasswordOfTheFolderSelectedWhenAskedAndCoversTheSubtree) {
  auto top = folder("Top");
  auto sub = folder("Sub", top->folderID());
  auto other = folder("Other");
  auto inTop = bookmark("http://top.example/", top);
  auto inSub = bookmark("http://sub.example/", sub);
  ASSERT_NO_FATAL_FAILURE(start());
  auto& panels = controller->panels();
  const auto versions = std::make_pair(top->version(), inSub->version());
  auto isLocked = [](const Folder::Ref& f) {
    auto stored = Folder::existingFolderWithFolderID(f->folderID());
    return stored && stored->blocked() == 1 && stored->isExpanded() == 0;
  };
  ASSERT_NO_FATAL_FAILURE(select(top->folderID()));
  controller->lockFolder();
  // The application's own panels (Escape ends them as it ends every sheet).
  EXPECT_TRUE(dynamic_cast<KestoPanel*>(&panels.newPasswordPanel()));
  EXPECT_TRUE(dynamic_cast<KestoPanel*>(&panels.passwordPanel()));
  EXPECT_TRUE(dynamic_cast<KestoPanel*>(&panels.smartFolderPanel()));
  // No password yet: the new-password panel asks for one, twice. Another row chosen meanwhile
  // changes nothing.
  ASSERT_NO_FATAL_FAILURE(select(other->folderID()));
  panels.newPasswordField().setStringValue("s3cret");
  panels.confirmPasswordField().setStringValue("other");
  EXPECT_FALSE(controller->saveNewPassword());
  EXPECT_FALSE(Config::fetchEntityWhereProperty("kestoKey", "password"));
  EXPECT_EQ(top->blocked(), 0);
  panels.confirmPasswordField().setStringValue("s3cret");
  ASSERT_TRUE(controller->saveNewPassword());
  ASSERT_EQ(dialogs->alerts.size(), 1u);
  // Success is told with the information icon, its title not repeated as the first line.
  EXPECT_EQ(dialogs->alerts[0].message,
            "Password succesfully created. You can now password protect your folders.");
  EXPECT_EQ(dialogs->alerts[0].informative, "");
  EXPECT_EQ(dialogs->alerts[0].style, ui::AlertStyle::Informational);
  ASSERT_TRUE(Config::fetchEntityWhereProperty("kestoKey", "password"));
  EXPECT_EQ(Config::fetchEntityWhereProperty("kestoKey", "password")->kestoValue(), "czNjcmV0");
  // Making the password locks nothing: the alert tells the user to choose the lock again.
  EXPECT_EQ(Folder::existingFolderWithFolderID(top->folderID())->blocked(), 0);
  EXPECT_EQ(Folder::existingFolderWithFolderID(sub->folderID())->blocked(), 0);
  EXPECT_EQ(inTop->blocked(), 0);
  EXPECT_EQ(inSub->blocked(), 0);
  EXPECT_EQ(top->version(), versions.first);
  // The lock chosen again asks for the password just made, for the folder selected then.
  ASSERT_NO_FATAL_FAILURE(select(top->folderID()));
  controller->lockFolder();
  EXPECT_TRUE(panels.passwordPanel().isVisible());
  EXPECT_FALSE(panels.newPasswordPanel().isVisible());
  ASSERT_NO_FATAL_FAILURE(select(other->folderID()));
  panels.passwordField().setStringValue("s3cret");
  panels.pressPasswordOK();
  EXPECT_FALSE(panels.passwordPanel().isVisible());
  EXPECT_EQ(dialogs->alerts.size(), 1u);
  // Now the folder is locked, with its subfolders and their bookmarks.
  EXPECT_TRUE(isLocked(top));
  EXPECT_TRUE(isLocked(sub));
  EXPECT_EQ(other->blocked(), 0);
  EXPECT_EQ(inTop->blocked(), 1);
  EXPECT_EQ(inSub->blocked(), 1);
  // Versions go up so that the lock reaches other machines.
  EXPECT_GT(top->version(), versions.first);
  EXPECT_GT(inSub->version(), versions.second);
  EXPECT_FALSE(controller->sourceListShouldExpandItem(list(), controller->itemForFolderID(top->folderID())));
  EXPECT_FALSE(badge(top));
  // A second new password, as a later pass would make, locks nothing more.
  panels.newPasswordField().setStringValue("s3cret");
  panels.confirmPasswordField().setStringValue("s3cret");
  panels.pressNewPasswordOK();
  EXPECT_FALSE(panels.newPasswordPanel().isVisible());
  EXPECT_EQ(other->blocked(), 0);

  // Locked, it is neither deleted (its bookmarks would be trashed out of reach) nor shared.
  EXPECT_FALSE(controller->doRemoveFolder(top->folderID()));
  EXPECT_TRUE(Folder::existingFolderWithFolderID(top->folderID()));

  // Unlocking asks for the password; a wrong one is told and changes nothing.
  ASSERT_NO_FATAL_FAILURE(select(top->folderID()));
  controller->unlockFolder();
  ASSERT_TRUE(panels.passwordPanel().isVisible());
  ASSERT_NO_FATAL_FAILURE(select(other->folderID()));
  panels.passwordField().setStringValue("wrong");
  panels.pressPasswordOK();
  EXPECT_EQ(top->blocked(), 1);
  EXPECT_EQ(panels.passwordField().stringValue(), "");
  EXPECT_EQ(panels.passwordHint().stringValue(), "Wrong password.");
  panels.passwordField().setStringValue("s3cret");
  panels.pressPasswordOK();
  ASSERT_TRUE(Folder::existingFolderWithFolderID(sub->folderID()));
  EXPECT_EQ(Folder::existingFolderWithFolderID(sub->folderID())->blocked(), 0);
  EXPECT_EQ(inSub->blocked(), 0);
  EXPECT_EQ(other->blocked(), 0);

  // With a password, locking asks for it and locks once it is right.
  ASSERT_NO_FATAL_FAILURE(select(top->folderID()));
  controller->lockFolder();
  ASSERT_TRUE(panels.passwordPanel().isVisible());
  EXPECT_FALSE(panels.newPasswordPanel().isVisible());
  panels.passwordField().setStringValue("s3cret");
  panels.pressPasswordOK();
  EXPECT_TRUE(isLocked(top));

  // The Inbox cannot be locked.
  ASSERT_NO_FATAL_FAILURE(select(Folder::kInboxID));
  controller->lockFolder();
  EXPECT_FALSE(panels.passwordPanel().isVisible());
}

// A folder arriving locked from another machine, without the password: unlocking it makes the
// password first and unlocks nothing; the unlock chosen again asks for that password. The alert
// comes once the new-password panel has gone, and while the folder is still locked.
TEST_F(FolderEditTest, UnlockingWithoutAPasswordMakesOneAndTheUnlockIsChosenAgain) {
  auto locked = folder("Arrived");
  locked->setBlocked(1);
  auto inside = bookmark("http://arrived.example/", locked);
  inside->setBlocked(1);
  ASSERT_NO_FATAL_FAILURE(start());
  auto& panels = controller->panels();
  struct AtTheAlert : TestDialogResponder {
    std::function<void()> look;
    int respondToAlert(ui::Alert& alert) override {
      if (look) look();
      return TestDialogResponder::respondToAlert(alert);
    }
  };
  auto responder = std::make_shared<AtTheAlert>();
  bool panelShownAtAlert = true;
  std::int64_t blockedAtAlert = -1;
  responder->look = [&] {
    panelShownAtAlert = panels.newPasswordPanel().isVisible();
    blockedAtAlert = Folder::existingFolderWithFolderID(locked->folderID())->blocked();
  };
  dialogs = responder;
  ui::DialogResponder::install(responder);

  ASSERT_NO_FATAL_FAILURE(select(locked->folderID()));
  controller->unlockFolder();
  ASSERT_TRUE(panels.newPasswordPanel().isVisible());
  panels.newPasswordField().setStringValue("pw");
  panels.confirmPasswordField().setStringValue("pw");
  panels.pressNewPasswordOK();
  EXPECT_FALSE(panels.newPasswordPanel().isVisible());
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_FALSE(panelShownAtAlert);
  EXPECT_EQ(blockedAtAlert, 1);
  ASSERT_TRUE(Config::fetchEntityWhereProperty("kestoKey", "password"));
  EXPECT_EQ(Config::fetchEntityWhereProperty("kestoKey", "password")->kestoValue(), "cHc=");
  ASSERT_TRUE(Folder::existingFolderWithFolderID(locked->folderID()));
  EXPECT_EQ(Folder::existingFolderWithFolderID(locked->folderID())->blocked(), 1);
  EXPECT_EQ(inside->blocked(), 1);
  EXPECT_FALSE(panels.passwordPanel().isVisible());

  controller->unlockFolder();
  ASSERT_TRUE(panels.passwordPanel().isVisible());
  panels.passwordField().setStringValue("pw");
  panels.pressPasswordOK();
  EXPECT_EQ(Folder::existingFolderWithFolderID(locked->folderID())->blocked(), 0);
  EXPECT_EQ(inside->blocked(), 0);
  EXPECT_EQ(responder->alerts.size(), 1u);
}

TEST_F(FolderEditTest, ContextMenuFollowsTheRowAndColoursChangeTheIcon) {
  auto f = folder("Mine");
  auto locked = folder("Locked");
  locked->setBlocked(1);
  ASSERT_NO_FATAL_FAILURE(start());
  auto names = [](const std::shared_ptr<ui::Menu>& menu) {
    std::vector<std::string> out;
    for (auto& item : menu->items()) out.push_back(item->isSeparatorItem() ? "-" : item->title());
    return out;
  };
  EXPECT_EQ(names(controller->menuForItem(controller->homeItem())), (std::vector<std::string>{"Add Folder", "Add Smart Folder"}));
  EXPECT_TRUE(controller->menuForItem(controller->inboxItem())->items().empty());
  EXPECT_TRUE(controller->menuForItem(controller->importedItem())->items().empty());
  auto menu = controller->menuForItem(controller->itemForFolderID(f->folderID()));
  ASSERT_EQ(names(menu), (std::vector<std::string>{"Add Bookmark", "-", "Add Folder", "Save/Share", "Rename",
                                                   "Delete", "-", "Password Protect Folder", "-", "Color"}));
  ASSERT_TRUE(menu->items().back()->submenu());
  ASSERT_EQ(names(menu->items().back()->submenu()),
            (std::vector<std::string>{"blue", "red", "green", "grey", "yellow", "orange", "-", "None"}));
  auto lockedMenu = names(controller->menuForItem(controller->itemForFolderID(locked->folderID())));
  EXPECT_NE(std::find(lockedMenu.begin(), lockedMenu.end(), "Remove Password Protection"), lockedMenu.end());
  EXPECT_EQ(std::find(lockedMenu.begin(), lockedMenu.end(), "Password Protect Folder"), lockedMenu.end());

  ASSERT_NO_FATAL_FAILURE(select(f->folderID()));
  const auto version = f->version();
  auto green = menu->items().back()->submenu()->items()[2];
  ASSERT_TRUE(controller->performAction(cmd::changeFolderColor, green.get()));
  ASSERT_TRUE(Folder::existingFolderWithFolderID(f->folderID()));
  EXPECT_EQ(Folder::existingFolderWithFolderID(f->folderID())->color(), std::optional<std::string>("green"));
  EXPECT_EQ(f->version(), version + 1);
  // "None" takes the colour off: stored as no colour, drawn as a folder that never had one.
  ASSERT_NO_FATAL_FAILURE(select(f->folderID()));
  ASSERT_TRUE(waitPast(kSelectionDelay));
  auto none = menu->items().back()->submenu()->items().back();
  ASSERT_TRUE(controller->performAction(cmd::changeFolderColor, none.get()));
  ASSERT_TRUE(Folder::existingFolderWithFolderID(f->folderID()));
  EXPECT_EQ(Folder::existingFolderWithFolderID(f->folderID())->color(), std::nullopt);
  EXPECT_EQ(f->imageName(), "folder_grey");
  EXPECT_EQ(f->version(), version + 2);
  // On a smart folder it stays smart.
  auto smart = controller->addSmartFolderMatching("news");
  ASSERT_TRUE(smart);
  ASSERT_NO_FATAL_FAILURE(select(smart->folderID()));
  ASSERT_TRUE(waitPast(kSelectionDelay));
  ASSERT_TRUE(controller->performAction(cmd::changeFolderColor, none.get()));
  EXPECT_EQ(smart->color(), std::nullopt);
  EXPECT_TRUE(smart->isSmart());
}

TEST_F(FolderEditTest, EmptyTrashDeletesTrashedBookmarksWithOneTombstoneEach) {
  auto f = folder("F");
  auto t1 = bookmark("http://t1.example/", f);
  auto t2 = bookmark("http://t2.example/", f);
  auto live = bookmark("http://live.example/", f);
  t1->setTrashed(1);
  t2->setTrashed(1);
  ASSERT_NO_FATAL_FAILURE(start());
  const auto id1 = *t1->uniqueIDValue(), id2 = *t2->uniqueIDValue();
  const auto v1 = t1->version();
  SyncTombstones::record(id1, v1, "b");
  controller->doEmptyTrash();
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 1);
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("uniqueID", *live->uniqueIDValue()));
  auto texts = tombstoneTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), id1 + "|" + std::to_string(v1) + "|b"), 1);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(), [&](const std::string& s) { return s.rfind(id2, 0) == 0; }), 1);
}

TEST_F(FolderEditTest, SharingOntoAFullDiskSaysSoAndLeavesNothing) {
  auto f = folder("Trip");
  for (int i = 0; i < 20; ++i) bookmark("http://trip.example/" + std::to_string(i), f);
  ASSERT_NO_FATAL_FAILURE(start());
  const std::string disk = makeTempDir("full");
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "mounting a small file system needs root";
  {
    // Filled to the last block.
    std::ofstream filler(disk + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    for (int i = 0; i < 64 && filler.write(block.data(), std::streamsize(block.size())); ++i) filler.flush();
  }
  std::vector<std::string> messages;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &messages, [&](const fnd::Notification& n) { messages.push_back(n.userInfo.at(kOverlayMessageKey).string()); },
      ShowOverlayWithMessage);
  const bool shared = controller->shareFolderToPath(f->folderID(), disk + "/Trip.kesto");
  fnd::NotificationCenter::defaultCenter().removeObserver(&messages);
  std::vector<std::string> left;
  for (auto& e : std::filesystem::directory_iterator(disk))
    if (e.path().filename() != "filler") left.push_back(e.path().filename().string());
  ::umount2(disk.c_str(), MNT_DETACH);
  EXPECT_FALSE(shared);
  EXPECT_TRUE(left.empty()) << left.front();
  ASSERT_FALSE(dialogs->alerts.empty());
  EXPECT_EQ(dialogs->alerts.back().message, "The folder could not be shared");
  EXPECT_TRUE(messages.empty()) << "told as saved: " << messages.front();
}

TEST_F(FolderEditTest, SharingWritesTheArchiveOverAnEarlierOneAndRefusesALockedFolder) {
  auto f = folder("Trip");
  bookmark("http://trip.example/", f);
  auto locked = folder("Private");
  locked->setBlocked(1);
  ASSERT_NO_FATAL_FAILURE(start());
  const std::string dir = makeTempDir("share");
  const std::string path = dir + "/Trip.kesto";
  std::filesystem::create_directories(path + "/stale");
  ASSERT_TRUE(controller->shareFolderToPath(f->folderID(), path));
  EXPECT_TRUE(std::filesystem::exists(path + "/Contents/kesto.xml"));
  EXPECT_FALSE(std::filesystem::exists(path + "/stale"));
  // Nothing else is left beside it.
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1);

  ASSERT_NO_FATAL_FAILURE(select(locked->folderID()));
  controller->shareFolder();
  ASSERT_FALSE(dialogs->alerts.empty());
  EXPECT_EQ(dialogs->alerts.back().message, "This folder is password protected");
  EXPECT_TRUE(dialogs->panels.empty());
}

// An archive goes to other people: saved logins and passwords go in only when the user says so
// (leaving them out is the default answer), and a folder without any is not asked about.
TEST_F(FolderEditTest, SharingAsksBeforeSavedLoginsAndPasswordsGoIntoTheArchive) {
  auto plain = folder("Plain");
  bookmark("http://plain.example/", plain);
  auto bank = folder("Bank");
  auto sub = folder("Accounts", bank->folderID());
  // A login alone, or a password alone, is enough to ask.
  bookmark("http://bank.example/", sub)->setLogin("alice");
  bookmark("http://card.example/", bank)->setPassword("c2VjcmV0");
  ASSERT_NO_FATAL_FAILURE(start());
  const std::string dir = makeTempDir("share");
  auto shareAndRead = [&](const std::string& id, const std::string& name) {
    select(id);
    dialogs->saveAnswers.push_back(dir + "/" + name + ".kesto");
    controller->shareFolder();
    const std::string xml = dir + "/" + name + ".kesto/Contents/kesto.xml";
    EXPECT_TRUE(runUntil([&] { return std::filesystem::exists(xml); }, 20)) << name;
    return SharedFolderArchive::readArchiveDocument(dir + "/" + name + ".kesto").value_or("");
  };

  std::string archive = shareAndRead(plain->folderID(), "Plain");
  EXPECT_NE(archive.find("plain.example"), std::string::npos);
  // The dialog is named after the command, the folder's name offered with the extension.
  ASSERT_FALSE(dialogs->panels.empty());
  EXPECT_EQ(dialogs->panels.back().title, "Save/Share");
  EXPECT_EQ(dialogs->panels.back().name, "Plain.kesto");
  EXPECT_TRUE(dialogs->alerts.empty());

  // The default answer leaves them out: the elements stay, empty.
  archive = shareAndRead(bank->folderID(), "Bank");
  ASSERT_EQ(dialogs->alerts.size(), 1u);
  EXPECT_EQ(dialogs->alerts[0].buttons, (std::vector<std::string>{"Leave Them Out", "Include Them", "Cancel"}));
  EXPECT_NE(archive.find("bank.example"), std::string::npos);
  EXPECT_NE(archive.find("<login></login>"), std::string::npos);
  EXPECT_NE(archive.find("<password></password>"), std::string::npos);
  EXPECT_EQ(archive.find("alice"), std::string::npos);
  EXPECT_EQ(archive.find("c2VjcmV0"), std::string::npos);

  dialogs->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  archive = shareAndRead(bank->folderID(), "Bank with passwords");
  EXPECT_NE(archive.find("alice"), std::string::npos);
  EXPECT_NE(archive.find("c2VjcmV0"), std::string::npos);

  // Cancel shares nothing and asks for no place.
  const auto panels = dialogs->panels.size();
  dialogs->alertAnswers.push_back({ui::AlertThirdButtonReturn});
  controller->shareFolder();
  // Past what the answer queued: a save panel would be asked for there.
  ASSERT_TRUE(waitPast(0));
  EXPECT_EQ(dialogs->panels.size(), panels);
}

TEST_F(FolderEditTest, ASaveThatFailsIsShown) {
  auto f = folder("Named");
  ASSERT_NO_FATAL_FAILURE(start());
  // A store that refuses writes, whoever runs the test.
  onStoreConnection("PRAGMA query_only = 1");
  const bool renamed = controller->renameFolder(f->folderID(), "Renamed");
  onStoreConnection("PRAGMA query_only = 0");
  EXPECT_FALSE(renamed);
  ASSERT_FALSE(dialogs->alerts.empty());
  EXPECT_EQ(dialogs->alerts.back().message, "The folder could not be renamed");
  EXPECT_EQ(f->name(), "Named");
}

// ---- The switcher ----------------------------------------------------------------------------

class SwitcherTest : public FolderListTest {};

TEST_F(SwitcherTest, TheStoredListIsShownAndEverySwitchStoresItBeforeTheRefresh) {
  save();
  DataManager manager;
  manager.setPreferences(prefs);
  SidebarController sidebar;
  sidebar.setDataManager(&manager);
  std::vector<std::string> seen;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &seen, [&](const fnd::Notification& n) { seen.push_back(std::string(n.name.text()) + "=" + defaults().stringForKey(SelectedView).value_or("")); },
      BRWUpdateHistoryViewNotification);
  sidebar.selectStartupView();
  EXPECT_EQ(defaults().stringForKey(SelectedView), std::optional<std::string>("SelectedLibraryView"));
  EXPECT_EQ(sidebar.selectedTabIdentifier(), "foldersTab");
  EXPECT_FALSE(sidebar.folderSearchView()->isHidden());

  sidebar.selectHistory();
  EXPECT_EQ(ViewManager::sharedInstance().currentView(), 2);
  EXPECT_EQ(seen, std::vector<std::string>{"BRWUpdateHistoryViewNotification=SelectedHistoryView"});
  EXPECT_TRUE(sidebar.tabView(0)->isHidden());
  EXPECT_FALSE(sidebar.tabView(2)->isHidden());
  int on = 0;
  for (auto& b : sidebar.buttons()) on += b->state() == 1;
  EXPECT_EQ(on, 1);

  defaults().setString("SomethingElse", SelectedView);
  sidebar.selectStartupView();
  EXPECT_EQ(defaults().stringForKey(SelectedView), std::optional<std::string>("SelectedLibraryView"));
  EXPECT_EQ(ViewManager::sharedInstance().currentView(), 0);

  defaults().setString("SelectedTrashView", SelectedView);
  fnd::NotificationCenter::defaultCenter().postNotificationName(SelectCurrentSidebarViewNotification);
  sidebar.awakeFromNib();
  fnd::NotificationCenter::defaultCenter().postNotificationName(SelectCurrentSidebarViewNotification);
  EXPECT_EQ(sidebar.selectedTabIdentifier(), "trashTab");
  fnd::NotificationCenter::defaultCenter().postNotificationName(SelectFoldersViewNotification);
  EXPECT_EQ(sidebar.selectedTabIdentifier(), "foldersTab");

  // A tag outside the six only clears the bookmark list.
  sidebar.executeSelection(9);
  EXPECT_EQ(sidebar.selectedTabIdentifier(), "foldersTab");
  fnd::NotificationCenter::defaultCenter().removeObserver(&seen);
}

// At start the stored list comes on the main loop's first turn after the interface is loaded,
// not after a fixed wait that held the first list back.
TEST_F(SwitcherTest, TheStoredListIsShownOnTheLoopsFirstTurnAfterStart) {
  save();
  DataManager manager;
  manager.setPreferences(prefs);
  SidebarController sidebar;
  sidebar.setDataManager(&manager);
  defaults().setString("SelectedHistoryView", SelectedView);
  sidebar.awakeFromNib();
  EXPECT_NE(sidebar.selectedTabIdentifier(), "historyTab");
  spin(0.05);
  EXPECT_EQ(sidebar.selectedTabIdentifier(), "historyTab");
  EXPECT_EQ(ViewManager::sharedInstance().currentView(), 2);
}

TEST_F(SwitcherTest, ThePathBarNamesAFolderOnlyOnTheFoldersTab) {
  auto top = folder("Top");
  auto low = folder("Low", top->folderID());
  save();
  DataManager manager;
  manager.setPreferences(prefs);
  SidebarController sidebar;
  sidebar.setDataManager(&manager);
  Pathbar pathbar(fnd::Rect(0, 0, 300, 24));
  sidebar.foldersController().setPathbar(&pathbar);
  sidebar.awakeFromNib();
  sidebar.selectFolders();
  sidebar.foldersController().selectFolderWithID(low->folderID());
  EXPECT_EQ(pathbar.pathComponentCells().size(), 2u);
  for (auto select : {&SidebarController::selectTags, &SidebarController::selectHistory, &SidebarController::selectPopulars,
                      &SidebarController::selectMaintenance, &SidebarController::selectTrash}) {
    sidebar.selectFolders();
    sidebar.foldersController().selectFolderWithID(low->folderID());
    ASSERT_EQ(pathbar.pathComponentCells().size(), 2u);
    (sidebar.*select)();
    EXPECT_TRUE(pathbar.pathComponentCells().empty()) << sidebar.selectedTabIdentifier();
  }
  sidebar.foldersController().setPathbar(nullptr);
}

TEST_F(SwitcherTest, ARegisteredListFillsItsTab) {
  struct Tags : SidebarTabContent {
    std::shared_ptr<ui::View> v = std::make_shared<ui::View>();
    std::shared_ptr<ui::View> view() override { return v; }
  };
  std::shared_ptr<ui::View> made;
  registerSidebarTab(1, [&] {
    auto t = std::make_unique<Tags>();
    made = t->v;
    return t;
  });
  SidebarController sidebar;
  registerSidebarTab(1, nullptr);
  EXPECT_EQ(sidebar.tabView(1), made);
  EXPECT_NE(sidebar.tabView(2), nullptr);
}


TEST_F(FolderEditTest, ServiceRowsWithoutAClientSaySoAndDisconnectTakesOnlyTheirBookmarks) {
  auto f = folder("F");
  auto kept = bookmark("http://kept.example/", f);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(select("pinboard"));
  controller->updateSelection();
  ASSERT_FALSE(dialogs->alerts.empty());
  EXPECT_EQ(dialogs->alerts.back().message, "Connecting to Pinboard is not available");

  auto service = Service::initEntity();
  service->setValue(0, fnd::Value("pinboard"));
  auto marked = Bookmark::addBookmarWithURL("http://marked.example/", "pinboard");
  save();
  // The list shown meanwhile is another one: only the service's bookmarks go.
  ASSERT_NO_FATAL_FAILURE(select(f->folderID()));
  controller->updateSelection();
  ASSERT_TRUE(controller->performAction(cmd::disconnectFromPinboard, nullptr));
  EXPECT_FALSE(Service::fetchEntityWhereProperty("name", "pinboard"));
  EXPECT_EQ(Bookmark::countWithPredicate(store::Predicate::parse("url == %@", {std::string("http://marked.example/")})), 0);
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("uniqueID", *kept->uniqueIDValue()));
}

TEST_F(FolderEditTest, AServiceRowWithoutAClientSaysSoOnceWhenChosenAndIsNotKeptAsTheList) {
  auto f = folder("F");
  bookmark("http://kept.example/", f);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(select(f->folderID()));
  controller->updateSelection();
  ASSERT_TRUE(dm->currentFolder());
  ASSERT_NO_FATAL_FAILURE(select("pinboard"));
  controller->updateSelection();
  ASSERT_EQ(dialogs->alerts.size(), 1u);
  EXPECT_EQ(dialogs->alerts.back().message, "Connecting to Pinboard is not available");
  // The sidebar goes back to the folder the list still shows, and remembers that one.
  EXPECT_EQ(controller->selectedIdentifier(), f->folderID());
  EXPECT_EQ(defaults().stringForKey("currentlySelectedFolder").value_or(""), f->folderID());
  // Reloads, adds, tab switches and hand-overs refresh the list: no second message.
  for (int i = 0; i < 3; ++i) {
    controller->updateView();
    controller->updateViewCompletely();
    controller->updateSelection();
    ASSERT_TRUE(waitPast(kSelectionDelay));
  }
  EXPECT_EQ(dialogs->alerts.size(), 1u);
  ASSERT_TRUE(dm->currentFolder());
  EXPECT_EQ(dm->currentFolder()->folderID(), f->folderID());
  // Chosen again, it says so again.
  ASSERT_NO_FATAL_FAILURE(select("pinboard"));
  controller->updateSelection();
  EXPECT_EQ(dialogs->alerts.size(), 2u);
}

TEST_F(FolderEditTest, ThePathBarSelectsAnAncestorAndTheFileMenuReachesTheList) {
  auto top = folder("Top");
  auto mid = folder("Mid", top->folderID());
  auto low = folder("Low", mid->folderID());
  ASSERT_NO_FATAL_FAILURE(start());
  controller->selectFolderWithID(low->folderID());
  ASSERT_TRUE(dm->currentFolder());
  ASSERT_EQ(dm->currentFolder()->folderID(), low->folderID());
  controller->pathbarAction(5);
  EXPECT_EQ(controller->selectedIdentifier(), low->folderID());
  controller->pathbarAction(1);
  EXPECT_EQ(controller->selectedIdentifier(), mid->folderID());

  ui::Menu file("File");
  controller->addMenuItems(file);
  auto item = file.itemWithTitle("New Folder");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->keyEquivalentText().empty(), false);
  ASSERT_NO_FATAL_FAILURE(select("home"));
  const auto before = Folder::countWithPredicate(nullptr);
  ASSERT_TRUE(file.performActionForItemAtIndex(0));
  EXPECT_EQ(Folder::countWithPredicate(nullptr), before + 1);
  // Nothing to undo right after a load; the removal below is.
  settle();
  ui::MenuItem undoItem("Undo", ui::cmd::undo);
  EXPECT_FALSE(controller->validateMenuItem(undoItem));
  ASSERT_TRUE(controller->doRemoveFolder(top->folderID()));
  EXPECT_TRUE(controller->validateMenuItem(undoItem));
}

}  // namespace
}  // namespace kesto::test
