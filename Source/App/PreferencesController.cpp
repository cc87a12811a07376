#include "App/PreferencesController.h"
#include "Views/PushButton.h"

#include "MenuBar/KeyCodeNames.h"
#include "Model/DataManager.h"
#include "Model/ModelNotifications.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/LoginItems.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/UI/Button.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/SegmentedControl.h"
#include "Platform/UI/TextField.h"
#include "Support/AlertPresenter.h"

#include <array>
#include <tuple>

namespace kesto {

namespace {

constexpr std::array<const char*, 6> kTabIdentifiers = {"general", "sync", "previews", "bookmarks", "search", "delicious"};
constexpr std::array<const char*, 6> kTabLabels = {"General", "Sync", "Previews", "Bookmarks", "Search", "Services"};

constexpr double kPanelWidth = 620, kPanelHeight = 400, kTabBarHeight = 44;

// Stands in for the stored password: the real one never appears on screen.
constexpr const char* kPasswordPlaceholder = "••••••••";

std::shared_ptr<ui::Button> check(ui::View& pane, double x, double y, double width, const std::string& title) {
  auto b = std::make_shared<ui::Button>(fnd::Rect(x, y, width, 22), ui::Button::Kind::Checkbox);
  b->setTitle(title);
  pane.addSubview(b);
  return b;
}

std::shared_ptr<ui::Label> label(ui::View& pane, double x, double y, double width, const std::string& text) {
  auto l = std::make_shared<ui::Label>(fnd::Rect(x, y, width, 20), text);
  pane.addSubview(l);
  return l;
}

}  // namespace

// ---- RadioMatrix ----

RadioMatrix::RadioMatrix(const fnd::Rect& frame, const std::vector<std::string>& titles) : ui::View(frame) {
  const double rowHeight = 24;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    double y = frame.size.height - rowHeight * double(i + 1);
    auto b = std::make_shared<ui::Button>(fnd::Rect(0, y, frame.size.width, 22), ui::Button::Kind::Radio);
    b->setTitle(titles[i]);
    int row = int(i);
    b->setAction([this, row] {
      selectRow(row);
      if (action_) action_();
    });
    addSubview(b);
    rows_.push_back(b);
  }
}

int RadioMatrix::selectedRow() const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i]->state() == 1) return int(i);
  return -1;
}

void RadioMatrix::selectRow(int row) {
  for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i]->setState(int(i) == row ? 1 : 0);
}

void RadioMatrix::clickRow(int row) { rows_.at(row)->performClick(); }

// ---- Shortcut text ----

std::string shortcutLabelText(long keyCode, unsigned carbonFlags) {
  if (keyCode < 0) {
    keyCode = kDefaultHotKeyCode;
    carbonFlags = kDefaultHotKeyFlags;
  }
  // The keys as this desktop names them, the characters as the keyboard layout types them.
  return "Current shortcut: " + KRCarbonShortcutString(carbonFlags, keyCode);
}

// ---- Store ----

PreferencesController::PreferencesController() { readPreferences(); }

PreferencesController::~PreferencesController() {
  lifetime_.end();
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  // The library goes back to reading user defaults itself.
  if (published_) registerPreferences(nullptr);
  if (panel_) panel_->orderOut();
}

struct PreferencesController::StoredSwitch {
  const char* key;
  bool PreferencesController::*value;
  bool written;
};

const std::vector<PreferencesController::StoredSwitch>& PreferencesController::storedSwitches() {
  using P = PreferencesController;
  static const std::vector<StoredSwitch> switches{
      {"sortInboxByDateAscending", &P::sortInboxByDateAscending_, true},
      {"sortInboxByDateDescending", &P::sortInboxByDateDescending_, true},
      {"sortFoldersByDateAscending", &P::sortFoldersByDateAscending_, true},
      {"sortFoldersByDateDescending", &P::sortFoldersByDateDescending_, true},
      {"sortFoldersAlfabetically", &P::sortFoldersAlfabetically_, true},
      {"sortFoldersByRating", &P::sortFoldersByRating_, true},
      {"sortFoldersByMostVisited", &P::sortFoldersByMostVisited_, true},
      {"sortFoldersByFavorite", &P::sortFoldersByFavorite_, true},
      {"showBookmarksInSubFolders", &P::showBookmarksInSubFolders_, true},
      {"showMultipleColumns", &P::showMultipleColumns_, true},
      {"CheckDuplicates", &P::checkDuplicates_, true},
      {"skipDuplicates", &P::skipDuplicates_, true},
      {"UseInboxForBookmarks", &P::useInboxForBookmarks_, true},
      {"useMenuBarMode", &P::menubarMode_, true},
      {"useAutoSync", &P::useAutoSync_, true},
      // Belongs to the sync set-up: never written from here.
      {"syncUsingSkyfolder", &P::useSkyfolderForSynching_, false},
      {"disablePinboard", &P::disablePinboard_, true},
      {"disableDelicious", &P::disableDelicious_, true},
      {"showALLTags", &P::showALLTags_, true},
      {"showEditAddingBookmark", &P::showEditAddingBookmarks_, true},
  };
  return switches;
}

void PreferencesController::readPreferences() {
  auto& d = fnd::UserDefaults::standard();
  const bool firstRun = !d.hasValueForKey("sortFoldersByRating");
  for (const auto& s : storedSwitches()) this->*s.value = d.boolForKey(s.key);
  // Any stored text is kept as it is; other kinds of value read as none.
  favoriteBrowser_ = d.stringForKey("favoriteBrowser").value_or("Default");
  if (firstRun) {
    // In memory only: nothing is stored until the user first changes a preference.
    sortFoldersByRating_ = sortFoldersByMostVisited_ = sortFoldersByFavorite_ = false;
    showMultipleColumns_ = true;
    checkDuplicates_ = true;
    useInboxForBookmarks_ = menubarMode_ = skipDuplicates_ = false;
    useAutoSync_ = true;
    favoriteBrowser_ = "Default";
    sortFoldersAlfabetically_ = false;
    disablePinboard_ = disableDelicious_ = showALLTags_ = showEditAddingBookmarks_ = false;
  }
  // Optional keys (rating, visits, favourites) only go in front of a main order, so they do
  // not count as one.
  if (!sortInboxByDateAscending_ && !sortInboxByDateDescending_) sortInboxByDateDescending_ = true;
  if (!sortFoldersByDateAscending_ && !sortFoldersByDateDescending_ && !sortFoldersAlfabetically_)
    sortFoldersByDateDescending_ = true;
  if (published_) publish();
  reloadSocial();
  updateKeyCombo();
  updateSortButtons();
}

void PreferencesController::writePreferences() {
  auto& d = fnd::UserDefaults::standard();
  for (const auto& s : storedSwitches())
    if (s.written) d.setBool(this->*s.value, s.key);
  d.setString(favoriteBrowser_, "favoriteBrowser");
  d.synchronize();
  if (published_) publish();
  fnd::NotificationCenter::defaultCenter().postNotificationName(kUpdateBrowserButtonNotification, nullptr);
}

void PreferencesController::publish() {
  // The library reads a snapshot: its lists may be computed off the main thread.
  auto values = std::make_shared<PreferenceValues>();
  values->dateAscending = sortFoldersByDateAscending_;
  values->dateDescending = sortFoldersByDateDescending_;
  values->alphabetically = sortFoldersAlfabetically_;
  values->favorite = sortFoldersByFavorite_;
  values->rating = sortFoldersByRating_;
  values->mostVisited = sortFoldersByMostVisited_;
  values->inboxAscending = sortInboxByDateAscending_;
  values->inboxDescending = sortInboxByDateDescending_;
  values->subFolders = showBookmarksInSubFolders_;
  values->allTags = showALLTags_;
  registerPreferences(std::move(values));
  published_ = true;
}

// ---- Panel ----

void PreferencesController::showPreferencesPanel() {
  if (!panel_) buildPanel();
  updatePreferencesPanelValues();
  reloadSocial();
  updateKeyCombo();
  if (!panel_->isVisible()) showPreferencesGeneralTab();
  panel_->makeKeyAndOrderFront();
}

std::string PreferencesController::selectedTab() const {
  if (!views_.preferencesTabView) return {};
  long i = views_.preferencesTabView->selectedSegment();
  return i >= 0 && i < long(kTabIdentifiers.size()) ? kTabIdentifiers[std::size_t(i)] : std::string();
}

void PreferencesController::selectTab(const std::string& identifier) {
  if (!views_.preferencesTabView) return;
  for (std::size_t i = 0; i < kTabIdentifiers.size(); ++i) {
    bool shown = identifier == kTabIdentifiers[i];
    panes_[i]->setHidden(!shown);
    if (shown) views_.preferencesTabView->setSelectedSegment(long(i));
  }
}

void PreferencesController::buildPanel() {
  panel_ = std::make_unique<ui::Panel>(fnd::Rect(0, 0, kPanelWidth, kPanelHeight),
                                       ui::WindowStyle::Titled | ui::WindowStyle::Closable);
  panel_->setTitle("Preferences");
  // Accounts come and go from the folder list too (and a failed first import removes one): the
  // Services pane follows the folder list's refreshes.
  auto& center = fnd::NotificationCenter::defaultCenter();
  for (auto name : {BRWUpdateFoldersCompletelyViewNotification, SelectCurrentSidebarViewNotification})
    center.addObserver(this, [this](const fnd::Notification&) { reloadSocial(); }, name);
  auto content = std::make_shared<ui::View>(fnd::Rect(0, 0, kPanelWidth, kPanelHeight));
  panel_->setContentView(content);

  views_.preferencesTabView =
      std::make_shared<ui::SegmentedControl>(fnd::Rect(20, kPanelHeight - kTabBarHeight + 12, kPanelWidth - 40, 22));
  views_.preferencesTabView->setSegmentCount(long(kTabLabels.size()));
  for (std::size_t i = 0; i < kTabLabels.size(); ++i) {
    views_.preferencesTabView->setLabel(kTabLabels[i], long(i));
    views_.preferencesTabView->setWidth((kPanelWidth - 40) / double(kTabLabels.size()), long(i));
  }
  views_.preferencesTabView->setAction([this] { selectTab(selectedTab()); });
  content->addSubview(views_.preferencesTabView);
  const double paneHeight = kPanelHeight - kTabBarHeight;
  for (auto& pane : panes_) {
    pane = std::make_shared<ui::View>(fnd::Rect(0, 0, kPanelWidth, paneHeight));
    content->addSubview(pane);
  }
  auto wire = [this](const std::shared_ptr<ui::Button>& b, int tag) {
    b->setTag(tag);
    b->setAction([this, tag] { updatePreferences(tag); });
  };
  const double left = 40, width = kPanelWidth - 80, top = paneHeight - 40;

  // General.
  auto& general = *panes_[0];
  views_.menubarModeCheck = check(general, left, top, width,
                                  sys::TrayIcon::isSystemTrayAvailable()
                                      ? "Start in menu-bar mode"
                                      : "Start in menu-bar mode (this desktop has no system tray: the window shows)");
  wire(views_.menubarModeCheck, 14);
  label(general, left, top - 44, 170, "Open bookmarks with:");
  views_.favoriteBrowserPopUp = std::make_shared<ui::PopUpButton>(fnd::Rect(left + 175, top - 46, 300, 26));
  views_.favoriteBrowserPopUp->setTag(21);
  views_.favoriteBrowserPopUp->setAction([this] { updatePreferences(21); });
  general.addSubview(views_.favoriteBrowserPopUp);
  // Between the list and the shortcut row.
  views_.browserMissingLabel = label(general, left + 175, top - 68, kPanelWidth - left - 175 - 20, "");
  views_.browserMissingLabel->setTextColor(ui::Color::rgb(0.7, 0.15, 0.1));
  views_.currentShortcutLabel = label(general, left, top - 88, width, "");
  // The recorder stands in the label's place; the hidden label still carries the text.
  views_.currentShortcutLabel->setHidden(true);
  label(general, left, top - 88, 170, "Global shortcut:");
  views_.keyRecorder =
      std::make_shared<KRRecorderControl>(fnd::Rect(left + 175, top - 90, 200, KRRecorderControl::kHeight));
  views_.keyRecorder->setDelegate(keyRecorderDelegate_);
  views_.keyRecorder->setStyle(1);
  views_.keyRecorder->setAnimates(true);
  // The desktop's own shortcuts would take some combinations before the recorder saw them.
  views_.keyRecorder->setCanCaptureGlobalHotKeys(true);
  general.addSubview(views_.keyRecorder);
  views_.launchAtLoginCheck = check(general, left, top - 132, width, "Start Kesto when I log in");
  views_.launchAtLoginCheck->setAction([this] { toggleLaunchAtLogin(); });

  // Sync.
  views_.autoSyncCheck = check(*panes_[1], left, top, width, "Sync automatically");
  wire(views_.autoSyncCheck, 16);

  // Previews.
  views_.multipleColumnCheck = check(*panes_[2], left, top, width, "Show bookmarks in several columns");
  wire(views_.multipleColumnCheck, 8);
  views_.showEditAddingBookmarkButton = check(*panes_[2], left, top - 30, width, "Edit each bookmark as it is added");
  wire(views_.showEditAddingBookmarkButton, 41);

  // Bookmarks: the two orders side by side, the options below.
  auto& bookmarks = *panes_[3];
  label(bookmarks, left, top, 200, "Inbox order:");
  views_.inboxMatrix = std::make_shared<RadioMatrix>(fnd::Rect(left + 10, top - 50, 200, 48),
                                                     std::vector<std::string>{"Newest first", "Oldest first"});
  views_.inboxMatrix->setAction([this] { updatePreferences(1); });
  bookmarks.addSubview(views_.inboxMatrix);
  label(bookmarks, left + 250, top, 200, "Folder order:");
  views_.foldersMatrix = std::make_shared<RadioMatrix>(
      fnd::Rect(left + 260, top - 74, 200, 72), std::vector<std::string>{"By title", "Newest first", "Oldest first"});
  views_.foldersMatrix->setAction([this] { updatePreferences(2); });
  bookmarks.addSubview(views_.foldersMatrix);
  double y = top - 108;
  auto row = [&](std::shared_ptr<ui::Button>& out, int tag, const std::string& title) {
    out = check(bookmarks, left, y, width, title);
    wire(out, tag);
    y -= 26;
  };
  row(views_.favoriteCheck, 22, "Favorites first");
  row(views_.ratingCheck, 3, "Highest rated first");
  row(views_.visitedCheck, 4, "Most visited first");
  row(views_.subFoldersCheck, 7, "Include the bookmarks of sub-folders");
  row(views_.duplicatesCheck, 12, "Warn before adding a bookmark already in the library");
  row(views_.skipDuplicatesCheck, 15, "Skip addresses from other applications that are already stored");
  row(views_.useInboxForBookmarksCheck, 13, "Put bookmarks from other applications in the Inbox");

  // Search.
  views_.showALLTagsButton =
      check(*panes_[4], left, top, width, "With several tags chosen, show bookmarks that carry all of them");
  wire(views_.showALLTagsButton, 40);

  // Services: one block per account.
  auto& services = *panes_[5];
  auto block = [&](double y0, const std::string& name, std::shared_ptr<ui::Label>& state,
                   std::shared_ptr<ui::TextField>& user, std::shared_ptr<ui::TextField>& password,
                   std::shared_ptr<ui::Button>& connect, std::shared_ptr<ui::Button>& isPublic,
                   std::shared_ptr<ui::Button>& disable, int publicTag, int disableTag) {
    auto title = label(services, left, y0, width, name);
    ui::Font bold;
    bold.bold = true;
    bold.pointSize = 10.5;
    title->setFont(bold);
    state = label(services, left, y0 - 24, width, "");
    user = std::make_shared<ui::TextField>(fnd::Rect(left, y0 - 54, 150, 24));
    user->setPlaceholderString("User name");
    services.addSubview(user);
    password = std::make_shared<ui::TextField>(fnd::Rect(left + 160, y0 - 54, 150, 24), ui::TextField::Style::Secure);
    password->setPlaceholderString("Password");
    services.addSubview(password);
    const std::string service = name == "Delicious" ? "delicious" : "pinboard";
    connect = std::make_shared<ui::Button>(fnd::Rect(left + 320, y0 - 56, 120, 28));
    connect->setAction([this, service] { toggleServiceAccount(service); });
    password->setAction([this, service] {
      if (!Service::serviceNamed(service)) toggleServiceAccount(service);
    });
    services.addSubview(connect);
    disable = check(services, left, y0 - 82, 230, "Hide " + name + " in the folder list");
    isPublic = check(services, left + 240, y0 - 82, 220, "New bookmarks are public");
    wire(isPublic, publicTag);
    wire(disable, disableTag);
  };
  block(top, "Delicious", views_.connectedToDeliciousLabel, views_.deliciousPreferencesUsernameField,
        views_.deliciousPreferencesPasswordField, views_.disconnectDelicious, views_.publicDeliciousCheck,
        views_.disableDeliciousCheck, 36, 38);
  block(top - 124, "Pinboard", views_.connectedToPinboardLabel, views_.pinboardPreferencesUsernameField,
        views_.pinboardPreferencesPasswordField, views_.disconnectPinboard, views_.publicPinboardCheck,
        views_.disablePinboardCheck, 37, 39);
  auto note = label(services, left, 24, width, "Disconnecting removes the service's bookmarks from the library.");
  note->setTextColor(ui::Color::white(0.35));

  selectTab("general");
  // Centred once; later showings keep where the user put it.
  if (auto screen = ui::Screen::main(); screen.isValid()) {
    fnd::Rect v = screen.visibleFrame();
    fnd::Rect f = panel_->frame();
    panel_->setFrame(fnd::Rect(v.midX() - f.size.width / 2, v.midY() - f.size.height / 2, f.size.width, f.size.height),
                     false);
  }
}

void PreferencesController::updatePreferences(int tag, std::optional<bool> senderIsOn) {
  auto on = [senderIsOn](const std::shared_ptr<ui::Button>& b) { return senderIsOn ? *senderIsOn : b && b->state() == 1; };
  bool rebuildFolders = false;
  switch (tag) {
    case 1: {
      bool newest = views_.inboxMatrix && views_.inboxMatrix->selectedRow() == 0;
      sortInboxByDateDescending_ = newest;
      sortInboxByDateAscending_ = !newest;
      break;
    }
    case 2: {
      int row = views_.foldersMatrix ? views_.foldersMatrix->selectedRow() : -1;
      if (row >= 0 && row <= 2) {
        sortFoldersAlfabetically_ = row == 0;
        sortFoldersByDateDescending_ = row == 1;
        sortFoldersByDateAscending_ = row == 2;
      }
      break;
    }
    case 17:
    case 18:
    case 19:
      sortFoldersAlfabetically_ = tag == 17;
      sortFoldersByDateDescending_ = tag == 18;
      sortFoldersByDateAscending_ = tag == 19;
      break;
    case 3:
    case 10: sortFoldersByRating_ = on(views_.ratingCheck); break;
    case 4:
    case 11: sortFoldersByMostVisited_ = on(views_.visitedCheck); break;
    case 22: sortFoldersByFavorite_ = on(views_.favoriteCheck); break;
    case 7: showBookmarksInSubFolders_ = on(views_.subFoldersCheck); break;
    case 8: showMultipleColumns_ = on(views_.multipleColumnCheck); break;
    case 12: checkDuplicates_ = on(views_.duplicatesCheck); break;
    case 13: useInboxForBookmarks_ = on(views_.useInboxForBookmarksCheck); break;
    case 14: menubarMode_ = on(views_.menubarModeCheck); break;
    case 15: skipDuplicates_ = on(views_.skipDuplicatesCheck); break;
    case 16:
      useAutoSync_ = on(views_.autoSyncCheck);
      if (useAutoSync_) ViewUpdater::setSyncTimer();
      else ViewUpdater::unsetSyncTimer();
      break;
    case 21: {
      // The row of a browser that is no longer installed keeps the stored choice.
      int row = views_.favoriteBrowserPopUp ? views_.favoriteBrowserPopUp->indexOfSelectedItem() : -1;
      favoriteBrowser_ = row >= 0 && row < int(browserChoices_.size()) ? browserChoices_[row] : "Default";
      break;
    }
    case 36:
    case 37: {
      auto service = Service::serviceNamed(tag == 36 ? "delicious" : "pinboard");
      // Without the account there is nothing to change.
      if (!service) return;
      service->setDefaultsToPublic(on(tag == 36 ? views_.publicDeliciousCheck : views_.publicPinboardCheck) ? 1 : 0);
      WrenEntity::saveContext();
      break;
    }
    case 38: disableDelicious_ = on(views_.disableDeliciousCheck); rebuildFolders = true; break;
    case 39: disablePinboard_ = on(views_.disablePinboardCheck); rebuildFolders = true; break;
    case 40: showALLTags_ = on(views_.showALLTagsButton); rebuildFolders = true; break;
    default: break;
  }
  writePreferences();
  updatePreferencesPanelValues();
  ViewUpdater::updateSourceLists();
  if (kestoData_) kestoData_->loadBookmarksAndReset();
  if (rebuildFolders) ViewUpdater::updateFoldersCompletely();
}

void PreferencesController::setSortButtons(SortBottomBarButtons buttons) {
  sortButtons_ = std::move(buttons);
  // The three "by" orders turn on and off; the three base orders replace one another.
  const std::tuple<PushButton*, int, bool PreferencesController::*> wiring[] = {
      {sortButtons_.ratingBottomBar.get(), 10, &PreferencesController::sortFoldersByRating_},
      {sortButtons_.visitedBottomBar.get(), 11, &PreferencesController::sortFoldersByMostVisited_},
      {sortButtons_.favoriteBottomBar.get(), 22, &PreferencesController::sortFoldersByFavorite_},
      {sortButtons_.titleBottomBar.get(), 17, nullptr},
      {sortButtons_.dateAscBottomBar.get(), 19, nullptr},
      {sortButtons_.dateDescBottomBar.get(), 18, nullptr}};
  for (const auto& [button, tag, flag] : wiring) {
    if (!button) continue;
    button->setAction([this, tag = tag, flag = flag] { updatePreferences(tag, flag ? !(this->*flag) : true); });
  }
  updateSortButtons();
}

void PreferencesController::updateSortButtons() {
  const std::tuple<PushButton*, const char*, bool> states[] = {
      {sortButtons_.ratingBottomBar.get(), "rating_desc", sortFoldersByRating_},
      {sortButtons_.titleBottomBar.get(), "title_asc", sortFoldersAlfabetically_},
      {sortButtons_.dateAscBottomBar.get(), "date_asc", sortFoldersByDateAscending_},
      {sortButtons_.dateDescBottomBar.get(), "date_desc", sortFoldersByDateDescending_},
      {sortButtons_.visitedBottomBar.get(), "visited_desc", sortFoldersByMostVisited_},
      {sortButtons_.favoriteBottomBar.get(), "favorite_desc", sortFoldersByFavorite_}};
  for (const auto& [button, image, isOn] : states)
    if (button) button->setImageNamed(isOn ? std::string(image) + "_selected" : std::string(image));
}

void PreferencesController::updatePreferencesPanelValues() {
  updateSortButtons();
  if (!panel_) return;
  if (sortInboxByDateAscending_) views_.inboxMatrix->selectRow(1);
  if (sortInboxByDateDescending_) views_.inboxMatrix->selectRow(0);
  if (sortFoldersAlfabetically_) views_.foldersMatrix->selectRow(0);
  if (sortFoldersByDateDescending_) views_.foldersMatrix->selectRow(1);
  if (sortFoldersByDateAscending_) views_.foldersMatrix->selectRow(2);
  auto set = [](const std::shared_ptr<ui::Button>& b, bool v) { b->setState(v ? 1 : 0); };
  set(views_.ratingCheck, sortFoldersByRating_);
  set(views_.duplicatesCheck, checkDuplicates_);
  set(views_.skipDuplicatesCheck, skipDuplicates_);
  set(views_.useInboxForBookmarksCheck, useInboxForBookmarks_);
  set(views_.visitedCheck, sortFoldersByMostVisited_);
  set(views_.favoriteCheck, sortFoldersByFavorite_);
  set(views_.subFoldersCheck, showBookmarksInSubFolders_);
  set(views_.multipleColumnCheck, showMultipleColumns_);
  set(views_.menubarModeCheck, menubarMode_);
  if (views_.launchAtLoginCheck) set(views_.launchAtLoginCheck, loginItems_.launchAtLogin());
  set(views_.autoSyncCheck, useAutoSync_);
  set(views_.showALLTagsButton, showALLTags_);
  set(views_.showEditAddingBookmarkButton, showEditAddingBookmarks_);
  set(views_.disableDeliciousCheck, disableDelicious_);
  set(views_.disablePinboardCheck, disablePinboard_);
  reloadBrowsers();
}

std::optional<std::string> PreferencesController::missingBrowserName() const {
  if (favoriteBrowser_ == "Default" || sys::Workspace::browserForIdentifier(favoriteBrowser_)) return std::nullopt;
  const std::pair<const char*, const char*> known[] = {
      {kSafari, "Safari"}, {kChrome, "Chrome"}, {kOpera, "Opera"}, {kFirefox, "Firefox"}};
  for (const auto& [identifier, name] : known)
    if (favoriteBrowser_ == identifier) return std::string(name);
  std::string name = favoriteBrowser_;
  if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) name.resize(name.size() - 8);
  return name;
}

void PreferencesController::reloadBrowsers() {
  // Browsers come and go with the packages installed, so the list is read each time it shows.
  auto& popUp = *views_.favoriteBrowserPopUp;
  popUp.removeAllItems();
  browserChoices_.assign(1, "Default");
  popUp.addItemWithTitle(kDefaultBrowserItem, ui::Image::named("toolbar_open_in_browser"));
  int selected = 0;
  const auto chosen = favoriteBrowser_ == "Default" ? std::nullopt : sys::Workspace::browserForIdentifier(favoriteBrowser_);
  for (const auto& browser : sys::Workspace::installedBrowsers()) {
    if (chosen && chosen->identifier == browser.identifier) selected = int(browserChoices_.size());
    browserChoices_.push_back(browser.identifier);
    popUp.addItemWithTitle(browser.name, ui::Image::iconNamed(browser.icon));
  }
  std::string missing;
  if (auto name = missingBrowserName()) {
    selected = int(browserChoices_.size());
    browserChoices_.push_back(favoriteBrowser_);
    popUp.addItemWithTitle(*name + " (not installed)");
    missing = "No longer installed: bookmarks open in the system default.";
  }
  popUp.selectItemAtIndex(selected);
  views_.browserMissingLabel->setStringValue(missing);
  views_.browserMissingLabel->setHidden(missing.empty());
}

struct PreferencesController::ServiceControls {
  ui::Label* state;
  ui::TextField* user;
  ui::TextField* password;
  ui::Button* connect;
  ui::Button* isPublic;
};

void PreferencesController::reloadService(const std::string& name, const std::string& domain, ServiceControls c) {
  auto service = Service::serviceNamed(name);
  if (service) {
    c.state->setStringValue("Connected as " + service->login());
    c.user->setStringValue(service->login());
    c.password->setStringValue(kPasswordPlaceholder);
    c.user->setEnabled(false);
    c.password->setEnabled(false);
    c.connect->setTitle("Disconnect");
    c.connect->setEnabled(bool(serviceActions_.disconnect));
    c.isPublic->setHidden(false);
    c.isPublic->setEnabled(true);
    c.isPublic->setState(service->defaultsToPublic() >= 1 ? 1 : 0);
  } else {
    c.state->setStringValue("Not connected to " + domain);
    // What the user typed stays for another try; a removed account's name goes.
    if (!c.user->isEnabled()) {
      c.user->setStringValue("");
      c.password->setStringValue("");
    }
    c.connect->setTitle("Connect");
    c.connect->setEnabled(bool(serviceActions_.connect));
    c.user->setEnabled(true);
    c.password->setEnabled(true);
    c.isPublic->setHidden(true);
  }
}

void PreferencesController::reloadSocial() {
  if (!panel_) return;
  reloadService("delicious", "del.icio.us",
                {views_.connectedToDeliciousLabel.get(), views_.deliciousPreferencesUsernameField.get(),
                 views_.deliciousPreferencesPasswordField.get(), views_.disconnectDelicious.get(),
                 views_.publicDeliciousCheck.get()});
  reloadService("pinboard", "pinboard.in",
                {views_.connectedToPinboardLabel.get(), views_.pinboardPreferencesUsernameField.get(),
                 views_.pinboardPreferencesPasswordField.get(), views_.disconnectPinboard.get(),
                 views_.publicPinboardCheck.get()});
}

void PreferencesController::toggleServiceAccount(const std::string& service) {
  if (!panel_) return;
  const bool delicious = service == "delicious";
  ui::Button& button = *(delicious ? views_.disconnectDelicious : views_.disconnectPinboard);
  ui::Label& state = *(delicious ? views_.connectedToDeliciousLabel : views_.connectedToPinboardLabel);
  ui::TextField& userField =
      *(delicious ? views_.deliciousPreferencesUsernameField : views_.pinboardPreferencesUsernameField);
  // A pane that shows an account only disconnects: when the account went meanwhile (a failed
  // import removes it), the pane is brought up to date, never connected with what it showed.
  if (!userField.isEnabled() || Service::serviceNamed(service)) {
    if (Service::serviceNamed(service) && serviceActions_.disconnect) serviceActions_.disconnect(service);
    reloadSocial();
    return;
  }
  if (!serviceActions_.connect || !button.isEnabled()) return;
  const std::string user = userField.stringValue();
  const std::string password =
      (delicious ? views_.deliciousPreferencesPasswordField : views_.pinboardPreferencesPasswordField)->stringValue();
  button.setEnabled(false);
  state.setStringValue("Connecting…");
  serviceActions_.connect(service, user, password, lifetime_.whileAlive([this, &state, user, password](bool stored) {
    reloadSocial();
    if (!stored && (user.size() < 2 || password.size() < 2))
      state.setStringValue("Not connected: the user name and the password need at least 2 characters each");
  }));
}

void PreferencesController::updateKeyCombo() {
  if (!views_.currentShortcutLabel) return;
  auto& d = fnd::UserDefaults::standard();
  // Key code 0 is the A key: only an absent code or -1 means the default.
  long code = d.hasValueForKey("kComboCode") ? long(d.integerForKey("kComboCode")) : -1;
  unsigned flags = code >= 0 ? unsigned(d.integerForKey("kComboFlags")) : 0;
  views_.currentShortcutLabel->setStringValue(shortcutLabelText(code, flags));
  if (views_.keyRecorder) {
    if (code < 0)
      views_.keyRecorder->showKeyCombo(KeyCombo{KRCarbonFlagsToCocoa(kDefaultHotKeyFlags), kDefaultHotKeyCode});
    else views_.keyRecorder->showKeyCombo(KeyCombo{KRCarbonFlagsToCocoa(flags), code});
  }
}

void PreferencesController::toggleLaunchAtLogin() {
  if (!views_.launchAtLoginCheck) return;
  bool wanted = views_.launchAtLoginCheck->state() == 1;
  if (!loginItems_.setLaunchAtLogin(wanted))
    AlertPresenter::alert("Kesto could not change its start at login",
                          "The autostart entry " + sys::LoginItems::autostartEntryPath() + " could not be written.");
  views_.launchAtLoginCheck->setState(loginItems_.launchAtLogin() ? 1 : 0);
}

}  // namespace kesto
