// The assistant's window with stages that record what it tells them.
#include "SetupTestSupport.h"

#include "Harness/TestSupport.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/Button.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

TEST(SetupWindow, OneStageFinishesOnContinueAndNeverGoesBack) {
  std::vector<bool> completions;
  EXPECT_FALSE(SetupWindow::create({}, [](bool) {}));
  EXPECT_FALSE(SetupWindow::create({probe("a", nullptr)}, nullptr));
  auto window = SetupWindow::create({probe("a", nullptr)}, [&](bool done) { completions.push_back(done); });
  ASSERT_TRUE(window);
  EXPECT_EQ(window->currentStage(), 0);
  EXPECT_FALSE(window->backButton().isEnabled());
  EXPECT_TRUE(window->nextButton().isEnabled());
  EXPECT_EQ(window->nextButton().title(), "Continue");
  EXPECT_EQ(window->backButton().title(), "Back");
  window->back();
  EXPECT_EQ(window->currentStage(), 0);
  window->nextButton().performClick();
  EXPECT_EQ(completions, std::vector<bool>{true});
  window->cancelOperation();  // Escape
  EXPECT_EQ(completions, (std::vector<bool>{true, false}));
}

// The faded picture lies beside the stages and the buttons, never under their texts and fields.
TEST(SetupWindow, ThePictureKeepsClearOfTheStagesAndTheButtons) {
  auto window = SetupWindow::create({probe("a", nullptr)}, [](bool) {});
  ASSERT_TRUE(window);
  const fnd::Rect picture = window->imageView().frame();
  EXPECT_GT(picture.size.width, 0);
  EXPECT_TRUE(window->contentView()->bounds().contains(picture));
  for (ui::View* other : {&window->contentBox(), static_cast<ui::View*>(&window->cancelButton()),
                          static_cast<ui::View*>(&window->backButton()), static_cast<ui::View*>(&window->nextButton())})
    EXPECT_FALSE(picture.intersects(other->frame()));
}

TEST(SetupWindow, ButtonsFollowTheShownStage) {
  std::vector<std::string> events;
  auto a = probe("a", &events), b = probe("b", &events);
  b->title = "Finish";
  b->backFlag = false;
  auto window = SetupWindow::create({a, b}, [](bool) {});
  ASSERT_TRUE(window);
  window->setAnimates(false);
  // A stage that turns Continue off while shown disables it at once.
  a->setContinue(false);
  EXPECT_FALSE(window->nextButton().isEnabled());
  a->setContinue(true);
  window->next();
  EXPECT_EQ(window->currentStage(), 1);
  EXPECT_EQ(window->nextButton().title(), "Finish");
  EXPECT_FALSE(window->backButton().isEnabled());
  // A stage no longer shown changes nothing.
  a->setContinue(false);
  EXPECT_TRUE(window->nextButton().isEnabled());
  EXPECT_EQ(events, (std::vector<std::string>{"a:didProgressToStage", "a:willProgressToNextStage",
                                              "b:didProgressToStage"}));
  ASSERT_TRUE(b->view());
  EXPECT_EQ(b->view()->superview(), &window->contentBox());
  EXPECT_FALSE(a->view()->superview());
}

TEST(SetupWindow, AStageInsertedWhenLeavingIsShownNextAndTheSlideEndsInPlace) {
  std::vector<std::string> events;
  auto a = probe("a", &events), last = probe("last", &events), inserted = probe("inserted", &events);
  auto window = SetupWindow::create({a, last}, [](bool) {});
  ASSERT_TRUE(window);
  SetupWindow* w = window.get();
  a->onLeaveForward = [w, inserted] { w->addNextViewController(inserted); };
  window->next();  // animated
  EXPECT_EQ(window->currentStage(), 1);
  EXPECT_EQ(window->currentViewController(), inserted.get());
  ASSERT_TRUE(runUntil([&] { return ui::AnimationContext::runningAnimationCount() == 0 && events.size() >= 3; }, 5));
  EXPECT_EQ(events.back(), "inserted:didProgressToStage");
  EXPECT_EQ(inserted->view()->frame(), fnd::Rect(0, 0, 400, 330));
  EXPECT_FALSE(a->view()->superview());
  window->setAnimates(false);
  window->back();
  EXPECT_EQ(window->currentViewController(), a.get());
  EXPECT_EQ(events.back(), "a:didRevertToStage");
}

}  // namespace
}  // namespace kesto::test
