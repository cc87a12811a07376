#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kesto::ui {

// Marks for timing the running program from outside (the application-path benchmarks): when
// KESTO_TIMING_LOG names a file, each mark appends one line "<microseconds> <name>[ <detail>]".
// The microseconds are on the monotonic clock all processes of the machine share, so a harness
// sets them against its own. Off unless the environment asks; then a mark costs one flag test.
class TimingMarks {
 public:
  static bool enabled();
  static void mark(std::string_view name, std::string_view detail = {});
  static void mark(std::string_view name, std::int64_t detail);
  // Besides the program's own marks, once started: each frame a window paints ("frame <title>"),
  // each key press, button press and wheel turn ("input key|button|wheel"), and each stretch of
  // the event loop busy for the threshold or longer ("busy <microseconds>", written as it ends).
  // KESTO_TIMING_BUSY_MS sets the threshold (default 16). Call once the toolkit's application
  // object exists; answers whether it runs.
  static bool startFromEnvironment();
  static bool start(const std::string& logPath, std::int64_t busyThresholdMs);
  static void stop();
  static std::int64_t nowMicroseconds();
};

}  // namespace kesto::ui
