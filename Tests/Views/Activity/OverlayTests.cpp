#include "Views/OverlayController.h"
#include "Views/OverlayView.h"
#include "Views/OverlayWindow.h"

#include "Harness/TestSupport.h"
#include "Platform/UI/Window.h"

#include <gtest/gtest.h>

using kesto::OverlayController;
using kesto::fnd::Rect;
using kesto::fnd::Size;
using kesto::ui::Color;
using kesto::ui::View;
using kesto::ui::Window;

namespace {

struct Scene {
  Window window{Rect(100, 100, 400, 300)};
  std::shared_ptr<View> target = std::make_shared<View>(Rect(50, 40, 300, 200));
  Scene() {
    window.contentView()->setBackgroundColor(Color::white());
    target->setBackgroundColor(Color::white());
    window.contentView()->addSubview(target);
  }
  int overlaysOnTarget() const {
    int n = 0;
    for (const auto& v : target->subviews())
      if (dynamic_cast<kesto::OverlayWindow*>(v.get())) ++n;
    return n;
  }
};

}  // namespace

TEST(OverlayController, SizedBezelSitsInTheMiddleAndFollowsTheView) {
  Scene scene;
  auto other = std::make_shared<View>(Rect(0, 0, 10, 10));
  scene.target->addSubview(other);
  OverlayController controller;
  EXPECT_FALSE(controller.isOverlay());
  controller.beginOverlayToView(*scene.target, "Bookmark added", 8, Size{100, 60});
  ASSERT_TRUE(controller.isOverlay());
  auto overlay = controller.overlayWindow();
  EXPECT_EQ(overlay->frame(), scene.target->bounds()) << "covers exactly the view";
  EXPECT_EQ(scene.target->subviews().back(), overlay);
  EXPECT_GT(overlay->zPosition(), other->zPosition()) << "above the view's own subviews";
  EXPECT_EQ(overlay->overlayView()->label(), "Bookmark added");
  EXPECT_EQ(overlay->overlayView()->bezelRadius(), 8);
  EXPECT_EQ(overlay->overlayView()->frame(), Rect(100, 70, 100, 60));
  EXPECT_TRUE(overlay->canBecomeKeyWindow());

  scene.target->setFrameSize(Size{500, 100});
  EXPECT_EQ(overlay->frame(), Rect(0, 0, 500, 100));
  EXPECT_EQ(overlay->overlayView()->frame(), Rect(200, 20, 100, 60)) << "same size, still centred";
}

TEST(OverlayController, OffsetBezelFillsTheOverlayInset) {
  Scene scene;
  OverlayController controller;
  controller.beginOverlayToView(*scene.target, "x", 10, 20.0);
  EXPECT_EQ(controller.overlayWindow()->overlayView()->frame(), Rect(20, 20, 260, 160));
  scene.target->setFrameSize(Size{100, 100});
  EXPECT_EQ(controller.overlayWindow()->overlayView()->frame(), Rect(20, 20, 60, 60));

  // The plain form places no bezel at all.
  controller.beginOverlayToView(*scene.target, "x", 10);
  EXPECT_EQ(controller.overlayWindow()->overlayView()->frame(), Rect());
}

TEST(OverlayController, EndingIsSafeAtAnyTimeAndBeginningAgainReplaces) {
  Scene scene;
  OverlayController controller;
  controller.endOverlay();  // nothing begun
  controller.beginOverlayToView(*scene.target, "one", 10, Size{50, 50});
  controller.beginOverlayToView(*scene.target, "two", 10, Size{50, 50});
  EXPECT_EQ(scene.overlaysOnTarget(), 1) << "the first overlay is not left behind";
  EXPECT_EQ(controller.overlayWindow()->overlayView()->label(), "two");
  controller.endOverlay();
  controller.endOverlay();  // used to raise
  EXPECT_FALSE(controller.isOverlay());
  EXPECT_EQ(scene.overlaysOnTarget(), 0);
  EXPECT_EQ(controller.targetView(), scene.target) << "the view stays remembered";

  {
    OverlayController shortLived;
    shortLived.beginOverlayToView(*scene.target, "gone", 10, Size{50, 50});
  }
  EXPECT_EQ(scene.overlaysOnTarget(), 0) << "a controller takes its overlay with it";
}

TEST(OverlayController, BezelIsDrawnDarkOverTheViewAndLetsClicksThrough) {
  Scene scene;
  OverlayController controller;
  controller.beginOverlayToView(*scene.target, "", 10, Size{100, 60});
  auto image = scene.window.contentView()->snapshot();
  // Content view rows run downwards: the target spans x 50...350, rows 60...260; the bezel its
  // middle 100 by 60.
  Color centre = image.pixelColor(200, 160);
  EXPECT_NEAR(centre.red, 0.25, 0.05) << "black at 75% over white";
  Color outsideBezel = image.pixelColor(60, 70);
  EXPECT_GT(outsideBezel.red, 0.95);
  Color outsideTarget = image.pixelColor(10, 10);
  EXPECT_GT(outsideTarget.red, 0.95);
  EXPECT_EQ(scene.window.contentView()->hitTest({200, 140}), scene.target.get());
}

TEST(OverlayView, LabelWiderThanTheBezelStaysInsideIt) {
  Scene scene;
  OverlayController controller;
  controller.beginOverlayToView(*scene.target, std::string(80, 'W'), 10, Size{60, 40});
  auto image = scene.window.contentView()->snapshot();
  // Just outside the bezel's sides on the label's line the view is untouched.
  EXPECT_GT(image.pixelColor(168, 160).red, 0.95);
  EXPECT_GT(image.pixelColor(232, 160).red, 0.95);
  EXPECT_LT(image.pixelColor(172, 145).red, 0.6) << "the bezel itself";
}

TEST(OverlayController, TheCoveredViewMayGoFirst) {
  OverlayController controller;
  {
    auto target = std::make_shared<View>(Rect(0, 0, 300, 200));
    controller.beginOverlayToView(*target, "busy", 10, Size{50, 50});
  }
  EXPECT_FALSE(controller.targetView());
  controller.endOverlay();
  EXPECT_FALSE(controller.isOverlay());
}
