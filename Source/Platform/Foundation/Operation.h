#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

// Names a change observer, for removing it.
struct ChangeObserverToken {
  std::uint64_t id = 0;
  explicit operator bool() const { return id != 0; }
};

// A unit of work for an OperationQueue, or to start by hand.
//
// Plain operations override main(); the default start() runs it and moves through executing to
// finished. Asynchronous operations override start(), isAsynchronous(), isExecuting() and
// isFinished(), keep their own state, and announce each change with willChangeValueForKey /
// didChangeValueForKey under the keys "isReady", "isExecuting", "isFinished" (and any of their
// own, such as "isPaused" or "state"). Queues and dependent operations watch those announcements:
// a queue starts an operation when "isReady" turns true and drops it when "isFinished" does.
//
// The completion block runs once, on a worker thread, after the operation has finished.
// Dependencies must finish (or the operation be cancelled) before isReady() answers true.
// Operations are always held by shared_ptr.
class Operation : public std::enable_shared_from_this<Operation> {
 public:
  // Observers of announcements: `prior` is true for the will-change call.
  using ChangeObserver = std::function<void(Operation& operation, std::string_view key, bool prior)>;

  Operation();
  virtual ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  virtual void start();
  virtual void main() {}
  virtual void cancel();

  bool isCancelled() const;
  virtual bool isReady() const;
  virtual bool isExecuting() const;
  virtual bool isFinished() const;
  virtual bool isAsynchronous() const { return false; }
  bool isConcurrent() const { return isAsynchronous(); }

  void addDependency(const std::shared_ptr<Operation>& operation);
  void removeDependency(const std::shared_ptr<Operation>& operation);
  std::vector<std::shared_ptr<Operation>> dependencies() const;

  // Replaces the completion block; an empty function clears it (releasing what it holds).
  virtual void setCompletionBlock(std::function<void()> block);
  std::function<void()> completionBlock() const;

  const std::string& name() const;
  void setName(std::string name);

  // Blocks until the operation has finished. Must not be called from its own work.
  void waitUntilFinished();

  // Key-value style observation of the announcements. Observers are called synchronously on the
  // announcing thread and must not remove themselves from inside the call.
  ChangeObserverToken addChangeObserver(ChangeObserver observer);
  void removeChangeObserver(ChangeObserverToken token);

 protected:
  void willChangeValueForKey(std::string_view key);
  void didChangeValueForKey(std::string_view key);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Runs one or more blocks (side by side when more than one) as its main().
class BlockOperation : public Operation {
 public:
  static std::shared_ptr<BlockOperation> create(std::function<void()> block);
  BlockOperation() = default;
  void addExecutionBlock(std::function<void()> block);
  void main() override;

 private:
  std::vector<std::function<void()>> blocks_;
};

}  // namespace kesto::fnd
