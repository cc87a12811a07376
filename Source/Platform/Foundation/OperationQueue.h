#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::fnd {

class Operation;

// Runs operations when they are ready, at most maxConcurrentOperationCount at a time, each on a
// worker thread (the main queue: on the main thread). The queue holds its operations until they
// finish, even when whoever added them is gone.
class OperationQueue {
 public:
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;

  OperationQueue();
  // Waits for nothing: running operations keep running; those not started are dropped unstarted.
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  // The queue that runs operations on the main thread, one at a time.
  static OperationQueue& mainQueue();

  // Adding an operation that is already in a queue, running or finished is a contract failure
  // and is ignored.
  void addOperation(const std::shared_ptr<Operation>& operation);
  void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);
  void addOperationWithBlock(std::function<void()> block);

  std::vector<std::shared_ptr<Operation>> operations() const;
  std::size_t operationCount() const;

  // kDefaultMaxConcurrentOperationCount lets the queue choose (the number of processors).
  void setMaxConcurrentOperationCount(int count);
  int maxConcurrentOperationCount() const;

  void setSuspended(bool suspended);
  bool isSuspended() const;

  void setName(std::string name);
  std::string name() const;

  void cancelAllOperations();
  // Blocks until every operation has left the queue. On the main thread it keeps the main
  // event loop running, so main-thread work the operations wait for can still happen.
  void waitUntilAllOperationsAreFinished();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace kesto::fnd
