#include "Platform/Foundation/DispatchQueue.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/RunLoop_p.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <utility>

namespace kesto::fnd {

namespace {

// Worker threads shared by every queue. It grows when all workers are busy (work items may
// block on each other, as with semaphores and sync calls) up to a generous cap, and keeps its
// threads for the life of the process.
class WorkerPool {
 public:
  static WorkerPool& shared() {
    static WorkerPool* pool = new WorkerPool;
    return *pool;
  }

  void submit(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    tasks_.push_back(std::move(task));
    // Idle workers may not have woken for earlier tasks yet: only tasks beyond the idle count
    // are sure to find no taker, and those get a new thread.
    if (tasks_.size() > static_cast<std::size_t>(idle_) && threads_ < kMaxThreads) {
      ++threads_;
      start();
    } else {
      ready_.notify_one();
    }
  }

 private:
  static constexpr int kMaxThreads = 128;

  // A detached thread that is handed the pool itself: std::thread would put its start record on
  // the heap, owned by a thread that never ends, which a leak check at exit can count as lost.
  void start() {
    pthread_t thread;
    const int error = pthread_create(
        &thread, nullptr,
        [](void* pool) -> void* {
          static_cast<WorkerPool*>(pool)->work();
          return nullptr;
        },
        this);
    if (error != 0) throw std::system_error(error, std::generic_category(), "Cannot start a worker thread");
    pthread_detach(thread);
  }

  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idle_;
      ready_.wait(lock, [this] { return !tasks_.empty(); });
      --idle_;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      runGuarded(task);
      task = nullptr;  // release what the task holds before waiting again
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  int threads_ = 0;
  int idle_ = 0;
};

thread_local DispatchQueue* tCurrentQueue = nullptr;

struct CurrentQueueScope {
  DispatchQueue* saved;
  explicit CurrentQueueScope(DispatchQueue* q) : saved(tCurrentQueue) { tCurrentQueue = q; }
  ~CurrentQueueScope() { tCurrentQueue = saved; }
};

// The thread that counts down `after` delays. It ends with the application object: a thread
// left running past it would make Qt warn from its event loop and keep every pending delay (and
// whatever that work holds) unreleased at exit. After that, delays are dropped.
std::mutex gTimerMutex;
RunLoopThread* gTimerThread = nullptr;
bool gTimersEnded = false;

void endTimerThread() {
  RunLoopThread* thread = nullptr;
  {
    std::lock_guard lock(gTimerMutex);
    thread = std::exchange(gTimerThread, nullptr);
    gTimersEnded = true;
  }
  delete thread;  // stops its loop; the pending delays go with it
}

template <typename Work>
void onTimerThread(Work&& work) {
  std::lock_guard lock(gTimerMutex);
  if (gTimersEnded) return;
  if (!gTimerThread) {
    gTimerThread = new RunLoopThread("kesto.dispatch.timers");
    qAddPostRoutine(endTimerThread);
  }
  work(gTimerThread->runLoop());
}

}  // namespace

// The queue's state outlives the DispatchQueue object while work it accepted is still pending.
struct DispatchState : std::enable_shared_from_this<DispatchState> {
  std::string label;
  DispatchQueue::Kind kind = DispatchQueue::Kind::Serial;
  bool isMain = false;
  // For DispatchQueue::current(); workers read it while the owner's destructor may clear it.
  std::atomic<DispatchQueue*> owner{nullptr};
  std::mutex mutex;
  std::deque<std::function<void()>> pending;
  bool draining = false;
  int suspended = 0;

  void run(const std::function<void()>& work) {
    CurrentQueueScope scope(owner.load(std::memory_order_acquire));
    runGuarded(work);
  }

  // Serial: one drain at a time takes items in order.
  void drain() {
    for (;;) {
      std::function<void()> item;
      {
        std::lock_guard lock(mutex);
        if (pending.empty() || suspended > 0) {
          draining = false;
          return;
        }
        item = std::move(pending.front());
        pending.pop_front();
      }
      run(item);
    }
  }

  void enqueue(std::function<void()> work) {
    auto self = shared_from_this();
    if (isMain) {
      RunLoop::main().perform([self, w = std::move(work)] { self->run(w); });
      return;
    }
    std::unique_lock lock(mutex);
    if (kind == DispatchQueue::Kind::Concurrent) {
      if (suspended > 0) {
        pending.push_back(std::move(work));
        return;
      }
      lock.unlock();
      WorkerPool::shared().submit([self, w = std::move(work)] { self->run(w); });
      return;
    }
    pending.push_back(std::move(work));
    if (draining || suspended > 0) return;
    draining = true;
    lock.unlock();
    WorkerPool::shared().submit([self] { self->drain(); });
  }

  void resumeWork() {
    std::unique_lock lock(mutex);
    if (suspended > 0) --suspended;
    if (suspended > 0 || pending.empty()) return;
    auto self = shared_from_this();
    if (kind == DispatchQueue::Kind::Concurrent) {
      auto items = std::move(pending);
      pending.clear();
      lock.unlock();
      for (auto& w : items) WorkerPool::shared().submit([self, w = std::move(w)] { self->run(w); });
      return;
    }
    if (draining) return;
    draining = true;
    lock.unlock();
    WorkerPool::shared().submit([self] { self->drain(); });
  }
};

struct DispatchQueue::Impl {
  std::shared_ptr<DispatchState> state;
};

struct DispatchAccess {
  static std::shared_ptr<DispatchQueue> make(std::string label, DispatchQueue::Kind kind, bool isMain) {
    auto impl = std::make_unique<DispatchQueue::Impl>();
    impl->state = std::make_shared<DispatchState>();
    impl->state->label = std::move(label);
    impl->state->kind = kind;
    impl->state->isMain = isMain;
    std::shared_ptr<DispatchQueue> q(new DispatchQueue(std::move(impl)));
    q->impl_->state->owner.store(q.get(), std::memory_order_release);
    return q;
  }
  static std::shared_ptr<DispatchState> state(DispatchQueue& queue) { return queue.impl_->state; }
};

DispatchQueue::DispatchQueue(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DispatchQueue::~DispatchQueue() { impl_->state->owner.store(nullptr, std::memory_order_release); }

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label, Kind kind) {
  return DispatchAccess::make(std::move(label), kind, false);
}

DispatchQueue& DispatchQueue::main() {
  static auto* q = new std::shared_ptr<DispatchQueue>(DispatchAccess::make("kesto.main", Kind::Serial, true));
  return **q;
}

DispatchQueue& DispatchQueue::global(Priority priority) {
  static std::shared_ptr<DispatchQueue>* queues = [] {
    auto* qs = new std::shared_ptr<DispatchQueue>[4];
    const char* labels[] = {"kesto.global.high", "kesto.global.default", "kesto.global.low", "kesto.global.background"};
    for (int i = 0; i < 4; ++i) qs[i] = DispatchAccess::make(labels[i], Kind::Concurrent, false);
    return qs;
  }();
  return *queues[static_cast<int>(priority)];
}

DispatchQueue* DispatchQueue::current() {
  if (tCurrentQueue) return tCurrentQueue;
  return RunLoop::isMainThread() ? &main() : nullptr;
}

const std::string& DispatchQueue::label() const { return impl_->state->label; }
DispatchQueue::Kind DispatchQueue::kind() const { return impl_->state->kind; }
bool DispatchQueue::isMain() const { return impl_->state->isMain; }

bool DispatchQueue::isCurrent() const {
  if (isMain()) return RunLoop::isMainThread();
  return tCurrentQueue == this;
}

void DispatchQueue::async(std::function<void()> work) {
  if (!work) return;
  impl_->state->enqueue(std::move(work));
}

void DispatchQueue::sync(const std::function<void()>& work) {
  if (!work) return;
  // A throwing block is logged like queued work: it neither escapes to the caller nor leaves
  // the caller waiting for a completion that never comes.
  if (isCurrent()) {
    // Waiting on ourselves would never end.
    CurrentQueueScope scope(this);
    runGuarded(work);
    return;
  }
  if (isMain()) {
    RunLoop::main().performAndWait([this, &work] {
      CurrentQueueScope scope(this);
      runGuarded(work);
    });
    return;
  }
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  impl_->state->enqueue([&] {
    runGuarded(work);
    std::lock_guard lock(m);
    done = true;
    cv.notify_one();
  });
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return done; });
}

void DispatchQueue::after(double seconds, std::function<void()> work) {
  if (!work) return;
  if (seconds <= 0) {
    async(std::move(work));
    return;
  }
  auto state = impl_->state;
  onTimerThread([&](RunLoop& loop) {
    loop.performAfterDelay(seconds, [state, w = std::move(work)]() mutable { state->enqueue(std::move(w)); });
  });
}

void DispatchQueue::suspend() {
  if (isMain()) return;
  std::lock_guard lock(impl_->state->mutex);
  ++impl_->state->suspended;
}

void DispatchQueue::resume() {
  if (isMain()) return;
  impl_->state->resumeWork();
}

// ---- DispatchGroup

struct DispatchGroup::Impl {
  std::mutex mutex;
  std::condition_variable empty;
  long count = 0;
  // The queues' states, not the queues: a queue dropped before the group empties still runs
  // the notification, as it runs other work it accepted.
  std::vector<std::pair<std::shared_ptr<DispatchState>, std::function<void()>>> notifications;
};

void DispatchGroup::leaveImpl(Impl& group) {
  std::vector<std::pair<std::shared_ptr<DispatchState>, std::function<void()>>> due;
  {
    std::lock_guard lock(group.mutex);
    if (group.count == 0) {
      assertionFailed("Unbalanced call to DispatchGroup::leave()");
      return;
    }
    if (--group.count > 0) return;
    due.swap(group.notifications);
    group.empty.notify_all();
  }
  for (auto& [queue, work] : due)
    if (work) queue->enqueue(std::move(work));
}

DispatchGroup::DispatchGroup() : impl_(std::make_shared<Impl>()) {}
DispatchGroup::~DispatchGroup() = default;

void DispatchGroup::enter() {
  std::lock_guard lock(impl_->mutex);
  ++impl_->count;
}

void DispatchGroup::leave() { leaveImpl(*impl_); }

void DispatchGroup::async(DispatchQueue& queue, std::function<void()> work) {
  enter();
  auto impl = impl_;
  queue.async([impl, w = std::move(work)] {
    runGuarded(w);
    leaveImpl(*impl);
  });
}

void DispatchGroup::notify(DispatchQueue& queue, std::function<void()> work) {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->count > 0) {
      impl_->notifications.emplace_back(DispatchAccess::state(queue), std::move(work));
      return;
    }
  }
  queue.async(std::move(work));
}

bool DispatchGroup::wait(double timeoutSeconds) {
  std::unique_lock lock(impl_->mutex);
  if (timeoutSeconds < 0) {
    impl_->empty.wait(lock, [this] { return impl_->count == 0; });
    return true;
  }
  return impl_->empty.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                               [this] { return impl_->count == 0; });
}

// ---- DispatchSemaphore

struct DispatchSemaphore::Impl {
  std::mutex mutex;
  std::condition_variable cv;
  long value = 0;
};

DispatchSemaphore::DispatchSemaphore(long value) : impl_(std::make_unique<Impl>()) { impl_->value = value; }
DispatchSemaphore::~DispatchSemaphore() = default;

bool DispatchSemaphore::wait(double timeoutSeconds) {
  std::unique_lock lock(impl_->mutex);
  auto available = [this] { return impl_->value > 0; };
  if (timeoutSeconds < 0)
    impl_->cv.wait(lock, available);
  else if (!impl_->cv.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), available))
    return false;
  --impl_->value;
  return true;
}

void DispatchSemaphore::signal() {
  std::lock_guard lock(impl_->mutex);
  ++impl_->value;
  impl_->cv.notify_one();
}

}  // namespace kesto::fnd
