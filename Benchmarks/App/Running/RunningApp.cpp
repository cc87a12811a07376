#include "RunningApp.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kesto::bench {

std::int64_t monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::optional<TimingMark> parseTimingMark(const std::string& line) {
  TimingMark m;
  std::size_t used = 0;
  try {
    m.us = std::stoll(line, &used);
  } catch (...) {
    return std::nullopt;
  }
  if (used >= line.size() || line[used] != ' ') return std::nullopt;
  const auto nameEnd = line.find(' ', used + 1);
  m.name = line.substr(used + 1, nameEnd == std::string::npos ? std::string::npos : nameEnd - used - 1);
  if (m.name.empty()) return std::nullopt;
  if (nameEnd != std::string::npos) m.detail = line.substr(nameEnd + 1);
  return m;
}

std::optional<TimingMark> MarkLog::first(const std::string& name, std::int64_t fromUs,
                                         const std::function<bool(const std::string&)>& accept) const {
  for (const auto& m : marks_)
    if (m.us >= fromUs && m.name == name && (!accept || accept(m.detail))) return m;
  return std::nullopt;
}

std::optional<std::int64_t> MarkLog::listDrawnAfter(std::int64_t fromUs, std::int64_t minRows) const {
  // "list-reload <rows> <window title>"
  auto reload = first("list-reload", fromUs, [minRows](const std::string& d) {
    const auto space = d.find(' ');
    return space != std::string::npos && d.substr(space + 1) == "Kesto" && std::atoll(d.c_str()) >= minRows;
  });
  if (!reload) return std::nullopt;
  auto frame = first("frame", reload->us, [](const std::string& d) { return d == "Kesto"; });
  if (!frame) return std::nullopt;
  return frame->us;
}

std::int64_t MarkLog::longestBusy(std::int64_t fromUs, std::int64_t toUs) const {
  std::int64_t longest = 0;
  for (const auto& m : marks_)
    if (m.name == "busy" && m.us >= fromUs && m.us <= toUs) longest = std::max<std::int64_t>(longest, std::atoll(m.detail.c_str()));
  return longest;
}

std::vector<std::int64_t> MarkLog::frameGaps(std::int64_t fromUs, std::int64_t toUs) const {
  std::vector<std::int64_t> gaps;
  std::int64_t last = -1;
  for (const auto& m : marks_) {
    if (m.name != "frame" || m.detail != "Kesto" || m.us < fromUs || m.us > toUs) continue;
    if (last >= 0) gaps.push_back(m.us - last);
    last = m.us;
  }
  return gaps;
}

std::vector<std::int64_t> MarkLog::inputToFrame(const std::string& kind, std::int64_t fromUs, std::int64_t toUs) const {
  std::vector<std::int64_t> delays;
  std::vector<std::int64_t> waiting;  // inputs not yet followed by a frame
  for (const auto& m : marks_) {
    if (m.us < fromUs) continue;
    if (m.name == "input" && m.detail == kind && m.us <= toUs) waiting.push_back(m.us);
    if (m.name == "frame" && m.detail == "Kesto") {
      for (auto at : waiting) delays.push_back(m.us - at);
      waiting.clear();
    }
  }
  return delays;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

namespace {

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    const auto name = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) { return x.rfind(name + "=", 0) == 0; });
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (auto& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

// Starts a program with its output to `outputFd` (or inherited), answers its process id.
pid_t spawn(const std::string& program, std::vector<std::string> arguments, const std::vector<std::string>& extraEnvironment,
            int outputFd, bool searchPath) {
  arguments.insert(arguments.begin(), program);
  auto env = environmentWith(extraEnvironment);
  auto argv = pointers(arguments);
  auto envp = pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  const int rc = searchPath ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data())
                            : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

std::int64_t cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The fields after the command name, which may hold spaces, closed by the last parenthesis.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  std::int64_t utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::atoll(field.c_str());
    if (i == 15) {
      stime = std::atoll(field.c_str());
      break;
    }
  }
  return utime + stime;
}

}  // namespace

std::optional<std::string> runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment) {
  if (arguments.empty()) return std::nullopt;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  pid_t pid = spawn(arguments.front(), {arguments.begin() + 1, arguments.end()}, extraEnvironment, fds[1], true);
  close(fds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  if (pid < 0) return std::nullopt;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

RunningApp::RunningApp(const std::string& binary, const std::string& workDir, const std::vector<std::string>& arguments)
    : log_(workDir + "/timing-" + std::to_string(monotonicUs()) + ".log") {
  const int output = open((workDir + "/kesto-output.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  launchedUs_ = monotonicUs();
  pid_ = spawn(binary, arguments, {"KESTO_TIMING_LOG=" + log_, "QT_QPA_PLATFORM=xcb"}, output, false);
  if (output >= 0) close(output);
}

RunningApp::~RunningApp() {
  quit();
  if (!std::getenv("KESTO_BENCH_WORK")) unlink(log_.c_str());
}

const MarkLog& RunningApp::marks() {
  std::ifstream in(log_, std::ios::binary);
  if (!in) return marks_;
  in.seekg(static_cast<std::streamoff>(readOffset_));
  std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  readOffset_ += chunk.size();
  partial_ += chunk;
  std::size_t start = 0;
  for (std::size_t nl; (nl = partial_.find('\n', start)) != std::string::npos; start = nl + 1)
    if (auto m = parseTimingMark(partial_.substr(start, nl - start))) marks_.add(std::move(*m));
  partial_.erase(0, start);
  return marks_;
}

bool RunningApp::waitUntil(const std::function<bool(const MarkLog&)>& done, double seconds) {
  const auto deadline = monotonicUs() + static_cast<std::int64_t>(seconds * 1e6);
  while (true) {
    if (done(marks())) return true;
    if (monotonicUs() > deadline || !started()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool RunningApp::waitUntilIdle(int quietMs, double seconds) {
  const auto deadline = monotonicUs() + static_cast<std::int64_t>(seconds * 1e6);
  const double ticksPerMs = static_cast<double>(sysconf(_SC_CLK_TCK)) / 1000.0;
  while (monotonicUs() < deadline && started()) {
    const auto before = cpuTicks(pid_);
    std::this_thread::sleep_for(std::chrono::milliseconds(quietMs));
    const auto used = cpuTicks(pid_) - before;
    if (before >= 0 && static_cast<double>(used) <= 0.02 * quietMs * ticksPerMs) return true;
  }
  return false;
}

double RunningApp::residentMB() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

std::string RunningApp::window() {
  if (window_.empty() && started()) {
    if (auto out = runTool({"timeout", "20", "xdotool", "search", "--all", "--sync", "--onlyvisible", "--pid", std::to_string(pid_), "--name", "^Kesto$"}))
      window_ = out->substr(0, out->find('\n'));
  }
  return window_;
}

bool RunningApp::waitForExit(double seconds) {
  const auto deadline = monotonicUs() + static_cast<std::int64_t>(seconds * 1e6);
  int status = 0;
  while (pid_ > 0) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
    else if (monotonicUs() > deadline) return false;
    else std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void RunningApp::quit() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (waitForExit(30)) return;
  int status = 0;
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace kesto::bench
