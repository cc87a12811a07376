#pragma once

#include "Platform/UI/View.h"

namespace kesto {

class PinMenuView;

// Told of a multiple click on a pin row.
class PinViewDelegate {
 public:
  virtual ~PinViewDelegate() = default;
  virtual void doubleClickOnPinView(PinMenuView& view) = 0;
};

// The row of a bookmark in the older menu-bar collection list: a rounded box with a grey
// gradient, or a blue one while selected. Setting `selected` stores it only; the item redraws.
class PinMenuView : public ui::View {
 public:
  using ui::View::View;

  bool selected() const { return selected_; }
  void setSelected(bool selected) { selected_ = selected; }
  PinViewDelegate* delegate() const { return delegate_; }
  void setDelegate(PinViewDelegate* delegate) { delegate_ = delegate; }

  void drawRect(ui::GraphicsContext& g, const fnd::Rect& dirty) override;
  // The click goes its usual way first; every further click of a multiple click also reaches
  // the delegate.
  void mouseDown(const ui::Event& event) override;

 private:
  bool selected_ = false;
  PinViewDelegate* delegate_ = nullptr;
};

// The plain background view of the older menu-bar list: it draws what a view draws.
class KestoMenubarView : public ui::View {
 public:
  using ui::View::View;
};

}  // namespace kesto
