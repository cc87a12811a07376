#include "Harness/TestSupport.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Window.h"
#include "Views/Unused/PopoverAlert.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {

struct AlertFixture : ::testing::Test {
  ui::Window window{fnd::Rect(200, 200, 600, 400)};
  std::shared_ptr<ui::View> viewA = std::make_shared<ui::View>(fnd::Rect(20, 150, 60, 20));
  std::shared_ptr<ui::View> viewB = std::make_shared<ui::View>(fnd::Rect(300, 150, 60, 20));
  std::vector<std::string> log;
  void SetUp() override {
    window.contentView()->addSubview(viewA);
    window.contentView()->addSubview(viewB);
    window.makeKeyAndOrderFront();
    // Activation reaches the window through the event loop.
    test::runUntil([] { return ui::PlatformObserver::isApplicationActive(); }, 30);
    test::spin(0.05);
  }
  void TearDown() override {
    // Answer whatever is left so the shared stack is empty for the next test.
    while (auto current = PopoverAlert::currentAlert()) current->stopSynchronousPopoverAlert(0);
    test::spin(0.3);
  }
  std::shared_ptr<PopoverAlert> alert(const std::string& name, ui::View* view) {
    auto a = std::make_shared<PopoverAlert>();
    a->setMessageText(name);
    a->addButtonWithTitle("OK");
    a->addButtonWithTitle("Cancel");
    a->addButtonWithTitle("Other");
    a->runAsPopoverForView(view, [this, name](std::int64_t code) { log.push_back(name + " " + std::to_string(code)); });
    return a;
  }
  static bool visible(const std::shared_ptr<PopoverAlert>& a) {
    return a->parentPopover() && a->parentPopover()->popoverIsVisible();
  }
};

}  // namespace

TEST_F(AlertFixture, ANewerAlertPutsTheShownOneAsideUntilItIsAnswered) {
  auto a = alert("A", viewA.get());
  ASSERT_TRUE(test::runUntil([&] { return visible(a); }, 30));
  auto firstPopoverOfA = a->parentPopover();
  auto b = alert("B", viewB.get());
  EXPECT_EQ(PopoverAlert::currentAlert(), b);
  EXPECT_EQ(PopoverAlert::waitingCount(), 1u);
  ASSERT_TRUE(test::runUntil([&] { return !firstPopoverOfA->popoverIsVisible() && visible(b); }, 30));
  EXPECT_TRUE(log.empty());  // A was put aside, not answered
  b->stopSynchronousPopoverAlert(1);
  EXPECT_EQ(log, std::vector<std::string>{"B 1001"});
  // A returns in a popover of its own, at the top of its view.
  EXPECT_EQ(PopoverAlert::currentAlert(), a);
  EXPECT_EQ(PopoverAlert::waitingCount(), 0u);
  EXPECT_NE(a->parentPopover(), firstPopoverOfA);
  ASSERT_TRUE(test::runUntil([&] { return visible(a) && !b->parentPopover()->popoverIsVisible(); }, 30));
  EXPECT_EQ(a->parentPopover()->positionView(), viewA.get());
  EXPECT_EQ(a->parentPopover()->arrowDirection(), PopoverArrow::Above);
  a->stopSynchronousPopoverAlert(2);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "A 1002");
  EXPECT_EQ(PopoverAlert::currentAlert(), nullptr);
}

TEST_F(AlertFixture, DisplacedAlertsComeBackMostRecentFirst) {
  auto a = alert("A", viewA.get());
  auto b = alert("B", viewB.get());
  auto c = alert("C", viewA.get());
  EXPECT_EQ(PopoverAlert::waitingCount(), 2u);
  c->stopSynchronousPopoverAlert(0);
  EXPECT_EQ(PopoverAlert::currentAlert(), b);
  b->stopSynchronousPopoverAlert(0);
  EXPECT_EQ(PopoverAlert::currentAlert(), a);
  a->stopSynchronousPopoverAlert(0);
  EXPECT_EQ(log, (std::vector<std::string>{"C 1000", "B 1000", "A 1000"}));
}

TEST_F(AlertFixture, AClickOnAButtonAnswersAndAnAlertWithoutBlockStillCloses) {
  auto a = std::make_shared<PopoverAlert>();
  a->setMessageText("No block");
  a->runAsPopoverForView(viewA.get(), nullptr);
  EXPECT_EQ(a->buttonTitles(), std::vector<std::string>{"OK"});
  ASSERT_TRUE(test::runUntil([&] { return visible(a); }, 30));
  // Click the OK button inside the popover window.
  auto& popoverWindow = a->parentPopover()->popoverWindow();
  auto button = a->panelContentView()->subviews().back();
  fnd::Point centre = button->convertPointToView(fnd::Point{button->bounds().midX(), button->bounds().midY()}, nullptr);
  for (auto type : {ui::EventType::LeftMouseDown, ui::EventType::LeftMouseUp}) {
    ui::Event e;
    e.type = type;
    e.locationInWindow = centre;
    e.clickCount = 1;
    popoverWindow.sendEvent(e);
  }
  EXPECT_EQ(PopoverAlert::currentAlert(), nullptr);
  ASSERT_TRUE(test::runUntil([&] { return !a->parentPopover()->popoverIsVisible(); }, 30));
}
