#include "Platform/Foundation/Operation.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/RunLoop_p.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kesto::fnd {

struct Operation::Impl {
  mutable std::recursive_mutex mutex;
  bool cancelled = false;
  bool executing = false;
  bool finished = false;
  std::string name;
  std::function<void()> completion;
  std::atomic<bool> completionScheduled{false};

  struct Dependency {
    std::shared_ptr<Operation> operation;
    ChangeObserverToken token;
  };
  std::vector<Dependency> dependencies;

  std::mutex observersMutex;
  std::vector<std::pair<std::uint64_t, std::shared_ptr<ChangeObserver>>> observers;
  std::uint64_t nextObserver = 1;

  std::mutex finishMutex;
  std::condition_variable finishCv;
};

Operation::Operation() : impl_(std::make_unique<Impl>()) {}

Operation::~Operation() {
  // Dependencies must not call back into an operation that is gone.
  for (auto& d : impl_->dependencies) d.operation->removeChangeObserver(d.token);
}

void Operation::start() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->executing || impl_->finished) {
      assertionFailed("Operation started while executing or after it finished");
      return;
    }
  }
  if (isCancelled()) {
    willChangeValueForKey("isFinished");
    {
      std::lock_guard lock(impl_->mutex);
      impl_->finished = true;
    }
    didChangeValueForKey("isFinished");
    return;
  }
  if (!isReady()) {
    assertionFailed("Operation started before it was ready");
    return;
  }
  willChangeValueForKey("isExecuting");
  {
    std::lock_guard lock(impl_->mutex);
    impl_->executing = true;
  }
  didChangeValueForKey("isExecuting");
  runGuarded([this] { main(); });
  willChangeValueForKey("isExecuting");
  willChangeValueForKey("isFinished");
  {
    std::lock_guard lock(impl_->mutex);
    impl_->executing = false;
    impl_->finished = true;
  }
  didChangeValueForKey("isExecuting");
  didChangeValueForKey("isFinished");
}

void Operation::cancel() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->cancelled) return;
  }
  willChangeValueForKey("isCancelled");
  willChangeValueForKey("isReady");
  {
    std::lock_guard lock(impl_->mutex);
    impl_->cancelled = true;
  }
  didChangeValueForKey("isCancelled");
  // A cancelled operation is ready at once, so a queue starts it and it finishes promptly.
  didChangeValueForKey("isReady");
}

bool Operation::isCancelled() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->cancelled;
}

bool Operation::isReady() const {
  std::vector<std::shared_ptr<Operation>> deps;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->cancelled) return true;
    for (auto& d : impl_->dependencies) deps.push_back(d.operation);
  }
  return std::all_of(deps.begin(), deps.end(), [](auto& d) { return d->isFinished(); });
}

bool Operation::isExecuting() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->executing;
}

bool Operation::isFinished() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->finished;
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
  if (!operation || operation.get() == this) return;
  {
    std::lock_guard lock(impl_->mutex);
    for (auto& d : impl_->dependencies)
      if (d.operation == operation) return;
  }
  willChangeValueForKey("isReady");
  std::weak_ptr<Operation> weakSelf = weak_from_this();
  auto token = operation->addChangeObserver([weakSelf](Operation&, std::string_view key, bool prior) {
    if (prior || key != "isFinished") return;
    if (auto self = weakSelf.lock()) {
      self->willChangeValueForKey("isReady");
      self->didChangeValueForKey("isReady");
    }
  });
  {
    std::lock_guard lock(impl_->mutex);
    impl_->dependencies.push_back({operation, token});
  }
  didChangeValueForKey("isReady");
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
  Impl::Dependency removed;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = std::find_if(impl_->dependencies.begin(), impl_->dependencies.end(),
                           [&](auto& d) { return d.operation == operation; });
    if (it == impl_->dependencies.end()) return;
    removed = *it;
    impl_->dependencies.erase(it);
  }
  removed.operation->removeChangeObserver(removed.token);
  willChangeValueForKey("isReady");
  didChangeValueForKey("isReady");
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::shared_ptr<Operation>> out;
  for (auto& d : impl_->dependencies) out.push_back(d.operation);
  return out;
}

void Operation::setCompletionBlock(std::function<void()> block) {
  std::function<void()> old;
  {
    std::lock_guard lock(impl_->mutex);
    old = std::move(impl_->completion);
    impl_->completion = std::move(block);
  }
  // `old` is released here, outside the lock: it may hold the last reference to this operation.
}

std::function<void()> Operation::completionBlock() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->completion;
}

const std::string& Operation::name() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->name;
}

void Operation::setName(std::string name) {
  std::lock_guard lock(impl_->mutex);
  impl_->name = std::move(name);
}

void Operation::waitUntilFinished() {
  std::unique_lock lock(impl_->finishMutex);
  // Polls as well, for subclasses that finish without announcing it.
  while (!isFinished()) impl_->finishCv.wait_for(lock, std::chrono::milliseconds(20));
}

ChangeObserverToken Operation::addChangeObserver(ChangeObserver observer) {
  if (!observer) return {};
  std::lock_guard lock(impl_->observersMutex);
  std::uint64_t id = impl_->nextObserver++;
  impl_->observers.emplace_back(id, std::make_shared<ChangeObserver>(std::move(observer)));
  return ChangeObserverToken{id};
}

void Operation::removeChangeObserver(ChangeObserverToken token) {
  if (!token) return;
  std::lock_guard lock(impl_->observersMutex);
  auto& list = impl_->observers;
  list.erase(std::remove_if(list.begin(), list.end(), [&](auto& p) { return p.first == token.id; }), list.end());
}

namespace {
void notifyObservers(Operation& op, std::vector<std::pair<std::uint64_t, std::shared_ptr<Operation::ChangeObserver>>> list,
                     std::string_view key, bool prior) {
  for (auto& [id, observer] : list) (*observer)(op, key, prior);
}
}  // namespace

void Operation::willChangeValueForKey(std::string_view key) {
  auto self = weak_from_this().lock();  // an observer may drop the last other reference
  decltype(impl_->observers) list;
  {
    std::lock_guard lock(impl_->observersMutex);
    list = impl_->observers;
  }
  notifyObservers(*this, std::move(list), key, true);
}

void Operation::didChangeValueForKey(std::string_view key) {
  // A queue lets go of a finished operation from inside this announcement; it must not go
  // before the announcement is over.
  auto self = weak_from_this().lock();
  decltype(impl_->observers) list;
  {
    std::lock_guard lock(impl_->observersMutex);
    list = impl_->observers;
  }
  bool finishedNow = key == "isFinished" && isFinished();
  if (finishedNow) {
    std::lock_guard lock(impl_->finishMutex);
    impl_->finishCv.notify_all();
  }
  notifyObservers(*this, std::move(list), key, false);
  if (finishedNow && !impl_->completionScheduled.exchange(true)) {
    // The completion block runs once, off the announcing thread: the announcer may hold its own
    // lock, which the block is free to take.
    if (!self) {
      auto block = completionBlock();
      runGuarded(block);
      return;
    }
    DispatchQueue::global().async([self] {
      auto block = self->completionBlock();
      if (block) block();
    });
  }
}

// ---- BlockOperation

std::shared_ptr<BlockOperation> BlockOperation::create(std::function<void()> block) {
  auto op = std::make_shared<BlockOperation>();
  op->addExecutionBlock(std::move(block));
  return op;
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
  if (!block) return;
  if (isExecuting() || isFinished()) {
    assertionFailed("Blocks cannot be added to a block operation that has started");
    return;
  }
  blocks_.push_back(std::move(block));
}

void BlockOperation::main() {
  if (blocks_.size() == 1) {
    blocks_.front()();
    return;
  }
  DispatchGroup group;
  for (auto& block : blocks_) group.async(DispatchQueue::global(), block);
  group.wait();
}

}  // namespace kesto::fnd
