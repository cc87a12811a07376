#include "ControlsDemo/ControlsDemoWindow.h"
#include "Harness/TestSupport.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/WidgetHostView.h"

#include <gtest/gtest.h>

using namespace kesto;

TEST(ControlsDemo, ShowsEveryControlInItsOwnPlaceAndTakesTyping) {
  test::ControlsDemo demo = test::makeControlsDemo();
  demo.window->makeKeyAndOrderFront();
  fnd::Rect content = demo.window->contentView()->bounds();
  ASSERT_GE(demo.controls.size(), 30u);
  for (size_t i = 0; i < demo.controls.size(); ++i) {
    const fnd::Rect a = demo.controls[i]->frame();
    EXPECT_TRUE(content.contains(a)) << i;
    for (size_t j = i + 1; j < demo.controls.size(); ++j) {
      EXPECT_FALSE(a.intersects(demo.controls[j]->frame())) << i << " overlaps " << j;
    }
    if (auto* host = dynamic_cast<ui::WidgetHostView*>(demo.controls[i].get())) {
      EXPECT_TRUE(host->isEnabled()) << i;
    }
  }
  ASSERT_TRUE(demo.window->makeFirstResponder(demo.textField.get()));
  demo.window->sendEvent(ui::Event::key(ui::KeyCode::Invalid, 0, "é"));
  demo.window->sendEvent(ui::Event::key(ui::KeyCode::A, 0, "a"));
  EXPECT_EQ(demo.textField->stringValue(), "éa");
  std::string searched;
  demo.searchField->setAction([&] { searched = demo.searchField->stringValue(); });
  demo.window->makeFirstResponder(demo.searchField.get());
  demo.window->sendEvent(ui::Event::key(ui::KeyCode::K, 0, "k"));
  EXPECT_EQ(searched, "k");
}
