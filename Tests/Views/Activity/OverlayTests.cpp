#include "Views/OverlayController.h"
#include "Views/OverlayView.h"
#include "Views/OverlayWindow.h"

#include "Harness/TestSupport.h"
#include "Platform/UI/ViewWidget_p.h"
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
  controller.beginOverlayToView(*scene.target, "OK", 8, Size{100, 60});
  ASSERT_TRUE(controller.isOverlay());
  auto overlay = controller.overlayWindow();
  EXPECT_EQ(overlay->frame(), scene.target->bounds()) << "covers exactly the view";
  EXPECT_EQ(scene.target->subviews().back(), overlay);
  EXPECT_GT(overlay->zPosition(), other->zPosition()) << "above the view's own subviews";
  EXPECT_EQ(overlay->overlayView()->label(), "OK");
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
  EXPECT_NEAR(centre.red, 0.12, 0.03) << "opaque: nothing of the view shows through";
  Color outsideBezel = image.pixelColor(60, 70);
  EXPECT_GT(outsideBezel.red, 0.95);
  Color outsideTarget = image.pixelColor(10, 10);
  EXPECT_GT(outsideTarget.red, 0.95);
  EXPECT_EQ(scene.window.contentView()->hitTest({200, 140}), scene.target.get());
}

// A drop (and a press) goes to the widget the toolkit finds under the pointer: while a message
// shows, that is still the covered view, on the bezel and beside it, so a card dragged onto a
// folder just after "Bookmarks added" lands there.
TEST(OverlayController, DragsAndPressesReachTheViewBeneath) {
  Scene scene;
  scene.window.makeKeyAndOrderFront();
  OverlayController controller;
  controller.beginOverlayToView(*scene.target, "Bookmarks added", 10, Size{100, 60});
  QWidget* beneath = scene.target->nativeWidget();
  QWidget* top = beneath->window();
  for (QPoint p : {QPoint(150, 100), QPoint(10, 10), QPoint(290, 190)}) {
    EXPECT_EQ(top->childAt(beneath->mapTo(top, p)), beneath) << p.x() << "," << p.y();
    EXPECT_EQ(beneath->childAt(p), nullptr) << p.x() << "," << p.y();
  }
  controller.endOverlay();
  EXPECT_EQ(top->childAt(beneath->mapTo(top, QPoint(150, 100))), beneath);
}

TEST(OverlayView, ALongLabelWidensTheBezelToTheViewAndWrapsWhole) {
  Scene scene;
  OverlayController controller;
  controller.beginOverlayToView(*scene.target, "No Bookmarks Found. Hit enter to search with Google", 10,
                                Size{200, 60});
  const Rect bezel = controller.overlayWindow()->overlayView()->frame();
  EXPECT_EQ(bezel.size.width, 300 - 2 * 12) << "as wide as the view allows, a margin on each side";
  EXPECT_GT(bezel.size.height, 60) << "taller for its second line";
  EXPECT_LE(bezel.size.height, 200);
  EXPECT_EQ(bezel.origin.x, 12);

  // Content view rows run downwards: the target spans x 50...350, rows 60...260.
  auto image = scene.window.contentView()->snapshot();
  const int left = 50 + int(bezel.origin.x), right = left + int(bezel.size.width);
  const int top = 60 + int(200 - bezel.maxY()), bottom = top + int(bezel.size.height);
  auto textIn = [&](int x0, int x1, int y0, int y1) {
    for (int x = x0; x < x1; ++x)
      for (int y = y0; y < y1; ++y)
        if (image.pixelColor(x, y).red > 0.6) return true;
    return false;
  };
  // Nothing is cut at either end: the padding inside both sides holds no text.
  EXPECT_FALSE(textIn(left + 3, left + 12, top + 6, bottom - 6));
  EXPECT_FALSE(textIn(right - 12, right - 3, top + 6, bottom - 6));
  // Text on the upper and the lower half: two lines.
  const int middle = (top + bottom) / 2;
  EXPECT_TRUE(textIn(left + 12, right - 12, top + 6, middle));
  EXPECT_TRUE(textIn(left + 12, right - 12, middle, bottom - 6));

  // A message that fits keeps the size asked for.
  controller.beginOverlayToView(*scene.target, "Saved", 10, Size{200, 60});
  EXPECT_EQ(controller.overlayWindow()->overlayView()->frame(), Rect(50, 70, 200, 60));
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
