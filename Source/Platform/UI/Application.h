#pragma once

#include "Platform/UI/Responder.h"

#include <functional>
#include <memory>
#include <vector>

namespace kesto::ui {

class Window;

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
  // Asks the delegate; with Now (or no delegate) sends applicationWillTerminate and quits.
  void terminate();
  // Answers a Later reply given to applicationShouldTerminate.
  void replyToApplicationShouldTerminate(bool shouldTerminate);
  bool isRunning() const { return running_; }
  bool isActive() const;
  void activateIgnoringOtherApps();

  Window* keyWindow() const;
  Window* mainWindow() const;
  std::vector<Window*> windows() const;

  // Sends an action to the target, or (no target) along the key window's responder chain,
  // then to the application and its delegate's responder when it is one.
  bool sendAction(std::string_view selector, Responder* target, Responder* sender);

  // Runs `fn` on the main queue soon (from any thread).
  static void postToMain(std::function<void()> fn);

  // Bookkeeping for windows (the window classes call these).
  void registerWindow(Window* window);
  void unregisterWindow(Window* window);
  void windowBecameKey(Window* window);

  struct Impl;

 private:
  Application();
  ~Application() override;
  ApplicationDelegate* delegate_ = nullptr;
  bool running_ = false;
  bool launched_ = false;
  std::vector<Window*> windows_;
  Window* keyWindow_ = nullptr;
  Window* mainWindow_ = nullptr;
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::ui
