#pragma once

#include "Platform/UI/Image.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/Window.h"

#include <functional>
#include <memory>
#include <vector>

namespace kesto::ui {

// A borderless window that stands over a parent window and moves with it. It is see-through
// where a compositing manager runs; without one its shape is cut to the outline it draws (set
// with setShape) and alpha changes show only as their end state.
class ChildWindow : public Window {
 public:
  explicit ChildWindow(const fnd::Rect& contentRect = fnd::Rect());
  ~ChildWindow() override;

  // Ordered above `parent` and moved by the same amount whenever it moves; nullptr detaches.
  void setParentWindow(Window* parent);
  Window* parentWindow() const;

  double alphaValue() const;
  void setAlphaValue(double alpha);
  // The outline in content coordinates, with the width of the line drawn along it; used only
  // when nothing composites.
  void setShape(const Path& outline, double lineWidth = 0);
  // The opaque pixels of `image`, stretched over the window at any size it takes; likewise only
  // without a compositor.
  void setShapeImage(const Image& image);

  // Animates the alpha or the frame (through evenly spaced key frames) over `seconds`; a new
  // animation of the same property replaces the running one, whose completion then never runs.
  void animateAlpha(double to, double seconds, std::function<void()> completion = nullptr);
  void animateFrame(const std::vector<fnd::Rect>& keyFrames, double seconds, std::function<void()> completion = nullptr);
  bool isAnimating() const;
  // Ends running animations at their end values now (their completions run).
  void finishAnimations();

  // Whether a compositing manager draws the screen (X11: an owner of _NET_WM_CM_Sn).
  static bool isCompositing();

  struct Private;

 private:
  static bool queryCompositingManager();
  std::unique_ptr<Private> p_;
};

// Tells its owner about the toolkit's events that have no notification of their own: a view's
// frame changing on screen, the pointer entering or leaving a view, and the application
// becoming active or inactive. Stops when it
// goes away.
class PlatformObserver {
 public:
  PlatformObserver();
  ~PlatformObserver();
  PlatformObserver(const PlatformObserver&) = delete;
  PlatformObserver& operator=(const PlatformObserver&) = delete;

  void observeViewFrame(View& view, std::function<void()> changed);
  // The pointer entering (true) or leaving (false) the view, also while the application is
  // inactive.
  void observeViewHover(View& view, std::function<void(bool inside)> changed);
  void observeApplicationActivation(std::function<void(bool active)> changed);
  // A mouse button pressed in one of the application's windows other than `window`, told on the
  // event loop's next turn (after the press has been handled). A window that never takes the
  // keyboard loses no key status to such a press, which is how the others learn of it.
  void observePressesOutside(Window& window, std::function<void()> pressed);
  void clear();
  // Whether one of the application's windows has the desktop's focus.
  static bool isApplicationActive();

  struct Private;

 private:
  std::unique_ptr<Private> p_;
};

}  // namespace kesto::ui
