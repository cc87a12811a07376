// The main window's panes (widths within limits, kept across launches, only the list grows
// with the window) and its drop door for dragged text and links.
#include "AppFixture.h"

#include "App/BookmarkIntake.h"
#include "App/MainWindowDropView.h"
#include "App/PreferencesController.h"
#include "Views/PushButton.h"
#include "App/PaneControllers.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/Window.h"
#include "Views/FlexSplitView.h"
#include "Views/TwoPaneSplitView.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <functional>

namespace kesto::test {
namespace {

class MainWindowTest : public AppTest {
 protected:
  ui::View& sidebar() { return pane(*ui->splitView(), 0); }
  ui::View& list() { return pane(*ui->listSplitView(), 0); }
  ui::View& inspector() { return pane(*ui->listSplitView(), 1); }
  // A split view's pane; a stand-in when it holds fewer, so the test fails instead of crashing.
  ui::View& pane(ui::View& split, std::size_t i) {
    const auto& panes = split.subviews();
    if (i < panes.size() && panes[i]) return *panes[i];
    ADD_FAILURE() << "the split view holds " << panes.size() << " panes";
    if (!missingPane_) missingPane_ = std::make_shared<ui::View>();
    return *missingPane_;
  }
  std::shared_ptr<ui::View> missingPane_;
  double storedOnDisk(const char* key) {
    fnd::UserDefaults::standard().synchronize();
    return fnd::UserDefaults(fnd::UserDefaults::standard().filePath()).doubleForKey(key);
  }
  // Builds again over the same settings, as the next launch would.
  void relaunch(std::size_t expected) {
    ui.reset();
    build(expected);
  }
};

TEST_F(MainWindowTest, PaneWidthsAreKeptAcrossLaunches) {
  build(0);
  EXPECT_NEAR(sidebar().frame().size.width, 220, 0.5);
  // A first launch with nothing stored opens the inspector at its smallest width.
  EXPECT_NEAR(inspector().frame().size.width, 210, 0.5);
  ui->splitView()->setPosition(280, 0);
  const double listSplitWidth = ui->listSplitView()->frame().size.width;
  ui->listSplitView()->setPosition(listSplitWidth - 300 - 1, 0);
  EXPECT_NEAR(sidebar().frame().size.width, 280, 0.5);
  EXPECT_NEAR(inspector().frame().size.width, 300, 0.5);
  EXPECT_NEAR(storedOnDisk(KestoSplitViewVerticalSecondaryLeft::WidthKey), 280, 0.5);
  EXPECT_NEAR(storedOnDisk(KestoSplitViewVerticalSecondaryRight::WidthKey), 300, 0.5);

  relaunch(0);
  EXPECT_NEAR(sidebar().frame().size.width, 280, 0.5);
  EXPECT_NEAR(inspector().frame().size.width, 300, 0.5);
  // Laying the window out at start must not write the defaults back over the kept widths.
  EXPECT_NEAR(storedOnDisk(KestoSplitViewVerticalSecondaryLeft::WidthKey), 280, 0.5);
  EXPECT_NEAR(storedOnDisk(KestoSplitViewVerticalSecondaryRight::WidthKey), 300, 0.5);
}

TEST_F(MainWindowTest, DividersStayWithinEachPanesLimits) {
  defaults().setDouble(180, KestoSplitViewVerticalSecondaryRight::WidthKey);  // below the inspector's least
  build(0);
  EXPECT_NEAR(inspector().frame().size.width, 210, 0.5);
  ui->splitView()->setPosition(20, 0);
  EXPECT_NEAR(sidebar().frame().size.width, 160, 0.5);
  ui->splitView()->setPosition(900, 0);
  EXPECT_NEAR(sidebar().frame().size.width, 350, 0.5);
  const double w = ui->listSplitView()->frame().size.width;
  ui->listSplitView()->setPosition(10, 0);
  EXPECT_NEAR(inspector().frame().size.width, 350, 0.5);
  ui->listSplitView()->setPosition(w, 0);
  EXPECT_NEAR(inspector().frame().size.width, 210, 0.5);
  // The three panes fill the window side by side without overlapping.
  const double listRight = list().frame().origin.x + list().frame().size.width;
  EXPECT_LE(listRight, inspector().frame().origin.x);
  EXPECT_NEAR(inspector().frame().origin.x + inspector().frame().size.width, w, 0.5);
}

TEST_F(MainWindowTest, OnlyTheListGrowsWithTheWindow) {
  build(0);
  ui->splitView()->setPosition(240, 0);
  const double side = sidebar().frame().size.width, right = inspector().frame().size.width;
  const double listBefore = list().frame().size.width;
  fnd::Rect f = ui->window().frame();
  ui->window().setFrame(fnd::Rect(f.origin.x, f.origin.y, f.size.width + 150, f.size.height), false);
  spin(0.05);
  EXPECT_NEAR(sidebar().frame().size.width, side, 0.5);
  EXPECT_NEAR(inspector().frame().size.width, right, 0.5);
  EXPECT_NEAR(list().frame().size.width, listBefore + 150, 1.0);
}

TEST_F(MainWindowTest, TheFolderListFoldsAwayAndComesBackAtItsWidth) {
  build(0);
  ui->splitView()->setPosition(250, 0);
  // The sidebar's tabs, lists and fields, where they are before folding.
  std::vector<std::pair<ui::View*, fnd::Rect>> inside;
  std::function<void(ui::View&)> collect = [&](ui::View& v) {
    for (const auto& sub : v.subviews()) {
      inside.emplace_back(sub.get(), sub->frame());
      collect(*sub);
    }
  };
  collect(sidebar());
  ASSERT_GT(inside.size(), 6u);
  auto& button = *ui->foldersCollapseButton();
  EXPECT_EQ(button.imageName(), "collapse_right");
  button.performClick();
  ASSERT_TRUE(runUntil([&] { return ui::AnimationContext::runningAnimationCount() == 0; }, 5));
  EXPECT_LE(sidebar().frame().origin.x + sidebar().frame().size.width, 0);
  EXPECT_EQ(button.imageName(), "collapse_left");
  EXPECT_NEAR(list().superview()->frame().origin.x, 0, 1.0);
  // A window resize while folded keeps it folded; the kept width is still the open one.
  fnd::Rect f = ui->window().frame();
  ui->window().setFrame(fnd::Rect(f.origin.x, f.origin.y, f.size.width - 40, f.size.height), false);
  spin(0.05);
  EXPECT_LE(sidebar().frame().origin.x + sidebar().frame().size.width, 0);
  EXPECT_NEAR(storedOnDisk(KestoSplitViewVerticalSecondaryLeft::WidthKey), 250, 0.5);
  button.performClick();
  ASSERT_TRUE(runUntil([&] { return ui::AnimationContext::runningAnimationCount() == 0; }, 5));
  EXPECT_NEAR(sidebar().frame().origin.x, 0, 0.5);
  EXPECT_NEAR(sidebar().frame().size.width, 250, 0.5);
  EXPECT_NEAR(list().superview()->frame().origin.x, 251, 0.5);
  EXPECT_EQ(button.imageName(), "collapse_right");
  // Everything in the sidebar is back where it was: no tab moved, none went missing.
  for (const auto& [view, frame] : inside) EXPECT_EQ(view->frame(), frame);
}

TEST_F(MainWindowTest, TheApplicationDelegateHearsTheInspectorSplitView) {
  build(0);
  EXPECT_EQ(ui->inspectorSplitView()->eventsDelegate(), static_cast<FlexSplitViewDelegate*>(&app()));
  EXPECT_TRUE(app().implementedFlexSplitViewMethods() & FlexSplitViewDelegate::DividerMovedAt);
  ASSERT_FALSE(ui->inspectorSplitView()->subviews().empty());
  EXPECT_EQ(ui->inspectorSplitView()->subviews()[0], ui->inspectorController().view());
}

// ---- the drop door ----

class DropTest : public MainWindowTest {
 protected:
  ui::DraggingInfo carrying(const std::vector<ui::PasteboardItem>& items) {
    ui::Pasteboard::drag().writeObjects(items);
    ui::DraggingInfo info;
    info.pasteboard = &ui::Pasteboard::drag();
    info.sourceOperationMask = ui::DragOperation::Copy;
    info.destinationWindow = &ui->window();
    return info;
  }
  static ui::PasteboardItem text(const std::string& s) {
    ui::PasteboardItem item;
    item.setString(s);
    return item;
  }
  static ui::PasteboardItem link(const std::string& url) {
    ui::PasteboardItem item;
    item.setURL(url, "A page");
    item.setString(url);
    return item;
  }
  // What the window does with a drop: the answer on entering, then the drop itself.
  bool drop(const ui::DraggingInfo& info) {
    auto& door = *ui->dropView();
    if (door.draggingEntered(info) == ui::DragOperation::None) return false;
    return door.prepareForDragOperation(info) && door.performDragOperation(info);
  }
  std::vector<std::string> storedURLs() {
    std::vector<std::string> out;
    for (const auto& b : Bookmark::fetchEntities().value_or(Bookmark::List{})) out.push_back(b->url().value_or(""));
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(DropTest, DroppedLinksAndTextLinesBecomeBookmarksInTheInbox) {
  build(0);
  EXPECT_TRUE(drop(carrying({link("https://dropped.example/a"), link("http://dropped.example/b")})));
  EXPECT_TRUE(drop(carrying({text("notes\nhttps://typed.example/x\nftp://no.example/\n")})));
  EXPECT_EQ(storedURLs(), (std::vector<std::string>{"http://dropped.example/b", "https://dropped.example/a",
                                                   "https://typed.example/x"}));
  for (const auto& b : Bookmark::fetchEntities().value_or(Bookmark::List{}))
    EXPECT_EQ(b->folder(), Folder::inboxFolder()) << b->url().value_or("");
  ASSERT_EQ(sink->delivered.size(), 3u);
  EXPECT_EQ(sink->delivered[0].title, "Bookmark added");
  ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == 3; }, 5));
}

TEST_F(DropTest, DragsWithoutAWebAddressAreRefusedOnEntering) {
  build(0);
  auto& door = *ui->dropView();
  EXPECT_EQ(door.draggingEntered(carrying({text("just words")})), ui::DragOperation::None);
  EXPECT_EQ(door.draggingEntered(carrying({link("file:///etc/passwd")})), ui::DragOperation::None);
  EXPECT_EQ(door.draggingEntered(carrying({text("javascript:alert(1)\nhttpx")})), ui::DragOperation::None);
  EXPECT_EQ(door.draggingEntered(carrying({text("x\nhttps://ok.example/")})), ui::DragOperation::Copy);
  // Words and an address on one line: the drop splits them as it will add them.
  EXPECT_EQ(door.draggingEntered(carrying({text("see HTTPS://ok.example/ there")})), ui::DragOperation::Copy);
  EXPECT_TRUE(storedURLs().empty());
}

// A card let go over the list's background or the inspector reaches the window's drop door:
// Kesto's own drags are moves onto folders or nothing, never a second copy.
TEST_F(DropTest, KestosOwnDragsAreNotAddedAgain) {
  defaults().setBool(false, "skipDuplicates");
  build(0);
  auto card = carrying({link("https://card.example/")});
  card.fromThisApplication = true;
  EXPECT_EQ(ui->dropView()->draggingEntered(card), ui::DragOperation::None);
  EXPECT_FALSE(ui->dropView()->prepareForDragOperation(card));
  EXPECT_TRUE(storedURLs().empty());
  card.fromThisApplication = false;  // the same link from another program
  EXPECT_TRUE(drop(card));
  EXPECT_EQ(storedURLs().size(), 1u);
}

TEST_F(DropTest, ADropKeepsTheBoundsAndDuplicateRulesOfAnyHandOver) {
  add("https://known.example/", "Known");
  build(1);
  ui->preferencesController().setSkipDuplicates(true);
  std::string many;
  for (int i = 0; i < 150; ++i) many += "https://many.example/" + std::to_string(i) + "\n";
  EXPECT_TRUE(drop(carrying({text("https://known.example/\n" + many)})));
  // The known address is skipped and counts towards the hundred; no more than that are added.
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 1 + 99);
  ASSERT_FALSE(sink->delivered.empty());
  EXPECT_EQ(sink->delivered.front().title, "Bookmark skipped (already present)");
  // A text larger than one hand-over may hold is refused whole, already on entering.
  std::string huge(intake::kMaximumIntakeBytes, 'x');
  huge = "https://huge.example/\n" + huge;
  auto info = carrying({text(huge)});
  EXPECT_FALSE(MainWindowDropView::droppedText(*info.pasteboard).has_value());
  EXPECT_FALSE(drop(info));
  EXPECT_FALSE(Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value(std::string("https://huge.example/"))));
}

}  // namespace
}  // namespace kesto::test
