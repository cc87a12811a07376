#pragma once

#include <memory>

namespace spdlog::sinks {
class sink;
}

namespace kesto {

// A destination for log lines, added to LogCenter. Each logger formats and writes the lines
// its sink receives.
class Logger {
 public:
  virtual ~Logger() = default;
  virtual std::shared_ptr<spdlog::sinks::sink> sink() const = 0;
};

}  // namespace kesto
