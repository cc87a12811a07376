#include "Platform/System/TrayIcon.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/System/X11Connection_p.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <set>

namespace kesto::sys {

namespace {

std::optional<bool>& availableOverride() {
  static std::optional<bool> value;
  return value;
}

// The status image: a bookmark ribbon, dark on the panel, light while highlighted.
QIcon statusIcon(bool highlighted) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (highlighted) {
      painter.setBrush(QColor(0x3d, 0x7b, 0xd9));
      painter.setPen(Qt::NoPen);
      painter.drawRoundedRect(QRectF(0, 0, size, size), size * 0.2, size * 0.2);
    }
    const double w = size * 0.5, h = size * 0.72, x = (size - w) / 2, y = (size - h) / 2;
    QPainterPath ribbon;
    ribbon.moveTo(x, y);
    ribbon.lineTo(x + w, y);
    ribbon.lineTo(x + w, y + h);
    ribbon.lineTo(x + w / 2, y + h * 0.72);
    ribbon.lineTo(x, y + h);
    ribbon.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(highlighted ? QColor(Qt::white) : QColor(0xd9, 0x58, 0x1f));
    painter.drawPath(ribbon);
    icon.addPixmap(pixmap);
  }
  return icon;
}

double primaryHeight() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().height() : 0;
}

fnd::Point fromToolkit(const QPoint& p) { return fnd::Point{double(p.x()), primaryHeight() - p.y()}; }

// Keys typed at once after a click of the icon. Until the window the click shows has the focus
// they would go to the window that had it (another program's, or the main window), however
// quickly the window shows. So the press on the icon's window freezes the keyboard in the X
// server (a passive grab of the button, synchronous for pointer and keyboard), before the program
// has even read the press; reading it, the program holds the keyboard itself, frozen, and lets the
// pointer go. Keys queue in the server and go on, to whatever has the focus then, once the
// window has it, once the click turns out to show none, or after the limit.
class KeyHold : public QAbstractNativeEventFilter {
 public:
  static KeyHold& shared() {
    static KeyHold hold;
    return hold;
  }

  // Grabs the first button on every tray icon window of the program not grabbed yet.
  void watchIcons() {
    xcb_connection_t* c = detail::x11Connection();
    if (!c) return;
    installFilter();
    std::set<xcb_window_t> current;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (!isIconWidget(widget) || !widget->internalWinId()) continue;
      const auto id = xcb_window_t(widget->internalWinId());
      current.insert(id);
      if (icons_.count(id)) continue;
      xcb_grab_button(c, 1, id, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE, XCB_GRAB_MODE_SYNC,
                      XCB_GRAB_MODE_SYNC, XCB_NONE, XCB_NONE, XCB_BUTTON_INDEX_1, XCB_MOD_MASK_ANY);
    }
    xcb_flush(c);
    icons_ = std::move(current);
  }

  // Around the click's handler: unless it names a window to wait for, the keys go on after it.
  void beginHandler() { asked_ = false; }
  void endHandler() {
    if (!asked_ || hasFocus()) release();
  }
  void holdFor(QWidget* window) {
    if (!holding_ || !window) return;
    asked_ = true;
    target_ = window->window();
    if (!focusWatch_)
      focusWatch_ = QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, qGuiApp, [this](QWindow*) {
        if (hasFocus()) release();
      });
  }

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const std::uint8_t response = event->response_type & 0x7f;
    // Embedding in a tray (again, after the tray restarted) reparents the icon's new window.
    if (response == XCB_REPARENT_NOTIFY) {
      QTimer::singleShot(0, qGuiApp, [this] { watchIcons(); });
      return false;
    }
    if (response != XCB_BUTTON_PRESS) return false;
    auto* press = reinterpret_cast<xcb_button_press_event_t*>(event);
    if (press->detail != XCB_BUTTON_INDEX_1 || !icons_.count(press->event)) return false;
    xcb_connection_t* c = detail::x11Connection();
    if (!c) return false;
    // A menu open or a control recording keys holds the keyboard already; that grab stays theirs.
    if (!holding_ && !QApplication::activePopupWidget() && !QWidget::keyboardGrabber()) {
      holding_ = true;
      asked_ = false;
      // Frozen: the keys queue in the server until the grab ends.
      xcb_discard_reply(c, xcb_grab_keyboard(c, 1, detail::x11RootWindow(), press->time, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_SYNC)
                               .sequence);
      limit_->start();
    }
    // The pointer goes on at once, whatever becomes of the click: the toolkit takes it as ever.
    xcb_allow_events(c, XCB_ALLOW_ASYNC_POINTER, press->time);
    xcb_flush(c);
    return false;
  }

 private:
  KeyHold() {
    limit_ = new QTimer(qGuiApp);
    limit_->setSingleShot(true);
    limit_->setInterval(int(TrayIcon::kKeyHoldLimit * 1000));
    QObject::connect(limit_, &QTimer::timeout, qGuiApp, [this] { release(); });
  }

  void installFilter() {
    if (filterInstalled_) return;
    filterInstalled_ = true;
    QCoreApplication::instance()->installNativeEventFilter(this);
  }

  // The toolkit's own window of an icon in an XEmbed tray.
  static bool isIconWidget(const QWidget* widget) {
    return widget->objectName() == QLatin1String("QSystemTrayIconSys") ||
           qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0;
  }

  // Whether the window waited for has the X server's focus (the toolkit's own idea of the focus
  // can lag behind it, or stay from before the click).
  bool hasFocus() const {
    xcb_connection_t* c = detail::x11Connection();
    QWindow* window = target_ ? target_->windowHandle() : nullptr;
    if (!c || !window) return false;
    xcb_get_input_focus_reply_t* reply = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    const bool focused = reply && reply->focus == xcb_window_t(window->winId());
    std::free(reply);
    return focused;
  }

  void release() {
    if (!holding_) return;
    holding_ = asked_ = false;
    target_.clear();
    limit_->stop();
    QObject::disconnect(focusWatch_);
    focusWatch_ = {};
    if (xcb_connection_t* c = detail::x11Connection()) {
      xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
      xcb_flush(c);
    }
  }

  std::set<xcb_window_t> icons_;
  bool filterInstalled_ = false, holding_ = false, asked_ = false;
  QPointer<QWidget> target_;
  QTimer* limit_ = nullptr;
  QMetaObject::Connection focusWatch_;
};

}  // namespace

struct TrayIcon::Private {
  QSystemTrayIcon icon;
  QIcon normal = statusIcon(false), highlighted = statusIcon(true);
  std::function<void(const fnd::Point&)> handler;
};

TrayIcon::TrayIcon() : p_(std::make_unique<Private>()) {
  KESTO_ASSERT_MAIN_THREAD();
  p_->icon.setIcon(p_->normal);
  QObject::connect(&p_->icon, &QSystemTrayIcon::activated, [p = p_.get()](QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) return;
    fnd::Point pointer = fromToolkit(QCursor::pos());
    QTimer::singleShot(0, &p->icon, [p, pointer] {
      const bool x11 = detail::x11Connection() != nullptr;
      if (x11) KeyHold::shared().beginHandler();
      if (p->handler) p->handler(pointer);
      if (x11) KeyHold::shared().endHandler();
    });
  });
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::isSystemTrayAvailable() {
  if (availableOverride()) return *availableOverride();
  return qGuiApp && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setAvailableForTesting(std::optional<bool> available) { availableOverride() = available; }

void TrayIcon::setVisible(bool visible) {
  KESTO_ASSERT_MAIN_THREAD();
  p_->icon.setVisible(visible);
  if (visible && detail::x11Connection()) KeyHold::shared().watchIcons();
}
bool TrayIcon::isVisible() const { return p_->icon.isVisible(); }

void TrayIcon::setHighlighted(bool highlighted) {
  KESTO_ASSERT_MAIN_THREAD();
  if (highlighted_ == highlighted) return;
  highlighted_ = highlighted;
  p_->icon.setIcon(highlighted ? p_->highlighted : p_->normal);
}

void TrayIcon::setToolTip(const std::string& text) {
  KESTO_ASSERT_MAIN_THREAD();
  p_->icon.setToolTip(QString::fromStdString(text));
}

std::optional<fnd::Rect> TrayIcon::geometry() const {
  QRect r = p_->icon.geometry();
  if (!r.isValid() || r.isEmpty()) return std::nullopt;
  return fnd::Rect(double(r.x()), primaryHeight() - r.y() - r.height(), double(r.width()), double(r.height()));
}

void TrayIcon::setActivationHandler(std::function<void(const fnd::Point&)> handler) {
  KESTO_ASSERT_MAIN_THREAD();
  p_->handler = std::move(handler);
}

void TrayIcon::holdKeysFor(void* nativeWindow) {
  KESTO_ASSERT_MAIN_THREAD();
  if (detail::x11Connection()) KeyHold::shared().holdFor(static_cast<QWidget*>(nativeWindow));
}

fnd::Point TrayIcon::pointerLocation() { return fromToolkit(QCursor::pos()); }

}  // namespace kesto::sys
