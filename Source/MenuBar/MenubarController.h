#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"

#include <functional>
#include <memory>
#include <optional>

namespace kesto {

namespace sys {
class TrayIcon;
}

// The status item's view over a tray icon: it draws its image (the alternate one while
// highlighted) centred, passes the highlight on to the tray, and sends its action on a click of
// the icon. The tray has no view of its own, so the view's place on screen is the icon's.
class StatusItemView : public ui::View {
 public:
  static constexpr double kLength = 24.0;

  // The view keeps the tray icon and answers its clicks.
  explicit StatusItemView(std::shared_ptr<sys::TrayIcon> statusItem);
  ~StatusItemView() override;

  const std::shared_ptr<sys::TrayIcon>& statusItem() const { return statusItem_; }
  const ui::Image& image() const { return image_; }
  void setImage(const ui::Image& image);
  const ui::Image& alternateImage() const { return alternateImage_; }
  // Redisplays only while highlighted.
  void setAlternateImage(const ui::Image& image);
  bool isHighlighted() const { return highlighted_; }
  // Only a change is stored and redisplayed.
  void setHighlighted(bool highlighted);
  void setAction(std::function<void()> action) { action_ = std::move(action); }

  // The icon's place on screen; absent where the tray does not tell it.
  virtual std::optional<fnd::Rect> globalRect() const;

  void drawRect(ui::GraphicsContext& g, const fnd::Rect& dirty) override;
  void mouseDown(const ui::Event& event) override;

 private:
  std::shared_ptr<sys::TrayIcon> statusItem_;
  ui::Image image_, alternateImage_;
  bool highlighted_ = false;
  std::function<void()> action_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

// The older drop-down's status item: a tray icon with the "Status" images whose click posts the
// menu-bookmarks update. Its icon goes away with it.
class MenubarController {
 public:
  MenubarController();
  ~MenubarController();
  MenubarController(const MenubarController&) = delete;
  MenubarController& operator=(const MenubarController&) = delete;

  StatusItemView& statusItemView() const { return *statusItemView_; }
  const std::shared_ptr<sys::TrayIcon>& statusItem() const { return statusItemView_->statusItem(); }
  bool hasActiveIcon() const { return statusItemView_->isHighlighted(); }
  void setHasActiveIcon(bool active) { statusItemView_->setHighlighted(active); }
  // Posts BRWUpdateMenuBookmarksViewNotification.
  void updateMenubarView();

 private:
  std::shared_ptr<StatusItemView> statusItemView_;
};

}  // namespace kesto
