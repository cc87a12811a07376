#pragma once

#include <functional>
#include <memory>

namespace kesto::fnd {

// A one-shot or repeating timer on the run loop of the thread that scheduled it (see
// RunLoop::current). It fires on that thread until invalidated; invalidating from another
// thread is safe. The run loop keeps a scheduled timer alive: dropping the last reference does
// not stop it, invalidate() does.
class Timer : public std::enable_shared_from_this<Timer> {
 public:
  using Action = std::function<void(Timer&)>;

  static std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, Action action);

  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  double timeInterval() const;
  bool repeats() const;
  bool isValid() const;

  // Stops the timer for good; its action is released.
  void invalidate();
  // Runs the action now; a one-shot timer is then invalidated, a repeating one keeps its schedule.
  void fire();
  // Moves the next firing to `seconds` from now (a repeating timer keeps its interval after it).
  void setFireAfter(double seconds);

 private:
  struct Impl;
  explicit Timer(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl_;
};

}  // namespace kesto::fnd
