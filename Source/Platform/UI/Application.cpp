#include "Platform/UI/Application.h"

#include "Platform/UI/Action.h"
#include "Platform/UI/Attention_p.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Menu_p.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"
#include "Platform/UI/StallWatchdog.h"
#include "Platform/UI/X11Focus_p.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSessionManager>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <optional>
#include <utility>

namespace kesto::ui {

namespace {

// What the Edit menu's commands depend on in a text widget.
struct TextState {
  bool selection = false;
  bool readOnly = false;
  bool canUndo = false;
  bool canRedo = false;
  bool empty = false;
};

TextState textState(QWidget* widget) {
  TextState t;
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    t = {line->hasSelectedText(), line->isReadOnly(), line->isUndoAvailable(), line->isRedoAvailable(),
         line->text().isEmpty()};
  } else if (auto* edit = qobject_cast<QTextEdit*>(widget)) {
    t = {edit->textCursor().hasSelection(), edit->isReadOnly(), edit->document()->isUndoAvailable(),
         edit->document()->isRedoAvailable(), edit->document()->isEmpty()};
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) {
    t = {plain->textCursor().hasSelection(), plain->isReadOnly(), plain->document()->isUndoAvailable(),
         plain->document()->isRedoAvailable(), plain->document()->isEmpty()};
  }
  return t;
}

void deleteSelection(QWidget* widget) {
  if (auto* line = qobject_cast<QLineEdit*>(widget)) line->del();
  else if (auto* edit = qobject_cast<QTextEdit*>(widget)) edit->textCursor().removeSelectedText();
  else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) plain->textCursor().removeSelectedText();
}

// The toolkit's text fields and editors as a responder: the Edit menu's commands reach the one
// with the focus, whatever view (or dialog) holds it.
class TextInputResponder : public ActionResponder {
 public:
  static QWidget* focusedTextWidget() {
    QWidget* f = QApplication::focusWidget();
    return qtbridge::isTextEditor(f) ? f : nullptr;
  }

  QPointer<QWidget> widget;

 protected:
  void addActions(ActionSet& set) override {
    struct Edit {
      Command command;
      const char* slot;  // the widget's own slot; none: delete
      bool (*isEnabled)(const TextState&);
    };
    static const Edit edits[] = {
        {cmd::cut, "cut", [](const TextState& t) { return t.selection && !t.readOnly; }},
        {cmd::copy, "copy", [](const TextState& t) { return t.selection; }},
        {cmd::paste, "paste",
         [](const TextState& t) { return !t.readOnly && !QGuiApplication::clipboard()->text().isEmpty(); }},
        {cmd::undo, "undo", [](const TextState& t) { return t.canUndo && !t.readOnly; }},
        {cmd::redo, "redo", [](const TextState& t) { return t.canRedo && !t.readOnly; }},
        {cmd::selectAll, "selectAll", [](const TextState& t) { return !t.empty; }},
        {cmd::delete_, nullptr, [](const TextState& t) { return t.selection && !t.readOnly; }},
    };
    for (const Edit& e : edits) {
      Action action{e.command};
      // A field with nothing of its own to undo (or redo) passes the command on to the window,
      // whose last change it then takes back: one undo history, as the user sees it.
      const bool history = e.command == cmd::undo || e.command == cmd::redo;
      action.isAvailable = [this, &e, history] {
        return !widget.isNull() && (!history || e.isEnabled(textState(widget.data())));
      };
      action.isEnabled = [this, &e](MenuItem&) { return e.isEnabled(textState(widget.data())); };
      action.perform = [this, &e](Responder*) {
        if (!e.slot) return deleteSelection(widget.data()), true;
        return QMetaObject::invokeMethod(widget.data(), e.slot);
      };
      set.add(std::move(action));
    }
  }
};

TextInputResponder& textInput() {
  static TextInputResponder* responder = new TextInputResponder();  // lives for the process
  responder->widget = TextInputResponder::focusedTextWidget();
  return *responder;
}

// Key equivalents of the application's menus, for every widget of our windows: the key goes to
// the menus before the focused widget sees it, unless that widget claims it for itself the way
// the toolkit asks (a text field keeps Ctrl+C, Ctrl+Z, Ctrl+Left ...). F10 opens the menu bar.
class KeyEquivalentFilter : public QObject {
  // A text field claims Ctrl+Z and its redo keys even with nothing of its own to take back; then
  // they go to the menus, whose Undo and Redo act on the window's changes.
  static bool passesHistoryOn(QWidget* focus, const QKeyEvent* key) {
    if (focus != TextInputResponder::focusedTextWidget()) return false;
    const TextState state = textState(focus);
    if (key->matches(QKeySequence::Undo)) return !state.canUndo;
    if (key->matches(QKeySequence::Redo)) return !state.canRedo;
    return false;
  }

 public:
  bool eventFilter(QObject* obj, QEvent* ev) override {
    if (ev->type() != QEvent::KeyPress || probing_) return false;
    auto* widget = qobject_cast<QWidget*>(obj);
    if (!widget) return false;
    QWidget* focus = QApplication::focusWidget();
    // Once per key, at its first receiver; open menus handle their own keys.
    if (focus ? widget != focus : widget != widget->window()) return false;
    if (QApplication::activePopupWidget()) return false;
    Window* window = Window::fromNativeHandle(widget->window());
    if (!window) return false;  // the toolkit's own dialogs keep their keys
    auto* key = static_cast<QKeyEvent*>(ev);
    // A line edit pastes the clipboard's text over its selection, and with no text there (only
    // bookmarks, say) it would just delete the selection: a folder's name in its rename editor
    // went blank. The key does nothing then, as the Edit menu's Paste is disabled.
    if (key->matches(QKeySequence::Paste) && qobject_cast<QLineEdit*>(focus) &&
        QGuiApplication::clipboard()->text().isEmpty())
      return true;
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::NoModifier) return window->openMenuBar();
    if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) return false;
    if (focus) {
      QKeyEvent probe(QEvent::ShortcutOverride, key->key(), key->modifiers(), key->nativeScanCode(),
                      key->nativeVirtualKey(), key->nativeModifiers(), key->text(), key->isAutoRepeat(),
                      key->count());
      probe.ignore();
      probing_ = true;
      QCoreApplication::sendEvent(focus, &probe);
      probing_ = false;
      if (probe.isAccepted() && !passesHistoryOn(focus, key)) return false;
    }
    Event e = qtbridge::keyEvent(key, EventType::KeyDown);
    if (e.type != EventType::KeyDown) return false;
    e.window = window;
    bool handled = false;
    qtbridge::guarded("key equivalent", [&] { handled = Application::shared().performKeyEquivalent(e); });
    return handled;
  }

 private:
  bool probing_ = false;
};

// Asks where the X server's focus is whenever it may have entered or left our windows: the
// toolkit waits a moment for a focus-in that may follow a focus-out, and on the next turn of the
// loop the answer is already there.
class X11FocusWatch : public QAbstractNativeEventFilter {
 public:
  explicit X11FocusWatch(std::function<void(bool)> changed) : changed_(std::move(changed)) {}

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const std::uint8_t response = event->response_type & 0x7f;
    if (response != XCB_FOCUS_IN && response != XCB_FOCUS_OUT) return false;
    // Focus-in and focus-out events share one layout.
    auto* focus = reinterpret_cast<xcb_focus_in_event_t*>(event);
    if (x11::isFocusChange(*focus) && x11::isOurWindow(focus->event)) check();
    return false;
  }

  // Tells, on the next turn of the loop, whether the focus is on one of our windows.
  void check() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [this] {
      pending_ = false;
      if (std::optional<bool> ours = x11::focusIsOurs()) changed_(*ours);
    });
  }

 private:
  std::function<void(bool)> changed_;
  bool pending_ = false;
};

// The quit the toolkit sends the application when the session manager ends the session: the
// toolkit would close every window and quit only when none refused, so a window that hides
// instead of closing, or the tray icon's, held the log-out up. It goes through the
// application's own quit instead, from the main loop (the session manager's callback is no
// place for it).
class SessionEndFilter : public QObject {
 public:
  explicit SessionEndFilter(std::function<void()> quit) : quit_(std::move(quit)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Quit || watched != QCoreApplication::instance()) return false;
    Application::postToMain(quit_);
    return true;
  }

 private:
  std::function<void()> quit_;
};

std::unique_ptr<Panel> makeAboutPanel(const AboutPanelOptions& options) {
  const std::string name = options.applicationName.empty() ? QCoreApplication::applicationName().toStdString()
                                                           : options.applicationName;
  auto panel = std::make_unique<Panel>(fnd::Rect(0, 0, 320, 160), WindowStyle::Titled | WindowStyle::Closable);
  panel->setTitle("About " + name);
  panel->contentView()->setBackgroundColor(Color::white(0.97));
  QWidget* host = panel->contentView()->nativeWidget();
  auto* layout = new QVBoxLayout(host);
  layout->setContentsMargins(20, 20, 20, 20);
  layout->setSpacing(6);
  QPixmap pixmap;
  if (!options.icon.isNull()) pixmap = QPixmap::fromImage(ImplAccess::of(options.icon)->image);
  else if (!options.iconName.empty()) pixmap = QIcon::fromTheme(QString::fromStdString(options.iconName)).pixmap(64, 64);
  if (pixmap.isNull()) pixmap = QApplication::windowIcon().pixmap(64, 64);
  if (!pixmap.isNull()) {
    auto* icon = new QLabel(host);
    icon->setObjectName("icon");
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(pixmap.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    layout->addWidget(icon);
  }
  auto add = [&](const std::string& text, int pointSize, bool bold, const char* objectName) {
    if (text.empty()) return;
    auto* label = new QLabel(QString::fromStdString(text), host);
    label->setObjectName(objectName);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont font = label->font();
    if (pointSize > 0) font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    layout->addWidget(label);
  };
  add(name, 16, true, "name");
  add(options.version.empty() ? std::string() : "Version " + options.version, 0, false, "version");
  add(options.credits, 0, false, "credits");
  add(options.copyright, 9, false, "copyright");
  // As tall as what it shows.
  QSize hint = layout->sizeHint();
  panel->setContentSize(fnd::Size{std::max(320.0, double(hint.width())), double(hint.height())});
  return panel;
}

}  // namespace

// How long the focus stays with another program before the panels that hide then go.
constexpr int kDeactivationSettleMs = 250;

struct Application::Impl {
  QMetaObject::Connection stateConnection;
  // Whether the desktop's focus is in one of our windows.
  bool active = false;
  std::unique_ptr<X11FocusWatch> focusWatch;
  // The key window when another program took the focus: key again when the focus comes back to
  // one of our windows that none of the others takes it from.
  Window* keyBeforeDeactivation = nullptr;
  // The panels hidden when another program took the focus.
  std::vector<Window*> hiddenWhileInactive;
  KeyEquivalentFilter keyFilter;
  std::unique_ptr<SessionEndFilter> sessionEndFilter;
  std::unique_ptr<Panel> aboutPanel;
  ActionSet actions;
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
                                             // Under X11 the server says: a grab by another client
                                             // (the window manager moving a window, a hot key
                                             // held) takes the keys for a while, not the focus.
                                             if (d_->focusWatch) d_->focusWatch->check();
                                             else activationChanged(state == Qt::ApplicationActive);
                                           });
    if (x11::connection()) {
      d_->focusWatch = std::make_unique<X11FocusWatch>([this](bool active) { activationChanged(active); });
      gui->installNativeEventFilter(d_->focusWatch.get());
    }
    gui->installEventFilter(&d_->keyFilter);
    d_->sessionEndFilter = std::make_unique<SessionEndFilter>([this] { terminateForSessionEnd(); });
    gui->installEventFilter(d_->sessionEndFilter.get());
    QObject::connect(gui, &QGuiApplication::commitDataRequest, gui, [this](QSessionManager&) { commitDataForSession(); });
  }
  d_->actions.add(cmd::terminate, [this] { terminate(); });
  d_->actions.add(cmd::orderFrontStandardAboutPanel, [this] { orderFrontStandardAboutPanel(); });
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
  deferTerminate_ = false;
  // Asked for while the program started, before the loop could end: the loop's first turns
  // carry it out, once what the start queued is done.
  if (std::exchange(terminateWhenRunning_, false)) postToMain([this] { terminate(); });
  StallWatchdog::startFromEnvironment();
  int rc = QCoreApplication::exec();
  StallWatchdog::stop();
  running_ = false;
  endingSession_ = false;
  return rc;
}

void Application::terminate() {
  if (deferTerminate_ && !running_) {
    terminateWhenRunning_ = true;
    return;
  }
  // What was typed last is stored before the quit saves (and asks about what the store refused).
  endEditingInEveryWindow();
  TerminateReply reply = delegate_ ? delegate_->applicationShouldTerminate() : TerminateReply::Now;
  if (reply != TerminateReply::Later) replyToApplicationShouldTerminate(reply == TerminateReply::Now);
}

void Application::replyToApplicationShouldTerminate(bool shouldTerminate) {
  if (!shouldTerminate) {
    endingSession_ = false;
    return;
  }
  // Typed while a later reply was awaited (a sync finishing): stored before the last save too.
  endEditingInEveryWindow();
  if (delegate_) delegate_->applicationWillTerminate();
  QCoreApplication::exit(0);
}

void Application::commitDataForSession() {
  // What was typed is stored and saved, as before a quit's last save; the session manager waits
  // for no question.
  endEditingInEveryWindow();
  if (delegate_) qtbridge::guarded("saving for the session", [this] { delegate_->applicationCommitData(); });
}

void Application::terminateForSessionEnd() {
  endingSession_ = true;
  terminate();
}

void Application::activationChanged(bool active) {
  if (active == d_->active) return;
  d_->active = active;
  if (!active && keyWindow_) {
    // Another program has the focus, and the keys with it: the key window resigns.
    Window* key = keyWindow_;
    qtbridge::guarded("deactivation", [&] { windowBecameKey(nullptr); });
    d_->keyBeforeDeactivation = key;
  }
  if (active) {
    showPanelsHiddenWhileInactive();
    // What opened while the user was in another program takes the keys now.
    qtbridge::guarded("reactivation", [] { attention::bringWaitingToUser(); });
  } else {
    // The focus passes through no window of ours for a moment when one of ours goes (closed,
    // minimised) and the window manager hands it to the next: the panels go only when another
    // program has kept it for a moment.
    QTimer::singleShot(kDeactivationSettleMs, QCoreApplication::instance(), [this] {
      if (!d_->active) hidePanelsWhileInactive();
    });
  }
  if (delegate_) {
    qtbridge::guarded("activation", [&] {
      if (active) delegate_->applicationDidBecomeActive();
      else delegate_->applicationDidResignActive();
    });
  }
  if (!active) return;
  // The window the focus comes back to becomes key as it is activated. When that is none of
  // ours that can (a dialog of the toolkit's), the window that was key is key again.
  QTimer::singleShot(0, QCoreApplication::instance(), [this] {
    if (!d_->active) return;
    Window* before = std::exchange(d_->keyBeforeDeactivation, nullptr);
    if (keyWindow_ || !before || !before->isVisible() || !before->canBecomeKeyWindow()) return;
    qtbridge::guarded("reactivation", [&] { windowBecameKey(before); });
  });
}

void Application::hidePanelsWhileInactive() {
  for (Window* w : windows_) {
    auto* panel = dynamic_cast<Panel*>(w);
    // A minimised panel stays as the user left it.
    if (!panel || !panel->hidesOnDeactivate() || panel->isSheet() || !panel->isVisible() || panel->isMiniaturized())
      continue;
    // Hidden as it is, not ordered out: nothing of the panel's own closing runs.
    static_cast<QWidget*>(panel->nativeHandle())->hide();
    d_->hiddenWhileInactive.push_back(panel);
  }
}

void Application::showPanelsHiddenWhileInactive() {
  for (Window* w : std::exchange(d_->hiddenWhileInactive, {})) {
    QWindow* handle = static_cast<QWidget*>(w->nativeHandle())->windowHandle();
    // Back without the focus: the keys stay in the window the user came back to. Some window
    // managers focus every window they map unless it takes no focus at all, so for this showing
    // it takes none, until it is on screen.
    if (handle) attention::takeNoFocusUntilShown(*handle);
    qtbridge::guarded("reactivation", [&] { w->orderFront(); });
  }
}

void Application::windowOrderedOut(Window* w) {
  auto& hidden = d_->hiddenWhileInactive;
  hidden.erase(std::remove(hidden.begin(), hidden.end(), w), hidden.end());
}

bool Application::isActive() const { return d_->active || keyWindow_ != nullptr; }

void Application::activateIgnoringOtherApps() {
  // The window that was key before another program took the focus comes back first.
  Window* w = keyWindow_;
  if (!w && d_->keyBeforeDeactivation && d_->keyBeforeDeactivation->isVisible()) w = d_->keyBeforeDeactivation;
  if (!w) w = mainWindow_;
  // The program comes forward as it stands: a minimised window stays minimised, and one on
  // another desktop stays there (bringing a window to the user is makeKeyAndOrderFront's).
  if (!w || w->isMiniaturized()) return;
  w->orderFront();
  if (!w->canBecomeKeyWindow()) return;
  if (!(w->styleMask() & WindowStyle::NonactivatingPanel)) static_cast<QWidget*>(w->nativeHandle())->activateWindow();
  windowBecameKey(w);
}

Window* Application::keyWindow() const { return keyWindow_; }
Window* Application::mainWindow() const { return mainWindow_; }
bool Application::isModalDialogShown() const { return attention::modalDialog() != nullptr; }
std::vector<Window*> Application::windows() const { return windows_; }

bool Application::sendAction(Command selector, Responder* target, Responder* sender) {
  return sendAction(selector, target, sender, nullptr);
}

bool Application::sendAction(Command selector, Responder* target, Responder* sender, Responder* from) {
  if (Responder* r = targetForAction(selector, target, from); r && r->performAction(selector, sender)) return true;
  // Responders that act without saying so still get their turn along the chain.
  if (target) return target->tryToPerform(selector, sender);
  if (from && from->tryToPerform(selector, sender)) return true;
  if (keyWindow_ && keyWindow_->sendAction(selector, sender)) return true;
  if (mainWindow_ && mainWindow_ != keyWindow_ && mainWindow_->sendAction(selector, sender)) return true;
  return tryToPerform(selector, sender);
}

Responder* Application::targetForAction(Command selector, Responder* target, Responder* from) const {
  if (selector.empty()) return nullptr;
  if (target) return target->respondsToAction(selector) ? target : nullptr;
  if (!from) {
    if (auto& text = textInput(); text.respondsToAction(selector)) return &text;
  }
  auto walk = [&](Responder* start) -> Responder* {
    for (Responder* r = start; r; r = r->nextResponder())
      if (r->respondsToAction(selector)) return r;
    return nullptr;
  };
  if (from)
    if (Responder* r = walk(from)) return r;
  for (Window* w : {keyWindow_, mainWindow_}) {
    if (!w) continue;
    if (Responder* r = walk(w->firstResponder() ? w->firstResponder() : w)) return r;
    if (auto* d = dynamic_cast<Responder*>(w->delegate()); d && d->respondsToAction(selector)) return d;
  }
  auto* self = const_cast<Application*>(this);
  if (respondsToAction(selector)) return self;
  if (auto* d = dynamic_cast<Responder*>(delegate_); d && d->respondsToAction(selector)) return d;
  return nullptr;
}

bool Application::validateMenuItemAction(MenuItem& item, Responder* from) {
  Responder* r = targetForAction(item.action(), item.target(), from);
  return r && r->validateMenuItem(item);
}

void Application::setMainMenu(std::shared_ptr<Menu> menu) {
  if (mainMenu_ == menu) return;
  auto old = std::move(mainMenu_);
  mainMenu_ = std::move(menu);
  if (old) {
    ImplAccess::of(*old)->isMainMenu = false;
    for (auto& item : old->items()) item->setTitle(item->title());
  }
  if (mainMenu_) {
    ImplAccess::of(*mainMenu_)->isMainMenu = true;
    for (auto& item : mainMenu_->items()) item->setTitle(item->title());
  }
  mainMenuDidChange();
}

void Application::mainMenuDidChange() {
  for (Window* w : windows_) w->rebuildMenuBar();
}

bool Application::performKeyEquivalent(const Event& event) {
  return mainMenu_ && mainMenu_->performKeyEquivalent(event);
}

void Application::orderFrontStandardAboutPanel() {
  if (!d_->aboutPanel) {
    d_->aboutPanel = makeAboutPanel(aboutOptions_);
    d_->aboutPanel->setFloatingPanel(true);
    // Above other programs' windows only while Kesto is the active program.
    d_->aboutPanel->setHidesOnDeactivate(true);
    // Centred on the screen it opens on.
    Screen screen = Screen::main().isValid() ? Screen::main() : Screen::primary();
    if (screen.isValid()) {
      fnd::Rect v = screen.visibleFrame(), f = d_->aboutPanel->frame();
      d_->aboutPanel->setFrame(fnd::Rect(v.midX() - f.size.width / 2, v.midY() - f.size.height / 2 + v.size.height / 6,
                                         f.size.width, f.size.height),
                               false);
    }
  }
  d_->aboutPanel->makeKeyAndOrderFront();
}

Window* Application::aboutPanel() const { return d_->aboutPanel.get(); }

bool Application::respondsToAction(Command selector) const { return d_->actions.answers(selector); }

bool Application::performAction(Command selector, Responder* sender) { return d_->actions.perform(selector, sender); }

void Application::postToMain(std::function<void()> fn) {
  // The main queue keeps one order with everything else posted to the main loop.
  fnd::DispatchQueue::main().async(std::move(fn));
}

void Application::registerWindow(Window* w) { windows_.push_back(w); }

void Application::endEditingInEveryWindow() {
  // A stored edit may open or close windows: each is looked up again before its turn.
  const std::vector<Window*> windows = windows_;
  for (Window* w : windows)
    if (std::find(windows_.begin(), windows_.end(), w) != windows_.end())
      qtbridge::guarded("ending the editing", [w] { w->endEditing(); });
}

void Application::unregisterWindow(Window* w) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
  if (keyWindow_ == w) keyWindow_ = nullptr;
  if (mainWindow_ == w) mainWindow_ = nullptr;
  if (d_->keyBeforeDeactivation == w) d_->keyBeforeDeactivation = nullptr;
  windowOrderedOut(w);
}

void Application::windowBecameKey(Window* w) {
  if (w == keyWindow_) return;
  if (w) d_->keyBeforeDeactivation = nullptr;
  Window* old = keyWindow_;
  Window* oldMain = mainWindow_;
  keyWindow_ = w;
  if (w && w->canBecomeMainWindow()) mainWindow_ = w;
  auto& center = fnd::NotificationCenter::defaultCenter();
  if (old && old->delegate()) old->delegate()->windowDidResignKey(*old);
  if (old) center.postNotificationName(WindowDidResignKeyNotification, old);
  if (w && w->delegate()) w->delegate()->windowDidBecomeKey(*w);
  if (w) center.postNotificationName(WindowDidBecomeKeyNotification, w);
  if (oldMain != mainWindow_) {
    if (oldMain) center.postNotificationName(WindowDidResignMainNotification, oldMain);
    center.postNotificationName(WindowDidBecomeMainNotification, mainWindow_);
  }
}

}  // namespace kesto::ui
