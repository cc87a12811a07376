#include "Views/Unused/KestoStyledWindow.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"
#include "Views/WindowButton.h"

namespace kesto {

KestoStyledWindow::KestoStyledWindow(const fnd::Rect& contentRect, unsigned)
    : ui::Window(contentRect, ui::WindowStyle::Borderless) {
  // Shaped rather than translucent, so the corners are right without a compositing manager.
  setCornerRadius(6.0);
  setMovableByWindowBackground(true);
  auto& center = fnd::NotificationCenter::defaultCenter();
  for (auto name : {ui::WindowDidBecomeMainNotification, ui::WindowDidResignMainNotification,
                           ui::WindowDidEnterFullScreenNotification, ui::WindowDidExitFullScreenNotification})
    center.addObserver(this, [this](const fnd::Notification&) { mainWindowChanged(); }, name, this);
  // The content view made by the base class gets the style too.
  setContentView(contentView());
}

KestoStyledWindow::~KestoStyledWindow() { fnd::NotificationCenter::defaultCenter().removeObserver(this); }

void KestoStyledWindow::setContentView(std::shared_ptr<ui::View> view) {
  if (!view) return ui::Window::setContentView(std::move(view));
  fnd::Rect w = frame();
  view->setFrame(fnd::Rect(0, 0, w.size.width, w.size.height));
  view->setCornerRadius(6.0);
  view->setBorderWidth(1.0);
  view->setBorderColor(ui::Color::white(0.33));
  auto place = [&](std::shared_ptr<WindowButton>& button, WindowButton::Kind kind, double x, unsigned mask) {
    if (button) button->removeFromSuperview();
    button = std::make_shared<WindowButton>(kind);
    fnd::Size size = button->frame().size;
    button->setFrame(fnd::Rect(x, w.size.height - 2.0 - size.height, size.width, size.height));
    button->setAutoresizingMask(mask);
    view->addSubview(button);
  };
  // Kept at the top left, and the full-screen button at the top right.
  const unsigned topLeft = ui::View::MaxXMargin | ui::View::MinYMargin;
  place(closeButton_, WindowButton::Kind::Close, 5.0, topLeft);
  place(minimizeButton_, WindowButton::Kind::Miniaturize, 20.0, topLeft);
  place(maximizeButton_, WindowButton::Kind::Zoom, 35.0, topLeft);
  place(fullscreenButton_, WindowButton::Kind::FullScreen, w.size.width - 20.0, ui::View::MinXMargin | ui::View::MinYMargin);
  ui::Window::setContentView(std::move(view));
}

void KestoStyledWindow::mainWindowChanged() {
  bool full = isFullScreen();
  for (auto* b : {&closeButton_, &minimizeButton_, &maximizeButton_})
    if (*b) (*b)->setHidden(full);
  setMovableByWindowBackground(!full);
  for (auto* b : {&closeButton_, &minimizeButton_, &maximizeButton_, &fullscreenButton_})
    if (*b) (*b)->setNeedsDisplay();
}

void KestoStyledWindow::mouseDown(const ui::Event& event) { initialLocation_ = event.locationInWindow; }

void KestoStyledWindow::mouseDragged(const ui::Event& event) {
  if (!isMovableByWindowBackground()) return;
  ui::Screen screen = ui::Screen::main();
  fnd::Rect f = frame();
  fnd::Point origin{f.origin.x + event.locationInWindow.x - initialLocation_.x,
                    f.origin.y + event.locationInWindow.y - initialLocation_.y};
  // Only the top edge is held: under the top of the visible area.
  if (screen.isValid()) {
    fnd::Rect s = screen.visibleFrame();
    if (origin.y + f.size.height > s.maxY()) origin.y = s.maxY() - f.size.height;
  }
  setFrame(fnd::Rect(origin.x, origin.y, f.size.width, f.size.height), false);
}

}  // namespace kesto
