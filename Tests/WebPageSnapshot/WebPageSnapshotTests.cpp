// The page snapshot: the top of a local page taller than wide, the whole of one wider than tall,
// and one call however many frames the page holds. Offscreen, on the real web engine.
#include "WebPageSnapshot/WebPageSnapshot.h"

#include "Harness/TestSupport.h"
#include "Platform/WebEngine/OffscreenWebView.h"

#include <gtest/gtest.h>

#if KESTO_TEST_UNDER_ASAN
// For this program only: the engine (Chromium inside libQt6WebEngineCore, with fontconfig) keeps
// process-wide objects to the end and frees some of its own objects through a base of another
// size. Both are in system libraries, not ours; the sanitizers go on checking everything else.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libQt6WebEngineCore.so\nleak:libfontconfig.so\n";
}
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

namespace kesto::test {
namespace {

// The engine's switches go in before the test harness makes the application object.
const bool prepared = [] {
  ui::OffscreenWebView::prepareEngine();
  return true;
}();

struct Shot {
  int calls = 0;
  ui::Image image;
  fnd::Size display;
};

void take(const std::string& html, Shot& shot) {
  const std::string dir = makeTempDir("pages");
  writeFile(dir + "/page.html", html);
  WebPageSnapshot::takeSnapshotOfWebPageAtURL("file://" + dir + "/page.html",
                                              [&shot](const ui::Image& image, fnd::Size display) {
                                                ++shot.calls;
                                                shot.image = image;
                                                shot.display = display;
                                              });
  ASSERT_TRUE(runUntil([&] { return shot.calls > 0; }, 30));
}

bool near(const ui::Color& c, double r, double g, double b) {
  return std::abs(c.red - r) < 0.1 && std::abs(c.green - g) < 0.1 && std::abs(c.blue - b) < 0.1;
}

// A page of full-width bands, each of the height and colour given, from the top.
std::string bands(std::initializer_list<std::pair<int, const char*>> heightsAndColours) {
  std::string html = "<!DOCTYPE html><html><body style='margin:0'>";
  for (const auto& [height, colour] : heightsAndColours)
    html += "<div style='height:" + std::to_string(height) + "px;background:" + colour + "'></div>";
  return html + "</body></html>";
}

// A pixel of the snapshot and the colour expected there.
struct Probe {
  int x, y;
  double red, green, blue;
};

void expectShot(const Shot& shot, fnd::Size size, fnd::Size display, std::initializer_list<Probe> probes) {
  ASSERT_FALSE(shot.image.isNull());
  EXPECT_EQ(shot.image.size(), size);
  EXPECT_EQ(shot.display, display);
  for (const Probe& p : probes)
    EXPECT_TRUE(near(shot.image.pixelColor(p.x, p.y), p.red, p.green, p.blue)) << "at " << p.x << ", " << p.y;
}

TEST(WebPageSnapshotGeometry, AtMostSquareAndSixtyFourWide) {
  EXPECT_EQ(WebPageSnapshot::snapshotRect({1000, 3000}).size, (fnd::Size{1000, 1000}));
  EXPECT_EQ(WebPageSnapshot::snapshotRect({1000, 500}).size, (fnd::Size{1000, 500}));
  EXPECT_EQ(WebPageSnapshot::displaySize({1000, 3000}), (fnd::Size{64, 64}));
  EXPECT_EQ(WebPageSnapshot::displaySize({1000, 500}), (fnd::Size{64, 32}));
  EXPECT_EQ(WebPageSnapshot::displaySize({800, 200}), (fnd::Size{64, 16}));
}

TEST(WebPageSnapshot, APageTallerThanWideGivesItsTopSquare) {
  Shot shot;
  take(bands({{100, "#f00"}, {900, "#0f0"}, {2000, "#00f"}}), shot);
  // The bottom row is still green: nothing of the blue below the square.
  expectShot(shot, {1000, 1000}, {64, 64}, {{10, 10, 1, 0, 0}, {990, 500, 0, 1, 0}, {500, 999, 0, 1, 0}});
}

TEST(WebPageSnapshot, APageWiderThanTallIsTakenWhole) {
  Shot shot;
  take(bands({{250, "#f00"}, {250, "#00f"}}), shot);
  expectShot(shot, {1000, 500}, {64, 32}, {{10, 10, 1, 0, 0}, {10, 499, 0, 0, 1}});
}

TEST(WebPageSnapshot, FramesInsideThePageDoNotCallTheBlock) {
  Shot shot;
  take("<!DOCTYPE html><html><body style='margin:0;background:#0f0'>"
       "<iframe srcdoc='<p>one</p>'></iframe><iframe srcdoc='<p>two</p>'></iframe>"
       "<div style='height:1200px'></div></body></html>",
       shot);
  spin(1.0);
  EXPECT_EQ(shot.calls, 1);
  EXPECT_TRUE(near(shot.image.pixelColor(990, 990), 0, 1, 0));
}

}  // namespace
}  // namespace kesto::test
