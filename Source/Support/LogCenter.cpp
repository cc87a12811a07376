#include "Support/LogCenter.h"

#include "Platform/Foundation/Log.h"

#include <algorithm>
#include <mutex>

namespace kesto {

namespace {
std::mutex gMutex;
std::vector<std::shared_ptr<Logger>>& loggers() {
  static auto* list = new std::vector<std::shared_ptr<Logger>>;
  return *list;
}
}  // namespace

void LogCenter::addLogger(std::shared_ptr<Logger> logger) {
  if (!logger || !logger->sink()) return;
  std::lock_guard lock(gMutex);
  auto& list = loggers();
  if (std::find(list.begin(), list.end(), logger) != list.end()) return;
  fnd::addLogSink(logger->sink());
  list.push_back(std::move(logger));
}

void LogCenter::removeLogger(const std::shared_ptr<Logger>& logger) {
  std::lock_guard lock(gMutex);
  auto& list = loggers();
  auto it = std::find(list.begin(), list.end(), logger);
  if (it == list.end()) return;
  fnd::removeLogSink(logger->sink());
  list.erase(it);
}

void LogCenter::removeAllLoggers() {
  std::lock_guard lock(gMutex);
  for (auto& logger : loggers()) fnd::removeLogSink(logger->sink());
  loggers().clear();
}

std::vector<std::shared_ptr<Logger>> LogCenter::allLoggers() {
  std::lock_guard lock(gMutex);
  return loggers();
}

void LogCenter::flush() { fnd::flushLog(); }

}  // namespace kesto
