#pragma once

#include "Platform/UI/Image.h"
#include "Platform/UI/Responder.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::ui {

class Menu;
class MenuItem;
class View;
class Window;

// What the standard about panel shows.
struct AboutPanelOptions {
  std::string applicationName;
  std::string version;
  std::string copyright;
  std::string credits;
  std::string iconName;  // a desktop icon theme name, used when `icon` is null
  Image icon;
};

enum class TerminateReply { Cancel = 0, Now = 1, Later = 2 };

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationWillFinishLaunching() {}
  virtual void applicationDidFinishLaunching() {}
  virtual void applicationDidBecomeActive() {}
  virtual void applicationDidResignActive() {}
  virtual TerminateReply applicationShouldTerminate() { return TerminateReply::Now; }
  virtual void applicationWillTerminate() {}
  // The session manager asks for everything to be saved (a checkpoint, or the first step of a
  // log-out, which may still be called off). Every window's editing has ended; nothing may be
  // asked of the user here.
  virtual void applicationCommitData() {}
  virtual bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
};

// The application object on the toolkit's event loop. One per process; it needs the toolkit's
// application object (made by `main` or the test harness) to exist.
class Application : public Responder {
 public:
  static Application& shared();

  ApplicationDelegate* delegate() const { return delegate_; }
  void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }

  // Sends the launching hooks, then runs the event loop until terminate; answers its exit code.
  int run();
  // Sends the launching hooks without running the loop (for tests and embedding).
  void finishLaunching();
  // Ends the editing in every window, then asks the delegate; with Now (or no delegate) sends
  // applicationWillTerminate and quits.
  void terminate();
  // Answers a Later reply given to applicationShouldTerminate.
  void replyToApplicationShouldTerminate(bool shouldTerminate);
  bool isRunning() const { return running_; }
  // From now until run: a terminate asked for meanwhile (a quit signal while the program starts)
  // is carried out once the loop runs, after the work the start queued for it. The program
  // entry calls it before the start's work.
  void deferTerminateUntilRun() { deferTerminate_ = true; }
#ifdef KESTO_TEST_ACCESS
  // A test that ran the loop leaves the next test a program that has not finished launching.
  void forgetLaunchForTests() { launched_ = false; }
#endif
  // Whether the quit under way was asked for by the session's end (a log-out): it waits for no
  // answer of the user's, so where a quit would ask, the answer that keeps the most is taken.
  bool isEndingSession() const { return endingSession_; }
  // Whether the desktop's focus is in one of our windows (or a window was made key since). When
  // the focus leaves for another program the key window resigns key; it is key again when the
  // focus comes back, unless another of our windows takes it.
  bool isActive() const;
  // Brings the key window forward, else the one that was key when another program took the
  // focus, else the main window.
  void activateIgnoringOtherApps();

  Window* keyWindow() const;
  Window* mainWindow() const;
  // Whether a dialog that blocks other windows is open (an alert, a file dialog, a sheet): what
  // would appear meanwhile lands over it and cannot be used.
  bool isModalDialogShown() const;
  std::vector<Window*> windows() const;

  // Sends an action to the receiver targetForAction finds; failing that to the target, or (no
  // target) along the key window's responder chain, then to the application.
  bool sendAction(Command selector, Responder* target, Responder* sender);
  bool sendAction(Command selector, Responder* target, Responder* sender, Responder* from);
  // The receiver of an action: the target when it responds to it (none otherwise); with no
  // target the first that responds of the focused text field, the chain starting at `from`
  // (a context menu's view), the key window's chain, the main window's chain, each window's
  // delegate when it is a responder, the application and its delegate.
  Responder* targetForAction(Command selector, Responder* target = nullptr,
                             Responder* from = nullptr) const;
  // Whether a menu item is enabled: a receiver exists for its action and agrees.
  bool validateMenuItemAction(MenuItem& item, Responder* from);

  // The menus of the application: the menu bar of windows that show it, and the key
  // equivalents of every window (sent even while a text field has the focus, unless the field
  // takes that key for its own editing).
  const std::shared_ptr<Menu>& mainMenu() const { return mainMenu_; }
  void setMainMenu(std::shared_ptr<Menu> menu);
  void mainMenuDidChange();
  bool performKeyEquivalent(const Event& event);

  // The about panel: one floating panel, brought to the front on each call.
  void setAboutPanelOptions(AboutPanelOptions options) { aboutOptions_ = std::move(options); }
  const AboutPanelOptions& aboutPanelOptions() const { return aboutOptions_; }
  void orderFrontStandardAboutPanel();
  // The shown about panel (null when none): tests and window lists.
  Window* aboutPanel() const;

  // terminate:, orderFrontStandardAboutPanel:.
  bool respondsToAction(Command selector) const override;
  bool performAction(Command selector, Responder* sender) override;

  // Runs `fn` on the main queue soon (from any thread).
  static void postToMain(std::function<void()> fn);

  // Bookkeeping for windows (the window classes call these).
  void registerWindow(Window* window);
  void unregisterWindow(Window* window);
  void windowBecameKey(Window* window);
  // Ordered out by its program: a panel hidden while another program is active stays hidden.
  void windowOrderedOut(Window* window);

  struct Impl;

 private:
  Application();
  ~Application() override;
  // The desktop's focus entering (true) or leaving our windows.
  void activationChanged(bool active);
  // The panels that hide while another program is active leave the screen, and come back.
  void hidePanelsWhileInactive();
  void showPanelsHiddenWhileInactive();
  // Every window's editing ends, as at a click elsewhere: what was typed is stored.
  void endEditingInEveryWindow();
  // The session manager's save request, and its end of the session.
  void commitDataForSession();
  void terminateForSessionEnd();
  ApplicationDelegate* delegate_ = nullptr;
  bool running_ = false;
  bool launched_ = false;
  bool deferTerminate_ = false;
  bool terminateWhenRunning_ = false;
  bool endingSession_ = false;
  std::vector<Window*> windows_;
  Window* keyWindow_ = nullptr;
  Window* mainWindow_ = nullptr;
  std::shared_ptr<Menu> mainMenu_;
  AboutPanelOptions aboutOptions_;
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::ui
