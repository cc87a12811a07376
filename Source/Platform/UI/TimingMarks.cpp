#include "Platform/UI/TimingMarks.h"

#include "Platform/UI/EnvironmentLog_p.h"
#include "Platform/UI/MainLoopHooks_p.h"

#include <QInputEvent>
#include <QWidget>
#include <QWindow>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kesto::ui {
namespace {

int openLog(const char* path) {
  if (!path || !*path) return -1;
  return ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

// The log of this process: opened from the environment on first use, so marks taken before
// the toolkit exists (the program's first line) are kept too.
int& logFd() {
  static int fd = openLog(std::getenv("KESTO_TIMING_LOG"));
  return fd;
}

void writeLine(std::string_view name, std::string_view detail) {
  const int fd = logFd();
  if (fd < 0) return;
  char line[512];
  int n = std::snprintf(line, sizeof line, "%lld %.*s%s%.*s\n", static_cast<long long>(TimingMarks::nowMicroseconds()),
                        static_cast<int>(name.size()), name.data(), detail.empty() ? "" : " ",
                        static_cast<int>(std::min<std::size_t>(detail.size(), 400)), detail.data());
  if (n <= 0) return;
  n = std::min<int>(n, sizeof line - 1);
  line[n - 1] = '\n';
  // One write per line on an append-only file: lines of several processes never interleave.
  ssize_t ignored = ::write(fd, line, static_cast<std::size_t>(n));
  (void)ignored;
}

// Sees what the application delivers: input, the frames of top-level windows, and the first
// event after the loop has waited (the start of a busy stretch).
class Hooks : public QObject {
 public:
  explicit Hooks(std::int64_t thresholdUs) : thresholdUs_(thresholdUs) {}

  bool eventFilter(QObject* receiver, QEvent* e) override {
    if (busySince_ == 0) busySince_ = TimingMarks::nowMicroseconds();
    switch (e->type()) {
      case QEvent::KeyPress: input(e, "key"); break;
      case QEvent::MouseButtonPress: input(e, "button"); break;
      case QEvent::Wheel: input(e, "wheel"); break;
      case QEvent::UpdateRequest: return frame(receiver, e);
      case QEvent::Paint: ++paints_; break;
      default: break;
    }
    return false;
  }

  void aboutToBlock() {
    if (busySince_ == 0) return;
    const auto busy = TimingMarks::nowMicroseconds() - busySince_;
    busySince_ = 0;
    if (busy >= thresholdUs_) TimingMarks::mark("busy", busy);
  }

 private:
  // An input event travels from the window to the widget and up its parents, passing here each
  // time: one mark per event the window system sent.
  void input(QEvent* e, const char* kind) {
    if (!e->spontaneous()) return;
    const auto stamp = static_cast<QInputEvent*>(e)->timestamp();
    if (stamp == lastStamp_ && e->type() == lastType_) return;
    lastStamp_ = stamp;
    lastType_ = e->type();
    TimingMarks::mark("input", kind);
  }

  // A top-level window paints and flushes its frame while handling the update request: the mark
  // goes after that, so it tells when the frame reached the window system. An update that
  // painted nothing is no frame.
  bool frame(QObject* receiver, QEvent* e) {
    QString title;
    if (auto* window = qobject_cast<QWindow*>(receiver)) title = window->title();
    else if (auto* widget = qobject_cast<QWidget*>(receiver); widget && widget->isWindow()) title = widget->windowTitle();
    else return false;
    if (painting_) return false;
    painting_ = true;
    const auto paintsBefore = paints_;
    receiver->event(e);
    painting_ = false;
    if (paints_ != paintsBefore) TimingMarks::mark("frame", title.toStdString());
    return true;
  }

  std::int64_t thresholdUs_;
  std::int64_t busySince_ = 0;
  quint64 lastStamp_ = 0;
  QEvent::Type lastType_ = QEvent::None;
  bool painting_ = false;
  std::uint64_t paints_ = 0;
};

MainLoopHooks* gRunning = nullptr;

}  // namespace

std::int64_t TimingMarks::nowMicroseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool TimingMarks::enabled() { return logFd() >= 0; }

void TimingMarks::mark(std::string_view name, std::string_view detail) {
  if (logFd() >= 0) writeLine(name, detail);
}

void TimingMarks::mark(std::string_view name, std::int64_t detail) {
  if (logFd() < 0) return;
  writeLine(name, std::to_string(detail));
}

bool TimingMarks::startFromEnvironment() {
  auto log = environmentLog("KESTO_TIMING_LOG", "KESTO_TIMING_BUSY_MS", 16);
  return log && start(log->path, log->thresholdMs);
}

bool TimingMarks::start(const std::string& logPath, std::int64_t busyThresholdMs) {
  auto* dispatcher = MainLoopHooks::dispatcher();
  if (gRunning || !dispatcher || busyThresholdMs <= 0) return false;
  const char* fromEnvironment = std::getenv("KESTO_TIMING_LOG");
  if (logFd() < 0 || !fromEnvironment || logPath != fromEnvironment) {
    if (logFd() >= 0) ::close(logFd());
    logFd() = openLog(logPath.c_str());
  }
  if (logFd() < 0) return false;
  auto* hooks = new Hooks(busyThresholdMs * 1000);
  gRunning = new MainLoopHooks;
  gRunning->install(dispatcher, hooks, [hooks] { hooks->aboutToBlock(); });
  return true;
}

void TimingMarks::stop() {
  if (MainLoopHooks* running = gRunning) {
    running->remove();
    delete running;
    gRunning = nullptr;
  }
  if (logFd() >= 0) ::close(logFd());
  logFd() = -1;
}

}  // namespace kesto::ui
