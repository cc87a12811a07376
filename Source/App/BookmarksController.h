#pragma once

#include "App/PreviewPanel.h"
#include "App/Toolbar.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/UIForward.h"
#include "Views/LinkLabel.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewGridLayout.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace kesto {

class Bookmark;
class DataManager;
class PreferencesController;
class PreviewPanel;
class PushButton;
class TextLabel;
class WebContentUpdater;
class TutorialPopovers;

// The application's own clipboard type for copied bookmarks: their URLs, one per line.
inline constexpr const char* BookmarkCopyType = "BookmarkCopyType";

// A way of sharing a bookmark that the desktop offers (an e-mail, the clipboard). It is given
// the bookmark's title, its address and the share text, in that order.
struct SharingService {
  std::string title;
  std::string imageName;
  std::function<void(const std::vector<std::string>& items)> perform;
};

// The views of the bookmark list that the main interface builds and the controller fills: the
// list itself, the toolbar's groups, the counts and the mode buttons.
struct BookmarkListViews {
  std::shared_ptr<TileCollectionView> collectionView;
  std::shared_ptr<TextLabel> noBookmarksLabel, occurrencesLabel, numberOfBookmarksLabel, folderSearchOnlyLabel;
  std::shared_ptr<LinkLabel> foundBookmarksLabel;
  std::shared_ptr<ui::SearchField> searchField, searchInScopeField;
  std::shared_ptr<ui::Button> folderSearchOnlyButton;
  std::shared_ptr<PushButton> addButton, editButton, openButton, quicklookButton, updateButton, trashButton,
      listViewButton, thumbnailViewButton, textOnlyListViewButton;
  std::shared_ptr<Toolbar> mainToolBar;
  std::shared_ptr<ui::View> mainToolBarSearchView, mainToolBarActivityIndicator, mainToolbarButtonSet,
      mainToolbarEditInfo;
};

// What the list works with, handed over once before awakeFromNib.
struct BookmarksControllerWiring {
  DataManager* data = nullptr;
  PreferencesController* preferences = nullptr;
  // The first-use popovers; the compact rows show the bookmark popover.
  TutorialPopovers* tutorials = nullptr;
  // The preview panel Quick Look fills.
  std::shared_ptr<PreviewPanel> quickLookPanel;
  BookmarkListViews views;
};

// The controller of the main window's bookmark list: the list of the current collection in
// one of three modes, the toolbar above it and the buttons that act on the selection. It sits
// in the responder chain behind the main window. Main thread only.
class BookmarksController : public ui::ActionResponder,
                            public PreviewPanelDataSource,
                            public TileCollectionViewDataSource,
                            public TileCollectionViewDelegate,
                            public TileCollectionViewGridLayoutDelegate,
                            public ToolbarDelegate {
 public:
  BookmarksController();
  ~BookmarksController() override;
  BookmarksController(const BookmarksController&) = delete;
  BookmarksController& operator=(const BookmarksController&) = delete;

  // Its dependencies and views; once, before awakeFromNib.
  void wire(BookmarksControllerWiring wiring);
  const BookmarkListViews& views() const { return views_; }

  // Set-up: observers, the stored mode, repairs, toolbar and collection view.
  void awakeFromNib();

  // Modes.
  void selectThumbnailView();
  void selectExtendedView();
  void selectListView();
  void prepareTileCollectionView();
  bool isThumbnailView() const { return isThumbnailView_; }
  bool isExtendedView() const { return isExtendedView_; }
  bool isListView() const { return isListView_; }
  // The cell builder of the current mode.
  std::string cellNibName() const;

  // Refreshes: keeping the selection, or clearing it. With `change`, the rows that left and came
  // are taken out and put in instead of reloading the list.
  void updateView(const ViewUpdater::RowChange* change = nullptr);
  // Asked before each refresh of the list whether the search put its results back (the list
  // is then drawn whole, its selection kept); the library search sets it.
  void setSearchResultsKeeper(std::function<bool()> keeper) { searchResultsKeeper_ = std::move(keeper); }
  // Lets the inspector (and the toolbar) go of bookmarks that are no longer in `selected`.
  void forgetUnselectedInInspector(const std::vector<std::shared_ptr<Bookmark>>& selected);
  void updateViewAndResetBookmarks();
  // The rows of these bookmarks (changed in place) drawn again; the list stays as it is.
  void updateRows(const std::unordered_set<const void*>& changed);

  // Selection.
  void didChangeSelection();
  std::vector<std::shared_ptr<Bookmark>> currentlySelectedBookmarks() const;
  // The bookmark shown at an index path; null for an empty list.
  std::shared_ptr<Bookmark> bookmarkAtIndexPath(const IndexPath& indexPath) const;
  const std::vector<IndexPath>& lastSelectedIndexPaths() const { return lastSelectedIndexPaths_; }
  // Delay between a click and the selection reaching the data manager (tests shorten it).
  void setSelectionDelay(double seconds) { selectionDelay_ = seconds; }

  // Toolbar and buttons.
  void prepareToolbar();
  void updateBrowserButton();
  void disableToolbarButtons();
  void enableToolbarButtons();
  void enableToolbarButtonsMultiSelection();

  // Library repairs and defaults.
  void initializeEmptyLibrary();
  void fixIsUpdatingBookmarks();
  // The addresses of the default library, folder by folder.
  static const std::vector<std::pair<std::string, std::vector<std::string>>>& defaultLibrary();

  // A bookmark made outside the list (intake, add sheet): into the list and the current view.
  void updateBookmark(const std::shared_ptr<Bookmark>& bookmark);
  // The same for bookmarks made together: the list is recomputed once for all of them.
  void updateBookmarks(const std::vector<std::shared_ptr<Bookmark>>& bookmarks);
  // Page titles, favicons and thumbnails, fetched in the background (WebContentUpdater).
  void updateSingleBookmark(const std::shared_ptr<Bookmark>& bookmark, bool alsoFetchImage);
  // "Update from web": the selection's pages and thumbnails again.
  void updateWebContentForSelectedBookmarks();
  // "Set thumbnail from file": a JPEG, PNG or GIF the user picks, at 240 by 180.
  void updateThumbnailManually();
  // Takes the current bookmark's thumbnail from a file away; the service's picture shows again.
  void deleteManualThumbnail();
  // A running total of work announced for the activity display: a value above 0 adds to it, 0
  // or less starts it again from 0.
  void setActivityMaxValue(double value) { activityMaxValue_ = value > 0 ? activityMaxValue_ + value : 0; }
  double activityMaxValue() const { return activityMaxValue_; }
  WebContentUpdater& webContentUpdater();
  // At quit: the page updates' writes end (WebContentUpdater::finishWriting).
  void finishBackgroundWrites();
  // Opens the selected bookmarks in the browser.
  void openSelectedBookmarks();

  // Adding: the add sheet (addresses separated by commas, an optional title for a single
  // address) and the add road shared with paste. Duplicates are found in the stored (decoded)
  // form and asked about when duplicate checking is on.
  void add();
  void showAddBookmarkMessageSheet();
  void addBookmarkSaveFromSheet();
  void closeAddBookmarkFolderSheet();
  void doAddBookmarks(const std::vector<std::string>& pieces, const std::string& title = {});
  ui::Window* addBookmarkFolderSheet() const { return addSheet_.get(); }
  // The sheet's fields: addresses, and the title of a single address.
  ui::TextField* addBookmarkSheetURLField() const { return addBookmarkSheetURLField_.get(); }
  ui::TextField* addBookmarkSheetTitleField() const { return addBookmarkSheetTitleField_.get(); }
  // Seconds between closing the sheet (or pasting) and the add road (tests shorten it).
  void setAddDelay(double seconds) { addDelay_ = seconds; }

  // Deleting: live bookmarks go to the trash; trashed ones and those carrying an online-service
  // mark are deleted for good, each leaving a tombstone for sync. One undo step.
  void deleteBookmarks();
  void putBackFromTrash();
  // The bookmark services' marks ("pinboard", "delicious") on every selected bookmark: adding
  // takes the bookmark out of its folder and posts it; removing files it in the Inbox and keeps
  // the copy on the service. Both need the service's account.
  void addToService(const std::string& service);
  void removeFromService(const std::string& service);
  static bool hasServiceAccount(const std::string& service);

  // Opening in a browser named by bundle identifier, all in one launch; the visit is recorded.
  void openSelectedBookmarkInBrowser(const std::string& browserIdentifier);
  void openSelectedBookmarkFolder();
  // The context menu of the selection (null with nothing selected), and showing it.
  std::shared_ptr<ui::Menu> bookmarkMenu();
  void openBookmarkMenu(const ui::Event* event = nullptr);

  // Dragging out: the bookmarks shown selected, as "bm:" lines for the sidebar's folders and as
  // URLs for browsers, file managers and editors.
  std::vector<ui::PasteboardItem> draggedItems() const;
  // The drag image with the number of bookmarks dragged in a red disc at its lower left.
  static ui::Image dragImageForCount(std::size_t count);
  void mouseDragged(const ui::Event& event) override;

  // Quick Look: the preview panel over the selected bookmarks. With at least one selected it
  // is shown or ordered out; it follows the selection while it is shown.
  void togglePreview();
  // The panel while the controller fills it, else null.
  PreviewPanel* previewPanel() const { return previewPanel_; }
  void beginPreviewPanelControl(PreviewPanel& panel);
  void endPreviewPanelControl(PreviewPanel& panel);
  std::size_t numberOfPreviewItemsInPreviewPanel(PreviewPanel& panel) override;
  std::shared_ptr<Bookmark> previewPanelPreviewItemAtIndex(PreviewPanel& panel, std::size_t index) override;
  // Keys pressed in the panel go to the list, so the arrows move the selection.
  bool previewPanelHandleEvent(PreviewPanel& panel, const ui::Event& event) override;

  // Sharing and e-mail. The services are those the desktop offers, found at set-up.
  const std::vector<SharingService>& sharingServices() const { return sharingServices_; }
  void prepareSharingServices();
  // Each selected bookmark, in order, handed to the service.
  void shareBookmarks(const SharingService& service);
  // A new message in the user's mail program with the selection's links.
  void emailLinks();
  // The message's mailto address for these links: no recipient, subject and body fully encoded.
  static std::string emailLinksURL(const std::vector<std::string>& urls);
  static std::string shareText();

  // Clipboard and undo.
  void copy();
  void cut();
  void paste();
  void copyBookmarkAddress();
  void undo();
  void redo();
  // The library's undo manager (the main context's).
  static fnd::UndoManager* undoManager();

  void hideNoBookmarksLabel() { keepNoBookmarksLabelHidden_ = true; }
  void hideMoreBookmarksButton();
  void clearSearchField();

  // Item size of the list modes for a collection-view width.
  static fnd::Size tilePinViewSize(double collectionViewWidth, bool extended);

  // Data source.
  std::uint64_t collectionViewNumberOfItemsInSection(TileCollectionView& view, std::int64_t section) override;
  std::shared_ptr<ui::View> collectionViewCellForItemAtIndexPath(TileCollectionView& view,
                                                                const IndexPath& indexPath) override;
  unsigned implementedDataSourceMethods() const override { return NumberOfSectionsInCollectionView | WillShowItems; }
  // Reads the tags and services of the bookmarks coming into sight together.
  void collectionViewWillShowItemsAtIndexPaths(TileCollectionView& view, const std::vector<IndexPath>& indexPaths) override;
  std::int64_t numberOfSectionsInCollectionView(TileCollectionView&) override { return 1; }

  // Delegate.
  unsigned implementedDelegateMethods() const override;
  void collectionViewMouseDownInItemAtIndexPath(TileCollectionView& view,
                                                const std::optional<IndexPath>& indexPath) override;
  void collectionViewDidSelectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) override;
  bool collectionViewShouldDeselectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) override;
  void collectionViewDidRightClickItemAtIndexPath(TileCollectionView& view,
                                                  const std::optional<IndexPath>& indexPath) override;

  // Grid layout delegate.
  unsigned implementedGridLayoutMethods() const override { return SizeForItem | HeightForHeader | HeightForFooter; }
  fnd::Size sizeForItemInCollectionView(TileCollectionView& view) override;
  double collectionViewHeightForHeaderInSection(TileCollectionView&, std::int64_t) override { return 10.0; }
  double collectionViewHeightForFooterInSection(TileCollectionView&, std::int64_t) override { return 10.0; }

  // Toolbar delegate.
  std::shared_ptr<ToolbarItem> toolbarItemForItemIdentifier(Toolbar& toolbar, const std::string& identifier,
                                                            bool willBeInserted) override;
  std::vector<std::string> toolbarAllowedItemIdentifiers(Toolbar& toolbar) override;

  // Responder: clicks reach the controller behind the window.
  void mouseDown(const ui::Event& event) override;
  void mouseUp(const ui::Event& event) override;
  void keyDown(const ui::Event& event) override;

 protected:
  // The list's commands; the menu bar, the context menu and the toolbar buttons send them.
  void addActions(ui::ActionSet& set) override;

 private:
  // Clears the updating mark of `stuck` (but where the thumbnail was set by hand) and saves.
  void clearStuckUpdates(const std::vector<std::shared_ptr<Bookmark>>& stuck);
  void observeEditCommands();
  void chooseThumbnailFile();
  void recordVisit(Bookmark& bookmark);
  void finishAdding(const std::vector<std::shared_ptr<Bookmark>>& made, const char* message);
  std::shared_ptr<Bookmark> addOne(const std::string& url, bool useTags);
  // Whether the list shows a locked folder, whose new bookmarks go to the Inbox.
  bool showsLockedFolder() const;
  void buildAddSheet();
  void afterUndoOrRedo();
  void chooseMode(int mode);
  void setToolbarButtonsEnabled(bool enabled);
  void scheduleDidChangeSelection();
  void collectionViewScrolled();
  std::vector<IndexPath> indexPathsOfBookmarks(const std::vector<std::shared_ptr<Bookmark>>& bookmarks) const;

  DataManager* kestoData_ = nullptr;
  PreferencesController* kestoPreferences_ = nullptr;
  TutorialPopovers* tutorials_ = nullptr;
  std::shared_ptr<PreviewPanel> quickLookPanel_;
  BookmarkListViews views_;
  std::shared_ptr<ui::TextField> addBookmarkSheetURLField_, addBookmarkSheetTitleField_;
  std::vector<SharingService> sharingServices_;
  bool isThumbnailView_ = false, isListView_ = false, isExtendedView_ = false;
  std::vector<IndexPath> lastSelectedIndexPaths_;
  fnd::Rect currentlyVisibleRect_;
  bool shouldUpdateScrollPosition_ = true, switchedCompactOrThumbnailView_ = false, shouldResetBookmarksView_ = false,
       shouldDeselect_ = true, modifierPressed_ = false, changedSelection_ = false,
       keepNoBookmarksLabelHidden_ = false;
  std::shared_ptr<Bookmark> selectedBookmark_;
  double selectionDelay_ = 0.1;
  bool selectionChangePending_ = false;
  std::function<bool()> searchResultsKeeper_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
  bool observingScroll_ = false;
  bool restoringSelection_ = false;
  std::shared_ptr<ui::Window> addSheet_;
  std::shared_ptr<ui::Menu> shownMenu_;
  double addDelay_ = 0.1;
  bool inUndoRefresh_ = false;
  bool dragging_ = false;
  std::unique_ptr<WebContentUpdater> webContent_;
  PreviewPanel* previewPanel_ = nullptr;
  double activityMaxValue_ = 0;
};

}  // namespace kesto
