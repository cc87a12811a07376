#include "MenuBar/MenuBookmarksController.h"

#include "Harness/LocaleGuard.h"
#include "Harness/RecordedLaunches.h"
#include "MenuBar/MenuBarWindow.h"
#include "Harness/TestDialogResponder.h"
#include "Model/Base64.h"
#include "Model/LibraryFixture.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/ComboBox.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/TokenField.h"
#include "Platform/UI/WidgetHostView_p.h"
#include "Platform/UI/Window.h"
#include "Platform/UI/Label.h"
#include "Synchronize/TestAlertResponder.h"
#include "Views/BRWRoundedComboBox.h"

#include <algorithm>
#include <filesystem>
#include <optional>
// Last: the toolkit's headers define names the store's headers use.
#include "Harness/FocusedKeys.h"

namespace kesto::test {
namespace {

class MenuBookmarks : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    responder = TestDialogResponder::install();
    news = folder("f-news", "News");
    redBus = bookmark("https://bus.example/red", "Red bus", news);
    redCar = bookmark("https://car.example/red", "Red car", news);
    tagged = bookmark("https://other.example/#top", "Red bus", news);
    auto car = Tag::initEntity();
    car->setName("car");
    tagged->addTag(car);
    auto trashed = bookmark("https://gone.example/red", "Red car trashed", news);
    trashed->setTrashed(1);
    auto blocked = bookmark("https://locked.example/red", "Red car blocked", news);
    blocked->setBlocked(1);
    save();
    dm.setPreferences(prefs);
    load(dm, true);
    menu.kestoData = &dm;
    menu.webSearchAddress = [](const std::string& text) { return "https://search.example/search?q=" + text; };
    menu.awakeFromNib();
  }
  void TearDown() override {
    TestDialogResponder::uninstall();
    LibraryTest::TearDown();
  }

  std::vector<std::string> type(const std::string& text) {
    menu.searchField->setStringValue(text);
    menu.search();
    return sorted(titles(dm.menuBookmarks()));
  }
  void choose(const std::vector<int>& items) {
    std::vector<IndexPath> paths;
    for (int i : items) paths.push_back(IndexPath::forItem(i, 0));
    menu.collectionView->deselectAllItems();
    menu.collectionView->selectItemsAtIndexPaths(paths, false);
    menu.didChangeSelection();
  }

  DataManager dm;
  MenuBookmarksController menu;
  std::shared_ptr<TestDialogResponder> responder;
  RecordedLaunches launches;
  Folder::Ref news;
  Bookmark::Ref redBus, redCar, tagged;
};

TEST_F(MenuBookmarks, FirstRunFieldsAndAChoiceThatCannotBeEmpty) {
  auto& d = fnd::UserDefaults::standard();
  EXPECT_EQ(d.stringForKey("SearchMenuSet").value_or(""), "Yes");
  for (const auto& o : menuSearchOptions()) EXPECT_EQ(d.boolForKey(o.key), o.firstValue) << o.key;
  for (const auto& o : menuSearchOptions())
    if (d.boolForKey(o.key)) menu.toggleSearchOption(o.tag);
  // Turning every field off turns the title back on, and titles are searched.
  EXPECT_TRUE(d.boolForKey("SearchTitleMenu"));
  EXPECT_EQ(type("car"), (std::vector<std::string>{"Red car"}));
}

TEST_F(MenuBookmarks, EveryWordInSomeChosenFieldOfLiveBookmarks) {
  auto& d = fnd::UserDefaults::standard();
  d.setBool(false, "SearchURLMenu");
  d.setBool(false, "SearchNotesMenu");
  d.setBool(false, "SearchFoldersMenu");
  // "red car" with titles and tags: the tagged "Red bus" is found, the untagged one is not; the
  // trashed and the blocked ones never are.
  EXPECT_EQ(type("red car"), (std::vector<std::string>{"Red bus", "Red car"}));
  EXPECT_EQ(type("  red   car "), (std::vector<std::string>{"Red bus", "Red car"}));  // no empty words
  EXPECT_TRUE(menu.firefoxButton && !menu.searchGoogle());
  // One letter changes nothing; quotes, backslashes and format marks are just text.
  EXPECT_EQ(type("r"), (std::vector<std::string>{"Red bus", "Red car"}));
  EXPECT_TRUE(type("a'b\\\"c %@").empty());
  EXPECT_TRUE(menu.searchGoogle());
  // An empty field empties the list and offers the web search.
  EXPECT_TRUE(type("").empty());
  EXPECT_TRUE(menu.searchGoogle());
}

TEST_F(MenuBookmarks, KeysInTheFieldGoToTheListOrTheWebSearch) {
  type("nothing here & more");
  ASSERT_TRUE(menu.searchGoogle());
  // Return opens the web search with the whole text, given to the page as typed.
  EXPECT_FALSE(menu.controlTextViewDoCommandBySelector(*menu.searchField, ui::cmd::insertNewline));
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].program, "xdg-open");
  EXPECT_EQ(launches[0].arguments, (std::vector<std::string>{"https://search.example/search?q=nothing here & more"}));
  type("red");
  EXPECT_TRUE(menu.controlTextViewDoCommandBySelector(*menu.searchField, ui::cmd::moveDown));
  EXPECT_EQ(launches.size(), 1u);
}

TEST_F(MenuBookmarks, OpeningRecordsTheVisitAndKeepsTheAddressAsStored) {
  tagged->setUrl("https://other.example/%E0%A4%95?a=%25#top");
  type("red");
  auto& list = dm.menuBookmarks();
  int at = int(std::find(list.begin(), list.end(), tagged) - list.begin());
  choose({at, at});
  ASSERT_EQ(dm.selectedBookmarksMenu().size(), 1u);
  menu.openSelectedBookmarks();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].arguments, (std::vector<std::string>{"https://other.example/%E0%A4%95?a=%25#top"}));
  EXPECT_EQ(tagged->timesOpened(), 1);
  EXPECT_TRUE(tagged->lastOpened());
  // With nothing selected nothing opens; a stale selection past the list's end is skipped.
  choose({});
  menu.openSelectedBookmarks();
  EXPECT_EQ(launches.size(), 1u);
  dm.clearMenuBookmarks();
  menu.didChangeSelection();
  EXPECT_TRUE(dm.selectedBookmarksMenu().empty());
}

TEST_F(MenuBookmarks, DraggingCardsOutWritesOneIdentifierStringEach) {
  auto& pasteboard = ui::Pasteboard::general();
  pasteboard.clearContents();
  pasteboard.setString("kept");
  type("red");
  choose({});
  EXPECT_FALSE(menu.collectionViewWriteItemsToPasteboard(*menu.collectionView, pasteboard));
  EXPECT_EQ(pasteboard.stringForType(ui::PasteboardType::String).value_or(""), "kept") << "nothing selected: untouched";
  choose({0, 1});
  ASSERT_EQ(dm.selectedBookmarksMenu().size(), 2u);
  ASSERT_TRUE(menu.collectionViewWriteItemsToPasteboard(*menu.collectionView, pasteboard));
  std::vector<std::string> written;
  for (const auto& item : pasteboard.pasteboardItems())
    written.push_back(item.stringForType(ui::PasteboardType::String).value_or(""));
  std::vector<std::string> expected;
  for (const auto& b : dm.selectedBookmarksMenu()) expected.push_back("bm:" + b->uniqueIDValue().value_or("?"));
  EXPECT_EQ(written, expected);
  pasteboard.clearContents();
}

// A press on a card of a selection of several keeps them all for a drag; a click without a drag
// selects that card alone; a press elsewhere and the modifiers act at once.
TEST_F(MenuBookmarks, APressKeepsASelectionOfSeveralForADrag) {
  ui::Window window(fnd::Rect(0, 0, 560, 497));
  window.setContentView(menu.view());
  window.makeKeyAndOrderFront();
  ASSERT_EQ(type("red").size(), 3u);
  auto& list = *menu.collectionView;
  list.layoutSubtreeIfNeeded();
  window.displayIfNeeded();
  const auto at = [&](int item) {
    const fnd::Rect r = list.rectForItemAtIndexPath(IndexPath::forItem(item, 0));
    return list.documentView()->convertPointToView(fnd::Point{r.midX(), r.midY()}, nullptr);
  };
  const auto send = [&](ui::EventType type, int item, std::uint64_t flags = 0) {
    window.sendEvent(ui::Event::mouse(type, at(item), flags, 1, &window));
  };
  const auto selected = [&] {
    std::vector<std::int64_t> items;
    for (const auto& p : list.selectedIndexes()) items.push_back(p.item);
    std::sort(items.begin(), items.end());
    return items;
  };
  choose({0, 1});
  send(ui::EventType::LeftMouseDown, 1);
  EXPECT_EQ(selected(), (std::vector<std::int64_t>{0, 1})) << "held while the button is down";
  menu.didChangeSelection();
  EXPECT_EQ(dm.selectedBookmarksMenu().size(), 2u) << "what a drag now carries";
  send(ui::EventType::LeftMouseUp, 1);
  EXPECT_EQ(selected(), (std::vector<std::int64_t>{1})) << "a click without a drag selects the card alone";
  // A press on a card outside the selection selects it alone at once.
  choose({0, 1});
  send(ui::EventType::LeftMouseDown, 2);
  EXPECT_EQ(selected(), (std::vector<std::int64_t>{2}));
  send(ui::EventType::LeftMouseUp, 2);
  // Ctrl still takes a selected card out of the selection.
  choose({0, 1});
  send(ui::EventType::LeftMouseDown, 1, ui::ModifierFlag::Command);
  send(ui::EventType::LeftMouseUp, 1, ui::ModifierFlag::Command);
  EXPECT_EQ(selected(), (std::vector<std::int64_t>{0}));
  window.orderOut();
}

TEST_F(MenuBookmarks, FavouritesAndRecentlyOpenedLists) {
  // An empty list says what puts a bookmark there; the search's empty list says nothing.
  menu.showFavorites();
  EXPECT_TRUE(dm.menuBookmarks().empty());
  ASSERT_FALSE(menu.emptyListHint->isHidden());
  EXPECT_NE(menu.emptyListHint->stringValue().find("favorite"), std::string::npos);
  // The recent list has no date window and needs no visit: every bookmark neither trashed nor
  // blocked, the ones never opened too.
  menu.showVisitedWeek();
  EXPECT_EQ(sorted(titles(dm.menuBookmarks())), (std::vector<std::string>{"Red bus", "Red bus", "Red car"}));
  EXPECT_TRUE(menu.emptyListHint->isHidden());
  menu.showSearch();
  EXPECT_TRUE(menu.emptyListHint->isHidden());

  redCar->setIsFavorite(1);
  redBus->setLastOpened(fnd::Date::now().dateByAddingTimeInterval(-3600));
  tagged->setLastOpened(fnd::Date::now());
  save();
  menu.showFavorites();
  EXPECT_EQ(titles(dm.menuBookmarks()), (std::vector<std::string>{"Red car"}));
  EXPECT_TRUE(menu.emptyListHint->isHidden());
  EXPECT_EQ(menu.favoritesButton->alphaValue(), 1.0);
  EXPECT_EQ(menu.searchButton->alphaValue(), 0.5);
  // The most recently opened first, those never opened after them.
  menu.showVisitedWeek();
  EXPECT_EQ(dm.menuBookmarks(), (std::vector<Bookmark::Ref>{tagged, redBus, redCar}));
  EXPECT_TRUE(menu.emptyListHint->isHidden());
  menu.showSearch();
  EXPECT_TRUE(dm.menuBookmarks().empty());
  EXPECT_TRUE(menu.showingFind());
  // Only a library without a live bookmark leaves it empty, and then it says so.
  for (const auto& b : {redBus, redCar, tagged}) b->setTrashed(1);
  save();
  menu.showVisitedWeek();
  EXPECT_TRUE(dm.menuBookmarks().empty());
  EXPECT_FALSE(menu.emptyListHint->isHidden());
  EXPECT_NE(menu.emptyListHint->stringValue().find("most recently opened"), std::string::npos);
}

// Firefox is installed here (its desktop entry in the test's home, and the machine's entries out
// of sight), so its button can be on; questions are answered by `alerts`.
class MenuWithFirefox : public MenuBookmarks {
 protected:
  void SetUp() override {
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    savedDataDirs = dirs ? std::optional<std::string>(dirs) : std::nullopt;
    const std::string machine = std::string(std::getenv("HOME")) + "/no-machine-entries";
    std::filesystem::create_directories(machine);
    setenv("XDG_DATA_DIRS", machine.c_str(), 1);
    const std::string applications = std::string(std::getenv("XDG_DATA_HOME")) + "/applications";
    std::filesystem::create_directories(applications);
    writeFile(applications + "/firefox.desktop", "[Desktop Entry]\nType=Application\nName=Firefox\nExec=firefox %u\n");
    alerts = TestAlertResponder::install();
    MenuBookmarks::SetUp();
  }
  void TearDown() override {
    TestAlertResponder::uninstall();
    MenuBookmarks::TearDown();
    if (savedDataDirs) setenv("XDG_DATA_DIRS", savedDataDirs->c_str(), 1);
    else unsetenv("XDG_DATA_DIRS");
  }
  std::shared_ptr<TestAlertResponder> alerts;
  std::optional<std::string> savedDataDirs;
};

// An address of another scheme is asked about as the library window asks, once the double click
// has been handled, and opens only on Open; the browser buttons, which open web pages only, are
// off while nothing selected is one.
TEST_F(MenuWithFirefox, AnotherSchemeIsAskedAboutAndNoBrowserButtonTakesIt) {
  redCar->setUrl("ftp://files.example/red");
  save();
  type("red");
  const auto& list = dm.menuBookmarks();
  const int ftp = int(std::find(list.begin(), list.end(), redCar) - list.begin());
  const int web = int(std::find(list.begin(), list.end(), redBus) - list.begin());
  ASSERT_LT(std::size_t(std::max(ftp, web)), list.size());
  choose({web});
  EXPECT_TRUE(menu.firefoxButton->isEnabled());
  choose({ftp, web});
  EXPECT_TRUE(menu.firefoxButton->isEnabled()) << "the web page of the two opens";
  choose({ftp});
  EXPECT_FALSE(menu.firefoxButton->isEnabled());
  menu.openSelectedBookmarkInBrowser("org.mozilla.firefox");
  EXPECT_TRUE(launches.empty());

  alerts->answer = 1;  // Open
  menu.collectionViewDidDoubleClickItemAtIndexPath(*menu.collectionView, IndexPath::forItem(ftp, 0));
  EXPECT_TRUE(alerts->shown.empty()) << "not asked inside the click's handling";
  ASSERT_TRUE(runUntil([&] { return !alerts->shown.empty(); }));
  EXPECT_EQ(alerts->shown[0].title, "Open a “ftp:” address?");
  EXPECT_EQ(alerts->shown[0].buttons, (std::vector<std::string>{"Cancel", "Open"}));
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].arguments, std::vector<std::string>{"ftp://files.example/red"});
  // Return in the list (its notification) asks as well; Cancel opens nothing.
  alerts->answer = 0;
  ViewUpdater::openSelectedBookmarksMenu();
  ASSERT_TRUE(runUntil([&] { return alerts->shown.size() == 2; }));
  EXPECT_EQ(launches.size(), 1u);
}

// Only an address handed over is a visit: Cancel on another scheme's question leaves the count,
// the date and Recent as they were; Open counts it once and it heads Recent.
TEST_F(MenuWithFirefox, ACancelledOpenIsNoVisit) {
  redCar->setUrl("ftp://files.example/red");
  save();
  auto openAnswering = [&](const Bookmark::Ref& b, int answer) {
    alerts->answer = answer;
    const std::size_t asked = alerts->shown.size();
    type("red");
    const auto& list = dm.menuBookmarks();
    const int at = int(std::find(list.begin(), list.end(), b) - list.begin());
    ASSERT_LT(std::size_t(at), list.size());
    choose({at});
    menu.openSelectedBookmarks();
    if (b == redCar) {
      ASSERT_TRUE(runUntil([&] { return alerts->shown.size() == asked + 1; }));
    }
  };
  openAnswering(redBus, 0);
  ASSERT_EQ(launches.size(), 1u);
  openAnswering(redCar, 0);  // Cancel
  EXPECT_EQ(launches.size(), 1u);
  EXPECT_EQ(redCar->timesOpened(), 0);
  EXPECT_FALSE(redCar->lastOpened());
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges());
  menu.showVisitedWeek();
  ASSERT_FALSE(dm.menuBookmarks().empty());
  EXPECT_EQ(dm.menuBookmarks().front()->url(), redBus->url());
  menu.showSearch();
  openAnswering(redCar, 1);  // Open
  EXPECT_EQ(launches.size(), 2u);
  EXPECT_EQ(redCar->timesOpened(), 1);
  EXPECT_TRUE(redCar->lastOpened());
  menu.showVisitedWeek();
  ASSERT_FALSE(dm.menuBookmarks().empty());
  EXPECT_EQ(dm.menuBookmarks().front()->url(), redCar->url());
}

// A browser button's launch is a visit only once the browser started: a program that did not
// start, or a browser removed since the window looked, counts nothing, and the user is told so
// by name, once the click has been handled.
TEST_F(MenuWithFirefox, ABrowserThatDoesNotStartIsNoVisit) {
  type("red");
  const auto& list = dm.menuBookmarks();
  const int at = int(std::find(list.begin(), list.end(), redBus) - list.begin());
  ASSERT_LT(std::size_t(at), list.size());
  choose({at});
  ASSERT_TRUE(menu.firefoxButton->isEnabled());
  launches.failing = true;
  menu.openSelectedBookmarkInBrowser("org.mozilla.firefox");
  EXPECT_EQ(launches.size(), 1u) << "tried";
  EXPECT_EQ(redBus->timesOpened(), 0);
  EXPECT_FALSE(redBus->lastOpened());
  EXPECT_TRUE(alerts->shown.empty()) << "not told inside the click";
  ASSERT_TRUE(runUntil([&] { return alerts->shown.size() == 1; }));
  EXPECT_EQ(alerts->shown[0].title, "Firefox did not start");
  EXPECT_EQ(alerts->shown[0].message, "The page was not opened. Its program could not be started.");
  launches.failing = false;
  menu.openSelectedBookmarkInBrowser("org.mozilla.firefox");
  EXPECT_EQ(launches.size(), 2u);
  EXPECT_EQ(redBus->timesOpened(), 1);
  EXPECT_TRUE(redBus->lastOpened());
  bool queuedAfter = false;  // what the launch queued runs first
  fnd::DispatchQueue::main().async([&] { queuedAfter = true; });
  ASSERT_TRUE(runUntil([&] { return queuedAfter; }));
  EXPECT_EQ(alerts->shown.size(), 1u) << "a start is told of by nothing";
  // Removed while the window still offers it.
  std::filesystem::remove(std::string(std::getenv("XDG_DATA_HOME")) + "/applications/firefox.desktop");
  menu.openSelectedBookmarkInBrowser("org.mozilla.firefox");
  EXPECT_EQ(launches.size(), 2u);
  EXPECT_EQ(redBus->timesOpened(), 1);
  ASSERT_TRUE(runUntil([&] { return alerts->shown.size() == 2; }));
  EXPECT_EQ(alerts->shown[1].title, "Firefox did not start");
  EXPECT_EQ(alerts->shown[1].message, "The page was not opened. Firefox is not installed.");
}

TEST_F(MenuBookmarks, CardsStopShortOfTheScroller) {
  ASSERT_FALSE(type("red").empty());
  auto& list = *menu.collectionView;
  const double beside = list.contentView()->frame().size.width;
  EXPECT_LT(beside, list.frame().size.width);  // the scroller has room of its own
  EXPECT_LE(menu.sizeForItemInCollectionView(list).width, beside);
  // In the menu-bar window the list keeps the window's whole width (its resize strips lie over
  // it), so a card still fits beside the scroller.
  MenuBarWindow window(fnd::Rect(100, 100, 560, 530));
  window.setMenuContentView(menu.view());
  EXPECT_EQ(menu.view()->frame().size.width, 560);
  list.layoutSubtreeIfNeeded();
  EXPECT_LE(menu.sizeForItemInCollectionView(list).width, list.contentView()->frame().size.width);
}

TEST_F(MenuBookmarks, AHiddenListCatchesUpWhenItsWindowComesForward) {
  MenuBarWindow window(fnd::Rect(100, 100, 560, 530));
  window.setMenuContentView(menu.view());
  ASSERT_FALSE(type("red").empty());
  auto& list = *menu.collectionView;
  const auto shown = list.numberOfItemsInSection(0);
  ASSERT_GT(shown, 0);
  // A change while the window is hidden leaves the list as it was.
  dm.clearMenuBookmarks();
  EXPECT_EQ(list.numberOfItemsInSection(0), shown);
  window.showWindow();
  ASSERT_TRUE(window.isVisible());
  ASSERT_TRUE(runUntil([&] { return list.numberOfItemsInSection(0) == 0; }, 30)) << "caught up when shown";
  // While shown, a change reaches the list at once.
  type("red");
  EXPECT_EQ(list.numberOfItemsInSection(0), static_cast<std::int64_t>(dm.menuBookmarks().size()));
}

// The tray icon's click gives the search field the keys, as the hot key does, also after hiding
// took them from everything; Favorites and Recent keep them in the list, and another window's
// icon moves nothing here.
TEST_F(MenuBookmarks, TheIconsClickGivesTheSearchFieldTheKeys) {
  MenuBarWindow window(fnd::Rect(100, 100, 560, 530));
  window.setMenuContentView(menu.view());
  window.iconClicked({640, 700});
  ASSERT_TRUE(window.isVisible());
  EXPECT_EQ(window.firstResponder(), menu.searchField.get());
  window.makeFirstResponder(nullptr);  // as hiding does
  window.orderOut();
  window.iconClicked({640, 700});
  EXPECT_EQ(window.firstResponder(), menu.searchField.get()) << "a second click";

  menu.showFavorites();
  ASSERT_EQ(window.firstResponder(), menu.collectionView.get());
  window.orderOut();
  window.iconClicked({640, 700});
  EXPECT_EQ(window.firstResponder(), menu.collectionView.get()) << "Favorites";
  menu.find();
  MenuBarWindow other(fnd::Rect(100, 100, 300, 300));
  window.makeFirstResponder(menu.collectionView.get());
  other.iconClicked({640, 700});
  EXPECT_EQ(window.firstResponder(), menu.collectionView.get()) << "another window's icon";
  other.orderOut();
  window.orderOut();
}

// Shown again by the icon or the hot key, the field offers the last search selected: typing
// replaces it, whether hiding took the keys from the field or left them there.
TEST_F(MenuBookmarks, ShownAgainTheLastSearchIsReplacedByTyping) {
  MenuBarWindow window(fnd::Rect(100, 100, 560, 530));
  window.setMenuContentView(menu.view());
  auto& field = *menu.searchField;
  // Keys as the field's widget takes them once the desktop has given the window the focus.
  auto typeInField = [&](const std::string& text) {
    ASSERT_EQ(window.firstResponder(), &field) << "the field has not the keys";
    for (char c : text) {
      const QString t(QChar::fromLatin1(c));
      QKeyEvent down(QEvent::KeyPress, 0, Qt::NoModifier, t), up(QEvent::KeyRelease, 0, Qt::NoModifier, t);
      QApplication::sendEvent(ui::hostedWidget(field), &down);
      QApplication::sendEvent(ui::hostedWidget(field), &up);
    }
  };
  window.iconClicked({640, 700});
  typeInField("top");
  ASSERT_EQ(field.stringValue(), "top");
  window.makeFirstResponder(nullptr);  // as hiding does
  window.orderOut();
  window.iconClicked({640, 700});
  typeInField("w3x");
  EXPECT_EQ(field.stringValue(), "w3x") << "the icon";

  window.orderOut();  // hidden with the keys still in the field
  window.showWindow();  // as the hot key does
  menu.find();
  typeInField("ab");
  EXPECT_EQ(field.stringValue(), "ab") << "the hot key";
  window.orderOut();
}

TEST(MenuCards, WidthsShareWhatIsLeftOver) {
  EXPECT_NEAR(menuCardSize(1000).width, 788.4, 0.05);
  EXPECT_NEAR(menuCardSize(1200).width, 594, 0.05);
  EXPECT_EQ(menuCardSize(1080).width, 540);
  EXPECT_NEAR(menuCardSize(600).width, 594, 0.05);
  EXPECT_NEAR(menuCardSize(500).width, 1080, 0.05);
  EXPECT_EQ(menuCardSize(777).height, 100);
}

class QuickEdit : public MenuBookmarks {
 protected:
  static std::string folderNameOf(const Bookmark::Ref& b) { return b->folder() ? b->folder()->name() : "(none)"; }
  // The folder chosen from the box's whole list, as a click on its row chooses it.
  void chooseFromList(MenuBookmarksController& m, const Folder::Ref& f) {
    const auto paths = m.editFolder->objectValues();
    const auto at = std::find(paths.begin(), paths.end(), f->completeFolderPath());
    ASSERT_NE(at, paths.end()) << f->name();
    m.comboBoxSelectionDidChange(int(at - paths.begin()));
  }
};

TEST_F(QuickEdit, ShowsTheBookmarksOwnValuesAndSavesEachField) {
  redCar->setNotes("keep me");
  redCar->setRating(3.0);
  redCar->setColor("green");
  save();
  menu.showEdit(redCar);
  EXPECT_TRUE(menu.isInEditMode());
  EXPECT_EQ(menu.editNotes->stringValue(), "keep me");
  EXPECT_EQ(menu.editRating->doubleValue(), 3.0);
  EXPECT_EQ(menu.editColor->indexOfSelectedItem(), 3);
  menu.editTitle->setStringValue("Red car, edited");
  menu.updateTitle();
  EXPECT_EQ(redCar->title().value_or(""), "Red car, edited");
  EXPECT_EQ(redCar->notes().value_or(""), "keep me");
  menu.editPassword->setStringValue("s3cret");
  menu.updatePassword();
  EXPECT_EQ(Base64::decodeToString(redCar->password().value_or("")).value_or(""), "s3cret");
  menu.editColor->selectItemAtIndex(1);
  menu.updateColor();
  EXPECT_EQ(redCar->color().value_or(""), "blue");
  EXPECT_EQ(MenuBookmarksController::colorNameForIndex(7), "");
  menu.updateFavorite();
  EXPECT_EQ(redCar->isFavorite(), 1);
  menu.updateFavorite();
  EXPECT_EQ(redCar->isFavorite(), 0);
}

TEST_F(QuickEdit, TagsAreCreatedAssignedAndOrphansRemoved) {
  auto old = Tag::initEntity();
  old->setName("old");
  redCar->addTag(old);
  auto existing = Tag::initEntity();
  existing->setName("news");
  redBus->addTag(existing);
  save();
  menu.showEdit(redCar);
  menu.editTags->setTokens({"news", "tech"});
  menu.updateTags();
  std::vector<std::string> names;
  for (const auto& t : redCar->tags()) names.push_back(t->name());
  EXPECT_EQ(sorted(names), (std::vector<std::string>{"news", "tech"}));
  EXPECT_FALSE(Tag::fetchEntityWhereProperty("name", fnd::Value("old")));
  EXPECT_EQ(menu.tagCompletions("te"), std::vector<std::string>{"tech"});
}

TEST_F(QuickEdit, FoldersAreChosenPerEditAndKeptWithoutAChoice) {
  auto other = folder("f-other", "Other Things");
  save();
  load(dm);
  menu.showEdit(redCar);
  EXPECT_EQ(menu.resultsInComboForString("other"), std::vector<std::string>{other->completeFolderPath()});
  menu.comboBoxSelectionDidChange(0);  // the list's one path, chosen
  menu.cancelEdit();
  EXPECT_EQ(redCar->folder(), other);
  EXPECT_FALSE(menu.isInEditMode());
  // A later edit without a choice of its own files its bookmark in the folder chosen before,
  // which its box shows.
  menu.showEdit(redBus);
  EXPECT_EQ(menu.editFolder->stringValue(), other->completeFolderPath());
  menu.cancelEdit();
  EXPECT_EQ(redBus->folder(), other);
  // Tab on a text no folder has puts the first folder into the box.
  menu.showEdit(redBus);
  menu.editFolder->setStringValue("zzz");
  menu.controlTextViewDoCommandBySelector(*menu.editFolder, ui::cmd::insertTab);
  EXPECT_FALSE(menu.editFolder->stringValue().empty());
  menu.cancelEdit();
  // Without a bookmark the pane opens and every action does nothing.
  menu.showEdit(nullptr);
  menu.updateTitle();
  menu.updateTags();
  menu.updateFavorite();
  menu.cancelEdit();
}

// Where the C library does not pair "i" with "I" (Turkish), typing in the folder box lists the
// folders holding the text and tag completion offers the tags it begins, as anywhere else.
TEST_F(QuickEdit, FolderListAndTagCompletionMatchInTurkish) {
  kesto::test::LocaleGuard turkish("tr_TR.UTF-8");
  KESTO_SKIP_WITHOUT_LOCALE(turkish);
  auto other = folder("f-other", "Other Things");
  auto city = folder("f-city", "\xC4\xB0zmir");
  auto tag = Tag::initEntity();
  tag->setName("Iris");
  redBus->addTag(tag);
  save();
  load(dm);
  menu.showEdit(redCar);
  EXPECT_EQ(menu.resultsInComboForString("THINGS"), std::vector<std::string>{other->completeFolderPath()});
  EXPECT_EQ(menu.resultsInComboForString("izmir"), std::vector<std::string>{city->completeFolderPath()});
  menu.editFolder->setStringValue("thi");
  menu.controlTextDidChange(*menu.editFolder);
  EXPECT_EQ(menu.editFolder->objectValues(), std::vector<std::string>{other->completeFolderPath()});
  EXPECT_EQ(menu.tagCompletions("ir"), std::vector<std::string>{"Iris"});
  menu.cancelEdit();
}

// Done files the bookmark in the folder chosen from the list, whatever its kind, else in the one
// chosen in an earlier edit, else in the library's current folder, which then stands as the
// choice for later edits; where there is none (the Library, Inbox, Imported and service rows) or
// it is locked, in the Inbox. Text in the box, whatever Tab or Return made of it, is no choice.
TEST_F(QuickEdit, DoneFilesInTheChosenOrTheCurrentFolderElseTheInbox) {
  auto apple = folder("f-apple", "Apple");
  auto other = folder("f-other", "Other Things");
  auto smart = folder("f-smart", "Smart");
  smart->setIsSmart(true);
  auto locked = folder("f-locked", "Locked");
  locked->setBlocked(1);
  auto imported = folder(Folder::kImportedID, "Imported");
  save();
  load(dm);
  const auto inbox = Folder::inboxFolder();
  const auto doneWith = [&](MenuBookmarksController& m, const Folder::Ref& current,
                            const std::function<void()>& edit = {}) {
    dm.setCurrentFolder(current);
    m.showEdit(redCar);
    if (edit) edit();
    m.cancelEdit();
    return redCar->folder();
  };
  // Each case without an earlier edit: a controller of its own.
  const auto firstDoneWith = [&](const Folder::Ref& current, const std::function<void(MenuBookmarksController&)>& edit = {}) {
    MenuBookmarksController fresh;
    fresh.kestoData = &dm;
    fresh.awakeFromNib();
    return doneWith(fresh, current, [&] { if (edit) edit(fresh); });
  };
  // Tab on a text no path holds puts the first path into the box; Done does not take it.
  EXPECT_EQ(firstDoneWith(other,
                          [&](MenuBookmarksController& m) {
                            EXPECT_EQ(m.editFolder->stringValue(), other->completeFolderPath())
                                << "the box shows where Done files the bookmark";
                            m.editFolder->setStringValue("no such folder");
                            EXPECT_FALSE(m.controlTextViewDoCommandBySelector(*m.editFolder, ui::cmd::insertTab));
                            EXPECT_EQ(m.editFolder->stringValue(), apple->completeFolderPath());
                          }),
            other);
  // Nor does Return on a path typed whole.
  EXPECT_EQ(firstDoneWith(news,
                          [&](MenuBookmarksController& m) {
                            m.editFolder->setStringValue(apple->completeFolderPath());
                            EXPECT_FALSE(m.controlTextViewDoCommandBySelector(*m.editFolder, ui::cmd::insertNewline));
                          }),
            news);
  for (const auto& current : {Folder::Ref(), locked})
    EXPECT_EQ(firstDoneWith(current), inbox) << (current ? current->name() : "the Library row");
  for (const auto& current : {smart, imported}) EXPECT_EQ(firstDoneWith(current), current) << current->name();
  // The current folder a Done took without a choice is kept for later edits, as a folder chosen
  // from the list is, over the current folder, until it is gone.
  EXPECT_EQ(doneWith(menu, other), other);
  EXPECT_EQ(doneWith(menu, news, [&] { EXPECT_EQ(menu.editFolder->stringValue(), other->completeFolderPath()); }), other);
  EXPECT_EQ(doneWith(menu, news,
                     [&] {
                       const auto listed = menu.resultsInComboForString("e");
                       const auto at = std::find(listed.begin(), listed.end(), apple->completeFolderPath());
                       ASSERT_TRUE(listed.size() > 1 && at != listed.end());
                       menu.comboBoxSelectionDidChange(int(at - listed.begin()));
                       EXPECT_EQ(redCar->folder(), apple) << "filed as it is chosen";
                     }),
            apple);
  EXPECT_EQ(doneWith(menu, news), apple);
  dm.removeFolders({apple});
  EXPECT_EQ(doneWith(menu, news), news);
  EXPECT_EQ(doneWith(menu, other), news) << "the current folder taken then is kept";
  // A folder chosen from the list is taken whatever its kind, and kept for later edits; a locked
  // one leaves the bookmark in the Inbox.
  for (const auto& [chosenFolder, filed] : {std::pair{imported, imported}, {smart, smart}, {locked, inbox}}) {
    const auto& chosen = chosenFolder;  // a binding a lambda may capture
    const auto choose = [&] {
      ASSERT_EQ(menu.resultsInComboForString(chosen->name()), std::vector<std::string>{chosen->completeFolderPath()});
      menu.comboBoxSelectionDidChange(0);
    };
    EXPECT_EQ(doneWith(menu, news, choose), filed) << chosen->name();
    EXPECT_EQ(doneWith(menu, news), filed) << "a later edit without a choice, after " << chosen->name();
  }
}

// A locked folder takes nothing in: chosen from the list, it files the bookmark in the Inbox at
// once, as nothing else may end the edit (Escape hides the window, the program may quit), and
// the box shows the Inbox with a note why; a folder chosen after it is taken again.
TEST_F(QuickEdit, ALockedFolderChosenFilesTheBookmarkInTheInboxAtOnce) {
  auto locked = folder("f-locked", "Locked");
  locked->setBlocked(1);
  auto other = folder("f-other", "Other Things");
  auto inbox = folder(Folder::kInboxID, "Inbox");
  save();
  load(dm);
  dm.setCurrentFolder(news);
  const auto chooseNamed = [&](const Folder::Ref& f) {
    ASSERT_EQ(menu.resultsInComboForString(f->name()), std::vector<std::string>{f->completeFolderPath()});
    menu.comboBoxSelectionDidChange(0);
  };
  menu.showEdit(redCar);
  EXPECT_TRUE(menu.editFolderNote->isHidden());
  chooseNamed(locked);
  EXPECT_EQ(redCar->folder(), inbox);
  EXPECT_EQ(redCar->blocked(), 0);
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges()) << "saved at the choice";
  EXPECT_EQ(menu.editFolder->stringValue(), "Inbox");
  EXPECT_FALSE(menu.editFolderNote->isHidden());
  EXPECT_NE(menu.editFolderNote->stringValue().find("locked"), std::string::npos);
  chooseNamed(other);
  EXPECT_EQ(redCar->folder(), other);
  EXPECT_TRUE(menu.editFolderNote->isHidden());
  chooseNamed(locked);
  menu.cancelEdit();
  EXPECT_EQ(redCar->folder(), inbox);
  // The next edit starts without the note.
  menu.showEdit(redBus);
  EXPECT_TRUE(menu.editFolderNote->isHidden());
  EXPECT_EQ(menu.editFolder->stringValue(), "Inbox");
}

// A lock covers a bookmark where it finds it: the quick edit never takes a locked bookmark out of
// its locked folder (so never leaves it locked in one that is not), and offers no locked
// bookmark for editing. Locking as the folder list does: the flags, then the library told.
TEST_F(QuickEdit, ALockedBookmarkStaysLockedInItsFolderAndIsNotOffered) {
  auto apple = folder("f-apple", "Apple");
  auto other = folder("f-other", "Other Things");
  save();
  load(dm);
  dm.setCurrentFolder(other);
  const auto lock = [&](const Folder::Ref& f, bool tell) {
    f->setBlocked(1);
    auto inside = dm.bookmarksWithFolder(f->folderID());
    for (const auto& b : inside) b->setBlocked(1);
    save();
    if (tell) dm.addBookmarks(inside);
  };
  // Apple chosen, then locked before Done (the window hidden meanwhile; nothing told): neither a
  // later choice nor Done takes the bookmark out.
  menu.showEdit(redCar);
  chooseFromList(menu, apple);
  ASSERT_EQ(folderNameOf(redCar), "Apple");
  lock(apple, false);
  chooseFromList(menu, other);
  menu.cancelEdit();
  EXPECT_EQ(folderNameOf(redCar), "Apple");
  EXPECT_EQ(redCar->blocked(), 1);

  // Without a choice, the library's current folder locked while the edit is open and its cards
  // listed: the lock ends the edit, which leaves the bookmark there, and the cards go.
  dm.setCurrentFolder(news);
  MenuBookmarksController fresh;  // no earlier choice
  fresh.kestoData = &dm;
  fresh.awakeFromNib();
  fresh.searchField->setStringValue("red");
  fresh.search();
  fresh.showEdit(redBus);
  lock(news, true);
  EXPECT_TRUE(runUntil([&] { return !fresh.isInEditMode(); })) << "the lock ends the edit";
  EXPECT_EQ(folderNameOf(redBus), "News");
  EXPECT_EQ(redBus->blocked(), 1);
  EXPECT_EQ(fresh.collectionView->numberOfItemsInSection(0), 0);
  // Nothing locked is offered for editing.
  dm.setSelectedBookmarksMenu({tagged});
  fresh.editSelectedBookmark();
  EXPECT_FALSE(fresh.isInEditMode());
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges());
}

// The folder box's list opens as soon as the typed text matches a folder; the keys that move on
// or act are not lost to it: Tab closes it and moves to the next field, where Return acts. The
// arrows and Return in the open list choose.
TEST_F(QuickEdit, WithTheFolderListOpenTabMovesOnAndReturnActs) {
  auto searchFolder = folder("f-search", "Search");
  save();
  load(dm);
  dm.setCurrentFolder(news);
  ui::Window window(fnd::Rect(0, 0, 560, 497));
  window.setContentView(menu.view());
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return QApplication::activeWindow() == static_cast<QWidget*>(window.nativeHandle()); }));

  menu.showEdit(redCar);
  menu.editFolder->setStringValue("");
  typeInto(window, menu.editFolder.get(), "Search");
  ASSERT_TRUE(menu.editFolder->isExpanded()) << "the typed text matches a folder";
  press(Qt::Key_Tab, "\t");
  EXPECT_FALSE(menu.editFolder->isExpanded());
  EXPECT_EQ(window.firstResponder(), menu.editNotes.get()) << "Tab moved on";
  test::type("noted");  // the keys, not the fixture's search
  press(Qt::Key_Return, "\r");
  EXPECT_EQ(redCar->notes().value_or(""), "noted") << "Return acted in the field Tab reached";
  menu.cancelEdit();
  EXPECT_EQ(redCar->folder(), news) << "a matching text is no choice";

  menu.showEdit(redCar);
  menu.editFolder->setStringValue("");
  typeInto(window, menu.editFolder.get(), "Sea");
  ASSERT_TRUE(menu.editFolder->isExpanded());
  press(Qt::Key_Down);
  press(Qt::Key_Return, "\r");
  EXPECT_FALSE(menu.editFolder->isExpanded());
  EXPECT_EQ(menu.editFolder->stringValue(), searchFolder->completeFolderPath());
  menu.cancelEdit();
  EXPECT_EQ(redCar->folder(), searchFolder);
  window.orderOut();
}

// Opening the folder box's list from its field (the arrow) and closing it with Escape chooses
// nothing: the bookmark stays in its folder, though the box shows another that is in the list.
TEST_F(QuickEdit, OpeningTheFolderListChoosesNothing) {
  auto other = folder("f-other", "Other Things");
  save();
  load(dm);
  dm.setCurrentFolder(other);
  ui::Window window(fnd::Rect(0, 0, 560, 497));
  window.setContentView(menu.view());
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return QApplication::activeWindow() == static_cast<QWidget*>(window.nativeHandle()); }));
  menu.showEdit(redCar);
  ASSERT_EQ(menu.editFolder->stringValue(), other->completeFolderPath());
  window.makeFirstResponder(menu.editFolder.get());
  ASSERT_TRUE(runUntil([&] { return QApplication::focusWidget() != nullptr; }));
  menu.editFolder->showPopup();
  ASSERT_TRUE(runUntil([&] { return menu.editFolder->isExpanded(); }));
  EXPECT_EQ(folderNameOf(redCar), "News") << "opened";
  press(Qt::Key_Escape);
  ASSERT_TRUE(runUntil([&] { return !menu.editFolder->isExpanded(); }));
  EXPECT_EQ(folderNameOf(redCar), "News") << "closed by Escape";
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges());
  // Leaving the field for another is no choice either; the list's own item still is.
  window.makeFirstResponder(menu.editNotes.get());
  EXPECT_EQ(folderNameOf(redCar), "News") << "left";
  chooseFromList(menu, other);
  EXPECT_EQ(folderNameOf(redCar), "Other Things");
  window.orderOut();
}

// Tags and folder text are kept when their field is left by Tab, a click elsewhere or Done, as
// the text fields are: the token field reports only Return itself.
TEST_F(QuickEdit, TagsAndFolderTextAreKeptWhenLeft) {
  auto imported = folder(Folder::kImportedID, "Imported");
  auto smart = folder("f-smart", "All Red");
  smart->setIsSmart(true);
  auto lonely = Tag::initEntity();
  lonely->setName("lonely");
  save();
  load(dm);
  ui::Window window(fnd::Rect(0, 0, 560, 497));
  window.setContentView(menu.view());
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return QApplication::activeWindow() == static_cast<QWidget*>(window.nativeHandle()); }));
  const auto tagsOf = [](const Bookmark::Ref& b) { return b->sortedTagNames(); };

  // Typed and left with Tab.
  menu.showEdit(redCar);
  typeInto(window, menu.editTags.get(), "typed");
  press(Qt::Key_Tab, "\t");
  EXPECT_EQ(tagsOf(redCar), std::vector<std::string>{"typed"});
  EXPECT_FALSE(Tag::fetchEntityWhereProperty("name", "lonely")) << "a change purges unused tags";
  // Typed and left with Done (a click on the button takes no focus).
  typeInto(window, menu.editTags.get(), "more");
  menu.cancelEdit();
  EXPECT_EQ(tagsOf(redCar), (std::vector<std::string>{"more", "typed"}));
  // Passing through the field changes nothing, and purges nothing.
  auto unused = Tag::initEntity();
  unused->setName("unused");
  save();
  menu.showEdit(redCar);
  menu.controlTextDidEndEditing(*menu.editTags);
  menu.cancelEdit();
  EXPECT_EQ(tagsOf(redCar), (std::vector<std::string>{"more", "typed"}));
  EXPECT_TRUE(Tag::fetchEntityWhereProperty("name", "unused"));

  // The folder paths offered are every named folder's, the Imported row and smart folders too:
  // a bookmark can be filed there, as a drop on their rows files it.
  menu.showEdit(redBus);
  const auto offered = menu.editFolder->objectValues();
  for (const auto& f : {imported, smart})
    EXPECT_NE(std::find(offered.begin(), offered.end(), f->completeFolderPath()), offered.end()) << f->name();
  ASSERT_GT(menu.editFolder->numberOfItems(), 0);
  const std::string first = menu.editFolder->objectValues().front();
  // Text no folder has, left by a click elsewhere: settled as Tab settles it.
  menu.editFolder->setStringValue("no such folder");
  menu.controlTextDidEndEditing(*menu.editFolder);
  EXPECT_EQ(menu.editFolder->stringValue(), first);
  // The box's text is no choice: without one Done files the bookmark in the library's current
  // folder, here none (the Library row), so in the Inbox, never in Imported.
  ASSERT_FALSE(dm.currentFolder());
  menu.cancelEdit();
  ASSERT_TRUE(redBus->folder());
  EXPECT_EQ(redBus->folder()->folderID(), Folder::kInboxID);
  // Nor is a folder's whole path typed and left with Done.
  auto other = folder("f-other", "Other Things");
  save();
  load(dm);
  menu.showEdit(redBus);
  menu.editFolder->setStringValue(other->completeFolderPath());
  menu.cancelEdit();
  EXPECT_EQ(redBus->folder()->folderID(), Folder::kInboxID);
  window.orderOut();
}

// A typed title must outlive the next page fetch, which replaces only titles not yet settled.
TEST_F(QuickEdit, TitleLeftByTabOrDoneIsSavedAndSettled) {
  ASSERT_EQ(redCar->titleUpdated(), 0);
  type("nothing like this");  // a search that finds nothing turns on the web search
  ASSERT_TRUE(menu.searchGoogle());
  menu.showEdit(redCar);
  // Tab in a quick-edit field moves on: it is no search field key.
  EXPECT_FALSE(menu.controlTextViewDoCommandBySelector(*menu.editTitle, ui::cmd::insertTab));
  EXPECT_FALSE(menu.controlTextViewDoCommandBySelector(*menu.editNotes, ui::cmd::insertNewline));
  EXPECT_TRUE(launches.empty()) << "no web search from the quick edit";
  // Passing through the field without typing leaves a fetched title free to change.
  menu.controlTextDidEndEditing(*menu.editTitle);
  EXPECT_EQ(redCar->titleUpdated(), 0);
  // Nor does a text that is the stored one once the store has cleaned it.
  menu.editTitle->setStringValue("Red car\xE2\x80\xAE");
  menu.controlTextDidEndEditing(*menu.editTitle);
  EXPECT_EQ(redCar->titleUpdated(), 0);
  menu.editTitle->setStringValue("Typed car");
  menu.controlTextDidEndEditing(*menu.editTitle);
  EXPECT_EQ(redCar->title().value_or(""), "Typed car");
  EXPECT_EQ(redCar->titleUpdated(), 1);
  // Another field committing later saves the typed title, not the old one.
  menu.editNotes->setStringValue("a note");
  menu.controlTextDidEndEditing(*menu.editNotes);
  EXPECT_EQ(redCar->title().value_or(""), "Typed car");
  EXPECT_EQ(redCar->notes().value_or(""), "a note");
  menu.cancelEdit();

  // Done while still in the fields keeps what was typed in each.
  menu.showEdit(redBus);
  menu.editTitle->setStringValue("Typed bus");
  menu.editUsername->setStringValue("me");
  menu.editPassword->setStringValue("pw");
  menu.cancelEdit();
  EXPECT_EQ(redBus->title().value_or(""), "Typed bus");
  EXPECT_EQ(redBus->titleUpdated(), 1);
  EXPECT_EQ(redBus->login().value_or(""), "me");
  EXPECT_EQ(Base64::decodeToString(redBus->password().value_or("")).value_or(""), "pw");
}

TEST_F(QuickEdit, FolderListFollowsTheTypedText) {
  auto other = folder("f-other", "Other Things");
  auto more = folder("f-more", "Otherwise");
  save();
  load(dm);
  ui::Window window(fnd::Rect(0, 0, 560, 497));
  window.setContentView(menu.view());
  window.makeKeyAndOrderFront();
  menu.showEdit(redCar);
  const int all = menu.editFolder->numberOfItems();
  auto typeFolder = [&](const std::string& text) {
    menu.editFolder->setStringValue(text);
    menu.controlTextDidChange(*menu.editFolder);
  };
  typeFolder("OTHER");
  EXPECT_EQ(menu.editFolder->objectValues(),
            (std::vector<std::string>{other->completeFolderPath(), more->completeFolderPath()}));
  EXPECT_TRUE(menu.editFolder->isExpanded());
  EXPECT_EQ(menu.editFolder->stringValue(), "OTHER");  // nothing completed inline
  typeFolder("otherwise");
  EXPECT_EQ(menu.editFolder->objectValues(), std::vector<std::string>{more->completeFolderPath()});
  EXPECT_TRUE(menu.editFolder->isExpanded());
  typeFolder("zzz");
  EXPECT_FALSE(menu.editFolder->isExpanded());
  EXPECT_EQ(menu.editFolder->numberOfItems(), 0);
  typeFolder("oth");
  EXPECT_TRUE(menu.editFolder->isExpanded());
  typeFolder("");
  EXPECT_FALSE(menu.editFolder->isExpanded());
  EXPECT_EQ(menu.editFolder->numberOfItems(), all);
  window.orderOut();
}

}  // namespace
}  // namespace kesto::test
