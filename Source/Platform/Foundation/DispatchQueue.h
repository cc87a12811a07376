#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kesto::fnd {

// A queue of work items. Serial queues run one item at a time in submission order on a shared
// pool of worker threads; concurrent queues run items side by side; the main queue runs items on
// the main thread through its event loop (see RunLoop), in order with other main-loop work.
// Work items must not throw.
class DispatchQueue {
 public:
  enum class Kind { Serial, Concurrent };
  enum class Priority { High, Default, Low, Background };

  static std::shared_ptr<DispatchQueue> create(std::string label, Kind kind = Kind::Serial);
  static DispatchQueue& main();
  static DispatchQueue& global(Priority priority = Priority::Default);
  // The queue running the calling code, or nullptr on a thread no queue runs.
  static DispatchQueue* current();

  ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  const std::string& label() const;
  Kind kind() const;
  bool isMain() const;
  // Whether the calling code runs on this queue (for the main queue: on the main thread).
  bool isCurrent() const;

  void async(std::function<void()> work);
  // Runs `work` on the queue and waits for it. Called from the queue itself (which would wait
  // for ever), it runs `work` inline instead.
  void sync(const std::function<void()>& work);
  // Runs `work` on the queue after `seconds`.
  void after(double seconds, std::function<void()> work);

  // Suspension holds back items not yet started (not the main queue).
  void suspend();
  void resume();

 private:
  struct Impl;
  explicit DispatchQueue(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  friend struct DispatchAccess;
};

// Work items counted together: notify runs once everything entered has left.
class DispatchGroup {
 public:
  DispatchGroup();
  ~DispatchGroup();
  DispatchGroup(const DispatchGroup&) = delete;
  DispatchGroup& operator=(const DispatchGroup&) = delete;

  void enter();
  void leave();
  void async(DispatchQueue& queue, std::function<void()> work);
  // Submits `work` to `queue` once the group is empty (at once when it is empty now).
  void notify(DispatchQueue& queue, std::function<void()> work);
  // Waits until the group is empty; a negative timeout waits for ever. Answers false on timeout.
  bool wait(double timeoutSeconds = -1);

 private:
  struct Impl;
  static void leaveImpl(Impl& impl);
  std::shared_ptr<Impl> impl_;
};

// A counting semaphore.
class DispatchSemaphore {
 public:
  explicit DispatchSemaphore(long value = 0);
  ~DispatchSemaphore();
  DispatchSemaphore(const DispatchSemaphore&) = delete;
  DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

  // Answers false when `timeoutSeconds` (negative: for ever) passed first.
  bool wait(double timeoutSeconds = -1);
  void signal();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Once-only initialisation, safe across threads.
using OnceToken = std::once_flag;
template <typename F>
void dispatchOnce(OnceToken& token, F&& work) {
  std::call_once(token, std::forward<F>(work));
}

}  // namespace kesto::fnd
