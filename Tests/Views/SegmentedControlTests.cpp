#include "Harness/TestSupport.h"
#include "Platform/UI/Window.h"
#include "Views/Unused/BorderlessSegmentedControl.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {

// A solid square glyph: its shape is the whole image.
ui::Image square(int size) { return ui::Image(size, size, ui::Color::black()); }

bool isBlue(const ui::Color& c) { return c.alpha > 0.9 && c.blue > 0.6 && c.blue > c.red + 0.4 && c.blue > c.green + 0.2; }
bool isGrey(const ui::Color& c) {
  return std::abs(c.red - c.green) < 0.05 && std::abs(c.green - c.blue) < 0.05 && c.red > 0.25 && c.red < 0.6;
}

struct Segments : ::testing::Test {
  ui::Window window{fnd::Rect(0, 0, 200, 100)};
  std::shared_ptr<BorderlessSegmentedControl> control;
  void SetUp() override {
    control = std::make_shared<BorderlessSegmentedControl>(fnd::Rect(0, 0, 90, 30));
    control->setSegmentCount(3);
    control->setImage(square(16), 0);
    control->setImage(square(16), 1);
    control->setLabel("Label only", 2);
    window.contentView()->setBackgroundColor(ui::Color::white());
    window.contentView()->addSubview(control);
  }
  // The centre of a segment's glyph in snapshot pixels (y down).
  ui::Color glyphCentre(const ui::Image& shot, long segment) {
    fnd::Rect f = control->frameOfSegment(segment);
    return shot.pixelColor(int(f.origin.x + f.size.width / 2), int(100 - (f.origin.y + f.size.height / 2)) + 2);
  }
};

}  // namespace

TEST_F(Segments, SelectedGlyphsAreBlueOthersGreyAndImagelessSegmentsBlank) {
  control->setSelectedSegment(1);
  ui::Image shot = window.contentView()->snapshot();
  EXPECT_TRUE(isGrey(glyphCentre(shot, 0))) << glyphCentre(shot, 0).red;
  EXPECT_TRUE(isBlue(glyphCentre(shot, 1)));
  // No label, no bezel, no border: the third segment and the control's edges stay background.
  fnd::Rect third = control->frameOfSegment(2);
  for (int x = int(third.origin.x); x < int(third.origin.x + third.size.width); x += 3)
    for (int y = 70; y < 100; y += 3) ASSERT_EQ(shot.pixelColor(x, y), ui::Color::white()) << x << "," << y;
  // The glyphs are raised by a point: the bottom row keeps only the white underlay.
  EXPECT_EQ(shot.pixelColor(10, 99), ui::Color::white());
  EXPECT_EQ(shot.pixelColor(40, 99), ui::Color::white());
}

TEST_F(Segments, ADisabledControlDrawsItsGlyphsAtHalfOpacityInBothStates) {
  control->setSelectedSegment(1);
  ui::Image on = window.contentView()->snapshot();
  control->setEnabled(false);
  ui::Image off = window.contentView()->snapshot();
  for (long s : {0L, 1L}) {
    ui::Color a = glyphCentre(on, s), b = glyphCentre(off, s);
    // The glyph at half opacity over its underlay (the black shape at half opacity on white,
    // a quarter white): each channel is a / 2 + 0.25.
    EXPECT_NEAR(b.red, a.red / 2 + 0.25, 0.03) << s;
    EXPECT_NEAR(b.green, a.green / 2 + 0.25, 0.03) << s;
    EXPECT_NEAR(b.blue, a.blue / 2 + 0.25, 0.03) << s;
  }
  EXPECT_GT(glyphCentre(off, 1).blue, glyphCentre(off, 1).red + 0.2);
}

TEST(BorderlessSegmentedControl, ImagesFitTheirSegmentCentredOnePointHigher) {
  // Wide image in a square frame: full width, centred vertically, y + 1.
  fnd::Rect wide = BorderlessSegmentedControl::centeredImageRect({40, 10}, fnd::Rect(0, 0, 20, 20));
  EXPECT_EQ(wide, fnd::Rect(0, 8, 20, 6));
  // Tall image: full height, centred horizontally.
  fnd::Rect tall = BorderlessSegmentedControl::centeredImageRect({10, 40}, fnd::Rect(10, 0, 30, 20));
  EXPECT_EQ(tall, fnd::Rect(22, 1, 6, 20));
  // Fractional edges: the origin rounds down, the far edges up.
  fnd::Rect odd = BorderlessSegmentedControl::centeredImageRect({3, 3}, fnd::Rect(0.5, 0.5, 9, 9));
  EXPECT_EQ(odd, fnd::Rect(0, 1, 10, 10));
}

TEST_F(Segments, ClicksSelectPerTrackingModeAndIgnoreDisabledSegments) {
  int actions = 0;
  control->setAction([&] { ++actions; });
  auto click = [&](long s) {
    fnd::Rect f = control->frameOfSegment(s);
    fnd::Point p = control->convertPointToView({f.origin.x + 5, f.origin.y + 5}, nullptr);
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, p, 0, 1, &window));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, p, 0, 1, &window));
  };
  click(1);
  EXPECT_EQ(control->selectedSegment(), 1);
  control->setEnabled(false, 0);
  click(0);
  EXPECT_EQ(control->selectedSegment(), 1);
  control->setTrackingMode(ui::SegmentedControl::TrackingMode::SelectAny);
  click(2);
  EXPECT_TRUE(control->isSelectedForSegment(1));
  EXPECT_TRUE(control->isSelectedForSegment(2));
  EXPECT_EQ(actions, 2);
  control->setImage(square(4), 7);  // outside: ignored
  EXPECT_TRUE(control->imageForSegment(7).isNull());
}
