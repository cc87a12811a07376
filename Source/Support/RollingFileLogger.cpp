#include "Support/RollingFileLogger.h"

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Support/LogFormat_p.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kesto {

using fnd::FileManager;

namespace {

constexpr const char* kPrefix = "kesto-";
constexpr const char* kSuffix = ".log";

std::string timestampForName(fnd::Date date) {
  double seconds = date.timeIntervalSince1970();
  std::time_t whole = static_cast<std::time_t>(std::floor(seconds));
  int millis = static_cast<int>((seconds - static_cast<double>(whole)) * 1000.0);
  std::tm tm{};
  ::localtime_r(&whole, &tm);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d--%02d-%02d-%02d-%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, std::clamp(millis, 0, 999));
  return buffer;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Names carry their creation time, and a same-millisecond twin gets "~N" (N counting up from
// 1). The number is compared as a number, so "~10" is newer than "~9".
struct Key {
  std::string stamp;  // the path without the twin number and the suffix
  unsigned long twin = 0;
};

Key keyOf(const std::string& path) {
  Key key{path.substr(0, path.size() - std::strlen(kSuffix))};
  const std::size_t tilde = key.stamp.rfind('~');
  if (tilde != std::string::npos && tilde + 1 < key.stamp.size() && tilde + 10 > key.stamp.size() &&
      std::all_of(key.stamp.begin() + static_cast<std::ptrdiff_t>(tilde) + 1, key.stamp.end(),
                  [](unsigned char c) { return std::isdigit(c); })) {
    key.twin = std::stoul(key.stamp.substr(tilde + 1));
    key.stamp.resize(tilde);
  }
  return key;
}

}  // namespace

// ---- LogFileManager

LogFileManager::LogFileManager(std::string logsDirectory)
    : directory_(logsDirectory.empty() ? fnd::StandardPaths::logsDirectory() : std::move(logsDirectory)) {}

const std::string& LogFileManager::logsDirectory() const { return directory_; }

void LogFileManager::setMaximumNumberOfLogFiles(std::size_t count) { maximumNumberOfLogFiles_ = count; }
std::size_t LogFileManager::maximumNumberOfLogFiles() const { return maximumNumberOfLogFiles_; }

std::vector<std::string> LogFileManager::sortedLogFilePaths() const {
  std::vector<std::string> paths;
  auto names = FileManager::contentsOfDirectory(directory_, true);
  if (!names) return paths;
  for (auto& name : *names)
    if (name.rfind(kPrefix, 0) == 0 && endsWith(name, kSuffix)) paths.push_back(directory_ + "/" + name);
  // Newest first: later stamps first, then higher twin numbers.
  std::vector<std::pair<Key, std::string>> keyed;
  keyed.reserve(paths.size());
  for (auto& p : paths) keyed.emplace_back(keyOf(p), std::move(p));
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    if (a.first.stamp != b.first.stamp) return a.first.stamp > b.first.stamp;
    return a.first.twin > b.first.twin;
  });
  paths.clear();
  for (auto& [key, p] : keyed) paths.push_back(std::move(p));
  return paths;
}

std::string LogFileManager::createNewLogFile() {
  if (!FileManager::createDirectory(directory_, true, 0700)) return {};
  std::string stem = directory_ + "/" + kPrefix + timestampForName(fnd::Date::now());
  // A new twin numbers past the newest one left: reusing a free lower number (after pruning)
  // would make the new file look like the oldest.
  unsigned long first = 0;
  for (const auto& path : sortedLogFilePaths()) {
    Key key = keyOf(path);
    if (key.stamp == stem) {
      first = key.twin + 1;
      break;
    }
  }
  for (unsigned long attempt = first; attempt < first + 1000; ++attempt) {
    std::string path = stem + (attempt == 0 ? "" : "~" + std::to_string(attempt)) + kSuffix;
    int fd = FileManager::createPrivateFile(path);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

void LogFileManager::deleteOldLogFiles() {
  const std::size_t keep = maximumNumberOfLogFiles_;
  if (keep == 0) return;
  auto paths = sortedLogFilePaths();
  for (std::size_t i = keep; i < paths.size(); ++i) FileManager::removeItem(paths[i]);
}

// ---- RollingFileLogger

struct RollingFileLogger::Impl : logging::LineSink {
  std::shared_ptr<LogFileManager> manager;
  std::uint64_t maximumFileSize = 1024 * 1024;
  double rollingFrequency = 24 * 60 * 60;

  int fd = -1;
  std::string path;
  std::uint64_t size = 0;
  fnd::Date opened;

  ~Impl() override { closeFile(); }

  void closeFile() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    path.clear();
    size = 0;
  }

  bool tooOld(fnd::Date created) const {
    return rollingFrequency > 0 && fnd::Date::now().timeIntervalSinceDate(created) >= rollingFrequency;
  }

  bool openFile(const std::string& p, fnd::Date created) {
    int f = ::open(p.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (f < 0) return false;
    struct stat st;
    ::fstat(f, &st);
    fd = f;
    path = p;
    size = static_cast<std::uint64_t>(st.st_size);
    opened = created;
    return true;
  }

  // Carries on in the newest file when it is within both limits, else starts a new one.
  void ensureFile() {
    if (fd >= 0) return;
    auto existing = manager->sortedLogFilePaths();
    if (!existing.empty()) {
      auto attrs = FileManager::attributesOfItem(existing.front());
      if (attrs && attrs->isRegularFile && (maximumFileSize == 0 || attrs->size < maximumFileSize) &&
          !tooOld(attrs->creationDate) && openFile(existing.front(), attrs->creationDate))
        return;
    }
    roll();
  }

  void roll() {
    closeFile();
    std::string p = manager->createNewLogFile();
    if (!p.empty()) openFile(p, fnd::Date::now());
    manager->deleteOldLogFiles();
  }

  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t formatted;
    lineFormatter->format(msg, formatted);
    ensureFile();
    if (fd >= 0 && size > 0 &&
        ((maximumFileSize > 0 && size + formatted.size() > maximumFileSize) || tooOld(opened)))
      roll();
    if (fd < 0) return;
    const char* bytes = formatted.data();
    std::size_t left = formatted.size();
    while (left > 0) {
      ssize_t n = ::write(fd, bytes, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // a full disk must not take the application down with it
      bytes += n;
      left -= static_cast<std::size_t>(n);
      size += static_cast<std::uint64_t>(n);
    }
  }

  void flush_() override {
    if (fd >= 0) ::fdatasync(fd);
  }
};

RollingFileLogger::RollingFileLogger() : RollingFileLogger(std::make_shared<LogFileManager>()) {}

RollingFileLogger::RollingFileLogger(std::shared_ptr<LogFileManager> manager) : impl_(std::make_shared<Impl>()) {
  impl_->manager = manager ? std::move(manager) : std::make_shared<LogFileManager>();
}

RollingFileLogger::~RollingFileLogger() = default;

void RollingFileLogger::setMaximumFileSize(std::uint64_t bytes) {
  impl_->locked([&] { impl_->maximumFileSize = bytes; });
}

std::uint64_t RollingFileLogger::maximumFileSize() const {
  return impl_->locked([&] { return impl_->maximumFileSize; });
}

void RollingFileLogger::setRollingFrequency(double seconds) {
  impl_->locked([&] { impl_->rollingFrequency = seconds; });
}

double RollingFileLogger::rollingFrequency() const {
  return impl_->locked([&] { return impl_->rollingFrequency; });
}

std::shared_ptr<LogFileManager> RollingFileLogger::logFileManager() const { return impl_->manager; }

std::string RollingFileLogger::currentLogFilePath() {
  return impl_->locked([&] {
    impl_->ensureFile();
    return impl_->path;
  });
}

void RollingFileLogger::rollLogFile() {
  impl_->locked([&] { impl_->roll(); });
}

std::shared_ptr<spdlog::sinks::sink> RollingFileLogger::sink() const { return impl_; }

}  // namespace kesto
