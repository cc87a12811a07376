#pragma once

// Watches a program's main thread from outside, through the kernel rather than the marks the
// program writes of itself: `perf trace` records when the thread enters and leaves poll, where
// its event loop looks for input. The longest time between leaving one poll and entering the
// next is the longest the user's input waited. Needs perf and the right to trace the program
// (root, or kernel.perf_event_paranoid lowered); without them the watch answers nothing.

#include <sys/types.h>

#include <optional>
#include <string>

namespace kesto::bench {

// The longest time in ms between a poll's end and the next poll's start in `perf trace` output;
// nothing when it holds fewer than two polls.
std::optional<double> longestGapBetweenPolls(const std::string& perfTraceOutput);

class OutsideWatch {
 public:
  // Starts tracing the thread `pid` (its main thread) and answers once the trace is running,
  // or after 10 s when it does not start.
  OutsideWatch(pid_t pid, const std::string& workDir);
  ~OutsideWatch();
  OutsideWatch(const OutsideWatch&) = delete;
  OutsideWatch& operator=(const OutsideWatch&) = delete;

  // Stops the trace and answers the longest stall it saw, in ms.
  std::optional<double> stop();

 private:
  pid_t perf_ = -1;
  std::string output_;
};

}  // namespace kesto::bench
