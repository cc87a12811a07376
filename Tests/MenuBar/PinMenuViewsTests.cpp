#include "MenuBar/PinMenuCollectionView.h"
#include "MenuBar/PinMenuView.h"
#include "Model/ModelNotifications.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Event.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

class CountingDelegate : public PinViewDelegate {
 public:
  void doubleClickOnPinView(PinMenuView&) override { ++clicks; }
  int clicks = 0;
};

TEST(PinMenuViews, ReturnWithAnyModifierOpensTheSelectionOtherKeysDoNot) {
  int opened = 0;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(&opened, [&](const fnd::Notification&) { ++opened; }, BRWOpenSelectedBookmarksMenuNotification);
  auto list = std::make_shared<PinMenuCollectionView>(fnd::Rect(0, 0, 300, 200));
  list->awakeFromNib();
  EXPECT_TRUE(list->acceptsFirstResponder());
  list->keyDown(ui::Event::key(ui::KeyCode::Return, 0, "\r"));
  list->keyDown(ui::Event::key(ui::KeyCode::Return, ui::ModifierFlag::Command | ui::ModifierFlag::Shift, "\r"));
  EXPECT_EQ(opened, 2);
  list->keyDown(ui::Event::key(ui::KeyCode::KeypadEnter, 0, "\x03"));
  list->keyDown(ui::Event::key(ui::KeyCode::Space, 0, " "));
  EXPECT_EQ(opened, 2);
  center.removeObserver(&opened);
}

TEST(PinMenuViews, MultipleClicksReachTheDelegateAndTheItemRedrawsItsRow) {
  PinMenuCollectionViewItem item(fnd::Rect(0, 0, 200, 40));
  auto& row = *item.pinView();
  CountingDelegate delegate;
  row.setDelegate(&delegate);
  for (int click = 1; click <= 3; ++click) row.mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, {10, 10}, 0, click));
  EXPECT_EQ(delegate.clicks, 2) << "a triple click reaches it twice";

  row.setNeedsDisplayFlag(false);
  row.setSelected(true);
  EXPECT_TRUE(row.selected());
  EXPECT_FALSE(row.needsDisplay()) << "set directly, the row is not redrawn";
  item.setSelected(false);
  EXPECT_FALSE(row.selected());
  EXPECT_FALSE(item.isSelected());
  EXPECT_TRUE(row.needsDisplay());
}

}  // namespace
}  // namespace kesto::test
