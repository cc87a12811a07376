#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/Screen.h"

#include <memory>
#include <string>

namespace kesto::ui {

class View;
class Window;

// Optional window delegate hooks.
class WindowDelegate {
 public:
  virtual ~WindowDelegate() = default;
  virtual bool windowShouldClose(Window& window) { return true; }
  virtual void windowWillClose(Window& window) {}
  virtual void windowDidResize(Window& window) {}
  virtual void windowDidMove(Window& window) {}
  virtual void windowDidBecomeKey(Window& window) {}
  virtual void windowDidResignKey(Window& window) {}
  virtual void windowDidChangeScreen(Window& window) {}
  // Lets a delegate adjust a proposed frame (screen coordinates) before it is applied.
  virtual fnd::Rect windowWillConstrainFrame(Window& window, const fnd::Rect& frame) { return frame; }
};

// Notification names posted with the window as object.
inline constexpr const char* WindowDidBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";
inline constexpr const char* WindowDidResignKeyNotification = "NSWindowDidResignKeyNotification";
inline constexpr const char* WindowDidResizeNotification = "NSWindowDidResizeNotification";
inline constexpr const char* WindowWillCloseNotification = "NSWindowWillCloseNotification";
inline constexpr const char* WindowDidChangeScreenNotification = "NSWindowDidChangeScreenNotification";

enum class WindowLevel { Normal = 0, Floating = 3, ModalPanel = 8, StatusBar = 25, PopUpMenu = 101 };

namespace WindowStyle {
constexpr unsigned Borderless = 0, Titled = 1, Closable = 2, Miniaturizable = 4, Resizable = 8,
                   UtilityWindow = 16, NonactivatingPanel = 128;
}

// A top-level window with a content view. Frames are in global screen coordinates (origin
// bottom left of the primary screen, y upwards); the content view fills the window and is
// unflipped, so window coordinates equal content-view coordinates.
class Window : public Responder {
 public:
  explicit Window(const fnd::Rect& contentRect = fnd::Rect(0, 0, 480, 360),
                  unsigned styleMask = WindowStyle::Titled | WindowStyle::Closable |
                                       WindowStyle::Miniaturizable | WindowStyle::Resizable);
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  const std::shared_ptr<View>& contentView() const;
  void setContentView(std::shared_ptr<View> view);

  fnd::Rect frame() const;
  void setFrame(const fnd::Rect& frame, bool display = true);
  void setContentSize(const fnd::Size& size);
  fnd::Size minSize() const;
  void setMinSize(const fnd::Size& size);
  std::string title() const;
  void setTitle(const std::string& title);
  unsigned styleMask() const { return styleMask_; }
  WindowLevel level() const { return level_; }
  void setLevel(WindowLevel level);
  bool releasedWhenClosed() const { return false; }

  void makeKeyAndOrderFront();
  void orderFront();
  void orderOut();
  void close();  // asks nothing; sends windowWillClose and hides
  void performClose();  // asks windowShouldClose first
  void miniaturize();
  bool isVisible() const;
  bool isKeyWindow() const;
  bool isMainWindow() const;
  virtual bool canBecomeKeyWindow() const { return true; }
  virtual bool canBecomeMainWindow() const { return true; }
  Screen screen() const;

  WindowDelegate* delegate() const { return delegate_; }
  void setDelegate(WindowDelegate* delegate) { delegate_ = delegate; }

  // Responder chain: the first responder gets key events and nil-targeted actions.
  Responder* firstResponder() const { return firstResponder_; }
  bool makeFirstResponder(Responder* responder);
  // Delivers an event as the toolkit would: mouse events to the view under the point, keys to
  // the first responder after the key equivalents (Command-A is selectAll:, ...).
  void sendEvent(const Event& event);
  // Sends an action along the first responder's chain, then to the window and its delegate.
  bool sendAction(std::string_view selector, Responder* sender = nullptr);

  fnd::Point convertPointToScreen(const fnd::Point& point) const;
  fnd::Point convertPointFromScreen(const fnd::Point& point) const;

  // Lays out and draws pending changes now (tests call it before probing pixels).
  void displayIfNeeded();

  // The toolkit's top-level widget, for the platform layer's own use.
  void* nativeHandle() const;
  static Window* fromNativeHandle(void* widget);
  struct Impl;

 protected:
  bool performAction(std::string_view selector, Responder* sender) override;

 private:
  friend struct Impl;
  std::unique_ptr<Impl> d_;
  unsigned styleMask_;
  WindowLevel level_ = WindowLevel::Normal;
  WindowDelegate* delegate_ = nullptr;
  Responder* firstResponder_ = nullptr;
};

// A utility window that floats and becomes key only when needed.
class Panel : public Window {
 public:
  using Window::Window;
  bool isFloatingPanel() const { return floating_; }
  void setFloatingPanel(bool on);
  bool becomesKeyOnlyIfNeeded() const { return keyOnlyIfNeeded_; }
  void setBecomesKeyOnlyIfNeeded(bool on) { keyOnlyIfNeeded_ = on; }

 private:
  bool floating_ = false;
  bool keyOnlyIfNeeded_ = false;
};

}  // namespace kesto::ui
