#include "App/BookmarkSearch.h"

#include "App/AppCommands.h"
#include "App/BookmarksController.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/Window.h"
#include "Views/LinkLabel.h"
#include "Views/TextLabel.h"
#include "Views/WrenSearchField.h"

#include <algorithm>
#include <unordered_set>

namespace kesto {

namespace {

constexpr const char* kWebSearchPage = "https://www.google.com/search";
constexpr std::size_t kLibrarySearchLimit = 1000;

std::string trimmedOfSpaces(const std::string& s) {
  auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// The words of a search text: split at spaces, empty pieces dropped (a double space would
// otherwise make a word that matches everything and nothing useful).
std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Characters, not bytes: "ü" is one.
std::size_t characterCount(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string matchWord(std::size_t count) { return count == 1 ? "match" : "matches"; }

// 11803 → "11,803".
std::string grouped(std::size_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

const std::vector<SearchOption>& searchOptions() {
  static const std::vector<SearchOption> options = {
      {"SearchTitle", 1, "Title", true},  {"SearchURL", 2, "Address", true},
      {"SearchNotes", 3, "Notes", true},  {"SearchContent", 4, "Page Content", false},
      {"SearchTags", 5, "Tags", true},    {"SearchFolders", 6, "Folders", true},
  };
  return options;
}

std::string webSearchAddress(const std::string& text) {
  return std::string(kWebSearchPage) + "?q=" + fnd::percentEncodeUnreserved(text);
}

store::PredicateRef librarySearchPredicate(const std::string& text, bool title, bool url, bool notes, bool tags,
                                           bool folders) {
  if (!title && !url && !notes && !tags && !folders) title = true;
  std::vector<std::string> clauses;
  if (title) clauses.emplace_back("(title contains[cd] %@)");
  if (url) clauses.emplace_back("(url contains[cd] %@)");
  if (notes) clauses.emplace_back("(notes contains[cd] %@)");
  if (tags) clauses.emplace_back("(ANY tags.name contains[cd] %@)");
  if (folders) clauses.emplace_back("(folder.name contains[cd] %@)");
  std::string format = "(";
  for (std::size_t i = 0; i < clauses.size(); ++i) format += (i ? " OR " : "") + clauses[i];
  format += ") AND (trashed == 0) AND (blocked == 0)";
  std::vector<store::PredicateRef> parts;
  for (const auto& word : words(text)) {
    parts.push_back(store::Predicate::parse(format, fnd::Array(clauses.size(), fnd::Value(word))));
    parts.push_back(store::Predicate::parse("trashed < 1"));
  }
  if (parts.empty()) return nullptr;
  return store::Predicate::andPredicate(std::move(parts));
}

BookmarkSearch::BookmarkSearch() { KESTO_ASSERT_MAIN_THREAD(); }

BookmarkSearch::~BookmarkSearch() {
  lifetime_.end();
  if (controller_) controller_->setSearchResultsKeeper(nullptr);
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  if (const auto& field = listViews().searchField) field->setDelegate(nullptr);
  if (const auto& field = listViews().searchInScopeField) field->setDelegate(nullptr);
}

const BookmarkListViews& BookmarkSearch::listViews() const {
  static const BookmarkListViews none;
  return controller_ ? controller_->views() : none;
}

void BookmarkSearch::awakeFromNib() {
  KESTO_ASSERT_MAIN_THREAD();
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { selectBookmarksView(); }, SelectBookmarksView);
  // The whole library was read again (an import, a hand-over, a sync, a restore): results shown
  // from before are searched again at the list's next refresh, which this asks for.
  center.addObserver(
      this,
      [this](const fnd::Notification&) {
        if (!kestoData_ || !kestoData_->isSearching()) return;
        libraryReloaded_ = true;
        ViewUpdater::updateBookmarks();
      },
      UpdateFoldersNotification);
  if (!controller_) return;
  controller_->setSearchResultsKeeper([this] { return keepResultsShown(); });
  const auto& bc = listViews();
  if (bc.searchField) {
    if (auto* wren = dynamic_cast<WrenSearchField*>(bc.searchField.get())) wren->setMouseDownHandler([this] { find(); });
    bc.searchField->setDelegate(this);
    bc.searchField->setPlaceholderString("Search the library");
    bc.searchField->setAction([this] { search(); });
  }
  if (bc.searchInScopeField) {
    bc.searchInScopeField->setPlaceholderString("Find in list");
    scopeDelegate_ = std::make_unique<SearchInScopeDelegate>([] { ViewUpdater::selectBookmarksView(); });
    bc.searchInScopeField->setDelegate(scopeDelegate_.get());
    bc.searchInScopeField->setAction([this] { searchInScope(); });
  }
  if (bc.folderSearchOnlyButton) bc.folderSearchOnlyButton->setAction([this] { search(); });
  if (bc.folderSearchOnlyLabel) bc.folderSearchOnlyLabel->setHidden(true);
  if (bc.foundBookmarksLabel) bc.foundBookmarksLabel->setHidden(true);
  prepareSearchMenu();
}

void BookmarkSearch::prepareSearchMenu() {
  auto& defaults = fnd::UserDefaults::standard();
  if (!defaults.hasValueForKey("SearchSet")) {
    for (const auto& o : searchOptions()) defaults.setBool(o.firstValue, o.key);
    defaults.synchronize();
  }
  if (const auto& field = listViews().searchField) {
    std::vector<ui::SearchField::MenuItem> items;
    for (const auto& o : searchOptions()) items.push_back({o.title, o.tag, true, defaults.boolForKey(o.key)});
    field->setSearchMenu(std::move(items), lifetime_.whileAlive([this](int tag) { toggleSearchOption(tag); }));
  }
  defaults.setString("Yes", "SearchSet");
  validateSearchMenu();
}

void BookmarkSearch::validateSearchMenu() {
  auto& defaults = fnd::UserDefaults::standard();
  for (const auto& o : searchOptions())
    if (defaults.boolForKey(o.key)) return;
  defaults.setBool(true, "SearchTitle");
  if (const auto& field = listViews().searchField) field->setSearchMenuItemState(1, true);
}

void BookmarkSearch::toggleSearchOption(int tag) {
  auto& defaults = fnd::UserDefaults::standard();
  for (const auto& o : searchOptions()) {
    if (o.tag != tag) continue;
    bool on = !defaults.boolForKey(o.key);
    defaults.setBool(on, o.key);
    if (const auto& field = listViews().searchField) field->setSearchMenuItemState(tag, on);
  }
  search();
}

void BookmarkSearch::find() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!controller_) return;
  const auto& bc = listViews();
  if (bc.folderSearchOnlyButton) {
    bc.folderSearchOnlyButton->setHidden(false);
    bc.folderSearchOnlyButton->setState(0);
  }
  if (bc.folderSearchOnlyLabel) bc.folderSearchOnlyLabel->setHidden(false);
  if (window_ && bc.searchField) window_->makeFirstResponder(bc.searchField.get());
  if (kestoData_) index_.prepare(*kestoData_);
}

void BookmarkSearch::findInScope() {
  KESTO_ASSERT_MAIN_THREAD();
  find();
  if (const auto& only = listViews().folderSearchOnlyButton) only->setState(1);
}

void BookmarkSearch::search() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!controller_ || !kestoData_) return;
  const auto& bc = listViews();
  std::string text = trimmedOfSpaces(bc.searchField ? bc.searchField->stringValue() : std::string());
  if (text.empty()) {
    validateSearchMenu();
    if (bc.foundBookmarksLabel) bc.foundBookmarksLabel->setHidden(true);
    kestoData_->setIsSearching(false);
    shown_.clear();
    kestoData_->loadBookmarks();
    if (onLibraryWideSearch) onLibraryWideSearch(false);
  } else if (characterCount(text) == 1) {
    validateSearchMenu();
    // Nothing is searched for one character; the next keystroke will be.
    index_.prepare(*kestoData_);
  } else {
    searched_ = text;
    showResults(true);
    // A new result list: the old selection and scroll position mean nothing in it.
    ViewUpdater::updateBookmarksAndResetView();
    return;
  }
  ViewUpdater::updateBookmarks();
}

void BookmarkSearch::showResults(bool typed) {
  const auto& bc = listViews();
  // A search in the list reloads the list on its way: those refreshes are its own.
  searching_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{searching_};
  validateSearchMenu();
  auto& defaults = fnd::UserDefaults::standard();
  kestoData_->setIsSearching(true);
  SearchFields fields{defaults.boolForKey("SearchTitle"), defaults.boolForKey("SearchURL"),
                      defaults.boolForKey("SearchNotes"), defaults.boolForKey("SearchTags"),
                      defaults.boolForKey("SearchFolders")};
  if (!fields.title && !fields.url && !fields.notes && !fields.tags && !fields.folders) fields.title = true;
  std::size_t total = 0;
  const bool inList = bc.folderSearchOnlyButton && bc.folderSearchOnlyButton->state() == 1;
  if (onLibraryWideSearch) onLibraryWideSearch(!inList);
  if (inList) {
    kestoData_->applySearchPredicateOnCurrentSelection(
        librarySearchPredicate(searched_, fields.title, fields.url, fields.notes, fields.tags, fields.folders));
    total = kestoData_->bookmarks().size();
  } else {
    // The prepared texts answer as the store query would, without a query per keystroke.
    kestoData_->bookmarks() = index_.search(*kestoData_, words(searched_), fields, kLibrarySearchLimit, &total);
  }
  shown_ = kestoData_->bookmarks();
  libraryReloaded_ = false;
  std::size_t count = shown_.size();
  std::string word = matchWord(total);
  if (!bc.foundBookmarksLabel) return;
  if (count == 0) {
    // Told when typed; a reload that leaves nothing shows the link without the message.
    if (typed) ViewUpdater::showMessage("No Bookmarks Found. Hit enter to search with Google", 600, 100, 4);
    word += " - search with google";
    bc.foundBookmarksLabel->setActive(true);
    bc.foundBookmarksLabel->setUrl(webSearchAddress(searched_));
  } else {
    bc.foundBookmarksLabel->setActive(false);
  }
  // The list stops at the limit; the label tells how many there are.
  bc.foundBookmarksLabel->setStringValue(total > count ? grouped(count) + " of " + grouped(total) + " " + word
                                                       : grouped(count) + " " + word);
  bc.foundBookmarksLabel->setHidden(false);
}

bool BookmarkSearch::keepResultsShown() {
  if (!controller_ || !kestoData_ || !kestoData_->isSearching() || searched_.empty() || searching_) return false;
  if (!libraryReloaded_ && kestoData_->bookmarks() == shown_) return false;
  // Something reloaded the list (an import, a sync, a page update, a smart list's refresh) while
  // the field still names a search: the search runs again, so the list, the field and its count
  // agree, with what the library holds now.
  showResults(false);
  return true;
}

void BookmarkSearch::searchInScope() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!controller_ || !kestoData_) return;
  const auto& bc = listViews();
  if (!scopeSearchString_.empty()) lastUsedSearchString_ = scopeSearchString_;
  scopeSearchString_ = trimmedOfSpaces(bc.searchInScopeField ? bc.searchInScopeField->stringValue() : std::string());
  sameSearchCount_ = scopeSearchString_ == lastUsedSearchString_ ? sameSearchCount_ + 1 : 0;
  if (characterCount(scopeSearchString_) < 2) {
    isSearchingInScope_ = false;
    if (bc.occurrencesLabel) bc.occurrencesLabel->setStringValue("");
    lastUsedSearchString_.clear();
    sameSearchCount_ = 0;
    return;
  }
  isSearchingInScope_ = true;
  auto predicate = store::Predicate::parse(
      "(title contains[cd] %@) OR (url contains[cd] %@) OR (notes contains[cd] %@) OR (ANY tags.name contains[cd] %@)",
      fnd::Array(4, fnd::Value(scopeSearchString_)));
  std::vector<IndexPath> matches;
  const auto& list = kestoData_->bookmarks();
  for (std::size_t i = 0; predicate && i < list.size(); ++i)
    if (list[i] && predicate->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(list[i]))))
      matches.push_back(IndexPath::forItem(static_cast<std::int64_t>(i), 0));
  if (sameSearchCount_ >= static_cast<int>(matches.size())) sameSearchCount_ = 0;
  if (matches.empty()) {
    if (bc.occurrencesLabel) bc.occurrencesLabel->setStringValue("Not found");
    isSearchingInScope_ = false;
    return;
  }
  if (bc.occurrencesLabel) bc.occurrencesLabel->setStringValue(std::to_string(matches.size()) + " " + matchWord(matches.size()));
  selectBookmarks({matches[static_cast<std::size_t>(sameSearchCount_)]});
}

void BookmarkSearch::selectBookmarks(const std::vector<IndexPath>& indexPaths) {
  if (!kestoData_ || !controller_) return;
  const auto& list = kestoData_->bookmarks();
  if (list.empty()) return;
  std::vector<std::shared_ptr<Bookmark>> selection;
  std::unordered_set<const Bookmark*> seen;
  for (const auto& path : indexPaths) {
    if (path.item < 0) continue;
    const auto& b = list[static_cast<std::size_t>(path.item) % list.size()];
    if (seen.insert(b.get()).second) selection.push_back(b);
  }
  kestoData_->setSelectedBookmarks(selection);
  // The list highlights the selected bookmarks by identity and keeps their index paths.
  controller_->updateView();
}

void BookmarkSearch::selectBookmarksView() {
  if (!controller_ || !kestoData_) return;
  const auto& bc = listViews();
  if (window_) window_->makeFirstResponder(nullptr);
  if (!kestoData_->bookmarks().empty()) {
    if (!isSearchingInScope_ && window_ && bc.collectionView) window_->makeFirstResponder(bc.collectionView.get());
  } else if (!isSearchingInScope_) {
    std::string text = bc.searchField ? bc.searchField->stringValue() : std::string();
    if (!trimmedOfSpaces(text).empty()) sys::Workspace::openURL(webSearchAddress(text));
  }
}

bool BookmarkSearch::controlTextViewDoCommandBySelector(ui::Control&, ui::Command selector) {
  if (selector != ui::cmd::moveDown && selector != ui::cmd::insertTab && selector != ui::cmd::insertNewline) return false;
  // After the field has finished with the key.
  fnd::performAfterDelay(focusDelay_, lifetime_.whileAlive([this] { selectBookmarksView(); }));
  return true;
}

void BookmarkSearch::addActions(ui::ActionSet& set) {
  set.add(cmd::find, [this] { find(); });
  set.add(cmd::findInScope, [this] { findInScope(); });
}

}  // namespace kesto
