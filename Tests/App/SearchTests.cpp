// The bookmark searches: the library search with its options, the match count and the web
// search offered when nothing matches; the scope search stepping through the current list; the
// focus moving from the fields into the list.
#include "AppFixture.h"

#include "App/AppCommands.h"
#include "App/BookmarkSearch.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Net/URL.h"
#include "Platform/UI/Menu.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/Window.h"
#include "Platform/UI/Event.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarKeys.h"
#include "Views/SourceList.h"
#include "Views/SourceListItem.h"
#include "Views/LinkLabel.h"
#include "Views/Pathbar.h"
#include "Views/TextLabel.h"

#include <algorithm>
#include <functional>

namespace kesto::test {
namespace {

class SearchTest : public AppTest {
 protected:
  void TearDown() override {
    sys::Workspace::setLauncher(nullptr);
    AppTest::TearDown();
  }
  BookmarkSearch& search() { return ui->bookmarkSearch(); }
  // Types into the library field as the user does: the field's action runs the search.
  void type(const std::string& text) {
    controller().views().searchField->setStringValue(text);
    controller().views().searchField->sendAction();
  }
  std::vector<std::string> titles() {
    std::vector<std::string> out;
    for (const auto& b : dm().bookmarks()) out.push_back(b->title().value_or(""));
    std::sort(out.begin(), out.end());
    return out;
  }
  Bookmark::Ref tagged(const std::string& url, const std::string& title, const std::string& tagName) {
    auto b = add(url, title);
    auto tag = Tag::initEntity();
    tag->setName(tagName);
    b->addTag(tag);
    b->saveBookmark();
    return b;
  }
  void seed() {
    add("http://one.example/", "Alpha news");
    auto notes = add("http://two.example/", "Second");
    notes->setNotes("about alpha things");
    notes->saveBookmark();
    tagged("http://three.example/", "Third", "alphatag");
    add("http://alpha.example/", "Fourth");
    auto gone = add("http://five.example/", "Alpha trashed");
    gone->setTrashed(1);
    gone->saveBookmark();
    add("http://six.example/", "Unrelated");
  }
  // The seeded library and a folder "Reading" with one match of "alpha", built and shown.
  Folder::Ref seedWithFolder() {
    seed();
    auto reading = addFolder("Reading");
    add("http://inside.example/", "Alpha inside", reading);
    build(6);
    return reading;
  }
  // Waits for the end of a reload of the whole library (the folder list's refresh comes with it).
  void reloadLibrary() {
    int ends = 0;
    fnd::NotificationCenter::defaultCenter().addObserver(&ends, [&](const fnd::Notification&) { ++ends; },
                                                         UpdateFoldersNotification);
    dm().fetchAllBookmarksFromCoreData();
    ViewUpdater::updateFoldersCompletely();
    EXPECT_TRUE(runUntil([&] { return ends > 0; }, 10));
    fnd::NotificationCenter::defaultCenter().removeObserver(&ends);
    drainTurns();
  }
  std::string fieldText() { return controller().views().searchField->stringValue(); }
  std::string countText() { return controller().views().foundBookmarksLabel->stringValue(); }
  // Whether the search ends, its field and count emptied, over a list of `shown` bookmarks.
  ::testing::AssertionResult searchEndsOver(std::size_t shown) {
    if (runUntil([&] { return fieldText().empty() && dm().bookmarks().size() == shown; }, 5) && !dm().isSearching() &&
        !countShown())
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "'" << fieldText() << "' (" << countText() << "), "
                                         << dm().bookmarks().size() << " shown";
  }
  // The sidebar list holding a row titled `title`, and that row's item.
  std::pair<SourceList*, SourceListItem*> sidebarRow(const std::string& title) {
    std::function<std::pair<SourceList*, SourceListItem*>(ui::View&)> walk = [&](ui::View& v) {
      if (auto* list = dynamic_cast<SourceList*>(&v))
        for (long r = 0; r < list->numberOfRows(); ++r)
          if (auto* item = sourcelistitems::itemFrom(list->itemAtRow(r)); item && item->title() == title)
            return std::make_pair(list, item);
      for (const auto& sub : v.subviews())
        if (auto found = walk(*sub); found.first) return found;
      return std::pair<SourceList*, SourceListItem*>{};
    };
    return walk(*ui->sidebarPane().view());
  }
  // A plain click, press and release, in the middle of a sidebar row.
  void clickRow(const std::string& title) {
    auto [list, item] = sidebarRow(title);
    ASSERT_TRUE(list) << title;
    const fnd::Rect r = list->rectOfRow(list->rowForItem(item));
    const fnd::Point p = list->convertPointToView(fnd::Point{r.midX(), r.midY()}, nullptr);
    list->mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, p, 0, 1));
    list->mouseUp(ui::Event::mouse(ui::EventType::LeftMouseUp, p, 0, 1));
  }
  bool countShown() {
    const auto& found = *controller().views().foundBookmarksLabel;
    return !found.isHidden() && !found.stringValue().empty();
  }
};

TEST(WebSearchAddress, TheQueryIsOneFullyEncodedValue) {
  auto address = webSearchAddress("a&b #c+d ü");
  EXPECT_EQ(address, "https://www.google.com/search?q=a%26b%20%23c%2Bd%20%C3%BC");
  // One parameter only: nothing the user typed can add or end one.
  auto url = net::URL::fromString(address);
  ASSERT_TRUE(url);
  EXPECT_EQ(std::count(address.begin(), address.end(), '&'), 0);
  EXPECT_EQ(std::count(address.begin(), address.end(), '='), 1);
  EXPECT_EQ(fnd::removePercentEscapes(address.substr(address.find("q=") + 2)).value_or(""), "a&b #c+d ü");
}

TEST(LibrarySearchPredicate, EmptyPiecesAndBlankTextMakeNoClauses) {
  EXPECT_EQ(librarySearchPredicate("   ", true, true, true, true, true), nullptr);
  // A double space between two words gives the same query as one space.
  auto one = librarySearchPredicate("a b", true, false, false, false, false);
  auto two = librarySearchPredicate("a  b", true, false, false, false, false);
  ASSERT_TRUE(one && two);
  EXPECT_EQ(one->subpredicates().size(), two->subpredicates().size());
}

TEST_F(SearchTest, WordsAreSearchedInTheChosenFieldsOfLiveBookmarks) {
  seed();
  build(5);
  type("alpha");
  EXPECT_TRUE(dm().isSearching());
  EXPECT_EQ(titles(), (std::vector<std::string>{"Alpha news", "Fourth", "Second", "Third"}));
  EXPECT_EQ(controller().views().foundBookmarksLabel->stringValue(), "4 matches");
  EXPECT_FALSE(controller().views().foundBookmarksLabel->active());
  EXPECT_FALSE(controller().views().foundBookmarksLabel->isHidden());

  // Both words must match, each in some chosen field; two spaces change nothing.
  type("alpha  NEWS");
  EXPECT_EQ(titles(), std::vector<std::string>{"Alpha news"});
  EXPECT_EQ(controller().views().foundBookmarksLabel->stringValue(), "1 match");

  // One character searches nothing: the last result stays.
  type("x");
  EXPECT_EQ(titles(), std::vector<std::string>{"Alpha news"});

  // An emptied field ends the search and brings the list back.
  type("");
  EXPECT_FALSE(dm().isSearching());
  EXPECT_TRUE(controller().views().foundBookmarksLabel->isHidden());
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 5; }, 5)) << dm().bookmarks().size();
}

// Choosing another row of the folder list ends a search, whichever row it is: the field and its
// count are emptied, the row's own list is shown, and a reload of the library (as an import ends
// with, even one that brought nothing) shows it again rather than leaving it empty.
TEST_F(SearchTest, ChoosingAnotherRowEndsTheSearch) {
  auto reading = seedWithFolder();
  auto* folders = ui->foldersController();
  ASSERT_TRUE(folders);
  struct Row {
    const char* name;
    std::function<void()> choose;
    std::size_t shown;
  };
  const std::vector<Row> rows = {
      {"a folder", [&] { folders->selectFolderWithID(reading->folderID()); }, 1},
      {"Library", [&] { folders->selectLibraryView(); }, 6},
      {"Inbox", [&] { folders->selectInboxView(); }, 5},
      {"a folder after the Inbox", [&] { folders->selectFolderWithID(reading->folderID()); }, 1},
  };
  for (const auto& row : rows) {
    type("alpha");
    ASSERT_TRUE(dm().isSearching()) << row.name;
    ASSERT_TRUE(countShown()) << row.name;
    row.choose();
    EXPECT_TRUE(runUntil([&] { return fieldText().empty() && dm().bookmarks().size() == row.shown; }, 5))
        << row.name << ": '" << fieldText() << "', " << dm().bookmarks().size() << " shown";
    EXPECT_FALSE(dm().isSearching()) << row.name;
    EXPECT_FALSE(countShown()) << row.name << ": " << controller().views().foundBookmarksLabel->stringValue();
    reloadLibrary();
    EXPECT_EQ(dm().bookmarks().size(), row.shown) << row.name << " after a reload";
  }
}

// While a search is on, whatever reloads the list or the library (an import or a hand-over that
// brings nothing or something, a list reloaded under the results, a page update in a smart list)
// leaves the list showing what the field and its count say: the search runs again.
TEST_F(SearchTest, AReloadWhileSearchingSearchesAgain) {
  auto reading = seedWithFolder();
  auto* folders = ui->foldersController();
  ASSERT_TRUE(folders);
  folders->selectFolderWithID(reading->folderID());
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 1; }, 5));
  type("alpha");
  const std::vector<std::string> found{"Alpha inside", "Alpha news", "Fourth", "Second", "Third"};
  ASSERT_EQ(titles(), found);
  auto agree = [&](const std::vector<std::string>& want, const std::string& count) {
    return fieldText() == "alpha" && dm().isSearching() && titles() == want && countText() == count &&
           countShown();
  };
  // A reload of the whole library that brought nothing.
  reloadLibrary();
  EXPECT_TRUE(runUntil([&] { return agree(found, "5 matches"); }, 5))
      << "after a reload: " << titles().size() << " shown under '" << countText() << "'";
  // Also once the folder list has acted on the row it chose again after its selection delay.
  ASSERT_TRUE(waitPast(0.1));
  EXPECT_TRUE(agree(found, "5 matches")) << "later: " << titles().size() << " shown under '" << countText() << "'";
  // One that brought a match: it is among the results and counted.
  add("http://new.example/", "Alpha new", reading);
  reloadLibrary();
  auto more = found;
  more.insert(more.begin() + 1, "Alpha new");
  EXPECT_TRUE(runUntil([&] { return agree(more, "6 matches"); }, 5))
      << "after an import: " << titles().size() << " shown under '" << countText() << "'";
  // The folder's own list loaded under the results (a move into it, a change of order).
  dm().loadBookmarks();
  EXPECT_TRUE(agree(more, "6 matches")) << titles().size() << " shown under '" << countText() << "'";
  // A search whose one match a page update renamed away shows none after the next reload, and
  // offers the web search.
  type("fourth");
  ASSERT_EQ(titles(), std::vector<std::string>{"Fourth"});
  dm().bookmarks().front()->setTitle("Fifth");
  ASSERT_TRUE(WrenEntity::saveContext());
  dm().loadBookmarks();
  EXPECT_TRUE(dm().bookmarks().empty()) << titles().front();
  EXPECT_EQ(countText(), "0 matches - search with google");
}

// The same in a smart list of the History tab, which a page update rebuilds and loads again.
TEST_F(SearchTest, AHistoryListRebuiltWhileSearchingKeepsTheResults) {
  defaults().setString(SelectedHistoryView, SelectedView);
  defaults().setInteger(3, "CurrentlySelectedHistoryItem");  // Modified Today
  seed();
  build(5);
  ASSERT_TRUE(sidebarRow("Modified Today").first);
  type("news");
  ASSERT_EQ(titles(), std::vector<std::string>{"Alpha news"});
  // What a page update asks for: the list is rebuilt, its row chosen again and loaded.
  ViewUpdater::updateHistory();
  ASSERT_TRUE(waitPast(0.1));  // the row is chosen again after the list's selection delay
  drainTurns();
  EXPECT_EQ(titles(), std::vector<std::string>{"Alpha news"});
  EXPECT_EQ(countText(), "1 match");
  EXPECT_EQ(fieldText(), "news");
}

// Choosing a list ends the search before that list loads, also when the row chosen is the one
// already shown (clicking it opens no rename then) and when it is a row of a smart list.
TEST_F(SearchTest, ChoosingAListOrClickingTheRowShownEndsTheSearch) {
  auto reading = seedWithFolder();
  auto* folders = ui->foldersController();
  ASSERT_TRUE(folders);
  struct Step {
    const char* name;
    std::function<void()> show, choose;
    std::size_t shown;
  };
  const std::vector<Step> steps = {
      {"the folder shown", [&] { folders->selectFolderWithID(reading->folderID()); }, [&] { clickRow("Reading"); }, 1},
      {"the Library shown", [&] { folders->selectLibraryView(); }, [&] { clickRow("Library"); }, 6},
  };
  for (const auto& step : steps) {
    step.show();
    ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == step.shown; }, 5)) << step.name;
    type("alpha");
    ASSERT_TRUE(dm().isSearching()) << step.name;
    step.choose();
    EXPECT_TRUE(searchEndsOver(step.shown)) << step.name;
    ASSERT_TRUE(waitPast(ui::Event::doubleClickInterval()));
    EXPECT_FALSE(sidebarRow("Reading").first->isEditing()) << step.name << ": the click opened a rename";
  }
  // In the History tab (through its stored choice, as at start) another row, then the row shown.
  defaults().setString(SelectedHistoryView, SelectedView);
  defaults().setInteger(3, "CurrentlySelectedHistoryItem");
  fnd::NotificationCenter::defaultCenter().postNotificationName(SelectCurrentSidebarViewNotification);
  ASSERT_TRUE(runUntil([&] { return sidebarRow("Modified Today").first != nullptr && dm().bookmarks().size() == 6; }, 5))
      << dm().bookmarks().size();
  for (const char* row : {"Added Today", "Added Today"}) {
    type("alpha");
    ASSERT_TRUE(dm().isSearching()) << row;
    if (!dm().isSearching()) continue;
    clickRow(row);
    EXPECT_TRUE(searchEndsOver(6)) << row;
  }
  // A tag of the Tags tab.
  defaults().setString(SelectedTagsView, SelectedView);
  fnd::NotificationCenter::defaultCenter().postNotificationName(SelectCurrentSidebarViewNotification);
  ASSERT_TRUE(runUntil([&] { return sidebarRow("alphatag").first != nullptr; }, 5));
  type("alpha");
  ASSERT_TRUE(dm().isSearching());
  clickRow("alphatag");
  EXPECT_TRUE(searchEndsOver(1));
  EXPECT_EQ(titles(), std::vector<std::string>{"Third"});
}

TEST_F(SearchTest, DeletingDuringASearchRunsItAgainSoTheTrashedLeaveTheResults) {
  seed();
  build(5);
  type("alpha");
  ASSERT_EQ(titles(), (std::vector<std::string>{"Alpha news", "Fourth", "Second", "Third"}));
  for (const auto& b : dm().bookmarks())
    if (b->title().value_or("") == "Second") dm().setSelectedBookmarks({b});
  controller().deleteBookmarks();
  EXPECT_TRUE(dm().isSearching());
  EXPECT_EQ(titles(), (std::vector<std::string>{"Alpha news", "Fourth", "Third"}));
  EXPECT_EQ(controller().views().foundBookmarksLabel->stringValue(), "3 matches");
}

TEST_F(SearchTest, TheCountTellsHowManyMatchWhenTheListStopsAtItsLimit) {
  // One save for all: a save each would take most of the test's time.
  auto inbox = Folder::inboxFolder();
  for (int i = 0; i < 1205; ++i) {
    auto b = Bookmark::initEntity();
    b->setUniqueID("many-" + std::to_string(i));
    b->setUrl("http://many.example/" + std::to_string(i));
    b->setTitle("Many " + std::to_string(i));
    b->setFolder(inbox);
  }
  ASSERT_TRUE(WrenEntity::saveContext());
  build(1205);
  type("many");
  EXPECT_EQ(dm().bookmarks().size(), 1000u);
  EXPECT_EQ(controller().views().foundBookmarksLabel->stringValue(), "1,000 of 1,205 matches");
  type("many 120");
  EXPECT_EQ(controller().views().foundBookmarksLabel->stringValue(), "7 matches");  // 120, 1120, 1200–1204
}

TEST_F(SearchTest, OptionsChooseTheFieldsAndNoneMeansTitles) {
  seed();
  build(5);
  // Only the content option, which has no clause: titles are searched.
  for (const char* key : {"SearchTitle", "SearchURL", "SearchNotes", "SearchTags", "SearchFolders"})
    defaults().setBool(false, key);
  defaults().setBool(true, "SearchContent");
  type("alpha");
  EXPECT_EQ(titles(), std::vector<std::string>{"Alpha news"});

  // Every option off: the menu is repaired to titles before the search.
  defaults().setBool(false, "SearchContent");
  type("alph");
  EXPECT_TRUE(defaults().boolForKey("SearchTitle"));
  auto items = controller().views().searchField->searchMenuItems();
  auto titleItem = std::find_if(items.begin(), items.end(), [](const auto& i) { return i.tag == 1; });
  ASSERT_NE(titleItem, items.end());
  EXPECT_TRUE(titleItem->on);

  // Choosing the tags item from the menu turns it on, checks it and searches again.
  search().toggleSearchOption(5);
  EXPECT_TRUE(defaults().boolForKey("SearchTags"));
  items = controller().views().searchField->searchMenuItems();
  EXPECT_TRUE(std::find_if(items.begin(), items.end(), [](const auto& i) { return i.tag == 5; })->on);
  EXPECT_EQ(titles(), (std::vector<std::string>{"Alpha news", "Third"}));
}

TEST_F(SearchTest, NothingFoundOffersTheWebSearchAndReturnOpensIt) {
  std::vector<std::vector<std::string>> launched;
  sys::Workspace::setLauncher([&](const std::string&, const std::vector<std::string>& args) {
    launched.push_back(args);
    return true;
  });
  seed();
  build(5);
  type("a&b #c+d ü");
  EXPECT_TRUE(dm().bookmarks().empty());
  auto& label = *controller().views().foundBookmarksLabel;
  EXPECT_EQ(label.stringValue(), "0 matches - search with google");
  EXPECT_TRUE(label.active());
  EXPECT_EQ(label.url(), webSearchAddress("a&b #c+d ü"));

  // Return in the field with an empty list searches the web.
  search().setFocusDelay(0);
  EXPECT_TRUE(search().controlTextViewDoCommandBySelector(*controller().views().searchField, ui::cmd::insertNewline));
  auto opened = [&] {
    for (const auto& args : launched)
      if (!args.empty() && args.back() == "https://www.google.com/search?q=a%26b%20%23c%2Bd%20%C3%BC") return true;
    return false;
  };
  EXPECT_TRUE(runUntil([&] { return opened(); }, 30));
  EXPECT_FALSE(search().controlTextViewDoCommandBySelector(*controller().views().searchField, ui::cmd::moveUp));
}

TEST_F(SearchTest, DownMovesTheFocusIntoANonEmptyList) {
  seed();
  build(5);
  ui->window().makeFirstResponder(controller().views().searchField.get());
  type("alpha");
  search().setFocusDelay(0);
  EXPECT_TRUE(search().controlTextViewDoCommandBySelector(*controller().views().searchField, ui::cmd::moveDown));
  ASSERT_TRUE(runUntil([&] { return ui->window().firstResponder() == ui->collectionView().get(); }, 30));
}

TEST_F(SearchTest, FindShowsTheListOnlyBoxAndItLimitsTheSearchToTheList) {
  seed();
  build(5);
  auto& box = *controller().views().folderSearchOnlyButton;
  EXPECT_TRUE(box.isHidden());
  search().findInScope();
  EXPECT_FALSE(box.isHidden());
  EXPECT_EQ(box.state(), 1);
  EXPECT_EQ(ui->window().firstResponder(), controller().views().searchField.get());
  search().find();
  EXPECT_EQ(box.state(), 0);

  // Limited to the folder shown, only its matches are found.
  auto folder = addFolder("Reading");
  auto inside = add("http://inside.example/", "Alpha inside", folder);
  dm().addBookmarks({inside});
  dm().setCurrentFolder(folder);
  dm().loadBookmarks();
  box.setState(1);
  type("alpha");
  EXPECT_EQ(titles(), std::vector<std::string>{"Alpha inside"});
  box.setState(0);
  type("alpha");
  EXPECT_EQ(titles().size(), 5u);
}

// The path bar names the folder whose list is shown: it follows a rename of the folder or of an
// ancestor, names none while the results come from the whole library, and comes back for a
// search in the list or when the search ends.
TEST_F(SearchTest, ThePathBarFollowsARenameAndALibraryWideSearch) {
  seed();
  auto top = addFolder("Top");
  auto low = addFolder("Low", top->folderID());
  add("http://low.example/", "Alpha low", low);
  build(6);
  auto* folders = ui->foldersController();
  ASSERT_TRUE(folders);
  auto path = [&] {
    std::vector<std::string> out;
    for (const auto& cell : ui->pathbar()->pathComponentCells()) out.push_back(cell->title());
    return out;
  };
  folders->selectFolderWithID(low->folderID());
  ASSERT_EQ(path(), (std::vector<std::string>{"Top", "Low"}));
  ASSERT_TRUE(folders->renameFolder(top->folderID(), "Upper"));
  EXPECT_EQ(path(), (std::vector<std::string>{"Upper", "Low"}));

  search().find();
  type("alpha");
  ASSERT_EQ(titles().size(), 5u);
  EXPECT_TRUE(path().empty()) << "results of the whole library are in no one folder";
  controller().views().folderSearchOnlyButton->setState(1);
  type("alpha");
  EXPECT_EQ(titles(), std::vector<std::string>{"Alpha low"});
  EXPECT_EQ(path(), (std::vector<std::string>{"Upper", "Low"}));
  controller().views().folderSearchOnlyButton->setState(0);
  type("alpha");
  EXPECT_TRUE(path().empty());
  type("");
  EXPECT_EQ(path(), (std::vector<std::string>{"Upper", "Low"}));
}

TEST_F(SearchTest, TheScopeSearchStepsThroughItsMatchesAndStartsOver) {
  add("http://a.example/", "match one");
  add("http://b.example/", "other");
  add("http://c.example/", "match two");
  add("http://d.example/", "match three");
  build(4);
  auto& field = *controller().views().searchInScopeField;
  auto selected = [&] {
    return dm().selectedBookmarks().size() == 1 ? dm().selectedBookmarks()[0]->title().value_or("") : "";
  };
  std::vector<std::string> order;
  for (const auto& b : dm().bookmarks())
    if (b->title()->rfind("match", 0) == 0) order.push_back(*b->title());
  ASSERT_EQ(order.size(), 3u);
  field.setStringValue("MATCH");
  for (int run = 0; run < 4; ++run) {
    field.sendAction();
    EXPECT_EQ(selected(), order[static_cast<std::size_t>(run % 3)]) << "run " << run;
    EXPECT_TRUE(search().isSearchingInScope());
  }
  EXPECT_EQ(controller().views().occurrencesLabel->stringValue(), "3 matches");
  // The highlight is on the selected match.
  auto paths = ui->collectionView()->indexPathsForSelectedItems();
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(controller().bookmarkAtIndexPath(*paths.begin())->title().value_or(""), order[0]);

  field.setStringValue("zzz");
  field.sendAction();
  EXPECT_EQ(controller().views().occurrencesLabel->stringValue(), "Not found");
  EXPECT_FALSE(search().isSearchingInScope());

  field.setStringValue("m");
  field.sendAction();
  EXPECT_EQ(controller().views().occurrencesLabel->stringValue(), "");
  EXPECT_EQ(search().sameSearchCount(), 0);
}

// The typing search answers from prepared texts; it must find what the store query finds, in
// the same order, and see every saved change.
TEST_F(SearchTest, PreparedTextsAnswerAsTheStoreQueryAndFollowSaves) {
  seed();
  auto folder = addFolder("Écoles");
  auto inFolder = add("http://school.example/", "Résumé ALPHA", folder);
  auto blocked = add("http://blocked.example/", "alpha blocked");
  blocked->setBlocked(1);
  blocked->saveBookmark();
  build(6);
  auto storeAnswer = [&](const std::string& text) {
    // The store's answer with no search on show: one on show would put its own results back.
    dm().setIsSearching(false);
    dm().applySearchPredicate(librarySearchPredicate(text, true, true, true, true, true));
    std::vector<std::string> out;
    for (const auto& b : dm().bookmarks()) out.push_back(b->title().value_or(""));
    return out;
  };
  auto typedAnswer = [&](const std::string& text) {
    type(text);
    std::vector<std::string> out;
    for (const auto& b : dm().bookmarks()) out.push_back(b->title().value_or(""));
    return out;
  };
  for (const char* text : {"alpha", "ALPHA news", "resume", "ecoles", "ÉC", "example", "alphatag", "zz", "page  alpha"}) {
    auto expected = storeAnswer(text);
    EXPECT_EQ(typedAnswer(text), expected) << text;
  }
  EXPECT_EQ(typedAnswer("ecoles"), std::vector<std::string>{"Résumé ALPHA"});

  // A saved edit is found by the next keystroke.
  inFolder->setTitle("Renamed zebra");
  inFolder->saveBookmark();
  EXPECT_EQ(typedAnswer("zebra"), std::vector<std::string>{"Renamed zebra"});
}

// Typing letter by letter narrows the last result; deleting letters, changing the fields or a
// save must not keep that narrowing. Every step answers as the store query.
TEST_F(SearchTest, EachKeystrokeAnswersAsTheStoreQueryWhileTheWordsGrowAndShrink) {
  seed();
  tagged("http://tags.example/", "Two tags", "xxab");
  auto second = Tag::initEntity();
  second->setName("cdyy");
  auto twoTags = add("http://joined.example/", "Ends with ab");
  twoTags->addTag(second);
  twoTags->saveBookmark();
  add("http://next.example/", "cd starts this one");
  build(8);
  auto answer = [&](const std::string& text, bool byStore) {
    if (byStore) {
      dm().setIsSearching(false);  // the store's answer: a search on show would put its results back
      dm().applySearchPredicate(librarySearchPredicate(text, true, true, true, true, true));
    } else {
      type(text);
    }
    std::vector<std::string> out;
    for (const auto& b : dm().bookmarks()) out.push_back(b->title().value_or(""));
    return out;
  };
  const std::vector<std::string> steps = {"al", "alp", "alph", "alpha", "alpha ", "alpha n", "alpha ne", "alpha n",
                                          "alpha", "alp", "ab", "abc", "abcd", "bcd", "ab cd", "\xcc\x81 alpha",
                                          "t", "th", "thi", "this", "xx", "xxab", "xxabc"};
  for (const auto& text : steps) {
    if (text.size() < 2) continue;
    auto expected = answer(text, true);
    EXPECT_EQ(answer(text, false), expected) << text;
  }
  // No word runs from one text into the next: not across two tags, nor into the next bookmark.
  EXPECT_TRUE(answer("abcd", false).empty());
  EXPECT_TRUE(answer("xxabcdyy", false).empty());

  // The same word with more fields chosen finds more than the narrowed titles-only result.
  for (const char* key : {"SearchURL", "SearchNotes", "SearchTags", "SearchFolders"}) defaults().setBool(false, key);
  EXPECT_EQ(answer("alpha", false), (std::vector<std::string>{"Alpha news"}));
  search().toggleSearchOption(3);  // notes
  EXPECT_EQ(titles(), (std::vector<std::string>{"Alpha news", "Second"}));

  // A bookmark renamed between two keystrokes of a growing word is among the matches.
  type("alph");
  for (const auto& b : dm().allBookmarks())
    if (b->title().value_or("") == "Unrelated") {
      b->setTitle("Alphabet late");
      b->saveBookmark();
    }
  type("alpha");
  EXPECT_EQ(titles(), (std::vector<std::string>{"Alpha news", "Alphabet late", "Second"}));
}

TEST_F(SearchTest, CtrlFFocusesTheSearchField) {
  build(0);
  std::shared_ptr<ui::MenuItem> find;
  for (const auto& top : ui->mainMenu()->items())
    if (top->submenu())
      for (const auto& item : top->submenu()->items())
        if (item->action() == cmd::find) find = item;
  ASSERT_TRUE(find);
  EXPECT_EQ(find->keyEquivalent(), "f");
  ASSERT_TRUE(find->target());
  find->target()->performAction(cmd::find, nullptr);
  EXPECT_EQ(ui->window().firstResponder(), controller().views().searchField.get());
}

}  // namespace
}  // namespace kesto::test
