#pragma once

// Shared by the loggers: one line layout and one level mapping.

#include "Platform/Foundation/Log.h"

#include <spdlog/details/log_msg.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>

#include <memory>
#include <mutex>

namespace kesto::logging {

// "2026-01-31 12:00:00.000 kesto[pid:tid] message"
inline std::unique_ptr<spdlog::formatter> makeLineFormatter() {
  return std::make_unique<spdlog::pattern_formatter>("%Y-%m-%d %H:%M:%S.%e kesto[%P:%t] %v");
}

inline fnd::LogFlag flagForLevel(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::critical:
    case spdlog::level::err: return fnd::LogFlag::Error;
    case spdlog::level::warn: return fnd::LogFlag::Warning;
    case spdlog::level::debug: return fnd::LogFlag::Debug;
    case spdlog::level::trace: return fnd::LogFlag::Verbose;
    default: return fnd::LogFlag::Info;
  }
}

// The loggers' sinks: lines in the one layout unless another formatter is set, and the loggers'
// own work on the sink done under the sink's lock, so never during a write.
struct LineSink : spdlog::sinks::base_sink<std::mutex> {
  std::unique_ptr<spdlog::formatter> lineFormatter = makeLineFormatter();

  void set_formatter_(std::unique_ptr<spdlog::formatter> f) override { lineFormatter = std::move(f); }
  template <class Work>
  auto locked(Work&& work) {
    std::lock_guard guard(mutex_);
    return work();
  }
};

}  // namespace kesto::logging
