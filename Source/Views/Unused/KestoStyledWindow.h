#pragma once

#include "Platform/UI/Window.h"

#include <memory>

namespace kesto {

class WindowButton;

// A borderless window with rounded corners that draws its own title-bar buttons, is dragged by
// its background and never rises above the top of the main screen's visible area while dragged.
// In full screen the close, miniaturise and zoom buttons hide and background dragging stops.
class KestoStyledWindow : public ui::Window {
 public:
  // The style mask given is not used: the window is always borderless.
  explicit KestoStyledWindow(const fnd::Rect& contentRect = fnd::Rect(0, 0, 480, 360), unsigned styleMask = 0);
  ~KestoStyledWindow() override;

  bool canBecomeKeyWindow() const override { return true; }
  // Rounds and frames the view and puts the title-bar buttons into it.
  void setContentView(std::shared_ptr<ui::View> view) override;
  void mainWindowChanged();

  const fnd::Point& initialLocation() const { return initialLocation_; }
  void setInitialLocation(const fnd::Point& p) { initialLocation_ = p; }
  void mouseDown(const ui::Event& event) override;
  void mouseDragged(const ui::Event& event) override;

  const std::shared_ptr<WindowButton>& closeButton() const { return closeButton_; }
  const std::shared_ptr<WindowButton>& minimizeButton() const { return minimizeButton_; }
  const std::shared_ptr<WindowButton>& maximizeButton() const { return maximizeButton_; }
  const std::shared_ptr<WindowButton>& fullscreenButton() const { return fullscreenButton_; }

 private:
  fnd::Point initialLocation_;
  std::shared_ptr<WindowButton> closeButton_, minimizeButton_, maximizeButton_, fullscreenButton_;
};

}  // namespace kesto
