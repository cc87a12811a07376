#include "Platform/Foundation/Lifetime.h"

#include "Platform/Foundation/Assert.h"

#include <atomic>

namespace kesto::fnd {

struct Lifetime::Watch::State {
  explicit State(Affinity a) : affinity(a) {}
  const Affinity affinity;
  // Atomic: watches of an any-thread owner are checked on worker threads.
  std::atomic<bool> alive{true};
};

Lifetime::Watch::operator bool() const {
  auto state = state_.lock();
  if (!state) return false;
  if (state->affinity == Affinity::MainThread) KESTO_ASSERT_MAIN_THREAD();
  return state->alive.load(std::memory_order_acquire);
}

Lifetime::Lifetime(Affinity affinity) : state_(std::make_shared<Watch::State>(affinity)) {}

Lifetime::~Lifetime() { end(); }

Lifetime::Watch Lifetime::watch() const { return Watch(state_); }

bool Lifetime::isAlive() const { return state_->alive.load(std::memory_order_acquire); }

bool Lifetime::isMainThreadOnly() const { return state_->affinity == Affinity::MainThread; }

void Lifetime::end() { state_->alive.store(false, std::memory_order_release); }

void Lifetime::renew() {
  end();
  state_ = std::make_shared<Watch::State>(state_->affinity);
}

}  // namespace kesto::fnd
