#include "Harness/TestSupport.h"
#include "Platform/Foundation/Value.h"
#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QWidget>

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::ui;

TEST(ChildWindow, WithoutACompositorTheShapeCutsTheWindow) {
  EXPECT_FALSE(ChildWindow::isCompositing());  // offscreen composites nothing
  ChildWindow window(fnd::Rect(0, 0, 100, 80));
  auto* widget = static_cast<QWidget*>(window.nativeHandle());
  EXPECT_TRUE(widget->mask().isEmpty());
  Path triangle;
  triangle.moveTo({0, 0});
  triangle.lineTo({100, 0});
  triangle.lineTo({50, 80});
  triangle.close();
  window.setShape(triangle);
  QRegion mask = widget->mask();
  // y-up content: the base runs along the widget's bottom, the tip at its top.
  EXPECT_TRUE(mask.contains(QPoint(50, 75)));
  EXPECT_TRUE(mask.contains(QPoint(50, 5)));
  EXPECT_FALSE(mask.contains(QPoint(5, 5)));
}

TEST(ChildWindow, AlphaAnimatesToItsEndAndAReplacedAnimationNeverCompletes) {
  ChildWindow window(fnd::Rect(0, 0, 50, 50));
  int firstDone = 0, secondDone = 0;
  window.animateAlpha(0.0, 5.0, [&] { ++firstDone; });
  window.animateAlpha(0.5, 0.01, [&] { ++secondDone; });
  ASSERT_TRUE(test::runUntil([&] { return secondDone == 1; }, 30));
  EXPECT_EQ(firstDone, 0);
  EXPECT_DOUBLE_EQ(window.alphaValue(), 0.5);
  window.animateFrame({fnd::Rect(0, 0, 50, 50), fnd::Rect(10, 10, 80, 80), fnd::Rect(20, 20, 60, 60)}, 5.0);
  EXPECT_TRUE(window.isAnimating());
  window.finishAnimations();
  EXPECT_EQ(window.frame(), fnd::Rect(20, 20, 60, 60));
}

TEST(PlatformObserver, HoverAndFrameChangesOfAView) {
  Window window(fnd::Rect(0, 0, 200, 200));
  auto view = std::make_shared<View>(fnd::Rect(10, 10, 50, 50));
  window.contentView()->addSubview(view);
  window.orderFront();
  std::vector<bool> hovers;
  int moves = 0;
  {
    PlatformObserver observer;
    observer.observeViewHover(*view, [&](bool inside) { hovers.push_back(inside); });
    observer.observeViewFrame(*view, [&] { ++moves; });
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(view->nativeWidget(), &enter);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view->nativeWidget(), &leave);
    view->setFrameOrigin(fnd::Point{20, 20});
    EXPECT_GE(moves, 1);
  }
  EXPECT_EQ(hovers, (std::vector<bool>{true, false}));
  // Gone with its observer.
  int before = moves;
  view->setFrameOrigin(fnd::Point{30, 30});
  EXPECT_EQ(moves, before);
}

TEST(ChildWindow, AnImageShapeStretchesWithTheWindow) {
  ChildWindow window(fnd::Rect(0, 0, 40, 20));
  Image left(2, 2, Color::rgb(1, 0, 0));
  auto* widget = static_cast<QWidget*>(window.nativeHandle());
  window.setShapeImage(Image::fromData(left.encoded()));
  EXPECT_TRUE(widget->mask().contains(QPoint(39, 19)));  // a fully opaque image covers everything
  // The left half opaque.
  QImage half(4, 2, QImage::Format_ARGB32);
  half.fill(Qt::transparent);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) half.setPixelColor(x, y, Qt::red);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  half.save(&buffer, "PNG");
  window.setShapeImage(Image::fromData(fnd::Data(png.begin(), png.end())));
  EXPECT_TRUE(widget->mask().contains(QPoint(5, 10)));
  EXPECT_FALSE(widget->mask().contains(QPoint(35, 10)));
  // A shown window is reshaped as it resizes (the zoom animates a shown window).
  window.orderFront();
  window.setFrame(fnd::Rect(0, 0, 80, 20));
  EXPECT_TRUE(widget->mask().contains(QPoint(35, 10)));
  EXPECT_FALSE(widget->mask().contains(QPoint(60, 10)));
}
