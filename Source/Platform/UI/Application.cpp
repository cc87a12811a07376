#include "Platform/UI/Application.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

namespace kesto::ui {

struct Application::Impl {
  QMetaObject::Connection stateConnection;
  bool active = false;
};

Application& Application::shared() {
  static Application* app = new Application();  // lives for the whole process
  return *app;
}

Application::Application() : d_(std::make_unique<Impl>()) {
  if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    gui->setQuitOnLastWindowClosed(false);
    d_->stateConnection = QObject::connect(gui, &QGuiApplication::applicationStateChanged, gui,
                                           [this](Qt::ApplicationState state) {
                                             bool active = state == Qt::ApplicationActive;
                                             if (active == d_->active) return;
                                             d_->active = active;
                                             if (!delegate_) return;
                                             qtbridge::guarded("activation", [&] {
                                               if (active) delegate_->applicationDidBecomeActive();
                                               else delegate_->applicationDidResignActive();
                                             });
                                           });
  }
}

Application::~Application() = default;

void Application::finishLaunching() {
  if (launched_) return;
  launched_ = true;
  if (delegate_) delegate_->applicationWillFinishLaunching();
  if (delegate_) delegate_->applicationDidFinishLaunching();
}

int Application::run() {
  finishLaunching();
  running_ = true;
  int rc = QCoreApplication::exec();
  running_ = false;
  return rc;
}

void Application::terminate() {
  TerminateReply reply = delegate_ ? delegate_->applicationShouldTerminate() : TerminateReply::Now;
  if (reply == TerminateReply::Now) replyToApplicationShouldTerminate(true);
}

void Application::replyToApplicationShouldTerminate(bool shouldTerminate) {
  if (!shouldTerminate) return;
  if (delegate_) delegate_->applicationWillTerminate();
  QCoreApplication::exit(0);
}

bool Application::isActive() const {
  return QGuiApplication::applicationState() == Qt::ApplicationActive || keyWindow_ != nullptr;
}

void Application::activateIgnoringOtherApps() {
  if (Window* w = keyWindow_ ? keyWindow_ : mainWindow_) w->makeKeyAndOrderFront();
}

Window* Application::keyWindow() const { return keyWindow_; }
Window* Application::mainWindow() const { return mainWindow_; }
std::vector<Window*> Application::windows() const { return windows_; }

bool Application::sendAction(std::string_view selector, Responder* target, Responder* sender) {
  if (target) return target->tryToPerform(selector, sender);
  if (keyWindow_ && keyWindow_->sendAction(selector, sender)) return true;
  if (mainWindow_ && mainWindow_ != keyWindow_ && mainWindow_->sendAction(selector, sender)) return true;
  return tryToPerform(selector, sender);
}

void Application::postToMain(std::function<void()> fn) {
  // The main queue keeps one order with everything else posted to the main loop.
  fnd::DispatchQueue::main().async(std::move(fn));
}

void Application::registerWindow(Window* w) { windows_.push_back(w); }

void Application::unregisterWindow(Window* w) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
  if (keyWindow_ == w) keyWindow_ = nullptr;
  if (mainWindow_ == w) mainWindow_ = nullptr;
}

void Application::windowBecameKey(Window* w) {
  if (w == keyWindow_) return;
  Window* old = keyWindow_;
  keyWindow_ = w;
  if (w && w->canBecomeMainWindow()) mainWindow_ = w;
  auto& center = fnd::NotificationCenter::defaultCenter();
  if (old && old->delegate()) old->delegate()->windowDidResignKey(*old);
  if (old) center.postNotificationName(WindowDidResignKeyNotification, old);
  if (w && w->delegate()) w->delegate()->windowDidBecomeKey(*w);
  if (w) center.postNotificationName(WindowDidBecomeKeyNotification, w);
}

}  // namespace kesto::ui
