#include "Harness/TestSupport.h"
#include "TestViews.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/ClipView.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/ScrollView.h"
#include "Platform/UI/SegmentedControl.h"
#include "Platform/UI/SplitView.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::ui;
using kesto::test::FlippedView;

namespace {

class RecordingView : public View {
 public:
  using View::View;
  std::vector<std::string> log;
  bool acceptsFirstResponder() override { return true; }
  void mouseDown(const Event& e) override {
    log.push_back("down " + std::to_string(e.clickCount));
    View::mouseDown(e);
  }
  void keyDown(const Event& e) override {
    if (!interpretKeyEvents(e)) View::keyDown(e);
  }
  bool performAction(ui::Command selector, Responder*) override {
    log.push_back(std::string(selector.text()));
    return true;
  }
};

}  // namespace

TEST(View, ConvertsPointsBetweenFlippedAndUnflippedViews) {
  auto root = std::make_shared<View>(fnd::Rect(0, 0, 400, 300));
  auto flipped = test::addedTo<FlippedView>(*root, fnd::Rect(10, 20, 200, 100));
  auto inner = test::addedTo(*flipped, fnd::Rect(5, 10, 50, 40));
  // The flipped view's top edge lies at y 120 of the root; its point (0, 0) is that corner.
  fnd::Point p = flipped->convertPointToView({0, 0}, root.get());
  EXPECT_DOUBLE_EQ(p.x, 10);
  EXPECT_DOUBLE_EQ(p.y, 120);
  // The unflipped inner view sits 10 down from the flipped view's top: its bottom-left is at
  // y = 120 - 10 - 40 = 70 in the root.
  fnd::Point q = inner->convertPointToView({0, 0}, root.get());
  EXPECT_DOUBLE_EQ(q.x, 15);
  EXPECT_DOUBLE_EQ(q.y, 70);
  fnd::Point back = inner->convertPointFromView(q, root.get());
  EXPECT_DOUBLE_EQ(back.x, 0);
  EXPECT_DOUBLE_EQ(back.y, 0);
  fnd::Rect r = inner->convertRectToView(inner->bounds(), flipped.get());
  EXPECT_EQ(r, fnd::Rect(5, 10, 50, 40));
}

TEST(View, BoundsOriginShiftsSubviewsAndConversion) {
  auto clip = std::make_shared<FlippedView>(fnd::Rect(0, 0, 100, 100));
  auto child = test::addedTo(*clip, fnd::Rect(0, 250, 20, 20));
  clip->setBoundsOrigin({0, 200});
  fnd::Point p = child->convertPointToView({0, 20}, clip.get());
  EXPECT_DOUBLE_EQ(p.y, 250);
  // Native placement is relative to the bounds origin: 50 points from the top.
  EXPECT_EQ(child->nativeWidget()->geometry().y(), 50);
}

TEST(View, DocumentTallerThanTheToolkitLimitStillPlacesChildren) {
  auto clip = std::make_shared<FlippedView>(fnd::Rect(0, 0, 300, 200));
  auto doc = test::addedTo<FlippedView>(*clip, fnd::Rect(0, 0, 300, 40'000'000));
  auto cell = test::addedTo(*doc, fnd::Rect(10, 30'000'050, 100, 80));
  clip->setBoundsOrigin({0, 30'000'000});
  // The document's widget is clipped to the visible part, and the cell lands 50 down.
  EXPECT_LE(doc->nativeWidget()->height(), 200);
  EXPECT_EQ(cell->nativeWidget()->geometry(), QRect(10, 50, 100, 80));
  EXPECT_FALSE(cell->nativeWidget()->isHidden());
  clip->setBoundsOrigin({0, 0});
  EXPECT_TRUE(cell->nativeWidget()->isHidden());  // far outside the visible part
}

// Counts the times a widget is shown and hidden.
struct ShowCounter : QObject {
  int shows = 0, hides = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Show) ++shows;
    if (e->type() == QEvent::Hide) ++hides;
    return false;
  }
};

// A cell that keeps its parts shown: scrolled out of sight they shrink to nothing instead of
// being hidden, so scrolling back shows nothing again; a cell without it hides them, and the
// cell itself still hides once wholly out of sight.
TEST(View, PartsOfACellScrolledOutOfSightStayShownAtNoSize) {
  auto clip = std::make_shared<FlippedView>(fnd::Rect(0, 0, 100, 100));
  auto doc = test::addedTo<FlippedView>(*clip, fnd::Rect(0, 0, 100, 1000));
  auto keeping = test::addedTo<FlippedView>(*doc, fnd::Rect(0, 0, 50, 60));
  auto plain = test::addedTo<FlippedView>(*doc, fnd::Rect(50, 0, 50, 60));
  keeping->setKeepsClippedSubviewsShown(true);
  auto kept = test::addedTo<FlippedView>(*keeping, fnd::Rect(0, 0, 50, 20));
  auto deep = test::addedTo<FlippedView>(*kept, fnd::Rect(0, 0, 10, 10));  // inside a part: kept too
  auto hidden = test::addedTo<FlippedView>(*plain, fnd::Rect(0, 0, 50, 20));
  ShowCounter counter;
  kept->nativeWidget()->installEventFilter(&counter);
  deep->nativeWidget()->installEventFilter(&counter);
  clip->nativeWidget()->show();
  ASSERT_TRUE(kept->nativeWidget()->isVisible());
  counter.shows = counter.hides = 0;

  clip->setBoundsOrigin({0, 25});  // the cells' tops, and the parts there, out of sight
  EXPECT_FALSE(kept->nativeWidget()->isHidden());
  EXPECT_TRUE(kept->nativeWidget()->size().isEmpty());
  EXPECT_FALSE(deep->nativeWidget()->isHidden());
  EXPECT_TRUE(hidden->nativeWidget()->isHidden());
  EXPECT_FALSE(keeping->nativeWidget()->isHidden());

  clip->setBoundsOrigin({0, 0});
  EXPECT_EQ(kept->nativeWidget()->geometry(), QRect(0, 0, 50, 20));
  EXPECT_EQ(deep->nativeWidget()->geometry(), QRect(0, 0, 10, 10));
  EXPECT_FALSE(hidden->nativeWidget()->isHidden());
  EXPECT_EQ(counter.shows, 0);
  EXPECT_EQ(counter.hides, 0);

  clip->setBoundsOrigin({0, 100});  // wholly out of sight: the cell goes, its parts with it
  EXPECT_TRUE(keeping->nativeWidget()->isHidden());
  EXPECT_FALSE(kept->nativeWidget()->isVisible());
  // A part its own code hides stays hidden.
  clip->setBoundsOrigin({0, 0});
  kept->setHidden(true);
  EXPECT_TRUE(kept->nativeWidget()->isHidden());
}

TEST(View, AutoresizingSharesChangesAmongFlexibleParts) {
  auto parent = std::make_shared<View>(fnd::Rect(0, 0, 200, 100));
  auto fill = std::make_shared<View>(fnd::Rect(0, 0, 200, 100));
  fill->setAutoresizingMask(View::WidthSizable | View::HeightSizable);
  auto pinned = std::make_shared<View>(fnd::Rect(150, 10, 40, 20));
  pinned->setAutoresizingMask(View::MinXMargin);
  // Mask 11 with zero left and bottom margins: the width takes the whole horizontal change and
  // the bottom margin the whole vertical one.
  auto eleven = std::make_shared<View>(fnd::Rect(0, 0, 200, 100));
  eleven->setAutoresizingMask(11);
  parent->addSubview(fill);
  parent->addSubview(pinned);
  parent->addSubview(eleven);
  parent->setFrameSize({300, 150});
  EXPECT_EQ(fill->frame(), fnd::Rect(0, 0, 300, 150));
  EXPECT_EQ(pinned->frame(), fnd::Rect(250, 10, 40, 20));
  EXPECT_EQ(eleven->frame(), fnd::Rect(0, 50, 300, 100));
}

TEST(View, HitTestPrefersTopmostZPositionAndSkipsHidden) {
  auto root = std::make_shared<View>(fnd::Rect(0, 0, 100, 100));
  auto a = test::addedTo(*root, fnd::Rect(0, 0, 100, 100));
  auto b = test::addedTo(*root, fnd::Rect(0, 0, 100, 100));
  EXPECT_EQ(root->hitTest({50, 50}), b.get());
  a->setZPosition(5);
  EXPECT_EQ(root->hitTest({50, 50}), a.get());
  a->setHidden(true);
  EXPECT_EQ(root->hitTest({50, 50}), b.get());
  EXPECT_EQ(root->hitTest({100, 50}), root.get());  // half-open: the right edge is outside
}

TEST(View, LayoutRunsCoalescedAfterResize) {
  struct Counting : View {
    int layouts = 0;
    void layout() override { ++layouts; }
  };
  auto v = std::make_shared<Counting>();
  v->setFrameSize({10, 10});
  v->setFrameSize({20, 10});
  EXPECT_EQ(v->layouts, 0);
  test::spin(0.05);
  EXPECT_EQ(v->layouts, 1);
}

TEST(View, SnapshotShowsBackgroundBorderAndDrawing) {
  struct Drawing : View {
    using View::View;
    void drawRect(GraphicsContext& ctx, const fnd::Rect&) override {
      ctx.setFillColor(Color::rgb(0, 0, 1));
      ctx.fillRect(fnd::Rect(0, 0, 10, 10));  // bottom-left corner: unflipped
    }
  };
  auto v = std::make_shared<Drawing>(fnd::Rect(0, 0, 40, 40));
  v->setBackgroundColor(Color::rgb(1, 0, 0));
  v->setBorderColor(Color::rgb(0, 1, 0));
  v->setBorderWidth(2);
  Image img = v->snapshot();
  ASSERT_FALSE(img.isNull());
  EXPECT_EQ(img.pixelColor(20, 20), Color::rgb(1, 0, 0));
  EXPECT_EQ(img.pixelColor(0, 20), Color::rgb(0, 1, 0));
  EXPECT_EQ(img.pixelColor(5, 35), Color::rgb(0, 0, 1));
  EXPECT_EQ(img.pixelColor(1, 5), Color::rgb(0, 1, 0));
}

TEST(View, EveryChangeOfHowAViewDrawsAsksForDisplay) {
  // A view that keeps its drawing shows the old look until asked again.
  auto expectAsks = [](View& view, const std::function<void()>& change) {
    view.setNeedsDisplayFlag(false);
    change();
    EXPECT_TRUE(view.needsDisplay());
  };
  View view(fnd::Rect(0, 0, 40, 40));
  expectAsks(view, [&] { view.setBackgroundColor(Color::rgb(1, 0, 0)); });
  expectAsks(view, [&] { view.setBorderColor(std::nullopt); });
  expectAsks(view, [&] { view.setBorderWidth(3); });
  expectAsks(view, [&] { view.setCornerRadius(4); });
  expectAsks(view, [&] { view.setLayerContents(Image()); });
  EXPECT_EQ(view.borderWidth(), 3);
  EXPECT_EQ(view.cornerRadius(), 4);
  ScrollView scroll(fnd::Rect(0, 0, 40, 40));
  expectAsks(scroll, [&] { scroll.setDrawsBackground(false); });
  SplitView split(fnd::Rect(0, 0, 40, 40));
  expectAsks(split, [&] { split.setDividerStyle(SplitView::DividerStyle::Thin); });
  EXPECT_EQ(split.dividerThickness(), 1.0);
  SegmentedControl segments(fnd::Rect(0, 0, 40, 20));
  expectAsks(segments, [&] { segments.setEnabled(false); });
  EXPECT_FALSE(segments.isEnabled());
}

TEST(Window, DeliversClicksAndKeysThroughTheResponderChain) {
  Window window(fnd::Rect(100, 100, 300, 200));
  auto view = test::addedTo<RecordingView>(*window.contentView(), fnd::Rect(50, 50, 100, 100));
  window.makeKeyAndOrderFront();
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, {60, 60}, 0, 2));
  EXPECT_EQ(window.firstResponder(), view.get());
  window.sendEvent(Event::key(KeyCode::DownArrow, ModifierFlag::Shift));
  window.sendEvent(Event::key(KeyCode::UpArrow));
  window.sendEvent(Event::key(KeyCode::A, ModifierFlag::Command, "a"));
  window.sendEvent(Event::key(KeyCode::Escape));
  window.sendEvent(Event::key(KeyCode::Return));
  std::vector<std::string> expected = {"down 2", "moveDownAndModifySelection:", "moveUp:",
                                       "selectAll:", "cancelOperation:", "insertNewline:"};
  EXPECT_EQ(view->log, expected);
  // A click outside the view reaches the content view, which does not take first responder.
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, {5, 5}));
  EXPECT_EQ(window.firstResponder(), view.get());
}

TEST(Window, RealMouseEventsCarryClickCountsAndModifiers) {
  Window window(fnd::Rect(0, 0, 200, 200));
  auto view = test::addedTo<RecordingView>(*window.contentView(), fnd::Rect(0, 0, 200, 200));
  window.makeKeyAndOrderFront();
  QWidget* w = view->nativeWidget();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), w->mapToGlobal(QPointF(10, 10)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 10), w->mapToGlobal(QPointF(10, 10)),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
  QCoreApplication::sendEvent(w, &release);
  QMouseEvent press2(QEvent::MouseButtonPress, QPointF(10, 10), w->mapToGlobal(QPointF(10, 10)),
                     Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press2);
  ASSERT_EQ(view->log.size(), 2u);
  EXPECT_EQ(view->log[0], "down 1");
  EXPECT_EQ(view->log[1], "down 2");
}

TEST(ScrollView, EveryScrollGoesThroughTheClipViewAndIsClamped) {
  struct CountingClip : ClipView {
    using ClipView::ClipView;
    std::vector<fnd::Point> requests;
    void scrollToPoint(const fnd::Point& p) override {
      requests.push_back(p);
      ClipView::scrollToPoint(p);
    }
  };
  ScrollView sv(fnd::Rect(0, 0, 200, 100));
  auto clip = std::make_shared<CountingClip>(fnd::Rect(0, 0, 200, 100));
  sv.setContentView(clip);
  sv.setHasVerticalScroller(true);
  sv.setDocumentView(std::make_shared<FlippedView>(fnd::Rect(0, 0, 200, 1000)));
  int notified = 0, posted = 0;
  clip->addBoundsObserver([&] { ++notified; });
  fnd::ScopedObserver observer;
  observer.observe(ViewBoundsDidChangeNotification, [&](const fnd::Notification&) { ++posted; }, clip.get());
  sv.scrollWheel(Event::scroll({}, 0, -30));
  EXPECT_DOUBLE_EQ(clip->bounds().origin.y, 30);
  EXPECT_EQ(sv.verticalScrollerValue(), 30);
  EXPECT_EQ(sv.verticalScrollerMaximum(), 900);
  EXPECT_TRUE(clip->scrollRectToVisible(fnd::Rect(0, 500, 10, 50)));
  EXPECT_DOUBLE_EQ(clip->bounds().origin.y, 450);  // smallest move: the rect's bottom at the edge
  EXPECT_FALSE(clip->scrollRectToVisible(fnd::Rect(0, 460, 10, 50)));
  EXPECT_TRUE(clip->scrollRectToVisible(fnd::Rect(0, 100, 10, 400)));  // taller than visible
  EXPECT_DOUBLE_EQ(clip->bounds().origin.y, 100);
  clip->scrollToPoint({0, 5000});
  EXPECT_DOUBLE_EQ(clip->bounds().origin.y, 900);
  EXPECT_EQ(clip->requests.size(), 4u);
  EXPECT_EQ(notified, 4);
  EXPECT_EQ(posted, 4);
  EXPECT_EQ(sv.documentVisibleRect(), fnd::Rect(0, 900, 200, 100));
  // A shrinking document pulls the origin back inside it.
  sv.documentView()->setFrameSize({200, 300});
  EXPECT_DOUBLE_EQ(clip->bounds().origin.y, 200);
}

TEST(Animation, GroupCompletionRunsAfterItsAnimations) {
  auto v = std::make_shared<View>(fnd::Rect(0, 0, 10, 10));
  bool done = false;
  AnimationContext::runAnimationGroup(
      [&](AnimationContext& ctx) {
        ctx.setDuration(0.1);
        v->animator().setFrame(fnd::Rect(0, 0, 110, 10));
      },
      [&] { done = true; });
  EXPECT_LT(v->frame().size.width, 110);
  EXPECT_FALSE(done);
  EXPECT_TRUE(test::runUntil([&] { return done; }, 10));
  EXPECT_EQ(v->frame(), fnd::Rect(0, 0, 110, 10));
  // Outside a group with a zero duration the change is immediate.
  AnimationContext::current().setDuration(0);
  v->animator().setFrameSize({5, 5});
  EXPECT_EQ(v->frame().size, (fnd::Size{5, 5}));
  AnimationContext::current().setDuration(0.25);
}

TEST(Animation, AViewGoingAwayEndsItsAnimationsAndTheirGroup) {
  auto v = std::make_shared<View>(fnd::Rect(0, 0, 10, 10));
  auto other = std::make_shared<View>(fnd::Rect(0, 0, 10, 10));
  bool done = false;
  AnimationContext::runAnimationGroup(
      [&](AnimationContext& ctx) {
        ctx.setDuration(5);
        v->animator().setAlphaValue(0.5);
        v->animator().setFrame(fnd::Rect(0, 0, 50, 50));
      },
      [&] { done = true; });
  AnimationContext::runAnimationGroup([&](AnimationContext& ctx) {
    ctx.setDuration(5);
    other->animator().setAlphaValue(0.5);
  });
  EXPECT_EQ(AnimationContext::runningAnimationCount(), 3);
  v.reset();
  // Only the other view's fade is left, and the group ends well before its five seconds.
  EXPECT_EQ(AnimationContext::runningAnimationCount(), 1);
  EXPECT_TRUE(test::runUntil([&] { return done; }, 30));
  other.reset();
  EXPECT_EQ(AnimationContext::runningAnimationCount(), 0);
  test::spin(0.05);
}

TEST(Keys, PhysicalKeyCodesAndModifierBits) {
  // X11 key codes are evdev codes + 8: A is 38, Z 52, Return 36, the arrows 111/113/114/116.
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(38), KeyCode::A);
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(52), KeyCode::Z);
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(33), KeyCode::P);
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(36), KeyCode::Return);
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(65), KeyCode::Space);
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(9), KeyCode::Escape);
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(111), KeyCode::UpArrow);
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(116), KeyCode::DownArrow);
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(10), 18);  // the 1 key
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(37), KeyCode::Invalid);  // left Control
  EXPECT_EQ(qtbridge::keyCodeForX11ScanCode(3), KeyCode::Invalid);
  EXPECT_EQ(qtbridge::keyCodeForQtKey(Qt::Key_A), KeyCode::A);  // key code 0 is a real key
  EXPECT_EQ(qtbridge::modifierFlags(Qt::ControlModifier | Qt::ShiftModifier),
            ModifierFlag::Command | ModifierFlag::Shift);
  EXPECT_EQ(qtbridge::modifierFlags(Qt::AltModifier | Qt::MetaModifier), ModifierFlag::Option | ModifierFlag::Control);
  QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  Event e = qtbridge::keyEvent(&ret, EventType::KeyDown);
  EXPECT_EQ(e.keyCode, KeyCode::Return);
  EXPECT_EQ(e.charactersIgnoringModifiers, "\r");
  QKeyEvent ctrlA(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
  Event a = qtbridge::keyEvent(&ctrlA, EventType::KeyDown);
  EXPECT_EQ(a.charactersIgnoringModifiers, "a");
  EXPECT_TRUE(a.hasModifier(ModifierFlag::Command));
}

TEST(Window, ExceptionsFromHandlersNeverReachTheEventLoop) {
  struct Throwing : View {
    using View::View;
    void mouseDown(const Event&) override { throw std::runtime_error("broken handler"); }
  };
  Window window(fnd::Rect(0, 0, 100, 100));
  auto view = test::addedTo<Throwing>(*window.contentView(), fnd::Rect(0, 0, 100, 100));
  window.makeKeyAndOrderFront();
  QWidget* w = view->nativeWidget();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), w->mapToGlobal(QPointF(10, 10)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  EXPECT_NO_THROW(QCoreApplication::sendEvent(w, &press));
  // Direct calls still report to the caller.
  EXPECT_THROW(window.sendEvent(Event::mouse(EventType::LeftMouseDown, {10, 10})), std::runtime_error);
}

namespace {
// Records the window each move hook saw.
struct WindowWatcher : View {
  using View::View;
  std::vector<Window*> will, did;
  std::function<void()> onDid;
  void viewWillMoveToWindow(Window* w) override { will.push_back(w); }
  void viewDidMoveToWindow() override {
    did.push_back(window());
    if (onDid) onDid();
  }
};
}  // namespace

// Views deep in a tree hear that the tree entered or left a window, not only its root.
TEST(View, EveryViewOfAMovedTreeHearsOfItsNewWindow) {
  Window window(fnd::Rect(0, 0, 200, 100));
  auto container = std::make_shared<View>(fnd::Rect(0, 0, 100, 100));
  auto inner = test::addedTo(*container, fnd::Rect(0, 0, 50, 50));
  auto leaf = test::addedTo<WindowWatcher>(*inner, fnd::Rect(0, 0, 10, 10));
  auto sibling = test::addedTo<WindowWatcher>(*inner, fnd::Rect(10, 0, 10, 10));
  // A hook may change the very list being walked.
  leaf->onDid = [&] { sibling->removeFromSuperview(); };

  window.contentView()->addSubview(container);
  EXPECT_EQ(leaf->will, std::vector<Window*>{&window});
  EXPECT_EQ(leaf->did, std::vector<Window*>{&window});
  EXPECT_EQ(sibling->superview(), nullptr);

  leaf->onDid = nullptr;
  container->removeFromSuperview();
  EXPECT_EQ(leaf->did, (std::vector<Window*>{&window, nullptr}));

  Window other(fnd::Rect(0, 0, 200, 100));
  other.setContentView(container);
  ASSERT_FALSE(leaf->did.empty());
  EXPECT_EQ(leaf->did.back(), &other);
  ASSERT_FALSE(leaf->will.empty());
  EXPECT_EQ(leaf->will.back(), &other);
}

// An observer removed by an earlier one during the same change is not called: its owner may be
// gone. The clip view may be released by an observer too.
TEST(ClipView, ObserversRemovedDuringAChangeAreNotCalled) {
  auto clip = std::make_shared<ClipView>(fnd::Rect(0, 0, 100, 100));
  clip->setDocumentView(std::make_shared<View>(fnd::Rect(0, 0, 100, 1000)));
  std::vector<std::string> calls;
  int second = -1;
  clip->addBoundsObserver([&] {
    calls.push_back("first");
    clip->removeBoundsObserver(second);
  });
  second = clip->addBoundsObserver([&] { calls.push_back("second"); });
  clip->scrollToPoint({0, 50});
  EXPECT_EQ(calls, std::vector<std::string>{"first"});

  std::weak_ptr<ClipView> weak = clip;
  clip->addBoundsObserver([&] { clip.reset(); });
  clip->scrollToPoint({0, 60});
  EXPECT_TRUE(weak.expired());
}

namespace {
// A picture of two pixels side by side, as the bytes a page thumbnail arrives in.
kesto::ui::Image twoPixels(const QColor& left, const QColor& right) {
  QImage image(2, 1, QImage::Format_RGB32);
  image.setPixel(0, 0, left.rgb());
  image.setPixel(1, 0, right.rgb());
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return kesto::ui::Image::fromData(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}
QColor at(kesto::ui::View& view, int x, int y) {
  const auto c = view.snapshot().pixelColor(x, y);
  return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue));
}
}  // namespace

// Layer contents are stretched over the bounds (scaled once for a size and then copied): each
// half of the view shows its pixel, a new picture and a new size show at the next paint, and a
// plain background is still filled around a picture that does not cover it.
TEST(View, LayerContentsStretchOverTheBoundsAndFollowANewPictureOrSize) {
  View view(fnd::Rect(0, 0, 40, 20));
  view.setLayerContents(twoPixels(Qt::red, Qt::blue));
  EXPECT_EQ(at(view, 5, 10), QColor(Qt::red));
  EXPECT_EQ(at(view, 35, 10), QColor(Qt::blue));
  view.setLayerContents(twoPixels(Qt::green, Qt::yellow));
  EXPECT_EQ(at(view, 5, 10), QColor(Qt::green));
  EXPECT_EQ(at(view, 35, 10), QColor(Qt::yellow));
  view.setFrameSize({80, 20});
  EXPECT_EQ(at(view, 38, 10), QColor(Qt::green));
  EXPECT_EQ(at(view, 42, 10), QColor(Qt::yellow));
  EXPECT_EQ(at(view, 78, 10), QColor(Qt::yellow));

  View backdrop(fnd::Rect(0, 0, 30, 30));
  backdrop.setBackgroundColor(Color::rgb(0, 0.5, 0, 1));
  auto tall = std::make_shared<View>(fnd::Rect(0, -100000, 30, 200000));
  tall->setBackgroundColor(Color::rgb(1, 0, 1, 1));
  backdrop.addSubview(tall);
  EXPECT_EQ(at(backdrop, 15, 15), QColor(Qt::magenta));
}

// A view filling its bounds with an opaque colour is painted without what lies beneath; once it
// no longer fills them (no colour, a translucent one, round corners, or drawn translucent) what
// lies beneath shows again at the next paint, never the view's old pixels.
TEST(View, AnOpaqueViewHidesWhatIsBeneathUntilItNoLongerFillsItsBounds) {
  View back(fnd::Rect(0, 0, 60, 40));
  back.setBackgroundColor(Color::rgb(1, 0, 0, 1));
  auto front = test::addedTo(back, fnd::Rect(10, 10, 40, 20));
  front->setBackgroundColor(Color::rgb(0, 1, 0, 1));
  EXPECT_EQ(at(back, 30, 20), QColor(Qt::green));
  front->setBackgroundColor(std::nullopt);
  EXPECT_EQ(at(back, 30, 20), QColor(Qt::red));
  front->setBackgroundColor(Color::rgb(0, 1, 0, 1));
  EXPECT_EQ(at(back, 30, 20), QColor(Qt::green));
  front->setBackgroundColor(Color::rgb(0, 1, 0, 0));
  EXPECT_EQ(at(back, 30, 20), QColor(Qt::red));
  front->setBackgroundColor(Color::rgb(0, 1, 0, 1));
  front->setAlphaValue(0.0);
  EXPECT_EQ(at(back, 30, 20), QColor(Qt::red));
  front->setAlphaValue(1.0);
  front->setCornerRadius(10);
  EXPECT_EQ(at(back, 11, 11), QColor(Qt::red)) << "outside the round corner";
  EXPECT_EQ(at(back, 30, 20), QColor(Qt::green));
}
