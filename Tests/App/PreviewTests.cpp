// Quick Look over the selection, e-mail and sharing of links, hiding the inspector, and the
// first-use popovers of the places that show them.
#include "AppFixture.h"

#include "App/AppCommands.h"
#include "App/PreviewPanel.h"
#include "App/TilePinView.h"
#include "Harness/RecordedLaunches.h"
#include "Synchronize/TestAlertResponder.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/TokenField.h"
#include "Sidebar/TutorialPopovers.h"
#include "Views/PopoverController.h"
#include "Views/PushButton.h"
#include "Views/TileCollectionView.h"
#include "Views/TwoPaneSplitView.h"

#include <algorithm>
#include <map>

namespace kesto::test {
namespace {

// The fields of a mailto address, decoded; a field given twice counts twice.
std::multimap<std::string, std::string> mailtoFields(const std::string& url) {
  std::multimap<std::string, std::string> fields;
  auto q = url.find('?');
  if (q == std::string::npos) return fields;
  std::string query = url.substr(q + 1);
  std::size_t start = 0;
  for (;;) {
    auto amp = query.find('&', start);
    std::string piece = query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    auto eq = piece.find('=');
    fields.emplace(piece.substr(0, eq), fnd::removePercentEscapes(piece.substr(eq + 1)).value_or("<bad>"));
    if (amp == std::string::npos) return fields;
    start = amp + 1;
  }
}

class PreviewTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    TutorialPopovers::turnOnTutorialPopups();
  }
  // Selects the rows as a click would and lets the selection reach the data manager.
  void selectRows(const std::vector<std::int64_t>& rows) {
    auto& view = *ui->collectionView();
    view.deselectAllItems();
    std::vector<IndexPath> paths;
    for (auto r : rows) paths.push_back(IndexPath::forItem(r, 0));
    for (const auto& p : paths) view.selectItemAtIndexPath(p, false);
    controller().didChangeSelection();
  }
  PreviewPanel& panel() { return *ui->quickLookPanel(); }
  // The messages handed to the mail program (the start launches other programs too).
  std::vector<Launch> mails() const {
    std::vector<Launch> out;
    for (const auto& l : launches)
      if (l.program == "xdg-email") out.push_back(l);
    return out;
  }
  RecordedLaunches launches;
};

TEST_F(PreviewTest, ThePanelPagesThroughTheSelectionAndFollowsIt) {
  add("http://a.example/", "A");
  add("http://b.example/", "B");
  add("http://c.example/", "C");
  build(3);
  // Nothing selected: nothing to preview.
  controller().togglePreview();
  EXPECT_FALSE(panel().isVisible());

  selectRows({0, 1, 2});
  controller().togglePreview();
  ASSERT_TRUE(panel().isVisible());
  EXPECT_EQ(controller().previewPanel(), &panel());
  ASSERT_EQ(panel().numberOfItems(), 3u);
  std::vector<std::string> seen;
  for (int i = 0; i < 3; ++i) {
    seen.push_back(panel().shownTitle());
    EXPECT_EQ(panel().shownPosition(), std::to_string(i + 1) + " of 3");
    panel().showNextItem();
  }
  std::vector<std::string> expected;
  for (const auto& b : dm().selectedBookmarks()) expected.push_back(b->title().value_or(""));
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(panel().currentPreviewItemIndex(), 0u) << "paging wraps round";

  // A new selection of one is shown at once, without a pager.
  selectRows({1});
  EXPECT_EQ(panel().numberOfItems(), 1u);
  ASSERT_GE(dm().bookmarks().size(), 2u);
  EXPECT_EQ(panel().shownTitle(), dm().bookmarks()[1]->title().value_or(""));
  EXPECT_EQ(panel().shownAddress(), dm().bookmarks()[1]->url().value_or(""));
  EXPECT_EQ(panel().shownPosition(), "");

  // An arrow pressed in the panel moves the list's selection; the panel follows it.
  controller().setSelectionDelay(0.01);
  panel().keyDown(ui::Event::key(ui::KeyCode::RightArrow, 0, ""));
  ASSERT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 1 && dm().selectedBookmarks()[0] != dm().bookmarks()[1]; }, 5));
  EXPECT_EQ(panel().shownTitle(), dm().selectedBookmarks()[0]->title().value_or(""));

  // An edit shows in the preview with the list's refresh; a deleted bookmark leaves it.
  dm().selectedBookmarks()[0]->setTitle("Edited");
  ViewUpdater::updateBookmarks();
  EXPECT_EQ(panel().shownTitle(), "Edited");
  controller().deleteBookmarks();
  EXPECT_EQ(panel().numberOfItems(), 0u);
  EXPECT_EQ(panel().shownTitle(), "No bookmark selected");

  // The second press closes it; the list no longer fills it.
  controller().togglePreview();
  EXPECT_FALSE(panel().isVisible());
  EXPECT_EQ(controller().previewPanel(), nullptr);
  EXPECT_EQ(panel().dataSource(), nullptr);
}

// Quick Look on a minimised preview brings it back with what it showed; opening the bookmark then
// closes it. It is a panel that leaves the screen while another program is active.
TEST_F(PreviewTest, AMinimisedPreviewComesBackWithWhatItShowed) {
  add("http://a.example/", "A");
  add("http://b.example/", "B");
  build(2);
  selectRows({1});
  controller().togglePreview();
  ASSERT_TRUE(panel().isVisible());
  const std::string shown = panel().shownTitle();
  EXPECT_TRUE(panel().hidesOnDeactivate());
  panel().miniaturize();
  controller().togglePreview();
  EXPECT_TRUE(panel().isVisible());
  EXPECT_FALSE(panel().isMiniaturized());
  EXPECT_EQ(panel().shownTitle(), shown);
  EXPECT_EQ(controller().previewPanel(), &panel());
  controller().openSelectedBookmarks();
  EXPECT_FALSE(panel().isVisible());
}

// The bookmark tip beside a row goes with the row's bookmark (deleted: its cell waits hidden in
// the pool; another reloaded into the row; the cells taken out for another mode), still due, and
// stays while its cell shows the row anew.
TEST_F(PreviewTest, TheBookmarkTipGoesWithTheBookmarkOfItsRow) {
  for (const char* title : {"A", "B", "C"}) add(std::string("http://") + title + ".example/", title);
  build(3);
  controller().selectListView();
  controller().setSelectionDelay(0.01);
  spin(0.1);
  auto shown = [&] { return ui->tutorials().isShown(TutorialPopovers::Tutorial::Bookmark); };
  auto tipAtRow = [&](std::int64_t row) {
    auto cell = ui->collectionView()->cellForItemAtIndexPath(IndexPath::forItem(row, 0));
    if (cell) cell->mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, fnd::Point{5, 5}, 0, 1, &ui->window()));
    return runUntil([&] { return dm().selectedBookmarks().size() == 1; }, 5) && shown();
  };
  auto deleteRow = [&](std::int64_t row) {
    selectRows({row});
    const auto before = dm().bookmarks().size();
    controller().deleteBookmarks();
    return runUntil([&] { return dm().bookmarks().size() == before - 1; }, 10);
  };
  ASSERT_TRUE(tipAtRow(0));
  ASSERT_TRUE(deleteRow(0));
  EXPECT_TRUE(runUntil([&] { return !shown(); }, 5)) << "its row's bookmark deleted";
  // Its row shown anew (a title or a picture changed): the cell gets its bookmark back, and the
  // cell left over from the deletion is hidden again.
  ASSERT_TRUE(tipAtRow(0));
  ViewUpdater::updateBookmarkRows({dm().bookmarks()[0]});
  spin(0.1);
  EXPECT_TRUE(shown()) << "its row shown anew";
  std::reverse(dm().bookmarks().begin(), dm().bookmarks().end());
  ViewUpdater::updateBookmarks();
  EXPECT_TRUE(runUntil([&] { return !shown(); }, 5)) << "another bookmark in its row";
  ASSERT_TRUE(tipAtRow(0));
  controller().selectExtendedView();
  EXPECT_TRUE(runUntil([&] { return !shown(); }, 5)) << "another mode";
  EXPECT_TRUE(TutorialPopovers::isPending(TutorialPopovers::Tutorial::Bookmark));
}

TEST_F(PreviewTest, SpaceInTheListTogglesThePreviewAndOpeningClosesIt) {
  add("http://a.example/", "A");
  build(1);
  selectRows({0});
  // The list leaves the space bar to the controller, which the start puts behind the window.
  controller().setNextResponder(ui->window().nextResponder());
  ui->window().setNextResponder(&controller());
  auto space = ui::Event::key(ui::KeyCode::Space, 0, " ");
  controller().keyDown(space);
  ASSERT_TRUE(panel().isVisible());
  // The View menu's item and the context menu's item reach the list.
  EXPECT_TRUE(controller().respondsToAction(cmd::togglePreviewPanel));
  controller().openSelectedBookmarks();
  EXPECT_FALSE(panel().isVisible());
  controller().keyDown(space);
  EXPECT_TRUE(panel().isVisible());
  // The space bar pressed in the panel reaches the list, and so closes it.
  panel().keyDown(space);
  EXPECT_FALSE(panel().isVisible());
}

TEST_F(PreviewTest, EmailLinksEncodesEveryPartStrictly) {
  // An address that would add a recipient and a header if it were pasted in as it stands.
  const std::string hostile = "http://a.example/p?x=1&cc=evil@example.org&bcc=x#frag ü";
  add(hostile, "A");
  add("http://b.example/", "B");
  build(2);
  std::vector<std::string> urls;
  for (const auto& b : dm().bookmarks()) urls.push_back(b->url().value_or(""));
  selectRows({0, 1});
  controller().emailLinks();
  ASSERT_EQ(mails().size(), 1u);
  ASSERT_EQ(mails()[0].arguments.size(), 1u);
  const std::string mailto = mails()[0].arguments[0];
  EXPECT_EQ(mailto.rfind("mailto:?", 0), 0u) << "no recipient";
  EXPECT_EQ(mailto.find_first_of(" #\n"), std::string::npos) << mailto;
  auto fields = mailtoFields(mailto);
  ASSERT_EQ(fields.size(), 2u) << mailto;
  EXPECT_EQ(fields.count("subject"), 1u);
  EXPECT_EQ(fields.find("subject")->second, "Some bookmarks from my Kesto library");
  ASSERT_EQ(urls.size(), 2u);
  std::string links = urls[0] + "\n" + urls[1];
  EXPECT_EQ(fields.find("body")->second, "Hi,\n\ncheck out these awesome bookmarks!\n\n" + links +
                                             "\n\n--------------\nGet Kesto! (https://kesto.app)");

  // Nothing selected still opens a message, with no links.
  selectRows({});
  controller().emailLinks();
  ASSERT_EQ(mails().size(), 2u);
  ASSERT_FALSE(mails()[1].arguments.empty());
  auto empty = mailtoFields(mails()[1].arguments[0]);
  EXPECT_NE(empty.find("body")->second.find("bookmarks!\n\n\n\n---"), std::string::npos);
}

// With no mail program to take the message, Email Links says so, as a failure, once the answer
// is in; a message taken says nothing.
TEST_F(PreviewTest, EmailWithNoMailProgramSaysSo) {
  auto alerts = TestAlertResponder::install();
  add("http://a.example/", "A");
  build(1);
  selectRows({0});
  for (bool taken : {true, false}) {
    sys::Workspace::setLauncher([taken](const std::string&, const std::vector<std::string>&) { return taken; });
    controller().emailLinks();
    drainTurns();
  }
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_FALSE(alerts->shown[0].information);
  EXPECT_NE(alerts->shown[0].message.find("No mail program could be started"), std::string::npos);
  TestAlertResponder::uninstall();
}

TEST_F(PreviewTest, ComposingRefusesAnythingButAMessage) {
  EXPECT_FALSE(sys::Workspace::composeEmail("https://example.org/"));
  EXPECT_FALSE(sys::Workspace::composeEmail("mailto:?subject=a b"));
  EXPECT_FALSE(sys::Workspace::composeEmail("mailto:?body=a\nb"));
  EXPECT_TRUE(mails().empty());
  EXPECT_TRUE(sys::Workspace::composeEmail("MAILTO:?subject=a"));
  EXPECT_EQ(mails().size(), 1u);
}

TEST_F(PreviewTest, SharingHandsTitleLinkAndShareTextToTheChosenService) {
  add("http://a.example/x?y=1&z=2", "Title & more");
  build(1);
  selectRows({0});
  auto menu = controller().bookmarkMenu();
  ASSERT_TRUE(menu);
  auto share = menu->itemWithTitle("Share");
  ASSERT_TRUE(share && share->submenu());
  std::shared_ptr<ui::MenuItem> copyItem, mailItem;
  for (const auto& item : share->submenu()->items()) {
    if (item->title() == "Copy") copyItem = item;
    if (item->title() == "Email") mailItem = item;
  }
  ASSERT_TRUE(copyItem);
  EXPECT_TRUE(controller().performAction(copyItem->action(), copyItem.get()));
  EXPECT_EQ(ui::Pasteboard::general().stringForType(ui::PasteboardType::String).value_or(""),
            "Title & more\nhttp://a.example/x?y=1&z=2\nLink shared with Kesto https://kesto.app");
  EXPECT_EQ(ui::Pasteboard::general().URLs(), (std::vector<std::string>{"http://a.example/x?y=1&z=2"}));
  ASSERT_TRUE(mailItem) << "the launcher stands for a mail program";
  EXPECT_TRUE(controller().performAction(mailItem->action(), mailItem.get()));
  ASSERT_EQ(mails().size(), 1u);
  ASSERT_FALSE(mails()[0].arguments.empty());
  auto fields = mailtoFields(mails()[0].arguments[0]);
  EXPECT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields.find("subject")->second, "Title & more");
  EXPECT_EQ(fields.find("body")->second, "http://a.example/x?y=1&z=2\n\nLink shared with Kesto https://kesto.app");
}

TEST_F(PreviewTest, TheInspectorHidesAndComesBackAtItsWidth) {
  add("http://a.example/", "A");
  build(1);
  auto& split = *ui->listSplitView();
  ASSERT_GE(split.subviews().size(), 2u);
  ui::View* list = split.subviews()[0].get();
  ui::View* inspector = split.subviews()[1].get();
  const double width = inspector->frame().size.width, listWidth = list->frame().size.width;
  ASSERT_GE(width, 210);
  EXPECT_TRUE(ui->mainMenu()->itemWithTitle("View")->submenu()->itemWithTitle("Hide Inspector"));

  EXPECT_TRUE(app().performAction(cmd::toggleInspector, nullptr));
  EXPECT_TRUE(app().inspectorHidden());
  EXPECT_TRUE(inspector->isHidden());
  EXPECT_GT(list->frame().size.width, listWidth + width - 2);
  EXPECT_TRUE(defaults().boolForKey("editorCollapsed"));
  // Resizing the window keeps it hidden and does not forget its width.
  split.setFrameSize(fnd::Size{split.frame().size.width - 50, split.frame().size.height});
  split.resizeSubviewsWithOldSize(split.frame().size);
  split.postDidResizeSubviews(std::nullopt);
  EXPECT_EQ(inspector->frame().size.width, 0);
  EXPECT_NEAR(defaults().doubleForKey(KestoSplitViewVerticalSecondaryRight::WidthKey), width, 1);

  ui::MenuItem item("Hide Inspector", cmd::toggleInspector);
  app().validateMenuItem(item);
  EXPECT_EQ(item.title(), "Show Inspector");
  ui->editorCollapseButton()->performClick();
  EXPECT_FALSE(app().inspectorHidden());
  EXPECT_FALSE(inspector->isHidden());
  EXPECT_EQ(inspector->frame().size.width, width);
  EXPECT_FALSE(defaults().boolForKey("editorCollapsed"));
}

TEST_F(PreviewTest, AnInspectorHiddenAtQuitStaysHiddenAtTheNextStart) {
  defaults().setBool(true, "editorCollapsed");
  add("http://a.example/", "A");
  build(1);
  EXPECT_TRUE(app().inspectorHidden());
  ASSERT_GE(ui->listSplitView()->subviews().size(), 2u);
  EXPECT_TRUE(ui->listSplitView()->subviews()[1]->isHidden());
  // The toolbar's Edit button (there with a bookmark selected) brings it back.
  selectRows({0});
  controller().views().editButton->performClick();
  EXPECT_FALSE(app().inspectorHidden());
}

TEST_F(PreviewTest, CellsShowTagsAndRatingAsControlsThatLeaveClicksToTheCell) {
  auto b = add("http://a.example/", "A");
  b->setRating(3);
  b->saveBookmark();
  build(1);
  controller().selectListView();
  spin(0.1);
  auto cell = std::dynamic_pointer_cast<TilePinView>(ui->collectionView()->cellForItemAtIndexPath(IndexPath::forItem(0, 0)));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->ratingValue(), 3);
  EXPECT_EQ(cell->rating->doubleValue(), 3);
  EXPECT_FALSE(cell->rating->isEditable());
  EXPECT_FALSE(cell->tags->isEditable());
  EXPECT_FALSE(cell->tags->acceptsFirstResponder());
  cell->setTagNames({"news", "work"});
  EXPECT_EQ(cell->tags->tokens(), (std::vector<std::string>{"news", "work"}));
  // A click on the rating selects the bookmark and leaves its rating alone.
  controller().setSelectionDelay(0.01);
  auto at = cell->rating->convertPointToView(fnd::Point{cell->rating->bounds().maxX() - 2, 6}, nullptr);
  cell->rating->mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, at, 0, 2, &ui->window()));
  EXPECT_EQ(cell->rating->doubleValue(), 3);
  EXPECT_TRUE(runUntil([&] { return dm().selectedBookmarks().size() == 1; }, 5));
}

TEST_F(PreviewTest, ASingleClickOnACompactRowShowsTheBookmarkTutorialUntilItIsClosed) {
  add("http://a.example/", "A");
  build(1);
  controller().selectListView();
  spin(0.1);
  auto cell = std::dynamic_pointer_cast<TilePinView>(ui->collectionView()->cellForItemAtIndexPath(IndexPath::forItem(0, 0)));
  ASSERT_TRUE(cell && cell->isCompactRow());
  auto& tutorials = ui->tutorials();
  auto click = [&](int count) {
    cell->mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, fnd::Point{5, 5}, 0, count, &ui->window()));
  };
  click(2);
  EXPECT_FALSE(tutorials.isShown(TutorialPopovers::Tutorial::Bookmark)) << "only a single click";
  click(1);
  ASSERT_TRUE(tutorials.isShown(TutorialPopovers::Tutorial::Bookmark));
  EXPECT_EQ(tutorials.popover(TutorialPopovers::Tutorial::Bookmark)->positionView(), cell.get());
  click(1);
  EXPECT_TRUE(runUntil([&] { return !tutorials.isShown(TutorialPopovers::Tutorial::Bookmark); }, 5));
  click(1);
  ASSERT_TRUE(tutorials.isShown(TutorialPopovers::Tutorial::Bookmark));
  tutorials.closeTutorial(TutorialPopovers::Tutorial::Bookmark);
  EXPECT_TRUE(runUntil([&] { return !tutorials.isShown(TutorialPopovers::Tutorial::Bookmark); }, 5));
  click(1);
  EXPECT_FALSE(tutorials.isShown(TutorialPopovers::Tutorial::Bookmark));
  // The other modes' cells are no compact rows.
  controller().selectExtendedView();
  spin(0.1);
  auto wide = std::dynamic_pointer_cast<TilePinView>(ui->collectionView()->cellForItemAtIndexPath(IndexPath::forItem(0, 0)));
  ASSERT_TRUE(wide);
  EXPECT_FALSE(wide->isCompactRow());
  // Help > Show Tutorials Again makes it pending once more.
  EXPECT_TRUE(app().performAction(cmd::turnOnTutorialPopups, nullptr));
  EXPECT_TRUE(TutorialPopovers::isPending(TutorialPopovers::Tutorial::Bookmark));
}

}  // namespace
}  // namespace kesto::test
