#include "Platform/Foundation/Timer.h"

#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/RunLoop_p.h"
#include "Platform/Foundation/Timer_p.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace kesto::fnd {

struct Timer::Impl {
  std::mutex mutex;
  QObject* context = nullptr;  // the run loop's object; the QTimer lives in its thread
  QPointer<QTimer> qtimer;
  double interval = 0;
  std::int64_t deadline = 0;  // on the timer clock, in milliseconds
  bool repeats = false;
  bool valid = true;
  Action action;
  std::shared_ptr<Timer> keepAlive;  // the run loop's reference, dropped on invalidate

  bool onLoopThread() const { return QThread::currentThread() == context->thread(); }

  // Runs `work` on the loop's thread (at once when already there).
  void onLoop(std::function<void()> work) {
    if (onLoopThread())
      work();
    else
      QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
  }
};

namespace {

std::int64_t steadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A Qt timer waits at most INT_MAX milliseconds (about 24.8 days); longer intervals are kept
// as a 64-bit deadline and waited for in steps of at most a day.
constexpr std::int64_t kDefaultMaximumWait = 24 * 3600 * 1000;
std::atomic<std::int64_t (*)()> timerClock{&steadyMilliseconds};
std::atomic<std::int64_t> maximumWait{kDefaultMaximumWait};

std::int64_t now() { return timerClock.load()(); }

std::int64_t toMilliseconds(double seconds) {
  // Far enough off to be never, near enough that adding it to the clock cannot overflow.
  constexpr double kNever = 1e15;
  if (!(seconds > 0)) return 0;  // NaN waits nothing, as before
  double ms = seconds * 1000.0 + 0.5;
  return ms >= kNever ? static_cast<std::int64_t>(kNever) : static_cast<std::int64_t>(ms);
}

// Loop thread, with the mutex held: waits toward the deadline, one bounded step at a time.
void arm(QTimer& qt, std::int64_t deadline) {
  std::int64_t remaining = std::max<std::int64_t>(0, deadline - now());
  qt.start(static_cast<int>(std::min(remaining, maximumWait.load())));
}

}  // namespace

void setTimerClockForTesting(std::int64_t (*clock)(), std::int64_t maxWaitMilliseconds) {
  timerClock = clock ? clock : &steadyMilliseconds;
  maximumWait = maxWaitMilliseconds > 0 ? std::min<std::int64_t>(maxWaitMilliseconds, kDefaultMaximumWait)
                                        : kDefaultMaximumWait;
}

Timer::Timer(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

Timer::~Timer() = default;

std::shared_ptr<Timer> Timer::scheduledTimer(double interval, bool repeats, Action action) {
  auto impl = std::make_shared<Impl>();
  impl->context = runLoopContext(RunLoop::current());
  // A repeating timer of zero interval would spin the loop; take the same floor as the system.
  impl->interval = repeats && interval < 0.0001 ? 0.0001 : interval;
  impl->repeats = repeats;
  impl->action = std::move(action);
  std::shared_ptr<Timer> timer(new Timer(impl));
  impl->keepAlive = timer;
  std::weak_ptr<Impl> weak = impl;
  impl->onLoop([weak] {
    auto impl = weak.lock();
    if (!impl) return;
    std::lock_guard lock(impl->mutex);
    if (!impl->valid) return;
    auto* qt = new QTimer(impl->context);
    qt->setTimerType(Qt::PreciseTimer);
    qt->setSingleShot(true);
    QObject::connect(qt, &QTimer::timeout, qt, [weak] {
      auto impl = weak.lock();
      if (!impl) return;
      std::shared_ptr<Timer> timer;
      {
        std::lock_guard lock(impl->mutex);
        if (!impl->valid || !impl->qtimer) return;
        std::int64_t at = now();
        if (at < impl->deadline) {
          // A step of a long wait ended: wait on.
          arm(*impl->qtimer, impl->deadline);
          return;
        }
        if (impl->repeats) {
          // Keep the schedule; firings missed while the loop was busy are skipped, not bunched.
          impl->deadline += toMilliseconds(impl->interval);
          if (impl->deadline <= at) impl->deadline = at + toMilliseconds(impl->interval);
          arm(*impl->qtimer, impl->deadline);
        }
        timer = impl->keepAlive;
      }
      if (timer) timer->fire();
    });
    impl->qtimer = qt;
    impl->deadline = now() + toMilliseconds(impl->interval);
    arm(*qt, impl->deadline);
  });
  return timer;
}

double Timer::timeInterval() const { return impl_->interval; }
bool Timer::repeats() const { return impl_->repeats; }

bool Timer::isValid() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->valid;
}

void Timer::invalidate() {
  std::shared_ptr<Timer> keep;  // released after the lock, possibly destroying this timer last
  Action dropped;
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->valid) return;
    impl_->valid = false;
    dropped = std::move(impl_->action);
    impl_->action = nullptr;
    keep = std::move(impl_->keepAlive);
    QPointer<QTimer> qt = impl_->qtimer;
    impl_->qtimer = nullptr;
    impl_->onLoop([qt] {
      if (qt) {
        qt->stop();
        qt->deleteLater();
      }
    });
  }
}

void Timer::fire() {
  Action action;
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->valid) return;
    action = impl_->action;
  }
  auto self = shared_from_this();
  runGuarded([&] { action(*this); });
  if (!impl_->repeats) invalidate();
}

void Timer::setFireAfter(double seconds) {
  std::weak_ptr<Impl> weak = impl_;
  impl_->onLoop([weak, seconds] {
    auto impl = weak.lock();
    if (!impl) return;
    std::lock_guard lock(impl->mutex);
    if (!impl->valid || !impl->qtimer) return;
    impl->deadline = now() + toMilliseconds(seconds);
    arm(*impl->qtimer, impl->deadline);
  });
}

}  // namespace kesto::fnd
