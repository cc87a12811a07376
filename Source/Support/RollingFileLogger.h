#pragma once

#include "Support/Logger.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

// Names, lists and prunes the log files in one folder (by default the Logs folder). Files are
// named "kesto-yyyy-MM-dd--HH-mm-ss-SSS.log" in local time, so their names sort by age.
class LogFileManager {
 public:
  explicit LogFileManager(std::string logsDirectory = {});

  const std::string& logsDirectory() const;

  // How many log files are kept, the current one included (0 keeps all). Default 5.
  void setMaximumNumberOfLogFiles(std::size_t count);
  std::size_t maximumNumberOfLogFiles() const;

  // The log files of the folder, newest first.
  std::vector<std::string> sortedLogFilePaths() const;
  // Makes a new empty log file (mode 0600) and answers its path; empty on failure.
  std::string createNewLogFile();
  // Removes the oldest files beyond the maximum.
  void deleteOldLogFiles();

 private:
  std::string directory_;
  std::atomic<std::size_t> maximumNumberOfLogFiles_{5};  // set from any thread while the logger prunes
};

// Writes log lines to files that roll over when the next line would take the file past its
// maximum size, and when it is older than the rolling frequency. After each roll the file
// manager prunes the folder. On start it carries on in the newest file when that one is still
// within both limits.
class RollingFileLogger : public Logger {
 public:
  RollingFileLogger();
  explicit RollingFileLogger(std::shared_ptr<LogFileManager> manager);
  ~RollingFileLogger() override;

  // Bytes; 0 turns rolling by size off. Default 1 MiB.
  void setMaximumFileSize(std::uint64_t bytes);
  std::uint64_t maximumFileSize() const;
  // Seconds; 0 or less turns rolling by age off. Default one day.
  void setRollingFrequency(double seconds);
  double rollingFrequency() const;

  std::shared_ptr<LogFileManager> logFileManager() const;

  // The file lines go to now (opened on first use).
  std::string currentLogFilePath();
  // Starts a new file at once.
  void rollLogFile();

  std::shared_ptr<spdlog::sinks::sink> sink() const override;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace kesto
