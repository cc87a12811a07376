#pragma once

#include "Platform/UI/ChildWindow.h"
#include "Views/PopoverWindowFrame.h"

#include <memory>

namespace kesto {

class PopoverController;

// Told when the popover's opening zoom or closing fade has ended (the controller).
class PopoverAnimationDelegate {
 public:
  virtual ~PopoverAnimationDelegate() = default;
  virtual void popoverAnimationDidStop(bool finished) = 0;
};

// The popover's window: borderless and see-through, its own content view the frame view that
// draws the body, with the caller's view 12 points in from each side. It can be key, never
// main, and carries the opening zoom (a snapshot growing from a small square past its size and
// back) and the closing fade.
class PopoverWindow : public ui::ChildWindow {
 public:
  static constexpr double kMargin = 12.0;
  static constexpr double kZoomDuration = 0.25;
  static constexpr double kFadeDuration = 0.2;

  explicit PopoverWindow(const fnd::Rect& contentRect = fnd::Rect());
  ~PopoverWindow() override;

  static fnd::Rect contentRectForFrameRect(const fnd::Rect& frame);
  static fnd::Rect frameRectForContentRect(const fnd::Rect& content);

  bool canBecomeKeyWindow() const override { return takesKeys_; }
  // Off, the popover never takes the keyboard from the window it stands over (a tip): keys go
  // on reaching that window's lists and menus, and clicks still reach the popover's buttons.
  void setTakesKeys(bool takes) { takesKeys_ = takes; }
  bool canBecomeMainWindow() const override { return false; }
  // Visible also while the opening zoom is on screen.
  bool isVisible() const;

  const std::shared_ptr<PopoverWindowFrame>& frameView() const { return frameView_; }
  const std::shared_ptr<ui::View>& popoverContentView() const { return contentView_; }
  void setPopoverContentView(std::shared_ptr<ui::View> view);

  PopoverAnimationDelegate* animationDelegate() const { return animationDelegate_; }
  void setAnimationDelegate(PopoverAnimationDelegate* delegate) { animationDelegate_ = delegate; }

  // Opening zoom; the window's final frame and alpha are set already.
  void presentWithPopoverController(PopoverController& controller);
  // Fades the window (and a running zoom) out; the animation delegate hears the end.
  void dismissAnimated();
  // The running zoom's window, if any.
  ui::ChildWindow* zoomWindow() const { return zoomWindow_.get(); }

 private:
  std::unique_ptr<ui::ChildWindow> zoomWindowWithRect(const fnd::Rect& rect);
  void zoomDidEnd();

  std::shared_ptr<PopoverWindowFrame> frameView_;
  std::shared_ptr<ui::View> contentView_;
  std::unique_ptr<ui::ChildWindow> zoomWindow_;
  PopoverAnimationDelegate* animationDelegate_ = nullptr;
  bool takesKeys_ = true;
};

// A window that owns popovers: it counts as key while one of its popovers holds key status and
// the application is active.
class PopoverParentWindow : public ui::Window {
 public:
  using Window::Window;
  bool isKeyWindow() const;
  bool isReallyKeyWindow() const { return Window::isKeyWindow(); }
  void addPopoverWindow(PopoverWindow* popover) { popovers_.push_back(popover); }
  void removePopoverWindow(PopoverWindow* popover);

 private:
  std::vector<PopoverWindow*> popovers_;
};

}  // namespace kesto
