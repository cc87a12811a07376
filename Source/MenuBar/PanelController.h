#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/UIForward.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace kesto {

class PanelController;
class StatusItemView;

// Answers under which status item the drop-down panel hangs.
class PanelControllerDelegate {
 public:
  virtual ~PanelControllerDelegate() = default;
  virtual StatusItemView* statusItemViewForPanelController(PanelController&) { return nullptr; }
};

// The drop-down's window: borderless, yet it takes the keyboard; Escape cancels.
class Panel : public ui::ChildWindow {
 public:
  explicit Panel(PanelController& controller);
  bool canBecomeKeyWindow() const override { return true; }
  void keyDown(const ui::Event& event) override;

 private:
  PanelController& controller_;
};

// The drop-down's background: a light rounded box with an arrow on its top edge at `arrowX`.
class BackgroundView : public ui::View {
 public:
  static constexpr double kArrowHeight = 10.0, kArrowHalfWidth = 8, kCornerRadius = 4.0, kLineThickness = 1.0;
  using ui::View::View;
  std::int64_t arrowX() const { return arrowX_; }
  void setArrowX(std::int64_t x);
  // The outline in the view's bounds, inset by the line thickness.
  ui::Path backgroundPath() const;
  void drawRect(ui::GraphicsContext& g, const fnd::Rect& dirty) override;

 private:
  std::int64_t arrowX_ = 0;
};

// The older status-item drop-down: a panel that fades in under its status item with the arrow
// pointing at it, holding a search field above a text field, and fades out again. Nothing in the
// application opens it; the application delegate makes it on first use (panelController). Main
// thread only.
class PanelController : private ui::WindowDelegate {
 public:
  static constexpr double kPanelWidth = 470.0, kPanelHeight = 500.0, kFieldInset = 12.0, kOpenDuration = 0.1,
                          kCloseDuration = 0.1, kCloseDelay = 0.2, kStatusBarThickness = 24.0;

  explicit PanelController(PanelControllerDelegate* delegate);
  ~PanelController() override;
  PanelController(const PanelController&) = delete;
  PanelController& operator=(const PanelController&) = delete;

  PanelControllerDelegate* delegate() const { return delegate_; }
  Panel& window() const { return *panel_; }
  BackgroundView& backgroundView() const { return *background_; }
  ui::SearchField& searchField() const { return *searchField_; }
  ui::TextField& textField() const { return *textField_; }

  bool hasActivePanel() const { return hasActivePanel_; }
  // Only a change opens (true) or closes (false) the panel; `trigger` is the click that asked,
  // if any.
  void setHasActivePanel(bool active, const ui::Event* trigger = nullptr);

  // Under the delegate's status item, else a 24-point rectangle at the top middle of the screen
  // (its origin left out).
  fnd::Rect statusRectForWindow(const ui::Window& window) const;
  // The panel's frame for a status rectangle on a screen: centred under it, kept 10 points inside
  // the screen's right edge.
  static fnd::Rect panelRect(const fnd::Rect& statusRect, const fnd::Rect& screenFrame, double height);
  // Ten times as long for a left click with Shift, or with Shift and Alt (which also logs where
  // the icon, the screen and the panel are).
  static double openingDuration(const ui::Event* event);
  void openPanel(const ui::Event* trigger = nullptr);
  void closePanel();
  // On every change of the search text; it searches nothing.
  void runSearch() {}
  void cancelOperation() { setHasActivePanel(false); }
  // Lays out the arrow and the fields.
  void layoutPanel();

  // The screen a panel stands on; tests put one in.
  void setScreenFrameForTesting(std::optional<fnd::Rect> frame) { screenFrame_ = frame; }

 private:
  fnd::Rect screenFrame(const ui::Window& window) const;
  void windowWillClose(ui::Window&) override { setHasActivePanel(false); }
  void windowDidResignKey(ui::Window& window) override;
  void windowDidResize(ui::Window&) override { layoutPanel(); }

  PanelControllerDelegate* delegate_;
  std::unique_ptr<Panel> panel_;
  std::shared_ptr<BackgroundView> background_;
  std::shared_ptr<ui::SearchField> searchField_;
  std::shared_ptr<ui::TextField> textField_;
  bool hasActivePanel_ = false;
  std::optional<fnd::Rect> screenFrame_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
