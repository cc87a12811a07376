#include "Platform/UI/Window.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/DialogOwner_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Menu_p.h"
#include "Platform/UI/UINotifications.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/X11Focus_p.h"
#include "Platform/UI/WidgetHostView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

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
  void moveEvent(QMoveEvent*) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    if (window_) qtbridge::guarded("window close", [&] { window_->performClose(); });
  }
  bool event(QEvent* e) override {
    if (window_ && e->type() == QEvent::WindowActivate) {
      if (window_->canBecomeKeyWindow()) {
        qtbridge::guarded("window activation", [&] { Application::shared().windowBecameKey(window_); });
      } else if (Window* key = Application::shared().keyWindow(); key && key != window_) {
        // Activated anyway (a platform or desktop that focuses every window it shows or is
        // clicked): the keys go back to the window the user works in.
        QPointer<QWidget> back = static_cast<QWidget*>(key->nativeHandle());
        QTimer::singleShot(0, this, [back] {
          if (back && back->isVisible()) back->activateWindow();
        });
      }
    }
    return QWidget::event(e);
  }
  void keyPressEvent(QKeyEvent* e) override { sendKey(e, EventType::KeyDown); }
  void keyReleaseEvent(QKeyEvent* e) override { sendKey(e, EventType::KeyUp); }

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
  void sendKey(QKeyEvent* e, EventType type) {
    if (!window_) return;
    e->accept();
    // A letter the open menu matched to no item comes on from the menu bar: it is the menu's.
    if (menubridge::menuIsOpen()) return;
    Event ev = qtbridge::keyEvent(e, type);
    ev.window = window_;
    qtbridge::guarded("key event", [&] { window_->sendEvent(ev); });
  }
  Window* window_;
  bool fullScreen_ = false;
};
}  // namespace

struct Window::Impl {
  WindowWidget* widget = nullptr;
  // Holds the content view's widget below the menu bar, so views keep their own origin.
  QWidget* host = nullptr;
  QMenuBar* bar = nullptr;
  std::shared_ptr<View> content;
  std::weak_ptr<View> mouseView;
  fnd::Size minSize;
  bool screenConnected = false;
  ActionSet actions;
};

void WindowWidget::resizeEvent(QResizeEvent*) {
  if (!window_) return;
  qtbridge::guarded("window resize", [&] { window_->layoutContent(); });
  qtbridge::guarded("window resize", [&] {
    if (window_->delegate()) window_->delegate()->windowDidResize(*window_);
    fnd::NotificationCenter::defaultCenter().postNotificationName(WindowDidResizeNotification, window_);
  });
}

void WindowWidget::moveEvent(QMoveEvent*) {
  if (!window_) return;
  qtbridge::guarded("window move", [&] {
    if (window_->attachedSheet()) window_->layoutContent();
    if (window_->delegate()) window_->delegate()->windowDidMove(*window_);
  });
}

void WindowWidget::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (!window_ || e->type() != QEvent::WindowStateChange) return;
  bool full = isFullScreen();
  if (full == fullScreen_) return;
  fullScreen_ = full;
  qtbridge::guarded("full screen", [&] {
    fnd::NotificationCenter::defaultCenter().postNotificationName(
        full ? WindowDidEnterFullScreenNotification : WindowDidExitFullScreenNotification, window_);
  });
}

Window::Window(const fnd::Rect& contentRect, unsigned styleMask)
    : d_(std::make_unique<Impl>()), styleMask_(styleMask) {
  d_->widget = new WindowWidget(this);
  d_->host = new QWidget(d_->widget);
  d_->host->setAttribute(Qt::WA_NoSystemBackground);
  Qt::WindowFlags flags = Qt::Window;
  if (styleMask == WindowStyle::Borderless) flags |= Qt::FramelessWindowHint;
  d_->widget->setWindowFlags(flags);
  setContentView(std::make_shared<View>(fnd::Rect(0, 0, contentRect.size.width, contentRect.size.height)));
  setFrame(contentRect, false);
  setNextResponder(&Application::shared());
  Application::shared().registerWindow(this);
  addWindowActions();
}

void Window::addWindowActions() {
  // A sheet ends through its own buttons, never by the window commands.
  auto notSheet = [this] { return !isSheet(); };
  actions().add(cmd::performClose, [this] { performClose(); }, notSheet);
  actions().add(cmd::performMiniaturize, [this] { miniaturize(); }, notSheet);
  actions().add(cmd::performZoom, [this] { zoom(); }, notSheet);
  actions().add(cmd::toggleFullScreen, [this] { toggleFullScreen(); }, notSheet);
  // Undo and Redo are the window's only while its delegate gives it an undo manager; else they
  // go on to whoever else keeps one.
  for (bool redo : {false, true}) {
    Action action{redo ? cmd::redo : cmd::undo};
    action.isAvailable = [this] { return !isSheet() && undoManager(); };
    action.isEnabled = [this, redo](MenuItem& item) {
      fnd::UndoManager* undo = undoManager();
      item.setTitle(redo ? undo->redoMenuItemTitle() : undo->undoMenuItemTitle());
      return redo ? undo->canRedo() : undo->canUndo();
    };
    action.perform = [this, redo](Responder*) {
      fnd::UndoManager* undo = undoManager();
      if (redo ? undo->canRedo() : undo->canUndo()) redo ? undo->redo() : undo->undo();
      return true;
    };
    actions().add(std::move(action));
  }
}

ActionSet& Window::actions() { return d_->actions; }

Window::~Window() {
  // A sheet's widget is a child of its parent's: neither may take the other down with it.
  if (sheetParent_) {
    if (sheetParent_->attachedSheet_ == this) {
      sheetParent_->attachedSheet_ = nullptr;
      sheetParent_->sheetCompletion_ = nullptr;
    }
    auto& q = sheetParent_->pendingSheets_;
    q.erase(std::remove_if(q.begin(), q.end(), [this](const PendingSheet& p) { return p.sheet == this; }), q.end());
    d_->widget->setParent(nullptr);
  }
  if (attachedSheet_) {
    attachedSheet_->d_->widget->hide();
    attachedSheet_->d_->widget->setParent(nullptr);
    attachedSheet_->sheetParent_ = nullptr;
  }
  for (auto& p : pendingSheets_) p.sheet->sheetParent_ = nullptr;
  Application::shared().unregisterWindow(this);
  if (d_->content) {
    d_->content->setWindowRecursively(nullptr);
    d_->content->nativeWidget()->setParent(nullptr);
  }
  static_cast<WindowWidget*>(d_->widget)->detach();
  // The widget goes later: it must not lead to this window meanwhile (a new window may take
  // this address).
  d_->widget->setProperty("kestoWindow", QVariant());
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
  d_->content->nativeWidget()->setParent(d_->host);
  fnd::Rect r = contentLayoutRect();
  d_->content->setFrame(fnd::Rect(0, 0, r.size.width, r.size.height));
  d_->content->nativeWidget()->setGeometry(0, 0, int(r.size.width), int(r.size.height));
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
  layoutContent();
  if (display) displayIfNeeded();
}

void Window::setContentSize(const fnd::Size& size) {
  fnd::Rect f = frame();
  double bar = f.size.height - contentLayoutRect().size.height;
  double h = size.height + bar;
  setFrame(fnd::Rect(f.origin.x, f.origin.y + f.size.height - h, size.width, h));
}

fnd::Rect Window::contentLayoutRect() const {
  int w = d_->widget->width(), h = d_->widget->height();
  int bar = d_->bar ? std::min(h, d_->bar->heightForWidth(w) > 0 ? d_->bar->heightForWidth(w)
                                                                  : d_->bar->sizeHint().height())
                    : 0;
  return fnd::Rect(0, 0, w, std::max(0, h - bar));
}

void Window::layoutContent() {
  fnd::Rect r = contentLayoutRect();
  int top = d_->widget->height() - int(r.size.height);
  if (d_->bar) d_->bar->setGeometry(0, 0, d_->widget->width(), top);
  d_->host->setGeometry(0, top, int(r.size.width), int(r.size.height));
  if (d_->content) d_->content->setFrame(fnd::Rect(0, 0, r.size.width, r.size.height));
  if (cornerRadius_ > 0) {
    QPainterPath path;
    path.addRoundedRect(QRectF(d_->widget->rect()), cornerRadius_, cornerRadius_);
    d_->widget->setMask(QRegion(path.toFillPolygon().toPolygon()));
  }
  if (attachedSheet_) placeSheet();
}

bool Window::showsMainMenu() const { return d_->bar != nullptr; }

void Window::setShowsMainMenu(bool shows) {
  if (shows == showsMainMenu()) {
    if (shows) Application::shared().mainMenuDidChange();
    return;
  }
  fnd::Rect f = frame();
  double before = contentLayoutRect().size.height;
  if (shows) {
    d_->bar = new QMenuBar(d_->widget);
    d_->bar->setNativeMenuBar(false);
    d_->bar->show();
  } else {
    delete d_->bar;
    d_->bar = nullptr;
  }
  Application::shared().mainMenuDidChange();
  // The content keeps its size; the frame takes the bar (top edge fixed).
  double grow = d_->bar ? d_->bar->sizeHint().height() : -(f.size.height - before);
  setFrame(fnd::Rect(f.origin.x, f.origin.y - grow, f.size.width, f.size.height + grow), false);
}

void Window::rebuildMenuBar() {
  if (!d_->bar) return;
  d_->bar->clear();
  const auto& menu = Application::shared().mainMenu();
  if (menu)
    for (const auto& item : menu->items())
      if (item->submenu() && !item->isHidden()) d_->bar->addAction(ImplAccess::of(*item)->action);
  layoutContent();
}

bool Window::openMenuBar() {
  if (!d_->bar || d_->bar->actions().isEmpty()) return false;
  d_->bar->setActiveAction(d_->bar->actions().first());
  return true;
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
  // A window the window manager has already (minimised, on another desktop, behind another
  // program) comes to the user only at its hand.
  const bool managed = d_->widget->isVisible() && !isSheet();
  orderFront();
  if (!canBecomeKeyWindow()) return;
  // A non-activating panel takes the keys without taking the desktop's focus from others.
  if (!(styleMask_ & WindowStyle::NonactivatingPanel)) {
    // Once shown without the focus, while the user was in another program: called now, it takes it.
    d_->widget->setAttribute(Qt::WA_ShowWithoutActivating, false);
    d_->widget->activateWindow();
    // The toolkit can still take a window moved to another desktop for the active one: the X
    // server tells.
    if (managed && !x11::hasFocus(xcb_window_t(d_->widget->winId())))
      x11::requestActivation(xcb_window_t(d_->widget->winId()));
  }
  Application::shared().windowBecameKey(this);
}

void Window::orderFront() {
  // Showing a minimised window leaves it minimised: its state has to change.
  if (d_->widget->isMinimized()) d_->widget->setWindowState(d_->widget->windowState() & ~Qt::WindowMinimized);
  if (!d_->widget->isVisible() && !isSheet()) {
    Screen s = screen();
    fnd::Rect f = frame();
    fnd::Rect c = constrainFrameRect(f, s.isValid() ? s : Screen::primary());
    if (!(c == f)) setFrame(c, false);
  }
  if (!canBecomeKeyWindow() && !d_->widget->testAttribute(Qt::WA_ShowWithoutActivating)) {
    // Shown without the focus, and given none by the desktop when clicked: the keys stay with
    // the window the user works in.
    d_->widget->setAttribute(Qt::WA_ShowWithoutActivating);
    d_->widget->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
  }
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
  Application::shared().windowOrderedOut(this);
}

void Window::close() {
  endEditing();
  if (delegate_) delegate_->windowWillClose(*this);
  fnd::NotificationCenter::defaultCenter().postNotificationName(WindowWillCloseNotification, this);
  orderOut();
}

void Window::performClose() {
  if (delegate_ && !delegate_->windowShouldClose(*this)) return;
  close();
}

void Window::miniaturize() { d_->widget->showMinimized(); }
bool Window::isMiniaturized() const { return d_->widget->isMinimized(); }

void Window::toggleFullScreen() {
  if (d_->widget->isFullScreen()) d_->widget->showNormal();
  else d_->widget->showFullScreen();
}

bool Window::isFullScreen() const { return d_->widget->isFullScreen(); }

void Window::zoom() {
  if (d_->widget->isMaximized()) d_->widget->showNormal();
  else d_->widget->showMaximized();
}

bool Window::isZoomed() const { return d_->widget->isMaximized(); }

fnd::Rect Window::constrainFrameRect(const fnd::Rect& frame, const Screen& screen) const {
  if (!screen.isValid()) return frame;
  fnd::Rect visible = screen.visibleFrame();
  fnd::Rect f = frame;
  // The top edge (where the title bar is grabbed) never starts above the visible area.
  if (f.maxY() > visible.maxY()) f.origin.y = visible.maxY() - f.size.height;
  return f;
}

void Window::setCornerRadius(double radius) {
  cornerRadius_ = std::max(0.0, radius);
  if (cornerRadius_ == 0) d_->widget->clearMask();
  layoutContent();
}
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

void Window::endEditing() {
  if (!qtbridge::isTextEditor(d_->widget->focusWidget())) return;
  auto* editing = dynamic_cast<WidgetHostView*>(firstResponder_);
  std::shared_ptr<View> keep = editing ? editing->weak_from_this().lock() : nullptr;
  makeFirstResponder(nullptr);
  // A window that is not active moves no focus: no focus event ended the edit.
  if (editing) editing->focusDidLeave();
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
      // The application's menus take their key equivalents first, unless the first responder
      // claims every key for now.
      auto* claiming = dynamic_cast<View*>(firstResponder_);
      if (claiming && claiming->claimsKeyEquivalents()) {
        auto keep = claiming->weak_from_this().lock();
        claiming->keyDown(e);
        return;
      }
      if (Application::shared().performKeyEquivalent(e)) return;
      // Key equivalents of the standard edit menu go to the first responder's chain next.
      if (e.hasModifier(ModifierFlag::Command) && !e.hasModifier(ModifierFlag::Option | ModifierFlag::Control)) {
        bool shift = e.hasModifier(ModifierFlag::Shift);
        Command sel;
        switch (e.keyCode) {
          case KeyCode::A: sel = shift ? Command() : cmd::selectAll; break;
          case KeyCode::C: sel = shift ? Command() : cmd::copy; break;
          case KeyCode::X: sel = shift ? Command() : cmd::cut; break;
          case KeyCode::V: sel = shift ? Command() : cmd::paste; break;
          case KeyCode::Z: sel = shift ? cmd::redo : cmd::undo; break;
          default: break;
        }
        if (!sel.empty() && sendAction(sel, nullptr)) return;
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
    case EventType::FlagsChanged: {
      Responder* r = firstResponder_ ? firstResponder_ : this;
      r->flagsChanged(e);
      return;
    }
    default: return;
  }
}

bool Window::respondsToAction(Command selector) const { return d_->actions.answers(selector); }

void Window::mouseDown(const Event& event) {
  dragStart_ = event.locationInWindow;
  Responder::mouseDown(event);
}

void Window::mouseDragged(const Event& event) {
  if (!movableByBackground_) return Responder::mouseDragged(event);
  fnd::Rect f = frame();
  f.origin.x += event.locationInWindow.x - dragStart_.x;
  f.origin.y += event.locationInWindow.y - dragStart_.y;
  setFrame(f, false);
}

bool Window::sendAction(Command selector, Responder* sender) {
  Responder* r = firstResponder_ ? firstResponder_ : this;
  return r->tryToPerform(selector, sender);
}

bool Window::performAction(Command selector, Responder* sender) { return d_->actions.perform(selector, sender); }

fnd::UndoManager* Window::undoManager() const {
  return delegate_ ? delegate_->windowWillReturnUndoManager(*const_cast<Window*>(this)) : nullptr;
}

bool Window::validateMenuItem(MenuItem& item) { return d_->actions.validate(item); }

void Window::beginSheet(Window& sheet, std::function<void(int)> completion) {
  if (&sheet == this || sheet.sheetParent_) return;
  dialogWillOpen();
  sheet.sheetParent_ = this;
  if (attachedSheet_) {
    pendingSheets_.push_back({&sheet, std::move(completion)});
    return;
  }
  showSheet(sheet, std::move(completion));
}

void Window::showSheet(Window& sheet, std::function<void(int)> completion) {
  attachedSheet_ = &sheet;
  sheetCompletion_ = std::move(completion);
  QWidget* w = sheet.d_->widget;
  w->hide();
  w->setParent(d_->widget, Qt::Dialog | Qt::FramelessWindowHint);
  w->setWindowModality(Qt::WindowModal);
  placeSheet();
  sheet.makeKeyAndOrderFront();
}

void Window::placeSheet() {
  if (!attachedSheet_) return;
  fnd::Rect f = frame();
  fnd::Rect content = contentLayoutRect();
  fnd::Rect s = attachedSheet_->frame();
  double top = f.origin.y + content.size.height;
  attachedSheet_->setFrame(
      fnd::Rect(std::round(f.origin.x + (f.size.width - s.size.width) / 2), top - s.size.height, s.size.width,
                s.size.height),
      false);
}

void Window::endSheet(Window& sheet, int returnCode) {
  auto& q = pendingSheets_;
  auto waiting = std::find_if(q.begin(), q.end(), [&](const PendingSheet& p) { return p.sheet == &sheet; });
  if (waiting != q.end()) {
    // Ended before it was shown: it answers without appearing.
    auto completion = std::move(waiting->completion);
    q.erase(waiting);
    sheet.sheetParent_ = nullptr;
    if (completion) completion(returnCode);
    return;
  }
  if (attachedSheet_ != &sheet) return;
  auto completion = std::move(sheetCompletion_);
  sheetCompletion_ = nullptr;
  attachedSheet_ = nullptr;
  QWidget* w = sheet.d_->widget;
  sheet.orderOut();
  w->setWindowModality(Qt::NonModal);
  w->setParent(nullptr, sheet.styleMask() == WindowStyle::Borderless ? Qt::Window | Qt::FramelessWindowHint : Qt::Window);
  sheet.sheetParent_ = nullptr;
  if (isVisible()) makeKeyAndOrderFront();
  if (completion) completion(returnCode);
  if (!attachedSheet_ && !pendingSheets_.empty()) {
    PendingSheet next = std::move(pendingSheets_.front());
    pendingSheets_.pop_front();
    showSheet(*next.sheet, std::move(next.completion));
  }
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

}  // namespace kesto::ui
