#include "Harness/TestSupport.h"
#include "SourceListFixture.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Application.h"

using namespace kesto;
using namespace kesto::test;
using SD = SourceListDelegate;
using OD = ui::OutlineViewDelegate;
using ODS = ui::OutlineViewDataSource;

namespace {

// Every source-list notification about one list, in order.
struct Recorder {
  std::vector<fnd::Notification> seen;
  fnd::ScopedObserver observer;
  explicit Recorder(const SourceList* list) {
    for (auto name : {SourceListSelectionIsChangingNotification, SourceListSelectionDidChangeNotification,
                             SourceListItemWillExpandNotification, SourceListItemDidExpandNotification,
                             SourceListItemWillCollapseNotification, SourceListItemDidCollapseNotification})
      observer.observe(name, [this](const fnd::Notification& n) { seen.push_back(n); }, list);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (auto& n : seen) out.push_back(std::string(n.name.text()));
    return out;
  }
};

// A delegate that only follows the selection, and watches expansion through its own
// registration.
class SelectionFollower : public SourceListDelegate {
 public:
  int changes = 0, ownExpansions = 0;
  unsigned implementedSourceListDelegateMethods() const override { return SelectionDidChange; }
  void sourceListSelectionDidChange(const fnd::Notification&) override { ++changes; }
  void watchExpansionOf(SourceList* list) {
    fnd::NotificationCenter::defaultCenter().addObserver(
        this, [this](const fnd::Notification&) { ++ownExpansions; }, SourceListItemDidExpandNotification, list);
  }
  ~SelectionFollower() override { fnd::NotificationCenter::defaultCenter().removeObserver(this); }
};

}  // namespace

TEST_F(SourceListFixture, ExpansionAndSelectionArePostedUnderSourceListNamesWithTheItem) {
  controller.delegateMethods = SD::SelectionIsChanging | SD::SelectionDidChange | SD::ItemWillExpand | SD::ItemDidExpand;
  wire();
  Recorder recorder(list.get());
  list->expandItem(library.get());
  list->collapseItem(library.get());  // the delegate handles no collapse: nothing posted
  list->expandItem(library.get());
  ASSERT_EQ(recorder.names(), (std::vector<std::string>{"SourceListItemWillExpand", "SourceListItemDidExpand",
                                                        "SourceListItemWillExpand", "SourceListItemDidExpand"}));
  EXPECT_EQ(recorder.seen[0].object, list.get());
  EXPECT_EQ(sourceListItemOf(recorder.seen[0]), library.get());
  EXPECT_EQ(recorder.seen[0].userInfo.at(SourceListItemKey).object(), library);

  recorder.seen.clear();
  controller.log.clear();
  fnd::Rect r = list->rectOfRow(1);
  fnd::Point p = list->convertPointToView({60, r.origin.y + 4}, nullptr);
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, p, 0, 1, &window));
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, p, 0, 1, &window));
  EXPECT_EQ(recorder.names(),
            (std::vector<std::string>{"SourceListSelectionIsChanging", "SourceListSelectionDidChange"}));
  ASSERT_EQ(recorder.seen.size(), 2u);
  EXPECT_TRUE(recorder.seen[1].userInfo.empty());
  EXPECT_EQ(controller.log, (std::vector<std::string>{"changing", "did change"}));
}

TEST_F(SourceListFixture, ADelegateHearsOnlyWhatItHandlesAndTheListAnnouncesOnlyThat) {
  SelectionFollower follower;
  list->setDataSource(&controller);
  list->setDelegate(&follower);
  unsigned announced = list->delegate()->implementedOutlineDelegateMethods();
  EXPECT_TRUE(announced & OD::SelectionDidChange);
  EXPECT_FALSE(announced & OD::SelectionIsChanging);
  EXPECT_FALSE(announced & OD::ItemDidExpand);
  EXPECT_FALSE(announced & OD::ShouldExpandItem);
  // The list's own answers are always there.
  EXPECT_TRUE(announced & OD::ShouldCollapseItem);
  EXPECT_TRUE(announced & OD::IsGroupItem);
  // The data source announces rename only when it renames.
  EXPECT_FALSE(list->dataSource()->implementedOutlineDataSourceMethods() & ODS::SetObjectValue);

  Recorder recorder(list.get());
  list->expandItem(library.get());
  EXPECT_TRUE(recorder.seen.empty());
  list->selectRowIndexes(fnd::IndexSet(1), false);
  EXPECT_EQ(follower.changes, 1);
  EXPECT_EQ(recorder.names(), (std::vector<std::string>{"SourceListSelectionDidChange"}));
}

TEST_F(SourceListFixture, ReplacingTheDelegateRemovesEveryRegistrationItHadForTheList) {
  SelectionFollower follower;
  list->setDataSource(&controller);
  list->setDelegate(&follower);
  follower.watchExpansionOf(list.get());
  list->expandItem(library.get());
  EXPECT_EQ(follower.ownExpansions, 0);  // nothing posts expansion without a handler

  controller.delegateMethods = SD::ItemDidExpand | SD::ItemWillExpand;
  list->setDelegate(&controller);
  list->expandItem(tags.get());
  list->selectRowIndexes(fnd::IndexSet(1), false);
  EXPECT_EQ(follower.changes, 0);
  EXPECT_EQ(follower.ownExpansions, 0);
  EXPECT_EQ(controller.log, (std::vector<std::string>{"will expand TAGS", "did expand TAGS"}));
}

TEST_F(SourceListFixture, RequiredQuestionsWithoutADataSourceAnswerEmpty) {
  auto* proxy = list->delegateDataSourceProxy();
  EXPECT_EQ(proxy->outlineViewNumberOfChildrenOfItem(*list, nullptr), 0);
  EXPECT_EQ(proxy->outlineViewChildOfItem(*list, 0, nullptr), nullptr);
  EXPECT_FALSE(proxy->outlineViewIsItemExpandable(*list, library.get()));
  EXPECT_TRUE(proxy->outlineViewObjectValueForItem(*list, library.get()).isNull());
  EXPECT_EQ(list->numberOfGroups(), 0u);
  // A data source without object values gives empty ones.
  controller.dataSourceMethods = 0;
  list->setDataSource(&controller);
  EXPECT_EQ(list->numberOfGroups(), 3u);
  EXPECT_TRUE(proxy->outlineViewObjectValueForItem(*list, library.get()).isNull());
}

TEST_F(SourceListFixture, AControllerDyingBeforeItsListIsForgotten) {
  auto doomed = std::make_unique<SidebarController>();
  doomed->groups = controller.groups;
  doomed->delegateMethods = SD::IsGroupAlwaysExpanded | SD::SelectionDidChange | SD::DeleteKeyPressedOnRows;
  doomed->alwaysExpanded = {"LIBRARY"};
  list->setDelegate(doomed.get());
  list->setDataSource(doomed.get());
  list->selectRowIndexes(fnd::IndexSet(1), false);
  ASSERT_EQ(list->numberOfRows(), 5);
  doomed.reset();

  EXPECT_EQ(list->sourceListDelegate(), nullptr);
  EXPECT_EQ(list->sourceListDataSource(), nullptr);
  EXPECT_EQ(list->numberOfRows(), 0);
  // Drawing, keys and notifications after the fact reach nobody and break nothing.
  list->keyDown(ui::Event::key(ui::KeyCode::Delete, 0, "\x7f"));
  list->reloadData();
  EXPECT_FALSE(list->snapshot().isNull());
  fnd::NotificationCenter::defaultCenter().postNotificationName(SourceListSelectionDidChangeNotification, list.get());
}

TEST_F(SourceListFixture, ADelegateDyingFirstStopsHearingTheList) {
  auto doomed = std::make_unique<SelectionFollower>();
  list->setDataSource(&controller);
  list->setDelegate(doomed.get());
  doomed.reset();
  EXPECT_EQ(list->delegate(), nullptr);
  // Selection changes now reach no delegate; the data source is untouched.
  list->expandItem(library.get());
  list->selectRowIndexes(fnd::IndexSet(1), false);
  EXPECT_EQ(list->sourceListDataSource(), &controller);
  EXPECT_EQ(list->selectedRow(), 1);
}

TEST_F(SourceListFixture, AListDyingBeforeItsControllerLeavesItUntouched) {
  controller.delegateMethods = SD::SelectionDidChange;
  wire();
  list->removeFromSuperview();
  list.reset();
  // The controller's destruction (at the end of the test) must not reach the dead list, and
  // its registration went with the list.
  fnd::NotificationCenter::defaultCenter().postNotificationName(SourceListSelectionDidChangeNotification, nullptr);
  EXPECT_TRUE(controller.log.empty());
}

// ---- Badges drawn ----

namespace {
bool isReddish(const ui::Color& c) { return c.red > 0.7 && c.green < 0.35 && c.blue < 0.35; }
int whitePixels(const ui::Image& image, const fnd::Rect& r) {
  int n = 0;
  for (int y = int(r.origin.y); y < int(r.origin.y + r.size.height); ++y)
    for (int x = int(r.origin.x); x < int(r.origin.x + r.size.width); ++x) {
      ui::Color c = image.pixelColor(x, y);
      if (c.red > 0.95 && c.green > 0.95 && c.blue > 0.95) ++n;
    }
  return n;
}
// Both groups open, badges filled red, in the main window.
void showWithRedBadges(SourceListFixture& f) {
  f.controller.delegateMethods = SD::IsGroupAlwaysExpanded;
  f.controller.alwaysExpanded = {"LIBRARY", "TAGS"};
  f.controller.dataSourceMethods |= SourceListDataSource::BadgeBackgroundColorForItem;
  f.controller.badgeBackground = ui::Color::rgb(0.9, 0.1, 0.1);
  f.wire();
  f.window.makeKeyAndOrderFront();
}
}  // namespace

TEST_F(SourceListFixture, ABadgeIsAFortyPointPillEndingFivePointsBeforeTheRowEdge) {
  showWithRedBadges(*this);
  ASSERT_EQ(ui::Application::shared().mainWindow(), &window);
  ui::Image shot = list->snapshot();
  fnd::Rect row = list->rectOfRow(1);
  double right = row.origin.x + row.size.width, mid = row.origin.y + row.size.height / 2;
  // The pill's flat middle runs from right - 45 to right - 5 (minus its round ends).
  EXPECT_TRUE(isReddish(shot.pixelColor(int(right - 5 - 8), int(mid))));
  EXPECT_TRUE(isReddish(shot.pixelColor(int(right - 45 + 8), int(mid))));
  EXPECT_FALSE(isReddish(shot.pixelColor(int(right - 3), int(mid))));
  EXPECT_FALSE(isReddish(shot.pixelColor(int(right - 48), int(mid))));
  // Rows without a badge draw none.
  fnd::Rect work = list->rectOfRow(2);
  EXPECT_FALSE(isReddish(shot.pixelColor(int(right - 20), int(work.origin.y + work.size.height / 2))));

  // Only the main window's badges are filled.
  window.orderOut();
  ui::Image hidden = list->snapshot();
  EXPECT_FALSE(isReddish(hidden.pixelColor(int(right - 5 - 8), int(mid))));
}

TEST_F(SourceListFixture, ASelectedRowsBadgeIsWhiteOnlyWhileTheListHasTheFocus) {
  showWithRedBadges(*this);
  list->selectRowIndexes(fnd::IndexSet(1), false);
  fnd::Rect row = list->rectOfRow(1);
  fnd::Rect badge(row.size.width - 45, row.origin.y + row.size.height / 2 - 7, 40, 14);

  auto other = std::make_shared<ui::View>(fnd::Rect(0, 0, 10, 10));
  window.contentView()->addSubview(other);
  window.makeFirstResponder(nullptr);
  ui::Image unfocused = list->snapshot();
  EXPECT_EQ(whitePixels(unfocused, badge), 0);
  EXPECT_FALSE(isReddish(unfocused.pixelColor(int(badge.origin.x + 20), int(badge.origin.y + 7))));

  ASSERT_TRUE(window.makeFirstResponder(list.get()));
  ui::Image focused = list->snapshot();
  EXPECT_GT(whitePixels(focused, badge), 5);
  EXPECT_FALSE(isReddish(focused.pixelColor(int(badge.origin.x + 20), int(badge.origin.y + 7))));
}

TEST(SourceListBadgeCell, MeasuresItsNumberInBoldTwelvePointPlusTen) {
  SourceListBadgeCell cell;
  EXPECT_EQ(cell.badgeString(), "0");
  cell.setBadgeValue(1234);
  EXPECT_EQ(cell.badgeString(), "1234");
  fnd::Size text = ui::GraphicsContext::sizeOfText("1234", SourceListBadgeCell::badgeFont());
  EXPECT_DOUBLE_EQ(cell.cellSize().width, text.width + 10.0);
  EXPECT_DOUBLE_EQ(cell.cellSize().height, text.height);
}
