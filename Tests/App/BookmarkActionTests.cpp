// Adding, deleting, opening, the context menu, the clipboard and undo of the bookmark list,
// against the test's own store.

#include "AppFixture.h"

#include "App/AppCommands.h"
#include "App/PreferencesController.h"

#include "Model/BookmarkServiceClient.h"
#include "Model/Service.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Window.h"
#include "Harness/RecordedLaunches.h"
#include "Synchronize/SyncTombstones.h"
#include "Synchronize/TestAlertResponder.h"

#include <algorithm>
#include <filesystem>

namespace kesto::test {
namespace {

class BookmarkActionTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    alerts = TestAlertResponder::install();
    defaults().removeObject(SyncTombstones::kDefaultsKey);
  }
  void TearDown() override {
    fnd::NotificationCenter::defaultCenter().removeObserver(&messages);
    AppTest::TearDown();
    TestAlertResponder::uninstall();
  }
  void ready(std::size_t expected) {
    build(expected);
    controller().setAddDelay(0);
    launched.clear();
  }
  static std::int64_t storedCount(const std::string& url) {
    return static_cast<std::int64_t>(
        Bookmark::fetchEntitiesWhereProperty("url", fnd::Value(url)).value_or(Bookmark::List{}).size());
  }
  std::vector<std::string> listedURLs() {
    std::vector<std::string> out;
    for (const auto& b : dm().bookmarks()) out.push_back(b->url().value_or(""));
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::vector<std::string> tombstoneIDs() {
    std::vector<std::string> out;
    for (const auto& t : SyncTombstones::tombstones()) out.push_back(t.objectID);
    return out;
  }
  std::vector<std::string> titles(const ui::Menu& menu) {
    std::vector<std::string> out;
    for (const auto& i : menu.items()) out.push_back(i->isSeparatorItem() ? "-" : i->title());
    return out;
  }

  // Vivaldi's desktop entry in `dataDir`'s applications, for the recorded launches to start.
  static void installVivaldi(const std::string& dataDir) {
    std::filesystem::create_directories(dataDir + "/applications");
    writeFile(dataDir + "/applications/vivaldi-stable.desktop",
              "[Desktop Entry]\nType=Application\nName=Vivaldi\nExec=/opt/vivaldi/vivaldi %U\n"
              "MimeType=text/html;x-scheme-handler/http;\n");
  }

  // Collects what the overlay is asked to show into `messages`, until the observer is removed.
  void watchOverlay() {
    fnd::NotificationCenter::defaultCenter().addObserver(
        &messages,
        [this](const fnd::Notification& n) {
          if (auto m = n.userInfo.find("message"); m != n.userInfo.end()) messages.push_back(m->second.string());
        },
        ShowOverlayWithMessage);
  }

  std::shared_ptr<TestAlertResponder> alerts;
  RecordedLaunches launched;
  std::vector<std::string> messages;
};

TEST_F(BookmarkActionTest, SheetAddsEachCommaSeparatedAddressWithTheSchemeRule) {
  ready(0);
  controller().showAddBookmarkMessageSheet();
  auto* sheet = controller().addBookmarkFolderSheet();
  ASSERT_TRUE(sheet && sheet->isSheet());
  // "http://" goes only before text without a scheme: other schemes, capitals and a host
  // whose name starts with "http" are kept apart, and a port is no scheme.
  controller().addBookmarkSheetURLField()->setStringValue(
      "a.example/x,  https://b.example/ , HTTP://c.example/, ftp://127.0.0.1/pub/file.txt, httpbin.example/get, "
      "localhost:8080/app,, ");
  controller().addBookmarkSaveFromSheet();
  EXPECT_FALSE(sheet->isSheet());
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 6; }));
  // The scheme is stored in lower case, as at every door.
  EXPECT_EQ(listedURLs(), (std::vector<std::string>{"ftp://127.0.0.1/pub/file.txt", "http://a.example/x",
                                                    "http://c.example/", "http://httpbin.example/get",
                                                    "http://localhost:8080/app", "https://b.example/"}));
  EXPECT_TRUE(alerts->shown.empty());
}

// Undoing an add takes the bookmark out of the store and of the list; redo brings it back.
TEST_F(BookmarkActionTest, UndoingAnAddRemovesItFromTheList) {
  add("http://kept.example/", "Kept");
  ready(1);
  spin(0.05);  // the event pass closes the set-up's undo group
  controller().doAddBookmarks({"http://added.example/"});
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 2; }));
  spin(0.05);
  controller().undo();
  EXPECT_EQ(storedCount("http://added.example/"), 0);
  EXPECT_TRUE(BookmarksController::undoManager()->canRedo());
  controller().redo();
  EXPECT_EQ(storedCount("http://added.example/"), 1);
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 2; }));
  controller().undo();
  EXPECT_EQ(storedCount("http://added.example/"), 0);
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 1; })) << ::testing::PrintToString(listedURLs());
  EXPECT_EQ(listedURLs(), std::vector<std::string>{"http://kept.example/"});
}

// A locked folder shows nothing and takes nothing in: what is added while it is shown waits in
// the Inbox, and the overlay says so; an open folder takes its bookmarks as before.
TEST_F(BookmarkActionTest, AddingWhileALockedFolderIsShownGoesToTheInboxAndSaysSo) {
  auto locked = Folder::folderWithFolderID("LOCKED");
  locked->setName("Secret");
  locked->setParentFolderID(Folder::kRootID);
  locked->setBlocked(1);
  auto open = Folder::folderWithFolderID("OPEN");
  open->setName("Open");
  open->setParentFolderID(Folder::kRootID);
  ready(0);
  watchOverlay();
  auto folderOf = [](const std::string& url) {
    auto b = Bookmark::fetchEntityWhereProperty("url", fnd::Value(url));
    return b && b->folder() ? b->folder()->folderID() + (b->blocked() > 0 ? " blocked" : "") : std::string("-");
  };
  DataManager::BrowsingState shown;
  shown.folder = locked;
  dm().browse(shown);
  controller().doAddBookmarks({"https://locked.example/"});
  EXPECT_EQ(folderOf("https://locked.example/"), Folder::kInboxID);
  shown.folder = open;
  dm().browse(shown);
  controller().doAddBookmarks({"https://open.example/"});
  fnd::NotificationCenter::defaultCenter().removeObserver(&messages);
  EXPECT_EQ(folderOf("https://open.example/"), "OPEN");
  EXPECT_EQ(messages, (std::vector<std::string>{"The folder is locked: the bookmark was added to the Inbox",
                                                "Bookmark added"}));
}

TEST_F(BookmarkActionTest, TitleNamesASingleAddressOnly) {
  ready(0);
  controller().showAddBookmarkMessageSheet();
  controller().addBookmarkSheetURLField()->setStringValue("https://one.example/");
  controller().addBookmarkSheetTitleField()->setStringValue("  One  ");
  controller().addBookmarkSaveFromSheet();
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 1; }));
  EXPECT_EQ(dm().bookmarks()[0]->title().value_or(""), "One");
  // The sheet opens empty again.
  controller().showAddBookmarkMessageSheet();
  EXPECT_EQ(controller().addBookmarkSheetURLField()->stringValue(), "");
  EXPECT_EQ(controller().addBookmarkSheetTitleField()->stringValue(), "");
  controller().addBookmarkSheetURLField()->setStringValue("https://two.example/, https://three.example/");
  controller().addBookmarkSheetTitleField()->setStringValue("Both");
  controller().addBookmarkSaveFromSheet();
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 3; }));
  for (const auto& b : dm().bookmarks()) EXPECT_NE(b->title().value_or(""), "Both");
}

// Stored addresses are decoded: the escaped form of one is a duplicate too.
TEST_F(BookmarkActionTest, DuplicatesAreFoundDecodedAndAskedAboutOnce) {
  add("http://dup.example/a b", "A");
  add("http://dup.example/c", "C");
  ready(2);
  alerts->answer = 1;  // No
  controller().doAddBookmarks({"http://dup.example/a%20b", "http://dup.example/c", "http://new.example/"});
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "http://dup.example/a%20b is already present.\rhttp://dup.example/c is already present.\r");
  EXPECT_EQ(alerts->shown[0].message, "Do you still want to add these bookmarks?");
  EXPECT_EQ(alerts->shown[0].buttons, (std::vector<std::string>{"Yes", "No"}));
  EXPECT_EQ(storedCount("http://dup.example/a b"), 1);
  EXPECT_EQ(storedCount("http://new.example/"), 1);
  alerts->answer = 0;  // Yes
  controller().doAddBookmarks({"http://dup.example/c"});
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().message, "Do you still want to add this bookmark?");
  EXPECT_EQ(storedCount("http://dup.example/c"), 2);
  // A title typed for the one address names the copy made once the user agreed, and settles it.
  controller().doAddBookmarks({"http://dup.example/c"}, "Named copy");
  auto named = Bookmark::fetchEntityWhereProperty("title", fnd::Value("Named copy"));
  ASSERT_TRUE(named);
  EXPECT_EQ(named->url().value_or(""), "http://dup.example/c");
  EXPECT_EQ(named->titleUpdated(), 1);
  // With checking off nothing is asked.
  ui->preferencesController().setCheckDuplicates(false);
  controller().doAddBookmarks({"http://dup.example/a%20b"});
  EXPECT_EQ(alerts->shown.size(), 3u);
  EXPECT_EQ(storedCount("http://dup.example/a b"), 2);
}

// The add sheet asks about an address already in the library as paste does, also when it is
// typed as the list shows it (a site without its "/") or in another case.
TEST_F(BookmarkActionTest, TheAddSheetAsksAboutAddressesAlreadyStored) {
  add("https://site.example/", "Site");
  add("http://page.example/a/b", "Page");
  ready(2);
  alerts->answer = 1;  // No
  auto typed = [&](const std::string& text) {
    const std::size_t before = alerts->shown.size(), listed = dm().bookmarks().size();
    controller().showAddBookmarkMessageSheet();
    controller().addBookmarkSheetURLField()->setStringValue(text);
    controller().addBookmarkSaveFromSheet();
    EXPECT_TRUE(runUntil([&] { return alerts->shown.size() > before || dm().bookmarks().size() > listed; }, 5))
        << text;
    return alerts->shown.size() > before;
  };
  for (const char* same : {"https://site.example/", "https://site.example", "HTTPS://Site.EXAMPLE",
                           "http://page.example/a/b", "HTTP://PAGE.example/a/b", "page.example/a/b"}) {
    EXPECT_TRUE(typed(same)) << same;
    EXPECT_EQ(dm().bookmarks().size(), 2u) << same;
  }
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_NE(alerts->shown.back().title.find("page.example/a/b is already present."), std::string::npos);
  // Another page of the site, or a path in another case, is another address.
  EXPECT_FALSE(typed("https://site.example/other"));
  EXPECT_FALSE(typed("http://page.example/A/b"));
  EXPECT_EQ(dm().bookmarks().size(), 4u);
  // Yes adds the copy.
  alerts->answer = 0;
  EXPECT_TRUE(typed("https://site.example"));
  ASSERT_TRUE(runUntil([&] { return storedCount("https://site.example") == 1; }));
}

TEST_F(BookmarkActionTest, DeleteTrashesLiveThenDeletesForGoodWithTombstonesAndUndoes) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  add("http://c.example/", "C");
  ready(3);
  const auto versionA = a->version();
  dm().setSelectedBookmarks({a, b});
  controller().deleteBookmarks();
  EXPECT_EQ(a->trashed(), 1);
  EXPECT_EQ(a->version(), versionA + 1);
  EXPECT_TRUE(tombstoneIDs().empty());
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 1; }));

  // From the trash: gone for good, one tombstone each, never twice.
  const std::string idA = a->uniqueIDValue().value_or(""), idB = b->uniqueIDValue().value_or("");
  dm().setSelectedBookmarks({a, b});
  controller().deleteBookmarks();
  EXPECT_EQ(storedCount("http://a.example/"), 0);
  auto ids = tombstoneIDs();
  std::sort(ids.begin(), ids.end());
  auto expected = std::vector<std::string>{idA, idB};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ids, expected);
  for (const auto& t : SyncTombstones::tombstones()) EXPECT_EQ(t.type, "b");

  // Undo through the window brings both back and takes their tombstones away; redo again.
  ASSERT_TRUE(ui->window().respondsToAction(ui::cmd::undo));
  ui->window().performAction(ui::cmd::undo, nullptr);
  EXPECT_EQ(storedCount("http://a.example/"), 1);
  EXPECT_EQ(storedCount("http://b.example/"), 1);
  EXPECT_TRUE(tombstoneIDs().empty());
  ui->window().performAction(ui::cmd::redo, nullptr);
  EXPECT_EQ(storedCount("http://a.example/"), 0);
  EXPECT_EQ(tombstoneIDs().size(), 2u);
  // Undo twice: out of the trash too, and saved.
  controller().undo();
  controller().undo();
  EXPECT_EQ(storedCount("http://a.example/"), 1);
  auto back = Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("http://a.example/")));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->trashed(), 0);
  EXPECT_TRUE(back->folder()) << "folder lost";
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges());
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 3; })) << ::testing::PrintToString(listedURLs());
}

// A bookmark of an online service is deleted for good after a question; it leaves a tombstone
// like any other, and a run mixing it with trashed ones stores all of them.
TEST_F(BookmarkActionTest, ServiceBookmarksAskAndLeaveTombstonesInAMixedRun) {
  struct Recorder : BookmarkServiceClient {
    std::vector<std::string>* deleted;
    explicit Recorder(std::vector<std::string>* d) : deleted(d) {}
    void saveBookmark(Bookmark&) override {}
    void deleteBookmark(const std::string& url) override { deleted->push_back(url); }
  };
  std::vector<std::string> deletedOnline;
  registerBookmarkServiceClientFactory(
      [&](const std::string&) { return std::make_unique<Recorder>(&deletedOnline); });
  ready(0);
  auto service = Service::initEntity();
  service->setName(Service::kPinboard);
  WrenEntity::saveContext();
  auto pin = Bookmark::addBookmarWithURL("http://pin.example/", "pinboard");
  WrenEntity::saveContext();
  auto trashed = add("http://t.example/", "T");
  trashed->setTrashed(1);
  trashed->saveBookmark();
  ASSERT_TRUE(pin->isPinboard());
  alerts->answer = 1;  // No
  dm().setSelectedBookmarks({pin, trashed});
  controller().deleteBookmarks();
  EXPECT_EQ(storedCount("http://pin.example/"), 1);
  EXPECT_TRUE(tombstoneIDs().empty());
  alerts->answer = 0;
  dm().setSelectedBookmarks({pin, trashed});
  controller().deleteBookmarks();
  EXPECT_EQ(storedCount("http://pin.example/"), 0);
  EXPECT_EQ(storedCount("http://t.example/"), 0);
  EXPECT_EQ(tombstoneIDs().size(), 2u);
  // Deleted online once; the trashed one was never sent.
  EXPECT_EQ(deletedOnline, std::vector<std::string>{"http://pin.example/"});
  registerBookmarkServiceClientFactory(nullptr);
}

TEST_F(BookmarkActionTest, OpeningRecordsTheVisitAndTheHistoryListsSeeIt) {
  auto a = add("http://a.example/x y#frag", "A");
  add("http://b.example/", "B");
  ready(2);
  const auto version = a->version();
  dm().setSelectedBookmarks({a});
  controller().openSelectedBookmarks();
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_NE(std::find(launched[0].arguments.begin(), launched[0].arguments.end(), "http://a.example/x%20y#frag"),
            launched[0].arguments.end());
  EXPECT_EQ(a->timesOpened(), 1);
  EXPECT_EQ(a->version(), version + 1);
  ASSERT_TRUE(a->lastOpened());
  EXPECT_LT(fnd::Date::now().timeIntervalSinceDate(*a->lastOpened()), 60);
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges());
  dm().loadTop25Bookmarks();
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 1; }));
  EXPECT_EQ(dm().bookmarks()[0], a);
  dm().loadTodayBookmarks();
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 1; }));
  EXPECT_EQ(dm().bookmarks()[0], a);
}

TEST_F(BookmarkActionTest, TheBrowserIsGivenEscapesButKeepsPercentSignsAndTheFragment) {
  // Stored with "%41" as "A" and "%25" kept, which the browser gets as it is: the address added.
  auto a = add("http://p.example/50%41 z#x", "P");
  auto b = add("http://q.example/100%25?a=b c#y", "Q");
  ready(2);
  for (const auto& [bookmark, expected] : {std::pair{a, "http://p.example/50A%20z#x"},
                                           std::pair{b, "http://q.example/100%25?a=b%20c#y"}}) {
    launched.clear();
    dm().setSelectedBookmarks({bookmark});
    controller().openSelectedBookmarks();
    ASSERT_EQ(launched.size(), 1u);
    const auto& arguments = launched[0].arguments;
    EXPECT_NE(std::find(arguments.begin(), arguments.end(), expected), arguments.end()) << expected;
  }
}

// An IP-literal host keeps its brackets, which browsers need to find it; brackets anywhere else in
// the address are escaped as before.
TEST_F(BookmarkActionTest, TheBrowserIsGivenAnIPLiteralHostWithItsBrackets) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"http://[::1]:8080/x", "http://[::1]:8080/x"},
      {"https://user@[fe80::1]/a b", "https://user@[fe80::1]/a%20b"},
      {"http://[2001:db8::7]/p[1]?q=[a]#[b]", "http://[2001:db8::7]/p%5B1%5D?q=%5Ba%5D#%5Bb%5D"},
      {"http://[127.0.0.1]", "http://[127.0.0.1]"},
      {"http://h.example/[::1]", "http://h.example/%5B::1%5D"},
  };
  std::vector<std::shared_ptr<Bookmark>> made;
  for (const auto& c : cases) made.push_back(add(c.first, "Literal"));
  ready(cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    launched.clear();
    dm().setSelectedBookmarks({made[i]});
    controller().openSelectedBookmarks();
    ASSERT_EQ(launched.size(), 1u) << cases[i].first;
    const auto& arguments = launched[0].arguments;
    EXPECT_NE(std::find(arguments.begin(), arguments.end(), cases[i].second), arguments.end())
        << cases[i].first << " gave " << (arguments.empty() ? std::string() : arguments.back());
  }
}

TEST_F(BookmarkActionTest, ContextMenuFollowsTheSelection) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  ready(2);
  EXPECT_FALSE(controller().bookmarkMenu());
  dm().setSelectedBookmarks({a});
  auto one = controller().bookmarkMenu();
  ASSERT_TRUE(one);
  EXPECT_EQ(titles(*one), (std::vector<std::string>{"Open", "Open With", "Quick Look", "-", "Go to Folder", "-",
                                                    "Delete", "-", "Copy Link", "-", "Share", "Email Links", "-",
                                                    "Update from Web", "Set Thumbnail from File"}));
  a->setTrashed(1);
  dm().setSelectedBookmarks({a, b});
  auto two = controller().bookmarkMenu();
  // Sharing takes one bookmark; e-mail takes them all.
  EXPECT_EQ(titles(*two), (std::vector<std::string>{"Open", "Open With", "Quick Look", "-", "Go to Folder", "-",
                                                    "Delete", "Put Back from Trash", "-", "Copy Links", "-",
                                                    "Email Links", "-", "Update from Web"}));
  // Each item reaches the controller.
  for (const auto& item : two->items())
    if (!item->isSeparatorItem() && !item->action().empty()) {
      EXPECT_TRUE(controller().respondsToAction(item->action())) << item->action();
    }
}

TEST_F(BookmarkActionTest, OpenWithListsTheInstalledBrowsersAndAMissingFavouriteIsTold) {
  const std::string dirs = makeTempDir("browsers");
  const char* oldDirs = std::getenv("XDG_DATA_DIRS");
  const std::string kept = oldDirs ? oldDirs : "";
  setenv("XDG_DATA_DIRS", dirs.c_str(), 1);
  installVivaldi(dirs);
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  ready(2);
  dm().setSelectedBookmarks({a, b});
  auto menu = controller().bookmarkMenu();
  ASSERT_TRUE(menu);
  auto with = menu->itemWithTitle("Open With");
  ASSERT_TRUE(with && with->submenu());
  EXPECT_TRUE(with->isEnabled());
  ASSERT_EQ(titles(*with->submenu()), std::vector<std::string>{"Vivaldi"});
  auto vivaldi = with->submenu()->items()[0];
  ASSERT_TRUE(controller().tryToPerform(vivaldi->action(), vivaldi.get()));
  ASSERT_EQ(launched.size(), 1u) << "both pages in one launch of that browser";
  EXPECT_EQ(launched[0].program, "/opt/vivaldi/vivaldi");
  EXPECT_EQ(launched[0].arguments, (std::vector<std::string>{"http://a.example/", "http://b.example/"}));

  // A favourite that has been removed since: the page opens in the default browser, and the
  // overlay says why.
  watchOverlay();
  ui->preferencesController().setFavoriteBrowser("firefox-esr.desktop");
  launched.clear();
  dm().setSelectedBookmarks({a});
  controller().openSelectedBookmarks();
  fnd::NotificationCenter::defaultCenter().removeObserver(&messages);
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].program, "xdg-open");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "firefox-esr is no longer installed: opened in the default browser");
  if (oldDirs) setenv("XDG_DATA_DIRS", kept.c_str(), 1);
  else unsetenv("XDG_DATA_DIRS");
}

TEST_F(BookmarkActionTest, CopyCutAndPasteCarrySeveralBookmarks) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  ready(2);
  auto& board = ui::Pasteboard::general();
  dm().setSelectedBookmarks({a, b});
  controller().copyBookmarkAddress();
  EXPECT_EQ(board.stringForType(ui::PasteboardType::String).value_or(""), "http://a.example/\nhttp://b.example/");
  EXPECT_EQ(board.URLs(), (std::vector<std::string>{"http://a.example/", "http://b.example/"}));

  controller().copy();
  EXPECT_EQ(board.stringForType(BookmarkCopyType).value_or(""), "http://a.example/\nhttp://b.example/\n");
  EXPECT_FALSE(board.stringForType(ui::PasteboardType::String));
  EXPECT_EQ(board.types(), std::vector<std::string>{BookmarkCopyType});

  // Cut: to the trash, still on the clipboard; paste adds both again (no duplicate question:
  // trashed ones are stored but checking is off here).
  defaults().setBool(false, "CheckDuplicates");
  dm().setSelectedBookmarks({a, b});
  controller().cut();
  EXPECT_EQ(a->trashed(), 1);
  EXPECT_EQ(b->trashed(), 1);
  controller().paste();
  ASSERT_TRUE(runUntil([&] { return storedCount("http://b.example/") == 2; }));
  EXPECT_EQ(storedCount("http://a.example/"), 2);
  // The same as the Edit menu sends it.
  EXPECT_TRUE(controller().performAction(ui::cmd::paste, nullptr));
  ASSERT_TRUE(runUntil([&] { return storedCount("http://b.example/") == 3; }));
  defaults().removeObject("CheckDuplicates");
  // With no bookmarks on the clipboard paste adds nothing.
  board.clearContents();
  board.setString("http://text.example/");
  controller().paste();
  spin(0.1);
  EXPECT_EQ(storedCount("http://text.example/"), 0);
}

TEST_F(BookmarkActionTest, MenuCommandsReachTheListAndAreEnabledByIt) {
  auto a = add("http://a.example/", "A");
  ready(1);
  app().initializeKesto();  // puts the controller behind the window
  auto edit = ui::Application::shared().mainMenu()->itemWithTitle("Edit")->submenu();
  auto file = ui::Application::shared().mainMenu()->itemWithTitle("File")->submenu();
  auto newItem = file->itemWithTitle("New Bookmark…");
  ASSERT_TRUE(newItem);
  EXPECT_EQ(newItem->keyEquivalent(), "n");
  auto enabled = [&](ui::Command action) {
    for (const auto& item : edit->items())
      if (item->action() == action) return ui::Application::shared().validateMenuItemAction(*item, nullptr);
    return false;
  };
  dm().setSelectedBookmarks({});
  EXPECT_FALSE(enabled(cmd::deleteBookmarks));
  EXPECT_FALSE(enabled(cmd::putBackFromTrash));
  EXPECT_FALSE(enabled(ui::cmd::copy));
  dm().setSelectedBookmarks({a});
  EXPECT_TRUE(enabled(cmd::deleteBookmarks));
  EXPECT_TRUE(enabled(ui::cmd::copy));
  EXPECT_TRUE(enabled(cmd::copyBookmarkAddress));
  EXPECT_FALSE(enabled(cmd::putBackFromTrash));
  ui::Application::shared().sendAction(cmd::deleteBookmarks, nullptr, nullptr);
  EXPECT_EQ(a->trashed(), 1);
  dm().setSelectedBookmarks({a});
  EXPECT_TRUE(enabled(cmd::putBackFromTrash));
  EXPECT_TRUE(enabled(ui::cmd::undo));
  ui::Application::shared().sendAction(ui::cmd::undo, nullptr, nullptr);
  EXPECT_EQ(a->trashed(), 0);
  ui::Application::shared().sendAction(cmd::add, nullptr, nullptr);
  ASSERT_TRUE(controller().addBookmarkFolderSheet());
  EXPECT_TRUE(controller().addBookmarkFolderSheet()->isSheet());
  controller().closeAddBookmarkFolderSheet();
}

TEST_F(BookmarkActionTest, DraggedBookmarksCarryBmLinesAndTheirURLs) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  ready(2);
  EXPECT_TRUE(controller().draggedItems().empty());
  dm().setSelectedBookmarks({b, a});
  auto items = controller().draggedItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].stringForType(ui::PasteboardType::String).value_or(""),
            "bm:" + b->uniqueIDValue().value_or("") + "\nbm:" + a->uniqueIDValue().value_or("") + "\n");
  EXPECT_EQ(items[0].url().value_or(""), "http://b.example/");
  EXPECT_EQ(items[0].title(), "B");
  EXPECT_EQ(items[1].url().value_or(""), "http://a.example/");
}

// Only an address handed over is a visit: Cancel on another scheme's question leaves the count,
// the date and the visited lists as they were; Open counts it once.
TEST_F(BookmarkActionTest, ACancelledOpenIsNoVisit) {
  auto ftp = add("ftp://files.example/pub/", "F");
  ready(1);
  const auto version = ftp->version();
  dm().setSelectedBookmarks({ftp});
  alerts->answer = 0;  // Cancel
  controller().openSelectedBookmarks();
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Open a \u201cftp:\u201d address?");
  EXPECT_TRUE(launched.empty());
  EXPECT_EQ(ftp->timesOpened(), 0);
  EXPECT_FALSE(ftp->lastOpened());
  EXPECT_EQ(ftp->version(), version);
  EXPECT_EQ(dm().numberOfBookmarksVisitedToday(), 0);
  alerts->answer = 1;  // Open
  controller().openSelectedBookmarks();
  EXPECT_EQ(launched.size(), 1u);
  EXPECT_EQ(ftp->timesOpened(), 1);
  EXPECT_TRUE(ftp->lastOpened());
  EXPECT_EQ(dm().numberOfBookmarksVisitedToday(), 1);
}

// Open With counts a visit only once the browser started: a program that did not start, or a
// browser that is not installed, counts nothing and tells the lists nothing; the user is told by
// name, once the menu's action has returned.
TEST_F(BookmarkActionTest, ABrowserThatDoesNotStartIsNoVisit) {
  installVivaldi(std::getenv("XDG_DATA_HOME"));
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  ready(2);
  dm().setSelectedBookmarks({a, b});
  launched.failing = true;
  controller().openSelectedBookmarkInBrowser("vivaldi-stable.desktop");
  EXPECT_EQ(launched.size(), 1u) << "tried";
  EXPECT_TRUE(alerts->shown.empty()) << "not told inside the action";
  ASSERT_TRUE(runUntil([&] { return alerts->shown.size() == 1; }));
  EXPECT_EQ(alerts->shown[0].title, "Vivaldi did not start");
  // Not installed here: nothing is tried.
  ASSERT_TRUE(controller().performAction(cmd::openSelectedBookmarksInSafari, nullptr));
  EXPECT_EQ(launched.size(), 1u);
  ASSERT_TRUE(runUntil([&] { return alerts->shown.size() == 2; }));
  EXPECT_EQ(alerts->shown[1].title, "Safari did not start");
  EXPECT_EQ(alerts->shown[1].message, "The page was not opened. Safari is not installed.");
  for (const auto& bookmark : {a, b}) {
    EXPECT_EQ(bookmark->timesOpened(), 0);
    EXPECT_FALSE(bookmark->lastOpened());
  }
  EXPECT_EQ(dm().numberOfBookmarksVisitedToday(), 0);
  launched.failing = false;
  controller().openSelectedBookmarkInBrowser("vivaldi-stable.desktop");
  EXPECT_EQ(launched.size(), 2u);
  for (const auto& bookmark : {a, b}) EXPECT_EQ(bookmark->timesOpened(), 1);
  EXPECT_EQ(dm().numberOfBookmarksVisitedToday(), 2);
  bool queuedAfter = false;  // what the launch queued runs first
  fnd::DispatchQueue::main().async([&] { queuedAfter = true; });
  ASSERT_TRUE(runUntil([&] { return queuedAfter; }));
  EXPECT_EQ(alerts->shown.size(), 2u) << "a start is told of by nothing";
}

TEST_F(BookmarkActionTest, ListKeysOpenDeleteAndClear) {
  auto a = add("http://a.example/", "A");
  ready(1);
  app().initializeKesto();
  launched.clear();
  auto press = [&](std::uint16_t code, const std::string& chars) {
    ui->window().sendEvent(ui::Event::key(code, 0, chars, &ui->window()));
  };
  dm().setSelectedBookmarks({a});
  press(ui::KeyCode::Return, "\r");
  EXPECT_EQ(a->timesOpened(), 1);
  EXPECT_EQ(launched.size(), 1u);
  press(ui::KeyCode::Escape, "\x1b");
  EXPECT_TRUE(dm().selectedBookmarks().empty());
  dm().setSelectedBookmarks({a});
  press(ui::KeyCode::Delete, "\x7f");
  EXPECT_EQ(a->trashed(), 1);
}

}  // namespace
}  // namespace kesto::test
