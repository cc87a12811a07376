#pragma once

#include <cstddef>
#include <string>

namespace kesto {

// Crash records for the process. There is no upload service: a fatal signal (SIGSEGV, SIGBUS,
// SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS) writes "crash-<seconds since 1970>-<pid>.log" into
// the Logs folder with the signal, the fault address, the API key's first characters and a
// backtrace, then lets the signal take its default course. The handler uses async-signal-safe
// calls only; the folder and the record's fixed text are prepared at start. Starting keeps the
// newest kKeptRecords records and removes older ones, as the log rotation does with its files.
class CrashReporter {
 public:
  static constexpr std::size_t kKeptRecords = 7;

  // Installs the handlers once (later calls do nothing and answer false). The key must be 40
  // hexadecimal characters; another key is refused and nothing is installed.
  static bool startWithAPIKey(const std::string& apiKey);
  static bool isStarted();
  // The folder crash records are written to.
  static std::string crashLogDirectory();
  // Removes all but the newest `keep` crash records of `directory` (by the time in their names).
  static void pruneCrashRecords(const std::string& directory, std::size_t keep = kKeptRecords);
};

}  // namespace kesto
