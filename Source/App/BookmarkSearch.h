#pragma once

#include "App/BookmarkSearchIndex.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Store/Predicate.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/TextEditingDelegate.h"
#include "Platform/UI/UIForward.h"
#include "Views/IndexPath.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

class Bookmark;
class BookmarksController;
struct BookmarkListViews;
class DataManager;
class LinkLabel;
class TextLabel;

// The search options of the library search field's menu: user-defaults key and menu tag.
struct SearchOption {
  const char* key;
  int tag;
  const char* title;
  bool firstValue;
};
const std::vector<SearchOption>& searchOptions();

// The web search page for a text: the whole text is the "q" value, fully percent-encoded, so
// "&", "#" and "+" stay part of the query and any script gives an address.
std::string webSearchAddress(const std::string& text);

// The library query for a search text: one clause group per word (runs of spaces make no
// empty words), each over the chosen fields, joined by AND with live bookmarks only. With no
// field chosen, titles are searched. Null for a text without words.
store::PredicateRef librarySearchPredicate(const std::string& text, bool title, bool url, bool notes, bool tags,
                                           bool folders);

// The bookmark list's two searches: the library search in the toolbar field, with its options
// menu and match count, and the scope search that steps through the matches of the current
// list. It also moves the keyboard focus from the fields into the list. Main thread only.
class BookmarkSearch : public ui::ActionResponder, public ui::TextEditingDelegate {
 public:
  BookmarkSearch();
  ~BookmarkSearch() override;
  BookmarkSearch(const BookmarkSearch&) = delete;
  BookmarkSearch& operator=(const BookmarkSearch&) = delete;

  // The list controller (its fields and list), the data manager and the window; once, before
  // awakeFromNib.
  void wire(BookmarksController* controller, DataManager* data, ui::Window* window) {
    controller_ = controller;
    kestoData_ = data;
    window_ = window;
  }

  // Observers, the fields' delegates and actions, the options menu.
  void awakeFromNib();

  void prepareSearchMenu();
  void validateSearchMenu();
  // Flips the option of a menu tag and searches again.
  void toggleSearchOption(int tag);
  void find();
  void findInScope();
  void search();
  // Called before the list is drawn: when the list no longer holds the results the search
  // field names (something reloaded it, or the library was read again), searches again with
  // the last words searched and answers true.
  bool keepResultsShown();
  void searchInScope();
  void selectBookmarks(const std::vector<IndexPath>& indexPaths);
  void selectBookmarksView();
  // The delay between a key command and the focus move (tests shorten it).
  void setFocusDelay(double seconds) { focusDelay_ = seconds; }

  bool isSearchingInScope() const { return isSearchingInScope_; }
  // Told before each new result list whether it comes from the whole library (the path bar
  // then names no folder).
  std::function<void(bool wholeLibrary)> onLibraryWideSearch;
  int sameSearchCount() const { return sameSearchCount_; }

  // Text delegate of both fields: Down, Tab and Return leave the field for the list.
  bool controlTextViewDoCommandBySelector(ui::Control& control, ui::Command selector) override;

 protected:
  // Find and Find in List.
  void addActions(ui::ActionSet& set) override;

 private:
  // The list's views; none without a list controller.
  const BookmarkListViews& listViews() const;
  // Searches the library for searched_ and puts the results and their count on show; `typed`
  // when the user's keystroke asked (only then is "nothing found" told in a message).
  void showResults(bool typed);

  BookmarksController* controller_ = nullptr;
  DataManager* kestoData_ = nullptr;
  ui::Window* window_ = nullptr;
  std::string scopeSearchString_, lastUsedSearchString_;
  // The words of the last search and the list it showed.
  std::string searched_;
  std::vector<std::shared_ptr<Bookmark>> shown_;
  bool libraryReloaded_ = false, searching_ = false;
  int sameSearchCount_ = 0;
  bool isSearchingInScope_ = false;
  double focusDelay_ = 0.1;
  BookmarkSearchIndex index_;
  // Up and Tab in the scope field go back to the list.
  std::unique_ptr<ui::TextEditingDelegate> scopeDelegate_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
