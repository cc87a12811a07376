#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "MenuBar/MenuBarNotifications.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/TextEditingDelegate.h"
#include "Platform/UI/UIForward.h"
#include "Views/SearchMenuOptions.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewGridLayout.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace kesto {

class Bookmark;
class BRWRoundedComboBox;
class DataManager;
class Folder;

// The fields the menu-bar search looks in (page content is stored as a choice but never searched).
struct MenuSearchFields {
  bool title = true, url = true, notes = true, tags = true, folders = true;
};

// The menu-bar search's options: user-defaults key, menu tag, title and first-run value.
using MenuSearchOption = SearchMenuOption;
const std::vector<MenuSearchOption>& menuSearchOptions();

// The words of a search text: split at spaces, with empty words (from runs of spaces) dropped,
// so "red  car" searches "red" and "car".
std::vector<std::string> menuSearchWords(const std::string& text);

// The width of a card in a list `listWidth` wide: at least 540, sharing what is left over among
// the cards of a row. The height is always 100.
fnd::Size menuCardSize(double listWidth);

// The content of the menu-bar window: mode buttons (search, favourites, recently opened), the
// search field, buttons that open the selection in a named browser, the list of bookmark cards,
// and the quick-edit pane for one bookmark. Its lists live in DataManager's menu-bar list and
// selection. Main thread only.
class MenuBookmarksController : public TileCollectionViewDataSource,
                                public TileCollectionViewDelegate,
                                public TileCollectionViewGridLayoutDelegate,
                                public ui::TextEditingDelegate {
 public:
  // The application's library search: the first `limit` live bookmarks matching every word in
  // one of the fields. Without one the store is queried with the same conditions.
  using SearchFunction = std::function<std::vector<std::shared_ptr<Bookmark>>(
      const std::vector<std::string>& words, const MenuSearchFields& fields, std::size_t limit)>;
  static constexpr std::size_t kSearchLimit = 1000;

  MenuBookmarksController();
  ~MenuBookmarksController() override;
  MenuBookmarksController(const MenuBookmarksController&) = delete;
  MenuBookmarksController& operator=(const MenuBookmarksController&) = delete;

  DataManager* kestoData = nullptr;
  SearchFunction searchFunction;
  // The web search page for a text (the application's search host).
  std::function<std::string(const std::string& text)> webSearchAddress;

  // Builds the views (once) and returns the content for the window.
  const std::shared_ptr<ui::View>& view();
  // Observers, the search menu, the first mode.
  void awakeFromNib();

  // Lists.
  void updateView();
  // The cards of these bookmarks (changed in place) drawn again.
  void updateRows(const std::unordered_set<const void*>& changed);
  void showFavorites();
  void showVisitedWeek();
  void showSearch();
  void openMainWindow();
  bool showingFind() const { return showingFind_; }
  bool searchGoogle() const { return searchGoogle_; }

  // Search.
  void prepareSearchMenu();
  void validateSearchMenu();
  void toggleSearchOption(int tag);
  // Gives the search field the keys, its text selected.
  void find();
  void search();
  void selectBookmarksView();
  bool controlTextViewDoCommandBySelector(ui::Control& control, ui::Command selector) override;
  // Leaving a quick-edit field (Tab, a click elsewhere) saves what was typed there.
  void controlTextDidEndEditing(ui::Control& control) override;
  // The delay between a key command and the focus move (tests shorten it).
  void setFocusDelay(double seconds) { focusDelay_ = seconds; }

  // Opening.
  void openSelectedBookmarks();
  void openSelectedBookmarkInBrowser(const std::string& browserIdentifier);
  void enableButtons();
  void disableButtons();
  void didChangeSelection();

  // Quick edit of one bookmark (the selected one from the Edit button).
  void showEdit(const std::shared_ptr<Bookmark>& bookmark);
  void editSelectedBookmark();
  void cancelEdit();
  bool isInEditMode() const { return isInEditMode_; }
  const std::shared_ptr<Bookmark>& lastAddedBookmark() const { return lastAddedBookmark_; }
  void prepareFolders();
  // Filters the folder box's list to the paths holding `text` (all of them for an empty text or
  // one space, which also closes the list) and answers it.
  std::vector<std::string> resultsInComboForString(const std::string& text);
  // Opens the folder list while some path holds `text` and closes it when none does or the text
  // is empty; completes nothing inline (answers the empty string).
  std::string comboBoxCompletedString(const std::string& text);
  // Typing in the folder box filters its list and opens or closes it.
  void controlTextDidChange(ui::Control& control) override;
  // A path chosen from the folder box's list (the item at `index`): the bookmark is filed there,
  // and so is the bookmark of a later edit without a choice of its own; for a locked folder, in
  // the Inbox, and the edit says so.
  void comboBoxSelectionDidChange(int index);
  void updateURL();
  void updateTitle();
  void updateNotes();
  void updateLogin();
  void updatePassword();
  void updateColor();
  void updateRating();
  void updateFavorite();
  void updateTags();
  std::vector<std::string> tagCompletions(const std::string& prefix) const;
  static std::string colorNameForIndex(int index);
  static int indexForColorName(const std::string& name);

  // Dragging cards out: one "bm:<unique identifier>" string for each selected bookmark. The
  // pasteboard is cleared and written only when there is one; answers whether it was written.
  bool collectionViewWriteItemsToPasteboard(TileCollectionView& view, ui::Pasteboard& pasteboard);
  void dragSelectedCards();

  // Data source, delegate and layout.
  std::uint64_t collectionViewNumberOfItemsInSection(TileCollectionView& view, std::int64_t section) override;
  std::shared_ptr<ui::View> collectionViewCellForItemAtIndexPath(TileCollectionView& view,
                                                                const IndexPath& indexPath) override;
  unsigned implementedDelegateMethods() const override {
    return DidSelectItem | DidDeselectItem | DidDoubleClickItem | ShouldDeselectItem;
  }
  void collectionViewDidSelectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) override;
  void collectionViewDidDeselectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) override;
  // No while a press holds a selection of several for a drag.
  bool collectionViewShouldDeselectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) override;
  void collectionViewDidDoubleClickItemAtIndexPath(TileCollectionView& view,
                                                   const std::optional<IndexPath>& indexPath) override;
  unsigned implementedGridLayoutMethods() const override { return SizeForItem; }
  fnd::Size sizeForItemInCollectionView(TileCollectionView& view) override;

  // Views, for tests and the window.
  std::shared_ptr<TileCollectionView> collectionView;
  std::shared_ptr<ui::SearchField> searchField;
  std::shared_ptr<ui::Button> searchButton, historyWeekButton, favoritesButton, mainWindowButton, editButton;
  std::shared_ptr<ui::Button> chromeButton, firefoxButton, operaButton;
  std::shared_ptr<ui::View> listPane, editPane;
  // Tells what puts a bookmark into an empty Favorites or Recent list.
  std::shared_ptr<ui::Label> emptyListHint;
  std::shared_ptr<ui::TextField> editURL, editTitle, editNotes, editUsername, editPassword;
  std::shared_ptr<BRWRoundedComboBox> editFolder;
  std::shared_ptr<ui::TokenField> editTags;
  std::shared_ptr<ui::PopUpButton> editColor;
  std::shared_ptr<ui::LevelIndicator> editRating;
  std::shared_ptr<ui::Button> editFavorite, editDone;
  // Shown while a locked folder chosen has left the bookmark in the Inbox.
  std::shared_ptr<ui::Label> editFolderNote;

 private:
  // The menu-bar search's fields, kept apart from the library window's.
  static const SearchMenuOptions& searchMenu();
  void buildViews();
  void buildEditPane(double width, double height);
  void resetButtonsAlpha();
  // The browser buttons as enableButtons and disableButtons left them, off for a selection
  // without a web page.
  void updateBrowserButtons();
  enum class ListMode { Search, Favorites, Recent };
  // The favourites, or every live bookmark with the most recently opened first, with the mode's
  // button lit.
  void showList(ListMode mode, const std::shared_ptr<ui::Button>& button);
  void reload();
  void saveEdited();
  std::vector<ui::PasteboardItem> draggedItems() const;
  // The folder paths holding `text`, ignoring case and diacritics.
  std::vector<std::string> foldersContaining(const std::string& text) const;
  // Saves the quick-edit field `control` (text, tags or folder) when it differs from the
  // bookmark's value.
  void commitEditedField(ui::Control& control);
  // The folder box's text as Tab or Return leaves it: text no path (or every path) holds becomes
  // the first path. Text is no choice: it files the bookmark nowhere.
  void settleFolderText();
  // Where Done files the bookmark: the folder chosen in this edit or an earlier one (from the
  // list, or the current folder an earlier Done took without a choice), else the library's
  // current folder; null (the Inbox) where there is none or it is locked.
  std::shared_ptr<Folder> folderForDone() const;
  // Whether a lock covers the bookmark: its card and values are not offered, and the quick edit
  // leaves it in its folder.
  static bool isLocked(const std::shared_ptr<Bookmark>& bookmark);
  // Files the bookmark being edited in `folder`, unless a lock covers it.
  void fileLastAdded(const std::shared_ptr<Folder>& folder);
  // Whether a folder chosen in this or an earlier edit still exists.
  bool hasChosenFolder() const;
  // One edit of the bookmark being edited, saved at once (nothing without one).
  void editLastAdded(const std::function<void(Bookmark&)>& edit);
  std::vector<std::shared_ptr<Bookmark>> runSearch(const std::vector<std::string>& words, const MenuSearchFields& fields);

  std::shared_ptr<ui::View> view_;
  bool showingFind_ = true, searchGoogle_ = false, isInEditMode_ = false;
  bool buttonsEnabled_ = false;  // as enableButtons or disableButtons left them
  ListMode mode_ = ListMode::Search;
  double focusDelay_ = 0.1;
  std::shared_ptr<Bookmark> lastAddedBookmark_;
  std::vector<std::string> folders_, filteredFolders_;
  std::map<std::string, std::shared_ptr<Folder>> foldersDictionary_;
  std::shared_ptr<Folder> selectedFolder_;
  std::string shownFolderText_;  // the folder box's text as last shown or settled
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
  bool selectionPending_ = false;
  bool staleWhileHidden_ = false;  // a change came while the window was hidden
};

}  // namespace kesto
