#pragma once

#include "Platform/Foundation/Error.h"

#include <memory>
#include <string>

namespace kesto::store {

// SQLite's quick check of a whole store file, for a worker thread: the part of
// Coordinator::checkForDamage a large library cannot afford before its window shows. It reads on
// a read-only connection of its own and never holds up a save: whenever a connection of this
// process waits to write the file, the check lets go at once and starts over after a pause
// (doubled after each such start, up to kLongestPause).
//
//   auto check = std::make_shared<StoreFileCheck>(path);
//   queue.async([check] { if (check->run(&error) == StoreFileCheck::Result::Damaged) ... });
//   check->cancel();  // from any thread, e.g. when the store closes
class StoreFileCheck {
 public:
  enum class Result {
    Sound,      // SQLite found nothing wrong
    Damaged,    // with `error` as checkForDamage gives it (Coordinator::isDamageError holds)
    Cancelled,  // cancel() came first
    Failed,     // the file could not be read for another reason (gone, not permitted), with `error`
  };
  static constexpr double kFirstPause = 0.2;
  static constexpr double kLongestPause = 10;

  explicit StoreFileCheck(std::string path);
  ~StoreFileCheck();
  StoreFileCheck(const StoreFileCheck&) = delete;
  StoreFileCheck& operator=(const StoreFileCheck&) = delete;

  // Runs the check on the calling thread until it has an answer.
  Result run(fnd::Error* error = nullptr);
  // Any thread: a run in progress ends at once with Cancelled; a later one does not start.
  void cancel();
  // How often the check gave way to a writer and started over.
  int restarts() const;
  // Whether the check is reading the file now (holding its read lock).
  bool isReading() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace kesto::store
