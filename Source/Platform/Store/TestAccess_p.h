#pragma once

// For the test suites only: the state behind a Coordinator or a Context (the SQLite connection
// and its lock, object IDs by row), so a test can look at or upset the store file directly.
// Production code cannot include this.

#ifndef KESTO_TEST_ACCESS
#error "Platform/Store/TestAccess_p.h is for the test suites"
#endif

#define KESTO_STORE_TEST_ACCESS
#include "Platform/Store/StoreInternal.h"
#undef KESTO_STORE_TEST_ACCESS

struct sqlite3;

namespace kesto::store {

struct TestAccess {
  template <class T>
  static typename T::Impl& impl(T& object) {
    return ImplAccess::of(object);
  }

  // The coordinator's SQLite connection, with every other use of it held off while this lives.
  struct Connection {
    std::unique_lock<std::recursive_mutex> lock;
    sqlite3* db;
  };
  static Connection connection(Coordinator& coordinator) {
    Coordinator::Impl& store = ImplAccess::of(coordinator);
    return {std::unique_lock(store.mutex), static_cast<sqlite3*>(store.db)};
  }
};

}  // namespace kesto::store
