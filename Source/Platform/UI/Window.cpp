#include "Platform/UI/Window.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace kesto::ui {

namespace {
class WindowWidget : public QWidget {
 public:
  explicit WindowWidget(Window* w) : window_(w) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Click focus only: Tab wraps from the last control to the first, never to the window.
    setFocusPolicy(Qt::ClickFocus);
    setProperty("kestoWindow", QVariant::fromValue<void*>(w));
  }
  void detach() { window_ = nullptr; }

 protected:
  void resizeEvent(QResizeEvent*) override;
  void moveEvent(QMoveEvent*) override {
    if (window_ && window_->delegate()) qtbridge::guarded("window move", [&] { window_->delegate()->windowDidMove(*window_); });
  }
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    if (window_) qtbridge::guarded("window close", [&] { window_->performClose(); });
  }
  bool event(QEvent* e) override {
    if (window_ && e->type() == QEvent::WindowActivate)
      qtbridge::guarded("window activation", [&] { Application::shared().windowBecameKey(window_); });
    return QWidget::event(e);
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (!window_) return;
    e->accept();
    Event ev = qtbridge::keyEvent(e, EventType::KeyDown);
    ev.window = window_;
    qtbridge::guarded("key event", [&] { window_->sendEvent(ev); });
  }
  void keyReleaseEvent(QKeyEvent* e) override {
    if (!window_) return;
    e->accept();
    Event ev = qtbridge::keyEvent(e, EventType::KeyUp);
    ev.window = window_;
    qtbridge::guarded("key event", [&] { window_->sendEvent(ev); });
  }

 public:
  // Reached through the widget, which outlives its window until the deferred delete: a
  // detached widget reports nothing.
  void screenChanged() {
    if (!window_) return;
    qtbridge::guarded("screen change", [&] {
      if (window_->delegate()) window_->delegate()->windowDidChangeScreen(*window_);
      fnd::NotificationCenter::defaultCenter().postNotificationName(WindowDidChangeScreenNotification, window_);
    });
  }

 private:
  Window* window_;
};
}  // namespace

struct Window::Impl {
  WindowWidget* widget = nullptr;
  std::shared_ptr<View> content;
  std::weak_ptr<View> mouseView;
  fnd::Size minSize;
  bool screenConnected = false;
};

void WindowWidget::resizeEvent(QResizeEvent*) {
  if (!window_) return;
  if (auto& cv = window_->contentView())
    qtbridge::guarded("window resize", [&] { cv->setFrame(fnd::Rect(0, 0, width(), height())); });
  qtbridge::guarded("window resize", [&] {
    if (window_->delegate()) window_->delegate()->windowDidResize(*window_);
    fnd::NotificationCenter::defaultCenter().postNotificationName(WindowDidResizeNotification, window_);
  });
}

Window::Window(const fnd::Rect& contentRect, unsigned styleMask)
    : d_(std::make_unique<Impl>()), styleMask_(styleMask) {
  d_->widget = new WindowWidget(this);
  Qt::WindowFlags flags = Qt::Window;
  if (styleMask == WindowStyle::Borderless) flags |= Qt::FramelessWindowHint;
  d_->widget->setWindowFlags(flags);
  setContentView(std::make_shared<View>(fnd::Rect(0, 0, contentRect.size.width, contentRect.size.height)));
  setFrame(contentRect, false);
  setNextResponder(&Application::shared());
  Application::shared().registerWindow(this);
}

Window::~Window() {
  Application::shared().unregisterWindow(this);
  if (d_->content) {
    d_->content->setWindowRecursively(nullptr);
    d_->content->nativeWidget()->setParent(nullptr);
  }
  static_cast<WindowWidget*>(d_->widget)->detach();
  d_->widget->hide();
  d_->widget->deleteLater();
}

const std::shared_ptr<View>& Window::contentView() const { return d_->content; }

void Window::setContentView(std::shared_ptr<View> view) {
  if (d_->content) {
    d_->content->setWindowRecursively(nullptr);
    d_->content->nativeWidget()->hide();
    d_->content->nativeWidget()->setParent(nullptr);
  }
  d_->content = std::move(view);
  if (!d_->content) return;
  d_->content->viewWillMoveToWindow(this);
  d_->content->nativeWidget()->setParent(d_->widget);
  d_->content->setFrame(fnd::Rect(0, 0, d_->widget->width(), d_->widget->height()));
  d_->content->nativeWidget()->setGeometry(0, 0, d_->widget->width(), d_->widget->height());
  d_->content->nativeWidget()->show();
  d_->content->setWindowRecursively(this);
  d_->content->Responder::setNextResponder(this);
  d_->content->viewDidMoveToWindow();
}

fnd::Rect Window::frame() const {
  QRect g = d_->widget->geometry();
  double h = Screen::primaryHeight();
  return fnd::Rect(g.x(), h - (g.y() + g.height()), g.width(), g.height());
}

void Window::setFrame(const fnd::Rect& proposed, bool display) {
  fnd::Rect f = delegate_ ? delegate_->windowWillConstrainFrame(*this, proposed) : proposed;
  f.size.width = std::max(f.size.width, d_->minSize.width);
  f.size.height = std::max(f.size.height, d_->minSize.height);
  double h = Screen::primaryHeight();
  int y = int(std::lround(h - (f.origin.y + f.size.height)));
  d_->widget->setGeometry(int(std::lround(f.origin.x)), y, int(std::lround(f.size.width)),
                          int(std::lround(f.size.height)));
  if (d_->content) d_->content->setFrame(fnd::Rect(0, 0, d_->widget->width(), d_->widget->height()));
  if (display) displayIfNeeded();
}

void Window::setContentSize(const fnd::Size& size) {
  fnd::Rect f = frame();
  setFrame(fnd::Rect(f.origin.x, f.origin.y + f.size.height - size.height, size.width, size.height));
}

fnd::Size Window::minSize() const { return d_->minSize; }
void Window::setMinSize(const fnd::Size& size) {
  d_->minSize = size;
  d_->widget->setMinimumSize(int(std::ceil(size.width)), int(std::ceil(size.height)));
}

std::string Window::title() const { return d_->widget->windowTitle().toStdString(); }
void Window::setTitle(const std::string& title) { d_->widget->setWindowTitle(QString::fromStdString(title)); }

void Window::setLevel(WindowLevel level) {
  level_ = level;
  bool wasVisible = d_->widget->isVisible();
  d_->widget->setWindowFlag(Qt::WindowStaysOnTopHint, level != WindowLevel::Normal);
  if (wasVisible) d_->widget->show();
}

void Window::makeKeyAndOrderFront() {
  orderFront();
  if (!canBecomeKeyWindow()) return;
  d_->widget->activateWindow();
  Application::shared().windowBecameKey(this);
}

void Window::orderFront() {
  d_->widget->show();
  if (!d_->screenConnected && d_->widget->windowHandle()) {
    d_->screenConnected = true;
    WindowWidget* widget = d_->widget;
    QObject::connect(widget->windowHandle(), &QWindow::screenChanged, widget,
                     [widget](QScreen*) { widget->screenChanged(); });
  }
  d_->widget->raise();
  displayIfNeeded();
}

void Window::orderOut() {
  d_->widget->hide();
  if (Application::shared().keyWindow() == this) Application::shared().windowBecameKey(nullptr);
}

void Window::close() {
  if (delegate_) delegate_->windowWillClose(*this);
  fnd::NotificationCenter::defaultCenter().postNotificationName(WindowWillCloseNotification, this);
  orderOut();
}

void Window::performClose() {
  if (delegate_ && !delegate_->windowShouldClose(*this)) return;
  close();
}

void Window::miniaturize() { d_->widget->showMinimized(); }
bool Window::isVisible() const { return d_->widget->isVisible(); }
bool Window::isKeyWindow() const { return Application::shared().keyWindow() == this; }
bool Window::isMainWindow() const { return Application::shared().mainWindow() == this; }

Screen Window::screen() const {
  QScreen* s = d_->widget->screen();
  if (!s) return Screen(-1);
  return Screen(int(QGuiApplication::screens().indexOf(s)));
}

bool Window::makeFirstResponder(Responder* responder) {
  if (responder == firstResponder_) return true;
  if (firstResponder_ && !firstResponder_->resignFirstResponder()) return false;
  Responder* target = responder ? responder : this;
  if (target != this && (!target->acceptsFirstResponder() || !target->becomeFirstResponder())) {
    firstResponder_ = this;
    return false;
  }
  firstResponder_ = target;
  if (auto* view = dynamic_cast<View*>(target)) {
    // A view hosting a toolkit widget passes focus on to it and stays out of the Tab chain.
    if (!view->nativeWidget()->focusProxy()) view->nativeWidget()->setFocusPolicy(Qt::StrongFocus);
    view->nativeWidget()->setFocus(Qt::OtherFocusReason);
  } else {
    d_->widget->setFocus(Qt::OtherFocusReason);
  }
  return true;
}

void Window::sendEvent(const Event& event) {
  Event e = event;
  e.window = this;
  auto& cv = d_->content;
  switch (e.type) {
    case EventType::LeftMouseDown:
    case EventType::RightMouseDown: {
      View* hit = cv ? cv->hitTest(e.locationInWindow) : nullptr;
      if (!hit) return;
      auto keep = hit->weak_from_this().lock();
      d_->mouseView = keep;
      if (e.type == EventType::LeftMouseDown && hit->acceptsFirstResponder()) makeFirstResponder(hit);
      if (e.type == EventType::LeftMouseDown) hit->mouseDown(e);
      else hit->rightMouseDown(e);
      return;
    }
    case EventType::LeftMouseUp:
    case EventType::RightMouseUp:
    case EventType::LeftMouseDragged:
    case EventType::RightMouseDragged: {
      auto target = d_->mouseView.lock();
      if (!target) return;
      if (e.type == EventType::LeftMouseUp) target->mouseUp(e);
      else if (e.type == EventType::RightMouseUp) target->rightMouseUp(e);
      else target->mouseDragged(e);
      if (e.type == EventType::LeftMouseUp || e.type == EventType::RightMouseUp) d_->mouseView.reset();
      return;
    }
    case EventType::MouseMoved: return;
    case EventType::ScrollWheel: {
      View* hit = cv ? cv->hitTest(e.locationInWindow) : nullptr;
      if (hit) {
        auto keep = hit->weak_from_this().lock();
        hit->scrollWheel(e);
      }
      return;
    }
    case EventType::KeyDown: {
      // Key equivalents of the standard edit menu go to the first responder's chain first.
      if (e.hasModifier(ModifierFlag::Command) && !e.hasModifier(ModifierFlag::Option | ModifierFlag::Control)) {
        bool shift = e.hasModifier(ModifierFlag::Shift);
        const char* sel = nullptr;
        switch (e.keyCode) {
          case KeyCode::A: sel = shift ? nullptr : "selectAll:"; break;
          case KeyCode::C: sel = shift ? nullptr : "copy:"; break;
          case KeyCode::X: sel = shift ? nullptr : "cut:"; break;
          case KeyCode::V: sel = shift ? nullptr : "paste:"; break;
          case KeyCode::Z: sel = shift ? "redo:" : "undo:"; break;
          default: break;
        }
        if (sel && sendAction(sel, nullptr)) return;
      }
      Responder* r = firstResponder_ ? firstResponder_ : this;
      std::shared_ptr<View> keep;
      if (auto* v = dynamic_cast<View*>(r)) keep = v->weak_from_this().lock();
      r->keyDown(e);
      return;
    }
    case EventType::KeyUp: {
      Responder* r = firstResponder_ ? firstResponder_ : this;
      r->keyUp(e);
      return;
    }
    default: return;
  }
}

bool Window::sendAction(std::string_view selector, Responder* sender) {
  Responder* r = firstResponder_ ? firstResponder_ : this;
  return r->tryToPerform(selector, sender);
}

bool Window::performAction(std::string_view selector, Responder* sender) {
  if (selector == "performClose:") {
    performClose();
    return true;
  }
  return false;
}

fnd::Point Window::convertPointToScreen(const fnd::Point& p) const {
  fnd::Rect f = frame();
  return fnd::Point{f.origin.x + p.x, f.origin.y + p.y};
}

fnd::Point Window::convertPointFromScreen(const fnd::Point& p) const {
  fnd::Rect f = frame();
  return fnd::Point{p.x - f.origin.x, p.y - f.origin.y};
}

void Window::displayIfNeeded() {
  if (d_->content) d_->content->layoutSubtreeIfNeeded();
}

void* Window::nativeHandle() const { return d_->widget; }

Window* Window::fromNativeHandle(void* widget) {
  auto* w = static_cast<QWidget*>(widget);
  return w ? static_cast<Window*>(w->property("kestoWindow").value<void*>()) : nullptr;
}

void Panel::setFloatingPanel(bool on) {
  floating_ = on;
  setLevel(on ? WindowLevel::Floating : WindowLevel::Normal);
}

}  // namespace kesto::ui
