#include "Platform/UI/ApplicationMain.h"

#include "Platform/UI/Application.h"

#include <QApplication>

#include <cstdlib>

namespace kesto::ui {

bool hasGraphicalSession() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

int applicationMain(int argc, char** argv, const std::function<bool()>& setUp) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  if (setUp && !setUp()) return 1;
  return Application::shared().run();
}

}  // namespace kesto::ui
