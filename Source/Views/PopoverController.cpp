#include "Views/PopoverController.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Screen.h"

#include <cmath>

namespace kesto {

PopoverController::PopoverController() {
  KESTO_ASSERT_MAIN_THREAD();
  setInitialPropertyValues();
}

PopoverController::PopoverController(std::shared_ptr<ui::ViewController> contentViewController) {
  KESTO_ASSERT_MAIN_THREAD();
  setInitialPropertyValues();
  setContentViewController(std::move(contentViewController));
}

PopoverController::~PopoverController() {
  lifetime_.end();
  platformObserver_.clear();
  observer_.removeAll();
  popoverWindow_->setAnimationDelegate(nullptr);
  popoverWindow_->setParentWindow(nullptr);
}

void PopoverController::setInitialPropertyValues() {
  popoverWindow_ = std::make_unique<PopoverWindow>(fnd::Rect());
  setColor(ui::Color::white(0.94, 0.92));
  setBorderColor(ui::Color::white(1.0, 0.92));
  setBorderWidth(1.0);
  closesWhenPopoverResignsKey_ = true;
  closesWhenApplicationBecomesInactive_ = false;
  animates_ = true;
}

void PopoverController::setDelegate(PopoverControllerDelegate* delegate) {
  delegate_ = delegate;
  capabilities_ = delegate ? delegate->popoverControllerCapabilities() : 0;
}

void PopoverController::setContentViewController(std::shared_ptr<ui::ViewController> controller) {
  if (controller == contentViewController_) return;
  popoverWindow_->setPopoverContentView(nullptr);
  contentViewController_ = std::move(controller);
  auto view = contentViewController_ ? contentViewController_->view() : nullptr;
  contentSize_ = view ? view->frame().size : fnd::Size{};
  popoverWindow_->setPopoverContentView(view);
}

void PopoverController::setContentSize(const fnd::Size& size) {
  contentSize_ = size;
  fnd::Rect f = popoverFrameWithSize(size, arrowDirection());
  if (animates_ && popoverIsVisible()) popoverWindow_->animateFrame({f}, PopoverWindow::kFadeDuration);
  else popoverWindow_->setFrame(f, true);
}

fnd::Rect PopoverController::popoverFrame(const fnd::Size& size, PopoverArrowDirection direction, const fnd::Rect& a) {
  fnd::Rect f = PopoverWindow::frameRectForContentRect(fnd::Rect(0, 0, size.width, size.height));
  double w = f.size.width, h = f.size.height;
  double aMinX = a.origin.x, aMinY = a.origin.y, aW = a.size.width, aH = a.size.height;
  double centredX = aMinX + aW * 0.5 - std::floor(w / 2.0);
  double centredY = aMinY + aH * 0.5 - std::floor(h / 2.0);
  switch (direction) {
    case PopoverArrow::Left: return fnd::Rect(aMinX - w, centredY, w, h);
    case PopoverArrow::Above: return fnd::Rect(centredX, aMinY + aH, w, h);
    case PopoverArrow::Right: return fnd::Rect(aMinX + aW, centredY, w, h);
    case PopoverArrow::Below: return fnd::Rect(centredX, aMinY - h, w, h);
    default: return fnd::Rect();
  }
}

fnd::Rect PopoverController::popoverFrameWithSize(const fnd::Size& size, PopoverArrowDirection direction) const {
  return popoverFrame(size, direction, screenRect_);
}

PopoverArrowDirection PopoverController::chooseArrowDirection(PopoverArrowDirection preferred, const fnd::Size& size,
                                                              const fnd::Rect& a, const fnd::Rect& s) {
  auto fits = [&](PopoverArrowDirection d) { return s.contains(popoverFrame(size, d, a)); };
  if (fits(preferred)) return preferred;
  PopoverArrowDirection opposite = preferred == PopoverArrow::Left    ? PopoverArrow::Right
                                   : preferred == PopoverArrow::Right ? PopoverArrow::Left
                                   : preferred == PopoverArrow::Above ? PopoverArrow::Below
                                                                      : PopoverArrow::Above;
  if (preferred <= PopoverArrow::Below && fits(opposite)) return opposite;
  // Room on each side, against the screen's own edges (a screen need not start at 0, 0).
  double left = a.minX() - s.minX(), right = s.maxX() - a.maxX();
  double above = s.maxY() - a.maxY(), below = a.minY() - s.minY();
  PopoverArrowDirection candidate;
  if (preferred == PopoverArrow::Left || preferred == PopoverArrow::Right)
    candidate = below > above ? PopoverArrow::Below : PopoverArrow::Above;
  else
    candidate = right > left ? PopoverArrow::Right : PopoverArrow::Left;
  return fits(candidate) ? candidate : preferred;
}

PopoverArrowDirection PopoverController::arrowDirectionWithPreferredArrowDirection(PopoverArrowDirection preferred) const {
  auto view = positionView_.lock();
  ui::Window* w = view ? view->window() : nullptr;
  ui::Screen screen = w ? w->screen() : ui::Screen(-1);
  fnd::Rect s = screen.isValid() ? screen.frame() : fnd::Rect();
  return chooseArrowDirection(preferred, contentSize_, screenRect_, s);
}

fnd::Rect PopoverController::screenRectForViewRect() const {
  auto view = positionView_.lock();
  if (!view) return fnd::Rect();
  fnd::Rect inWindow = view->convertRectToView(viewRect_, nullptr);
  ui::Window* w = view->window();
  if (!w) return inWindow;
  fnd::Point origin = w->convertPointToScreen(inWindow.origin);
  return fnd::Rect(origin.x, origin.y, inWindow.size.width, inWindow.size.height);
}

void PopoverController::presentPopoverFromRect(const fnd::Rect& rect, ui::View* view, PopoverArrowDirection preferred,
                                               bool anchors) {
  KESTO_ASSERT_MAIN_THREAD();
  if (popoverIsVisible()) return;
  parentWindow_ = view ? view->window() : nullptr;
  positionView_ = view ? view->weak_from_this() : std::weak_ptr<ui::View>();
  viewRect_ = rect;
  screenRect_ = screenRectForViewRect();
  PopoverArrowDirection direction = arrowDirectionWithPreferredArrowDirection(preferred);
  popoverWindow_->frameView()->setArrowDirection(direction);
  popoverWindow_->setFrame(popoverFrameWithSize(contentSize_, direction), true);
  popoverWindow_->setAnimationDelegate(this);
  // Follows the parent from the start, so a move during the zoom is not lost.
  popoverWindow_->setParentWindow(parentWindow_);
  callDelegate(PopoverControllerDelegate::WillShow, [&](auto& d) { d.popoverWillShow(*this); });
  if (animates_) {
    popoverWindow_->setAlphaValue(1.0);
    popoverWindow_->presentWithPopoverController(*this);
  } else {
    popoverWindow_->setAlphaValue(1.0);
    attachToParent();
    popoverWindow_->makeKeyAndOrderFront();
    callDelegate(PopoverControllerDelegate::DidShow, [&](auto& d) { d.popoverDidShow(*this); });
  }
  if (anchors && view) platformObserver_.observeViewFrame(*view, [this] { positionViewFrameChanged(); });
  if (closesWhenPopoverResignsKey_) {
    observer_.observe(ui::WindowDidResignKeyNotification, [this](const fnd::Notification&) {
      closePopover(CloseReason::ResignedKey);
    }, popoverWindow_.get());
    // A popover kept from the keyboard never has key status to lose: a click elsewhere closes
    // it all the same.
    if (!popoverWindow_->canBecomeKeyWindow())
      platformObserver_.observePressesOutside(*popoverWindow_, [this] { closePopover(CloseReason::ResignedKey); });
  }
  // Focus leaving for another application does not always take key status away here, so the
  // inactive-close watches the application itself.
  platformObserver_.observeApplicationActivation([this](bool active) {
    if (active) applicationDidBecomeActive();
    else if (closesWhenApplicationBecomesInactive_) applicationDidResignActive();
  });
}

void PopoverController::attachToParent() {
  popoverWindow_->setParentWindow(parentWindow_);
  if (auto* parent = dynamic_cast<PopoverParentWindow*>(parentWindow_)) parent->addPopoverWindow(popoverWindow_.get());
}

void PopoverController::positionViewFrameChanged() {
  auto view = positionView_.lock();
  if (!view) return;
  ui::View* superview = view->superview();
  fnd::Rect bounds = superview ? superview->bounds() : fnd::Rect();
  if (!bounds.contains(view->frame())) {
    forceClosePopover();
    return;
  }
  screenRect_ = screenRectForViewRect();
  fnd::Rect f = popoverFrameWithSize(contentSize_, arrowDirection());
  fnd::Rect now = popoverWindow_->frame();
  popoverWindow_->setFrame(fnd::Rect(f.origin.x, f.origin.y, now.size.width, now.size.height), true);
}

void PopoverController::closePopover(CloseReason reason) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!popoverIsVisible()) return;
  // Key status taken by another application leaves the popover open.
  if (reason == CloseReason::ResignedKey && !closesWhenApplicationBecomesInactive_ &&
      !ui::PlatformObserver::isApplicationActive())
    return;
  if (delegate_ && (capabilities_ & PopoverControllerDelegate::ShouldClose) && !delegate_->popoverShouldClose(*this))
    return;
  forceClosePopover();
}

void PopoverController::forceClosePopover() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!popoverIsVisible()) return;
  callDelegate(PopoverControllerDelegate::WillClose, [&](auto& d) { d.popoverWillClose(*this); });
  if (animates_) popoverWindow_->dismissAnimated();
  else closePopoverAndResetVariables();
}

void PopoverController::closePopoverAndResetVariables() {
  popoverWindow_->orderOut();
  callDelegate(PopoverControllerDelegate::DidClose, [&](auto& d) { d.popoverDidClose(*this); });
  popoverWindow_->setParentWindow(nullptr);
  auto all = ui::Application::shared().windows();
  if (parentWindow_ && std::find(all.begin(), all.end(), parentWindow_) != all.end()) {
    if (auto* parent = dynamic_cast<PopoverParentWindow*>(parentWindow_)) parent->removePopoverWindow(popoverWindow_.get());
    parentWindow_->makeKeyAndOrderFront();
  }
  popoverWindow_->frameView()->setArrowDirection(PopoverArrow::Left);
  positionView_.reset();
  parentWindow_ = nullptr;
  platformObserver_.clear();
  observer_.removeAll();
  screenRect_ = fnd::Rect();
  viewRect_ = fnd::Rect();
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([this] {
    if (!popoverIsVisible()) popoverWindow_->setAnimationDelegate(nullptr);
  }));
}

void PopoverController::popoverAnimationDidStop(bool) {
  double alpha = popoverWindow_->alphaValue();
  if (alpha == 0.0) {
    closePopoverAndResetVariables();
  } else if (alpha == 1.0) {
    attachToParent();
    callDelegate(PopoverControllerDelegate::DidShow, [&](auto& d) { d.popoverDidShow(*this); });
  }
}

void PopoverController::recalculateAndResetArrowDirection() {
  popoverWindow_->frameView()->setArrowDirection(arrowDirectionWithPreferredArrowDirection(arrowDirection()));
}

void PopoverController::applicationDidBecomeActive() {
  if (!popoverIsVisible()) return;
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([this] { checkPopoverKeyWindowStatus(); }));
}

void PopoverController::checkPopoverKeyWindowStatus() {
  if (!parentWindow_ || !popoverIsVisible()) return;
  auto* parent = dynamic_cast<PopoverParentWindow*>(parentWindow_);
  bool key = parent ? parent->isReallyKeyWindow() : parentWindow_->isKeyWindow();
  if (key) popoverWindow_->makeKeyAndOrderFront();
}

void PopoverController::applicationDidResignActive() {
  fnd::DispatchQueue::main().after(kInactiveCloseDelay, lifetime_.whileAlive([this] {
    if (!ui::PlatformObserver::isApplicationActive()) closePopover();
  }));
}

}  // namespace kesto
