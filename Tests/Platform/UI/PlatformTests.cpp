#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/DisplayLink.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Nib.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/ScrollView.h"
#include "Platform/UI/SplitView.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>

using namespace kesto;
using namespace kesto::ui;

TEST(DisplayLink, ManualModeStepsRunningLinksOnly) {
  DisplayLink::setManualMode(true);
  DisplayLink a, b;
  int fa = 0, fb = 0;
  a.setOutputCallback([&] {
    ++fa;
    b.stop();  // a link stopped by another's frame gets none
  });
  b.setOutputCallback([&] { ++fb; });
  EXPECT_EQ(DisplayLink::step(), 0);
  a.start();
  b.start();
  EXPECT_TRUE(a.isRunning());
  EXPECT_EQ(DisplayLink::step(), 1);
  EXPECT_EQ(fa, 1);
  EXPECT_EQ(fb, 0);
  a.stop();
  EXPECT_EQ(DisplayLink::step(), 0);
  DisplayLink::setManualMode(false);
}

TEST(DisplayLink, TimerDeliversFramesAtTheRefreshRate) {
  DisplayLink link;
  int frames = 0;
  link.setOutputCallback([&] { ++frames; });
  link.setCurrentDisplay(Screen::primary().number());
  EXPECT_GE(Screen::primary().refreshRate(), 1.0);
  link.start();
  EXPECT_TRUE(test::runUntil([&] { return frames >= 3; }, 10));
  link.stop();
  int seen = frames;
  test::spin(0.1);
  EXPECT_EQ(frames, seen);
}

TEST(Nib, BuildersAwakeTheirTopLevelViews) {
  struct Awake : View {
    bool awoke = false;
    void awakeFromNib() override { awoke = true; }
  };
  void* seenOwner = nullptr;
  Nib::registerBuilder("Sample", [&](void* owner, Nib::TopLevelObjects& objects) {
    seenOwner = owner;
    objects.push_back(std::make_shared<Awake>());
    return true;
  });
  int owner = 0;
  Nib::TopLevelObjects objects;
  EXPECT_TRUE(Nib("Sample").instantiateWithOwner(&owner, objects));
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_TRUE(static_cast<Awake*>(objects[0].get())->awoke);
  EXPECT_EQ(seenOwner, &owner);
  EXPECT_FALSE(Nib("Missing").instantiateWithOwner(nullptr, objects));
  Nib::unregisterBuilder("Sample");
  EXPECT_FALSE(Nib::hasBuilder("Sample"));
}

TEST(Application, LaunchHooksAndActions) {
  struct Delegate : ApplicationDelegate {
    std::vector<std::string> calls;
    void applicationWillFinishLaunching() override { calls.push_back("will"); }
    void applicationDidFinishLaunching() override { calls.push_back("did"); }
    TerminateReply applicationShouldTerminate() override { calls.push_back("should"); return TerminateReply::Cancel; }
  } delegate;
  Application& app = Application::shared();
  app.setDelegate(&delegate);
  app.finishLaunching();
  app.finishLaunching();  // once only
  app.terminate();        // cancelled: nothing quits
  EXPECT_EQ(delegate.calls, (std::vector<std::string>{"will", "did", "should"}));

  struct Target : View {
    int copies = 0;
    bool acceptsFirstResponder() override { return true; }
    bool performAction(Command s, Responder*) override { return s == ui::cmd::copy && ++copies; }
  };
  Window window(fnd::Rect(0, 0, 100, 100));
  auto target = std::make_shared<Target>();
  window.contentView()->addSubview(target);
  window.makeKeyAndOrderFront();
  window.makeFirstResponder(target.get());
  EXPECT_EQ(app.keyWindow(), &window);
  EXPECT_TRUE(app.sendAction(ui::cmd::copy, nullptr, nullptr));
  EXPECT_FALSE(app.sendAction(ui::cmd::paste, nullptr, nullptr));
  EXPECT_EQ(target->copies, 1);
  // A removed first responder hands the role back to the window.
  target->removeFromSuperview();
  EXPECT_EQ(window.firstResponder(), &window);
  app.setDelegate(nullptr);
}

TEST(Application, QuitsAskedBeforeTheLoopAndByTheSessionsEndGoThroughTheDelegate) {
  struct Delegate : ApplicationDelegate {
    std::vector<std::string> calls;
    TerminateReply applicationShouldTerminate() override {
      calls.push_back(Application::shared().isEndingSession() ? "should (session)" : "should");
      return TerminateReply::Now;
    }
    void applicationWillTerminate() override { calls.push_back("will"); }
  } delegate;
  Application& app = Application::shared();
  app.setDelegate(&delegate);
  struct Restore {
    ~Restore() { Application::shared().setDelegate(nullptr); }
  } restore;
  // A loop that is never ended fails the test instead of hanging it.
  QTimer fallback;
  fallback.setSingleShot(true);
  QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  auto runLoop = [&] {
    fallback.start(20000);
    const int rc = app.run();
    app.forgetLaunchForTests();
    fallback.stop();
    return rc;
  };

  // Asked for while the program starts (a quit signal): carried out once the loop runs, after
  // the work the start queued for it.
  app.deferTerminateUntilRun();
  app.terminate();
  EXPECT_TRUE(delegate.calls.empty());
  Application::postToMain([&] { delegate.calls.push_back("queued"); });
  EXPECT_EQ(runLoop(), 0);
  EXPECT_EQ(delegate.calls, (std::vector<std::string>{"queued", "should", "will"}));

  // The session manager's end of the session: the toolkit's quit goes through the delegate,
  // from the loop, whatever windows refuse to close.
  delegate.calls.clear();
  Window window(fnd::Rect(0, 0, 100, 100));
  window.makeKeyAndOrderFront();
  Application::postToMain([] {
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
  });
  EXPECT_EQ(runLoop(), 0);
  EXPECT_EQ(delegate.calls, (std::vector<std::string>{"should (session)", "will"}));
  EXPECT_FALSE(app.isEndingSession());
}

TEST(Window, FramesAreInScreenCoordinatesAndNotifyKeyChanges) {
  double h = Screen::primaryHeight();
  ASSERT_GT(h, 0);
  Window window(fnd::Rect(100, 50, 300, 200));
  EXPECT_EQ(window.frame(), fnd::Rect(100, 50, 300, 200));
  EXPECT_EQ(window.contentView()->frame(), fnd::Rect(0, 0, 300, 200));
  fnd::Point screen = window.convertPointToScreen({10, 20});
  EXPECT_EQ(screen, (fnd::Point{110, 70}));
  EXPECT_EQ(window.convertPointFromScreen(screen), (fnd::Point{10, 20}));
  EXPECT_TRUE(Screen::primary().visibleFrame().size.width > 0);
  int becameKey = 0;
  fnd::ScopedObserver observer;
  observer.observe(WindowDidBecomeKeyNotification, [&](const fnd::Notification&) { ++becameKey; }, &window);
  window.makeKeyAndOrderFront();
  EXPECT_TRUE(window.isKeyWindow());
  EXPECT_EQ(becameKey, 1);
  // The content view follows the window's size; autoresizing children follow it.
  auto child = std::make_shared<View>(fnd::Rect(0, 0, 300, 200));
  child->setAutoresizingMask(View::WidthSizable | View::HeightSizable);
  window.contentView()->addSubview(child);
  window.setContentSize({400, 250});
  EXPECT_EQ(child->frame(), fnd::Rect(0, 0, 400, 250));
  window.setMinSize({500, 300});
  window.setContentSize({100, 100});
  EXPECT_EQ(window.frame().size, (fnd::Size{500, 300}));
  window.orderOut();
  EXPECT_FALSE(window.isKeyWindow());
}

namespace {
// The toolkit's word that the desktop's focus left the program or came back, as the platform
// gives it off X11 (where the X server's own focus is asked).
void focusLeavesForAnotherProgram() { Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationInactive); }
void focusComesBack() { Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive); }
// Waits until the event loop has run what was queued before (zero-delay work included).
void drain() {
  bool done = false;
  QTimer::singleShot(0, [&] { done = true; });
  test::runUntil([&] { return done; }, 30);
}
// The focus back in the program when the test ends, however it ends.
struct FocusBackAtEnd {
  ~FocusBackAtEnd() { focusComesBack(); }
};

// Counts what its window hears about key status, by delegate and by notification.
struct KeyLog : WindowDelegate {
  explicit KeyLog(Window& w) : window(w) {
    w.setDelegate(this);
    observer.observe(WindowDidResignKeyNotification, [this](const fnd::Notification&) { ++resignedNote; }, &w);
  }
  ~KeyLog() override { window.setDelegate(nullptr); }
  void windowDidBecomeKey(Window&) override { ++became; }
  void windowDidResignKey(Window&) override { ++resigned; }
  Window& window;
  int became = 0, resigned = 0, resignedNote = 0;
  fnd::ScopedObserver observer;
};
}  // namespace

// Another program taking the focus takes the key status with it; coming back, the window that
// was key is key again, unless another of ours took the focus or it went meanwhile.
TEST(Application, TheKeyWindowResignsWhileAnotherProgramHasTheFocus) {
  struct NeverMain : Window {
    using Window::Window;
    bool canBecomeMainWindow() const override { return false; }
  };
  FocusBackAtEnd focusBack;
  Application& app = Application::shared();
  Window main(fnd::Rect(100, 100, 300, 200));
  NeverMain panel(fnd::Rect(450, 100, 200, 150));
  main.makeKeyAndOrderFront();
  panel.makeKeyAndOrderFront();
  focusComesBack();
  drain();  // the toolkit's activations are through
  ASSERT_EQ(app.keyWindow(), &panel);
  ASSERT_EQ(app.mainWindow(), &main);
  KeyLog log(panel);

  focusLeavesForAnotherProgram();
  EXPECT_EQ(app.keyWindow(), nullptr);
  EXPECT_FALSE(panel.isKeyWindow());
  EXPECT_FALSE(app.isActive());
  EXPECT_EQ(app.mainWindow(), &main) << "the main window stays main";
  EXPECT_EQ(log.resigned, 1);
  EXPECT_EQ(log.resignedNote, 1);
  focusLeavesForAnotherProgram();  // told again: nothing more
  EXPECT_EQ(log.resigned, 1);
  // Coming back to a window none of ours (a toolkit dialog): the panel is key again.
  focusComesBack();
  EXPECT_TRUE(test::runUntil([&] { return panel.isKeyWindow(); }, 5));
  EXPECT_EQ(log.became, 1);
  EXPECT_TRUE(app.isActive());

  // Activating the program brings back the window that was key, not the main window.
  focusLeavesForAnotherProgram();
  app.activateIgnoringOtherApps();
  EXPECT_EQ(app.keyWindow(), &panel);
  focusComesBack();

  // Another window of ours takes the focus on the way back: it is key, the panel is not.
  focusLeavesForAnotherProgram();
  main.makeKeyAndOrderFront();
  focusComesBack();
  drain();
  EXPECT_EQ(app.keyWindow(), &main);

  // A window hidden meanwhile is not key again, and no window is.
  panel.makeKeyAndOrderFront();
  drain();
  focusLeavesForAnotherProgram();
  panel.orderOut();
  main.orderOut();
  focusComesBack();
  drain();
  EXPECT_EQ(app.keyWindow(), nullptr);
  EXPECT_EQ(log.became, 3);
}

// A panel that hides on deactivation leaves the screen while another program is active and comes
// back as it was; other windows stay. One its program ordered out meanwhile, or
// that went, stays away.
TEST(Application, PanelsThatHideOnDeactivateLeaveWhileAnotherProgramIsActive) {
  FocusBackAtEnd focusBack;
  Window main(fnd::Rect(100, 100, 300, 200));
  Panel floating(fnd::Rect(450, 100, 200, 150)), plain(fnd::Rect(450, 300, 200, 150));
  Panel minimised(fnd::Rect(700, 300, 200, 150));
  floating.setFloatingPanel(true);
  for (Panel* p : {&floating, &minimised}) p->setHidesOnDeactivate(true);
  auto gone = std::make_unique<Panel>(fnd::Rect(700, 100, 200, 150));
  gone->setHidesOnDeactivate(true);
  for (Window* w : std::initializer_list<Window*>{&plain, gone.get(), &minimised, &floating}) w->orderFront();
  minimised.miniaturize();
  main.makeKeyAndOrderFront();
  focusComesBack();
  drain();
  const fnd::Rect where = floating.frame();

  focusLeavesForAnotherProgram();
  EXPECT_TRUE(test::runUntil([&] { return !floating.isVisible(); }, 5));
  EXPECT_FALSE(gone->isVisible());
  EXPECT_TRUE(plain.isVisible()) << "a panel hides only when it says so";
  EXPECT_TRUE(main.isVisible());
  EXPECT_TRUE(minimised.isVisible() && minimised.isMiniaturized()) << "a minimised panel stays as it is";
  gone.reset();
  focusComesBack();
  EXPECT_TRUE(floating.isVisible());
  EXPECT_EQ(floating.frame(), where);
  EXPECT_EQ(floating.level(), WindowLevel::Floating);
  EXPECT_TRUE(minimised.isMiniaturized());

  // Ordered out while another program was active: it stays hidden.
  focusLeavesForAnotherProgram();
  EXPECT_TRUE(test::runUntil([&] { return !floating.isVisible(); }, 5));
  floating.orderOut();
  focusComesBack();
  EXPECT_FALSE(floating.isVisible());
  // Shown again, it hides again the next time.
  floating.orderFront();
  focusLeavesForAnotherProgram();
  EXPECT_TRUE(test::runUntil([&] { return !floating.isVisible(); }, 5));
  focusComesBack();
  EXPECT_TRUE(floating.isVisible());
}

// Making a window key and front, or ordering it front, shows a minimised window again; activating
// the program leaves a minimised window as it is.
TEST(Window, AMinimisedWindowComesBackWhenMadeKeyOrOrderedFront) {
  FocusBackAtEnd focusBack;
  Window window(fnd::Rect(100, 100, 300, 200));
  window.makeKeyAndOrderFront();
  window.miniaturize();
  ASSERT_TRUE(window.isMiniaturized());
  window.makeKeyAndOrderFront();
  EXPECT_FALSE(window.isMiniaturized());
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isKeyWindow());

  window.miniaturize();
  window.orderFront();
  EXPECT_FALSE(window.isMiniaturized());

  window.miniaturize();
  focusLeavesForAnotherProgram();
  Application::shared().activateIgnoringOtherApps();
  EXPECT_TRUE(window.isMiniaturized());
}

TEST(ScrollView, PageKeysScrollTheDocument) {
  struct Doc : View {
    using View::View;
    bool isFlipped() const override { return true; }
  };
  ScrollView sv(fnd::Rect(0, 0, 100, 100));
  sv.setDocumentView(std::make_shared<Doc>(fnd::Rect(0, 0, 100, 1000)));
  sv.setLineScroll(10);
  sv.keyDown(Event::key(KeyCode::PageDown));
  EXPECT_EQ(sv.documentVisibleRect().origin.y, 90);
  sv.keyDown(Event::key(KeyCode::End));
  EXPECT_EQ(sv.documentVisibleRect().origin.y, 900);
  sv.keyDown(Event::key(KeyCode::PageUp));
  EXPECT_EQ(sv.documentVisibleRect().origin.y, 810);
  sv.keyDown(Event::key(KeyCode::Home));
  EXPECT_EQ(sv.documentVisibleRect().origin.y, 0);
}

TEST(ScrollView, PageKeysFollowAnUnflippedDocumentAndPassOnWithoutAClipView) {
  ScrollView sv(fnd::Rect(0, 0, 100, 100));
  sv.setDocumentView(std::make_shared<View>(fnd::Rect(0, 0, 100, 1000)));
  sv.setLineScroll(10);
  // Unflipped, the beginning of the document is its largest y.
  const std::pair<std::uint16_t, double> steps[] = {
      {KeyCode::End, 0}, {KeyCode::Home, 900}, {KeyCode::PageDown, 810}, {KeyCode::PageUp, 900}};
  for (auto [key, y] : steps) {
    sv.keyDown(Event::key(key));
    EXPECT_EQ(sv.documentVisibleRect().origin.y, y) << "after key " << key;
  }
  EXPECT_FALSE(sv.respondsToAction(ui::cmd::moveDown));

  // Without a clip view the page commands are nobody's: the key travels on.
  struct Behind : Responder {
    int keys = 0;
    void keyDown(const Event&) override { ++keys; }
  } behind;
  sv.setContentView(nullptr);
  sv.setNextResponder(&behind);
  EXPECT_FALSE(sv.respondsToAction(ui::cmd::scrollPageDown));
  EXPECT_FALSE(sv.performAction(ui::cmd::scrollPageDown, nullptr));
  sv.keyDown(Event::key(KeyCode::PageDown));
  EXPECT_EQ(behind.keys, 1);
}

TEST(ScrollView, LegacyScrollersTakeSpaceOverlayOnesDoNot) {
  ScrollView sv(fnd::Rect(0, 0, 300, 200));
  sv.setHasVerticalScroller(true);
  EXPECT_EQ(sv.contentSize().width, 300);
  sv.setScrollerStyle(ScrollerStyle::Legacy);
  EXPECT_LT(sv.contentSize().width, 300);
  EXPECT_TRUE(sv.isVerticalScrollerShown());
}

namespace {
struct HookDelegate : SplitViewDelegate {
  unsigned hooks = 0;
  std::vector<std::string> calls;
  unsigned implementedSplitViewHooks() const override { return hooks; }
  bool splitViewCanCollapseSubview(SplitView&, View*) override { return true; }
  bool splitViewShouldCollapseSubviewForDoubleClickOnDividerAtIndex(SplitView& s, View* v, long) override {
    return v == s.subviews()[1].get();
  }
  bool splitViewShouldHideDividerAtIndex(SplitView&, long) override { return true; }
  double splitViewConstrainMinCoordinate(SplitView&, double, long) override {
    calls.push_back("min");
    return 50;
  }
};
}  // namespace

TEST(SplitView, HooksAreAskedOnlyWhenImplemented) {
  Window window(fnd::Rect(0, 0, 301, 100));
  auto split = std::make_shared<SplitView>(fnd::Rect(0, 0, 301, 100));
  split->setVertical(true);
  split->setDividerStyle(SplitView::DividerStyle::Thin);
  split->addSubview(std::make_shared<View>(fnd::Rect(0, 0, 150, 100)));
  split->addSubview(std::make_shared<View>(fnd::Rect(151, 0, 150, 100)));
  window.contentView()->addSubview(split);
  HookDelegate d;
  split->setDelegate(&d);
  split->setPosition(10, 0);
  EXPECT_TRUE(d.calls.empty());  // no capability bit: the hook is not asked
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 10);
  d.hooks = SplitViewDelegate::ConstrainMinCoordinate | SplitViewDelegate::CanCollapseSubview |
            SplitViewDelegate::ShouldCollapseForDoubleClick | SplitViewDelegate::ShouldHideDivider;
  split->setDelegate(&d);
  split->setPosition(10, 0);
  EXPECT_EQ(d.calls, std::vector<std::string>{"min"});
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 50);
  // A double click on the divider collapses the pane the delegate chose (the second).
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, {50.5, 50}, 0, 2));
  EXPECT_TRUE(split->isSubviewCollapsed(split->subviews()[1].get()));
  EXPECT_TRUE(split->subviews()[1]->isHidden());
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 300);
  EXPECT_EQ(split->dividerRect(5), fnd::Rect());
  EXPECT_EQ(split->dividerIndexAtPoint({-40, 5}), -1);
}

TEST(GraphicsContext, PathsGradientsAndTextDrawUpright) {
  struct Canvas : View {
    using View::View;
    void drawRect(GraphicsContext& ctx, const fnd::Rect&) override {
      ctx.setFillColor(Color::rgb(0, 0, 1));
      ctx.fillPath(Path::oval(fnd::Rect(0, 0, 20, 20)));
      ctx.saveState();
      ctx.clipToRect(fnd::Rect(40, 0, 10, 10));
      ctx.setFillColor(Color::rgb(0, 1, 0));
      ctx.fillRect(fnd::Rect(30, 0, 40, 40));  // clipped to 40...50 x 0...10
      ctx.restoreState();
      Gradient g{{{0, Color::black()}, {1, Color::white()}}};
      ctx.fillGradient(g, fnd::Rect(0, 30, 100, 10), 0);
      ctx.drawText("Kesto", fnd::Rect(60, 0, 40, 20), Font{}, Color::black());
    }
  };
  auto v = std::make_shared<Canvas>(fnd::Rect(0, 0, 100, 40));
  v->setBackgroundColor(Color::white());
  Image img = v->snapshot();
  // y up: the oval sits at the bottom left; the green clip at the bottom from x 40 to 50.
  EXPECT_EQ(img.pixelColor(10, 30), Color::rgb(0, 0, 1));
  EXPECT_EQ(img.pixelColor(45, 35), Color::rgb(0, 1, 0));
  EXPECT_EQ(img.pixelColor(55, 35), Color::white());
  EXPECT_LT(img.pixelColor(2, 5).red, img.pixelColor(97, 5).red);  // the gradient brightens
  EXPECT_GT(GraphicsContext::sizeOfText("Kesto", Font{}).width, 10);
  EXPECT_FALSE(img.encoded().empty());
}

namespace {
QWidget* widgetOf(const Window& window) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->property("kestoWindow").value<void*>() == &window) return w;
  return nullptr;
}

struct ThrowingWindowDelegate : WindowDelegate {
  std::set<std::string> calls;
  [[noreturn]] void fail(const char* what) {
    calls.insert(what);
    throw std::runtime_error(what);
  }
  bool windowShouldClose(Window&) override { fail("close"); }
  void windowDidResize(Window&) override { fail("resize"); }
  void windowDidMove(Window&) override { fail("move"); }
  void windowDidChangeScreen(Window&) override { fail("screen"); }
};
}  // namespace

// The dividers show the resize cursor, across them as the panes lie; the panes show the arrow, or
// the cursor they chose.
TEST(SplitView, TheDividersShowTheResizeCursorAndThePanesTheirOwn) {
  Window window(fnd::Rect(0, 0, 301, 100));
  auto split = std::make_shared<SplitView>(fnd::Rect(0, 0, 301, 100));
  split->setVertical(true);
  auto link = std::make_shared<Label>(fnd::Rect(0, 0, 146, 100));
  link->setShowsLinkCursor(true);
  split->addSubview(std::make_shared<View>(fnd::Rect(0, 0, 146, 100)));
  split->addSubview(link);
  window.contentView()->addSubview(split);
  split->adjustSubviews();
  window.makeKeyAndOrderFront();
  QWidget* top = widgetOf(window);
  ASSERT_TRUE(top);
  // Every point of the window, by the cursor the widget under it shows.
  auto shapes = [&] {
    std::map<Qt::CursorShape, int> seen;
    for (int y = 0; y < top->height(); ++y)
      for (int x = 0; x < top->width(); ++x)
        if (QWidget* w = top->childAt(x, y)) ++seen[w->cursor().shape()];
    return seen;
  };
  const int thickness = static_cast<int>(split->dividerThickness());
  auto seen = shapes();
  EXPECT_EQ(seen[Qt::SplitHCursor], thickness * 100);
  EXPECT_EQ(seen[Qt::DragLinkCursor], 146 * 100);
  EXPECT_GE(seen[Qt::ArrowCursor], 146 * 100);
  split->setVertical(false);
  seen = shapes();
  EXPECT_EQ(seen[Qt::SplitVCursor], thickness * 301);
  EXPECT_EQ(seen[Qt::SplitHCursor], 0);
}

// What a delegate or an observer throws from a window event must not unwind through Qt.
TEST(GraphicsContext, FontSizesAreInTheUnitsOfViewGeometry) {
  // A 13-unit line fits the 20-unit rows the lists are laid out with, as it was drawn for; taken
  // as toolkit points it would be a third taller on a 96 dpi screen.
  Font body;
  const fnd::Size line = GraphicsContext::sizeOfText("Ag", body);
  EXPECT_GT(line.height, 12);
  EXPECT_LE(line.height, 18);
  Font twice = body;
  twice.pointSize = 26;
  EXPECT_NEAR(GraphicsContext::sizeOfText("Kesto", twice).width / GraphicsContext::sizeOfText("Kesto", body).width,
              2.0, 0.25);
}

TEST(Window, ExceptionsFromWindowEventsStayOutOfTheEventLoop) {
  Window window(fnd::Rect(10, 10, 200, 100), WindowStyle::Titled | WindowStyle::Resizable);
  ThrowingWindowDelegate delegate;
  window.setDelegate(&delegate);
  int posted = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &delegate, [&](const fnd::Notification&) { ++posted, throw std::runtime_error("observer"); },
      WindowDidBecomeKeyNotification);
  EXPECT_NO_THROW(window.orderFront());
  QWidget* widget = widgetOf(window);
  ASSERT_NE(widget, nullptr);
  ASSERT_NE(widget->windowHandle(), nullptr);

  QResizeEvent resize(QSize(300, 150), QSize(200, 100));
  QMoveEvent move(QPoint(40, 40), QPoint(10, 10));
  QCloseEvent close;
  QEvent activate(QEvent::WindowActivate);
  EXPECT_NO_THROW(QApplication::sendEvent(widget, &resize));
  EXPECT_NO_THROW(QApplication::sendEvent(widget, &move));
  EXPECT_NO_THROW(QApplication::sendEvent(widget, &close));
  Application::shared().windowBecameKey(nullptr);
  EXPECT_NO_THROW(QApplication::sendEvent(widget, &activate));
  EXPECT_NO_THROW(Q_EMIT widget->windowHandle()->screenChanged(widget->windowHandle()->screen()));
  EXPECT_EQ(delegate.calls, (std::set<std::string>{"close", "move", "resize", "screen"}));
  EXPECT_GE(posted, 1);
  EXPECT_TRUE(window.isVisible());  // the close was not confirmed
  fnd::NotificationCenter::defaultCenter().removeObserver(&delegate);
}
