#include "Platform/Foundation/Timer.h"

#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/RunLoop_p.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <mutex>

namespace kesto::fnd {

struct Timer::Impl {
  std::mutex mutex;
  QObject* context = nullptr;  // the run loop's object; the QTimer lives in its thread
  QPointer<QTimer> qtimer;
  double interval = 0;
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
int toMilliseconds(double seconds) { return seconds <= 0 ? 0 : static_cast<int>(seconds * 1000.0 + 0.5); }
}  // namespace

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
    qt->setSingleShot(!impl->repeats);
    qt->setInterval(toMilliseconds(impl->interval));
    QObject::connect(qt, &QTimer::timeout, qt, [weak] {
      auto impl = weak.lock();
      if (!impl) return;
      std::shared_ptr<Timer> timer;
      {
        std::lock_guard lock(impl->mutex);
        timer = impl->keepAlive;
        // After setFireAfter the next firings return to the regular interval.
        if (impl->qtimer && impl->repeats && impl->qtimer->interval() != toMilliseconds(impl->interval))
          impl->qtimer->setInterval(toMilliseconds(impl->interval));
      }
      if (timer) timer->fire();
    });
    impl->qtimer = qt;
    qt->start();
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
    if (impl->valid && impl->qtimer) impl->qtimer->start(toMilliseconds(seconds));
  });
}

}  // namespace kesto::fnd
