#pragma once

#include <string>

namespace kesto {

// The switch that starts Kesto when the user logs in: an XDG autostart entry for this program.
// It keeps no state: every read and write goes to the autostart folder.
class LoginItemController {
 public:
  // The running program, or the given path (tests).
  explicit LoginItemController(std::string executable = {});

  bool launchAtLogin() const;
  // Answers whether the autostart folder now says what was asked.
  bool setLaunchAtLogin(bool enabled);

  const std::string& appPath() const { return executable_; }

 private:
  std::string executable_;
};

}  // namespace kesto
