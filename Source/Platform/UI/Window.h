#pragma once

#include "Platform/Foundation/FoundationForward.h"
#include "Platform/UI/UINotifications.h"
#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/Screen.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace kesto::ui {

class ActionSet;
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
  // The undo manager the window's Undo and Redo work on (none: the window offers neither).
  virtual fnd::UndoManager* windowWillReturnUndoManager(Window& window) { return nullptr; }
};


// How a modal session or sheet ended. Alerts answer AlertFirstButtonReturn + the button's index.
namespace ModalResponse {
constexpr int OK = 1, Cancel = 0, Stop = -1000, Abort = -1001, Continue = -1002;
}

enum class WindowLevel { Normal = 0, Floating = 3, ModalPanel = 8, StatusBar = 25, PopUpMenu = 101 };

namespace WindowStyle {
constexpr unsigned Borderless = 0, Titled = 1, Closable = 2, Miniaturizable = 4, Resizable = 8,
                   UtilityWindow = 16, NonactivatingPanel = 128;
}

// A top-level window with a content view. Frames are in global screen coordinates (origin
// bottom left of the primary screen, y upwards); the content view fills the window below the menu
// bar, when the window shows one, and is unflipped, so window coordinates equal content-view
// coordinates.
class Window : public Responder {
 public:
  explicit Window(const fnd::Rect& contentRect = fnd::Rect(0, 0, 480, 360),
                  unsigned styleMask = WindowStyle::Titled | WindowStyle::Closable |
                                       WindowStyle::Miniaturizable | WindowStyle::Resizable);
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  const std::shared_ptr<View>& contentView() const;
  virtual void setContentView(std::shared_ptr<View> view);

  fnd::Rect frame() const;
  void setFrame(const fnd::Rect& frame, bool display = true);
  void setContentSize(const fnd::Size& size);
  fnd::Size minSize() const;
  void setMinSize(const fnd::Size& size);
  std::string title() const;
  void setTitle(const std::string& title);
  // The frame of the content view within the window (window coordinates): all of it but the
  // menu bar.
  fnd::Rect contentLayoutRect() const;
  unsigned styleMask() const { return styleMask_; }
  WindowLevel level() const { return level_; }
  void setLevel(WindowLevel level);
  bool releasedWhenClosed() const { return false; }

  void makeKeyAndOrderFront();
  void orderFront();
  void orderOut();
  void close();  // asks nothing; ends the editing, sends windowWillClose and hides
  void performClose();  // asks windowShouldClose first
  void miniaturize();
  bool isMiniaturized() const;
  bool isVisible() const;
  bool isKeyWindow() const;
  bool isMainWindow() const;
  virtual bool canBecomeKeyWindow() const { return true; }
  virtual bool canBecomeMainWindow() const { return true; }
  Screen screen() const;
  void toggleFullScreen();
  bool isFullScreen() const;
  // Between the largest size the screen allows and the size before.
  void zoom();
  bool isZoomed() const;

  // The application's main menu as this window's menu bar, above the content view. Turning it
  // on keeps the content view's size: the frame grows by the bar (its top edge stays).
  bool showsMainMenu() const;
  void setShowsMainMenu(bool shows);
  // Opens the menu bar's first menu for the keyboard (F10); answers whether there was one.
  bool openMenuBar();

  // The frame the window takes when ordered onto `screen`: by default its top edge is kept
  // below the top of the screen's visible frame. Applied each time the window is shown.
  virtual fnd::Rect constrainFrameRect(const fnd::Rect& frame, const Screen& screen) const;

  // Dragging a part of the window no view takes moves the window.
  bool isMovableByWindowBackground() const { return movableByBackground_; }
  void setMovableByWindowBackground(bool movable) { movableByBackground_ = movable; }
  // A borderless window with rounded corners (shaped, so no compositing manager is needed).
  void setCornerRadius(double radius);
  double cornerRadius() const { return cornerRadius_; }

  // Sheets: `sheet` is shown window-modal over this window, horizontally centred with its top
  // at the top of the content view, and follows the window. A sheet begun while another is
  // shown waits for it. endSheet hides the sheet and calls its completion with the code.
  void beginSheet(Window& sheet, std::function<void(int)> completion = {});
  void endSheet(Window& sheet, int returnCode = ModalResponse::Stop);
  Window* attachedSheet() const { return attachedSheet_; }
  Window* sheetParent() const { return sheetParent_; }
  bool isSheet() const { return sheetParent_ != nullptr; }

  WindowDelegate* delegate() const { return delegate_; }
  void setDelegate(WindowDelegate* delegate) { delegate_ = delegate; }

  // Responder chain: the first responder gets key events and nil-targeted actions.
  Responder* firstResponder() const { return firstResponder_; }
  bool makeFirstResponder(Responder* responder);
  // Ends the editing under way in the window as a click elsewhere in it would: the text being
  // edited (a field, a list's name editor) loses the focus to the window and stores what was
  // typed by its own rule, also while the window is not active. Other views keep the focus.
  void endEditing();
  // Delivers an event as the toolkit would: mouse events to the view under the point, keys to
  // the first responder after the key equivalents (Command-A is selectAll:, ...).
  void sendEvent(const Event& event);
  // Sends an action along the first responder's chain, then to the window and its delegate.
  bool sendAction(Command selector, Responder* sender = nullptr);

  fnd::Point convertPointToScreen(const fnd::Point& point) const;
  fnd::Point convertPointFromScreen(const fnd::Point& point) const;

  // Lays out and draws pending changes now (tests call it before probing pixels).
  void displayIfNeeded();

  // The toolkit's top-level widget, for the platform layer's own use.
  void* nativeHandle() const;
  static Window* fromNativeHandle(void* widget);
  struct Impl;
  // Lays the menu bar and the content out again (the window classes call it).
  void layoutContent();
  // Fills the menu bar from the application's main menu again (the application calls it).
  void rebuildMenuBar();

  // performClose:, performMiniaturize:, performZoom:, toggleFullScreen:, and undo: and redo:
  // through the delegate's undo manager; a subclass adds its own commands to actions().
  bool respondsToAction(Command selector) const override;
  bool performAction(Command selector, Responder* sender) override;
  bool validateMenuItem(MenuItem& item) override;
  // The delegate's undo manager for this window, if it offers one.
  fnd::UndoManager* undoManager() const;
  void mouseDown(const Event& event) override;
  void mouseDragged(const Event& event) override;

 protected:
  // The commands the window answers.
  ActionSet& actions();

 private:
  friend struct Impl;
  void addWindowActions();
  struct PendingSheet {
    Window* sheet;
    std::function<void(int)> completion;
  };
  void showSheet(Window& sheet, std::function<void(int)> completion);
  void placeSheet();
  std::unique_ptr<Impl> d_;
  unsigned styleMask_;
  WindowLevel level_ = WindowLevel::Normal;
  WindowDelegate* delegate_ = nullptr;
  Responder* firstResponder_ = nullptr;
  bool movableByBackground_ = false;
  double cornerRadius_ = 0;
  fnd::Point dragStart_;
  Window* attachedSheet_ = nullptr;
  Window* sheetParent_ = nullptr;
  std::function<void(int)> sheetCompletion_;
  std::deque<PendingSheet> pendingSheets_;
};

}  // namespace kesto::ui
