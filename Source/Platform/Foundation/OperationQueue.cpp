#include "Platform/Foundation/OperationQueue.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Operation.h"
#include "Platform/Foundation/RunLoop.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kesto::fnd {

struct OperationQueue::Impl : std::enable_shared_from_this<OperationQueue::Impl> {
  struct Entry {
    std::shared_ptr<Operation> operation;
    ChangeObserverToken token;
    bool started = false;
  };

  mutable std::mutex mutex;
  std::condition_variable drained;
  // Main-thread waits in progress, ended by the last operation to finish.
  std::vector<QEventLoop*> drainWaiters;
  std::vector<Entry> entries;
  int maxCount = kDefaultMaxConcurrentOperationCount;
  bool suspended = false;
  bool onMainThread = false;
  std::string name;

  int effectiveWidth() const {
    if (onMainThread) return 1;
    if (maxCount > 0) return maxCount;
    return std::max(2u, std::thread::hardware_concurrency());
  }

  // Starts ready operations, in the order they were added, while there is room. Readiness is
  // asked outside the lock: operations take their own locks to answer.
  void schedule() {
    for (;;) {
      std::vector<std::shared_ptr<Operation>> waiting;
      int running = 0;
      {
        std::lock_guard lock(mutex);
        if (suspended) return;
        for (auto& e : entries) {
          if (e.started)
            ++running;
          else
            waiting.push_back(e.operation);
        }
      }
      if (running >= effectiveWidth() || waiting.empty()) return;
      std::shared_ptr<Operation> chosen;
      for (auto& op : waiting) {
        if (op->isReady()) {
          chosen = op;
          break;
        }
      }
      if (!chosen) return;
      {
        std::lock_guard lock(mutex);
        auto it = std::find_if(entries.begin(), entries.end(), [&](auto& e) { return e.operation == chosen; });
        if (it == entries.end() || it->started) continue;
        int nowRunning = static_cast<int>(std::count_if(entries.begin(), entries.end(), [](auto& e) { return e.started; }));
        if (nowRunning >= effectiveWidth() || suspended) return;
        it->started = true;
      }
      auto run = [chosen] { chosen->start(); };
      if (onMainThread)
        RunLoop::main().perform(run);
      else
        DispatchQueue::global().async(run);
    }
  }

  // Called with the mutex held. A waiter leaves the list under the same mutex before its loop
  // goes away, so a posted quit never reaches a freed loop.
  void notifyDrained() {
    drained.notify_all();
    for (QEventLoop* loop : drainWaiters) QMetaObject::invokeMethod(loop, &QEventLoop::quit, Qt::QueuedConnection);
  }

  void finished(Operation& operation) {
    std::shared_ptr<Operation> keep;
    ChangeObserverToken token;
    {
      std::lock_guard lock(mutex);
      auto it = std::find_if(entries.begin(), entries.end(), [&](auto& e) { return e.operation.get() == &operation; });
      if (it == entries.end()) return;
      keep = it->operation;
      token = it->token;
      entries.erase(it);
      if (entries.empty()) notifyDrained();
    }
    keep->removeChangeObserver(token);
    schedule();
    // This runs inside the operation's own announcement, and the operation may go on touching
    // itself after it: the queue's reference is let go later, never from under it.
    DispatchQueue::global().async([keep = std::move(keep)] {});
  }
};

OperationQueue::OperationQueue() : impl_(std::make_shared<Impl>()) {}

OperationQueue::~OperationQueue() {
  std::vector<Impl::Entry> entries;
  {
    std::lock_guard lock(impl_->mutex);
    entries.swap(impl_->entries);
  }
  for (auto& e : entries) e.operation->removeChangeObserver(e.token);
}

OperationQueue& OperationQueue::mainQueue() {
  static OperationQueue* queue = [] {
    auto* q = new OperationQueue;
    q->impl_->onMainThread = true;
    q->impl_->maxCount = 1;
    q->impl_->name = "kesto.main";
    return q;
  }();
  return *queue;
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
  if (!operation) return;
  if (operation->isExecuting() || operation->isFinished()) {
    raiseFailure(kInvalidArgumentException, "operation is executing or finished and cannot be enqueued");
    return;
  }
  {
    std::lock_guard lock(impl_->mutex);
    for (auto& e : impl_->entries)
      if (e.operation == operation) {
        raiseFailure(kInvalidArgumentException, "operation is already enqueued on a queue");
        return;
      }
  }
  std::weak_ptr<Impl> weak = impl_;
  auto token = operation->addChangeObserver([weak](Operation& op, std::string_view key, bool prior) {
    if (prior) return;
    auto impl = weak.lock();
    if (!impl) return;
    if (key == "isFinished") {
      if (op.isFinished()) impl->finished(op);
    } else if (key == "isReady") {
      impl->schedule();
    }
  });
  {
    std::lock_guard lock(impl_->mutex);
    impl_->entries.push_back({operation, token, false});
  }
  impl_->schedule();
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished) {
  for (auto& op : operations) addOperation(op);
  if (waitUntilFinished)
    for (auto& op : operations)
      if (op) op->waitUntilFinished();
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) { addOperation(BlockOperation::create(std::move(block))); }

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::shared_ptr<Operation>> out;
  for (auto& e : impl_->entries) out.push_back(e.operation);
  return out;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->entries.size();
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  if (impl_->onMainThread) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->maxCount = count;
  }
  impl_->schedule();
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->maxCount;
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->suspended = suspended;
  }
  if (!suspended) impl_->schedule();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->suspended;
}

void OperationQueue::setName(std::string name) {
  std::lock_guard lock(impl_->mutex);
  impl_->name = std::move(name);
}

std::string OperationQueue::name() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->name;
}

void OperationQueue::cancelAllOperations() {
  for (auto& op : operations()) op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  if (RunLoop::isMainThread() && QCoreApplication::instance()) {
    // The operations may need the main thread to finish, so it keeps serving events meanwhile;
    // the last one to finish ends the loop.
    QEventLoop loop;
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->entries.empty()) return;
      impl_->drainWaiters.push_back(&loop);
    }
    loop.exec();
    std::lock_guard lock(impl_->mutex);
    auto& waiters = impl_->drainWaiters;
    waiters.erase(std::remove(waiters.begin(), waiters.end(), &loop), waiters.end());
    return;
  }
  std::unique_lock lock(impl_->mutex);
  impl_->drained.wait(lock, [&] { return impl_->entries.empty(); });
}

}  // namespace kesto::fnd
