#pragma once

// The longest the main thread went without running a heartbeat posted every millisecond: what a
// user feels as the window holding still while work runs.

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/UI/ApplicationMain.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

namespace kesto::bench {

class MainThreadGaps {
 public:
  MainThreadGaps() : state_(std::make_shared<State>()) { beat(state_); }
  ~MainThreadGaps() { stop(); }
  MainThreadGaps(const MainThreadGaps&) = delete;
  MainThreadGaps& operator=(const MainThreadGaps&) = delete;

  // Ends the heartbeat (its last beat runs out) and answers the longest gap, in milliseconds.
  double stop() {
    if (state_->beating) {
      state_->beating = false;
      ui::runEventLoopUntil([] { return false; }, 0.01);
    }
    return state_->longest;
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct State {
    Clock::time_point last = Clock::now();
    double longest = 0;
    bool beating = true;
  };
  static void beat(const std::shared_ptr<State>& s) {
    const auto now = Clock::now();
    s->longest = std::max(s->longest, std::chrono::duration<double, std::milli>(now - s->last).count());
    s->last = now;
    if (s->beating) fnd::DispatchQueue::main().after(0.001, [s] { beat(s); });
  }
  std::shared_ptr<State> state_;
};

}  // namespace kesto::bench
