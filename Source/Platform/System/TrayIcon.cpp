#include "Platform/System/TrayIcon.h"

#include "Platform/Foundation/Assert.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

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
      if (p->handler) p->handler(pointer);
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
