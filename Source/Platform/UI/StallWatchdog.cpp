#include "Platform/UI/StallWatchdog.h"

#include "Platform/UI/EnvironmentLog_p.h"
#include "Platform/UI/MainLoopHooks_p.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <execinfo.h>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace kesto::ui {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

constexpr int kMaxFrames = 64;
// A real-time signal nothing else here uses; it only asks the main thread for its stack.
int stackSignal() { return SIGRTMIN + 6; }

struct Watch {
  std::string path;
  std::int64_t thresholdNs = 0;
  pthread_t mainThread{};
  // When the main thread last woke to work (0 while it waits for events).
  std::atomic<std::int64_t> busySince{0};
  std::atomic<std::int64_t> reported{0};
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;
  MainLoopHooks hooks;

  // Filled by the signal handler on the main thread.
  void* frames[kMaxFrames]{};
  std::atomic<int> frameCount{-1};
};

Watch* gWatch = nullptr;

// Sees every event the application delivers: the first one after the loop has waited starts
// the busy time.
class BusyFilter : public QObject {
 public:
  explicit BusyFilter(Watch* w) : w_(w) {}
  bool eventFilter(QObject*, QEvent*) override {
    if (w_->busySince.load(std::memory_order_relaxed) != 0) return false;
    // Once per wake-up of the loop: the watching thread sleeps until then.
    {
      std::lock_guard lock(w_->mutex);
      w_->busySince.store(nowNs());
    }
    w_->wake.notify_one();
    return false;
  }

 private:
  Watch* w_;
};

void takeStack(int) {
  Watch* w = gWatch;
  if (!w) return;
  const int saved = errno;
  w->frameCount.store(backtrace(w->frames, kMaxFrames), std::memory_order_release);
  errno = saved;
}

void report(Watch& w, std::int64_t busyNs) {
  w.frameCount.store(-1);
  pthread_kill(w.mainThread, stackSignal());
  int n = -1;
  for (int i = 0; i < 200 && (n = w.frameCount.load(std::memory_order_acquire)) < 0; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  FILE* out = std::fopen(w.path.c_str(), "a");
  if (!out) return;
  std::fprintf(out, "main thread busy for %lld ms (threshold %lld ms)\n", static_cast<long long>(busyNs / 1000000),
               static_cast<long long>(w.thresholdNs / 1000000));
  if (n > 0) {
    std::fflush(out);
    // Our own frames first: the handler and the signal trampoline are of no interest.
    backtrace_symbols_fd(w.frames + 2 < w.frames + n ? w.frames + 2 : w.frames, n > 2 ? n - 2 : n, fileno(out));
  } else {
    std::fprintf(out, "  (no stack: the main thread did not answer)\n");
  }
  std::fprintf(out, "\n");
  std::fclose(out);
  w.reported.fetch_add(1);
}

// Sleeps while the main thread waits for events, so an idle program is not woken by its watch;
// once the main thread works, wakes when the threshold would be reached.
void watchLoop(Watch& w) {
  std::int64_t reportedFor = 0;  // the busy period already reported
  std::unique_lock lock(w.mutex);
  while (!w.stopping) {
    w.wake.wait(lock, [&] {
      const auto since = w.busySince.load();
      return w.stopping || (since != 0 && since != reportedFor);
    });
    if (w.stopping) break;
    const std::int64_t since = w.busySince.load();
    const auto deadline = Clock::time_point(std::chrono::nanoseconds(since + w.thresholdNs));
    // Woken early only to stop; a new busy period after this one is picked up next round.
    w.wake.wait_until(lock, deadline, [&] { return w.stopping.load() || w.busySince.load() != since; });
    if (w.stopping || w.busySince.load() != since) continue;
    reportedFor = since;
    lock.unlock();
    report(w, nowNs() - since);
    lock.lock();
  }
}

}  // namespace

bool StallWatchdog::startFromEnvironment() {
  auto log = environmentLog("KESTO_STALL_LOG", "KESTO_STALL_MS", 100);
  return log && start(log->path, log->thresholdMs);
}

bool StallWatchdog::start(const std::string& logPath, std::int64_t thresholdMs) {
  auto* dispatcher = MainLoopHooks::dispatcher();
  if (gWatch || !dispatcher || thresholdMs <= 0) return false;
  auto* w = new Watch;
  w->path = logPath;
  w->thresholdNs = thresholdMs * 1000000;
  w->mainThread = pthread_self();
  // backtrace loads its unwinder on first use, which must not happen inside the handler.
  void* warm[2];
  backtrace(warm, 2);
  struct sigaction action {};
  action.sa_handler = takeStack;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(stackSignal(), &action, nullptr);
  // From the first event delivered after a wait until the loop is about to wait again, the main
  // thread works: that is what is timed.
  w->busySince = nowNs();
  w->hooks.install(dispatcher, new BusyFilter(w), [w] { w->busySince = 0; });
  gWatch = w;
  w->thread = std::thread([w] { watchLoop(*w); });
  return true;
}

void StallWatchdog::stop() {
  Watch* w = gWatch;
  if (!w) return;
  {
    std::lock_guard lock(w->mutex);
    w->stopping = true;
  }
  w->wake.notify_all();
  w->thread.join();
  w->hooks.remove();
  signal(stackSignal(), SIG_IGN);
  gWatch = nullptr;
  delete w;
}

std::int64_t StallWatchdog::reportedStalls() { return gWatch ? gWatch->reported.load() : 0; }

}  // namespace kesto::ui
