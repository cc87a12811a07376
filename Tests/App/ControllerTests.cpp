// The bookmark list controller: modes and their settings, item sizes, the empty label,
// refreshes that keep or clear the selection, the selection buttons and the toolbar.
#include "AppFixture.h"
#include "Harness/RecordedLaunches.h"

#include "App/TilePinView.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenEntity.h"
#include "Platform/System/Workspace.h"
#include "Sidebar/SidebarNotifications.h"
#include "Synchronize/TestAlertResponder.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/TestAccess_p.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Window.h"
#include "Views/ImageBox.h"
#include "Views/PushButton.h"
#include "Views/TextLabel.h"
#include "Views/TileCollectionView.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

namespace kesto::test {
namespace {

class ControllerTest : public AppTest {
 protected:
  void clickItem(std::int64_t item, std::uint64_t flags = 0) {
    auto& cv = *ui->collectionView();
    cv.scrollToItemAtIndexPath(IndexPath::forItem(item, 0), TileCollectionViewScrollPositionTop, false);
    cv.layoutSubtreeIfNeeded();
    auto cell = cv.cellForItemAtIndexPath(IndexPath::forItem(item, 0));
    ASSERT_TRUE(cell) << "item " << item << " not visible";
    auto centre = cell->convertPointToView(fnd::Point{cell->bounds().midX(), cell->bounds().midY()}, nullptr);
    ui->window().sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, centre, flags, 1, &ui->window()));
    ui->window().sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, centre, flags, 1, &ui->window()));
  }
  // Where a bookmark is in the list shown.
  std::int64_t position(const Bookmark::Ref& bookmark) {
    const auto& list = dm().bookmarks();
    return std::find(list.begin(), list.end(), bookmark) - list.begin();
  }
  std::vector<std::string> selectedTitles() {
    std::vector<std::string> out;
    for (const auto& b : dm().selectedBookmarks()) out.push_back(b->title().value_or(""));
    return out;
  }
  std::vector<std::string> highlightedTitles() {
    std::vector<std::string> out;
    for (const auto& p : ui->collectionView()->indexPathsForSelectedItems())
      out.push_back(controller().bookmarkAtIndexPath(p)->title().value_or(""));
    return out;
  }
};

// Cells show their bookmarks' tags, read for the rows coming into sight together: scrolling
// through a list never reads them for the rows it has not shown (a large library's whole table).
TEST_F(ControllerTest, CellsReadTheTagsOfTheRowsInSightOnly) {
  auto ctx = WrenDataManager::sharedInstance().managedObjectContext();
  std::vector<Tag::Ref> tags;
  for (int i = 0; i < 5; ++i) {
    tags.push_back(Tag::initEntityInContext(ctx));
    tags.back()->setName("tag" + std::to_string(i));
  }
  constexpr int kBookmarks = 120;
  for (int i = 0; i < kBookmarks; ++i) {
    auto b = Bookmark::addBookmarkWithURL("https://" + std::to_string(i) + ".example/", Folder::Ref());
    b->setTitle("B" + std::to_string(i));
    b->addTag(tags[static_cast<std::size_t>(i % 5)]);
  }
  ASSERT_TRUE(WrenEntity::saveContext(ctx));
  // A fresh start: nothing read yet but the rows.
  WrenDataManager::sharedInstance().managedObjectContext()->reset();
  build(kBookmarks);
  auto& cv = *ui->collectionView();
  const auto shown = [&](std::int64_t item) {
    auto cell = std::dynamic_pointer_cast<TilePinView>(cv.cellForItemAtIndexPath(IndexPath::forItem(item, 0)));
    return cell ? cell->tagNames() : std::vector<std::string>{"no cell"};
  };
  const auto tagOf = [&](std::int64_t item) {
    const std::string title = controller().bookmarkAtIndexPath(IndexPath::forItem(item, 0))->title().value_or("");
    return "tag" + std::to_string(std::stoi(title.substr(1)) % 5);
  };
  // Down the first 60 rows, a few at a time: far more cells than the store reads one by one.
  std::int64_t last = 0;
  for (std::int64_t item = 0; item < 60; item += 3) {
    cv.scrollToItemAtIndexPath(IndexPath::forItem(item, 0), TileCollectionViewScrollPositionTop, false);
    cv.layoutSubtreeIfNeeded();
    EXPECT_EQ(shown(item), (std::vector<std::string>{tagOf(item)})) << item;
    last = item;
  }
  // The rows never shown were not read: taken out of the store now, their tags are gone.
  const std::string shownTag = tagOf(last);
  ASSERT_EQ(sqlite3_exec(store::TestAccess::connection(*ctx->coordinator()).db, "DELETE FROM Z_1TAGS", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  const auto bookmark = [&](std::int64_t item) {
    return Found{controller().bookmarkAtIndexPath(IndexPath::forItem(item, 0)), "the bookmark of row " + std::to_string(item)};
  };
  EXPECT_EQ(bookmark(last)->sortedTagNames(), (std::vector<std::string>{shownTag}));
  for (std::int64_t item : {90, kBookmarks - 1}) EXPECT_TRUE(bookmark(item)->sortedTagNames().empty()) << item;
}

TEST_F(ControllerTest, NoStoredModeShowsTheExtendedList) {
  build(0);
  EXPECT_TRUE(controller().isExtendedView());
  EXPECT_EQ(controller().cellNibName(), "TilePinView");
  EXPECT_TRUE(defaults().hasValueForKey("BoomarksCompactView"));
  EXPECT_FALSE(defaults().boolForKey("BoomarksCompactView"));
  EXPECT_FALSE(defaults().boolForKey("BoomarksListView"));
  auto view = ui->mainMenu()->itemWithTitle("View")->submenu();
  view->update();
  EXPECT_EQ(view->itemWithTitle("Extended List")->state(), ui::ControlState::On);
  EXPECT_EQ(controller().views().listViewButton->imageName(), "list_view_selected");
}

TEST_F(ControllerTest, GridWinsWhenBothKeysAreSet) {
  defaults().setBool(true, "BoomarksCompactView");
  defaults().setBool(true, "BoomarksListView");
  build(0);
  EXPECT_TRUE(controller().isThumbnailView());
  EXPECT_FALSE(controller().isListView());
  EXPECT_FALSE(defaults().boolForKey("BoomarksListView"));
  EXPECT_EQ(controller().views().thumbnailViewButton->imageName(), "thumbnail_view_selected");
  EXPECT_EQ(controller().views().textOnlyListViewButton->imageName(), "new_list");
}

TEST_F(ControllerTest, ModeButtonsSwitchCellsAndSizes) {
  add("http://a.example/", "A");
  build(1);
  controller().views().textOnlyListViewButton->performClick();
  EXPECT_TRUE(controller().isListView());
  EXPECT_TRUE(defaults().boolForKey("BoomarksListView"));
  ui->collectionView()->layoutSubtreeIfNeeded();
  auto cell = ui->collectionView()->cellForItemAtIndexPath(IndexPath::forItem(0, 0));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->frame().size.height, 100);
  controller().views().thumbnailViewButton->performClick();
  ui->collectionView()->layoutSubtreeIfNeeded();
  cell = ui->collectionView()->cellForItemAtIndexPath(IndexPath::forItem(0, 0));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->frame().size.height, 310);
  EXPECT_TRUE(defaults().boolForKey("BoomarksCompactView"));
  EXPECT_FALSE(defaults().boolForKey("BoomarksListView"));
}

TEST(ItemSize, ListsWidenByTheSpareWidthOverTheRatio) {
  auto compact = [](double w) { return BookmarksController::tilePinViewSize(w, false); };
  EXPECT_NEAR(compact(1100).width, 549.8, 0.1);
  EXPECT_EQ(compact(1100).height, 100);
  EXPECT_EQ(compact(1081).width, 540);
  EXPECT_NEAR(compact(1040).width, 799.6, 0.1);
  EXPECT_EQ(BookmarksController::tilePinViewSize(520, true).width, 520);
  EXPECT_EQ(BookmarksController::tilePinViewSize(520, true).height, 315);
  // Narrower than one item: the one column narrows to fit beside the scroller, never wider
  // than the list and never to nothing.
  for (double w : {300.0, 418.0, 539.0}) {
    EXPECT_LT(compact(w).width, w - 14) << w;
    EXPECT_GT(compact(w).width, w - 30) << w;
    if (w < 520) {
      EXPECT_LT(BookmarksController::tilePinViewSize(w, true).width, w - 14) << w;
    }
    EXPECT_EQ(compact(w).height, 100);
  }
  EXPECT_GT(compact(0).width, 0);
}

TEST_F(ControllerTest, EmptyListShowsTheLabelUnlessHiddenForOneCount) {
  build(0);
  EXPECT_FALSE(controller().bookmarkAtIndexPath(IndexPath::forItem(3, 0)));
  controller().updateView();
  EXPECT_FALSE(controller().views().noBookmarksLabel->isHidden());
  fnd::NotificationCenter::defaultCenter().postNotificationName(HideNoBookmarksLabelNotification);
  controller().updateView();
  EXPECT_TRUE(controller().views().noBookmarksLabel->isHidden());
  controller().updateView();
  EXPECT_FALSE(controller().views().noBookmarksLabel->isHidden());
}

TEST_F(ControllerTest, AListWiredWithoutViewsWakesAndRefreshes) {
  add("http://a.example/", "A");
  build(1);
  // A second list over the same library, with no views to fill: it must not touch any.
  BookmarksController bare;
  bare.wire({&dm(), nullptr, nullptr, nullptr, {}});
  bare.awakeFromNib();
  bare.updateView();
  bare.didChangeSelection();
  EXPECT_EQ(bare.collectionViewNumberOfItemsInSection(*ui->collectionView(), 0), 1u);
  EXPECT_FALSE(bare.bookmarkMenu());
  bare.togglePreview();
}

TEST_F(ControllerTest, ClickSelectsAfterTheDelayAndEnablesButtons) {
  add("http://a.example/", "A");
  add("http://b.example/", "B");
  build(2);
  EXPECT_FALSE(controller().views().openButton->isEnabled());
  clickItem(0);
  EXPECT_TRUE(dm().selectedBookmarks().empty());  // not before the delay
  ASSERT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 1; }));
  EXPECT_EQ(dm().currentBookmark(), dm().selectedBookmarks()[0]);
  const auto& v = controller().views();
  for (const auto* b : {&v.editButton, &v.openButton, &v.quicklookButton, &v.updateButton, &v.trashButton})
    EXPECT_TRUE((*b)->isEnabled());
  clickItem(1, ui::ModifierFlag::Command);
  ASSERT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 2; }));
  EXPECT_FALSE(dm().currentBookmark());
  EXPECT_EQ(dm().currentBookmarks().size(), 2u);
  EXPECT_FALSE(controller().views().editButton->isEnabled());
  EXPECT_FALSE(controller().views().quicklookButton->isEnabled());
  EXPECT_TRUE(controller().views().openButton->isEnabled());
  EXPECT_TRUE(controller().views().trashButton->isEnabled());
}

TEST_F(ControllerTest, SelectAllReachesTheDataManagerOnceWithTheWholeSelection) {
  for (int i = 0; i < 40; ++i) add("http://s" + std::to_string(i) + ".example/", "S" + std::to_string(i));
  build(40);
  clickItem(0);
  ASSERT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 1; }));
  int updates = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&updates, [&](const fnd::Notification&) { ++updates; },
                                                       BRWUpdateInspectorViewNotification);
  ui->collectionView()->selectAll(nullptr);
  EXPECT_EQ(dm().selectedBookmarks().size(), 1u) << "not before the delay";
  ASSERT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 40; }));
  runUntil([] { return false; }, 0.3);
  EXPECT_EQ(updates, 1) << "one pass over the selection, not one per item";
  // A later change is still told, after its own delay.
  clickItem(3);
  ASSERT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 1; }));
  fnd::NotificationCenter::defaultCenter().removeObserver(&updates);
  ASSERT_GE(dm().bookmarks().size(), 4u);
  EXPECT_EQ(dm().selectedBookmarks()[0], dm().bookmarks()[3]);
  EXPECT_EQ(dm().currentBookmark(), dm().selectedBookmarks()[0]);
}

TEST_F(ControllerTest, KeepingRefreshRestoresTheHighlightByIdentity) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  auto c = add("http://c.example/", "C");
  build(3);
  auto& list = dm().bookmarks();
  auto posOf = [&](const Bookmark::Ref& x) {
    return std::find(list.begin(), list.end(), x) - list.begin();
  };
  clickItem(posOf(b));
  ASSERT_TRUE(runUntil([&] { return selectedTitles() == std::vector<std::string>{"B"}; }));
  // A re-sort moves B elsewhere; the highlight must follow it.
  std::reverse(list.begin(), list.end());
  std::rotate(list.begin(), list.begin() + 1, list.end());
  ASSERT_NE(posOf(b), controller().lastSelectedIndexPaths().at(0).item);
  controller().updateView();
  EXPECT_EQ(highlightedTitles(), std::vector<std::string>{"B"});
  EXPECT_EQ(selectedTitles(), std::vector<std::string>{"B"});
  // A removal takes the bookmark out of the selection too, so no action reaches a bookmark
  // that is no longer shown.
  list.erase(list.begin() + posOf(b));
  controller().updateView();
  EXPECT_TRUE(highlightedTitles().empty());
  EXPECT_TRUE(dm().selectedBookmarks().empty());
  EXPECT_FALSE(dm().currentBookmark());
  (void)a;
  (void)c;
}

TEST_F(ControllerTest, ABookmarkHandedInKeepsTheSelection) {
  add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  build(2);
  auto& list = dm().bookmarks();
  clickItem(std::find(list.begin(), list.end(), b) - list.begin());
  ASSERT_TRUE(runUntil([&] { return selectedTitles() == std::vector<std::string>{"B"}; }));
  // The intake reloads the list, which passes through empty on the way.
  app().addPinUrlFromString("http://new.example/");
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 3; }));
  spin(0.2);
  EXPECT_EQ(selectedTitles(), std::vector<std::string>{"B"});
  EXPECT_EQ(highlightedTitles(), std::vector<std::string>{"B"});
}

TEST_F(ControllerTest, DoubleClickOpensTheSelectionAndRefreshesKeepOneHighlight) {
  std::vector<std::vector<std::string>> launched;
  sys::Workspace::setLauncher([&](const std::string&, const std::vector<std::string>& args) {
    launched.push_back(args);
    return true;
  });
  auto a = add("http://a.example/", "A");
  add("http://b.example/", "B");
  build(2);
  app().initializeKesto();  // puts the controller behind the window
  launched.clear();
  auto& list = dm().bookmarks();
  const std::int64_t posA = std::find(list.begin(), list.end(), a) - list.begin();
  clickItem(posA);
  ASSERT_TRUE(runUntil([&] { return selectedTitles() == std::vector<std::string>{"A"}; }));
  auto& cv = *ui->collectionView();
  auto cell = cv.cellForItemAtIndexPath(IndexPath::forItem(posA, 0));
  auto centre = cell->convertPointToView(fnd::Point{cell->bounds().midX(), cell->bounds().midY()}, nullptr);
  ui->window().sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, centre, 0, 2, &ui->window()));
  ui->window().sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, centre, 0, 2, &ui->window()));
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_NE(std::find(launched[0].begin(), launched[0].end(), "http://a.example/"), launched[0].end());
  EXPECT_TRUE(dm().doubleClickedOrDragging());
  // The re-sorted list still highlights A alone.
  std::reverse(list.begin(), list.end());
  controller().updateView();
  spin(0.2);
  EXPECT_EQ(highlightedTitles(), std::vector<std::string>{"A"});
  EXPECT_EQ(selectedTitles(), std::vector<std::string>{"A"});
  sys::Workspace::setLauncher(nullptr);
}

// A quick double click acts on the bookmark it lands on, before the first click's selection has
// reached the library; after a double click, the next quick one on the same bookmark opens it again.
TEST_F(ControllerTest, AQuickDoubleClickOpensTheBookmarkClickedEveryTime) {
  RecordedLaunches launched;
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  build(2);
  app().initializeKesto();  // puts the controller behind the window
  clickItem(position(a));
  ASSERT_TRUE(runUntil([&] { return selectedTitles() == std::vector<std::string>{"A"}; }));
  launched.clear();
  const auto doubleClick = [&](std::int64_t item) {
    auto cell = ui->collectionView()->cellForItemAtIndexPath(IndexPath::forItem(item, 0));
    ASSERT_TRUE(cell);
    auto centre = cell->convertPointToView(fnd::Point{cell->bounds().midX(), cell->bounds().midY()}, nullptr);
    for (int count : {1, 2}) {  // no turn of the main loop in between
      ui->window().sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, centre, 0, count, &ui->window()));
      ui->window().sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, centre, 0, count, &ui->window()));
    }
  };
  const auto opened = [&](const std::string& url) {
    return launched.size() == 1 &&
           std::find(launched[0].arguments.begin(), launched[0].arguments.end(), url) != launched[0].arguments.end();
  };
  // With A selected, a quick double click on B opens B, not A.
  doubleClick(position(b));
  EXPECT_TRUE(opened("http://b.example/")) << launched.size();
  for (int again = 0; again < 2; ++again) {
    ASSERT_TRUE(runUntil([&] { return selectedTitles() == std::vector<std::string>{"B"}; }));
    launched.clear();
    doubleClick(position(b));
    EXPECT_TRUE(opened("http://b.example/")) << "double click " << again + 2 << ": " << launched.size();
  }
  EXPECT_EQ(selectedTitles(), std::vector<std::string>{"B"});
  EXPECT_EQ(highlightedTitles(), std::vector<std::string>{"B"});
}

// A key pressed right after a click, before the click's selection has reached the library (a
// loaded machine hands both over in one turn), acts on the bookmark clicked, never on the one
// selected before: Return opens it, Delete trashes it.
TEST_F(ControllerTest, AKeyRightAfterAClickActsOnTheBookmarkClicked) {
  RecordedLaunches launched;
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  auto c = add("http://c.example/", "C");
  build(3);
  app().initializeKesto();  // puts the controller behind the window
  clickItem(position(a));
  ASSERT_TRUE(runUntil([&] { return selectedTitles() == std::vector<std::string>{"A"}; }));
  launched.clear();

  clickItem(position(b));
  ui->window().sendEvent(ui::Event::key(36, 0, "\r", &ui->window()));
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_THAT(launched[0].arguments, ::testing::Contains("http://b.example/"));

  clickItem(position(c));
  ui->window().sendEvent(ui::Event::key(51, 0, "\x7f", &ui->window()));
  EXPECT_EQ(c->trashed(), 1);
  EXPECT_EQ(b->trashed(), 0);
  EXPECT_EQ(a->trashed(), 0);
}

// Addresses of other schemes come from peers and archives: asked about by name before they are
// handed to the desktop, and a desktop entry is never handed over at all.
TEST_F(ControllerTest, OpeningAsksBeforeOtherSchemesAndNeverStartsAProgram) {
  std::vector<std::vector<std::string>> launched;
  sys::Workspace::setLauncher([&](const std::string&, const std::vector<std::string>& args) {
    launched.push_back(args);
    return true;
  });
  auto alerts = TestAlertResponder::install();
  const std::string entry = makeTempDir("files") + "/x.desktop";
  writeFile(entry, "[Desktop Entry]\nType=Application\nExec=xterm\n");
  auto web = add("https://web.example/", "Web");
  auto script = add("javascript:alert(1)", "Script");
  auto program = add("file://" + entry, "Program");
  build(3);
  launched.clear();  // the scheme registration's own
  auto open = [&](const Bookmark::Ref& b, int answer) {
    alerts->answer = answer;
    dm().setSelectedBookmarks({b});
    controller().openSelectedBookmarks();
  };
  open(web, 1);
  EXPECT_TRUE(alerts->shown.empty());
  ASSERT_EQ(launched.size(), 1u);
  open(script, 0);  // Cancel, the default (Return)
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Open a “javascript:” address?");
  EXPECT_EQ(alerts->shown[0].buttons, (std::vector<std::string>{"Cancel", "Open"}));
  EXPECT_EQ(launched.size(), 1u);
  open(script, 1);  // Open
  ASSERT_EQ(launched.size(), 2u);
  EXPECT_EQ(launched[1], std::vector<std::string>{"javascript:alert(1)"});
  open(program, 1);
  EXPECT_EQ(launched.size(), 2u);
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().title, "Kesto does not open this address");
  // Nothing about them was rewritten.
  EXPECT_EQ(script->url().value_or(""), "javascript:alert(1)");
  EXPECT_EQ(program->url().value_or(""), "file://" + entry);
  TestAlertResponder::uninstall();
  sys::Workspace::setLauncher(nullptr);
}

TEST_F(ControllerTest, AfterACommandClickARefreshHighlightsOnlyTheSelection) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  add("http://c.example/", "C");
  defaults().setBool(true, "BoomarksListView");  // short rows: all three in view
  build(3);
  app().initializeKesto();
  auto& list = dm().bookmarks();
  auto posOf = [&](const Bookmark::Ref& x) { return std::find(list.begin(), list.end(), x) - list.begin(); };
  clickItem(posOf(a));
  clickItem(posOf(b), ui::ModifierFlag::Command);
  ASSERT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 2; }));
  // B leaves the list (trashed elsewhere); the others move up.
  list.erase(list.begin() + posOf(b));
  std::reverse(list.begin(), list.end());
  controller().updateView();
  spin(0.2);
  EXPECT_EQ(highlightedTitles(), std::vector<std::string>{"A"});
  EXPECT_EQ(selectedTitles(), std::vector<std::string>{"A"});
}

TEST_F(ControllerTest, ResetRefreshClearsTheSelectionAndTheInspector) {
  add("http://a.example/", "A");
  build(1);
  clickItem(0);
  ASSERT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 1; }));
  int cleared = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&cleared, [&](const fnd::Notification&) { ++cleared; },
                                                       BRWClearInspectorViewNotification);
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWUpdateBookmarksAndResetViewNotification);
  fnd::NotificationCenter::defaultCenter().removeObserver(&cleared);
  EXPECT_TRUE(dm().selectedBookmarks().empty());
  EXPECT_TRUE(ui->collectionView()->indexPathsForSelectedItems().empty());
  EXPECT_GE(cleared, 1);
}

TEST_F(ControllerTest, BrowserButtonImageFollowsTheFavouriteBrowser) {
  build(0);
  const std::pair<const char*, const char*> cases[] = {
      {"com.apple.Safari", "safari"},         {"com.google.Chrome", "chrome"},
      {"org.mozilla.firefox", "firefox"},     {"com.operasoftware.Opera", "opera"},
      {"Default", "toolbar_open_in_browser"}, {"org.example.Other", "toolbar_open_in_browser"}};
  for (const auto& [browser, image] : cases) {
    defaults().setString(browser, "favoriteBrowser");
    fnd::NotificationCenter::defaultCenter().postNotificationName(kUpdateBrowserButtonNotification);
    EXPECT_EQ(controller().views().openButton->imageName(), image) << browser;
  }
}

TEST_F(ControllerTest, ToolbarHoldsTheFourViewsAtFixedWidths) {
  build(0);
  const auto& items = ui->toolbar()->items();
  ASSERT_EQ(items.size(), 11u);
  EXPECT_EQ(items[0]->itemIdentifier, "KSTToolbarActivityIndicator");
  EXPECT_EQ(items[5]->itemIdentifier, "KSTToolbarButtonSet");
  EXPECT_EQ(items[7]->itemIdentifier, "KSTToolbarSearch");
  EXPECT_EQ(items[9]->itemIdentifier, "KSTToolbarEditInfo");
  EXPECT_EQ(items[7]->maxSize.width, 460.0);
  EXPECT_EQ(items[7]->minSize.width, 460.0);
  EXPECT_EQ(items[7]->toolTip, "Search your Library");
  EXPECT_EQ(items[7]->label, "Search");
  // The spinner needs little room; the count beside the edit button takes what it gives up.
  EXPECT_EQ(items[0]->maxSize.width, 95.0);
  EXPECT_EQ(items[9]->maxSize.width, 225.0);
  EXPECT_EQ(ui->toolbar()->displayMode(), Toolbar::IconOnly);
  EXPECT_FALSE(controller().toolbarItemForItemIdentifier(*ui->toolbar(), "Other", true));
  // Left to right in the order inserted, each at its width.
  EXPECT_EQ(items[5]->view->frame().size.width, 200.0);
  EXPECT_LT(items[0]->view->frame().maxX(), items[5]->view->frame().minX());
  EXPECT_LT(items[5]->view->frame().maxX(), items[7]->view->frame().minX());
  EXPECT_LT(items[7]->view->frame().maxX(), items[9]->view->frame().minX() + 0.5);
}

TEST_F(ControllerTest, ClearSearchFieldEmptiesLabelsAndFields) {
  build(0);
  controller().views().searchField->setStringValue("query");
  controller().views().occurrencesLabel->setStringValue("3 found");
  controller().views().folderSearchOnlyButton->setHidden(false);
  fnd::NotificationCenter::defaultCenter().postNotificationName(ClearSearchField);
  EXPECT_EQ(controller().views().searchField->stringValue(), "");
  EXPECT_EQ(controller().views().occurrencesLabel->stringValue(), "");
  EXPECT_TRUE(controller().views().folderSearchOnlyButton->isHidden());
}

TEST_F(ControllerTest, ControllerSitsBehindTheWindowInTheResponderChain) {
  build(0);
  auto* before = ui->window().nextResponder();
  app().initializeKesto();
  EXPECT_EQ(ui->window().nextResponder(), &controller());
  EXPECT_EQ(controller().nextResponder(), before);
  // Command-3 reaches the controller through the chain.
  ui->window().sendEvent(ui::Event::key(20, ui::ModifierFlag::Command, "\x1b", &ui->window()));
  EXPECT_TRUE(controller().isListView());
}

}  // namespace
}  // namespace kesto::test
