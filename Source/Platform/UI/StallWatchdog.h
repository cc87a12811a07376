#pragma once

#include <cstdint>
#include <string>

namespace kesto::ui {

// Finds where the main thread stops answering: a thread of its own watches how long the event
// loop has been busy since it last waited for events, and when that passes the threshold it
// takes the main thread's stack (through a signal) and appends one report per stall to a file.
// Off unless KESTO_STALL_LOG names a file (the end-to-end harness sets it); KESTO_STALL_MS
// sets the threshold in milliseconds (default 100).
class StallWatchdog {
 public:
  // Starts watching when the environment asks for it; call on the main thread once the
  // application object exists. Answers whether it watches.
  static bool startFromEnvironment();
  static bool start(const std::string& logPath, std::int64_t thresholdMs);
  static void stop();
  // Stalls reported since start.
  static std::int64_t reportedStalls();
};

}  // namespace kesto::ui
