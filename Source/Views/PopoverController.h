#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/ViewController.h"
#include "Views/PopoverWindow.h"

#include <memory>
#include <optional>

namespace kesto {

class PopoverController;

// Every message optional; the capability bits are read when the delegate is set.
class PopoverControllerDelegate {
 public:
  enum Capability : unsigned {
    ShouldClose = 1, WillShow = 2, DidShow = 4, WillClose = 8, DidClose = 16, All = 31
  };
  virtual ~PopoverControllerDelegate() = default;
  virtual unsigned popoverControllerCapabilities() const { return All; }
  virtual bool popoverShouldClose(PopoverController& popover) { return true; }
  virtual void popoverWillShow(PopoverController& popover) {}
  virtual void popoverDidShow(PopoverController& popover) {}
  virtual void popoverWillClose(PopoverController& popover) {}
  virtual void popoverDidClose(PopoverController& popover) {}
};

// Shows a content view controller's view in a popover beside a rectangle of an anchor view.
// The side is the preferred one, else the opposite one, else the one across the other axis
// with more room on the anchor's screen; anchored popovers follow the anchor and close when it
// leaves its superview's bounds. The popover closes when it loses key status (unless another
// application took it) and, when asked, when the application becomes inactive. The window is
// made once and reused. Main thread only.
class PopoverController : public PopoverAnimationDelegate {
 public:
  // The "close" reasons closePopover distinguishes.
  enum class CloseReason { Other, ResignedKey };

  PopoverController();
  explicit PopoverController(std::shared_ptr<ui::ViewController> contentViewController);
  ~PopoverController() override;
  PopoverController(const PopoverController&) = delete;
  PopoverController& operator=(const PopoverController&) = delete;

  PopoverControllerDelegate* delegate() const { return delegate_; }
  void setDelegate(PopoverControllerDelegate* delegate);

  const std::shared_ptr<ui::ViewController>& contentViewController() const { return contentViewController_; }
  void setContentViewController(std::shared_ptr<ui::ViewController> controller);
  fnd::Size contentSize() const { return contentSize_; }
  void setContentSize(const fnd::Size& size);

  bool closesWhenPopoverResignsKey() const { return closesWhenPopoverResignsKey_; }
  void setClosesWhenPopoverResignsKey(bool on) { closesWhenPopoverResignsKey_ = on; }
  bool closesWhenApplicationBecomesInactive() const { return closesWhenApplicationBecomesInactive_; }
  void setClosesWhenApplicationBecomesInactive(bool on) { closesWhenApplicationBecomesInactive_ = on; }
  bool animates() const { return animates_; }
  void setAnimates(bool on) { animates_ = on; }

  // Kept by the frame view.
  ui::Color color() const { return popoverWindow_->frameView()->color(); }
  void setColor(const ui::Color& c) { popoverWindow_->frameView()->setColor(c); }
  std::optional<ui::Color> borderColor() const { return popoverWindow_->frameView()->borderColor(); }
  void setBorderColor(std::optional<ui::Color> c) { popoverWindow_->frameView()->setBorderColor(std::move(c)); }
  std::optional<ui::Color> topHighlightColor() const { return popoverWindow_->frameView()->topHighlightColor(); }
  void setTopHighlightColor(std::optional<ui::Color> c) { popoverWindow_->frameView()->setTopHighlightColor(std::move(c)); }
  double borderWidth() const { return popoverWindow_->frameView()->borderWidth(); }
  void setBorderWidth(double w) { popoverWindow_->frameView()->setBorderWidth(w); }
  PopoverArrowDirection arrowDirection() const { return popoverWindow_->frameView()->arrowDirection(); }

  PopoverWindow& popoverWindow() const { return *popoverWindow_; }
  ui::View* positionView() const { return positionView_.lock().get(); }
  std::shared_ptr<ui::View> contentView() const { return popoverWindow_->popoverContentView(); }
  bool popoverIsVisible() const { return popoverWindow_->isVisible(); }

  // The window frame for a content size beside the anchor, on the given side; the zero
  // rectangle for a side outside 0-3.
  fnd::Rect popoverFrameWithSize(const fnd::Size& size, PopoverArrowDirection direction) const;
  static fnd::Rect popoverFrame(const fnd::Size& contentSize, PopoverArrowDirection direction, const fnd::Rect& anchor);
  // The side chosen for a popover of `contentSize` beside `anchor` on a screen (all in screen
  // coordinates), measured against that screen's own edges.
  static PopoverArrowDirection chooseArrowDirection(PopoverArrowDirection preferred, const fnd::Size& contentSize,
                                                    const fnd::Rect& anchor, const fnd::Rect& screen);

  void presentPopoverFromRect(const fnd::Rect& rect, ui::View* view, PopoverArrowDirection preferred, bool anchors);
  void closePopover(CloseReason reason = CloseReason::Other);
  void forceClosePopover();
  void recalculateAndResetArrowDirection();
  // Called after the application became active again (also by tests).
  void applicationDidBecomeActive();
  void popoverAnimationDidStop(bool finished) override;

  // How long the application must stay inactive before an inactive-close happens: focus moving
  // between the parent window and the popover passes through a short inactive moment.
  static constexpr double kInactiveCloseDelay = 0.15;

 private:
  void setInitialPropertyValues();
  PopoverArrowDirection arrowDirectionWithPreferredArrowDirection(PopoverArrowDirection preferred) const;
  fnd::Rect screenRectForViewRect() const;
  void positionViewFrameChanged();
  void closePopoverAndResetVariables();
  void attachToParent();
  void checkPopoverKeyWindowStatus();
  void applicationDidResignActive();
  template <typename F>
  void callDelegate(unsigned capability, F&& f) {
    if (delegate_ && (capabilities_ & capability)) f(*delegate_);
  }

  std::unique_ptr<PopoverWindow> popoverWindow_;
  std::shared_ptr<ui::ViewController> contentViewController_;
  PopoverControllerDelegate* delegate_ = nullptr;
  unsigned capabilities_ = 0;
  fnd::Size contentSize_;
  bool closesWhenPopoverResignsKey_ = true;
  bool closesWhenApplicationBecomesInactive_ = false;
  bool animates_ = true;
  std::weak_ptr<ui::View> positionView_;
  ui::Window* parentWindow_ = nullptr;
  fnd::Rect screenRect_;
  fnd::Rect viewRect_;
  ui::PlatformObserver platformObserver_;
  fnd::ScopedObserver observer_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
