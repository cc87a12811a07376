#pragma once

// A store file read as another program finds it: through a read-only connection of its own,
// not the application's.

#include <sqlite3.h>

#include <optional>
#include <string>

namespace kesto::test {

// The first column of the first row `sql` gives on the SQLite file at `path`; none when the
// file cannot be opened or the query gives no row.
inline std::optional<std::string> firstValueOnDisk(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  std::optional<std::string> value;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      value = text ? text : "";
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return value;
}

// The bookmark rows in the store file at `path`; -1 when it cannot be read.
inline int bookmarkRowsOnDisk(const std::string& path) {
  auto count = firstValueOnDisk(path, "SELECT count(*) FROM ZBOOKMARK");
  return count ? std::stoi(*count) : -1;
}

}  // namespace kesto::test
