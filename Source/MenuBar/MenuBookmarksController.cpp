#include "MenuBar/MenuBookmarksController.h"

#include "MenuBar/MenuBarWindow.h"
#include "Model/Base64.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/StoredText.h"
#include "Model/StringAdditions.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Net/URL.h"
#include "Platform/Store/Predicate.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/ComboBox.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/TokenField.h"
#include "Platform/UI/UINotifications.h"
#include "Platform/UI/Window.h"
#include "Views/BRWRoundedComboBox.h"
#include "Views/OpenBookmarkAddress.h"
#include "Views/TileCollectionViewCell.h"
#include "Views/WebImageView.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string_view>

namespace kesto {

namespace {

constexpr const char* kReuseIdentifier = "pinView";
constexpr const char* kColorNames[] = {"default", "blue", "red", "green", "grey", "yellow", "orange"};
constexpr double kRowHeight = 26;
constexpr const char* kEmptyFavoritesHint =
    "No favorites yet. Mark a bookmark as a favorite (the star in the library's inspector, or "
    "Favorite in Edit…) and it is listed here.";
constexpr const char* kLockedFolderNote = "The folder is locked: the bookmark was put in the Inbox";
constexpr const char* kEmptyRecentHint =
    "No bookmarks yet. Every bookmark of the library is listed here, the most recently opened first.";

struct NamedBrowser {
  const char* identifier;
  const char* title;
};
constexpr NamedBrowser kFirefox{"org.mozilla.firefox", "Firefox"}, kChrome{"com.google.Chrome", "Chrome"},
    kOpera{"com.operasoftware.Opera", "Opera"};

// One bookmark of the menu-bar list: thumbnail, title, address, date added, note and tags.
class MenuBookmarkCard : public TileCollectionViewCell {
 public:
  explicit MenuBookmarkCard(const fnd::Rect& frame) : TileCollectionViewCell(frame) {
    thumbnail = std::make_shared<WebImageView>(fnd::Rect(8, 8, 112, 84));
    addSubview(thumbnail);
  }
  void prepareForReuse() override {
    TileCollectionViewCell::prepareForReuse();
    title.clear();
    address.clear();
    date.clear();
    note.clear();
    tags.clear();
    thumbnail->setImage(ui::Image());
  }
  void setSelected(bool selected) override {
    TileCollectionViewCell::setSelected(selected);
    setNeedsDisplay();
  }
  void setSelected(bool selected, bool animated) override {
    TileCollectionViewCell::setSelected(selected, animated);
    setNeedsDisplay();
  }
  void drawRect(ui::GraphicsContext& g, const fnd::Rect&) override {
    fnd::Rect b = bounds();
    fnd::Rect box(b.minX() + 3, b.minY() + 3, b.size.width - 6, b.size.height - 6);
    g.setFillColor(ui::Color::white(1.0));
    g.fillPath(ui::Path::roundedRect(box, 4, 4));
    g.setStrokeColor(isSelected() ? ui::Color::rgb(0.851, 0.345, 0.122) : ui::Color::white(0.8));
    ui::Path border = ui::Path::roundedRect(box, 4, 4);
    border.setLineWidth(isSelected() ? 2 : 1);
    g.strokePath(border);
    const double x = 128, w = b.size.width - x - 10, top = b.maxY() - 8;
    ui::Font big{"", 13, true, false}, small{"", 11, false, false};
    g.drawText(title, fnd::Rect(x, top - 18, w - 160, 18), big, ui::Color::black());
    g.drawText(date, fnd::Rect(b.maxX() - 170, top - 18, 160, 18), small, ui::Color::white(0.45), ui::TextAlignment::Right);
    g.drawText(address, fnd::Rect(x, top - 36, w, 16), small, ui::Color::rgb(0.2, 0.4, 0.7));
    g.drawText(note, fnd::Rect(x, top - 54, w, 16), small, ui::Color::white(0.3));
    g.drawText(tags, fnd::Rect(x, top - 72, w, 16), small, ui::Color::rgb(0.45, 0.45, 0.55));
  }
  std::shared_ptr<WebImageView> thumbnail;
  std::string title, address, date, note, tags;
};

// The card list: Return, Enter and Space open the selection; Escape closes the window.
class MenuCollectionView : public TileCollectionView {
 public:
  using TileCollectionView::TileCollectionView;
  void keyDown(const ui::Event& e) override {
    if (e.keyCode == ui::KeyCode::Return || e.keyCode == ui::KeyCode::KeypadEnter || e.keyCode == ui::KeyCode::Space) {
      ViewUpdater::openSelectedBookmarksMenu();
      return;
    }
    if (e.keyCode == ui::KeyCode::Escape) {
      fnd::NotificationCenter::defaultCenter().postNotificationName(CloseMenubarNotification);
      return;
    }
    // Arriving from the search field nothing is selected: the first arrow picks the first card.
    if ((e.keyCode == ui::KeyCode::DownArrow || e.keyCode == ui::KeyCode::UpArrow) && selectedIndexes().empty() &&
        numberOfSections() > 0 && numberOfItemsInSection(0) > 0) {
      selectItemAtIndexPath(IndexPath::forItem(0, 0), TileCollectionViewScrollPositionNearest, false);
      return;
    }
    TileCollectionView::keyDown(e);
  }
  // A plain press on a card of a selection of several keeps the selection, so a drag carries
  // all of them; a click without a drag then selects that card alone.
  void mouseDown(const ui::Event& e) override {
    holding_.reset();
    const auto plain = !e.hasModifier(ui::ModifierFlag::Command) && !e.hasModifier(ui::ModifierFlag::Shift);
    if (plain && e.clickCount == 1 && selectedIndexes().size() > 1 && documentView()) {
      auto p = indexPathForItemAtPoint(documentView()->convertPointFromView(e.locationInWindow, nullptr));
      if (p && isItemSelected(*p)) holding_ = p;
    }
    TileCollectionView::mouseDown(e);
  }
  void mouseUp(const ui::Event& e) override {
    TileCollectionView::mouseUp(e);
    if (!holding_) return;
    const IndexPath pressed = *holding_;
    holding_.reset();
    if (validateIndexPath(pressed)) selectItemAtIndexPath(pressed, TileCollectionViewScrollPositionNearest, true);
  }
  // Whether the selection is held for a drag (no card may be deselected now).
  bool holdsSelection() const { return holding_.has_value(); }
  // A drag from a selected card carries the selection out; the controller starts it.
  void mouseDragged(const ui::Event& e) override {
    if (dragSelection && !dragging_ && !selectedIndexes().empty()) {
      holding_.reset();
      dragging_ = true;
      dragSelection(e);
      dragging_ = false;
      return;
    }
    TileCollectionView::mouseDragged(e);
  }
  std::function<void(const ui::Event&)> dragSelection;

 private:
  bool dragging_ = false;
  std::optional<IndexPath> holding_;
};

bool& browserInstalled(const char* identifier) {
  static std::map<std::string, bool> installed;
  return installed[identifier];
}

}  // namespace

const std::vector<MenuSearchOption>& menuSearchOptions() {
  static const std::vector<MenuSearchOption> options = {
      {"SearchTitleMenu", 1, "Title", true}, {"SearchURLMenu", 2, "Address", true},
      {"SearchNotesMenu", 3, "Notes", true}, {"SearchContentMenu", 4, "Page Content", false},
      {"SearchTagsMenu", 5, "Tags", true},   {"SearchFoldersMenu", 6, "Folders", true}};
  return options;
}

std::vector<std::string> menuSearchWords(const std::string& text) {
  std::vector<std::string> words;
  for (auto& word : fnd::split(text, " "))
    if (!word.empty()) words.push_back(std::move(word));
  return words;
}

fnd::Size menuCardSize(double listWidth) {
  const float w = float(listWidth);
  const float r = w / 540.0f;
  const auto n = std::int64_t(r);
  const float left = w - 540.0f * float(n);
  return fnd::Size{left > r ? 540.0 + double(left / r) : 540.0, 100.0};
}

MenuBookmarksController::MenuBookmarksController() { KESTO_ASSERT_MAIN_THREAD(); }

MenuBookmarksController::~MenuBookmarksController() {
  lifetime_.end();
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  if (collectionView) {
    collectionView->setDataSource(nullptr);
    collectionView->setDelegate(nullptr);
    if (auto* grid = dynamic_cast<TileCollectionViewGridLayout*>(collectionView->collectionViewLayout().get()))
      grid->setDelegate(nullptr);
  }
  if (searchField) searchField->setDelegate(nullptr);
  if (editFolder) editFolder->setDelegate(nullptr);
  for (const auto& f : {editURL, editTitle, editNotes, editUsername, editPassword})
    if (f) f->setDelegate(nullptr);
  if (editTags) editTags->setDelegate(nullptr);
}

const std::shared_ptr<ui::View>& MenuBookmarksController::view() {
  if (!view_) buildViews();
  return view_;
}

void MenuBookmarksController::buildViews() {
  const double W = 560, H = 497;
  view_ = std::make_shared<ui::View>(fnd::Rect(0, 0, W, H));
  view_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  view_->setBackgroundColor(ui::Color::white(0.902));

  // The mode buttons, the search field and the way to the main window along the top.
  const double top = H - 6 - kRowHeight;
  searchButton = ui::addPushButton(*view_, fnd::Rect(8, top, 70, kRowHeight), "Search", [this] { showSearch(); });
  favoritesButton =
      ui::addPushButton(*view_, fnd::Rect(80, top, 92, kRowHeight), "Favorites", [this] { showFavorites(); });
  historyWeekButton =
      ui::addPushButton(*view_, fnd::Rect(174, top, 72, kRowHeight), "Recent", [this] { showVisitedWeek(); });
  searchField = std::make_shared<ui::SearchField>(fnd::Rect(252, top, 200, kRowHeight));
  searchField->setPlaceholderString("Search bookmarks");
  searchField->setAction([this] { search(); });
  view_->addSubview(searchField);
  mainWindowButton =
      ui::addPushButton(*view_, fnd::Rect(456, top, 96, kRowHeight), "Open Kesto", [this] { openMainWindow(); });

  // Open the selection in a named browser, or edit it.
  const double second = top - 4 - kRowHeight;
  auto label = std::make_shared<ui::Label>(fnd::Rect(8, second + 4, 64, 18), "Open in:");
  view_->addSubview(label);
  firefoxButton = ui::addPushButton(*view_, fnd::Rect(72, second, 84, kRowHeight), kFirefox.title,
                                    [this] { openSelectedBookmarkInBrowser(kFirefox.identifier); });
  chromeButton = ui::addPushButton(*view_, fnd::Rect(160, second, 84, kRowHeight), kChrome.title,
                                   [this] { openSelectedBookmarkInBrowser(kChrome.identifier); });
  operaButton = ui::addPushButton(*view_, fnd::Rect(248, second, 84, kRowHeight), kOpera.title,
                                  [this] { openSelectedBookmarkInBrowser(kOpera.identifier); });
  editButton = ui::addPushButton(*view_, fnd::Rect(W - 8 - 84, second, 84, kRowHeight), "Edit…",
                                 [this] { editSelectedBookmark(); });
  editButton->setEnabled(false);
  for (auto* b : {&searchButton, &favoritesButton, &historyWeekButton, &mainWindowButton, &firefoxButton, &chromeButton,
                  &operaButton, &editButton})
    (*b)->setAutoresizingMask(ui::View::MinYMargin);
  searchField->setAutoresizingMask(ui::View::MinYMargin);
  label->setAutoresizingMask(ui::View::MinYMargin);

  const double listHeight = second - 6;
  listPane = std::make_shared<ui::View>(fnd::Rect(0, 0, W, listHeight));
  listPane->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  view_->addSubview(listPane);
  auto cards = std::make_shared<MenuCollectionView>(fnd::Rect(0, 0, W, listHeight));
  cards->dragSelection = [this](const ui::Event&) { dragSelectedCards(); };
  collectionView = cards;
  collectionView->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  // As in the main list: the desktop's scroller stands beside the cards, so their right ends
  // (the date) never run under it.
  collectionView->setScrollerStyle(ui::ScrollerStyle::Legacy);
  auto layout = std::make_shared<TileCollectionViewGridLayout>();
  layout->setDelegate(this);
  layout->setItemPaddingEnabled(false);
  collectionView->setCollectionViewLayout(layout);
  collectionView->setDataSource(this);
  collectionView->setDelegate(this);
  collectionView->setAnimatesSelection(true);
  collectionView->setBackgroundColor(ui::Color::white(0.902, 1.0));
  collectionView->registerClass(TileCollectionView::cellClass<MenuBookmarkCard>(), kReuseIdentifier);
  listPane->addSubview(collectionView);
  // Over an empty Favorites or Recent list: what puts a bookmark there.
  emptyListHint = std::make_shared<ui::Label>(fnd::Rect(40, listHeight / 2 - 30, W - 80, 60));
  emptyListHint->setWraps(true);
  emptyListHint->setAlignment(ui::TextAlignment::Center);
  emptyListHint->setTextColor(ui::Color::white(0.4));
  emptyListHint->setAutoresizingMask(ui::View::WidthSizable | ui::View::MinYMargin | ui::View::MaxYMargin);
  emptyListHint->setHidden(true);
  listPane->addSubview(emptyListHint);

  buildEditPane(W, listHeight);
}

void MenuBookmarksController::buildEditPane(double W, double height) {
  editPane = std::make_shared<ui::View>(fnd::Rect(0, 0, W, height));
  editPane->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  editPane->setHidden(true);
  view_->addSubview(editPane);
  auto& pane = *editPane;
  double y = height - 8 - kRowHeight;
  const double labelWidth = 80, x = 16 + labelWidth, fieldWidth = W - x - 16;
  auto row = [&](const std::string& title) {
    auto l = std::make_shared<ui::Label>(fnd::Rect(16, y + 4, labelWidth - 6, 18), title);
    pane.addSubview(l);
    fnd::Rect field(x, y, fieldWidth, kRowHeight);
    y -= kRowHeight + 8;
    return field;
  };
  auto textField = [&](const std::string& title, std::function<void()> action, bool secure = false) {
    auto f = std::make_shared<ui::TextField>(row(title), secure ? ui::TextField::Style::Secure : ui::TextField::Style::Plain);
    f->setAction(std::move(action));
    f->setDelegate(this);
    pane.addSubview(f);
    return f;
  };
  editURL = textField("Address:", [this] { updateURL(); });
  editTitle = textField("Title:", [this] { updateTitle(); });
  editFolder = std::make_shared<BRWRoundedComboBox>(row("Folder:"));
  editFolder->setDelegate(this);
  // Only a choice from the list files the bookmark; typed text never does.
  editFolder->setSelectionAction([this](int index) { comboBoxSelectionDidChange(index); });
  pane.addSubview(editFolder);
  editNotes = textField("Notes:", [this] { updateNotes(); });
  editTags = std::make_shared<ui::TokenField>(row("Tags:"));
  editTags->setAction([this] { updateTags(); });
  editTags->setDelegate(this);
  editTags->setCompletionHook([this](const std::string& prefix) { return tagCompletions(prefix); });
  pane.addSubview(editTags);
  editUsername = textField("Login:", [this] { updateLogin(); });
  editPassword = textField("Password:", [this] { updatePassword(); }, true);
  fnd::Rect colorRow = row("Color:");
  editColor = std::make_shared<ui::PopUpButton>(fnd::Rect(colorRow.minX(), colorRow.minY(), 140, kRowHeight));
  // Item 0 is the stored "default": no color label, as the inspector says.
  for (const char* name : kColorNames)
    editColor->addItemWithTitle(std::string_view(name) == "default" ? "None" : fnd::capitalized(name));
  editColor->setAction([this] { updateColor(); });
  pane.addSubview(editColor);
  editRating = std::make_shared<ui::LevelIndicator>(fnd::Rect(colorRow.minX() + 160, colorRow.minY() + 3, 100, 20));
  editRating->setMaxValue(5);
  editRating->setEditable(true);
  editRating->setAction([this] { updateRating(); });
  pane.addSubview(editRating);
  editFavorite = std::make_shared<ui::Button>(fnd::Rect(colorRow.minX() + 280, colorRow.minY(), 120, kRowHeight),
                                              ui::Button::Kind::Checkbox);
  editFavorite->setTitle("Favorite");
  editFavorite->setAction([this] { updateFavorite(); });
  pane.addSubview(editFavorite);
  editDone = ui::addPushButton(pane, fnd::Rect(W - 16 - 90, y, 90, kRowHeight), "Done", [this] { cancelEdit(); });
  // Beside Done: why a locked folder chosen left the bookmark in the Inbox.
  editFolderNote = std::make_shared<ui::Label>(fnd::Rect(16, y + 4, W - 16 - 90 - 32, 18), kLockedFolderNote);
  editFolderNote->setHidden(true);
  pane.addSubview(editFolderNote);
}

void MenuBookmarksController::awakeFromNib() {
  KESTO_ASSERT_MAIN_THREAD();
  view();
  auto& center = fnd::NotificationCenter::defaultCenter();
  // Nothing in the application posts it; it edits the selected bookmark, as the Edit button does.
  center.addObserver(this, [this](const fnd::Notification&) { editSelectedBookmark(); },
                     EditBookmarkMenuViewNotification);
  center.addObserver(this, [this](const fnd::Notification&) { updateView(); }, BRWUpdateMenuBookmarksViewNotification);
  center.addObserver(
      this, [this](const fnd::Notification& n) { updateRows(ViewUpdater::changedBookmarks(n)); },
      BRWUpdateBookmarkRowsNotification);
  center.addObserver(
      this,
      [this](const fnd::Notification& n) {
        if (staleWhileHidden_ && collectionView && n.object == collectionView->window()) updateView();
      },
      ui::WindowDidBecomeKeyNotification);
  center.addObserver(
      this,
      [this](const fnd::Notification& n) {
        if (showingFind_ && searchField && n.object == searchField->window()) find();
      },
      MenuBarWindowDidShowFromIcon);
  center.addObserver(this, [this](const fnd::Notification&) { openSelectedBookmarks(); },
                     BRWOpenSelectedBookmarksMenuNotification);
  searchField->setDelegate(this);
  prepareSearchMenu();
  showingFind_ = true;
  searchGoogle_ = false;
  for (const auto* b : {&kFirefox, &kChrome, &kOpera})
    browserInstalled(b->identifier) = sys::Workspace::isBrowserInstalled(b->identifier);
  disableButtons();
  resetButtonsAlpha();
  searchButton->setAlphaValue(1.0);
}

// ---- Lists ----

void MenuBookmarksController::reload() {
  if (collectionView) collectionView->reloadDataAndDeselect();
  didChangeSelection();
  if (emptyListHint) {
    const bool empty = !kestoData || kestoData->menuBookmarks().empty();
    emptyListHint->setStringValue(mode_ == ListMode::Favorites ? kEmptyFavoritesHint : kEmptyRecentHint);
    emptyListHint->setHidden(!empty || mode_ == ListMode::Search);
  }
}

void MenuBookmarksController::updateView() {
  KESTO_ASSERT_MAIN_THREAD();
  // A lock that covers the bookmark being edited ends the edit, which leaves it in its folder: its
  // values are shown no more, hidden window or not. Once the lock is done: it saves.
  if (isInEditMode_ && isLocked(lastAddedBookmark_))
    fnd::DispatchQueue::main().async(lifetime_.whileAlive([this] {
      if (isInEditMode_ && isLocked(lastAddedBookmark_)) cancelEdit();
    }));
  // A hidden list does no work: every library change would otherwise lay out its cards and read
  // their tags. It catches up when its window comes forward.
  const ui::Window* window = collectionView ? collectionView->window() : nullptr;
  staleWhileHidden_ = window && !window->isVisible();
  if (staleWhileHidden_) return;
  // Cards listed before a lock are offered no more.
  if (kestoData) std::erase_if(kestoData->menuBookmarks(), isLocked);
  reload();
  fnd::logInfo("----> menubookmarks loaded...");
}

void MenuBookmarksController::updateRows(const std::unordered_set<const void*>& changed) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!collectionView || !kestoData || changed.empty()) return;
  // Hidden, it catches up when shown, as after any other change.
  const ui::Window* window = collectionView->window();
  if (window && !window->isVisible()) {
    staleWhileHidden_ = true;
    return;
  }
  const auto& list = kestoData->menuBookmarks();
  collectionView->reloadVisibleItems([&](const IndexPath& path) {
    return path.item >= 0 && std::size_t(path.item) < list.size() && changed.count(list[std::size_t(path.item)].get()) > 0;
  });
}

void MenuBookmarksController::resetButtonsAlpha() {
  for (const auto& b : {historyWeekButton, favoritesButton, searchButton})
    if (b) b->setAlphaValue(0.5);
}

void MenuBookmarksController::showList(ListMode mode, const std::shared_ptr<ui::Button>& button) {
  if (!kestoData) return;
  showingFind_ = false;
  mode_ = mode;
  resetButtonsAlpha();
  if (mode == ListMode::Favorites) {
    kestoData->loadFavoriteBookmarksMenu();
  } else {
    kestoData->loadWeekBookmarksMenu();
  }
  reload();
  button->setAlphaValue(1.0);
  if (kestoData->menuBookmarks().empty()) disableButtons();
  else enableButtons();
  if (collectionView && collectionView->window()) collectionView->window()->makeFirstResponder(collectionView.get());
}

void MenuBookmarksController::showFavorites() {
  KESTO_ASSERT_MAIN_THREAD();
  showList(ListMode::Favorites, favoritesButton);
}

void MenuBookmarksController::showVisitedWeek() {
  KESTO_ASSERT_MAIN_THREAD();
  showList(ListMode::Recent, historyWeekButton);
}

void MenuBookmarksController::showSearch() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!kestoData) return;
  showingFind_ = true;
  mode_ = ListMode::Search;
  resetButtonsAlpha();
  kestoData->clearMenuBookmarks();
  reload();
  searchButton->setAlphaValue(1.0);
  find();
}

void MenuBookmarksController::openMainWindow() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(ShowMainKestoWindowAndDockNotification);
}

// ---- Search ----

const SearchMenuOptions& MenuBookmarksController::searchMenu() {
  static const SearchMenuOptions menu(menuSearchOptions(), "SearchMenuSet");
  return menu;
}

void MenuBookmarksController::prepareSearchMenu() {
  searchMenu().prepare(searchField.get(), [this](int tag) { toggleSearchOption(tag); });
  fnd::UserDefaults::standard().synchronize();
}

void MenuBookmarksController::validateSearchMenu() { searchMenu().validate(searchField.get()); }

void MenuBookmarksController::toggleSearchOption(int tag) {
  searchMenu().toggle(tag, searchField.get());
  search();
}

void MenuBookmarksController::find() {
  showingFind_ = true;
  if (!searchField || !searchField->window()) return;
  searchField->window()->makeFirstResponder(searchField.get());
  // The last search stays, selected: what is typed next replaces it.
  searchField->selectText();
}

std::vector<std::shared_ptr<Bookmark>> MenuBookmarksController::runSearch(const std::vector<std::string>& words,
                                                                          const MenuSearchFields& fields) {
  if (searchFunction) return searchFunction(words, fields, kSearchLimit);
  // The store's own query: every word bound as an argument, never pasted into the text.
  std::vector<std::string> clauses;
  if (fields.title) clauses.emplace_back("(title contains[cd] %@)");
  if (fields.url) clauses.emplace_back("(url contains[cd] %@)");
  if (fields.notes) clauses.emplace_back("(notes contains[cd] %@)");
  if (fields.tags) clauses.emplace_back("(ANY tags.name contains[cd] %@)");
  if (fields.folders) clauses.emplace_back("(folder.name contains[cd] %@)");
  const std::string format = "(" + fnd::join(clauses, " OR ") + ") AND (trashed == 0) AND (blocked == 0)";
  std::vector<store::PredicateRef> parts;
  for (const auto& word : words) {
    parts.push_back(store::Predicate::parse(format, fnd::Array(clauses.size(), fnd::Value(word))));
    parts.push_back(store::Predicate::parse("trashed < 1"));
  }
  kestoData->applySearchPredicateFromMenu(store::Predicate::andPredicate(std::move(parts)));
  return kestoData->menuBookmarks();
}

void MenuBookmarksController::search() {
  if (!kestoData || !searchField) return;
  validateSearchMenu();
  auto& d = fnd::UserDefaults::standard();
  MenuSearchFields fields{d.boolForKey("SearchTitleMenu"), d.boolForKey("SearchURLMenu"), d.boolForKey("SearchNotesMenu"),
                          d.boolForKey("SearchTagsMenu"), d.boolForKey("SearchFoldersMenu")};
  if (!fields.title && !fields.url && !fields.notes && !fields.tags && !fields.folders) fields.title = true;
  const std::string text = brightwren::stringByRemovingLeadingAndTrailingSpaces(searchField->stringValue());
  auto words = menuSearchWords(text);
  if (text.empty()) {
    if (showingFind_) {
      kestoData->clearMenuBookmarks();
      kestoData->resetFetchLimitAndOffset();
    }
  } else if (fnd::utf16Length(text) >= 2 && !words.empty()) {
    auto found = runSearch(words, fields);
    kestoData->menuBookmarks() = std::move(found);
  }
  reload();
  if (kestoData->menuBookmarks().empty()) {
    disableButtons();
    searchGoogle_ = true;
  } else {
    enableButtons();
  }
}

void MenuBookmarksController::settleFolderText() {
  if (!editFolder) return;
  auto matches = resultsInComboForString(editFolder->stringValue());
  if ((matches.empty() || matches.size() == folders_.size()) && !folders_.empty())
    editFolder->setStringValue(folders_.front());
  shownFolderText_ = editFolder->stringValue();
}

bool MenuBookmarksController::controlTextViewDoCommandBySelector(ui::Control& control, ui::Command selector) {
  if (&control == editFolder.get()) {
    if (selector == ui::cmd::insertTab || selector == ui::cmd::insertBacktab || selector == ui::cmd::insertNewline)
      settleFolderText();
    return false;
  }
  // The quick edit's text fields keep their keys: Tab moves on to the next field.
  if (&control != searchField.get()) return false;
  if (selector == ui::cmd::moveDown || selector == ui::cmd::insertTab || selector == ui::cmd::insertNewline) {
    if (searchGoogle_) {
      std::string text = searchField ? searchField->stringValue() : std::string();
      if (webSearchAddress && !fnd::trimWhitespace(text).empty()) sys::Workspace::openURL(webSearchAddress(text));
      return false;
    }
    fnd::DispatchQueue::main().after(focusDelay_, lifetime_.whileAlive([this] { selectBookmarksView(); }));
    return true;
  }
  if (selector == ui::cmd::cancelOperation) {
    fnd::logInfo("Cancel hit on textfield!");
    fnd::NotificationCenter::defaultCenter().postNotificationName(CloseMenubarNotification);
    return true;
  }
  return false;
}

void MenuBookmarksController::selectBookmarksView() {
  if (!collectionView || !collectionView->window()) return;
  collectionView->window()->makeFirstResponder(collectionView.get());
}

// ---- Opening ----

namespace {
// A visit: when and how often, saved with the bookmark.
void recordMenuVisit(Bookmark& b) {
  b.setLastOpened(fnd::Date::now());
  b.setTimesOpened(b.timesOpened() + 1);
  b.saveBookmark();
}
}  // namespace

void MenuBookmarksController::openSelectedBookmarks() {
  if (!kestoData) return;
  for (const auto& b : kestoData->selectedBookmarksMenu()) {
    auto url = b ? b->url() : std::nullopt;
    if (!url) continue;
    // The stored address as it stands: its escapes are the page's, nothing is replaced. Another
    // scheme is asked about as in the library window, once the click or key has been handled.
    // Only an address handed over is a visit: Cancel leaves the bookmark as it was.
    auto visited = [b] {
      if (!b->isDeleted() && b->context()) recordMenuVisit(*b);
    };
    if (sys::Workspace::policyForURL(*url) == sys::Workspace::OpenPolicy::Browser)
      openBookmarkAddress(*url, visited);
    else
      fnd::DispatchQueue::main().async([address = *url, visited] { openBookmarkAddress(address, visited); });
  }
}

void MenuBookmarksController::openSelectedBookmarkInBrowser(const std::string& browserIdentifier) {
  if (!kestoData) return;
  std::vector<std::shared_ptr<Bookmark>> opened;
  std::vector<std::string> urls;
  for (const auto& b : kestoData->selectedBookmarksMenu()) {
    auto url = b ? b->url() : std::nullopt;
    if (!url || sys::Workspace::policyForURL(*url) != sys::Workspace::OpenPolicy::Browser) continue;
    opened.push_back(b);
    urls.push_back(*url);
  }
  // Only pages handed to the browser are visits: one that did not start (removed since the window
  // looked, or its program missing) counts none, and the user hears why nothing opened.
  if (urls.empty()) return;
  if (!sys::Workspace::openURLs(urls, browserIdentifier)) {
    std::string known;
    for (const auto* b : {&kFirefox, &kChrome, &kOpera})
      if (browserIdentifier == b->identifier) known = b->title;
    tellBrowserDidNotStart(browserIdentifier, known);
    return;
  }
  for (const auto& b : opened) recordMenuVisit(*b);
}

void MenuBookmarksController::disableButtons() {
  buttonsEnabled_ = false;
  updateBrowserButtons();
}

void MenuBookmarksController::enableButtons() {
  searchGoogle_ = false;
  buttonsEnabled_ = true;
  updateBrowserButtons();
}

void MenuBookmarksController::updateBrowserButtons() {
  // A named browser opens web pages only: a selection without one leaves it nothing to do.
  bool selectionOpens = true;
  if (kestoData && !kestoData->selectedBookmarksMenu().empty()) {
    const auto& selected = kestoData->selectedBookmarksMenu();
    selectionOpens = std::any_of(selected.begin(), selected.end(), [](const auto& b) {
      auto url = b ? b->url() : std::nullopt;
      return url && sys::Workspace::policyForURL(*url) == sys::Workspace::OpenPolicy::Browser;
    });
  }
  const std::pair<std::shared_ptr<ui::Button>, const NamedBrowser*> buttons[] = {
      {firefoxButton, &kFirefox}, {chromeButton, &kChrome}, {operaButton, &kOpera}};
  for (const auto& [b, browser] : buttons)
    if (b) b->setEnabled(buttonsEnabled_ && selectionOpens && browserInstalled(browser->identifier));
}

void MenuBookmarksController::didChangeSelection() {
  if (!kestoData) return;
  auto& list = kestoData->menuBookmarks();
  std::vector<std::shared_ptr<Bookmark>> selected;
  std::set<const Bookmark*> seen;
  if (collectionView) {
    for (const auto& path : collectionView->selectedIndexes()) {
      // The list may have changed under a stale selection: out-of-range items are skipped.
      if (path.item < 0 || std::size_t(path.item) >= list.size()) continue;
      const auto& b = list[std::size_t(path.item)];
      if (b && seen.insert(b.get()).second) selected.push_back(b);
    }
  }
  kestoData->setSelectedBookmarksMenu(selected);
  if (selected.size() == 1) {
    kestoData->setCurrentBookmarkMenu(selected.front());
    kestoData->setSelectedBookmarkMenu(selected.front());
  } else if (selected.size() > 1) {
    kestoData->setCurrentBookmarksMenu(selected);
    kestoData->setCurrentBookmarkMenu(nullptr);
    kestoData->setSelectedBookmarkMenu(nullptr);
  } else {
    kestoData->setCurrentBookmarkMenu(nullptr);
    kestoData->setCurrentBookmarksMenu({});
  }
  if (editButton) editButton->setEnabled(selected.size() == 1);
  updateBrowserButtons();
}

// ---- Dragging out ----

std::vector<ui::PasteboardItem> MenuBookmarksController::draggedItems() const {
  std::vector<ui::PasteboardItem> items;
  if (!kestoData) return items;
  for (const auto& b : kestoData->selectedBookmarksMenu()) {
    if (!b) continue;
    ui::PasteboardItem item;
    item.setString("bm:" + b->uniqueIDValue().value_or(""));
    items.push_back(std::move(item));
  }
  return items;
}

bool MenuBookmarksController::collectionViewWriteItemsToPasteboard(TileCollectionView&, ui::Pasteboard& pasteboard) {
  auto items = draggedItems();
  if (items.empty()) return false;
  pasteboard.clearContents();
  return pasteboard.writeObjects(items);
}

void MenuBookmarksController::dragSelectedCards() {
  // What the list shows selected now: a drag can start before the selection was read.
  didChangeSelection();
  if (!collectionView || !collectionViewWriteItemsToPasteboard(*collectionView, ui::Pasteboard::drag())) return;
  ui::beginDraggingSession(*collectionView, draggedItems(), ui::Image::named("drag_thumbnail"), fnd::Point{32, 24},
                           ui::DragOperation::Copy | ui::DragOperation::Generic);
}

// ---- Collection view ----

std::uint64_t MenuBookmarksController::collectionViewNumberOfItemsInSection(TileCollectionView&, std::int64_t) {
  return kestoData ? kestoData->menuBookmarks().size() : 0;
}

std::shared_ptr<ui::View> MenuBookmarksController::collectionViewCellForItemAtIndexPath(TileCollectionView& view,
                                                                                       const IndexPath& indexPath) {
  auto cell = std::dynamic_pointer_cast<MenuBookmarkCard>(view.dequeueReusableCellWithIdentifier(kReuseIdentifier));
  if (!cell || !kestoData) return cell;
  auto& list = kestoData->menuBookmarks();
  if (indexPath.item < 0 || std::size_t(indexPath.item) >= list.size()) return cell;
  const auto& b = list[std::size_t(indexPath.item)];
  if (!b) return cell;
  cell->title = b->title().value_or(std::string());
  cell->address = b->baseURL().value_or(b->url().value_or(std::string()));
  if (auto added = b->addedDate()) {
    static const fnd::DateFormatter formatter = fnd::DateFormatter::fixed("MMMM dd, yyyy", fnd::TimeZone::local());
    cell->date = formatter.stringFromDate(*added);
  }
  cell->note = b->notes().value_or(std::string());
  cell->tags = b->tagsAsString();
  if (b->thumbnailManuallySet() > 0) {
    if (auto data = b->thumbnail()) cell->thumbnail->setImage(ui::Image::fromData(*data));
  } else if (auto url = b->url()) {
    if (auto thumb = net::URL::fromString(Bookmark::thumbnailRequestURL(*url, "l", 60))) cell->thumbnail->setImageURL(*thumb);
  }
  cell->setNeedsDisplay();
  return cell;
}

void MenuBookmarksController::collectionViewDidSelectItemAtIndexPath(TileCollectionView&, const IndexPath&) {
  didChangeSelection();
}

void MenuBookmarksController::collectionViewDidDeselectItemAtIndexPath(TileCollectionView&, const IndexPath&) {
  didChangeSelection();
}

bool MenuBookmarksController::collectionViewShouldDeselectItemAtIndexPath(TileCollectionView& view, const IndexPath&) {
  auto* cards = dynamic_cast<MenuCollectionView*>(&view);
  return !(cards && cards->holdsSelection());
}

void MenuBookmarksController::collectionViewDidDoubleClickItemAtIndexPath(TileCollectionView&,
                                                                         const std::optional<IndexPath>& indexPath) {
  if (!indexPath) return;
  didChangeSelection();
  openSelectedBookmarks();
}

fnd::Size MenuBookmarksController::sizeForItemInCollectionView(TileCollectionView& view) {
  // The width beside the scroller, so the cards' right ends stay in sight.
  double width = view.visibleSize().width > 0 ? view.visibleSize().width : view.bounds().size.width;
  return menuCardSize(width);
}

// ---- Quick edit ----

std::string MenuBookmarksController::colorNameForIndex(int index) {
  return index >= 0 && index < int(std::size(kColorNames)) ? kColorNames[index] : "";
}

int MenuBookmarksController::indexForColorName(const std::string& name) {
  for (int i = 0; i < int(std::size(kColorNames)); ++i)
    if (name == kColorNames[i]) return i;
  return 0;
}

void MenuBookmarksController::prepareFolders() {
  folders_.clear();
  filteredFolders_.clear();
  foldersDictionary_.clear();
  if (!kestoData) return;
  for (const auto& folder : kestoData->folders()) {
    if (!folder || folder->name().empty()) continue;
    std::string path = folder->completeFolderPath();
    folders_.push_back(path);
    foldersDictionary_[path] = folder;
  }
  if (editFolder) {
    editFolder->removeAllItems();
    editFolder->addItemsWithObjectValues(folders_);
  }
}

void MenuBookmarksController::editSelectedBookmark() {
  if (!kestoData || kestoData->selectedBookmarksMenu().size() != 1) return;
  showEdit(kestoData->selectedBookmarksMenu().front());
}

void MenuBookmarksController::showEdit(const std::shared_ptr<Bookmark>& bookmark) {
  // A locked bookmark shows nothing of itself, here neither.
  if (isLocked(bookmark)) return;
  view();
  prepareFolders();
  lastAddedBookmark_ = bookmark;
  isInEditMode_ = true;
  listPane->setHidden(true);
  editPane->setHidden(false);
  editFolderNote->setHidden(true);
  if (!bookmark) return;
  // The bookmark's own values, so that touching one field never blanks the others.
  editURL->setStringValue(bookmark->url().value_or(""));
  editTitle->setStringValue(bookmark->title().value_or(""));
  // Where Done files it unless a folder is chosen from the list.
  auto target = folderForDone();
  if (!target) target = Folder::existingFolderWithFolderID(Folder::kInboxID);
  shownFolderText_ = target ? target->completeFolderPath() : "";
  editFolder->setStringValue(shownFolderText_);
  editNotes->setStringValue(bookmark->notes().value_or(""));
  std::vector<std::string> names;
  for (const auto& t : bookmark->tags())
    if (t) names.push_back(t->name());
  editTags->setTokens(names);
  editUsername->setStringValue(bookmark->login().value_or(""));
  auto password = Base64::decodeToString(bookmark->password().value_or(""));
  editPassword->setStringValue(password.value_or(""));
  editRating->setDoubleValue(bookmark->rating().value_or(0));
  editColor->selectItemAtIndex(indexForColorName(bookmark->color().value_or("default")));
  editFavorite->setState(bookmark->isFavorite() >= 1 ? 1 : 0);
  if (editTitle->window()) editTitle->window()->makeFirstResponder(editTitle.get());
}

void MenuBookmarksController::saveEdited() {
  lastAddedBookmark_->saveBookmark();
  ViewUpdater::updateSourceLists();
}

void MenuBookmarksController::editLastAdded(const std::function<void(Bookmark&)>& edit) {
  if (!lastAddedBookmark_) return;
  edit(*lastAddedBookmark_);
  saveEdited();
}

void MenuBookmarksController::cancelEdit() {
  if (lastAddedBookmark_) {
    // Done while a field is still being edited keeps what was typed there (a click on a button
    // takes no focus, so no field hears that it was left).
    for (const auto& f : {editURL, editTitle, editNotes, editUsername, editPassword})
      if (f) commitEditedField(*f);
    if (editTags) {
      editTags->tokenizePendingText();
      commitEditedField(*editTags);
    }
    auto target = folderForDone();
    // Without a choice the library's current folder stands as the choice, kept for later edits.
    if (!hasChosenFolder() && kestoData) selectedFolder_ = kestoData->currentFolder();
    fileLastAdded(target ? target : Folder::inboxFolder());
    saveEdited();
  }
  isInEditMode_ = false;
  if (editPane) editPane->setHidden(true);
  if (listPane) listPane->setHidden(false);
  lastAddedBookmark_.reset();
  reload();
  if (collectionView && collectionView->window()) collectionView->window()->makeFirstResponder(collectionView.get());
}

void MenuBookmarksController::commitEditedField(ui::Control& control) {
  if (!lastAddedBookmark_) return;
  const Bookmark& b = *lastAddedBookmark_;
  if (editTags && &control == editTags.get()) {
    // Leaving the tags as they are is no edit: unused tags are only purged by a change.
    auto typed = editTags->tokens();
    std::sort(typed.begin(), typed.end());
    typed.erase(std::unique(typed.begin(), typed.end()), typed.end());
    if (typed != b.sortedTagNames()) updateTags();
    return;
  }
  if (editFolder && &control == editFolder.get()) {
    // Typed folder text is settled as Tab settles it; text left as shown changes nothing.
    if (editFolder->stringValue() != shownFolderText_) settleFolderText();
    return;
  }
  // Compared in the form the store keeps: a text it cleans is no change.
  const auto differs = [&](const std::shared_ptr<ui::TextField>& field, const std::optional<std::string>& value,
                           std::string (*storedForm)(std::string_view)) {
    if (field.get() != &control) return false;
    const std::string text = field->stringValue();
    return (storedForm ? storedForm(text) : text) != value.value_or("");
  };
  // Only a changed text is saved: leaving a field untouched must not settle a fetched title.
  if (differs(editTitle, b.title(), stored::title)) updateTitle();
  else if (differs(editURL, b.url(), stored::address)) updateURL();
  else if (differs(editNotes, b.notes(), stored::note)) updateNotes();
  else if (differs(editUsername, b.login(), nullptr)) updateLogin();
  else if (differs(editPassword, Base64::decodeToString(b.password().value_or("")), nullptr)) updatePassword();
}

void MenuBookmarksController::controlTextDidEndEditing(ui::Control& control) { commitEditedField(control); }

std::vector<std::string> MenuBookmarksController::foldersContaining(const std::string& text) const {
  std::vector<std::string> found;
  auto match = store::Predicate::parse("self contains[cd] %@", {fnd::Value(text)});
  if (!match) return found;  // a filter that does not parse finds nothing
  for (const auto& path : folders_)
    if (match->evaluate(fnd::Value(path))) found.push_back(path);
  return found;
}

std::vector<std::string> MenuBookmarksController::resultsInComboForString(const std::string& text) {
  if (!text.empty() && text != " ") {
    filteredFolders_ = foldersContaining(text);
  } else {
    filteredFolders_ = folders_;
    if (editFolder && editFolder->isExpanded()) editFolder->setExpanded(false);
  }
  if (editFolder) {
    editFolder->removeAllItems();
    editFolder->addItemsWithObjectValues(filteredFolders_);
  }
  return filteredFolders_;
}

std::string MenuBookmarksController::comboBoxCompletedString(const std::string& text) {
  const bool any = !text.empty() && !foldersContaining(text).empty();
  if (editFolder) {
    if (any && !editFolder->isExpanded()) editFolder->setExpanded(true);
    else if (!any && editFolder->isExpanded()) editFolder->setExpanded(false);
  }
  // No inline completion: the list shows the candidates.
  return std::string();
}

void MenuBookmarksController::controlTextDidChange(ui::Control& control) {
  if (&control != editFolder.get()) return;
  const std::string text = editFolder->stringValue();
  resultsInComboForString(text);
  comboBoxCompletedString(text);
}

void MenuBookmarksController::comboBoxSelectionDidChange(int index) {
  if (!editFolder) return;
  const auto paths = editFolder->objectValues();
  if (index < 0 || std::size_t(index) >= paths.size()) return;
  auto it = foldersDictionary_.find(paths[std::size_t(index)]);
  if (it == foldersDictionary_.end()) return;
  selectedFolder_ = it->second;
  shownFolderText_ = it->first;
  // A locked folder takes nothing in while it shows nothing, at no step of the edit (Escape or
  // quitting may end it without Done): the Inbox stands in, the box shows it and the edit says why.
  const bool locked = selectedFolder_->blocked() > 0;
  const auto target = locked ? Folder::inboxFolder() : selectedFolder_;
  if (locked) {
    shownFolderText_ = target->completeFolderPath();
    editFolder->setStringValue(shownFolderText_);
  }
  if (editFolderNote) editFolderNote->setHidden(!locked);
  if (!lastAddedBookmark_) return;
  fileLastAdded(target);
  saveEdited();
}

bool MenuBookmarksController::isLocked(const std::shared_ptr<Bookmark>& bookmark) {
  return bookmark && bookmark->blocked() > 0;
}

void MenuBookmarksController::fileLastAdded(const std::shared_ptr<Folder>& folder) {
  // A lock that came during the edit covers the bookmark where it found it: taken out, it would be
  // locked in a folder that is not, seen by nobody.
  if (!lastAddedBookmark_ || isLocked(lastAddedBookmark_)) return;
  lastAddedBookmark_->setFolder(folder);
}

bool MenuBookmarksController::hasChosenFolder() const {
  if (!kestoData || !selectedFolder_) return false;
  // A folder chosen in an earlier edit may have gone since: it is no choice any more.
  const auto& all = kestoData->allFolders();
  return std::find(all.begin(), all.end(), selectedFolder_) != all.end();
}

std::shared_ptr<Folder> MenuBookmarksController::folderForDone() const {
  if (!kestoData) return nullptr;
  // A folder chosen from the list is taken whatever its kind (the Imported row, a smart folder),
  // as a drop on its row files a bookmark there.
  const auto& folder = hasChosenFolder() ? selectedFolder_ : kestoData->currentFolder();
  // No folder to file into (the Library, Inbox, Imported and service rows, the tags, a History
  // list), or a locked one, which takes nothing in while it shows nothing: the Inbox.
  if (!folder || folder->blocked() > 0) return nullptr;
  return folder;
}

void MenuBookmarksController::updateURL() {
  editLastAdded([&](Bookmark& b) { b.setUrl(editURL->stringValue()); });
}

void MenuBookmarksController::updateTitle() {
  editLastAdded([&](Bookmark& b) { b.setTitleFromUser(editTitle->stringValue()); });
}

void MenuBookmarksController::updateNotes() {
  editLastAdded([&](Bookmark& b) { b.setNotes(editNotes->stringValue()); });
}

void MenuBookmarksController::updateLogin() {
  editLastAdded([&](Bookmark& b) { b.setLogin(editUsername->stringValue()); });
}

void MenuBookmarksController::updatePassword() {
  editLastAdded([&](Bookmark& b) { b.setPassword(Base64::encodeString(editPassword->stringValue())); });
}

void MenuBookmarksController::updateColor() {
  editLastAdded([&](Bookmark& b) { b.setColor(colorNameForIndex(editColor->indexOfSelectedItem())); });
}

void MenuBookmarksController::updateRating() {
  editLastAdded([&](Bookmark& b) { b.setRating(editRating->doubleValue()); });
}

void MenuBookmarksController::updateFavorite() {
  if (!lastAddedBookmark_) return;
  lastAddedBookmark_->setIsFavorite(lastAddedBookmark_->isFavorite() >= 1 ? 0 : 1);
  saveEdited();
  editFavorite->setState(lastAddedBookmark_->isFavorite() >= 1 ? 1 : 0);
}

void MenuBookmarksController::updateTags() {
  if (!lastAddedBookmark_ || !editTags) return;
  const auto collected = Tag::tagsNamed(editTags->tokens());
  for (const auto& old : lastAddedBookmark_->tags()) lastAddedBookmark_->removeTag(old);
  for (const auto& t : collected) lastAddedBookmark_->addTag(t);
  auto unused = Tag::orphanedTags();
  if (!unused.empty()) Tag::deleteEntities(unused);
  lastAddedBookmark_->saveBookmark();
  if (!unused.empty() && kestoData) kestoData->currentlySelectedTags().clear();
  Tag::saveContext();
  ViewUpdater::updateSourceLists();
}

std::vector<std::string> MenuBookmarksController::tagCompletions(const std::string& prefix) const {
  std::vector<std::string> names;
  auto tags = Tag::fetchEntitiesWithPredicate(store::Predicate::parse("name beginswith[cd] %@", {fnd::Value(prefix)}));
  for (const auto& t : tags.value_or(Tag::List{}))
    if (t) names.push_back(t->name());
  return names;
}

}  // namespace kesto
