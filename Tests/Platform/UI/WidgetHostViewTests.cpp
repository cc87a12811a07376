#include "Harness/TestSupport.h"
#include "TestViews.h"
#include "Platform/UI/WidgetHostView_p.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::ui;
using kesto::test::FlippedView;

namespace {

// A host over a line edit that records what passes through it.
class HostedEdit : public WidgetHostView {
 public:
  explicit HostedEdit(const fnd::Rect& frame) : WidgetHostView(frame) {
    edit = new QLineEdit;
    setHostedWidget(*this, edit);
  }
  QLineEdit* edit;
  std::vector<std::string> log;
  std::string swallow;  // characters that never reach the widget
  void keyDown(const Event& e) override {
    log.push_back("key " + e.characters);
    if (!swallow.empty() && e.characters == swallow) return;
    WidgetHostView::keyDown(e);
  }
  void mouseDown(const Event& e) override {
    log.push_back("down");
    WidgetHostView::mouseDown(e);
  }

 protected:
  void widgetDidGainFocus() override { log.push_back("gain"); }
  void widgetDidLoseFocus() override { log.push_back("lose"); }
};

class KeySink : public View {
 public:
  using View::View;
  std::vector<std::uint16_t> keys;
  bool acceptsFirstResponder() override { return true; }
  void keyDown(const Event& e) override { keys.push_back(e.keyCode); }
};

QRect windowRectOf(QWidget* w, Window& window) {
  auto* top = static_cast<QWidget*>(window.nativeHandle());
  return QRect(w->mapTo(top, QPoint(0, 0)), w->size());
}

void showAndActivate(Window& window) {
  window.makeKeyAndOrderFront();
  auto* top = static_cast<QWidget*>(window.nativeHandle());
  ASSERT_TRUE(QTest::qWaitForWindowActive(top));
}

}  // namespace

TEST(WidgetHostView, WidgetFollowsTheViewFrameThroughClippingAndScrolling) {
  Window window(fnd::Rect(0, 0, 300, 200));
  auto clip = test::addedTo<FlippedView>(*window.contentView(), fnd::Rect(20, 20, 200, 100));
  auto host = test::addedTo<HostedEdit>(*clip, fnd::Rect(10, 30, 150, 24));
  window.orderFront();
  // The clip view's top lies 200 - 120 = 80 pixels below the window's top; the field 30 below it.
  EXPECT_EQ(windowRectOf(host->edit, window), QRect(30, 110, 150, 24));
  // Scrolled so the field is half above the clip view's top: the widget keeps its full size and
  // lies partly outside its clipped native view, at the same place in the window.
  clip->setBoundsOrigin({0, 42});
  EXPECT_EQ(windowRectOf(host->edit, window), QRect(30, 68, 150, 24));
  EXPECT_EQ(host->edit->size(), QSize(150, 24));
  host->setFrameSize({180, 30});
  EXPECT_EQ(host->edit->size(), QSize(180, 30));
  host->setHidden(true);
  EXPECT_FALSE(host->edit->isVisibleTo(static_cast<QWidget*>(window.nativeHandle())));
  host->setHidden(false);
  EXPECT_TRUE(host->edit->isVisibleTo(static_cast<QWidget*>(window.nativeHandle())));
}

TEST(WidgetHostView, WidgetFadesWithTheView) {
  Window window(fnd::Rect(0, 0, 300, 200));
  window.contentView()->setBackgroundColor(Color::black());
  auto host = test::addedTo<HostedEdit>(*window.contentView(), fnd::Rect(10, 10, 150, 24));
  QPalette pal = host->edit->palette();
  pal.setColor(QPalette::Base, Qt::white);
  host->edit->setPalette(pal);
  host->edit->setFrame(false);
  auto grey = [&] { return window.contentView()->snapshot().pixelColor(100, 200 - 22).red; };
  EXPECT_NEAR(grey(), 1.0, 0.02);
  host->setAlphaValue(0.5);
  EXPECT_NEAR(grey(), 0.5, 0.05);
}

TEST(WidgetHostView, FocusIsSharedBothWays) {
  Window window(fnd::Rect(0, 0, 300, 200));
  auto a = std::make_shared<HostedEdit>(fnd::Rect(10, 150, 200, 24));
  auto b = std::make_shared<HostedEdit>(fnd::Rect(10, 100, 200, 24));
  auto plain = std::make_shared<KeySink>(fnd::Rect(10, 10, 50, 50));
  window.contentView()->addSubview(a);
  window.contentView()->addSubview(b);
  window.contentView()->addSubview(plain);
  showAndActivate(window);

  ASSERT_TRUE(window.makeFirstResponder(a.get()));
  EXPECT_TRUE(a->edit->hasFocus());
  EXPECT_TRUE(a->hasKeyboardFocus());
  EXPECT_EQ(a->log, (std::vector<std::string>{"gain"}));

  // The widget taking focus by itself (Tab, a click) moves the first responder along.
  b->edit->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(window.firstResponder(), b.get());
  ASSERT_FALSE(a->log.empty());
  EXPECT_EQ(a->log.back(), "lose");
  ASSERT_FALSE(b->log.empty());
  EXPECT_EQ(b->log.back(), "gain");

  // Tab follows the toolkit's focus chain, and the hosts stay out of it themselves.
  QTest::keyClick(b->edit, Qt::Key_Tab);
  EXPECT_EQ(window.firstResponder(), a.get());
  EXPECT_TRUE(a->edit->hasFocus());

  // A plain view made first responder takes the focus away from the widget.
  window.makeFirstResponder(a.get());
  window.makeFirstResponder(plain.get());
  EXPECT_FALSE(a->edit->hasFocus());
  ASSERT_FALSE(a->log.empty());
  EXPECT_EQ(a->log.back(), "lose");
  // The window losing activation is no loss of focus for the field.
  window.makeFirstResponder(a.get());
  std::size_t before = a->log.size();
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  EXPECT_EQ(a->log.size(), before);
  EXPECT_EQ(window.firstResponder(), a.get());
}

TEST(WidgetHostView, KeysPassThroughTheViewAndUnusedOnesTravelOn) {
  Window window(fnd::Rect(0, 0, 300, 200));
  auto sink = test::addedTo<KeySink>(*window.contentView(), fnd::Rect(0, 0, 300, 200));
  auto host = test::addedTo<HostedEdit>(*sink, fnd::Rect(10, 100, 200, 24));
  showAndActivate(window);
  window.makeFirstResponder(host.get());

  host->swallow = "x";
  QTest::keyClicks(host->edit, "ax");
  QKeyEvent accented(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("é"));
  QApplication::sendEvent(host->edit, &accented);
  EXPECT_EQ(host->edit->text(), QString::fromUtf8("aé"));
  EXPECT_EQ(host->log, (std::vector<std::string>{"gain", "key a", "key x", "key é"}));
  // The line edit has no use for the up arrow: the superview hears it.
  QTest::keyClick(host->edit, Qt::Key_Up);
  EXPECT_EQ(sink->keys, (std::vector<std::uint16_t>{KeyCode::UpArrow}));
  // Keys sent from code reach the widget the same way.
  window.sendEvent(Event::key(KeyCode::Invalid, 0, "ü"));
  EXPECT_EQ(host->edit->text(), QString::fromUtf8("aéü"));
  window.sendEvent(Event::key(KeyCode::Delete, 0, "\x7f"));
  EXPECT_EQ(host->edit->text(), QString::fromUtf8("aé"));
}

TEST(WidgetHostView, ClicksFromCodeAndFromTheToolkitReachTheWidget) {
  Window window(fnd::Rect(0, 0, 300, 200));
  class HostedButton : public WidgetHostView {
   public:
    HostedButton() : WidgetHostView(fnd::Rect(50, 50, 100, 30)) {
      button = new QPushButton("Go");
      setHostedWidget(*this, button);
    }
    QPushButton* button;
    int downs = 0;
    bool swallow = false;
    void mouseDown(const Event& e) override {
      ++downs;
      if (!swallow) WidgetHostView::mouseDown(e);
    }
  };
  auto host = test::addedTo<HostedButton>(*window.contentView());
  showAndActivate(window);
  int clicked = 0;
  QObject::connect(host->button, &QPushButton::clicked, [&] { ++clicked; });

  window.sendEvent(Event::mouse(EventType::LeftMouseDown, {100, 65}));
  window.sendEvent(Event::mouse(EventType::LeftMouseUp, {100, 65}));
  EXPECT_EQ(clicked, 1);
  QTest::mouseClick(host->button, Qt::LeftButton);
  EXPECT_EQ(clicked, 2);
  EXPECT_EQ(host->downs, 2);
  host->swallow = true;
  QTest::mouseClick(host->button, Qt::LeftButton);
  EXPECT_EQ(clicked, 2);
  EXPECT_EQ(host->downs, 3);
}

// A control that only shows its value inside a view that takes the clicks (a cell of a list):
// its widget never sees the mouse, so left and right presses reach the view's handlers (and from
// there the view it stands in), and the widget opens no menu of its own in place of the cell's.
TEST(WidgetHostView, AViewRefusingTheMouseTakesEveryPressAndItsWidgetOpensNoMenu) {
  Window window(fnd::Rect(0, 0, 300, 200));
  class Cell : public FlippedView {
   public:
    using FlippedView::FlippedView;
    int rights = 0;
    void rightMouseDown(const Event&) override { ++rights; }
  };
  auto cell = test::addedTo<Cell>(*window.contentView(), fnd::Rect(0, 0, 300, 200));
  auto host = test::addedTo<HostedEdit>(*cell, fnd::Rect(20, 20, 150, 24));
  host->edit->setText("tags");
  host->refuseKeyboardFocus();
  host->refuseMouse();
  showAndActivate(window);
  QWindow* native = static_cast<QWidget*>(window.nativeHandle())->windowHandle();
  const QPoint at = windowRectOf(host->edit, window).center();
  auto closeMenus = [] {
    QApplication::processEvents();
    QWidget* menu = QApplication::activePopupWidget();
    if (menu) menu->close();
    return menu == nullptr;
  };

  QTest::mouseClick(native, Qt::RightButton, Qt::NoModifier, at);
  EXPECT_TRUE(closeMenus()) << "the line edit opened its own menu";
  EXPECT_EQ(cell->rights, 1);
  QTest::mouseClick(native, Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(host->log, std::vector<std::string>{"down"});
  EXPECT_FALSE(host->hasKeyboardFocus());
  EXPECT_EQ(host->edit->text(), "tags");

  // A widget put in later refuses it as well.
  auto* other = new QLineEdit;
  setHostedWidget(*host, other);
  QTest::mouseClick(native, Qt::RightButton, Qt::NoModifier, windowRectOf(other, window).center());
  EXPECT_TRUE(closeMenus()) << "the new widget opened its own menu";
  EXPECT_EQ(cell->rights, 2);
}

TEST(WidgetHostView, AccessibilityNamesAndEnabledStateReachTheWidget) {
  auto host = std::make_shared<HostedEdit>(fnd::Rect(0, 0, 100, 20));
  host->setAccessibilityLabel("Search");
  host->setAccessibilityHelp("Finds bookmarks");
  EXPECT_EQ(host->edit->accessibleName(), "Search");
  EXPECT_EQ(host->edit->accessibleDescription(), "Finds bookmarks");
  host->setEnabled(false);
  EXPECT_FALSE(host->edit->isEnabled());
  EXPECT_FALSE(host->acceptsFirstResponder());
  // A replacement widget gets the names too.
  auto* other = new QLineEdit;
  setHostedWidget(*host, other);
  EXPECT_EQ(other->accessibleName(), "Search");
}

// A view drawn translucent over its superview's plain colour as a veil looks as the opacity pass
// makes it look, with what is added to it later too, takes no offscreen pass, and leaves the
// pointer to what is in it; made opaque again, the veil goes.
TEST(WidgetHostView, AVeiledTranslucentViewLooksAsAnOpacityPassMakesItAndLeavesThePointerToItsParts) {
  Window window(fnd::Rect(0, 0, 300, 200));
  window.contentView()->setBackgroundColor(Color::rgb(0.1, 0.2, 0.6));
  auto bar = [&](double x, bool veiled) {
    auto v = test::addedTo(*window.contentView(), fnd::Rect(x, 100, 140, 60));
    v->setBackgroundColor(Color::white(0.873));
    if (veiled) v->setAlphaValueOverPlainBackdrop(0.7);
    else v->setAlphaValue(0.7);
    auto mark = test::addedTo(*v, fnd::Rect(10, 10, 20, 20));
    mark->setBackgroundColor(Color::rgb(1, 0, 0));
    auto edit = test::addedTo<HostedEdit>(*v, fnd::Rect(40, 10, 90, 24));
    edit->edit->setFrame(false);
    return std::make_pair(v, edit);
  };
  auto [passed, passedEdit] = bar(0, false);
  auto [veiled, veiledEdit] = bar(150, true);
  EXPECT_DOUBLE_EQ(veiled->alphaValue(), 0.7);
  EXPECT_NE(passed->nativeWidget()->graphicsEffect(), nullptr);
  EXPECT_EQ(veiled->nativeWidget()->graphicsEffect(), nullptr);
  auto image = window.contentView()->snapshot();
  // The strip, the mark and the field, in each: pixels from the top left of the window.
  for (auto [x, y] : {std::pair{5, 55}, std::pair{20, 80}, std::pair{60, 75}}) {
    const Color a = image.pixelColor(x, y), b = image.pixelColor(150 + x, y);
    EXPECT_NEAR(a.red, b.red, 2.0 / 255) << x << "," << y;
    EXPECT_NEAR(a.green, b.green, 2.0 / 255) << x << "," << y;
    EXPECT_NEAR(a.blue, b.blue, 2.0 / 255) << x << "," << y;
  }
  EXPECT_NEAR(image.pixelColor(170, 80).red, 0.7 + 0.3 * 0.1, 0.02);
  // The pointer finds the field under the veil.
  QWidget* strip = veiled->nativeWidget();
  QWidget* under = strip->childAt(veiledEdit->edit->mapTo(strip, QPoint(10, 10)));
  EXPECT_TRUE(under == veiledEdit->edit || veiledEdit->edit->isAncestorOf(under));
  veiled->setAlphaValue(1.0);
  EXPECT_NEAR(window.contentView()->snapshot().pixelColor(170, 80).red, 1.0, 0.01);
}
