#include "Skyfolder/SFLog.h"

#include "Platform/Foundation/Log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kesto {

namespace {

std::atomic<int> gMinimumLevel{SFLogLevelWarning};
std::mutex gHandlerMutex;
SFLogHandler gHandler;

}  // namespace

void SFLogSystem(const std::string& message) { fnd::logInfo(message); }

void SFLogv(int level, std::string_view format, const std::vector<fnd::Value>& args) {
  if (level < gMinimumLevel.load()) return;
  const std::string prefixed = "[" + SFLogLevelString(level) + "] " + std::string(format);
  const std::string message = fnd::formatValues(prefixed, args);
  if (level >= SFLogLevelError)
    fnd::logError(message);
  else if (level == SFLogLevelWarning)
    fnd::logWarning(message);
  else
    fnd::logInfo(message);
  SFLogHandler handler;
  {
    std::lock_guard lock(gHandlerMutex);
    handler = gHandler;
  }
  if (handler) handler(level, prefixed, args);
}

void SFLogSetMinimumLevel(int level) { gMinimumLevel = level; }

void SFLogSetHandler(SFLogHandler handler) {
  std::lock_guard lock(gHandlerMutex);
  gHandler = std::move(handler);
}

std::string SFLogLevelString(int level) {
  switch (level) {
    case SFLogLevelInfo: return "INFO";
    case SFLogLevelAnalytics: return "ANALYTICS";
    case SFLogLevelWarning: return "WARNING";
    case SFLogLevelError: return "ERROR";
    case SFLogLevelFatal: return "FATAL";
    default: return "";
  }
}

const std::string& SFLogRunLogPath() {
  static const std::string path = [] {
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/tmp/run.log";
  }();
  return path;
}

void SFLogRedirectStderr() {
  if (!std::freopen(SFLogRunLogPath().c_str(), "w", stderr))
    fnd::logWarning("could not redirect standard error to the run log");
}

}  // namespace kesto
