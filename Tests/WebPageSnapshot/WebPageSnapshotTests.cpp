// The page snapshot: the top of a local page taller than wide, the whole of one wider than tall,
// and one call however many frames the page holds. Offscreen, on the real web engine.
#include "WebPageSnapshot/WebPageSnapshot.h"

#include "Harness/TestSupport.h"
#include "Platform/WebEngine/OffscreenWebView.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
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

TEST(WebPageSnapshotGeometry, AtMostSquareAndSixtyFourWide) {
  EXPECT_EQ(WebPageSnapshot::snapshotRect({1000, 3000}).size, (fnd::Size{1000, 1000}));
  EXPECT_EQ(WebPageSnapshot::snapshotRect({1000, 500}).size, (fnd::Size{1000, 500}));
  EXPECT_EQ(WebPageSnapshot::displaySize({1000, 3000}), (fnd::Size{64, 64}));
  EXPECT_EQ(WebPageSnapshot::displaySize({1000, 500}), (fnd::Size{64, 32}));
  EXPECT_EQ(WebPageSnapshot::displaySize({800, 200}), (fnd::Size{64, 16}));
}

TEST(WebPageSnapshot, APageTallerThanWideGivesItsTopSquare) {
  Shot shot;
  take("<!DOCTYPE html><html><body style='margin:0'>"
       "<div style='height:100px;background:#f00'></div><div style='height:900px;background:#0f0'></div>"
       "<div style='height:2000px;background:#00f'></div></body></html>",
       shot);
  ASSERT_FALSE(shot.image.isNull());
  EXPECT_EQ(shot.image.size(), (fnd::Size{1000, 1000}));
  EXPECT_EQ(shot.display, (fnd::Size{64, 64}));
  EXPECT_TRUE(near(shot.image.pixelColor(10, 10), 1, 0, 0));
  EXPECT_TRUE(near(shot.image.pixelColor(990, 500), 0, 1, 0));
  // The bottom row is still green: nothing of the blue below the square.
  EXPECT_TRUE(near(shot.image.pixelColor(500, 999), 0, 1, 0));
}

TEST(WebPageSnapshot, APageWiderThanTallIsTakenWhole) {
  Shot shot;
  take("<!DOCTYPE html><html><body style='margin:0'>"
       "<div style='height:250px;background:#f00'></div><div style='height:250px;background:#00f'></div>"
       "</body></html>",
       shot);
  ASSERT_FALSE(shot.image.isNull());
  EXPECT_EQ(shot.image.size(), (fnd::Size{1000, 500}));
  EXPECT_EQ(shot.display, (fnd::Size{64, 32}));
  EXPECT_TRUE(near(shot.image.pixelColor(10, 10), 1, 0, 0));
  EXPECT_TRUE(near(shot.image.pixelColor(10, 499), 0, 0, 1));
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
