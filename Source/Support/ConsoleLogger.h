#pragma once

#include "Platform/Foundation/Log.h"
#include "Support/Logger.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

// A colour by components between 0 and 1.
struct LogColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
};

// Writes log lines to a terminal stream, each level in the colours given for its flag.
class ConsoleLogger : public Logger {
 public:
  // The logger for standard error. Colours are written only when standard error is a terminal:
  // escape sequences would be noise in a redirected log.
  static std::shared_ptr<ConsoleLogger> sharedInstance();

  // A logger for `stream`; with `onlyOnTerminal` false it colours whatever the stream is.
  explicit ConsoleLogger(std::FILE* stream, bool onlyOnTerminal = true);
  ~ConsoleLogger() override;

  void setColorsEnabled(bool enabled);
  bool colorsEnabled() const;

  // Colours for the lines of `flag`; an absent colour leaves the terminal's own.
  void setForegroundColor(std::optional<LogColor> foreground, std::optional<LogColor> background,
                          fnd::LogFlag flag);

  // The escape sequence that starts a line of `flag` (empty when it is not coloured).
  std::string colorSequenceForFlag(fnd::LogFlag flag) const;

  std::shared_ptr<spdlog::sinks::sink> sink() const override;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace kesto
