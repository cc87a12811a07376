#include "Views/Unused/PopoverAlert.h"

#include "Platform/UI/Event.h"
#include "Platform/UI/GraphicsContext.h"

#include <algorithm>

namespace kesto {

namespace {

struct Shown {
  std::vector<std::shared_ptr<PopoverAlert>> waiting;
  std::shared_ptr<PopoverController> popover;
  std::shared_ptr<PopoverAlert> alert;
};

Shown& shown() {
  static Shown s;
  return s;
}

constexpr double kWidth = 320, kPadding = 16, kButtonWidth = 88, kButtonHeight = 26, kButtonGap = 8;

PopoverArrowDirection sideForEdge(RectEdge edge) {
  switch (edge) {
    case RectEdge::MinX: return PopoverArrow::Left;
    case RectEdge::MaxX: return PopoverArrow::Right;
    case RectEdge::MinY: return PopoverArrow::Below;
    case RectEdge::MaxY: return PopoverArrow::Above;
  }
  return PopoverArrow::Above;
}

ui::Font font(double size, bool bold) {
  ui::Font f;
  f.pointSize = size;
  f.bold = bold;
  return f;
}

// Text of the panel, drawn top down.
class AlertText : public ui::View {
 public:
  AlertText(const fnd::Rect& frame, std::string text, ui::Font font) : View(frame), text_(std::move(text)), font_(font) {}
  void drawRect(ui::GraphicsContext& context, const fnd::Rect&) override {
    context.drawText(text_, bounds(), font_, ui::Color::white(0.1));
  }

 private:
  std::string text_;
  ui::Font font_;
};

// A plain push button: pressed look while held, action on release inside.
class AlertButton : public ui::View {
 public:
  AlertButton(const fnd::Rect& frame, std::string title, bool isDefault, std::function<void()> action)
      : View(frame), title_(std::move(title)), default_(isDefault), action_(std::move(action)) {}
  void drawRect(ui::GraphicsContext& context, const fnd::Rect&) override {
    ui::Path body = ui::Path::roundedRect(bounds().insetBy(0.5, 0.5), 5, 5);
    ui::Color fill = default_ ? ui::Color::rgb(0.23, 0.47, 0.86) : ui::Color::white(0.98);
    if (pressed_) fill = default_ ? ui::Color::rgb(0.16, 0.36, 0.7) : ui::Color::white(0.85);
    context.setFillColor(fill);
    context.fillPath(body);
    context.setStrokeColor(ui::Color::white(0.6));
    context.strokePath(body);
    fnd::Size size = ui::GraphicsContext::sizeOfText(title_, font(12, false));
    fnd::Rect text(0, (bounds().size.height - size.height) / 2, bounds().size.width, size.height);
    context.drawText(title_, text, font(12, false), default_ ? ui::Color::white() : ui::Color::white(0.1), ui::TextAlignment::Center);
  }
  void mouseDown(const ui::Event&) override {
    pressed_ = true;
    setNeedsDisplay();
  }
  void mouseDragged(const ui::Event& e) override {
    bool inside = bounds().contains(convertPointFromView(e.locationInWindow, nullptr));
    if (inside != pressed_) {
      pressed_ = inside;
      setNeedsDisplay();
    }
  }
  void mouseUp(const ui::Event& e) override {
    mouseDragged(e);
    bool fire = pressed_;
    pressed_ = false;
    setNeedsDisplay();
    if (fire && action_) action_();
  }

 private:
  std::string title_;
  bool default_;
  bool pressed_ = false;
  std::function<void()> action_;
};

}  // namespace

void PopoverAlert::layout() {
  if (buttonTitles_.empty()) buttonTitles_.push_back("OK");
  double messageHeight = ui::GraphicsContext::sizeOfText(messageText_.empty() ? " " : messageText_, font(13, true)).height;
  double infoHeight = informativeText_.empty() ? 0 : ui::GraphicsContext::sizeOfText(informativeText_, font(11, false)).height;
  double height = kPadding + messageHeight + (infoHeight > 0 ? 6 + infoHeight : 0) + 14 + kButtonHeight + kPadding;
  panel_ = std::make_shared<ui::View>(fnd::Rect(0, 0, kWidth, height));
  double y = height - kPadding - messageHeight;
  panel_->addSubview(std::make_shared<AlertText>(fnd::Rect(kPadding, y, kWidth - 2 * kPadding, messageHeight), messageText_, font(13, true)));
  if (infoHeight > 0) {
    y -= 6 + infoHeight;
    panel_->addSubview(std::make_shared<AlertText>(fnd::Rect(kPadding, y, kWidth - 2 * kPadding, infoHeight), informativeText_, font(11, false)));
  }
  std::weak_ptr<PopoverAlert> weak = weak_from_this();
  double x = kWidth - kPadding - kButtonWidth;
  for (std::size_t i = 0; i < buttonTitles_.size(); ++i, x -= kButtonWidth + kButtonGap) {
    // Every button answers through stopSynchronousPopoverAlert.
    panel_->addSubview(std::make_shared<AlertButton>(fnd::Rect(x, kPadding, kButtonWidth, kButtonHeight), buttonTitles_[i], i == 0,
                                                     [weak, i] {
                                                       if (auto alert = weak.lock()) alert->stopSynchronousPopoverAlert(i);
                                                     }));
  }
}

void PopoverAlert::runAsPopoverForView(ui::View* view, CompletionBlock completion) {
  runAsPopoverForView(view, RectEdge::MaxY, std::move(completion));
}

void PopoverAlert::runAsPopoverForView(ui::View* view, RectEdge edge, CompletionBlock completion) {
  completionBlock_ = std::move(completion);
  targetView_ = view ? view->shared_from_this() : nullptr;
  layout();
  auto popover = std::make_shared<PopoverController>(std::make_shared<ui::ViewController>(panel_));
  // Like the desktop's own popovers, it stays until answered.
  popover->setClosesWhenPopoverResignsKey(false);
  parentPopover_ = popover;
  Shown& s = shown();
  if (s.popover) {
    // Put aside without an answer: its block is not called.
    if (s.alert) s.waiting.push_back(s.alert);
    s.popover->forceClosePopover();
  }
  popover->presentPopoverFromRect(view ? view->bounds() : fnd::Rect(), view, sideForEdge(edge), false);
  s.popover = popover;
  s.alert = shared_from_this();
}

void PopoverAlert::stopSynchronousPopoverAlert(std::size_t buttonIndex) {
  auto keep = shared_from_this();
  std::int64_t code = kFirstButtonReturn + std::int64_t(buttonIndex);
  if (completionBlock_) completionBlock_(code);
  if (parentPopover_) parentPopover_->forceClosePopover();
  Shown& s = shown();
  s.popover.reset();
  s.alert.reset();
  checkForPreviouslyShownAlerts();
}

void PopoverAlert::checkForPreviouslyShownAlerts() {
  Shown& s = shown();
  if (s.waiting.empty()) return;
  auto last = s.waiting.back();
  s.waiting.pop_back();
  last->runAsPopoverForView(last->targetView_.get(), last->completionBlock_);
}

std::shared_ptr<PopoverAlert> PopoverAlert::currentAlert() { return shown().alert; }
std::size_t PopoverAlert::waitingCount() { return shown().waiting.size(); }

}  // namespace kesto
