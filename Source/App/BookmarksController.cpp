#include "App/BookmarksController.h"

#include "App/AppNotifications.h"
#include "App/PaneControllers.h"
#include "App/PreferencesController.h"
#include "App/TilePinView.h"
#include "App/WebContentUpdater.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Net/URL.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Predicate.h"
#include "Platform/System/Workspace.h"
#include "Sidebar/SidebarNotifications.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/ClipView.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/SearchField.h"
#include "Views/ImageBox.h"
#include "Views/LinkLabel.h"
#include "Views/PushButton.h"
#include "Views/TextLabel.h"
#include "Views/WebImageView.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

namespace {

constexpr const char* kCompactKey = "BoomarksCompactView";
constexpr const char* kListKey = "BoomarksListView";
constexpr const char* kReuseIdentifier = "pinView";
enum Mode { Grid = 0, Extended = 1, Compact = 2 };

}  // namespace

BookmarksController::BookmarksController() { KESTO_ASSERT_MAIN_THREAD(); }

BookmarksController::~BookmarksController() {
  lifetime_.end();
  if (previewPanel_) endPreviewPanelControl(*previewPanel_);
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  if (views_.collectionView) {
    if (views_.collectionView->dataSource() == this) views_.collectionView->setDataSource(nullptr);
    if (views_.collectionView->delegate() == this) views_.collectionView->setDelegate(nullptr);
    if (auto* grid = dynamic_cast<TileCollectionViewGridLayout*>(views_.collectionView->collectionViewLayout().get()))
      grid->setDelegate(nullptr);
  }
}

void BookmarksController::wire(BookmarksControllerWiring wiring) {
  kestoData_ = wiring.data;
  kestoPreferences_ = wiring.preferences;
  tutorials_ = wiring.tutorials;
  quickLookPanel_ = std::move(wiring.quickLookPanel);
  views_ = std::move(wiring.views);
}

void BookmarksController::awakeFromNib() {
  KESTO_ASSERT_MAIN_THREAD();
  auto& center = fnd::NotificationCenter::defaultCenter();
  auto on = [&](fnd::NotificationName name, std::function<void()> fn) {
    center.addObserver(this, [fn = std::move(fn)](const fnd::Notification&) { fn(); }, name);
  };
  center.addObserver(
      this,
      [this](const fnd::Notification& n) {
        auto change = ViewUpdater::rowChange(n);
        updateView(change ? &*change : nullptr);
      },
      BRWUpdateBookmarksViewNotification);
  on(BRWUpdateBookmarksAndResetViewNotification, [this] { updateViewAndResetBookmarks(); });
  center.addObserver(
      this, [this](const fnd::Notification& n) { updateRows(ViewUpdater::changedBookmarks(n)); },
      BRWUpdateBookmarkRowsNotification);
  on(HideMoreBookmarksButtonNotification, [this] { hideMoreBookmarksButton(); });
  on(ClearSearchField, [this] { clearSearchField(); });
  on(CreateDefaultBookmarks, [this] { initializeEmptyLibrary(); });
  on(PreferencesController::kUpdateBrowserButtonNotification, [this] { updateBrowserButton(); });
  on(HideNoBookmarksLabelNotification, [this] { hideNoBookmarksLabel(); });
  observeEditCommands();
  webContentUpdater();  // observes the page-fetch results and the missing-image requests

  auto& defaults = fnd::UserDefaults::standard();
  isThumbnailView_ = defaults.boolForKey(kCompactKey);
  isListView_ = defaults.boolForKey(kListKey);
  if (isThumbnailView_) selectThumbnailView();
  else if (isListView_) selectListView();
  else selectExtendedView();

  fixIsUpdatingBookmarks();
  if (views_.folderSearchOnlyButton) views_.folderSearchOnlyButton->setHidden(true);
  prepareSharingServices();
  prepareToolbar();
  updateBrowserButton();
  prepareTileCollectionView();
  disableToolbarButtons();
}

// ---- modes ----

void BookmarksController::selectThumbnailView() { chooseMode(Grid); }
void BookmarksController::selectExtendedView() { chooseMode(Extended); }
void BookmarksController::selectListView() { chooseMode(Compact); }

void BookmarksController::chooseMode(int mode) {
  isThumbnailView_ = mode == Grid;
  isExtendedView_ = mode == Extended;
  isListView_ = mode == Compact;
  if (views_.thumbnailViewButton)
    views_.thumbnailViewButton->setImageNamed(mode == Grid ? "thumbnail_view_selected" : "thumbnail_view");
  if (views_.listViewButton)
    views_.listViewButton->setImageNamed(mode == Extended ? "list_view_selected" : "list_view");
  if (views_.textOnlyListViewButton)
    views_.textOnlyListViewButton->setImageNamed(mode == Compact ? "new_list_selected" : "new_list");
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(mode == Grid, kCompactKey);
  defaults.setBool(mode == Compact, kListKey);
  defaults.synchronize();
  prepareTileCollectionView();
  switchedCompactOrThumbnailView_ = true;
  updateView();
}

std::string BookmarksController::cellNibName() const {
  if (isThumbnailView_) return "TileCompactPinView";
  if (isListView_) return "TileListView";
  return "TilePinView";
}

void BookmarksController::prepareTileCollectionView() {
  if (!views_.collectionView) return;
  auto layout = std::make_shared<TileCollectionViewGridLayout>();
  layout->setDelegate(this);
  layout->setItemPaddingEnabled(true);
  layout->setVerticalSpacing(2.0);
  views_.collectionView->setCollectionViewLayout(layout);
  views_.collectionView->setDataSource(this);
  views_.collectionView->setDelegate(this);
  views_.collectionView->setAnimatesSelection(true);
  views_.collectionView->setBackgroundColor(ui::Color::white(0.5, 1.0));
  views_.collectionView->setDrawsBackground(false);
  // The desktop's scroller is drawn, not overlaid and hidden: it stands beside the items, so the
  // last column never runs under it.
  views_.collectionView->setScrollerStyle(ui::ScrollerStyle::Legacy);
  views_.collectionView->registerNib(std::make_shared<ui::Nib>(cellNibName()), kReuseIdentifier);
  if (!observingScroll_ && views_.collectionView->contentView()) {
    observingScroll_ = true;
    views_.collectionView->contentView()->addBoundsObserver(lifetime_.whileAlive([this] { collectionViewScrolled(); }));
  }
}

namespace {
// The scroller's width and a small margin.
constexpr float kNarrowListAllowance = 24.0f;
}  // namespace

fnd::Size BookmarksController::tilePinViewSize(double collectionViewWidth, bool extended) {
  // Single precision, with the ratio as both threshold and divisor, as the list always sized.
  float itemWidth = extended ? 520.0f : 540.0f;
  const float height = extended ? 315.0f : 100.0f;
  const float w = static_cast<float>(collectionViewWidth);
  const float ratio = w / itemWidth;
  const float columns = static_cast<float>(static_cast<long>(ratio));
  const float spare = w - itemWidth * columns;
  // Narrower than one item there is no row to fill: widening by the spare width over a ratio
  // below 1 would make the item wider than the list itself. The one column narrows to the list
  // instead, leaving room for the scroller, so no cell is cut off at the right.
  if (columns < 1) return fnd::Size{std::max(1.0f, w - kNarrowListAllowance), height};
  if (spare > ratio) itemWidth = itemWidth + spare / ratio;
  return fnd::Size{itemWidth, height};
}

fnd::Size BookmarksController::sizeForItemInCollectionView(TileCollectionView& view) {
  if (isThumbnailView_) return fnd::Size{250, 310};
  // The width beside the scroller, which the layout fills.
  return tilePinViewSize(view.visibleSize().width, isExtendedView_);
}

// ---- data source ----

std::shared_ptr<Bookmark> BookmarksController::bookmarkAtIndexPath(const IndexPath& indexPath) const {
  if (!kestoData_) return nullptr;
  const auto& list = kestoData_->bookmarks();
  // An empty list has no bookmark at any position (and nothing to take a remainder of).
  if (list.empty() || indexPath.item < 0) return nullptr;
  return list[static_cast<std::size_t>(indexPath.item) % list.size()];
}

std::uint64_t BookmarksController::collectionViewNumberOfItemsInSection(TileCollectionView&, std::int64_t) {
  std::size_t n = kestoData_ ? kestoData_->bookmarks().size() : 0;
  if (views_.noBookmarksLabel) views_.noBookmarksLabel->setHidden(n != 0 || keepNoBookmarksLabelHidden_);
  keepNoBookmarksLabelHidden_ = false;
  // A first screen shown while the library is read is no count: the label waits for the list.
  if (views_.numberOfBookmarksLabel)
    views_.numberOfBookmarksLabel->setStringValue(kestoData_ && kestoData_->isReadingLibrary()
                                                      ? std::string()
                                                      : std::to_string(n) + (n == 1 ? " bookmark" : " bookmarks"));
  return n;
}

void BookmarksController::collectionViewWillShowItemsAtIndexPaths(TileCollectionView&,
                                                                  const std::vector<IndexPath>& indexPaths) {
  // Asked one by one, the store would read the tags and services of the whole library after a
  // few cells.
  Bookmark::List coming;
  coming.reserve(indexPaths.size());
  for (const auto& p : indexPaths)
    if (auto b = bookmarkAtIndexPath(p)) coming.push_back(std::move(b));
  Bookmark::loadTagsAndServices(coming);
}

std::shared_ptr<ui::View> BookmarksController::collectionViewCellForItemAtIndexPath(TileCollectionView& view,
                                                                                   const IndexPath& indexPath) {
  auto base = view.dequeueReusableCellWithIdentifier(kReuseIdentifier);
  auto cell = std::dynamic_pointer_cast<TilePinView>(base);
  auto bookmark = bookmarkAtIndexPath(indexPath);
  // Before anything else: a tip beside the row this cell showed goes when it shows another.
  if (cell) cell->setRepresentedObject(bookmark);
  if (!cell || !bookmark) return base;
  cell->delegate = this;
  cell->setTutorials(tutorials_);
  if (cell->thumbnail) {
    if (bookmark->thumbnailManuallySet() > 0) {
      cell->thumbnail->cancelWebImageLoad();
      auto data = bookmark->thumbnail();
      cell->thumbnail->setImage(data ? ui::Image::fromData(*data) : ui::Image());
    } else if (auto address = bookmark->url()) {
      // The same address the background update clears from the cache before a fetch.
      if (auto url = net::URL::fromString(Bookmark::thumbnailRequestURL(*address, "l", 120)))
        cell->thumbnail->setImageURL(*url);
    }
  }
  if (cell->broken) cell->broken->setImageNamed(bookmark->broken() ? "bookmark_warning" : "");
  if (cell->favicon) {
    auto icon = bookmark->favicon();
    cell->favicon->setImage(icon ? ui::Image::fromData(*icon) : ui::Image());
  }
  if (cell->title) cell->title->setStringValue(bookmark->title().value_or(""));
  cell->setRatingValue(static_cast<int>(bookmark->rating().value_or(0)));
  if (cell->favorite && bookmark->isFavorite() > 0) cell->favorite->setImageNamed("bookmark_favorite_selected");
  if (cell->pinboard && bookmark->isPinboard()) cell->pinboard->setImageNamed("pinboard");
  if (cell->delicious && bookmark->isDelicious()) cell->delicious->setImageNamed("delicious");
  if (cell->date) {
    // One formatter for every cell: building one per cell dominates a refresh.
    static const fnd::DateFormatter formatter = fnd::DateFormatter::fixed("MMMM dd, yyyy", fnd::TimeZone::local());
    static const fnd::DateFormatter shortFormatter = fnd::DateFormatter::styled(
        fnd::DateFormatterStyle::Short, fnd::DateFormatterStyle::None, fnd::TimeZone::local());
    auto updated = bookmark->updatedDate();
    cell->date->setStringValue(updated ? formatter.stringFromDate(*updated) : "");
    // A narrow tile gets the short form whole rather than the long one cut off.
    if (updated) cell->date->setShortStringValue(shortFormatter.stringFromDate(*updated));
  }
  if (cell->note) {
    auto notes = bookmark->notes();
    if (notes && !notes->empty()) cell->note->setStringValue(*notes);
  }
  cell->setTagNames(bookmark->sortedTagNames());
  if (cell->url) cell->url->setStringValue(bookmark->baseURL().value_or(""));
  if (cell->color) cell->color->setImageNamed(bookmark->currentColorImage().value_or(""));
  return cell;
}

// ---- refresh ----

void BookmarksController::collectionViewScrolled() {
  if (shouldUpdateScrollPosition_ && views_.collectionView && views_.collectionView->contentView())
    currentlyVisibleRect_ = views_.collectionView->contentView()->documentVisibleRect();
}

std::vector<IndexPath> BookmarksController::indexPathsOfBookmarks(
    const std::vector<std::shared_ptr<Bookmark>>& bookmarks) const {
  std::vector<IndexPath> paths;
  if (!kestoData_ || bookmarks.empty()) return paths;
  std::unordered_map<const Bookmark*, std::int64_t> position;
  const auto& list = kestoData_->bookmarks();
  for (std::size_t i = 0; i < list.size(); ++i) position.emplace(list[i].get(), static_cast<std::int64_t>(i));
  for (const auto& b : bookmarks) {
    auto it = position.find(b.get());
    if (it != position.end()) paths.push_back(IndexPath::forItem(it->second, 0));
  }
  return paths;
}

void BookmarksController::updateView(const ViewUpdater::RowChange* change) {
  KESTO_ASSERT_MAIN_THREAD();
  if (searchResultsKeeper_ && searchResultsKeeper_()) {
    // The same results again, not the list whose refresh this was: drawn whole, and what was
    // selected in them stays selected.
    change = nullptr;
    shouldResetBookmarksView_ = false;
  }
  shouldUpdateScrollPosition_ = shouldResetBookmarksView_;
  if (views_.collectionView && kestoData_) {
    if (!shouldResetBookmarksView_ && change && views_.collectionView->itemsChanged(change->removed, change->inserted)) {
      // The cells and the highlight moved with their bookmarks and the list kept its place. A
      // selected bookmark that changed left and came back: it is highlighted where it came.
      auto selected = kestoData_->selectedBookmarks();
      auto paths = views_.collectionView->selectedIndexes();
      if (!selected.empty()) {
        std::unordered_set<const Bookmark*> wanted;
        for (const auto& b : selected) wanted.insert(b.get());
        const auto& list = kestoData_->bookmarks();
        std::vector<IndexPath> back;
        for (auto i : change->inserted)
          if (i >= 0 && static_cast<std::size_t>(i) < list.size() && wanted.count(list[static_cast<std::size_t>(i)].get()))
            back.push_back(IndexPath::forItem(i, 0));
        restoringSelection_ = true;
        views_.collectionView->selectItemsAtIndexPaths(back, false);
        restoringSelection_ = false;
        paths.insert(paths.end(), back.begin(), back.end());
      }
      if (paths.size() != selected.size()) {
        selected.clear();
        for (const auto& p : paths) selected.push_back(bookmarkAtIndexPath(p));
        kestoData_->setSelectedBookmarks(selected);
      }
      forgetUnselectedInInspector(selected);
      lastSelectedIndexPaths_ = paths;
    } else if (shouldResetBookmarksView_) {
      views_.collectionView->reloadDataAndDeselect();
      lastSelectedIndexPaths_.clear();
      kestoData_->setSelectedBookmarks({});
      views_.collectionView->deselectAllItems();
      ViewUpdater::clearInspector();
    } else {
      // The highlight follows the selected bookmarks, not their old positions: after a re-sort
      // or a removal the cells shown selected are the bookmarks the actions will act on. The
      // old positions are dropped with the reload, and putting the highlight back is no new
      // selection by the user.
      views_.collectionView->reloadDataAndDeselect();
      auto selected = kestoData_->selectedBookmarks();
      auto paths = indexPathsOfBookmarks(selected);
      // An empty list is a reload under way (the data manager empties the list, refreshes, then
      // fills it again): the selection waits for the filled list instead of being dropped.
      if (paths.size() != selected.size() && !kestoData_->bookmarks().empty()) {
        selected.clear();
        for (const auto& p : paths) selected.push_back(bookmarkAtIndexPath(p));
        kestoData_->setSelectedBookmarks(selected);
      }
      if (selected.empty() || !kestoData_->bookmarks().empty()) forgetUnselectedInInspector(selected);
      lastSelectedIndexPaths_ = paths;
      restoringSelection_ = true;
      views_.collectionView->selectItemsAtIndexPaths(paths, false);
      restoringSelection_ = false;
      if (!paths.empty()) views_.collectionView->scrollToItemAtIndexPath(paths.front(), 1, false);
      if (!switchedCompactOrThumbnailView_) views_.collectionView->scrollToCurrentRect(currentlyVisibleRect_);
    }
  }
  shouldUpdateScrollPosition_ = true;
  shouldDeselect_ = true;
  switchedCompactOrThumbnailView_ = false;
  shouldResetBookmarksView_ = false;
  changedSelection_ = false;
  // A bookmark deleted or edited is not previewed as it was.
  if (previewPanel_ && previewPanel_->isVisible()) previewPanel_->reloadData();
}

void BookmarksController::updateRows(const std::unordered_set<const void*>& changed) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!views_.collectionView || changed.empty()) return;
  views_.collectionView->reloadVisibleItems(
      [&](const IndexPath& path) { return changed.count(bookmarkAtIndexPath(path).get()) > 0; });
  if (previewPanel_ && previewPanel_->isVisible()) previewPanel_->reloadData();
}

void BookmarksController::forgetUnselectedInInspector(const std::vector<std::shared_ptr<Bookmark>>& selected) {
  // The inspector shows only bookmarks still selected in the list: one deleted, trashed, emptied
  // from the trash or no longer listed leaves it.
  auto isSelected = [&](const std::shared_ptr<Bookmark>& b) {
    return b && std::find(selected.begin(), selected.end(), b) != selected.end();
  };
  bool changed = false;
  if (kestoData_->currentBookmark() && !isSelected(kestoData_->currentBookmark())) {
    kestoData_->setCurrentBookmark(nullptr);
    changed = true;
  }
  if (kestoData_->selectedBookmark() && !isSelected(kestoData_->selectedBookmark()))
    kestoData_->setSelectedBookmark(nullptr);
  auto bulk = kestoData_->currentBookmarks();
  const auto before = bulk.size();
  bulk.erase(std::remove_if(bulk.begin(), bulk.end(), [&](const auto& b) { return !isSelected(b); }), bulk.end());
  if (bulk.size() != before) {
    kestoData_->setCurrentBookmarks(bulk);
    changed = true;
  }
  if (!changed) return;
  ViewUpdater::updateInspector();
  if (!kestoData_->currentBookmark() && kestoData_->currentBookmarks().empty()) disableToolbarButtons();
}

void BookmarksController::updateViewAndResetBookmarks() {
  shouldResetBookmarksView_ = true;
  updateView();
}

// ---- selection ----

void BookmarksController::scheduleDidChangeSelection() {
  // Select All tells each item: one pass over the finished selection, not one per item.
  if (selectionChangePending_) return;
  selectionChangePending_ = true;
  fnd::DispatchQueue::main().after(selectionDelay_, lifetime_.whileAlive([this] {
    selectionChangePending_ = false;
    didChangeSelection();
  }));
}

unsigned BookmarksController::implementedDelegateMethods() const {
  return MouseDownInItem | DidSelectItem | ShouldDeselectItem | DidRightClickItem;
}

void BookmarksController::collectionViewMouseDownInItemAtIndexPath(TileCollectionView&,
                                                                   const std::optional<IndexPath>&) {
  scheduleDidChangeSelection();
}

void BookmarksController::collectionViewDidSelectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) {
  if (restoringSelection_) return;
  auto cell = view.cellForItemAtIndexPath(indexPath);
  if (cell && cell->isSelected() && modifierPressed_) shouldDeselect_ = true;
  scheduleDidChangeSelection();
}

bool BookmarksController::collectionViewShouldDeselectItemAtIndexPath(TileCollectionView&, const IndexPath&) {
  return shouldDeselect_ || restoringSelection_;
}

void BookmarksController::collectionViewDidRightClickItemAtIndexPath(TileCollectionView&,
                                                                     const std::optional<IndexPath>& indexPath) {
  // A right click outside the selection acts on the bookmark clicked, as the menu then says.
  if (indexPath && kestoData_) {
    auto clicked = bookmarkAtIndexPath(*indexPath);
    const auto& selected = kestoData_->selectedBookmarks();
    if (clicked && std::find(selected.begin(), selected.end(), clicked) == selected.end()) {
      views_.collectionView->deselectAllItems();
      views_.collectionView->selectItemsAtIndexPaths({*indexPath}, false);
      didChangeSelection();
    }
  }
  openBookmarkMenu(views_.collectionView ? views_.collectionView->currentRightClick() : nullptr);
}

std::vector<std::shared_ptr<Bookmark>> BookmarksController::currentlySelectedBookmarks() const {
  std::vector<std::shared_ptr<Bookmark>> out;
  if (!views_.collectionView) return out;
  std::unordered_set<const Bookmark*> seen;
  for (const auto& p : views_.collectionView->indexPathsForSelectedItems()) {
    auto b = bookmarkAtIndexPath(p);
    if (b && seen.insert(b.get()).second) out.push_back(b);
  }
  return out;
}

void BookmarksController::didChangeSelection() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!kestoData_ || !views_.collectionView) return;
  changedSelection_ = true;
  lastSelectedIndexPaths_ = views_.collectionView->indexPathsForSelectedItems();
  auto selected = currentlySelectedBookmarks();
  kestoData_->setSelectedBookmarks(selected);
  if (selected.size() == 1) {
    selectedBookmark_ = selected.back();
    kestoData_->setCurrentBookmark(selectedBookmark_);
    kestoData_->setSelectedBookmark(selectedBookmark_);
    ViewUpdater::updateInspector();
    enableToolbarButtons();
  } else if (selected.size() > 1) {
    kestoData_->setCurrentBookmarks(selected);
    kestoData_->setCurrentBookmark(nullptr);
    kestoData_->setSelectedBookmark(nullptr);
    ViewUpdater::updateInspector();
    enableToolbarButtonsMultiSelection();
  } else {
    kestoData_->setCurrentBookmark(nullptr);
    kestoData_->setCurrentBookmarks({});
    ViewUpdater::updateInspector();
    disableToolbarButtons();
  }
  // The preview follows the selection, whatever its size.
  if (previewPanel_) previewPanel_->reloadData();
}

void BookmarksController::mouseDown(const ui::Event& event) {
  ui::Responder::mouseDown(event);
  if (!kestoData_) return;
  if (event.modifierFlags & (ui::ModifierFlag::Shift | ui::ModifierFlag::Command)) {
    modifierPressed_ = true;
    shouldDeselect_ = false;
    kestoData_->setDoubleClickedOrDragging(false);
  } else {
    modifierPressed_ = false;
    if (kestoData_->doubleClickedOrDragging()) {
      shouldDeselect_ = true;
      lastSelectedIndexPaths_.clear();
      kestoData_->setSelectedBookmarks({});
      if (views_.collectionView) views_.collectionView->deselectAllItems();
      ViewUpdater::clearInspector();
      kestoData_->setDoubleClickedOrDragging(false);
    }
  }
  if (event.type == ui::EventType::LeftMouseDown && event.clickCount == 2) {
    // The first click's selection reaches the library a moment later: a quick second click
    // takes it now, or it would open what was selected before, or nothing.
    if (selectionChangePending_) didChangeSelection();
    openSelectedBookmarks();
    shouldDeselect_ = false;
    kestoData_->setDoubleClickedOrDragging(true);
  }
}

void BookmarksController::mouseUp(const ui::Event& event) {
  ui::Responder::mouseUp(event);
  shouldDeselect_ = !modifierPressed_;
}

void BookmarksController::keyDown(const ui::Event& event) {
  // A key that came with the click before it (a busy main loop takes both in one turn) acts on
  // what was clicked: the click's selection reaches the library only a moment later.
  if (selectionChangePending_) didChangeSelection();
  // Command-1/2/3 choose the mode, as the View menu's items do.
  // By key position (the digit row's 1, 2 and 3): with Command held the characters are not
  // reliably the digits.
  if (event.hasModifier(ui::ModifierFlag::Command)) {
    if (event.keyCode == 18) return selectThumbnailView();
    if (event.keyCode == 19) return selectExtendedView();
    if (event.keyCode == 20) return selectListView();
    // The Quit item's key equivalent, until the menus arrive.
    if (event.keyCode == ui::KeyCode::Q) return ui::Application::shared().terminate();
  }
  // Keys of the list that no menu item carries: Return opens, Delete and Backspace delete,
  // Escape clears the selection, the space bar shows or hides the preview.
  if (!event.hasModifier(ui::ModifierFlag::Command) && !event.hasModifier(ui::ModifierFlag::Option)) {
    if (event.charactersIgnoringModifiers == " " || event.keyCode == ui::KeyCode::Space) return togglePreview();
    if (event.characters == "\r" || event.keyCode == 36 || event.keyCode == 76) return openSelectedBookmarks();
    if (event.keyCode == 51 || event.keyCode == 117) return deleteBookmarks();
    if (event.keyCode == 53) {
      lastSelectedIndexPaths_.clear();
      if (kestoData_) kestoData_->setSelectedBookmarks({});
      if (views_.collectionView) views_.collectionView->deselectAllItems();
      ViewUpdater::clearInspector();
      disableToolbarButtons();
      return;
    }
  }
  ui::Responder::keyDown(event);
}

// ---- toolbar and buttons ----

void BookmarksController::prepareToolbar() {
  if (!views_.mainToolBar) return;
  views_.mainToolBar->setDelegate(this);
  const std::string ids[] = {"KSTToolbarActivityIndicator", ToolbarFlexibleSpaceItemIdentifier,
                             ToolbarSpaceItemIdentifier,     ToolbarSpaceItemIdentifier,
                             ToolbarSpaceItemIdentifier,     "KSTToolbarButtonSet",
                             ToolbarSpaceItemIdentifier,     "KSTToolbarSearch",
                             ToolbarFlexibleSpaceItemIdentifier, "KSTToolbarEditInfo",
                             ToolbarSpaceItemIdentifier};
  std::size_t index = 0;
  for (const auto& id : ids) views_.mainToolBar->insertItemWithItemIdentifier(id, index++);
  views_.mainToolBar->setDisplayMode(Toolbar::IconOnly);
}

std::shared_ptr<ToolbarItem> BookmarksController::toolbarItemForItemIdentifier(Toolbar&, const std::string& identifier,
                                                                               bool) {
  struct Spec {
    const char* id;
    std::shared_ptr<ui::View> BookmarkListViews::*view;
    double width;
    const char* label;
    const char* toolTip;
  };
  static const Spec specs[] = {
      {"KSTToolbarSearch", &BookmarkListViews::mainToolBarSearchView, 460.0, "Search", "Search your Library"},
      {"KSTToolbarActivityIndicator", &BookmarkListViews::mainToolBarActivityIndicator, 95.0, "", ""},
      {"KSTToolbarButtonSet", &BookmarkListViews::mainToolbarButtonSet, 200.0, "", ""},
      // Room for a count such as "1,000 of 11,803 matches".
      {"KSTToolbarEditInfo", &BookmarkListViews::mainToolbarEditInfo, 225.0, "", ""},
  };
  for (const auto& s : specs) {
    if (identifier != s.id) continue;
    auto item = std::make_shared<ToolbarItem>();
    item->itemIdentifier = identifier;
    item->view = views_.*s.view;
    double height = item->view ? item->view->frame().size.height : 0;
    item->minSize = item->maxSize = fnd::Size{s.width, height};
    item->label = item->paletteLabel = s.label;
    item->toolTip = s.toolTip;
    return item;
  }
  return nullptr;
}

std::vector<std::string> BookmarksController::toolbarAllowedItemIdentifiers(Toolbar&) {
  return {"KSTToolbarSearch", ToolbarFlexibleSpaceItemIdentifier, ToolbarSpaceItemIdentifier,
          ToolbarSeparatorItemIdentifier};
}

void BookmarksController::updateBrowserButton() {
  auto browser = fnd::UserDefaults::standard().stringForKey("favoriteBrowser").value_or("Default");
  std::string image = "toolbar_open_in_browser";
  if (browser == "com.apple.Safari") image = "safari";
  else if (browser == "com.google.Chrome") image = "chrome";
  else if (browser == "org.mozilla.firefox") image = "firefox";
  else if (browser == "com.operasoftware.Opera") image = "opera";
  if (!views_.openButton) return;
  views_.openButton->setImageNamed(image);
  // A browser chosen by its desktop entry shows that entry's icon.
  if (image == "toolbar_open_in_browser" && browser != "Default")
    if (auto chosen = sys::Workspace::browserForIdentifier(browser))
      if (auto icon = ui::Image::iconNamed(chosen->icon); !icon.isNull()) views_.openButton->setImage(icon);
}

void BookmarksController::setToolbarButtonsEnabled(bool enabled) {
  for (const auto* b :
       {&views_.editButton, &views_.openButton, &views_.quicklookButton, &views_.updateButton, &views_.trashButton})
    if (*b) (*b)->setEnabled(enabled);
}

void BookmarksController::disableToolbarButtons() { setToolbarButtonsEnabled(false); }

void BookmarksController::enableToolbarButtons() { setToolbarButtonsEnabled(true); }

void BookmarksController::enableToolbarButtonsMultiSelection() {
  if (views_.editButton) views_.editButton->setEnabled(false);
  if (views_.openButton) views_.openButton->setEnabled(true);
  if (views_.quicklookButton) views_.quicklookButton->setEnabled(false);
  if (views_.updateButton) views_.updateButton->setEnabled(true);
  if (views_.trashButton) views_.trashButton->setEnabled(true);
}

void BookmarksController::hideMoreBookmarksButton() {
  if (kestoData_) kestoData_->resetFetchLimitAndOffset();
}

void BookmarksController::clearSearchField() {
  // An emptied field is no search: left on, the folder list would no longer reload what it shows
  // and a delete would bring the old results back.
  if (kestoData_) kestoData_->setIsSearching(false);
  if (views_.foundBookmarksLabel) views_.foundBookmarksLabel->setStringValue("");
  if (views_.occurrencesLabel) views_.occurrencesLabel->setStringValue("");
  if (views_.folderSearchOnlyButton) views_.folderSearchOnlyButton->setHidden(true);
  if (views_.folderSearchOnlyLabel) views_.folderSearchOnlyLabel->setHidden(true);
  for (auto* f : {&views_.searchField, &views_.searchInScopeField})
    if (*f && !(*f)->stringValue().empty()) (*f)->setStringValue("");
}

// ---- library defaults and repairs ----

const std::vector<std::pair<std::string, std::vector<std::string>>>& BookmarksController::defaultLibrary() {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> library = {
      {"Apple", {"https://www.macrumors.com/", "https://9to5mac.com/", "https://www.apple.com/"}},
      {"Search", {"https://www.google.com/", "https://www.bing.com/", "https://duckduckgo.com/"}},
      {"Kesto", {"https://kesto.app/", "https://kesto.app/help/"}},
  };
  return library;
}

void BookmarksController::initializeEmptyLibrary() {
  if (!kestoData_ || kestoData_->numberOfTotalBookmarks() >= 1) return;
  std::vector<Folder::Ref> folders;
  for (const auto& [name, urls] : defaultLibrary()) {
    auto folder = Folder::initEntity();
    if (!folder) return;  // no store: nothing can be made
    folder->setName(name);
    folder->setParentFolderID(Folder::kRootID);
    folder->saveFolder();
    folders.push_back(folder);
  }
  std::vector<std::shared_ptr<Bookmark>> made;
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    for (const auto& url : defaultLibrary()[i].second) {
      auto b = Bookmark::addBookmarkWithURL(url, folders[i]);
      if (!b) continue;
      // Marked as updating until the page fetch settles it.
      b->setValueForKey("isUpdating", fnd::Value(true));
      b->saveBookmark();
      made.push_back(b);
      if (auto id = b->uniqueIDValue()) ids.push_back(*id);
    }
  }
  webContentUpdater().updateBookmarks(ids);
  kestoData_->addFolders(folders);
  kestoData_->addBookmarks(made);
  fnd::UserDefaults::standard().setString(folders.front()->folderID(), "currentlySelectedFolder");
  ViewUpdater::updateSourceLists();
  kestoData_->loadBookmarks();
}

void BookmarksController::fixIsUpdatingBookmarks() {
  // Finding the marks reads the whole table: that runs on a store connection and a queue of its
  // own, so the window's first frame and the first load do not wait for it; the few found are
  // cleared here on the main thread. Where the store has no file to open again, here and now.
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  fnd::Error error;
  auto own = coordinator ? coordinator->openSecondConnection(&error) : nullptr;
  if (!own) {
    clearStuckUpdates(Bookmark::fetchEntitiesWhereProperty("isUpdating", fnd::Value(true)).value_or(Bookmark::List{}));
    return;
  }
  auto context = store::Context::make(store::ConcurrencyType::PrivateQueue);
  context->setCoordinator(std::move(own));
  context->setName("Stuck updates");
  // Only the queue holds the context from here, so it is freed there too.
  store::Context* queue = context.get();
  queue->perform([this, alive = lifetime_.watch(), context = std::move(context)]() mutable {
    store::FetchRequest request(Bookmark::entityName());
    request.predicate = store::Predicate::parse("isUpdating == YES");
    fnd::Error readError;
    auto found = context->fetchObjectIDs(request, &readError);
    if (!found) logDetailedError("find the bookmarks left updating", &readError);
    fnd::DispatchQueue::main().async([this, alive, ids = found.value_or(std::vector<store::ObjectIDRef>{})] {
      if (!alive) return;
      auto main = WrenDataManager::sharedInstance().managedObjectContext();
      Bookmark::List stuck;
      for (const auto& id : ids)
        if (auto b = main ? std::dynamic_pointer_cast<Bookmark>(main->existingObjectWithID(id)) : nullptr)
          stuck.push_back(std::move(b));
      clearStuckUpdates(stuck);
    });
  });
}

void BookmarksController::clearStuckUpdates(const std::vector<std::shared_ptr<Bookmark>>& stuck) {
  for (const auto& b : stuck)
    if (b->thumbnailManuallySet() < 1 && b->valueForKey("isUpdating").boolValue())
      b->setValueForKey("isUpdating", fnd::Value(false));
  WrenEntity::saveContext();
}

void BookmarksController::updateBookmark(const std::shared_ptr<Bookmark>& bookmark) {
  if (bookmark) updateBookmarks({bookmark});
}

void BookmarksController::updateBookmarks(const std::vector<std::shared_ptr<Bookmark>>& bookmarks) {
  if (!kestoData_ || bookmarks.empty()) return;
  webContentUpdater().updateSingleBookmarks(bookmarks, true);
  kestoData_->addBookmarks(bookmarks);
  kestoData_->loadBookmarks();
}

}  // namespace kesto
