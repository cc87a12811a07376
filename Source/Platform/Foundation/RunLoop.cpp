#include "Platform/Foundation/RunLoop.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/RunLoop_p.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unordered_map>

namespace kesto::fnd {

struct RunLoopAccess {
  static RunLoop* make();
  static void destroy(RunLoop* loop) { delete loop; }
  static QObject*& context(RunLoop& loop);
};

struct RunLoop::Impl {
  QObject* context = nullptr;
};

namespace {

thread_local RunLoop* tCurrentLoop = nullptr;

std::mutex gTrackingMutex;
std::function<bool()> gTracking;

bool isTracking() {
  std::function<bool()> check;
  {
    std::lock_guard lock(gTrackingMutex);
    check = gTracking;
  }
  return check && check();
}

// Delayed performs by token, so a cancel from any thread only has to flip an entry.
struct PendingPerform {
  const void* target = nullptr;
};
std::mutex gPendingMutex;
std::unordered_map<std::uint64_t, PendingPerform>& pending() {
  static auto* map = new std::unordered_map<std::uint64_t, PendingPerform>;
  return *map;
}
std::atomic<std::uint64_t> gNextToken{1};

// Claims a pending perform for running: false when it was cancelled meanwhile.
bool claim(std::uint64_t id) {
  std::lock_guard lock(gPendingMutex);
  return pending().erase(id) > 0;
}

void runInMode(QObject* context, std::function<void()> work, RunLoop::Mode mode) {
  if (mode == RunLoop::Mode::Default && isTracking()) {
    // Held back until the modal session or tracking ends; checked again shortly.
    QTimer::singleShot(20, context, [context, w = std::move(work), mode]() mutable { runInMode(context, std::move(w), mode); });
    return;
  }
  runGuarded(work);
}

}  // namespace

void runGuarded(const std::function<void()>& work) noexcept {
  if (work) runLoggingExceptions(work, "*** Uncaught exception in run-loop work");
}

QObject*& RunLoopAccess::context(RunLoop& loop) { return loop.impl_->context; }

QObject* runLoopContext(RunLoop& loop) { return RunLoopAccess::context(loop); }

RunLoop* RunLoopAccess::make() { return new RunLoop(std::make_unique<RunLoop::Impl>()); }

RunLoop::RunLoop(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RunLoop::~RunLoop() = default;

RunLoop& RunLoop::main() {
  static RunLoop* loop = [] {
    RunLoop* l = RunLoopAccess::make();
    l->impl_->context = new QObject;  // lives as long as the process
    if (QCoreApplication* app = QCoreApplication::instance()) l->impl_->context->moveToThread(app->thread());
    return l;
  }();
  return *loop;
}

bool RunLoop::isMainThread() { return QThread::currentThread() == runLoopContext(main())->thread(); }

RunLoop& RunLoop::current() {
  if (tCurrentLoop) return *tCurrentLoop;
  return main();
}

bool RunLoop::isCurrent() const { return QThread::currentThread() == impl_->context->thread(); }

void RunLoop::perform(std::function<void()> work, Mode mode) {
  if (!work) return;
  QObject* context = impl_->context;
  QMetaObject::invokeMethod(
      context, [context, w = std::move(work), mode]() mutable { runInMode(context, std::move(w), mode); },
      Qt::QueuedConnection);
}

void RunLoop::performAndWait(const std::function<void()>& work) {
  if (!work) return;
  if (isCurrent()) {
    runGuarded(work);
    return;
  }
  QMetaObject::invokeMethod(impl_->context, [&work] { runGuarded(work); }, Qt::BlockingQueuedConnection);
}

PerformToken RunLoop::performAfterDelay(double seconds, std::function<void()> work, const void* target, Mode mode) {
  if (!work) return {};
  std::uint64_t id = gNextToken++;
  {
    std::lock_guard lock(gPendingMutex);
    pending()[id] = PendingPerform{target};
  }
  int ms = seconds <= 0 ? 0 : static_cast<int>(seconds * 1000.0 + 0.5);
  QObject* context = impl_->context;
  auto arm = [context, ms, id, mode, w = std::move(work)]() mutable {
    QTimer::singleShot(ms, Qt::PreciseTimer, context, [context, id, mode, w = std::move(w)]() mutable {
      if (claim(id)) runInMode(context, std::move(w), mode);
    });
  };
  if (isCurrent())
    arm();
  else
    QMetaObject::invokeMethod(context, std::move(arm), Qt::QueuedConnection);
  return PerformToken{id};
}

void RunLoop::cancelPerform(PerformToken token) {
  if (!token) return;
  claim(token.id);
}

void RunLoop::cancelPreviousPerformRequests(const void* target) {
  if (!target) return;
  std::lock_guard lock(gPendingMutex);
  for (auto it = pending().begin(); it != pending().end();) {
    if (it->second.target == target)
      it = pending().erase(it);
    else
      ++it;
  }
}

void RunLoop::setTrackingPredicate(std::function<bool()> predicate) {
  std::lock_guard lock(gTrackingMutex);
  gTracking = std::move(predicate);
}

void performOnMainThread(std::function<void()> work, bool waitUntilDone) {
  if (waitUntilDone)
    RunLoop::main().performAndWait(work);
  else
    RunLoop::main().perform(std::move(work));
}

PerformToken performAfterDelay(double seconds, std::function<void()> work, const void* target) {
  return RunLoop::current().performAfterDelay(seconds, std::move(work), target);
}

void cancelPreviousPerformRequests(const void* target) { RunLoop::cancelPreviousPerformRequests(target); }

// ---- RunLoopThread

struct RunLoopThread::Impl {
  std::string name;
  QThread thread;
  RunLoop* loop = nullptr;
};

RunLoopThread::RunLoopThread(std::string name) : impl_(std::make_unique<Impl>()) {
  impl_->name = std::move(name);
  impl_->loop = RunLoopAccess::make();
  impl_->thread.setObjectName(QString::fromStdString(impl_->name));
  auto* context = new QObject;
  context->moveToThread(&impl_->thread);
  impl_->loop->impl_->context = context;
  RunLoop* loop = impl_->loop;
  std::string threadName = impl_->name.substr(0, 15);
  // The first event the thread handles: from then on RunLoop::current() is this loop there.
  QMetaObject::invokeMethod(
      context,
      [loop, threadName] {
        tCurrentLoop = loop;
        pthread_setname_np(pthread_self(), threadName.c_str());
      },
      Qt::QueuedConnection);
  impl_->thread.start();
}

RunLoopThread::~RunLoopThread() {
  impl_->thread.quit();
  impl_->thread.wait();
  delete impl_->loop->impl_->context;
  RunLoopAccess::destroy(impl_->loop);
}

const std::string& RunLoopThread::name() const { return impl_->name; }

RunLoop& RunLoopThread::runLoop() { return *impl_->loop; }

void detachNewThread(std::function<void()> work, const std::string& name) {
  std::thread([w = std::move(work), name] {
    if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    runGuarded(w);
  }).detach();
}

}  // namespace kesto::fnd
