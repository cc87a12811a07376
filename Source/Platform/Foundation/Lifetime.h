#pragma once

#include <memory>
#include <utility>

namespace kesto::fnd {

// Answers, in work queued for later (a timer, a completion, a reply on the main queue), whether
// the object that queued it is still there. The object holds a Lifetime member and hands out
// watches; a watch reads false once the object has ended it or is gone:
//
//   dispatch([this, alive = lifetime_.watch()] { if (alive) finish(); });
//
// or, where the check is all there is, dispatch(lifetime_.whileAlive([this] { finish(); })).
//
// Objects that live on the main thread only say so, and then every check of a watch asserts
// it is made there: work that wandered onto another thread fails a test instead of racing.
class Lifetime {
 public:
  enum class Affinity { AnyThread, MainThread };

  // A watch: copyable, cheap, safe to check after the owner is destroyed.
  class Watch {
   public:
    Watch() = default;
    // True while the owner's lifetime runs.
    explicit operator bool() const;

   private:
    friend class Lifetime;
    struct State;
    explicit Watch(std::weak_ptr<const State> state) : state_(std::move(state)) {}
    std::weak_ptr<const State> state_;
  };

  explicit Lifetime(Affinity affinity = Affinity::AnyThread);
  // A copy of the owner is an object of its own: it never shares a lifetime.
  Lifetime(const Lifetime&) = delete;
  Lifetime& operator=(const Lifetime&) = delete;
  ~Lifetime();

  Watch watch() const;
  // `work` wrapped so that it runs only while this lifetime does; a call after the end does
  // nothing. Arguments are passed on, so it serves for completions that take an answer too.
  template <class Work>
  auto whileAlive(Work work) const {
    return [alive = watch(), work = std::move(work)](auto&&... args) {
      if (alive) work(std::forward<decltype(args)>(args)...);
    };
  }
  bool isAlive() const;
  bool isMainThreadOnly() const;

  // Ends the lifetime before the owner's members go: an owner calls it first in its destructor,
  // so work run while it tears down (a closing dialog answering) already sees it gone.
  void end();
  // Ends every watch handed out so far and starts a new lifetime: the owner lives on but
  // disowns the work it queued before (cancelled requests).
  void renew();

 private:
  std::shared_ptr<Watch::State> state_;
};

}  // namespace kesto::fnd
