#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kesto::fnd {

// Names one delayed perform, for cancelling it.
struct PerformToken {
  std::uint64_t id = 0;
  explicit operator bool() const { return id != 0; }
};

// The event loop of one thread. The main run loop is the Qt event loop of the main (GUI)
// thread; the main dispatch queue posts to the same loop, so both keep one FIFO order. Other
// threads get a loop when they are RunLoopThreads. Work handed to a loop never throws out of it.
class RunLoop {
 public:
  // Modes: Default work is held back while a modal session or event tracking runs (see
  // setTrackingPredicate); Common work runs in every mode.
  enum class Mode { Common, Default };

  // The loop of the main thread (the thread of the QCoreApplication).
  static RunLoop& main();
  // The loop of the calling thread: the main loop, a RunLoopThread's loop, or, on a thread with
  // no event loop, the main loop (work is then run there).
  static RunLoop& current();
  static bool isMainThread();

  bool isCurrent() const;

  // Runs `work` on this loop's thread later, in submission order.
  void perform(std::function<void()> work, Mode mode = Mode::Common);
  // Runs `work` on this loop's thread and waits; runs it inline when called on that thread.
  void performAndWait(const std::function<void()>& work);

  // Runs `work` on this loop after `seconds`. `target` groups performs for
  // cancelPreviousPerformRequests.
  PerformToken performAfterDelay(double seconds, std::function<void()> work, const void* target = nullptr,
                                 Mode mode = Mode::Common);
  // Cancels one delayed perform (from any thread); a perform that already ran is unaffected.
  static void cancelPerform(PerformToken token);
  // Cancels every pending delayed perform registered for `target`, on every loop.
  static void cancelPreviousPerformRequests(const void* target);

  // Answers true while Default-mode work must wait (a modal alert, a menu being tracked, a
  // drag). The UI layer installs it; empty means never.
  static void setTrackingPredicate(std::function<bool()> isTracking);

 private:
  friend class RunLoopThread;
  struct Impl;
  explicit RunLoop(std::unique_ptr<Impl> impl);
  ~RunLoop();
  std::unique_ptr<Impl> impl_;
  friend struct RunLoopAccess;
};

// Convenience forms on the main loop.
void performOnMainThread(std::function<void()> work, bool waitUntilDone = false);
PerformToken performAfterDelay(double seconds, std::function<void()> work, const void* target = nullptr);
void cancelPreviousPerformRequests(const void* target);

// A long-lived thread that runs its own event loop (for example the "Networking" thread).
class RunLoopThread {
 public:
  // Starts the thread at once; `name` names it for debuggers and logs.
  explicit RunLoopThread(std::string name);
  // Stops the loop and joins the thread; pending work is dropped.
  ~RunLoopThread();
  RunLoopThread(const RunLoopThread&) = delete;
  RunLoopThread& operator=(const RunLoopThread&) = delete;

  const std::string& name() const;
  RunLoop& runLoop();
  void perform(std::function<void()> work) { runLoop().perform(std::move(work)); }
  bool isCurrent() const { return const_cast<RunLoopThread*>(this)->runLoop().isCurrent(); }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Starts a thread that runs `work` and then ends; nothing waits for it.
void detachNewThread(std::function<void()> work, const std::string& name = {});

}  // namespace kesto::fnd
