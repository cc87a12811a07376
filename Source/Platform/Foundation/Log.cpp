#include "Platform/Foundation/Log.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace kesto::fnd {

namespace {

spdlog::level::level_enum levelFor(LogFlag flag) {
  switch (flag) {
    case LogFlag::Error: return spdlog::level::err;
    case LogFlag::Warning: return spdlog::level::warn;
    case LogFlag::Info: return spdlog::level::info;
    case LogFlag::Debug: return spdlog::level::debug;
    case LogFlag::Verbose: return spdlog::level::trace;
  }
  return spdlog::level::info;
}

LogFlag flagFor(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::critical:
    case spdlog::level::err: return LogFlag::Error;
    case spdlog::level::warn: return LogFlag::Warning;
    case spdlog::level::debug: return LogFlag::Debug;
    case spdlog::level::trace: return LogFlag::Verbose;
    default: return LogFlag::Info;
  }
}

// One logger for the process. Sinks are added and removed through the distributing sink, which
// is safe while other threads log.
struct Center {
  std::shared_ptr<spdlog::sinks::dist_sink_mt> dist = std::make_shared<spdlog::sinks::dist_sink_mt>();
  std::shared_ptr<spdlog::sinks::sink> fallback = std::make_shared<spdlog::sinks::stderr_sink_mt>();
  spdlog::logger logger{"kesto", dist};
  std::mutex mutex;
  int userSinks = 0;

  Center() {
    fallback->set_pattern("%Y-%m-%d %H:%M:%S.%e kesto[%P:%t] %v");
    dist->add_sink(fallback);
    logger.set_level(spdlog::level::trace);
    logger.flush_on(spdlog::level::err);
  }
};

Center& center() {
  // Never destroyed: threads may still log while the process exits.
  static Center* c = new Center;
  return *c;
}

}  // namespace

void log(LogFlag flag, std::string_view message) {
  center().logger.log(levelFor(flag), spdlog::string_view_t(message.data(), message.size()));
}

void logError(std::string_view message) { log(LogFlag::Error, message); }
void logWarning(std::string_view message) { log(LogFlag::Warning, message); }
void logInfo(std::string_view message) { log(LogFlag::Info, message); }
void logDebug(std::string_view message) { log(LogFlag::Debug, message); }

void logFormat(LogFlag flag, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
  log(flag, text);
}

std::string withoutAddressPasswords(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t done = 0;
  for (std::size_t mark = text.find("://"); mark != std::string_view::npos; mark = text.find("://", mark + 3)) {
    const std::size_t start = mark + 3;
    if (start < done) continue;
    // The authority ends where the path, query or fragment begins, or the text around it goes on.
    std::size_t end = start;
    while (end < text.size() && std::string_view("/?#\\ \t\r\n").find(text[end]) == std::string_view::npos) ++end;
    if (end == start) continue;
    const std::size_t at = text.rfind('@', end - 1);
    if (at == std::string_view::npos || at < start) continue;
    const std::size_t colon = text.find(':', start);
    if (colon >= at) continue;
    out.append(text.substr(done, colon - done));
    done = at;
  }
  out.append(text.substr(done));
  return out;
}

bool runLoggingExceptions(const std::function<void()>& work, std::string_view failure,
                          std::string_view subject) noexcept {
  auto report = [&](const char* reason) {
    std::string message(failure);
    message += subject;
    if (reason) message.append(": ").append(reason);
    logError(message);
  };
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report(nullptr);
  }
  return false;
}

void setLogLevel(LogFlag mostVerboseFlag) { center().logger.set_level(levelFor(mostVerboseFlag)); }

void addLogSink(std::shared_ptr<spdlog::sinks::sink> sink) {
  if (!sink) return;
  Center& c = center();
  std::lock_guard lock(c.mutex);
  if (c.userSinks++ == 0) c.dist->remove_sink(c.fallback);
  c.dist->add_sink(std::move(sink));
}

void removeLogSink(const std::shared_ptr<spdlog::sinks::sink>& sink) {
  if (!sink) return;
  Center& c = center();
  std::lock_guard lock(c.mutex);
  auto sinks = c.dist->sinks();
  if (std::find(sinks.begin(), sinks.end(), sink) == sinks.end()) return;
  c.dist->remove_sink(sink);
  if (--c.userSinks == 0) c.dist->add_sink(c.fallback);
}

void removeAllLogSinks() {
  Center& c = center();
  std::lock_guard lock(c.mutex);
  c.dist->set_sinks({c.fallback});
  c.userSinks = 0;
}

void flushLog() { center().logger.flush(); }

// The capture is a sink of its own that sits beside the others without counting as one: it
// must not silence the default output.
struct LogCapture::Impl : spdlog::sinks::base_sink<std::mutex> {
  std::vector<Line> lines;

  void sink_it_(const spdlog::details::log_msg& msg) override {
    lines.push_back({flagFor(msg.level), std::string(msg.payload.data(), msg.payload.size())});
  }
  void flush_() override {}
  std::vector<Line> snapshot() {
    std::lock_guard lock(mutex_);
    return lines;
  }
  void reset() {
    std::lock_guard lock(mutex_);
    lines.clear();
  }
};

LogCapture::LogCapture() : impl_(std::make_shared<Impl>()) { center().dist->add_sink(impl_); }

LogCapture::~LogCapture() { center().dist->remove_sink(impl_); }

std::vector<LogCapture::Line> LogCapture::lines() const { return impl_->snapshot(); }

std::vector<std::string> LogCapture::messages() const {
  std::vector<std::string> out;
  for (auto& line : impl_->snapshot()) out.push_back(line.message);
  return out;
}

bool LogCapture::contains(std::string_view text) const {
  for (auto& line : impl_->snapshot())
    if (line.message.find(text) != std::string::npos) return true;
  return false;
}

void LogCapture::clear() { impl_->reset(); }

}  // namespace kesto::fnd
