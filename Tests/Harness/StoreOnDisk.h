#pragma once

// A store file read as another program finds it: through a read-only connection of its own,
// not the application's.

#include <sqlite3.h>

#include <fstream>
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

// Adds `rows` bookmarks (titles of `titleBytes` and more) to the closed library at `path`, which
// holds one already; answers whether it could.
inline bool growLibraryOnDisk(const std::string& path, int rows, int titleBytes = 8) {
  sqlite3* db = nullptr;
  const std::string grow =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(rows) +
      ") INSERT INTO ZBOOKMARK (Z_PK, Z_ENT, Z_OPT, ZUNIQUEID, ZURL, ZTITLE) SELECT (SELECT max(Z_PK) FROM ZBOOKMARK) "
      "+ i, (SELECT Z_ENT FROM ZBOOKMARK LIMIT 1), 1, 'grown-' || i, 'https://grown.example/' || i, printf('%." +
      std::to_string(titleBytes) + "c', 'x') || i FROM n";
  const bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, grow.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Grows the closed library at `path` and zeroes the last page of the file, the end of the tree
// filled last: the file opens and the first page of each table and index reads, but SQLite's
// check of the whole file finds the damage. Answers whether it could.
inline bool damagePastTheFirstPages(const std::string& path) {
  if (!growLibraryOnDisk(path, 3000)) return false;
  const auto pages = firstValueOnDisk(path, "PRAGMA page_count"), size = firstValueOnDisk(path, "PRAGMA page_size");
  if (!pages || !size) return false;
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  const std::string zeros(std::stoul(*size), '\0');
  file.seekp(static_cast<std::streamoff>((std::stol(*pages) - 1) * std::stol(*size)));
  file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  return static_cast<bool>(file);
}

}  // namespace kesto::test
