#include "Harness/TestSupport.h"
#include "TestViews.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/ClipView.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/ScrollView.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::ui;
using kesto::test::FlippedView;

namespace {

// A tall document in a scroll view in a window, wheeled through the toolkit.
struct Wheeled {
  Window window{fnd::Rect(0, 0, 300, 200)};
  std::shared_ptr<ScrollView> scroll = std::make_shared<ScrollView>(fnd::Rect(0, 0, 300, 200));
  std::shared_ptr<FlippedView> document = std::make_shared<FlippedView>(fnd::Rect(0, 0, 300, 5000));
  Wheeled() {
    window.contentView()->addSubview(scroll);
    scroll->setHasVerticalScroller(true);
    scroll->setDocumentView(document);
  }
  double y() const { return scroll->contentView()->bounds().origin.y; }
  // One event as the toolkit delivers it over the document.
  void wheel(QPoint pixels, QPoint angle) {
    QWidget* target = document->nativeWidget();
    QPointF at(10, 10);
    QWheelEvent event(at, target->mapToGlobal(at), pixels, angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
  }
};

}  // namespace

TEST(Wheel, ANotchScrollsTheDesktopsLinesTimesALine) {
  Wheeled w;
  const double line = w.scroll->lineScroll();
  EXPECT_EQ(line, std::max(1.0, std::round(QFontMetricsF(QApplication::font()).lineSpacing())));
  EXPECT_GT(line, 10.0) << "a line is a line of text, not a fixed step";
  const int saved = QApplication::wheelScrollLines();
  QApplication::setWheelScrollLines(3);
  w.wheel({}, {0, -120});  // one notch towards the user: down the document
  EXPECT_DOUBLE_EQ(w.y(), 3 * line);
  QApplication::setWheelScrollLines(7);
  w.wheel({}, {0, -120});
  EXPECT_DOUBLE_EQ(w.y(), 10 * line);
  w.wheel({}, {0, 60});  // half a notch back (high-resolution wheels send parts)
  EXPECT_DOUBLE_EQ(w.y(), 6.5 * line);
  QApplication::setWheelScrollLines(saved);
  // A touchpad's pixel deltas are taken as they come, whatever the line height.
  w.scroll->setLineScroll(40);
  w.wheel({0, -25}, {0, -200});
  EXPECT_DOUBLE_EQ(w.y(), 6.5 * line + 25);
}

TEST(ScrollView, ABackgroundItDoesNotDrawLetsTheViewBehindShow) {
  Window window(fnd::Rect(0, 0, 200, 100));
  window.contentView()->setBackgroundColor(Color::rgb(0, 0, 1));
  auto scroll = std::make_shared<ScrollView>(fnd::Rect(0, 0, 200, 100));
  scroll->setBackgroundColor(Color::rgb(1, 0, 0));
  window.contentView()->addSubview(scroll);
  EXPECT_EQ(window.contentView()->snapshot().pixelColor(50, 50), Color::rgb(1, 0, 0));
  scroll->setDrawsBackground(false);
  EXPECT_EQ(scroll->backgroundColor(), Color::rgb(1, 0, 0)) << "the colour is kept";
  EXPECT_EQ(window.contentView()->snapshot().pixelColor(50, 50), Color::rgb(0, 0, 1));
}

TEST(Window, TheFirstFrameIsDrawnBeforeTheCallReturns) {
  struct Counting : View {
    using View::View;
    int draws = 0;
    void drawRect(GraphicsContext&, const fnd::Rect&) override { ++draws; }
  };
  Window window(fnd::Rect(0, 0, 200, 100));
  auto content = std::make_shared<Counting>(fnd::Rect(0, 0, 200, 100));
  window.setContentView(content);
  ASSERT_TRUE(showWindowAndDrawFirstFrame(window, 5));
  EXPECT_TRUE(window.isVisible());
  EXPECT_GE(content->draws, 1) << "painted without waiting for the event loop";
}
