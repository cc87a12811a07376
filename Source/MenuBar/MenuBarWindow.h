#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "MenuBar/MenuBarNotifications.h"
#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/FocusReturn.h"
#include "Platform/UI/Image.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

namespace fnd {
class Timer;
}
namespace sys {
class TrayIcon;
}
class MenuBarWindow;
class WindowButton;

// Told when the menu-bar window attaches to its icon or detaches from it. Both are optional:
// a delegate announces the ones it takes (capability bits), and only those are called.
class MenuBarWindowDelegate {
 public:
  enum : unsigned { DidAttach = 1u << 0, DidDetach = 1u << 1 };
  virtual ~MenuBarWindowDelegate() = default;
  virtual unsigned implementedMenuBarWindowMethods() const { return 0; }
  virtual void windowDidAttachToMenuBar(MenuBarWindow& window) {}
  virtual void windowDidDetachFromMenuBar(MenuBarWindow& window) {}
};

// The faint noise laid over a focused window's title bar: 100 by 100 pixels, each grey of one
// draw of the C library's random numbers, at alpha 6 of 255.
ui::Image menuBarNoiseImage();

// The frame a live resize of an attached window takes: symmetric about the middle of the frame
// it started from, by the pointer's travel from where it started (`right`: it started right of
// the middle), within the width bounds; the height and bottom follow the proposed frame. A
// resize that changes neither width nor bottom keeps the start frame.
fnd::Rect menuBarWindowResizedFrame(const fnd::Rect& start, const fnd::Rect& proposed, double startPointerX,
                                    double pointerX, bool right, double minWidth, double maxWidth);


// Where an attached window of `size` stands: its top centre under the middle of the tray icon
// (`distance` below it) when the icon's place is known, else under the pointer at the top of the
// visible area of the pointer's screen. Always kept inside the visible frame of the screen that
// holds the anchor, whatever that screen's origin.
fnd::Point menuBarWindowOrigin(const std::optional<fnd::Rect>& icon, const fnd::Point& pointer, const fnd::Size& size,
                               double distance, const std::vector<fnd::Rect>& visibleFrames);

// Whether a window whose top centre is at `top` stays attached to an icon whose bottom centre is
// at `anchor`: always when it may not be detached, else within `snapDistance`.
bool menuBarWindowSnaps(const fnd::Point& top, const fnd::Point& anchor, double snapDistance, bool detachable);

// The window of menu-bar mode: it hangs under the application's tray icon with an arrow at the
// middle of its top edge and draws its own title bar. While attached it floats above other
// windows and hides when it stops being the key window; Escape in it posts
// CloseMenubarNotification. A click on the tray icon shows or hides it.
class MenuBarWindow : public ui::ChildWindow, private ui::WindowDelegate {
 public:
  explicit MenuBarWindow(const fnd::Rect& contentRect = fnd::Rect(0, 0, 560, 520));
  ~MenuBarWindow() override;

  // The tray icon; none when the desktop has no tray.
  bool hasMenuBarIcon() const { return tray_ != nullptr; }
  void setHasMenuBarIcon(bool has);
  sys::TrayIcon* statusItem() const { return tray_.get(); }

  bool attachedToMenuBar() const { return attached_; }
  void setAttachedToMenuBar(bool attached);
  bool isDetachable() const { return detachable_; }
  void setIsDetachable(bool detachable) { detachable_ = detachable; }
  // The close, minimise and zoom buttons, hidden (after a short fade) while attached.
  bool hideWindowControlsWhenAttached() const { return hideWindowControlsWhenAttached_; }
  void setHideWindowControlsWhenAttached(bool hide);
  const std::vector<std::shared_ptr<WindowButton>>& windowButtons() const { return buttons_; }
  MenuBarWindowDelegate* menuBarDelegate() const { return menuBarDelegate_; }
  void setMenuBarDelegate(MenuBarWindowDelegate* delegate);
  double snapDistance() const { return snapDistance_; }
  void setSnapDistance(double d) { snapDistance_ = d; }
  double distanceFromMenuBar() const { return distanceFromMenuBar_; }
  void setDistanceFromMenuBar(double d);
  fnd::Size arrowSize() const { return arrowSize_; }
  void setArrowSize(const fnd::Size& size);
  double titleBarHeight() const { return titleBarHeight_; }
  void setTitleBarHeight(double height);

  // In the window's own coordinates: the title bar with the arrow, and without it.
  fnd::Rect titleBarRect() const;
  fnd::Rect toolbarRect() const;
  // The origin that puts the window under the icon (or the last anchor point).
  fnd::Point originForAttachedState() const;
  // Where the arrow's tip stands, in window coordinates.
  double arrowCenter() const;
  // Where the window hangs when the icon's place is unknown: the pointer of the last click or
  // hot key.
  void setAnchorPoint(const fnd::Point& point) { anchor_ = point; }

  // The view below the title bar.
  void setMenuContentView(std::shared_ptr<ui::View> view);
  const std::shared_ptr<ui::View>& menuContentView() const { return content_; }
  // The least size of the view below the title bar; the window's minimum size is that with the
  // title bar and, while attached, the arrow. Zero leaves the minimum size alone.
  void setContentMinSize(const fnd::Size& size);
  fnd::Size contentMinSize() const { return contentMinSize_; }

  // Shows the window as key window in front (under the icon when attached), and hides it with a
  // short fade, its editing ended first; the window is fully opaque again for the next showing.
  void showWindow();
  void hideWindow();
  // A click on the tray icon at `pointer`: hides a shown attached window, else shows it with the
  // keys typed from the click on (MenuBarWindowDidShowFromIcon).
  void iconClicked(const fnd::Point& pointer);

  // The tray icon moved (a tray that lays out its icons again): an attached window follows it.
  // The tray tells no such moves: while the window shows, the icon's place is looked at a few
  // times a second.
  void statusItemViewDidMove();

  // Escape cancels: the menu closes. The window's actions answer the cancel command too.
  void keyDown(const ui::Event& event) override;

  // The frame view's drag of the title bar (window coordinates).
  void titleBarMouseDown(const fnd::Point& screenPoint);
  void titleBarMouseDragged(const fnd::Point& screenPoint);
  // `clickCount` 2 in the title bar of a detached window miniaturises it (where the desktop's
  // setting does not say otherwise); after a drag the title bar is kept above the bottom of the
  // visible area.
  void titleBarMouseUp(int clickCount = 1);

  // A live resize by the window's edges (its own, as it has no frame from the window manager):
  // from the pointer at `screenPoint`, to a proposed frame, to its end.
  void windowWillStartLiveResize(const fnd::Point& screenPoint);
  void resizeToProposedFrame(const fnd::Rect& proposed, const fnd::Point& screenPoint);
  void windowDidEndLiveResize();
  bool inLiveResize() const { return liveResize_; }
  // How far inside the left, right and bottom edges a press starts a live resize.
  static constexpr double kResizeMargin = 4;

 protected:
  // The icon's place as the tray tells it, if it does (tests stand in for a tray here).
  virtual std::optional<fnd::Rect> iconGeometry() const;

 private:
  class FrameView;
  class ResizeGrip;
  void windowDidResignKey(ui::Window& window) override;
  void windowDidBecomeKey(ui::Window& window) override;
  void windowDidMove(ui::Window& window) override;
  // Puts a window that may not be detached (or that came near the icon) back under the icon,
  // attached; detaches a detachable one moved away from it.
  void snapToMenuBar();
  bool maySnapBackFrom(const fnd::Point& origin);
  void watchIcon();
  void updateMinSize();
  void layoutContent();
  void applyShape();
  // Shows the window buttons (fading in), or fades them out and then hides them.
  void showWindowButtons(bool show);

  std::shared_ptr<FrameView> frameView_;
  std::shared_ptr<ui::View> content_;
  std::unique_ptr<sys::TrayIcon> tray_;
  std::vector<std::shared_ptr<WindowButton>> buttons_;
  std::vector<std::shared_ptr<ResizeGrip>> grips_;
  MenuBarWindowDelegate* menuBarDelegate_ = nullptr;
  unsigned menuBarDelegateMethods_ = 0;
  bool attached_ = false, detachable_ = true, dragging_ = false, hiding_ = false, moved_ = false;
  // The window places itself (attaching, detaching, snapping, following the icon): the moves it
  // makes come back as moves and are not snapped.
  bool placing_ = false;
  bool hideWindowControlsWhenAttached_ = true, hideControls_ = false;
  bool liveResize_ = false, resizeRight_ = false;
  fnd::Point resizeStartLocation_;
  fnd::Rect resizeStartFrame_;
  double snapDistance_ = 30, distanceFromMenuBar_ = 0, titleBarHeight_ = 22;
  fnd::Size arrowSize_{20, 10};
  fnd::Point anchor_, dragStartLocation_;
  fnd::Rect dragStartFrame_;
  fnd::Size contentMinSize_;
  fnd::Point snapBackFrom_;
  std::chrono::steady_clock::time_point snapBackSince_;
  int snapBacks_ = 0;
  std::shared_ptr<fnd::Timer> iconWatch_;
  std::optional<fnd::Rect> iconFrame_;
  // Shown over another program's work, it gives that program the focus back as it goes.
  ui::FocusReturn focusReturn_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
