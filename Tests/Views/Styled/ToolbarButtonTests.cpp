// The toolbar's buttons: glyphs at the toolbar's icon size, dark while enabled and faint only
// when disabled.
#include "Platform/UI/Window.h"
#include "Views/PushButton.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kesto;

namespace {

struct Ink {
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
  double darkest = 1.0;
  int width() const { return right - left + 1; }
  int height() const { return bottom - top + 1; }
};

// The glyph's dark pixels inside a button at (x, y) of the snapshot, its border left out.
Ink inkOf(const ui::Image& shot, int x, int y, int w, int h) {
  Ink ink;
  for (int py = y + 3; py < y + h - 3; ++py)
    for (int px = x + 3; px < x + w - 3; ++px) {
      ui::Color c = shot.pixelColor(px, py);
      double light = (c.red + c.green + c.blue) / 3;
      ink.darkest = std::min(ink.darkest, light);
      if (light > 0.6) continue;
      ink.left = std::min(ink.left, px), ink.right = std::max(ink.right, px);
      ink.top = std::min(ink.top, py), ink.bottom = std::max(ink.bottom, py);
    }
  return ink;
}

}  // namespace

TEST(ToolbarButton, GlyphsFillTheToolbarIconSizeAndLookDisabledOnlyWhenDisabled) {
  ui::Window window(fnd::Rect(100, 100, 260, 60));
  window.contentView()->setBackgroundColor(ui::Color::white(0.9));
  const char* names[] = {"toolbar_add", "toolbar_open_in_browser", "toolbar_quicklook", "toolbar_update",
                         "toolbar_trash"};
  std::vector<std::shared_ptr<PushButton>> buttons;
  for (int i = 0; i < 5; ++i) {
    auto b = std::make_shared<PushButton>(fnd::Rect(4 + 40 * i, 4, 38, 32));
    b->setImageNamed(names[i]);
    window.contentView()->addSubview(b);
    buttons.push_back(b);
  }
  // Content rows run downwards: the buttons span rows 24...56.
  auto shot = window.contentView()->snapshot();
  for (int i = 0; i < 5; ++i) {
    Ink ink = inkOf(shot, 4 + 40 * i, 60 - 36, 38, 32);
    EXPECT_GE(std::max(ink.width(), ink.height()), 17) << names[i] << ": drawn at 22 or 24 points, not 16 or less";
    EXPECT_LT(ink.darkest, 0.35) << names[i] << " looks disabled while enabled";
  }
  buttons[3]->setEnabled(false);
  shot = window.contentView()->snapshot();
  EXPECT_GT(inkOf(shot, 4 + 40 * 3, 24, 38, 32).darkest, 0.5) << "a disabled glyph is faint";
  EXPECT_LT(inkOf(shot, 4 + 40 * 2, 24, 38, 32).darkest, 0.35);
}
