#pragma once

#include "Platform/Foundation/Geometry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto::sys {

// The application's icon in the desktop's tray: a StatusNotifierItem where the desktop hosts
// them, else an icon in the XEmbed system tray. Stands in for a status item: it has no view of
// its own, so the highlight swaps the image. Main thread only.
class TrayIcon {
 public:
  TrayIcon();
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Whether the desktop shows tray icons at all (a StatusNotifier host or an XEmbed tray).
  static bool isSystemTrayAvailable();
  // Tests: answers for isSystemTrayAvailable instead of the desktop; unset asks the desktop.
  static void setAvailableForTesting(std::optional<bool> available);

  void setVisible(bool visible);
  bool isVisible() const;
  void setHighlighted(bool highlighted);
  bool isHighlighted() const { return highlighted_; }
  void setToolTip(const std::string& text);

  // The icon's place on screen (global coordinates, origin bottom left, y upwards) when the tray
  // tells it; XEmbed trays do, StatusNotifier hosts mostly do not.
  std::optional<fnd::Rect> geometry() const;

  // Runs on a click of the icon, on the main loop after the click was handled, with the
  // pointer's place (same coordinates).
  void setActivationHandler(std::function<void(const fnd::Point& pointer)> handler);
  // While an application-modal window is open (an alert, a file dialog), that window takes all
  // input: a click on any icon runs this instead of the icon's activation handler, on the main
  // loop, also where the toolkit drops the click. The application sets it at start-up (to bring
  // that window to the user); unset, such a click does nothing.
  static void setModalClickHandler(std::function<void()> handler);

  // The pointer's place now, in the same coordinates.
  static fnd::Point pointerLocation();

  struct Private;

 private:
  std::unique_ptr<Private> p_;
  bool highlighted_ = false;
};

}  // namespace kesto::sys
