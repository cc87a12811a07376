#pragma once

#include "App/AppNotifications.h"
#include "MenuBar/KRRecorderControl.h"
#include "MenuBar/LoginItemController.h"
#include "Model/Preferences.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/UIForward.h"
#include "Platform/UI/View.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class DataManager;
class PushButton;

// The six sort buttons of the main window's bottom bar.
struct SortBottomBarButtons {
  std::shared_ptr<PushButton> ratingBottomBar, visitedBottomBar, favoriteBottomBar, titleBottomBar, dateAscBottomBar,
      dateDescBottomBar;
};

// A column of radio buttons standing for one choice, rows counted from the top.
class RadioMatrix : public ui::View {
 public:
  RadioMatrix(const fnd::Rect& frame, const std::vector<std::string>& titles);
  // -1 when no row is on.
  int selectedRow() const;
  void selectRow(int row);
  // Clicks a row as the user would.
  void clickRow(int row);
  const std::shared_ptr<ui::Button>& cell(int row) const { return rows_.at(row); }
  // Runs after the user chose a row.
  void setAction(std::function<void()> action) { action_ = std::move(action); }

 private:
  std::vector<std::shared_ptr<ui::Button>> rows_;
  std::function<void()> action_;
};

// The controls of the preferences panel.
struct PreferencesPanelViews {
  std::shared_ptr<RadioMatrix> inboxMatrix, foldersMatrix;
  std::shared_ptr<ui::Button> ratingCheck, visitedCheck, favoriteCheck, subFoldersCheck, multipleColumnCheck,
      duplicatesCheck, skipDuplicatesCheck, useInboxForBookmarksCheck, menubarModeCheck, autoSyncCheck,
      showALLTagsButton, showEditAddingBookmarkButton, disableDeliciousCheck, disablePinboardCheck;
  std::shared_ptr<ui::SegmentedControl> preferencesTabView;
  std::shared_ptr<ui::Label> currentShortcutLabel;
  // The default browser, each browser installed here (by desktop entry id) and, when the stored
  // choice is no longer installed, that choice with a note beside it.
  std::shared_ptr<ui::PopUpButton> favoriteBrowserPopUp;
  std::shared_ptr<ui::Label> browserMissingLabel;
  // The global shortcut's recorder and the launch-at-login switch.
  std::shared_ptr<KRRecorderControl> keyRecorder;
  std::shared_ptr<ui::Button> launchAtLoginCheck;
  std::shared_ptr<ui::Label> connectedToDeliciousLabel, connectedToPinboardLabel;
  std::shared_ptr<ui::TextField> deliciousPreferencesUsernameField, pinboardPreferencesUsernameField;
  std::shared_ptr<ui::TextField> deliciousPreferencesPasswordField, pinboardPreferencesPasswordField;
  std::shared_ptr<ui::Button> disconnectDelicious, disconnectPinboard;
  std::shared_ptr<ui::Button> publicDeliciousCheck, publicPinboardCheck;
};

// The user's preferences: plain properties loaded from user defaults at start and written back
// on every change made in the preferences panel. Setting a property does not save it; only
// writePreferences() does. Also the library's source of list orders and filters.
class PreferencesController : public Preferences {
 public:
  // Loads the stored values (no controls exist yet).
  PreferencesController();
  ~PreferencesController() override;
  PreferencesController(const PreferencesController&) = delete;
  PreferencesController& operator=(const PreferencesController&) = delete;

  // Browser values stored by earlier versions (bundle identifiers); the panel stores desktop
  // entry ids.
  static constexpr const char* kSafari = "com.apple.Safari";
  static constexpr const char* kChrome = "com.google.Chrome";
  static constexpr const char* kOpera = "com.operasoftware.Opera";
  static constexpr const char* kFirefox = "org.mozilla.firefox";
  static constexpr fnd::NotificationName kUpdateBrowserButtonNotification = kesto::kUpdateBrowserButtonNotification;

  // Loads the values and makes them the library's.
  void awakeFromNib() {
    readPreferences();
    publish();
  }
  void readPreferences();
  void writePreferences();

  bool sortInboxByDateAscending() const override { return sortInboxByDateAscending_; }
  void setSortInboxByDateAscending(bool v) { sortInboxByDateAscending_ = v; }
  bool sortInboxByDateDescending() const override { return sortInboxByDateDescending_; }
  void setSortInboxByDateDescending(bool v) { sortInboxByDateDescending_ = v; }
  bool sortFoldersByDateAscending() const override { return sortFoldersByDateAscending_; }
  void setSortFoldersByDateAscending(bool v) { sortFoldersByDateAscending_ = v; }
  bool sortFoldersByDateDescending() const override { return sortFoldersByDateDescending_; }
  void setSortFoldersByDateDescending(bool v) { sortFoldersByDateDescending_ = v; }
  bool sortFoldersAlfabetically() const override { return sortFoldersAlfabetically_; }
  void setSortFoldersAlfabetically(bool v) { sortFoldersAlfabetically_ = v; }
  bool sortFoldersByRating() const override { return sortFoldersByRating_; }
  void setSortFoldersByRating(bool v) { sortFoldersByRating_ = v; }
  bool sortFoldersByMostVisited() const override { return sortFoldersByMostVisited_; }
  void setSortFoldersByMostVisited(bool v) { sortFoldersByMostVisited_ = v; }
  bool sortFoldersByFavorite() const override { return sortFoldersByFavorite_; }
  void setSortFoldersByFavorite(bool v) { sortFoldersByFavorite_ = v; }
  bool showBookmarksInSubFolders() const override { return showBookmarksInSubFolders_; }
  void setShowBookmarksInSubFolders(bool v) { showBookmarksInSubFolders_ = v; }
  bool showMultipleColumns() const { return showMultipleColumns_; }
  void setShowMultipleColumns(bool v) { showMultipleColumns_ = v; }
  bool checkDuplicates() const { return checkDuplicates_; }
  void setCheckDuplicates(bool v) { checkDuplicates_ = v; }
  bool skipDuplicates() const { return skipDuplicates_; }
  void setSkipDuplicates(bool v) { skipDuplicates_ = v; }
  bool useInboxForBookmarks() const { return useInboxForBookmarks_; }
  void setUseInboxForBookmarks(bool v) { useInboxForBookmarks_ = v; }
  bool menubarMode() const { return menubarMode_; }
  void setMenubarMode(bool v) { menubarMode_ = v; }
  bool useAutoSync() const { return useAutoSync_; }
  void setUseAutoSync(bool v) { useAutoSync_ = v; }
  bool useSkyfolderForSynching() const { return useSkyfolderForSynching_; }
  void setUseSkyfolderForSynching(bool v) { useSkyfolderForSynching_ = v; }
  const std::string& favoriteBrowser() const { return favoriteBrowser_; }
  void setFavoriteBrowser(std::string v) { favoriteBrowser_ = std::move(v); }
  bool disablePinboard() const { return disablePinboard_; }
  void setDisablePinboard(bool v) { disablePinboard_ = v; }
  bool disableDelicious() const { return disableDelicious_; }
  void setDisableDelicious(bool v) { disableDelicious_ = v; }
  bool showALLTags() const override { return showALLTags_; }
  void setShowALLTags(bool v) { showALLTags_ = v; }
  bool showEditAddingBookmarks() const { return showEditAddingBookmarks_; }
  void setShowEditAddingBookmarks(bool v) { showEditAddingBookmarks_ = v; }

  // ---- The preferences panel ----
  // Builds the panel on first use, fills it and brings it to the front on the "general" pane.
  void showPreferencesPanel();
  // The panel, or null before it was first shown.
  ui::Panel* preferencesPanel() const { return panel_.get(); }
  // Action of every preference control: applies the sender's tag, saves, refreshes. A sender
  // other than the panel's own check box (a bottom-bar button) gives its state.
  void updatePreferences(int tag, std::optional<bool> senderIsOn = std::nullopt);
  // Takes the bottom bar's sort buttons: each sends its tag and shows whether its order is on.
  void setSortButtons(SortBottomBarButtons buttons);
  const SortBottomBarButtons& sortButtons() const { return sortButtons_; }
  void updatePreferencesPanelValues();
  void reloadSocial();
  void updateKeyCombo();
  void showPreferencesGeneralTab() { selectTab("general"); }
  void showPreferencesSyncTab() { selectTab("sync"); }
  void showPreferencesPreviewsTab() { selectTab("previews"); }
  void showPreferencesBookmarksTab() { selectTab("bookmarks"); }
  void showPreferencesSearchTab() { selectTab("search"); }
  void showPreferencesDeliciousTab() { selectTab("delicious"); }
  // The identifier of the pane shown.
  std::string selectedTab() const;

  // The library it reloads when an order changes, and the recorder's delegate (the
  // application delegate); once, before the panel is first built.
  void wire(DataManager* data, KRRecorderDelegate* keyRecorderDelegate) {
    kestoData_ = data;
    keyRecorderDelegate_ = keyRecorderDelegate;
  }
  // The Services pane's button works as the folder list's service rows do: Connect stores the
  // account from the pane's fields (as the row's login panel does), Disconnect removes the
  // account and its bookmarks. Set by the interface; without them the button stays disabled.
  struct ServiceAccountActions {
    std::function<void(const std::string& service, const std::string& user, const std::string& password,
                       std::function<void(bool stored)> done)>
        connect;
    std::function<void(const std::string& service)> disconnect;
  };
  void setServiceAccountActions(ServiceAccountActions actions) { serviceActions_ = std::move(actions); }
  // The button of "delicious" or "pinboard": connects or disconnects after what is stored.
  void toggleServiceAccount(const std::string& service);

  // The panel's controls; empty until it was first shown.
  const PreferencesPanelViews& panelViews() const { return views_; }
  LoginItemController& loginItems() { return loginItems_; }
  // Turns launch at login on or off from the switch; a refusal is told and the switch shows the truth.
  void toggleLaunchAtLogin();

  // The first entry of the browser list.
  static constexpr const char* kDefaultBrowserItem = "System default";
  // The name of the stored browser when it is no longer installed.
  std::optional<std::string> missingBrowserName() const;

 private:
  struct ServiceControls;
  // The on/off preferences under their user-defaults keys; read and written together.
  struct StoredSwitch;
  static const std::vector<StoredSwitch>& storedSwitches();
  void buildPanel();
  void selectTab(const std::string& identifier);
  void reloadBrowsers();
  void updateSortButtons();
  void reloadService(const std::string& name, const std::string& domain, ServiceControls controls);
  // Hands the library a snapshot of the orders and filters it reads.
  void publish();

  bool sortInboxByDateAscending_ = false, sortInboxByDateDescending_ = false, sortFoldersByDateAscending_ = false,
       sortFoldersByDateDescending_ = false, sortFoldersAlfabetically_ = false, sortFoldersByRating_ = false,
       sortFoldersByMostVisited_ = false, sortFoldersByFavorite_ = false, showBookmarksInSubFolders_ = false,
       showMultipleColumns_ = false, checkDuplicates_ = false, skipDuplicates_ = false, useInboxForBookmarks_ = false,
       menubarMode_ = false, useAutoSync_ = false, useSkyfolderForSynching_ = false, disablePinboard_ = false,
       disableDelicious_ = false, showALLTags_ = false, showEditAddingBookmarks_ = false;
  std::string favoriteBrowser_ = "Default";

  DataManager* kestoData_ = nullptr;
  KRRecorderDelegate* keyRecorderDelegate_ = nullptr;
  PreferencesPanelViews views_;
  SortBottomBarButtons sortButtons_;
  bool published_ = false;
  std::unique_ptr<ui::Panel> panel_;
  LoginItemController loginItems_;
  std::shared_ptr<ui::View> panes_[6];
  std::vector<std::string> browserChoices_;
  ServiceAccountActions serviceActions_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

// The text of the hot-key label for a stored key code and Carbon modifier flags (the default
// Super+Alt+Ctrl+P when the code is negative).
std::string shortcutLabelText(long keyCode, unsigned carbonFlags);

}  // namespace kesto
