#pragma once

// SQL run on the application's own connection to its store, as a test upsets it (PRAGMA
// query_only = 1 makes every later write fail, whoever runs the test, root included).

#include "Model/WrenDataManager.h"
#include "Platform/Store/TestAccess_p.h"

#include <sqlite3.h>

#include <string>

namespace kesto::test {

// The first column of the first row `sql` gives as a number; -1 when it gives none.
inline int onStoreConnection(const std::string& sql) {
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  auto connection = store::TestAccess::connection(*coordinator);
  sqlite3_stmt* st = nullptr;
  int value = -1;
  if (sqlite3_prepare_v2(connection.db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    value = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  return value;
}

}  // namespace kesto::test
