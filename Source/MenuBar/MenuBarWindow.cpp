#include "MenuBar/MenuBarWindow.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {

constexpr double kFadeOut = 0.1;
constexpr double kFocusSettleDelay = 0.25;
// The icon's stand-in height when the tray does not tell its place.
constexpr double kPanelThickness = 22;

fnd::Rect screenHolding(const fnd::Point& p, const std::vector<fnd::Rect>& frames) {
  for (const auto& f : frames)
    if (f.contains(p)) return f;
  // Nearest screen: a point just off every screen (a tray at the very edge) still picks one.
  fnd::Rect best;
  double bestDistance = INFINITY;
  for (const auto& f : frames) {
    double dx = std::max({f.minX() - p.x, 0.0, p.x - f.maxX()}), dy = std::max({f.minY() - p.y, 0.0, p.y - f.maxY()});
    if (dx * dx + dy * dy < bestDistance) {
      bestDistance = dx * dx + dy * dy;
      best = f;
    }
  }
  return best;
}

}  // namespace

fnd::Point menuBarWindowOrigin(const std::optional<fnd::Rect>& icon, const fnd::Point& pointer, const fnd::Size& size,
                               double distance, const std::vector<fnd::Rect>& visibleFrames) {
  fnd::Point anchor = icon ? fnd::Point{icon->midX(), icon->minY()} : pointer;
  fnd::Rect screen = screenHolding(anchor, visibleFrames);
  double x = anchor.x - size.width / 2;
  double y = icon ? anchor.y - (distance > 0 ? distance : 0) - size.height : screen.maxY() - size.height;
  if (screen.size.width > 0) {
    x = std::clamp(x, screen.minX(), std::max(screen.minX(), screen.maxX() - size.width));
    y = std::clamp(y, screen.minY(), std::max(screen.minY(), screen.maxY() - size.height));
  }
  return {std::round(x), std::round(y)};
}

bool menuBarWindowSnaps(const fnd::Point& top, const fnd::Point& anchor, double snapDistance, bool detachable) {
  return !detachable || std::hypot(top.x - anchor.x, top.y - anchor.y) <= snapDistance;
}

// Draws the window: the title bar with its gradient and, while attached, the arrow pointing at
// the icon; the content view stands below the title bar.
class MenuBarWindow::FrameView : public ui::View {
 public:
  FrameView(MenuBarWindow& owner, const fnd::Rect& frame) : ui::View(frame), owner_(owner) {}

  ui::Path shape() const {
    fnd::Rect b = bounds();
    const double t = std::round(owner_.titleBarHeight_), aw = std::round(owner_.arrowSize_.width),
                 ah = std::round(owner_.arrowSize_.height), a = owner_.attached_ ? ah : 0, top = b.maxY();
    ui::Path path;
    const double ax = owner_.arrowCenter();
    path.moveTo({ax - aw / 2, top - a});
    path.lineTo({ax, top});
    path.lineTo({ax + aw / 2, top - a});
    path.lineTo({b.maxX() - 4, top - a});
    path.curveTo({b.maxX(), top - a - 4}, {b.maxX(), top - a}, {b.maxX(), top - a});
    path.lineTo({b.maxX(), b.minY()});
    path.lineTo({b.minX(), b.minY()});
    path.lineTo({b.minX(), top - a - 4});
    path.curveTo({b.minX() + 4, top - a}, {b.minX(), top - a}, {b.minX(), top - a});
    path.close();
    (void)t;
    return path;
  }

  void drawRect(ui::GraphicsContext& g, const fnd::Rect&) override {
    fnd::Rect b = bounds();
    const double t = std::round(owner_.titleBarHeight_), aw = std::round(owner_.arrowSize_.width),
                 ah = std::round(owner_.arrowSize_.height), a = owner_.attached_ ? ah : 0, top = b.maxY();
    const bool active = owner_.isKeyWindow() || owner_.attached_;
    const double base = active ? 0.69 : 0.85, end = active ? 0.91 : 0.93;
    g.saveState();
    g.clipToPath(shape());
    g.setFillColor(ui::Color::white(0.93));
    g.fillRect(b);
    g.setFillColor(ui::Color::white(base));
    g.fillRect(fnd::Rect(b.minX(), top - t - a, b.size.width, t + a));
    ui::Gradient band{{{0.0, ui::Color::white(end)}, {1.0, ui::Color::white(end, 0.0)}}};
    g.fillGradient(band, fnd::Rect(b.minX(), top - t - a, b.size.width, t), 90);
    if (owner_.attached_) {
      ui::Gradient arrow{{{0.0, ui::Color::white(end)}, {1.0, ui::Color::white(1.0)}}};
      g.fillGradient(arrow, fnd::Rect(owner_.arrowCenter() - aw / 2, top - a, aw, ah), 90);
    }
    g.restoreState();
    g.setFillColor(ui::Color::white(0.5));
    g.fillRect(fnd::Rect(b.minX(), top - t - a - 1, b.size.width, 1));
    ui::Font font;
    font.pointSize = 13;
    g.drawText(owner_.title(), fnd::Rect(b.minX() + 70, top - t - a, b.size.width - 140, t), font,
               ui::Color::white(0.2), ui::TextAlignment::Center);
  }

  void mouseDown(const ui::Event& e) override {
    if (owner_.toolbarRect().contains(e.locationInWindow)) owner_.titleBarMouseDown(owner_.convertPointToScreen(e.locationInWindow));
  }
  void mouseDragged(const ui::Event& e) override { owner_.titleBarMouseDragged(owner_.convertPointToScreen(e.locationInWindow)); }
  void mouseUp(const ui::Event&) override { owner_.titleBarMouseUp(); }

 private:
  MenuBarWindow& owner_;
};

MenuBarWindow::MenuBarWindow(const fnd::Rect& contentRect) : ui::ChildWindow(contentRect) {
  setDelegate(this);
  frameView_ = std::make_shared<FrameView>(*this, fnd::Rect(0, 0, contentRect.size.width, contentRect.size.height));
  setContentView(frameView_);
  layoutContent();
  actions_.add({ui::cmd::cancelOperation, {}, {}, ui::ModifierFlag::Command, nullptr, [](ui::Responder*) {
                  fnd::NotificationCenter::defaultCenter().postNotificationName(CloseMenubarNotification);
                  return true;
                }});
}

MenuBarWindow::~MenuBarWindow() {
  lifetime_.end();
  setDelegate(nullptr);
}

void MenuBarWindow::setHasMenuBarIcon(bool has) {
  if (has == hasMenuBarIcon()) return;
  if (!has) {
    tray_.reset();
    setAttachedToMenuBar(false);
    return;
  }
  if (!sys::TrayIcon::isSystemTrayAvailable()) return;
  tray_ = std::make_unique<sys::TrayIcon>();
  tray_->setToolTip("Kesto");
  auto alive = lifetime_.watch();
  tray_->setActivationHandler([this, alive](const fnd::Point& pointer) {
    if (alive) iconClicked(pointer);
  });
  tray_->setVisible(true);
}

void MenuBarWindow::setAttachedToMenuBar(bool attached) {
  if (attached == attached_) return;
  attached_ = attached;
  fnd::Rect f = frame();
  // The arrow grows the window at the top; the content keeps its place on screen.
  if (attached) {
    f.size.height += arrowSize_.height;
  } else {
    f.size.height -= arrowSize_.height;
  }
  setFrame(f, true);
  layoutContent();
  if (!dragging_) {
    if (attached) {
      setFrame(fnd::Rect(originForAttachedState(), frame().size), true);
    } else {
      fnd::Rect moved = frame();
      moved.origin.y -= snapDistance_ + 10;
      setFrame(moved, true);
    }
  }
  setLevel(attached ? ui::WindowLevel::PopUpMenu : ui::WindowLevel::Normal);
  applyShape();
  frameView_->setNeedsDisplay();
}

void MenuBarWindow::setDistanceFromMenuBar(double d) {
  distanceFromMenuBar_ = d;
  if (attached_) setFrame(fnd::Rect(originForAttachedState(), frame().size), true);
}

void MenuBarWindow::setArrowSize(const fnd::Size& size) {
  arrowSize_ = size;
  layoutContent();
}

void MenuBarWindow::setTitleBarHeight(double height) {
  titleBarHeight_ = height;
  layoutContent();
}

fnd::Rect MenuBarWindow::titleBarRect() const {
  fnd::Size s = frame().size;
  double a = attached_ ? arrowSize_.height : 0;
  return fnd::Rect(0, s.height - titleBarHeight_ - a, s.width, titleBarHeight_ + a);
}

fnd::Rect MenuBarWindow::toolbarRect() const {
  if (!attached_) return titleBarRect();
  fnd::Size s = frame().size;
  return fnd::Rect(0, s.height - titleBarHeight_ - arrowSize_.height, s.width, titleBarHeight_);
}

double MenuBarWindow::arrowCenter() const {
  // Pointing at the icon (or the anchor) even where the screen's edge pushed the window aside.
  std::optional<fnd::Rect> icon = tray_ ? tray_->geometry() : std::nullopt;
  fnd::Rect f = frame();
  double x = (icon ? icon->midX() : anchor_.x) - f.minX();
  double margin = arrowSize_.width / 2 + 6;
  if (f.size.width < 2 * margin) return f.size.width / 2;
  return std::clamp(x, margin, f.size.width - margin);
}

fnd::Point MenuBarWindow::originForAttachedState() const {
  std::vector<fnd::Rect> frames;
  for (const auto& screen : ui::Screen::screens()) frames.push_back(screen.visibleFrame());
  std::optional<fnd::Rect> icon = tray_ ? tray_->geometry() : std::nullopt;
  return menuBarWindowOrigin(icon, anchor_, frame().size, distanceFromMenuBar_, frames);
}

void MenuBarWindow::setMenuContentView(std::shared_ptr<ui::View> view) {
  if (content_) content_->removeFromSuperview();
  content_ = std::move(view);
  if (content_) frameView_->addSubview(content_);
  layoutContent();
}

void MenuBarWindow::layoutContent() {
  fnd::Size s = frame().size;
  frameView_->setFrame(fnd::Rect(0, 0, s.width, s.height));
  if (content_) {
    double a = attached_ ? arrowSize_.height : 0;
    content_->setFrame(fnd::Rect(0, 0, s.width, std::max(0.0, s.height - titleBarHeight_ - a - 1)));
  }
  frameView_->setNeedsDisplay();
}

void MenuBarWindow::applyShape() { setShape(frameView_->shape()); }

void MenuBarWindow::showWindow() {
  if (hiding_) {
    // Shown again during the fade: the fade ends here and the window stays.
    hiding_ = false;
    finishAnimations();
  }
  setAlphaValue(1.0);
  if (attached_) setFrame(fnd::Rect(originForAttachedState(), frame().size), true);
  applyShape();
  // Only this window comes forward: the main window stays where it is (hidden in menu-bar mode).
  makeKeyAndOrderFront();
  if (tray_) tray_->setHighlighted(true);
}

void MenuBarWindow::hideWindow() {
  if (tray_) tray_->setHighlighted(false);
  if (!isVisible() || hiding_) return;
  hiding_ = true;
  auto alive = lifetime_.watch();
  animateAlpha(0.0, kFadeOut, [this, alive] {
    if (!alive || !hiding_) return;
    hiding_ = false;
    orderOut();
    setAlphaValue(1.0);
  });
}

void MenuBarWindow::iconClicked(const fnd::Point& pointer) {
  anchor_ = pointer;
  if (isVisible() && attached_ && !hiding_) hideWindow();
  else showWindow();
}

void MenuBarWindow::keyDown(const ui::Event& event) {
  if (event.keyCode == ui::KeyCode::Escape) {
    actions_.perform(ui::cmd::cancelOperation, this);
    return;
  }
  ui::ChildWindow::keyDown(event);
}

bool MenuBarWindow::respondsToAction(ui::Command selector) const {
  return actions_.contains(selector) || ui::ChildWindow::respondsToAction(selector);
}

bool MenuBarWindow::performAction(ui::Command selector, ui::Responder* sender) {
  return actions_.perform(selector, sender) || ui::ChildWindow::performAction(selector, sender);
}

void MenuBarWindow::titleBarMouseDown(const fnd::Point& screenPoint) {
  dragging_ = true;
  dragStartLocation_ = screenPoint;
  dragStartFrame_ = frame();
}

void MenuBarWindow::titleBarMouseDragged(const fnd::Point& screenPoint) {
  if (!dragging_) return;
  fnd::Rect f = dragStartFrame_;
  f.origin.x += screenPoint.x - dragStartLocation_.x;
  f.origin.y += screenPoint.y - dragStartLocation_.y;
  setFrame(f, true);
  if (!tray_) return;
  fnd::Point origin = originForAttachedState();
  fnd::Rect attachedFrame(origin, f.size);
  fnd::Point top{f.midX(), f.maxY()}, anchor{attachedFrame.midX(), attachedFrame.maxY()};
  if (menuBarWindowSnaps(top, anchor, snapDistance_, detachable_)) {
    setFrame(attachedFrame, true);
    setAttachedToMenuBar(true);
  } else {
    setAttachedToMenuBar(false);
  }
}

void MenuBarWindow::titleBarMouseUp() { dragging_ = false; }

void MenuBarWindow::windowDidResignKey(ui::Window&) {
  frameView_->setNeedsDisplay();
  if (!attached_) return;
  // The focus flickers while the hot key's grab ends and the window manager hands the focus
  // over: the window goes only when the focus has stayed elsewhere for a moment.
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(kFocusSettleDelay, [this, alive] {
    if (alive && attached_ && !isKeyWindow()) hideWindow();
  });
}

}  // namespace kesto
