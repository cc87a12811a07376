#pragma once

#include "Platform/Foundation/StringFormat.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

// Levels of the client's log.
enum SFLogLevel : int {
  SFLogLevelInfo = 0,
  SFLogLevelAnalytics = 1,
  SFLogLevelWarning = 2,
  SFLogLevelError = 3,
  SFLogLevelFatal = 4,
};

// Called after the system log with the level, the prefixed format and the caller's arguments.
using SFLogHandler = std::function<void(int level, std::string_view format, const std::vector<fnd::Value>& args)>;

// Logs "[LEVEL] message" when the level is at least the minimum level (WARNING at start).
void SFLogv(int level, std::string_view format, const std::vector<fnd::Value>& args);
template <typename... Args>
void SFLogWithLevel(int level, std::string_view format, const Args&... args) {
  SFLogv(level, format, std::vector<fnd::Value>{fnd::Value(args)...});
}
template <typename... Args>
void SFLogInfo(std::string_view format, const Args&... args) {
  SFLogWithLevel(SFLogLevelInfo, format, args...);
}
template <typename... Args>
void SFLogWarning(std::string_view format, const Args&... args) {
  SFLogWithLevel(SFLogLevelWarning, format, args...);
}
template <typename... Args>
void SFLogError(std::string_view format, const Args&... args) {
  SFLogWithLevel(SFLogLevelError, format, args...);
}
template <typename... Args>
void SFLogFatal(std::string_view format, const Args&... args) {
  SFLogWithLevel(SFLogLevelFatal, format, args...);
}

void SFLogSetMinimumLevel(int level);
void SFLogSetHandler(SFLogHandler handler);
// "INFO", "ANALYTICS", "WARNING", "ERROR", "FATAL"; empty for any other value.
std::string SFLogLevelString(int level);
// $HOME/tmp/run.log, fixed at first use.
const std::string& SFLogRunLogPath();
// Reopens standard error onto the run log, emptying it.
void SFLogRedirectStderr();

// A line straight to the system log, without level or handler.
void SFLogSystem(const std::string& message);

}  // namespace kesto
