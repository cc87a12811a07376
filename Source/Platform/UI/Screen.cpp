#include "Platform/UI/Screen.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/Window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kesto::ui {

namespace {
QScreen* qscreen(int index) {
  auto list = QGuiApplication::screens();
  if (index < 0 || index >= list.size()) return nullptr;
  return list[index];
}
fnd::Rect toScreenRect(const QRect& r) {
  double h = Screen::primaryHeight();
  return fnd::Rect(r.x(), h - (r.y() + r.height()), r.width(), r.height());
}
}  // namespace

double Screen::primaryHeight() {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().height() : 0;
}

Screen Screen::primary() {
  QScreen* s = QGuiApplication::primaryScreen();
  return Screen(s ? int(QGuiApplication::screens().indexOf(s)) : -1);
}

Screen Screen::main() {
  if (Window* key = Application::shared().keyWindow()) {
    Screen s = key->screen();
    if (s.isValid()) return s;
  }
  return primary();
}

std::vector<Screen> Screen::screens() {
  std::vector<Screen> out;
  for (int i = 0; i < QGuiApplication::screens().size(); ++i) out.emplace_back(i);
  return out;
}

fnd::Rect Screen::frame() const {
  QScreen* s = qscreen(index_);
  return s ? toScreenRect(s->geometry()) : fnd::Rect();
}

fnd::Rect Screen::visibleFrame() const {
  QScreen* s = qscreen(index_);
  return s ? toScreenRect(s->availableGeometry()) : fnd::Rect();
}

double Screen::backingScaleFactor() const {
  QScreen* s = qscreen(index_);
  return s ? s->devicePixelRatio() : 1.0;
}

double Screen::refreshRate() const {
  QScreen* s = qscreen(index_);
  double r = s ? s->refreshRate() : 0;
  return r > 1 ? r : 60.0;
}

}  // namespace kesto::ui
