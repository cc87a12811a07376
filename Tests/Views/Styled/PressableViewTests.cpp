// The press tracking shared by the self-drawn buttons: a click only for a release inside, the
// pressed look following the mouse, and nothing at all for a disabled button.
#include "Platform/UI/Event.h"
#include "Platform/UI/Window.h"
#include "Views/PushButton.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

struct ButtonHarness {
  ui::Window window{fnd::Rect(0, 0, 200, 100)};
  std::shared_ptr<PushButton> button = std::make_shared<PushButton>(fnd::Rect(20, 20, 80, 30));
  int clicks = 0;
  ButtonHarness() {
    window.contentView()->addSubview(button);
    button->setAction([this] { ++clicks; });
  }
  fnd::Point inside() const { return button->convertPointToView({40, 15}, nullptr); }
  fnd::Point outside() const { return button->convertPointToView({140, 60}, nullptr); }
  void send(ui::EventType type, fnd::Point at) { window.sendEvent(ui::Event::mouse(type, at)); }
};

TEST(PressableView, ClicksOnlyWhenReleasedInside) {
  ButtonHarness h;
  h.send(ui::EventType::LeftMouseDown, h.inside());
  EXPECT_TRUE(h.button->isPressed());
  h.send(ui::EventType::LeftMouseUp, h.inside());
  EXPECT_EQ(h.clicks, 1);
  EXPECT_FALSE(h.button->isPressed());

  // Dragged out and released there: no click, and the button shows lifted while outside.
  h.send(ui::EventType::LeftMouseDown, h.inside());
  h.send(ui::EventType::LeftMouseDragged, h.outside());
  EXPECT_FALSE(h.button->isPressed());
  h.send(ui::EventType::LeftMouseUp, h.outside());
  EXPECT_EQ(h.clicks, 1);

  // Out and back in: pressed again, and the release clicks.
  h.send(ui::EventType::LeftMouseDown, h.inside());
  h.send(ui::EventType::LeftMouseDragged, h.outside());
  h.send(ui::EventType::LeftMouseDragged, h.inside());
  EXPECT_TRUE(h.button->isPressed());
  h.send(ui::EventType::LeftMouseUp, h.inside());
  EXPECT_EQ(h.clicks, 2);
}

TEST(PressableView, ADisabledOrHiddenButtonNeitherPressesNorClicks) {
  ButtonHarness h;
  h.button->setEnabled(false);
  h.send(ui::EventType::LeftMouseDown, h.inside());
  EXPECT_FALSE(h.button->isPressed());
  h.send(ui::EventType::LeftMouseDragged, h.inside());
  EXPECT_FALSE(h.button->isPressed());
  h.send(ui::EventType::LeftMouseUp, h.inside());
  h.button->performClick();
  EXPECT_EQ(h.clicks, 0);
  h.button->setEnabled(true);
  h.button->setHidden(true);
  h.button->performClick();
  EXPECT_EQ(h.clicks, 0);
  // A release that never had its press (the press went elsewhere) is no click either.
  h.button->setHidden(false);
  h.send(ui::EventType::LeftMouseDown, h.outside());
  h.button->mouseUp(ui::Event::mouse(ui::EventType::LeftMouseUp, h.inside()));
  EXPECT_EQ(h.clicks, 0);
}

TEST(PushButton, AnImageButtonOfABarShowsItsImageAndTipInItsParent) {
  ui::Window window{fnd::Rect(0, 0, 200, 100)};
  auto bar = window.contentView();
  auto button = PushButton::addImageButton(*bar, fnd::Rect(6, 3, 30, 24), "toolbar_add", "New folder");
  ASSERT_TRUE(button);
  EXPECT_EQ(button->superview(), bar.get());
  EXPECT_EQ(button->frame(), fnd::Rect(6, 3, 30, 24));
  EXPECT_EQ(button->imageName(), "toolbar_add");
  EXPECT_EQ(button->toolTip(), "New folder");
  EXPECT_TRUE(button->title().empty());
  // No action yet: a click does nothing; the one given later runs.
  button->performClick();
  int clicks = 0;
  button->setAction([&] { ++clicks; });
  button->performClick();
  EXPECT_EQ(clicks, 1);
}

}  // namespace
}  // namespace kesto::test
