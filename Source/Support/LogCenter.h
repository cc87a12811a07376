#pragma once

#include "Support/Logger.h"

#include <memory>
#include <vector>

namespace kesto {

// The application's loggers. Every line written through the log facility (fnd::log and its
// shorthands) reaches every logger added here, at every level.
class LogCenter {
 public:
  // Adds `logger` for all levels; adding it again changes nothing.
  static void addLogger(std::shared_ptr<Logger> logger);
  static void removeLogger(const std::shared_ptr<Logger>& logger);
  static void removeAllLoggers();
  static std::vector<std::shared_ptr<Logger>> allLoggers();
  // Writes out whatever the loggers still buffer.
  static void flush();
};

}  // namespace kesto
