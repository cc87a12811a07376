#pragma once

#include <functional>
#include <memory>

namespace kesto::ui {

// A per-frame callback bound to a display, run on the main thread from a timer at the display's
// refresh rate (60 Hz when it reports none). In manual mode no timer runs: tests call step() to
// deliver one frame to every running link, in the order they started.
class DisplayLink {
 public:
  DisplayLink();
  ~DisplayLink();
  DisplayLink(const DisplayLink&) = delete;
  DisplayLink& operator=(const DisplayLink&) = delete;

  void setOutputCallback(std::function<void()> callback);
  void start();
  void stop();
  bool isRunning() const;
  // Binds the link to a screen number (Screen::number); its refresh rate sets the interval.
  void setCurrentDisplay(int screenNumber);
  int currentDisplay() const;

  static void setManualMode(bool manual);
  static bool isManualMode();
  // Delivers one frame to every running link; answers how many ran.
  static int step();

  struct Impl;

 private:
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::ui
