#include "Views/PopoverWindow.h"

#include "Platform/UI/Application.h"
#include "Views/PopoverController.h"

#include <algorithm>

namespace kesto {

PopoverWindow::PopoverWindow(const fnd::Rect& contentRect) : ChildWindow(contentRect) {
  fnd::Rect f = frame();
  frameView_ = std::make_shared<PopoverWindowFrame>(fnd::Rect(0, 0, f.size.width, f.size.height));
  frameView_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  setContentView(frameView_);
}

PopoverWindow::~PopoverWindow() = default;

fnd::Rect PopoverWindow::contentRectForFrameRect(const fnd::Rect& f) {
  return fnd::Rect(kMargin, kMargin, f.size.width - 2 * kMargin, f.size.height - 2 * kMargin);
}

fnd::Rect PopoverWindow::frameRectForContentRect(const fnd::Rect& c) {
  return fnd::Rect(c.origin.x - kMargin, c.origin.y - kMargin, c.size.width + 2 * kMargin, c.size.height + 2 * kMargin);
}

bool PopoverWindow::isVisible() const { return Window::isVisible() || (zoomWindow_ && zoomWindow_->isVisible()); }

void PopoverWindow::setPopoverContentView(std::shared_ptr<ui::View> view) {
  if (view == contentView_) return;
  if (contentView_) contentView_->removeFromSuperview();
  contentView_ = std::move(view);
  if (!contentView_) return;
  fnd::Rect f = frame();
  contentView_->setFrame(contentRectForFrameRect(fnd::Rect(0, 0, f.size.width, f.size.height)));
  contentView_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  frameView_->addSubview(contentView_);
}

void PopoverWindow::presentWithPopoverController(PopoverController& controller) {
  if (isVisible()) return;
  fnd::Rect end = frame();
  PopoverArrowDirection direction = frameView_->arrowDirection();
  fnd::Rect start = controller.popoverFrameWithSize(fnd::Size{20.0, 20.0}, direction);
  fnd::Rect overshoot = controller.popoverFrameWithSize(fnd::Size{end.size.width * 1.2, end.size.height * 1.2}, direction);
  zoomWindow_ = zoomWindowWithRect(start);
  zoomWindow_->setAlphaValue(0.0);
  zoomWindow_->orderFront();
  zoomWindow_->animateAlpha(1.0, kZoomDuration);
  zoomWindow_->animateFrame({start, overshoot, end}, kZoomDuration, [this] { zoomDidEnd(); });
}

void PopoverWindow::zoomDidEnd() {
  makeKeyAndOrderFront();
  if (zoomWindow_) {
    zoomWindow_->orderOut();
    // Dropped after this callback returns: the zoom window's animation is still on the stack.
    ui::ChildWindow* done = zoomWindow_.release();
    ui::Application::postToMain([done] { delete done; });
  }
  if (animationDelegate_) animationDelegate_->popoverAnimationDidStop(true);
}

void PopoverWindow::dismissAnimated() {
  if (zoomWindow_) zoomWindow_->animateAlpha(0.0, kFadeDuration);
  animateAlpha(0.0, kFadeDuration, [this] {
    if (zoomWindow_) {
      zoomWindow_->orderOut();
      ui::ChildWindow* done = zoomWindow_.release();
      ui::Application::postToMain([done] { delete done; });
    }
    if (animationDelegate_) animationDelegate_->popoverAnimationDidStop(true);
  });
}

std::unique_ptr<ui::ChildWindow> PopoverWindow::zoomWindowWithRect(const fnd::Rect& rect) {
  // The body as it will look, drawn off screen: the window has not been shown yet.
  ui::Image snapshot = frameView_->snapshot();
  auto zoom = std::make_unique<ui::ChildWindow>(rect);
  zoom->setLevel(level());
  auto image = std::make_shared<ui::View>(fnd::Rect(0, 0, rect.size.width, rect.size.height));
  image->setLayerContents(snapshot);
  image->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  zoom->setContentView(image);
  zoom->setShapeImage(snapshot);
  if (auto* parent = parentWindow()) zoom->setParentWindow(parent);
  return zoom;
}

bool PopoverParentWindow::isKeyWindow() const {
  if (Window::isKeyWindow()) return true;
  // A popover child holds the key status on the parent's behalf while the application is active.
  return !popovers_.empty() && ui::PlatformObserver::isApplicationActive();
}

void PopoverParentWindow::removePopoverWindow(PopoverWindow* popover) {
  popovers_.erase(std::remove(popovers_.begin(), popovers_.end(), popover), popovers_.end());
}

}  // namespace kesto
