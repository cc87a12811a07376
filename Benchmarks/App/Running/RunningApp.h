#pragma once

// Drives the real kesto program on an X display and reads the timing marks it writes when
// KESTO_TIMING_LOG names a file (one line each: "<monotonic microseconds> <name> [detail]").

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kesto::bench {

struct TimingMark {
  std::int64_t us = 0;
  std::string name;
  std::string detail;
};

// Reads a mark line; nothing for a line that is not one.
std::optional<TimingMark> parseTimingMark(const std::string& line);

// The marks of one run, in the order written, with the questions the benchmarks ask of them.
class MarkLog {
 public:
  void add(TimingMark mark) { marks_.push_back(std::move(mark)); }
  const std::vector<TimingMark>& all() const { return marks_; }
  // The first mark of that name at or after `fromUs` whose detail passes `accept` (when given).
  std::optional<TimingMark> first(const std::string& name, std::int64_t fromUs,
                                   const std::function<bool(const std::string&)>& accept = {}) const;
  // When the main window first showed a reloaded list after `fromUs`: its first frame after the
  // first reload of its list with at least `minRows` rows.
  std::optional<std::int64_t> listDrawnAfter(std::int64_t fromUs, std::int64_t minRows = 0) const;
  // The longest busy stretch of the event loop that ended in [fromUs, toUs], in microseconds.
  std::int64_t longestBusy(std::int64_t fromUs, std::int64_t toUs) const;
  // The gaps between the main window's consecutive frames in [fromUs, toUs], in microseconds.
  std::vector<std::int64_t> frameGaps(std::int64_t fromUs, std::int64_t toUs) const;
  // From each input of `kind` that arrived in [fromUs, toUs] to the main window's next frame, in
  // microseconds: what of a gap between frames the program took, not the input coming late.
  std::vector<std::int64_t> inputToFrame(const std::string& kind, std::int64_t fromUs, std::int64_t toUs) const;

 private:
  std::vector<TimingMark> marks_;
};

// The value at fraction `p` (0...1) of the sorted values (nearest rank); 0 for none.
double percentile(std::vector<double> values, double p);

// One running kesto. The environment is this process's (HOME and the XDG folders of the
// benchmark's library) with the timing log and the X platform added.
class RunningApp {
 public:
  RunningApp(const std::string& binary, const std::string& workDir, const std::vector<std::string>& arguments = {});
  ~RunningApp();
  RunningApp(const RunningApp&) = delete;
  RunningApp& operator=(const RunningApp&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The monotonic time just before the program was started, in microseconds.
  std::int64_t launchedUs() const { return launchedUs_; }
  // Reads the marks written since the last call.
  const MarkLog& marks();
  // Reads marks until `done` answers true or `seconds` pass; answers `done`.
  bool waitUntil(const std::function<bool(const MarkLog&)>& done, double seconds);
  // Waits until the program's threads have used under 2% of a core over `quietMs` (it settled),
  // at most `seconds`.
  bool waitUntilIdle(int quietMs = 500, double seconds = 30);
  // Resident memory now, in MB.
  double residentMB() const;
  // The X window id of the main window, found once.
  std::string window();
  // Waits for the program to end by itself (a launch that hands its arguments over); answers
  // whether it did.
  bool waitForExit(double seconds);
  // Quits as the desktop's session end does (the library is saved) and waits for the end.
  void quit();

 private:
  std::string log_;
  std::size_t readOffset_ = 0;
  std::string partial_;
  MarkLog marks_;
  pid_t pid_ = -1;
  std::int64_t launchedUs_ = 0;
  std::string window_;
};

// Runs a program (found on PATH) and answers its standard output; nothing when it failed.
std::optional<std::string> runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment = {});
std::int64_t monotonicUs();

}  // namespace kesto::bench
