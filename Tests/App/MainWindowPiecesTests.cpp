// The main window around the bookmark list: the sidebar's service rows and badges as the list
// and the inspector see them.
#include "AppFixture.h"

#include "App/AppCommands.h"
#include "App/EditorController.h"
#include "App/PreferencesController.h"
#include "App/ServiceAccounts.h"
#include "App/ShellPanels.h"
#include "Model/RecordedServiceCalls.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/Window.h"
#include "Views/BRWColoredView.h"
#include "Views/KestoPanel.h"
#include "Views/PushButton.h"
#include "Views/TextLabel.h"

#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarKeys.h"
#include "Views/SourceList.h"
#include "Views/SourceListItem.h"

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace kesto::test {
namespace {

class MainWindowPiecesTest : public AppTest {
 protected:
  void TearDown() override {
    ServiceAccounts::uninstall();
    registerFolderServiceClientFactory(nullptr);
    AppTest::TearDown();
  }
  FoldersController& folders() { return *ui->foldersController(); }
  Found<SourceListItem*> row(const std::string& id) {
    auto* home = folders().homeItem();
    for (size_t i = 0; home && i < home->childCount(); ++i)
      if (home->childAt(i)->identifier() == id) return {home->childAt(i), "the folder row " + id};
    return {nullptr, "the folder row " + id};
  }
  // As a click: the list acts on the row a moment later.
  void choose(SourceListItem* item) {
    ASSERT_TRUE(item);
    brightwren::setSelectedItems(*folders().sourceList(), {item});
    spin(0.2);
  }
  void showTab(const char* selectedView) {
    defaults().setString(selectedView, SelectedView);
    ViewUpdater::updateSidebar();
    spin(0.2);
  }
};

TEST_F(MainWindowPiecesTest, GoToFolderLeavesAServiceRowWhoseLoginWasCancelled) {
  auto work = addFolder("Work");
  auto a = add("http://work.example/", "W", work);
  build(1);
  ServiceAccounts::install(&dm(), &ui->window());
  choose(row(FoldersController::kPinboardItemID));
  auto& login = ServiceAccounts::installed()->panel();
  ASSERT_TRUE(runUntil([&] { return login.isVisible(); }));
  login.orderOut();
  spin(0.2);
  // Without the account the row is not kept: the sidebar is back on the list it showed.
  EXPECT_NE(folders().selectedIdentifier(), FoldersController::kPinboardItemID);
  EXPECT_NE(defaults().stringForKey("currentlySelectedFolder").value_or(""), FoldersController::kPinboardItemID);
  showTab(SelectedTagsView);
  dm().setSelectedBookmarks({a});
  dm().setCurrentBookmark(a);
  ViewUpdater::updateInspector();
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWGoToCurrentFolder);
  EXPECT_TRUE(runUntil([&] { return dm().currentFolder() && dm().bookmarks().size() == 1; }));
  EXPECT_EQ(folders().selectedIdentifier(), work->folderID());
  ASSERT_TRUE(dm().currentFolder());
  EXPECT_EQ(dm().currentFolder()->folderID(), work->folderID());
  ASSERT_EQ(dm().bookmarks().size(), 1u);
  EXPECT_EQ(dm().bookmarks()[0], a);
}

std::vector<std::string> titles(const std::vector<Bookmark::Ref>& list) {
  std::vector<std::string> out;
  for (const auto& b : list) out.push_back(b->title().value_or(""));
  return out;
}

TEST_F(MainWindowPiecesTest, TheBottomBarSortButtonsSetTheOrderTheirImagesAndTheList) {
  auto a = add("http://a.example/", "a");
  auto b = add("http://b.example/", "b");
  auto c = add("http://c.example/", "c");
  a->setRating(1.0);
  b->setRating(5.0);
  c->setRating(3.0);
  a->saveBookmark();
  b->saveBookmark();
  c->saveBookmark();
  build(3);
  auto& prefs = ui->preferencesController();
  const auto& sort = prefs.sortButtons();
  ASSERT_TRUE(sort.titleBottomBar && sort.ratingBottomBar && sort.dateDescBottomBar);
  sort.titleBottomBar->performClick();
  EXPECT_TRUE(prefs.sortFoldersAlfabetically());
  EXPECT_FALSE(prefs.sortFoldersByDateDescending());
  EXPECT_EQ(sort.titleBottomBar->imageName(), "title_asc_selected");
  EXPECT_EQ(sort.dateDescBottomBar->imageName(), "date_desc");
  EXPECT_TRUE(runUntil([&] { return titles(dm().bookmarks()) == std::vector<std::string>{"a", "b", "c"}; }));
  // The rating order turns on over the base order, and off again with a second click.
  sort.ratingBottomBar->performClick();
  EXPECT_TRUE(prefs.sortFoldersByRating());
  EXPECT_EQ(sort.ratingBottomBar->imageName(), "rating_desc_selected");
  EXPECT_TRUE(runUntil([&] { return titles(dm().bookmarks()) == std::vector<std::string>{"b", "c", "a"}; }));
  EXPECT_TRUE(fnd::UserDefaults::standard().boolForKey("sortFoldersByRating"));
  sort.ratingBottomBar->performClick();
  EXPECT_FALSE(prefs.sortFoldersByRating());
  EXPECT_EQ(sort.ratingBottomBar->imageName(), "rating_desc");
  EXPECT_TRUE(runUntil([&] { return titles(dm().bookmarks()) == std::vector<std::string>{"a", "b", "c"}; }));
  // Another base order replaces the first.
  sort.dateDescBottomBar->performClick();
  EXPECT_FALSE(prefs.sortFoldersAlfabetically());
  EXPECT_EQ(sort.titleBottomBar->imageName(), "title_asc");
  EXPECT_EQ(sort.dateDescBottomBar->imageName(), "date_desc_selected");
}

TEST_F(MainWindowPiecesTest, ServiceMarksNeedTheAccountAndPostEachNewlyMarkedBookmark) {
  auto work = addFolder("Work");
  auto a = add("http://a.example/", "A", work);
  auto b = add("http://b.example/", "B", work);
  build(2);
  RecordedServiceCalls calls;
  std::vector<std::string> messages;
  fnd::NotificationCenter::defaultCenter().addObserver(this, [&](const fnd::Notification& n) {
    messages.push_back(n.userInfo.at(kOverlayMessageKey).string());
  }, ShowOverlayWithMessage);
  dm().setSelectedBookmarks({a, b});
  auto& bc = controller();
  ui::MenuItem probe("", cmd::addToPinboard);
  auto* add = bc.actions().find(cmd::addToPinboard);
  ASSERT_TRUE(add);
  // Without the account: offered nowhere, and doing it changes nothing.
  EXPECT_FALSE(add->isEnabled(probe));
  auto menu = bc.bookmarkMenu();
  EXPECT_FALSE(menu->itemWithTitle("Add to Pinboard"));
  bc.addToService(Service::kPinboard);
  EXPECT_EQ(a->folder(), work);
  EXPECT_TRUE(calls.bookmarks.empty());
  std::shared_ptr<ui::Menu> edit;
  for (const auto& item : ui::Application::shared().mainMenu()->items())
    if (item->title() == "Edit") edit = item->submenu();
  ASSERT_TRUE(edit);
  edit->update();
  ASSERT_TRUE(edit->itemWithTitle("Add to Pinboard"));
  EXPECT_TRUE(edit->itemWithTitle("Add to Pinboard")->isHidden());

  auto pinboard = Service::initEntity();
  pinboard->setValue(0, fnd::Value("pinboard"));
  WrenEntity::saveContext();
  edit->update();
  EXPECT_FALSE(edit->itemWithTitle("Add to Pinboard")->isHidden());
  EXPECT_TRUE(edit->itemWithTitle("Add to Delicious")->isHidden());
  EXPECT_TRUE(bc.bookmarkMenu()->itemWithTitle("Remove from Pinboard"));
  EXPECT_TRUE(add->isEnabled(probe));
  const auto version = a->version();
  ASSERT_TRUE(bc.actions().perform(cmd::addToPinboard));
  EXPECT_EQ(calls.bookmarks, (std::vector<std::string>{"pinboard http://a.example/", "pinboard http://b.example/"}));
  EXPECT_TRUE(a->isPinboard() && b->isPinboard());
  EXPECT_FALSE(a->folder());
  EXPECT_GT(a->version(), version);
  EXPECT_EQ(messages, (std::vector<std::string>{"Added to Pinboard", "Added to Pinboard"}));
  EXPECT_FALSE(WrenDataManager::sharedInstance().managedObjectContext()->hasChanges());
  // Removing files them in the Inbox and deletes nothing on the service.
  messages.clear();
  calls.bookmarks.clear();
  ASSERT_TRUE(bc.actions().perform(cmd::removeFromPinboard));
  EXPECT_FALSE(a->isPinboard() || b->isPinboard());
  ASSERT_TRUE(a->folder());
  EXPECT_EQ(a->folder()->folderID(), Folder::kInboxID);
  EXPECT_EQ(messages, (std::vector<std::string>{"Removed from Pinboard", "Removed from Pinboard"}));
  for (const auto& call : calls.bookmarks) EXPECT_EQ(call.find("delete"), std::string::npos) << call;
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
}

TEST_F(MainWindowPiecesTest, TheInspectorStripsShowEachMessageForItsOwnSeconds) {
  build(0);
  auto& editor = dynamic_cast<EditorController&>(ui->inspectorController());
  const auto& v = editor.views();
  EXPECT_TRUE(v.progressView1->isHidden() && v.progressView2->isHidden());
  EXPECT_EQ(v.progressView1->color(), "darkGrayBordered");
  ViewUpdater::showMessage("First", 300, 100, 1);
  EXPECT_FALSE(v.progressView1->isHidden() || v.progressView2->isHidden());
  EXPECT_EQ(v.progressLabel2->stringValue(), "First");
  // The main loop's timers fire in the order they fall due, however late (late ones all in one
  // turn): one second from now falls due after the first message's second and before the second
  // message's two, which start after it. What it sees is what shows between the two.
  struct Seen {
    bool fired = false, hidden = true;
    std::string label;
  };
  auto seen = std::make_shared<Seen>();
  fnd::RunLoop::main().performAfterDelay(1, [seen, &v] {
    *seen = {true, v.progressView1->isHidden(), v.progressLabel1->stringValue()};
  });
  ViewUpdater::showMessage("Second", 300, 100, 2);
  EXPECT_EQ(v.progressLabel1->stringValue(), "Second");
  ASSERT_TRUE(runUntil([&] { return seen->fired; }, 60));
  EXPECT_FALSE(seen->hidden) << "the first message's time hid the second";
  EXPECT_EQ(seen->label, "Second");
  EXPECT_TRUE(runUntil([&] { return v.progressView1->isHidden() && v.progressView2->isHidden(); }, 60));
  EXPECT_EQ(v.progressLabel1->stringValue(), "");
}

// The ink of a number as a coarse grid over its bounding box (and its proportions): a shape
// that compares across renderings.
using InkGrid = std::vector<double>;
constexpr int kInkColumns = 5, kInkRows = 7;

struct Ink {
  int x, y;
  double weight;  // how much of the pixel the glyph covers
};

InkGrid inkGrid(const std::vector<Ink>& ink) {
  InkGrid grid(kInkColumns * kInkRows + 1, 0.0);
  int minX = INT_MAX, maxX = INT_MIN, minY = INT_MAX, maxY = INT_MIN;
  double total = 0;
  for (const Ink& i : ink) {
    total += i.weight;
    if (i.weight < 0.4) continue;
    minX = std::min(minX, i.x), maxX = std::max(maxX, i.x), minY = std::min(minY, i.y), maxY = std::max(maxY, i.y);
  }
  if (maxX < minX || total <= 0) return grid;
  for (const Ink& i : ink) {
    const int cx = std::clamp((i.x - minX) * kInkColumns / (maxX - minX + 1), 0, kInkColumns - 1);
    const int cy = std::clamp((i.y - minY) * kInkRows / (maxY - minY + 1), 0, kInkRows - 1);
    grid[std::size_t(cy * kInkColumns + cx)] += i.weight / total;
  }
  grid.back() = double(maxX - minX + 1) / double(maxY - minY + 1);
  return grid;
}

double inkDistance(const InkGrid& a, const InkGrid& b) {
  double d = 0;
  for (std::size_t i = 0; i + 1 < a.size(); ++i) d += std::abs(a[i] - b[i]);
  return d + std::abs(a.back() - b.back());
}

// Reads the number the badge of `image` shows: the white inside the red disc at the lower left,
// matched against each candidate number drawn in the badge's font.
std::string badgeNumber(const ui::Image& image) {
  const int w = int(image.size().width), h = int(image.size().height);
  const auto red = [](const ui::Color& c) { return c.red > 0.8 && c.green < 0.5 && c.blue < 0.5; };
  std::vector<Ink> shown;
  for (int y = std::max(0, h - 40); y < h; ++y) {
    // Inside the disc on this row: between its leftmost and rightmost red.
    int left = -1, right = -1;
    for (int x = 0; x < std::min(w, 40); ++x)
      if (red(image.pixelColor(x, y))) right = x, left = left < 0 ? x : left;
    // The white glyph lifts the disc's green (0.4 at most) towards 1.
    for (int x = left + 1; left >= 0 && x < right; ++x)
      if (const double g = image.pixelColor(x, y).green; g > 0.45) shown.push_back({x, y, std::min(1.0, (g - 0.4) / 0.6)});
  }
  const InkGrid badge = inkGrid(shown);
  std::string best;
  double bestDistance = 1e9;
  for (int n = 1; n <= 19; ++n) {
    const std::string text = std::to_string(n);
    const ui::Image drawn = ui::Image::drawn({40, 30}, [&](ui::GraphicsContext& g) {
      ui::Font font;
      font.family = "Helvetica";
      font.pointSize = 12;
      g.drawText(text, fnd::Rect(5, 5, 30, 20), font, ui::Color::black());
    });
    std::vector<Ink> ink;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        if (const double a = drawn.pixelColor(x, y).alpha; a > 0.05) ink.push_back({x, y, a});
    const double d = inkDistance(badge, inkGrid(ink));
    if (d < bestDistance) bestDistance = d, best = text;
  }
  return best;
}

TEST(DragImage, TheBadgeShowsTheNumberOfBookmarksDragged) {
  for (std::size_t count : {1u, 3u, 4u, 7u, 8u, 12u}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(badgeNumber(BookmarksController::dragImageForCount(count)), std::to_string(count));
  }
  // Nothing dragged: the plain image, no badge.
  EXPECT_EQ(BookmarksController::dragImageForCount(0).encoded("png"), ui::Image::named("drag_thumbnail").encoded("png"));
}

TEST(DragImage, CarriesTheCountInARedDiscAtItsLowerLeft) {
  auto plain = ui::Image::named("drag_thumbnail");
  ASSERT_FALSE(plain.isNull());
  auto badged = BookmarksController::dragImageForCount(3);
  ASSERT_EQ(badged.size().width, plain.size().width);
  const int h = static_cast<int>(badged.size().height);
  // The disc's middle, a little above the bottom edge: red over the drawing.
  bool red = false;
  for (int x = 2; x < 14 && !red; ++x)
    for (int y = h - 14; y < h - 2 && !red; ++y) {
      auto px = badged.pixelColor(x, y);
      red = px.red > 0.8 && px.green < 0.5 && px.blue < 0.5 && px.alpha > 0.5;
    }
  EXPECT_TRUE(red);
  // The named image itself is left as it was.
  auto again = ui::Image::named("drag_thumbnail");
  EXPECT_EQ(again.encoded("png"), plain.encoded("png"));
}

TEST(ActivityMaximum, AddsPositiveValuesAndStartsAgainAtZeroOrLess) {
  BookmarksController controller;
  controller.setActivityMaxValue(5);
  controller.setActivityMaxValue(3);
  EXPECT_EQ(controller.activityMaxValue(), 8);
  controller.setActivityMaxValue(0);
  EXPECT_EQ(controller.activityMaxValue(), 0);
  controller.setActivityMaxValue(2);
  controller.setActivityMaxValue(-1);
  EXPECT_EQ(controller.activityMaxValue(), 0);
}

TEST_F(MainWindowPiecesTest, TheLoadingSheetShowsOverTheWindowUntilClosed) {
  build(0);
  auto& panels = app().panels();
  panels.showLoadingSheet();
  EXPECT_TRUE(panels.hasSheet());
  EXPECT_TRUE(panels.loadingSheet().isVisible());
  EXPECT_TRUE(panels.backdrop());
  panels.closeLoadingSheet();
  EXPECT_FALSE(panels.hasSheet());
  EXPECT_FALSE(panels.loadingSheet().isVisible());
  EXPECT_FALSE(panels.backdrop());
}

}  // namespace
}  // namespace kesto::test
