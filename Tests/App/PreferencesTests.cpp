// The preference store (first run, fallbacks, what a save writes to the defaults file) and the
// preferences panel driven through its controls, with their effect on the bookmark list.
#include "AppFixture.h"

#include "App/PreferencesController.h"
#include "App/ServiceAccounts.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/TextField.h"

#include <filesystem>

namespace kesto::test {
namespace {

// Every key a save writes, in the order written.
const std::vector<std::string> kWrittenKeys = {
    "sortInboxByDateAscending", "sortInboxByDateDescending", "sortFoldersByDateAscending",
    "sortFoldersByDateDescending", "sortFoldersAlfabetically", "CheckDuplicates", "UseInboxForBookmarks",
    "useMenuBarMode", "skipDuplicates", "sortFoldersByRating", "sortFoldersByMostVisited", "sortFoldersByFavorite",
    "showBookmarksInSubFolders", "showMultipleColumns", "useAutoSync", "favoriteBrowser", "disableDelicious",
    "disablePinboard", "showALLTags", "showEditAddingBookmark"};

void clearPreferenceKeys() {
  auto& d = fnd::UserDefaults::standard();
  for (const auto& key : kWrittenKeys) d.removeObject(key);
  for (const char* key : {"syncUsingSkyfolder", "kComboCode", "kComboFlags"}) d.removeObject(key);
}

class PreferenceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { clearPreferenceKeys(); }
  fnd::UserDefaults& defaults() { return fnd::UserDefaults::standard(); }
};

TEST_F(PreferenceStoreTest, FirstRunValuesStayInMemoryUntilTheFirstSave) {
  PreferencesController p;
  EXPECT_TRUE(p.sortInboxByDateDescending());
  EXPECT_FALSE(p.sortInboxByDateAscending());
  EXPECT_TRUE(p.sortFoldersByDateDescending());
  EXPECT_FALSE(p.sortFoldersByDateAscending() || p.sortFoldersAlfabetically() || p.sortFoldersByRating() ||
               p.sortFoldersByMostVisited() || p.sortFoldersByFavorite());
  EXPECT_TRUE(p.checkDuplicates());
  EXPECT_TRUE(p.useAutoSync());
  EXPECT_TRUE(p.showMultipleColumns());
  EXPECT_EQ(p.favoriteBrowser(), "Default");
  EXPECT_FALSE(p.skipDuplicates() || p.useInboxForBookmarks() || p.menubarMode() || p.showBookmarksInSubFolders() ||
               p.disablePinboard() || p.disableDelicious() || p.showALLTags() || p.showEditAddingBookmarks());
  for (const auto& key : kWrittenKeys) EXPECT_FALSE(defaults().hasValueForKey(key)) << key;
}

TEST_F(PreferenceStoreTest, StoredFlagsWithoutAnOrderFallBackToNewestFirst) {
  defaults().setBool(false, "sortInboxByDateAscending");
  defaults().setBool(false, "sortInboxByDateDescending");
  for (const char* key : {"sortFoldersByDateAscending", "sortFoldersByDateDescending", "sortFoldersAlfabetically"})
    defaults().setBool(false, key);
  defaults().setBool(true, "sortFoldersByRating");
  // Not a first run: stored values are kept, even those a first run would override.
  defaults().setBool(false, "CheckDuplicates");
  defaults().setString("com.example.Unknown", "favoriteBrowser");
  PreferencesController p;
  EXPECT_TRUE(p.sortInboxByDateDescending());
  EXPECT_TRUE(p.sortFoldersByDateDescending());
  EXPECT_TRUE(p.sortFoldersByRating());
  EXPECT_FALSE(p.checkDuplicates());
  EXPECT_FALSE(p.useAutoSync());
  EXPECT_EQ(p.favoriteBrowser(), "com.example.Unknown");
}

TEST_F(PreferenceStoreTest, ASaveWritesEveryKeyToTheDefaultsFileButNotTheSyncChoice) {
  defaults().setBool(true, "syncUsingSkyfolder");
  PreferencesController p;
  EXPECT_TRUE(p.useSkyfolderForSynching());
  p.setUseSkyfolderForSynching(false);
  p.setSortFoldersAlfabetically(true);
  p.setSortFoldersByDateDescending(false);
  p.setShowEditAddingBookmarks(true);
  p.setFavoriteBrowser(PreferencesController::kFirefox);
  int posted = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &posted, [&](const fnd::Notification&) { ++posted; }, PreferencesController::kUpdateBrowserButtonNotification);
  p.writePreferences();
  p.writePreferences();  // the browser did not change: still posted
  fnd::NotificationCenter::defaultCenter().removeObserver(&posted);
  EXPECT_EQ(posted, 2);

  // What another process reads from the file.
  ASSERT_TRUE(std::filesystem::exists(defaults().filePath()));
  EXPECT_EQ(std::filesystem::status(defaults().filePath()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  fnd::UserDefaults file(defaults().filePath());
  for (const auto& key : kWrittenKeys) EXPECT_TRUE(file.hasValueForKey(key)) << key;
  EXPECT_TRUE(file.boolForKey("sortFoldersAlfabetically"));
  EXPECT_FALSE(file.boolForKey("sortFoldersByDateDescending"));
  EXPECT_TRUE(file.boolForKey("showEditAddingBookmark"));
  EXPECT_FALSE(file.hasValueForKey("showEditAddingBookmarks"));
  EXPECT_TRUE(file.boolForKey("CheckDuplicates"));
  EXPECT_EQ(file.stringForKey("favoriteBrowser").value_or(""), "org.mozilla.firefox");
  EXPECT_TRUE(file.boolForKey("syncUsingSkyfolder"));

  // And the next start reads back what was saved, no longer a first run.
  PreferencesController again;
  EXPECT_TRUE(again.sortFoldersAlfabetically());
  EXPECT_FALSE(again.sortFoldersByDateDescending());
  EXPECT_TRUE(again.showEditAddingBookmarks());
  EXPECT_EQ(again.favoriteBrowser(), "org.mozilla.firefox");
}

TEST(ShortcutLabel, DefaultUnlessAKeyIsStored) {
  EXPECT_EQ(shortcutLabelText(-1, 0), "Current shortcut: Super+Alt+Ctrl+P");
  // Key code 0 is the A key, not "no key".
  EXPECT_EQ(shortcutLabelText(0, 0x100 | 0x200), "Current shortcut: Shift+Ctrl+A");
  EXPECT_EQ(shortcutLabelText(122, 0x800), "Current shortcut: Alt+F1");
}

class PreferencesPanelTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    clearPreferenceKeys();
  }
  PreferencesController& prefs() { return ui->preferencesController(); }
  std::vector<std::string> listedTitles() {
    std::vector<std::string> out;
    for (const auto& b : dm().bookmarks()) out.push_back(b->title().value_or(""));
    return out;
  }
  bool saved(const std::string& key) { return fnd::UserDefaults(defaults().filePath()).hasValueForKey(key); }
};

TEST_F(PreferencesPanelTest, ChoosingTheFolderOrderSavesItAndReordersTheList) {
  auto b = add("https://b.example/", "Beta");
  auto a = add("https://a.example/", "Alpha");
  auto c = add("https://c.example/", "Gamma");
  build(3);
  prefs().showPreferencesPanel();
  ASSERT_TRUE(prefs().preferencesPanel()->isVisible());
  EXPECT_EQ(prefs().selectedTab(), "general");
  // The first-run values are what the panel shows.
  EXPECT_EQ(prefs().panelViews().foldersMatrix->selectedRow(), 1);
  EXPECT_EQ(prefs().panelViews().inboxMatrix->selectedRow(), 0);
  EXPECT_EQ(prefs().panelViews().duplicatesCheck->state(), 1);
  EXPECT_EQ(prefs().panelViews().favoriteBrowserPopUp->titleOfSelectedItem(),
            PreferencesController::kDefaultBrowserItem);
  EXPECT_EQ(prefs().panelViews().currentShortcutLabel->stringValue(), "Current shortcut: Super+Alt+Ctrl+P");

  prefs().panelViews().ratingCheck->performClick();
  prefs().panelViews().foldersMatrix->clickRow(0);
  EXPECT_TRUE(prefs().sortFoldersAlfabetically());
  EXPECT_FALSE(prefs().sortFoldersByDateDescending() || prefs().sortFoldersByDateAscending());
  // The optional keys in front of the order are left alone.
  EXPECT_TRUE(prefs().sortFoldersByRating());
  EXPECT_EQ(prefs().panelViews().ratingCheck->state(), 1);
  fnd::UserDefaults file(defaults().filePath());
  EXPECT_TRUE(file.boolForKey("sortFoldersAlfabetically"));
  EXPECT_TRUE(file.boolForKey("sortFoldersByRating"));
  EXPECT_TRUE(runUntil([&] { return listedTitles() == std::vector<std::string>{"Alpha", "Beta", "Gamma"}; }, 5));

  prefs().panelViews().foldersMatrix->clickRow(2);
  EXPECT_EQ(prefs().panelViews().foldersMatrix->selectedRow(), 2);
  EXPECT_TRUE(prefs().sortFoldersByDateAscending());
  EXPECT_FALSE(prefs().sortFoldersAlfabetically());
  EXPECT_TRUE(runUntil([&] { return listedTitles() == std::vector<std::string>{"Beta", "Alpha", "Gamma"}; }, 5));
}

// Browsers come from desktop entries in a temporary system data folder, as a desktop has them.
class BrowserChoiceTest : public PreferencesPanelTest {
 protected:
  void SetUp() override {
    PreferencesPanelTest::SetUp();
    const char* old = std::getenv("XDG_DATA_DIRS");
    oldDataDirs_ = old ? std::optional<std::string>(old) : std::nullopt;
    dataDirs_ = makeTempDir("browsers");
    setenv("XDG_DATA_DIRS", dataDirs_.c_str(), 1);
    std::filesystem::create_directories(dataDirs_ + "/applications");
    browser("firefox-esr.desktop", "Firefox ESR");
    browser("chromium.desktop", "Chromium");
    writeFile(dataDirs_ + "/applications/gimp.desktop", "[Desktop Entry]\nType=Application\nName=GIMP\nExec=gimp %U\n"
                                                         "MimeType=image/png;\n");
  }
  void TearDown() override {
    if (oldDataDirs_) setenv("XDG_DATA_DIRS", oldDataDirs_->c_str(), 1);
    else unsetenv("XDG_DATA_DIRS");
    PreferencesPanelTest::TearDown();
  }
  void browser(const std::string& id, const std::string& name) {
    writeFile(dataDirs_ + "/applications/" + id, "[Desktop Entry]\nType=Application\nName=" + name +
                                                     "\nExec=" + name + " %u\nMimeType=x-scheme-handler/http;\n");
  }
  std::string stored() { return fnd::UserDefaults(defaults().filePath()).stringForKey("favoriteBrowser").value_or(""); }
  std::string dataDirs_;
  std::optional<std::string> oldDataDirs_;
};

TEST_F(BrowserChoiceTest, TheListIsTheInstalledBrowsersAndStoresTheDesktopEntryId) {
  build(0);
  prefs().showPreferencesPanel();
  auto& popUp = *prefs().panelViews().favoriteBrowserPopUp;
  EXPECT_EQ(popUp.itemTitles(),
            (std::vector<std::string>{PreferencesController::kDefaultBrowserItem, "Chromium", "Firefox ESR"}))
      << "no Safari, Opera or Chrome that are not there, and no program that does not open web pages";
  EXPECT_TRUE(prefs().panelViews().browserMissingLabel->isHidden());
  popUp.selectItemAtIndex(2);
  popUp.sendAction();
  EXPECT_EQ(stored(), "firefox-esr.desktop");
  popUp.selectItemAtIndex(0);
  popUp.sendAction();
  EXPECT_EQ(stored(), "Default");
}

TEST_F(BrowserChoiceTest, AnOlderBundleIdentifierSelectsTheBrowserItStandsFor) {
  defaults().setBool(false, "sortFoldersByRating");  // not a first run
  defaults().setString(PreferencesController::kFirefox, "favoriteBrowser");
  build(0);
  prefs().showPreferencesPanel();
  EXPECT_EQ(prefs().panelViews().favoriteBrowserPopUp->titleOfSelectedItem(), "Firefox ESR");
  EXPECT_FALSE(prefs().missingBrowserName());
}

TEST_F(BrowserChoiceTest, AChoiceNoLongerInstalledIsShownAsSuchAndKept) {
  defaults().setBool(false, "sortFoldersByRating");  // not a first run
  defaults().setString(PreferencesController::kSafari, "favoriteBrowser");
  build(0);
  prefs().showPreferencesPanel();
  auto& popUp = *prefs().panelViews().favoriteBrowserPopUp;
  EXPECT_EQ(popUp.titleOfSelectedItem(), "Safari (not installed)");
  EXPECT_FALSE(prefs().panelViews().browserMissingLabel->isHidden());
  EXPECT_NE(prefs().panelViews().browserMissingLabel->stringValue().find("No longer installed"), std::string::npos);
  // Another preference saved meanwhile does not turn the choice into something else.
  prefs().panelViews().ratingCheck->performClick();
  EXPECT_EQ(stored(), PreferencesController::kSafari);

  // Removing a chosen browser is told the next time the panel shows.
  popUp.selectItemAtIndex(1);
  popUp.sendAction();
  EXPECT_EQ(stored(), "chromium.desktop");
  std::filesystem::remove(dataDirs_ + "/applications/chromium.desktop");
  prefs().showPreferencesPanel();
  EXPECT_EQ(popUp.titleOfSelectedItem(), "chromium (not installed)");
  EXPECT_EQ(prefs().missingBrowserName().value_or(""), "chromium");
}

TEST_F(PreferencesPanelTest, BothInboxFlagsShowNewestFirst) {
  defaults().setBool(false, "sortFoldersByRating");
  defaults().setBool(true, "sortInboxByDateAscending");
  defaults().setBool(true, "sortInboxByDateDescending");
  defaults().setInteger(0, "kComboCode");
  defaults().setInteger(0x100, "kComboFlags");
  build(0);
  prefs().showPreferencesPanel();
  EXPECT_EQ(prefs().panelViews().inboxMatrix->selectedRow(), 0);
  EXPECT_EQ(prefs().panelViews().currentShortcutLabel->stringValue(), "Current shortcut: Ctrl+A");
  prefs().panelViews().inboxMatrix->clickRow(1);
  EXPECT_TRUE(prefs().sortInboxByDateAscending());
  EXPECT_FALSE(prefs().sortInboxByDateDescending());
}

TEST_F(PreferencesPanelTest, ServiceSectionShowsTheAccountAndEditsOnlyWhenOneExists) {
  build(0);
  prefs().showPreferencesPanel();
  EXPECT_EQ(prefs().panelViews().connectedToDeliciousLabel->stringValue(), "Not connected to del.icio.us");
  EXPECT_TRUE(prefs().panelViews().publicDeliciousCheck->isHidden());
  // No account: the public switch changes nothing at all, not even a save.
  prefs().updatePreferences(36);
  EXPECT_FALSE(saved("sortFoldersByRating"));

  auto service = Service::initEntity();
  service->setName("pinboard");
  service->setLogin("reader");
  service->setPassword("c2VjcmV0");
  service->setDefaultsToPublic(0);
  ASSERT_TRUE(WrenEntity::saveContext());
  prefs().reloadSocial();
  EXPECT_EQ(prefs().panelViews().connectedToPinboardLabel->stringValue(), "Connected as reader");
  EXPECT_EQ(prefs().panelViews().pinboardPreferencesUsernameField->stringValue(), "reader");
  // The stored password never reaches the screen.
  EXPECT_NE(prefs().panelViews().pinboardPreferencesPasswordField->stringValue(), "c2VjcmV0");
  EXPECT_NE(prefs().panelViews().pinboardPreferencesPasswordField->stringValue(), "secret");
  EXPECT_EQ(prefs().panelViews().disconnectPinboard->title(), "Disconnect");
  ASSERT_FALSE(prefs().panelViews().publicPinboardCheck->isHidden());
  prefs().panelViews().publicPinboardCheck->performClick();
  EXPECT_EQ(Service::serviceNamed("pinboard")->defaultsToPublic(), 1);
  EXPECT_TRUE(saved("sortFoldersByRating"));
}

// The Services pane's fields and button connect an account as the folder list's login panel
// does (a refusal keeps what was typed), and Disconnect removes it again.
TEST_F(PreferencesPanelTest, ServicesPaneConnectsAndDisconnectsAnAccount) {
  build(0);
  ServiceAccounts::install(&dm(), &ui->window());
  struct Uninstall {
    ~Uninstall() { ServiceAccounts::uninstall(); }
  } uninstall;
  prefs().showPreferencesPanel();
  const auto& v = prefs().panelViews();
  ASSERT_TRUE(v.disconnectPinboard->isEnabled());
  ASSERT_TRUE(v.pinboardPreferencesUsernameField->isEnabled());
  ASSERT_TRUE(v.pinboardPreferencesPasswordField->isEnabled());
  v.pinboardPreferencesUsernameField->setStringValue("reader");
  v.pinboardPreferencesPasswordField->setStringValue("x");
  v.disconnectPinboard->performClick();
  EXPECT_FALSE(v.disconnectPinboard->isEnabled()) << "one connection at a time";
  ASSERT_TRUE(runUntil([&] { return v.disconnectPinboard->isEnabled(); }, 5));
  EXPECT_FALSE(Service::serviceNamed("pinboard"));
  EXPECT_EQ(v.pinboardPreferencesUsernameField->stringValue(), "reader");
  EXPECT_NE(v.connectedToPinboardLabel->stringValue().find("at least 2 characters"), std::string::npos);

  v.pinboardPreferencesPasswordField->setStringValue("secret");
  v.disconnectPinboard->performClick();
  ASSERT_TRUE(runUntil([&] { return Service::serviceNamed("pinboard") != nullptr; }, 5));
  EXPECT_EQ(Service::serviceNamed("pinboard")->login(), "reader");
  EXPECT_EQ(Service::serviceNamed("pinboard")->password(), "c2VjcmV0");
  EXPECT_EQ(v.connectedToPinboardLabel->stringValue(), "Connected as reader");
  EXPECT_EQ(v.disconnectPinboard->title(), "Disconnect");
  EXPECT_TRUE(v.disconnectPinboard->isEnabled());
  EXPECT_FALSE(v.pinboardPreferencesUsernameField->isEnabled());
  EXPECT_FALSE(Service::serviceNamed("delicious")) << "the other service is untouched";

  v.disconnectPinboard->performClick();
  EXPECT_FALSE(Service::serviceNamed("pinboard"));
  EXPECT_EQ(v.connectedToPinboardLabel->stringValue(), "Not connected to pinboard.in");
  EXPECT_EQ(v.disconnectPinboard->title(), "Connect");
  EXPECT_TRUE(v.pinboardPreferencesUsernameField->isEnabled());
  EXPECT_EQ(v.pinboardPreferencesUsernameField->stringValue(), "");

  // An account made from the folder list shows at its refresh; one gone meanwhile (a failed
  // first import removes it) is not connected again with what the pane showed.
  auto made = Service::initEntity();
  made->setName("pinboard");
  made->setLogin("elsewhere");
  made->setPassword("c2VjcmV0");
  ASSERT_TRUE(WrenEntity::saveContext());
  ViewUpdater::updateFoldersCompletely();
  EXPECT_EQ(v.connectedToPinboardLabel->stringValue(), "Connected as elsewhere");
  made->deleteEntity();
  ASSERT_TRUE(WrenEntity::saveContext());
  v.disconnectPinboard->performClick();
  EXPECT_EQ(v.connectedToPinboardLabel->stringValue(), "Not connected to pinboard.in");
  EXPECT_TRUE(v.disconnectPinboard->isEnabled()) << "no connection was started";
}

TEST_F(PreferencesPanelTest, PaneActionsSelectTheirPane) {
  build(0);
  prefs().showPreferencesPanel();
  prefs().showPreferencesDeliciousTab();
  EXPECT_EQ(prefs().selectedTab(), "delicious");
  EXPECT_FALSE(prefs().panelViews().publicDeliciousCheck->superview()->isHidden());
  EXPECT_TRUE(prefs().panelViews().menubarModeCheck->superview()->isHidden());
  prefs().showPreferencesSyncTab();
  EXPECT_EQ(prefs().selectedTab(), "sync");
  EXPECT_FALSE(prefs().panelViews().autoSyncCheck->superview()->isHidden());
}

}  // namespace
}  // namespace kesto::test
