#include "Platform/System/TrayIcon.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/System/X11Connection_p.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

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

std::function<void()>& modalClickHandler() {
  static std::function<void()> handler;
  return handler;
}

// Whether a window that blocks every other is open (an alert or file dialog run application
// modal): the toolkit then hands no click on the icon on, and whatever the icon shows takes no input.
bool applicationModalShown() {
  for (QWindow* w : QGuiApplication::topLevelWindows())
    if (w->isVisible() && w->modality() == Qt::ApplicationModal) return true;
  return false;
}

// The start of an XInput 2 device event (a button press) as xcb hands it on, in the protocol's
// layout; the toolkit takes the pointer's buttons through XInput 2 where the server has it.
struct XIDeviceEventStart {
  std::uint8_t responseType, extension;
  std::uint16_t sequence;
  std::uint32_t length;
  std::uint16_t eventType, device;
  std::uint32_t time, detail;
  xcb_window_t root, event, child;
};
static_assert(offsetof(XIDeviceEventStart, event) == 24);
constexpr std::uint16_t kXIButtonPress = 4;

std::uint8_t xinputOpcode(xcb_connection_t* c) {
  static constexpr char name[] = "XInputExtension";
  xcb_query_extension_reply_t* reply =
      xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr);
  const std::uint8_t opcode = reply && reply->present ? reply->major_opcode : 0;
  std::free(reply);
  return opcode;
}

// The window of a press of the first button, core or XInput 2; none for any other event.
xcb_window_t firstButtonPressWindow(const xcb_generic_event_t& event, std::uint8_t xinput) {
  const std::uint8_t type = event.response_type & 0x7f;
  if (type == XCB_BUTTON_PRESS) {
    const auto& press = reinterpret_cast<const xcb_button_press_event_t&>(event);
    return press.detail == 1 ? press.event : XCB_NONE;
  }
  if (type != XCB_GE_GENERIC || !xinput) return XCB_NONE;
  const auto& device = reinterpret_cast<const XIDeviceEventStart&>(event);
  return device.extension == xinput && device.eventType == kXIButtonPress && device.detail == 1 ? device.event
                                                                                             : XCB_NONE;
}

}  // namespace

struct TrayIcon::Private : QAbstractNativeEventFilter {
  QSystemTrayIcon icon;
  QIcon normal = statusIcon(false), highlighted = statusIcon(true);
  std::function<void(const fnd::Point&)> handler;
  std::uint8_t xinput = 0;

  // A click while an application-modal window is open goes to that window, the one that takes
  // the input; otherwise to the icon's handler. On the main loop, after the click was handled.
  void clicked(const fnd::Point& pointer) {
    QTimer::singleShot(0, &icon, [this, pointer, modal = applicationModalShown()] {
      if (!modal) {
        if (handler) handler(pointer);
      } else if (modalClickHandler()) {
        modalClickHandler()();
      }
    });
  }

  // Whether the X window is the icon's own in the XEmbed tray.
  bool isIconWindow(xcb_window_t id) const {
    for (QWindow* w : QGuiApplication::allWindows())
      if (w->handle() && xcb_window_t(w->winId()) == id)
        return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()) == icon.geometry();
    return false;
  }

  // The toolkit drops a press on the icon's window while a modal window blocks it; it is seen
  // here first, and left to the toolkit.
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    const xcb_window_t window = firstButtonPressWindow(*static_cast<xcb_generic_event_t*>(message), xinput);
    if (window != XCB_NONE && applicationModalShown() && isIconWindow(window)) clicked(fromToolkit(QCursor::pos()));
    return false;
  }
};

TrayIcon::TrayIcon() : p_(std::make_unique<Private>()) {
  KESTO_ASSERT_MAIN_THREAD();
  p_->icon.setIcon(p_->normal);
  QObject::connect(&p_->icon, &QSystemTrayIcon::activated, [p = p_.get()](QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) return;
    p->clicked(fromToolkit(QCursor::pos()));
  });
  if (xcb_connection_t* c = detail::x11Connection()) {
    p_->xinput = xinputOpcode(c);
    QCoreApplication::instance()->installNativeEventFilter(p_.get());
  }
}

TrayIcon::~TrayIcon() {
  if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(p_.get());
}

void TrayIcon::setModalClickHandler(std::function<void()> handler) { modalClickHandler() = std::move(handler); }

bool TrayIcon::isSystemTrayAvailable() {
  if (availableOverride()) return *availableOverride();
  return qGuiApp && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setAvailableForTesting(std::optional<bool> available) { availableOverride() = available; }

void TrayIcon::setVisible(bool visible) {
  KESTO_ASSERT_MAIN_THREAD();
  p_->icon.setVisible(visible);
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

fnd::Point TrayIcon::pointerLocation() { return fromToolkit(QCursor::pos()); }

}  // namespace kesto::sys
