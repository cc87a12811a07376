#pragma once

#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/View.h"

#include <optional>

namespace kesto {

// The bookmark list's toolbar strip. Clicks on its background go no further, and dragging it
// moves the window.
class KSTRoundedToolbarView : public ui::View {
 public:
  using View::View;
  void awakeFromNib() override;
  bool mouseDownCanMoveWindow() const { return true; }
  void mouseDown(const ui::Event& event) override;
  void mouseDragged(const ui::Event& event) override;
  void mouseUp(const ui::Event& event) override;

 private:
  std::optional<fnd::Point> dragStart_;  // screen point of the press
  fnd::Point windowStart_;
};

// The toolbar that shows faintly (alpha 0.2) until the pointer is over it, also while the
// application is inactive.
class KSTRoundedToolbarAutohideView : public KSTRoundedToolbarView {
 public:
  static constexpr double kRestingAlpha = 0.2;
  using KSTRoundedToolbarView::KSTRoundedToolbarView;
  void awakeFromNib() override;
  void viewDidMoveToWindow() override;
  void updateTrackingAreas();
  void mouseEntered() { show(); }
  void mouseExited() { hide(); }
  void show();
  void hide();

 private:
  ui::PlatformObserver tracking_;
};

}  // namespace kesto
