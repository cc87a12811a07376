#include "MenuBar/MenuBarWindow.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Timer.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"
#include "Views/WindowButton.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace kesto {

namespace {

constexpr double kFadeOut = 0.1;
constexpr double kButtonsFade = 0.15;
// Where the window buttons stand in the title bar.
constexpr double kButtonX[] = {7, 27, 47};
// What is kept of the title bar above the bottom of the visible area after a drag.
constexpr double kKeptAboveBottom = 23;
constexpr double kFocusSettleDelay = 0.25;
// The icon's stand-in height when the tray does not tell its place.
constexpr double kPanelThickness = 22;
// How often the icon's place is looked at while the window shows: the tray tells no moves.
constexpr double kIconWatchInterval = 0.25;
// How many moves back under the icon from one place, within how long, before the window stays.
constexpr int kSnapBacksFromOnePlace = 3;
constexpr std::chrono::milliseconds kSnapBackPeriod{1000};

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

ui::Image menuBarNoiseImage() {
  static const ui::Image noise = [] {
    constexpr int kSide = 100;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kSide * kSide * 4);
    for (int i = 0; i < kSide * kSide; ++i) {
      const auto grey = static_cast<std::uint8_t>(std::rand() & 0xFF);
      // The grey at alpha 6 of 255 over the title bar: a faint grain.
      bytes.insert(bytes.end(), {grey, grey, grey, 6});
    }
    return ui::Image::fromRGBA(kSide, kSide, bytes);
  }();
  return noise;
}

fnd::Rect menuBarWindowResizedFrame(const fnd::Rect& start, const fnd::Rect& proposed, double startPointerX,
                                    double pointerX, bool right, double minWidth, double maxWidth) {
  fnd::Rect f = start;
  if (proposed.size.width != start.size.width) {
    const double d = right ? pointerX - startPointerX : startPointerX - pointerX;
    f.origin.x = start.minX() - d;
    f.size.width = start.size.width + 2 * d;
    for (double bound : {minWidth, maxWidth}) {
      if ((bound == minWidth && f.size.width < minWidth) || (bound == maxWidth && f.size.width > maxWidth)) {
        f.size.width = bound;
        f.origin.x = start.minX() + start.size.width / 2 - bound / 2;
      }
    }
  }
  if (proposed.minY() != start.minY()) {
    f.origin.y = proposed.minY();
    f.size.height = proposed.size.height;
  }
  return f;
}

// A thin strip along an edge, over the content: presses there resize the window, through the
// frame view.
class MenuBarWindow::ResizeGrip : public ui::View {
 public:
  explicit ResizeGrip(View& frameView) : ui::View(fnd::Rect()), frameView_(frameView) { setZPosition(1); }
  void mouseDown(const ui::Event& e) override { frameView_.mouseDown(e); }
  void mouseDragged(const ui::Event& e) override { frameView_.mouseDragged(e); }
  void mouseUp(const ui::Event& e) override { frameView_.mouseUp(e); }

 private:
  View& frameView_;
};

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
    const bool key = owner_.isKeyWindow();
    const bool active = key || owner_.attached_;
    const double base = active ? 0.69 : 0.85, end = active ? 0.91 : 0.93;
    g.saveState();
    g.clipToPath(shape());
    g.setFillColor(ui::Color::white(0.93));
    g.fillRect(b);
    g.setFillColor(ui::Color::white(base));
    g.fillRect(fnd::Rect(b.minX(), top - t - a, b.size.width, t + a));
    const fnd::Rect band(b.minX(), top - t - a, b.size.width, t);
    if (key) g.fillPathWithPattern(ui::Path::rect(band), menuBarNoiseImage(), band.origin);
    // Lighter towards the top of the title bar.
    ui::Gradient shading{{{0.0, ui::Color::white(end, 0.0)}, {1.0, ui::Color::white(end)}}};
    g.fillGradient(shading, band, 90);
    const double ax = owner_.arrowCenter();
    if (owner_.attached_) {
      ui::Gradient arrow{{{0.0, ui::Color::white(end)}, {1.0, ui::Color::white(1.0)}}};
      g.fillGradient(arrow, fnd::Rect(ax - aw / 2, top - a, aw, ah), 90);
    }
    // The highlight along the top edge, over the arrow too.
    ui::Path highlight;
    highlight.moveTo({b.minX(), top - a});
    if (owner_.attached_) {
      highlight.lineTo({ax - aw / 2, top - a});
      highlight.lineTo({ax, top});
      highlight.lineTo({ax + aw / 2, top - a});
    }
    highlight.lineTo({b.maxX(), top - a});
    g.setStrokeColor(ui::Color::white(1.0));
    g.strokePath(highlight);
    g.restoreState();
    g.setFillColor(ui::Color::white(0.5));
    g.fillRect(fnd::Rect(b.minX(), top - t - a - 1, b.size.width, 1));
    ui::Font font;
    font.pointSize = 13;
    g.drawText(owner_.title(), fnd::Rect(b.minX() + 70, top - t - a, b.size.width - 140, t), font,
               ui::Color::white(0.2), ui::TextAlignment::Center);
  }

  // The edges (left, right, bottom) resize the window: presses there are the frame's own.
  unsigned edgesAt(const fnd::Point& p) const {
    const fnd::Rect b = bounds();
    if (!b.contains(p) || owner_.titleBarRect().contains(p)) return 0;
    const double m = kResizeMargin;
    return (p.x < b.minX() + m ? kLeft : 0) | (p.x >= b.maxX() - m ? kRight : 0) | (p.y < b.minY() + m ? kBottom : 0);
  }
  void mouseDown(const ui::Event& e) override {
    edges_ = edgesAt(e.locationInWindow);
    const fnd::Point screen = owner_.convertPointToScreen(e.locationInWindow);
    if (edges_ != 0) {
      owner_.windowWillStartLiveResize(screen);
      return;
    }
    if (owner_.toolbarRect().contains(e.locationInWindow)) owner_.titleBarMouseDown(screen);
  }
  void mouseDragged(const ui::Event& e) override {
    const fnd::Point screen = owner_.convertPointToScreen(e.locationInWindow);
    if (edges_ == 0) return owner_.titleBarMouseDragged(screen);
    // What the window manager would make of dragging these edges.
    fnd::Rect f = owner_.resizeStartFrame_;
    const double dx = screen.x - owner_.resizeStartLocation_.x, dy = screen.y - owner_.resizeStartLocation_.y;
    if (edges_ & kRight) f.size.width += dx;
    if (edges_ & kLeft) f.origin.x += dx, f.size.width -= dx;
    if (edges_ & kBottom) f.origin.y += dy, f.size.height -= dy;
    owner_.resizeToProposedFrame(f, screen);
  }
  void mouseUp(const ui::Event& e) override {
    if (edges_ != 0) {
      edges_ = 0;
      owner_.windowDidEndLiveResize();
      return;
    }
    owner_.titleBarMouseUp(e.clickCount);
  }

 private:
  static constexpr unsigned kLeft = 1, kRight = 2, kBottom = 4;
  MenuBarWindow& owner_;
  unsigned edges_ = 0;
};

MenuBarWindow::MenuBarWindow(const fnd::Rect& contentRect) : ui::ChildWindow(contentRect) {
  setDelegate(this);
  frameView_ = std::make_shared<FrameView>(*this, fnd::Rect(0, 0, contentRect.size.width, contentRect.size.height));
  setContentView(frameView_);
  for (int i = 0; i < 3; ++i) {
    grips_.push_back(std::make_shared<ResizeGrip>(*frameView_));
    frameView_->addSubview(grips_.back());
  }
  for (auto kind : {WindowButton::Kind::Close, WindowButton::Kind::Miniaturize, WindowButton::Kind::Zoom}) {
    buttons_.push_back(std::make_shared<WindowButton>(kind));
    frameView_->addSubview(buttons_.back());
  }
  layoutContent();
  actions().add(ui::cmd::cancelOperation,
                [] { fnd::NotificationCenter::defaultCenter().postNotificationName(CloseMenubarNotification); });
}

MenuBarWindow::~MenuBarWindow() {
  lifetime_.end();
  if (iconWatch_) iconWatch_->invalidate();
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
  tray_->setActivationHandler(lifetime_.whileAlive([this](const fnd::Point& pointer) { iconClicked(pointer); }));
  tray_->setVisible(true);
}

void MenuBarWindow::setAttachedToMenuBar(bool attached) {
  if (attached == attached_) return;
  const bool wasPlacing = std::exchange(placing_, true);
  attached_ = attached;
  fnd::Rect f = frame();
  // The arrow grows the window at the top; the content keeps its place on screen.
  if (attached) {
    f.size.height += arrowSize_.height;
  } else {
    f.size.height -= arrowSize_.height;
  }
  // The minimum takes the arrow or gives it up with the frame.
  updateMinSize();
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
  if (hideWindowControlsWhenAttached_) showWindowButtons(!attached);
  setLevel(attached ? ui::WindowLevel::PopUpMenu : ui::WindowLevel::Normal);
  if (attached && (menuBarDelegateMethods_ & MenuBarWindowDelegate::DidAttach)) {
    menuBarDelegate_->windowDidAttachToMenuBar(*this);
    fnd::NotificationCenter::defaultCenter().postNotificationName(MenuBarWindowDidAttachToMenuBar, this);
  } else if (!attached && (menuBarDelegateMethods_ & MenuBarWindowDelegate::DidDetach)) {
    menuBarDelegate_->windowDidDetachFromMenuBar(*this);
    fnd::NotificationCenter::defaultCenter().postNotificationName(MenuBarWindowDidDetachFromMenuBar, this);
  }
  layoutContent();
  applyShape();
  frameView_->setNeedsDisplay();
  placing_ = wasPlacing;
}

void MenuBarWindow::showWindowButtons(bool show) {
  if (show) {
    hideControls_ = false;
    for (const auto& b : buttons_) {
      b->setAlphaValue(0);
      b->setHidden(false);
    }
    ui::AnimationContext::runAnimationGroup([&](ui::AnimationContext& context) {
      context.setDuration(kButtonsFade);
      for (const auto& b : buttons_) b->animator().setAlphaValue(1);
    });
    return;
  }
  // Faded out first; hidden only if no detach came in the meantime.
  hideControls_ = true;
  ui::AnimationContext::runAnimationGroup(
      [&](ui::AnimationContext& context) {
        context.setDuration(kButtonsFade);
        for (const auto& b : buttons_) b->animator().setAlphaValue(0);
      },
      lifetime_.whileAlive([this] {
        if (!hideControls_) return;
        for (const auto& b : buttons_) {
          b->setHidden(true);
          b->setAlphaValue(1);
        }
        hideControls_ = false;
      }));
}

void MenuBarWindow::setHideWindowControlsWhenAttached(bool hide) {
  if (hide == hideWindowControlsWhenAttached_) return;
  hideWindowControlsWhenAttached_ = hide;
  if (hide && !attached_) return;
  hideControls_ = false;
  for (const auto& b : buttons_) {
    b->setAlphaValue(1);
    b->setHidden(hide);
  }
}

void MenuBarWindow::setMenuBarDelegate(MenuBarWindowDelegate* delegate) {
  menuBarDelegate_ = delegate;
  menuBarDelegateMethods_ = delegate ? delegate->implementedMenuBarWindowMethods() : 0;
}

void MenuBarWindow::setDistanceFromMenuBar(double d) {
  distanceFromMenuBar_ = d;
  if (attached_) setFrame(fnd::Rect(originForAttachedState(), frame().size), true);
}

void MenuBarWindow::setArrowSize(const fnd::Size& size) {
  arrowSize_ = size;
  updateMinSize();
  layoutContent();
}

void MenuBarWindow::setTitleBarHeight(double height) {
  titleBarHeight_ = height;
  updateMinSize();
  layoutContent();
}

void MenuBarWindow::setContentMinSize(const fnd::Size& size) {
  contentMinSize_ = size;
  updateMinSize();
}

void MenuBarWindow::updateMinSize() {
  if (contentMinSize_.width <= 0 && contentMinSize_.height <= 0) return;
  // The content stands below the title bar, the arrow (while attached) and a one-point separator.
  const double a = attached_ ? arrowSize_.height : 0;
  setMinSize({contentMinSize_.width, contentMinSize_.height + titleBarHeight_ + a + 1});
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
  std::optional<fnd::Rect> icon = iconGeometry();
  fnd::Rect f = frame();
  double x = (icon ? icon->midX() : anchor_.x) - f.minX();
  double margin = arrowSize_.width / 2 + 6;
  if (f.size.width < 2 * margin) return f.size.width / 2;
  return std::clamp(x, margin, f.size.width - margin);
}

fnd::Point MenuBarWindow::originForAttachedState() const {
  std::vector<fnd::Rect> frames;
  for (const auto& screen : ui::Screen::screens()) frames.push_back(screen.visibleFrame());
  std::optional<fnd::Rect> icon = iconGeometry();
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
  const fnd::Rect toolbar = toolbarRect();
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    const fnd::Size size = buttons_[i]->frame().size;
    buttons_[i]->setFrame(
        fnd::Rect(kButtonX[i], std::floor((toolbar.size.height - size.height) / 2 + toolbar.minY()), size.width, size.height));
  }
  const double a = attached_ ? arrowSize_.height : 0, below = std::max(0.0, s.height - titleBarHeight_ - a - 1);
  if (content_) content_->setFrame(fnd::Rect(0, 0, s.width, below));
  // The window has no frame from the window manager: strips along its left, right and bottom
  // edges, over the content, take the presses that resize it.
  const double m = kResizeMargin;
  if (grips_.size() == 3) {
    grips_[0]->setFrame(fnd::Rect(0, 0, m, below));
    grips_[1]->setFrame(fnd::Rect(std::max(0.0, s.width - m), 0, m, below));
    grips_[2]->setFrame(fnd::Rect(0, 0, s.width, m));
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
  focusReturn_.windowWillShow(*this);
  // Only this window comes forward: the main window stays where it is (hidden in menu-bar mode).
  makeKeyAndOrderFront();
  if (tray_) tray_->setHighlighted(true);
  watchIcon();
}

void MenuBarWindow::hideWindow() {
  if (tray_) tray_->setHighlighted(false);
  if (!isVisible() || hiding_) return;
  focusReturn_.windowWillHide(*this);
  // However it goes (a click elsewhere, the focus taken, the icon), what was typed in it is
  // stored first, as at Escape.
  endEditing();
  hiding_ = true;
  animateAlpha(0.0, kFadeOut, lifetime_.whileAlive([this] {
    if (!hiding_) return;
    hiding_ = false;
    orderOut();
    setAlphaValue(1.0);
  }));
}

void MenuBarWindow::iconClicked(const fnd::Point& pointer) {
  anchor_ = pointer;
  if (isVisible() && attached_ && !hiding_) return hideWindow();
  showWindow();
  fnd::NotificationCenter::defaultCenter().postNotificationName(MenuBarWindowDidShowFromIcon,
                                                                static_cast<ui::Window*>(this));
}

void MenuBarWindow::keyDown(const ui::Event& event) {
  if (event.keyCode == ui::KeyCode::Escape) {
    actions().perform(ui::cmd::cancelOperation, this);
    return;
  }
  ui::ChildWindow::keyDown(event);
}

void MenuBarWindow::titleBarMouseDown(const fnd::Point& screenPoint) {
  dragging_ = true;
  moved_ = false;
  dragStartLocation_ = screenPoint;
  dragStartFrame_ = frame();
}

void MenuBarWindow::titleBarMouseDragged(const fnd::Point& screenPoint) {
  if (!dragging_) return;
  fnd::Rect f = dragStartFrame_;
  f.origin.x += screenPoint.x - dragStartLocation_.x;
  f.origin.y += screenPoint.y - dragStartLocation_.y;
  moved_ = true;
  setFrame(f, true);
  // A hidden window hears of no move: the drag brings it to the snap itself.
  snapToMenuBar();
}

void MenuBarWindow::windowDidMove(ui::Window&) { snapToMenuBar(); }

void MenuBarWindow::snapToMenuBar() {
  if (!tray_ || liveResize_ || placing_) return;
  const fnd::Rect f = frame();
  const fnd::Rect attachedFrame(originForAttachedState(), f.size);
  const fnd::Point top{f.midX(), f.maxY()}, anchor{attachedFrame.midX(), attachedFrame.maxY()};
  const bool wasPlacing = std::exchange(placing_, true);
  if (menuBarWindowSnaps(top, anchor, snapDistance_, detachable_)) {
    if (f != attachedFrame && maySnapBackFrom(f.origin)) setFrame(attachedFrame, true);
    setAttachedToMenuBar(true);
  } else {
    setAttachedToMenuBar(false);
  }
  layoutContent();
  placing_ = wasPlacing;
}

bool MenuBarWindow::maySnapBackFrom(const fnd::Point& origin) {
  // A window manager that will not have the window under the icon answers each move there with
  // a move back: after a few tries from the same place in a short while, the window stays.
  const auto now = std::chrono::steady_clock::now();
  if (origin != snapBackFrom_ || now - snapBackSince_ > kSnapBackPeriod) {
    snapBackFrom_ = origin;
    snapBackSince_ = now;
    snapBacks_ = 0;
  }
  return ++snapBacks_ <= kSnapBacksFromOnePlace;
}

void MenuBarWindow::watchIcon() {
  if (iconWatch_) return;
  iconFrame_ = iconGeometry();
  iconWatch_ = fnd::Timer::scheduledTimer(kIconWatchInterval, true, lifetime_.whileAlive([this](fnd::Timer& timer) {
    if (!tray_ || !isVisible()) {
      timer.invalidate();
      iconWatch_.reset();
      return;
    }
    const std::optional<fnd::Rect> icon = iconGeometry();
    if (icon == iconFrame_) return;
    iconFrame_ = icon;
    statusItemViewDidMove();
  }));
}

std::optional<fnd::Rect> MenuBarWindow::iconGeometry() const {
  return tray_ ? tray_->geometry() : std::nullopt;
}

void MenuBarWindow::statusItemViewDidMove() {
  if (!attached_ || liveResize_) return;
  const bool wasPlacing = std::exchange(placing_, true);
  setFrame(fnd::Rect(originForAttachedState(), frame().size), true);
  applyShape();
  frameView_->setNeedsDisplay();
  placing_ = wasPlacing;
}

void MenuBarWindow::titleBarMouseUp(int clickCount) {
  const bool pressedInTitleBar = dragging_, moved = moved_;
  dragging_ = false;
  moved_ = false;
  if (clickCount == 2) {
    if (!pressedInTitleBar || attached_) return;
    // The desktop's setting where there is one; minimising is the rule otherwise.
    const fnd::Value setting = fnd::UserDefaults::standard().objectForKey("AppleMiniaturizeOnDoubleClick");
    if (setting.isNull() || setting.boolValue()) miniaturize();
    return;
  }
  if (!moved) return;
  // A title bar dragged below the bottom of the visible area comes back up, so it can still be
  // taken hold of.
  const fnd::Rect visible = screen().visibleFrame();
  fnd::Rect f = frame();
  const double keep = arrowSize_.height + kKeptAboveBottom;
  if (visible.size.height > 0 && f.maxY() - keep < visible.minY()) {
    f.origin.y = visible.minY() - f.size.height + keep;
    setFrame(f, true);
  }
}

void MenuBarWindow::windowWillStartLiveResize(const fnd::Point& screenPoint) {
  liveResize_ = true;
  resizeStartFrame_ = frame();
  resizeStartLocation_ = screenPoint;
  resizeRight_ = screenPoint.x > resizeStartFrame_.midX();
}

void MenuBarWindow::resizeToProposedFrame(const fnd::Rect& proposed, const fnd::Point& screenPoint) {
  if (!liveResize_) return;
  const double minWidth = std::max(minSize().width, 2 * (arrowSize_.width / 2 + 6));
  const double minHeight = std::max(minSize().height, titleBarHeight_ + arrowSize_.height + 40);
  const fnd::Rect visible = screen().visibleFrame();
  const double maxWidth = visible.size.width > 0 ? std::max(minWidth, visible.size.width) : 1e6;
  fnd::Rect f = proposed;
  if (attached_) {
    f = menuBarWindowResizedFrame(resizeStartFrame_, proposed, resizeStartLocation_.x, screenPoint.x, resizeRight_,
                                  minWidth, maxWidth);
  } else {
    f.size.width = std::clamp(f.size.width, minWidth, maxWidth);
    if (proposed.minX() != resizeStartFrame_.minX()) f.origin.x = resizeStartFrame_.maxX() - f.size.width;
  }
  // The top edge stays: a bottom edge pushed past the minimum stops there.
  if (f.size.height < minHeight) {
    f.origin.y = resizeStartFrame_.maxY() - minHeight;
    f.size.height = minHeight;
  }
  setFrame(f, true);
  layoutContent();
  applyShape();
}

void MenuBarWindow::windowDidEndLiveResize() { liveResize_ = false; }

void MenuBarWindow::windowDidBecomeKey(ui::Window&) { frameView_->setNeedsDisplay(); }

void MenuBarWindow::windowDidResignKey(ui::Window&) {
  frameView_->setNeedsDisplay();
  if (!attached_) return;
  // The focus flickers while the hot key's grab ends and the window manager hands the focus
  // over: the window goes only when the focus has stayed elsewhere for a moment.
  fnd::DispatchQueue::main().after(kFocusSettleDelay, lifetime_.whileAlive([this] {
    if (attached_ && !isKeyWindow()) hideWindow();
  }));
}

}  // namespace kesto
