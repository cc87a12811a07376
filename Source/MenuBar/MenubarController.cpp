#include "MenuBar/MenubarController.h"

#include "Model/ModelNotifications.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/UI/GraphicsContext.h"

#include <cmath>

namespace kesto {

StatusItemView::StatusItemView(std::shared_ptr<sys::TrayIcon> statusItem)
    : ui::View(fnd::Rect(0, 0, kLength, kLength)), statusItem_(std::move(statusItem)) {
  if (statusItem_)
    statusItem_->setActivationHandler(lifetime_.whileAlive([this](const fnd::Point&) { mouseDown(ui::Event()); }));
}

StatusItemView::~StatusItemView() {
  lifetime_.end();
  if (statusItem_) statusItem_->setActivationHandler(nullptr);
}

void StatusItemView::setImage(const ui::Image& image) {
  image_ = image;
  setNeedsDisplay();
}

void StatusItemView::setAlternateImage(const ui::Image& image) {
  alternateImage_ = image;
  if (highlighted_) setNeedsDisplay();
}

void StatusItemView::setHighlighted(bool highlighted) {
  if (highlighted == highlighted_) return;
  highlighted_ = highlighted;
  if (statusItem_) statusItem_->setHighlighted(highlighted);
  setNeedsDisplay();
}

std::optional<fnd::Rect> StatusItemView::globalRect() const {
  return statusItem_ ? statusItem_->geometry() : std::nullopt;
}

void StatusItemView::drawRect(ui::GraphicsContext& g, const fnd::Rect&) {
  const ui::Image& shown = highlighted_ ? alternateImage_ : image_;
  if (shown.isNull()) return;
  const fnd::Size size = shown.size();
  const fnd::Rect b = bounds();
  g.drawImage(shown, fnd::Rect(std::round((b.size.width - size.width) / 2), std::round((b.size.height - size.height) / 2),
                               size.width, size.height));
}

void StatusItemView::mouseDown(const ui::Event&) {
  if (action_) action_();
}

MenubarController::MenubarController() {
  auto tray = std::make_shared<sys::TrayIcon>();
  statusItemView_ = std::make_shared<StatusItemView>(tray);
  statusItemView_->setImage(ui::Image::named("Status"));
  statusItemView_->setAlternateImage(ui::Image::named("StatusHighlighted"));
  statusItemView_->setAction([this] { updateMenubarView(); });
  tray->setVisible(true);
}

MenubarController::~MenubarController() {
  statusItemView_->setAction(nullptr);
  if (statusItem()) statusItem()->setVisible(false);
}

void MenubarController::updateMenubarView() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWUpdateMenuBookmarksViewNotification);
}

}  // namespace kesto
