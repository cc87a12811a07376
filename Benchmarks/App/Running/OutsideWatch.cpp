#include "OutsideWatch.h"

#include "RunningApp.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace kesto::bench {

std::optional<double> longestGapBetweenPolls(const std::string& perfTraceOutput) {
  // "    23.843 ( 0.026 ms): poll(ufds: 0x..., nfds: 3)   = 2": start and length in ms.
  static const std::regex line(R"(^\s*([0-9.]+) \(\s*([0-9.]+) ms\): (?:poll|ppoll|epoll_wait|epoll_pwait)\()");
  std::istringstream in(perfTraceOutput);
  std::optional<double> previousEnd, longest;
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_search(text, m, line)) continue;
    const double start = std::stod(m[1].str()), length = std::stod(m[2].str());
    if (previousEnd) longest = std::max(longest.value_or(0.0), start - *previousEnd);
    previousEnd = start + length;
  }
  return longest;
}

namespace {

// Whether process `pid` holds a perf event: the trace is attached.
bool holdsPerfEvent(pid_t pid) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code readError;
    if (std::filesystem::read_symlink(entry.path(), readError).string().find("perf_event") != std::string::npos) return true;
  }
  return false;
}

}  // namespace

OutsideWatch::OutsideWatch(pid_t pid, const std::string& workDir) {
  output_ = workDir + "/outside-" + std::to_string(pid) + ".trace";
  const std::string tid = std::to_string(pid);
  std::vector<std::string> args{"perf", "trace", "-t", tid, "-e", "poll,ppoll,epoll_wait,epoll_pwait", "-o", output_};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (posix_spawnp(&perf_, "perf", &actions, nullptr, argv.data(), environ) != 0) perf_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  const auto deadline = monotonicUs() + 10'000'000;
  while (perf_ > 0 && !holdsPerfEvent(perf_) && monotonicUs() < deadline) {
    int status = 0;
    if (waitpid(perf_, &status, WNOHANG) == perf_) {
      perf_ = -1;  // it could not trace
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::optional<double> OutsideWatch::stop() {
  if (perf_ <= 0) return std::nullopt;
  kill(perf_, SIGINT);
  int status = 0;
  waitpid(perf_, &status, 0);
  perf_ = -1;
  std::ifstream in(output_);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(output_);
  return longestGapBetweenPolls(text.str());
}

OutsideWatch::~OutsideWatch() { stop(); }

}  // namespace kesto::bench
