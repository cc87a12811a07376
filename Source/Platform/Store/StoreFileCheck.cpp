#include "Platform/Store/StoreFileCheck.h"

#include "Platform/Store/StoreInternal.h"

#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace kesto::store {

struct StoreFileCheck::State {
  std::string path;
  // The connection while a check reads (guarded by the registry's mutex, so a writer never
  // interrupts one being closed), and whether a writer asked it to let go since it began.
  sqlite3* db = nullptr;
  bool gaveWay = false;
  std::atomic<bool> cancelled{false};
  std::atomic<int> restarts{0};
  std::mutex pauseMutex;
  std::condition_variable pauseEnded;
};

namespace {

// Every check in this process, for the writers to find. Never destroyed: a check may still be
// reading on a worker thread while the process ends.
std::mutex& gRegistryMutex = *new std::mutex;
std::vector<StoreFileCheck::State*>& gChecks = *new std::vector<StoreFileCheck::State*>;

bool isDamageCode(int code) { return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB; }

// The answer of one reading of the file.
struct Attempt {
  int rc = SQLITE_OK, extended = SQLITE_OK;
  std::string result, message;
  bool interrupted = false;  // a writer or cancel() stopped it: whatever it said does not count
};

Attempt readOnce(StoreFileCheck::State& state) {
  Attempt a;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(state.path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    a.rc = db ? sqlite3_errcode(db) : SQLITE_NOMEM;
    a.extended = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
    a.message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return a;
  }
  // A file from elsewhere: nothing in its schema runs on its own authority.
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  // While a save holds the file, the check waits for it (briefly, as every connection of ours).
  sqlite3_busy_handler(
      db,
      [](void* s, int tries) {
        if (tries >= 5000 || static_cast<StoreFileCheck::State*>(s)->cancelled) return 0;
        ::usleep(1000);
        return 1;
      },
      &state);
  {
    std::lock_guard lock(gRegistryMutex);
    state.db = db;
    state.gaveWay = false;
  }
  // Cancelled just before the connection was there for cancel() to stop.
  if (state.cancelled) sqlite3_interrupt(db);
  sqlite3_stmt* st = nullptr;
  a.rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &st, nullptr);
  if (a.rc == SQLITE_OK) a.rc = sqlite3_step(st);
  if (a.rc == SQLITE_ROW)
    if (auto text = sqlite3_column_text(st, 0)) a.result = reinterpret_cast<const char*>(text);
  a.extended = sqlite3_extended_errcode(db);
  a.message = sqlite3_errmsg(db);
  sqlite3_finalize(st);
  {
    std::lock_guard lock(gRegistryMutex);
    state.db = nullptr;
    a.interrupted = state.gaveWay || state.cancelled || a.rc == SQLITE_INTERRUPT;
  }
  sqlite3_close(db);
  return a;
}

}  // namespace

void giveWayToWriters(const std::string& path) {
  std::lock_guard lock(gRegistryMutex);
  for (auto* state : gChecks)
    if (state->db && state->path == path) {
      state->gaveWay = true;
      sqlite3_interrupt(state->db);
    }
}

StoreFileCheck::StoreFileCheck(std::string path) : state_(std::make_shared<State>()) {
  state_->path = std::move(path);
  std::lock_guard lock(gRegistryMutex);
  gChecks.push_back(state_.get());
}

StoreFileCheck::~StoreFileCheck() {
  std::lock_guard lock(gRegistryMutex);
  gChecks.erase(std::remove(gChecks.begin(), gChecks.end(), state_.get()), gChecks.end());
}

StoreFileCheck::Result StoreFileCheck::run(fnd::Error* error) {
  auto& state = *state_;
  double pause = kFirstPause;
  for (;;) {
    if (state.cancelled) return Result::Cancelled;
    const Attempt a = readOnce(state);
    if (state.cancelled) return Result::Cancelled;
    if (!a.interrupted) {
      if (a.rc == SQLITE_ROW && a.result == "ok") return Result::Sound;
      if (a.rc == SQLITE_ROW || isDamageCode(a.extended)) {
        if (error) *error = damageFoundError(a.rc == SQLITE_ROW ? a.result : a.message, state.path);
        return Result::Damaged;
      }
    }
    // Stopped by a writer, or kept out by one past the wait: again once the writes have paused.
    if (!a.interrupted && a.rc != SQLITE_BUSY && a.rc != SQLITE_LOCKED) {
      if (error)
        *error = fnd::Error::withDescription(fnd::kCocoaErrorDomain, kPersistentStoreOpenError,
                                             "The store file could not be checked: " + a.message);
      return Result::Failed;
    }
    ++state.restarts;
    std::unique_lock wait(state.pauseMutex);
    if (state.pauseEnded.wait_for(wait, std::chrono::duration<double>(pause), [&] { return state.cancelled.load(); }))
      return Result::Cancelled;
    pause = std::min(pause * 2, kLongestPause);
  }
}

void StoreFileCheck::cancel() {
  {
    std::lock_guard lock(gRegistryMutex);
    state_->cancelled = true;
    if (state_->db) sqlite3_interrupt(state_->db);
  }
  std::lock_guard pause(state_->pauseMutex);
  state_->pauseEnded.notify_all();
}

int StoreFileCheck::restarts() const { return state_->restarts; }

bool StoreFileCheck::isReading() const {
  std::lock_guard lock(gRegistryMutex);
  return state_->db != nullptr;
}

}  // namespace kesto::store
