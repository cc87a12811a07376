#include "Platform/Store/Coordinator.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Uuid.h"
#include "Platform/Store/StoreInternal.h"
#include "Platform/Store/ValueTransformer.h"
#include "Platform/Foundation/Strings.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <chrono>
#include <thread>
#include <mutex>
#include <condition_variable>
#include <set>
#include <sstream>
#include <tuple>
#include <unordered_map>

namespace kesto::store {

namespace {

sqlite3* dbOf(const Coordinator::Impl& c) { return static_cast<sqlite3*>(c.db); }

fnd::Error storeError(long code, const std::string& text, const std::string& path = {}) {
  fnd::Error e = fnd::Error::withDescription(fnd::kCocoaErrorDomain, code, text);
  if (!path.empty()) e.mutableUserInfo()[fnd::kFilePathErrorKey] = path;
  return e;
}

fnd::Error sqliteError(sqlite3* db, long code, const std::string& what) {
  std::string msg = what + ": " + (db ? sqlite3_errmsg(db) : "no database");
  fnd::Error e = storeError(code, msg);
  e.mutableUserInfo()["NSSQLiteErrorDomain"] = db ? sqlite3_extended_errcode(db) : 0;
  return e;
}

// RAII statement.
struct Stmt {
  sqlite3_stmt* s = nullptr;
  Stmt(sqlite3* db, const std::string& sql) { sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr); }
  ~Stmt() { sqlite3_finalize(s); }
  explicit operator bool() const { return s != nullptr; }
};

// A statement from the connection's cache: prepared once per SQL text, then reset and unbound
// after each use so repeated reads and writes cost only bind and step.
class Cached {
 public:
  Cached(Coordinator::Impl& c, std::string sql) : c_(c), sql_(std::move(sql)) {
    auto it = c_.statements.find(sql_);
    if (it != c_.statements.end() && !it->second.empty()) {
      s = static_cast<sqlite3_stmt*>(it->second.back());
      it->second.pop_back();
    } else {
      sqlite3_prepare_v3(static_cast<sqlite3*>(c_.db), sql_.c_str(), static_cast<int>(sql_.size()),
                         SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    }
  }
  ~Cached() {
    if (!s) return;
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    // Texts built from long value lists (IN with thousands of arguments) rarely repeat.
    constexpr std::size_t kMaxTexts = 256, kMaxText = 4096;
    if (c_.db && sql_.size() <= kMaxText && (c_.statements.size() < kMaxTexts || c_.statements.count(sql_)))
      c_.statements[sql_].push_back(s);
    else
      sqlite3_finalize(s);
  }
  Cached(const Cached&) = delete;
  Cached& operator=(const Cached&) = delete;
  explicit operator bool() const { return s != nullptr; }
  sqlite3_stmt* s = nullptr;

 private:
  Coordinator::Impl& c_;
  std::string sql_;
};

bool exec(sqlite3* db, const std::string& sql, fnd::Error* error, long code = kPersistentStoreOperationError) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK) return true;
  std::string text = msg ? msg : "unknown";
  sqlite3_free(msg);
  if (error) {
    *error = storeError(code, "SQL failed (" + sql.substr(0, 80) + "): " + text);
    error->mutableUserInfo()["NSSQLiteErrorDomain"] = sqlite3_extended_errcode(db);
  }
  return false;
}

std::string columnName(const std::string& name) { return "Z" + fnd::asciiUppercase(name); }

const char* sqlType(AttributeType t) {
  switch (t) {
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64:
    case AttributeType::Boolean: return "INTEGER";
    case AttributeType::Double:
    case AttributeType::Float:
    case AttributeType::Date: return "REAL";
    case AttributeType::String: return "VARCHAR";
    case AttributeType::Binary:
    case AttributeType::Transformable: return "BLOB";
  }
  return "BLOB";
}

// The join table of a many-to-many (or inverse-less to-many) relationship: it belongs to the
// side whose (entity number, name) sorts first, so both sides name the same table.
struct JoinTable {
  std::string table, ownerColumn, destinationColumn;
  bool flipped = false;  // the asking side is the destination side of the table
};

bool usesJoinTable(const EntityDescription& e, int rel) {
  const auto& r = e.relationships()[rel];
  if (!r.toMany) return false;
  int inv = e.inverseIndex(rel);
  if (inv < 0) return true;
  return e.destination(rel)->relationships()[inv].toMany;
}

JoinTable joinTableFor(const EntityDescription& e, int rel) {
  const auto& r = e.relationships()[rel];
  const EntityDescription* d = e.destination(rel);
  int inv = e.inverseIndex(rel);
  JoinTable j;
  bool owner = inv < 0 || std::make_pair(e.entityNumber(), r.name) <= std::make_pair(d->entityNumber(), d->relationships()[inv].name);
  const EntityDescription* oe = owner ? &e : d;
  const EntityDescription* de = owner ? d : &e;
  const std::string& orel = owner ? r.name : d->relationships()[inv].name;
  std::string invName = inv < 0 ? oe->name() : (owner ? d->relationships()[inv].name : r.name);
  j.table = "Z_" + std::to_string(oe->entityNumber()) + fnd::asciiUppercase(orel);
  j.ownerColumn = "Z_" + std::to_string(oe->entityNumber()) + fnd::asciiUppercase(invName);
  j.destinationColumn = "Z_" + std::to_string(de->entityNumber()) + fnd::asciiUppercase(orel);
  if (j.ownerColumn == j.destinationColumn) j.destinationColumn += "_DEST";
  j.flipped = !owner;
  return j;
}

// What a stored layout says about one entity: "name", then "a:<attr>:<type>" and "r:<rel>:<dest>:<one|many>".
std::string layoutOf(const EntityDescription& e) {
  std::string s = e.name();
  for (const auto& a : e.attributes())
    if (!a.transient) s += "\n a:" + a.name + ":" + attributeTypeName(a.type);
  for (const auto& r : e.relationships())
    s += "\n r:" + r.name + ":" + r.destinationEntityName + (r.toMany ? ":many" : ":one");
  return s;
}

std::vector<std::string> splitLines(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string line;
  while (std::getline(ss, line)) out.push_back(line);
  return out;
}

void bindValue(sqlite3_stmt* st, int i, const fnd::Value& v) {
  switch (v.type()) {
    case fnd::Value::Type::Null: sqlite3_bind_null(st, i); break;
    case fnd::Value::Type::Boolean: sqlite3_bind_int64(st, i, v.boolValue() ? 1 : 0); break;
    case fnd::Value::Type::Integer: sqlite3_bind_int64(st, i, v.intValue()); break;
    case fnd::Value::Type::Real: sqlite3_bind_double(st, i, v.doubleValue()); break;
    case fnd::Value::Type::String: sqlite3_bind_text(st, i, v.string().data(), static_cast<int>(v.string().size()), SQLITE_TRANSIENT); break;
    case fnd::Value::Type::Data:
      sqlite3_bind_blob(st, i, v.data().empty() ? "" : reinterpret_cast<const char*>(v.data().data()),
                        static_cast<int>(v.data().size()), SQLITE_TRANSIENT);
      break;
    case fnd::Value::Type::Date: sqlite3_bind_double(st, i, v.date().timeIntervalSinceReferenceDate()); break;
    default: sqlite3_bind_null(st, i); break;
  }
}

// The stored form of an attribute value.
fnd::Value toStorage(const AttributeDescription& a, const fnd::Value& v);

// Binds an attribute value in its stored form without copying it first; the value must outlive
// the statement's step.
void bindAttribute(sqlite3_stmt* st, int i, const AttributeDescription& a, const fnd::Value& v) {
  if (v.isNull()) {
    sqlite3_bind_null(st, i);
    return;
  }
  switch (a.type) {
    case AttributeType::String:
      if (v.isString()) {
        sqlite3_bind_text(st, i, v.string().data(), static_cast<int>(v.string().size()), SQLITE_STATIC);
        return;
      }
      break;
    case AttributeType::Binary:
      if (v.isData()) {
        sqlite3_bind_blob(st, i, v.data().empty() ? "" : reinterpret_cast<const char*>(v.data().data()),
                          static_cast<int>(v.data().size()), SQLITE_STATIC);
        return;
      }
      break;
    default: break;
  }
  bindValue(st, i, toStorage(a, v));
}


fnd::Value toStorage(const AttributeDescription& a, const fnd::Value& v) {
  if (v.isNull()) return v;
  switch (a.type) {
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64:
    case AttributeType::Boolean: return v.isNumber() ? fnd::Value(v.intValue()) : fnd::Value();
    case AttributeType::Double:
    case AttributeType::Float: return v.isNumber() ? fnd::Value(v.doubleValue()) : fnd::Value();
    case AttributeType::Date:
      if (v.isDate()) return fnd::Value(v.date().timeIntervalSinceReferenceDate());
      return v.isNumber() ? fnd::Value(v.doubleValue()) : fnd::Value();
    case AttributeType::String: return v.isString() ? v : fnd::Value(v.description());
    case AttributeType::Binary: return v.isData() ? v : fnd::Value();
    case AttributeType::Transformable: {
      if (auto t = ValueTransformer::named(a.valueTransformerName)) return t->transformedValue(v);
      return v.isData() ? v : fnd::Value();
    }
  }
  return {};
}

fnd::Value fromColumn(const AttributeDescription& a, sqlite3_stmt* st, int col) {
  int t = sqlite3_column_type(st, col);
  if (t == SQLITE_NULL) return {};
  switch (a.type) {
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64: return fnd::Value(static_cast<std::int64_t>(sqlite3_column_int64(st, col)));
    case AttributeType::Boolean: return fnd::Value(sqlite3_column_int64(st, col) != 0);
    case AttributeType::Double:
    case AttributeType::Float: return fnd::Value(sqlite3_column_double(st, col));
    case AttributeType::Date: return fnd::Value(fnd::Date(sqlite3_column_double(st, col)));
    case AttributeType::String: {
      auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
      return fnd::Value(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, col))));
    }
    case AttributeType::Binary:
    case AttributeType::Transformable: {
      auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, col));
      fnd::Data d(p, p + sqlite3_column_bytes(st, col));
      fnd::Value v(std::move(d));
      if (a.type == AttributeType::Transformable)
        if (auto tr = ValueTransformer::named(a.valueTransformerName)) return tr->reverseTransformedValue(v);
      return v;
    }
  }
  return {};
}

}  // namespace

std::string storeColumnName(const std::string& name) { return columnName(name); }

std::optional<JoinColumns> joinColumnsFor(const EntityDescription& e, int relationship) {
  if (!usesJoinTable(e, relationship)) return std::nullopt;
  JoinTable j = joinTableFor(e, relationship);
  return JoinColumns{j.table, j.flipped ? j.destinationColumn : j.ownerColumn,
                     j.flipped ? j.ownerColumn : j.destinationColumn};
}

// ---------------------------------------------------------------------------------------------
// Schema

namespace {

bool createEntityTable(sqlite3* db, const EntityDescription& e, fnd::Error* error) {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + e.tableName() + " (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER";
  for (const auto& a : e.attributes())
    if (!a.transient && !a.isLazy()) sql += ", " + columnName(a.name) + " " + sqlType(a.type);
  for (std::size_t i = 0; i < e.relationships().size(); ++i)
    if (!e.relationships()[i].toMany) sql += ", " + columnName(e.relationships()[i].name) + " INTEGER";
  // Large values last: reading the columns before them never walks their overflow pages.
  for (const auto& a : e.attributes())
    if (!a.transient && a.isLazy()) sql += ", " + columnName(a.name) + " " + sqlType(a.type);
  sql += ")";
  return exec(db, sql, error);
}

bool createIndexes(sqlite3* db, const EntityDescription& e, fnd::Error* error) {
  for (const auto& a : e.attributes()) {
    if (a.transient || !a.indexed) continue;
    std::string idx = e.tableName() + "_" + columnName(a.name) + "_INDEX";
    if (!exec(db, "CREATE INDEX IF NOT EXISTS " + idx + " ON " + e.tableName() + " (" + columnName(a.name) + ")", error))
      return false;
  }
  for (std::size_t i = 0; i < e.relationships().size(); ++i) {
    const auto& r = e.relationships()[i];
    if (!r.toMany) {
      std::string idx = e.tableName() + "_" + columnName(r.name) + "_INDEX";
      if (!exec(db, "CREATE INDEX IF NOT EXISTS " + idx + " ON " + e.tableName() + " (" + columnName(r.name) + ")", error))
        return false;
    } else if (usesJoinTable(e, static_cast<int>(i))) {
      JoinTable j = joinTableFor(e, static_cast<int>(i));
      if (!exec(db, "CREATE TABLE IF NOT EXISTS " + j.table + " (" + j.ownerColumn + " INTEGER, " + j.destinationColumn +
                        " INTEGER, PRIMARY KEY (" + j.ownerColumn + ", " + j.destinationColumn + "))", error))
        return false;
      if (!exec(db, "CREATE INDEX IF NOT EXISTS " + j.table + "_" + j.destinationColumn + "_INDEX ON " + j.table + " (" +
                        j.destinationColumn + ", " + j.ownerColumn + ")", error))
        return false;
    }
  }
  return true;
}

bool writeMetadata(sqlite3* db, const Model& m, const std::string& storeId, fnd::Error* error) {
  if (!exec(db, "CREATE TABLE IF NOT EXISTS Z_METADATA (Z_KEY VARCHAR PRIMARY KEY, Z_VALUE VARCHAR)", error)) return false;
  if (!exec(db, "CREATE TABLE IF NOT EXISTS Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER)", error))
    return false;
  Stmt put(db, "INSERT OR REPLACE INTO Z_METADATA (Z_KEY, Z_VALUE) VALUES (?, ?)");
  auto set = [&](const std::string& k, const std::string& v) {
    sqlite3_reset(put.s);
    sqlite3_bind_text(put.s, 1, k.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put.s, 2, v.c_str(), -1, SQLITE_TRANSIENT);
    return sqlite3_step(put.s) == SQLITE_DONE;
  };
  bool ok = set("versionHash", m.versionHash()) && set("storeIdentifier", storeId);
  for (const auto& e : m.entities()) ok = ok && set("layout." + e->name(), layoutOf(*e));
  for (const auto& e : m.entities()) {
    Stmt pk(db, "INSERT OR IGNORE INTO Z_PRIMARYKEY (Z_ENT, Z_NAME, Z_SUPER, Z_MAX) VALUES (?, ?, 0, 0)");
    sqlite3_bind_int(pk.s, 1, e->entityNumber());
    sqlite3_bind_text(pk.s, 2, e->name().c_str(), -1, SQLITE_TRANSIENT);
    ok = ok && sqlite3_step(pk.s) == SQLITE_DONE;
  }
  if (!ok && error) *error = sqliteError(db, kPersistentStoreOperationError, "Writing the store metadata failed");
  return ok;
}

using Metadata = std::map<std::string, std::string>;

// Only additions can be inferred: every stored entity, attribute and relationship must still
// exist with the same type. Answers why a store with these metadata cannot be migrated.
std::optional<fnd::Error> migrationRefusal(const Metadata& meta, const Model& model) {
  for (const auto& [key, layout] : meta) {
    if (key.rfind("layout.", 0) != 0) continue;
    auto lines = splitLines(layout);
    const EntityDescription* en = lines.empty() ? nullptr : model.entity(lines[0]);
    if (!en)
      return storeError(kMigrationMissingSourceModelError,
                        "Can't find a model for the source store (entity " + key.substr(7) + " was removed)");
    auto now = splitLines(layoutOf(*en));
    std::set<std::string> nowSet(now.begin(), now.end());
    for (const auto& l : lines)
      if (!nowSet.count(l))
        return storeError(kMigrationMissingSourceModelError,
                          "Can't find a model for the source store (" + en->name() + ":" + l + ")");
  }
  return std::nullopt;
}

// Whether the layouts a store records (which migrationRefusal found all in `model`) are an
// older model's: some entity, attribute or relationship of `model` is missing from them.
bool isOlderLayout(const Metadata& meta, const Model& model) {
  std::size_t stored = 0, now = 0;
  for (const auto& [key, layout] : meta)
    if (key.rfind("layout.", 0) == 0) stored += splitLines(layout).size();
  for (const auto& en : model.entities()) now += splitLines(layoutOf(*en)).size();
  return stored > 0 && stored < now;
}

std::set<std::string> tableNames(sqlite3* db, bool* ok) {
  std::set<std::string> tables;
  Stmt st(db, "SELECT name FROM sqlite_master WHERE type = 'table'");
  int rc = SQLITE_ERROR;
  if (st)
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) tables.insert(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 0)));
  *ok = rc == SQLITE_DONE;
  return tables;
}

// The key and value rows of Z_METADATA; false when they cannot be read.
bool readMetadata(sqlite3* db, Metadata& meta) {
  Stmt st(db, "SELECT Z_KEY, Z_VALUE FROM Z_METADATA");
  if (!st) return false;
  while (sqlite3_step(st.s) == SQLITE_ROW)
    if (auto key = sqlite3_column_text(st.s, 0))
      meta[reinterpret_cast<const char*>(key)] =
          sqlite3_column_text(st.s, 1) ? reinterpret_cast<const char*>(sqlite3_column_text(st.s, 1)) : "";
  return true;
}

std::set<std::string> columnNames(sqlite3* db, const std::string& table) {
  std::set<std::string> cols;
  Stmt st(db, "PRAGMA table_info(" + table + ")");
  while (st && sqlite3_step(st.s) == SQLITE_ROW) cols.insert(fnd::asciiUppercase(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 1))));
  return cols;
}

// A store file may come from elsewhere (a restored backup, a synced copy): the connection never
// lets SQL rewrite the schema, and runs no function a schema entry names on its own authority.
void harden(sqlite3* db) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
}

// Our connections to one file (a worker reading beside the main thread's saves) hold its lock
// for one short statement at a time, so a waiter looks again every millisecond, for at most 5 s.
// SQLite's own back-off sleeps up to 100 ms at a time and would oversleep most such locks. The
// one long reader, a whole-file check, is asked to let go at once. `path` is the connection's
// store file (set once it is open).
void waitBrieflyForLocks(sqlite3* db, const std::string* path) {
  sqlite3_busy_handler(
      db,
      [](void* file, int tries) {
        if (tries >= 5000) return 0;
        if (const auto* path = static_cast<const std::string*>(file); !path->empty()) giveWayToWriters(*path);
        ::usleep(1000);
        return 1;
      },
      const_cast<std::string*>(path));
}

std::string columnText(sqlite3_stmt* st, int column) {
  auto text = sqlite3_column_text(st, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

// The objects of a store's schema: for tables their columns (name, type, constraints flags), for
// indexes their SQL, and every object's kind and table. SQLite's own statistics are left out.
struct SchemaObject {
  std::string type, table, definition;
  std::set<std::string> columns;
};
using Schema = std::map<std::string, SchemaObject>;

std::optional<Schema> schemaOf(sqlite3* db) {
  Schema schema;
  Stmt st(db, "SELECT type, name, tbl_name, sql FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_stat%' ESCAPE '\\'");
  if (!st) return std::nullopt;
  int rc;
  // Names compare as SQL's do, without ASCII case: an older program wrote some in another case
  // where the C library's locale decided it (Turkish "i").
  std::map<std::string, std::string> written;  // names as the file has them
  while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
    const std::string name = fnd::asciiUppercase(columnText(st.s, 1));
    written[name] = columnText(st.s, 1);
    schema[name] = {columnText(st.s, 0), fnd::asciiUppercase(columnText(st.s, 2)), fnd::asciiUppercase(columnText(st.s, 3)), {}};
  }
  if (rc != SQLITE_DONE) return std::nullopt;
  for (auto& [name, object] : schema) {
    if (object.type != "table") continue;
    Stmt info(db, "PRAGMA table_xinfo(\"" + written[name] + "\")");
    while (info && sqlite3_step(info.s) == SQLITE_ROW)
      object.columns.insert(fnd::asciiUppercase(columnText(info.s, 1)) + " " + columnText(info.s, 2) + " " +
                            columnText(info.s, 3) + " " + columnText(info.s, 4) + " " + columnText(info.s, 5) + " " +
                            columnText(info.s, 6));
  }
  return schema;
}

// Words a table of ours never uses: constraints, defaults and generated columns run on writes.
bool hasForeignTableClause(const std::string& sql) {
  static const std::set<std::string> kForeign{"CHECK",   "REFERENCES", "GENERATED", "DEFAULT", "COLLATE", "AS",
                                              "UNIQUE",  "CONSTRAINT", "ON",        "WITHOUT", "STRICT",  "AUTOINCREMENT"};
  std::string word;
  for (std::size_t i = 0; i <= sql.size(); ++i) {
    const char c = i < sql.size() ? sql[i] : ' ';
    if (fnd::isAsciiLetterOrDigit(c) || c == '_') {
      word += fnd::asciiUppercase(c);
    } else {
      if (kForeign.count(word)) return true;
      word.clear();
    }
  }
  return false;
}

// The schema this code writes for `model`, made in memory.
std::optional<Schema> schemaWrittenFor(const Model& model) {
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(":memory:", &h, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(h);
    return std::nullopt;
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(h, sqlite3_close);
  bool ok = true;
  for (const auto& en : model.entities()) ok = ok && createEntityTable(h, *en, nullptr) && createIndexes(h, *en, nullptr);
  ok = ok && writeMetadata(h, model, "reference", nullptr);
  return ok ? schemaOf(h) : std::nullopt;
}

// Why the file's schema is not the one written for `model` (nothing when it is). A store made
// with this model must match object for object; one made with an older model may lack what
// opening would add, and holds nothing else.
std::optional<std::string> schemaDifference(sqlite3* db, const Model& model, bool sameModel) {
  auto file = schemaOf(db);
  auto written = schemaWrittenFor(model);
  if (!file || !written) return std::string("its schema cannot be read");
  for (const auto& [name, object] : *file) {
    auto it = written->find(name);
    if (it == written->end()) return "it holds a " + object.type + " named " + name + " that this application does not write";
    const SchemaObject& ours = it->second;
    if (object.type != ours.type || object.table != ours.table)
      return "its " + object.type + " " + name + " is not the one this application writes";
    if (object.type == "table") {
      const bool sameColumns = sameModel ? object.columns == ours.columns
                                         : std::includes(ours.columns.begin(), ours.columns.end(),
                                                         object.columns.begin(), object.columns.end());
      if (!sameColumns || hasForeignTableClause(object.definition))
        return "its table " + name + " is not the one this application writes";
    } else if (object.definition != ours.definition) {
      return "its " + object.type + " " + name + " is not the one this application writes";
    }
  }
  if (sameModel)
    for (const auto& [name, object] : *written)
      if (!file->count(name)) return "it lacks the " + object.type + " " + name;
  return std::nullopt;
}

}  // namespace

namespace {

// Settings every connection to a store gets: full syncs, the caller's pragmas ("journal_mode" =
// "WAL"; the default keeps one file) and our SQL functions.
void configureConnection(sqlite3* h, const fnd::Dictionary& options) {
  exec(h, "PRAGMA synchronous = FULL", nullptr);
  auto pit = options.find(kSQLitePragmasOption);
  if (pit != options.end() && pit->second.isDictionary()) {
    for (const auto& [k, v] : pit->second.dictionary()) {
      bool safe = std::all_of(k.begin(), k.end(), [](char c) { return fnd::isAsciiLetterOrDigit(c) || c == '_'; });
      std::string val = v.isString() ? v.string() : std::to_string(v.intValue());
      bool safeVal = std::all_of(val.begin(), val.end(), [](char c) { return fnd::isAsciiLetterOrDigit(c) || c == '_' || c == '-'; });
      if (safe && safeVal) exec(h, "PRAGMA " + k + " = " + val, nullptr);
    }
  }
  registerSqlFunctions(h);
}

}  // namespace

bool Coordinator::checkStoreFile(const std::string& path, const Model& model, fnd::Error* error) {
  auto refuse = [&](long code, const std::string& text) {
    if (error) {
      *error = storeError(code, text);
      error->mutableUserInfo()[fnd::kFilePathErrorKey] = path;
    }
    return false;
  };
  if (!model.isFinished()) return refuse(kPersistentStoreOperationError, "The model is not finished");
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(h);
    return refuse(kPersistentStoreOpenError, "The file cannot be opened");
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(h, sqlite3_close);
  harden(h);
  bool ok = false;
  const auto tables = tableNames(h, &ok);
  if (!ok) return refuse(kFileReadCorruptFileError, "The file is damaged or not a store");
  if (!tables.count("Z_METADATA") || !tables.count("Z_PRIMARYKEY"))
    return refuse(kFileReadCorruptFileError, "The file is not a store of this application");
  Metadata meta;
  if (!readMetadata(h, meta)) return refuse(kFileReadCorruptFileError, "The store metadata cannot be read");
  const auto hash = meta.find("versionHash");
  if (hash == meta.end() || hash->second.empty() || meta["storeIdentifier"].empty())
    return refuse(kFileReadCorruptFileError, "The store does not say which model it was made with");

  // The columns each entity's table must have: all of the model's when the file was made with
  // it; otherwise those of the layouts the file records (opening adds what is new).
  struct Needed {
    std::set<std::string> columns;
    std::vector<std::string> joinTables;
  };
  std::map<std::string, Needed> needed;
  if (hash->second == model.versionHash()) {
    for (const auto& en : model.entities()) {
      auto& n = needed[en->tableName()];
      for (const auto& a : en->attributes())
        if (!a.transient) n.columns.insert(columnName(a.name));
      for (std::size_t i = 0; i < en->relationships().size(); ++i) {
        if (!en->relationships()[i].toMany) n.columns.insert(columnName(en->relationships()[i].name));
        else if (usesJoinTable(*en, static_cast<int>(i))) n.joinTables.push_back(joinTableFor(*en, static_cast<int>(i)).table);
      }
    }
  } else {
    bool hasLayout = false;
    for (const auto& entry : meta) hasLayout = hasLayout || entry.first.rfind("layout.", 0) == 0;
    if (!hasLayout)
      return refuse(kPersistentStoreIncompatibleVersionHashError, "The store was made with a model this version cannot read");
    if (auto refused = migrationRefusal(meta, model)) {
      if (error) *error = *refused;
      return false;
    }
    for (const auto& [key, layout] : meta) {
      if (key.rfind("layout.", 0) != 0) continue;
      auto lines = splitLines(layout);
      const EntityDescription* en = model.entity(lines[0]);
      auto& n = needed[en->tableName()];
      for (std::size_t i = 1; i < lines.size(); ++i) {
        // " a:<name>:<type>" and " r:<name>:<destination>:one"
        const auto& l = lines[i];
        const auto colon = l.find(':', 3);
        const std::string name = l.substr(3, colon == std::string::npos ? std::string::npos : colon - 3);
        if (l.rfind(" a:", 0) == 0 || (l.rfind(" r:", 0) == 0 && l.size() > 4 && l.compare(l.size() - 4, 4, ":one") == 0))
          n.columns.insert(columnName(name));
      }
    }
  }
  for (const auto& [table, n] : needed) {
    if (!tables.count(table)) return refuse(kFileReadCorruptFileError, "The store has no table " + table);
    const auto cols = columnNames(h, table);
    for (const char* c : {"Z_PK", "Z_ENT", "Z_OPT"})
      if (!cols.count(c)) return refuse(kFileReadCorruptFileError, "The table " + table + " has no column " + c);
    for (const auto& c : n.columns)
      if (!cols.count(c)) return refuse(kFileReadCorruptFileError, "The table " + table + " has no column " + c);
    for (const auto& j : n.joinTables)
      if (!tables.count(j)) return refuse(kFileReadCorruptFileError, "The store has no table " + j);
  }
  const auto keys = columnNames(h, "Z_PRIMARYKEY");
  if (!keys.count("Z_ENT") || !keys.count("Z_MAX"))
    return refuse(kFileReadCorruptFileError, "The table Z_PRIMARYKEY has no key counters");
  // A trigger, a view or a constraint of a foreign file would run inside the library once
  // opened (a trigger that deletes on every insert), so the schema must be ours exactly.
  if (auto difference = schemaDifference(h, model, hash->second == model.versionHash()))
    return refuse(kFileReadCorruptFileError, "The store's schema is not the one this application writes: " + *difference);
  return true;
}

namespace {

// A new store: the model's tables and indexes and the metadata, in one transaction.
bool createSchema(sqlite3* h, const Model& model, const std::string& identifier, fnd::Error* e) {
  bool ok = exec(h, "BEGIN IMMEDIATE", e);
  for (const auto& en : model.entities()) ok = ok && createEntityTable(h, *en, e) && createIndexes(h, *en, e);
  ok = ok && writeMetadata(h, model, identifier, e) && exec(h, "COMMIT", e);
  if (!ok) exec(h, "ROLLBACK", nullptr);
  return ok;
}

// What the model adds to an older store (tables, columns, indexes, and the defaults of new
// attributes for the rows already there), in one transaction.
bool migrateSchema(sqlite3* h, const Model& model, const std::set<std::string>& tables, const Metadata& meta,
                   const std::string& identifier, fnd::Error* e) {
  bool ok = exec(h, "BEGIN IMMEDIATE", e);
  for (const auto& en : model.entities()) {
    if (!ok) break;
    if (!tables.count(en->tableName())) {
      ok = createEntityTable(h, *en, e);
    } else {
      const auto cols = columnNames(h, en->tableName());
      for (const auto& a : en->attributes())
        if (ok && !a.transient && !cols.count(columnName(a.name)))
          ok = exec(h, "ALTER TABLE " + en->tableName() + " ADD COLUMN " + columnName(a.name) + " " + sqlType(a.type), e);
      for (const auto& r : en->relationships())
        if (ok && !r.toMany && !cols.count(columnName(r.name)))
          ok = exec(h, "ALTER TABLE " + en->tableName() + " ADD COLUMN " + columnName(r.name) + " INTEGER", e);
    }
    ok = ok && createIndexes(h, *en, e);
    const auto layout = meta.find("layout." + en->name());
    for (const auto& a : en->attributes()) {
      if (!ok || a.transient || a.defaultValue.isNull() || !tables.count(en->tableName())) continue;
      Stmt st(h, "UPDATE " + en->tableName() + " SET " + columnName(a.name) + " = ? WHERE " + columnName(a.name) + " IS NULL");
      if (!st) {
        ok = false;
        break;
      }
      if (layout != meta.end() && layout->second.find("\n a:" + a.name + ":") != std::string::npos) continue;  // not new
      bindValue(st.s, 1, toStorage(a, a.defaultValue));
      ok = sqlite3_step(st.s) == SQLITE_DONE;
    }
  }
  ok = ok && writeMetadata(h, model, identifier, e) && exec(h, "COMMIT", e);
  if (!ok) exec(h, "ROLLBACK", nullptr);
  return ok;
}

}  // namespace

bool Coordinator::Impl::open(const std::string& storeType, const std::string& storePath, const fnd::Dictionary& options,
                             fnd::Error* error) {
  if (db) {
    if (error) *error = storeError(kPersistentStoreOperationError, "The coordinator already has a store");
    return false;
  }
  if (!model || !model->isFinished()) {
    if (error) *error = storeError(kPersistentStoreOperationError, "The model is not finished");
    return false;
  }
  bool memory = storeType == kInMemoryStoreType;
  if (!memory && storeType != kSQLiteStoreType) {
    if (error) *error = storeError(kPersistentStoreInvalidTypeError, "Unknown store type " + storeType);
    return false;
  }
  bool readOnly = options.count(kReadOnlyPersistentStoreOption) && options.at(kReadOnlyPersistentStoreOption).boolValue();
  bool migrate = options.count(kMigratePersistentStoresAutomaticallyOption) &&
                 options.at(kMigratePersistentStoresAutomaticallyOption).boolValue();
  sqlite3* h = nullptr;
  // Every use of the connection holds `mutex`, so SQLite need not lock again per call.
  int flags = SQLITE_OPEN_NOMUTEX | (readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
  std::string target = memory ? ":memory:" : storePath;
  // A new store is readable by its owner alone; SQLite keeps the mode of a file it finds and
  // gives its journals the same.
  if (!memory && !readOnly)
    if (int fd = fnd::FileManager::createPrivateFile(target); fd >= 0) ::close(fd);
  if (sqlite3_open_v2(target.c_str(), &h, flags, nullptr) != SQLITE_OK) {
    if (error) *error = sqliteError(h, kPersistentStoreOpenError, "The store could not be opened at " + storePath);
    if (error) error->mutableUserInfo()[fnd::kFilePathErrorKey] = storePath;
    sqlite3_close(h);
    return false;
  }
  waitBrieflyForLocks(h, &path);
  harden(h);
  auto failWith = [&](fnd::Error e) {
    e.mutableUserInfo()[fnd::kFilePathErrorKey] = storePath;
    if (error) *error = std::move(e);
    sqlite3_close(h);
    return false;
  };
  // Reading the schema also tells a database from a damaged or foreign file.
  bool readable = false;
  const auto tables = tableNames(h, &readable);
  if (!readable) return failWith(sqliteError(h, kFileReadCorruptFileError, "The store file is damaged or not a store"));
  fnd::Error e;
  Metadata kept;
  created = tables.empty();
  if (tables.empty()) {
    if (readOnly) return failWith(storeError(kPersistentStoreOpenError, "The store is empty and opened read-only"));
    storeIdentifier = fnd::Uuid::newString();
    if (!createSchema(h, *model, storeIdentifier, &e)) return failWith(e);
  } else {
    if (!tables.count("Z_METADATA")) return failWith(storeError(kFileReadCorruptFileError, "The file is not a store of this application"));
    Metadata meta;
    if (!readMetadata(h, meta)) return failWith(sqliteError(h, kFileReadCorruptFileError, "The store metadata cannot be read"));
    storeIdentifier = meta["storeIdentifier"];
    kept = meta;
    if (meta["versionHash"] != model->versionHash()) {
      if (!migrate || readOnly)
        return failWith(storeError(kPersistentStoreIncompatibleVersionHashError,
                                   "The model used to open the store is incompatible with the one used to create the store"));
      if (auto refused = migrationRefusal(meta, *model)) return failWith(*refused);
      // Only an older model is brought up unasked: one whose layouts lack something this model
      // has. The same layouts under another hash (or none recorded) are a model this one does
      // not know, perhaps a newer one: its store stays as it is unless the caller says so.
      const bool adopt = options.count(kMigrateUnknownModelOption) && options.at(kMigrateUnknownModelOption).boolValue();
      if (!adopt && !isOlderLayout(meta, *model))
        return failWith(storeError(kPersistentStoreIncompatibleVersionHashError,
                                   "The store was made with a model this version does not know; it was left unchanged"));
      if (!migrateSchema(h, *model, tables, meta, storeIdentifier, &e)) {
        fnd::Error m = storeError(kMigrationError, "The store could not be migrated");
        m.setUnderlyingError(e);
        return failWith(m);
      }
    }
  }
  configureConnection(h, options);
  db = h;
  sharedStoreIdentifier = ObjectID::internStoreIdentifier(storeIdentifier);
  storeNumber = ObjectID::storeNumber(storeIdentifier);
  type = storeType;
  path = storePath;
  this->options = options;
  metadata.clear();
  // What the application keeps with the store; the model's own rows are described below.
  for (const auto& [key, value] : kept)
    if (key.rfind("layout.", 0) != 0) metadata[key] = value;
  metadata["versionHash"] = model->versionHash();
  metadata["storeIdentifier"] = storeIdentifier;
  metadata["storeType"] = storeType;
  return true;
}

bool Coordinator::Impl::openBeside(const Impl& first, fnd::Error* error) {
  if (!first.db || first.type != kSQLiteStoreType) {
    if (error) *error = storeError(kPersistentStoreOperationError, "Only an open SQLite store has room for a second connection");
    return false;
  }
  const bool readOnly = first.options.count(kReadOnlyPersistentStoreOption) &&
                        first.options.at(kReadOnlyPersistentStoreOption).boolValue();
  sqlite3* h = nullptr;
  const int flags = SQLITE_OPEN_NOMUTEX | (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  if (sqlite3_open_v2(first.path.c_str(), &h, flags, nullptr) != SQLITE_OK) {
    if (error) *error = sqliteError(h, kPersistentStoreOpenError, "The store could not be opened again at " + first.path);
    sqlite3_close(h);
    return false;
  }
  waitBrieflyForLocks(h, &path);
  harden(h);
  // The file must still be the store the first connection opened (not a restored one put in its
  // place since), or the IDs of the two would name different rows.
  std::string identifier;
  {
    Stmt st(h, "SELECT Z_VALUE FROM Z_METADATA WHERE Z_KEY = 'storeIdentifier'");
    if (st && sqlite3_step(st.s) == SQLITE_ROW) identifier = columnText(st.s, 0);
  }
  if (identifier.empty() || identifier != first.storeIdentifier) {
    if (error) *error = storeError(kPersistentStoreOpenError, "The file at " + first.path + " is no longer the open store");
    sqlite3_close(h);
    return false;
  }
  configureConnection(h, first.options);
  db = h;
  storeIdentifier = first.storeIdentifier;
  sharedStoreIdentifier = first.sharedStoreIdentifier;
  storeNumber = first.storeNumber;
  type = first.type;
  path = first.path;
  options = first.options;
  metadata = first.metadata;
  return true;
}

void Coordinator::Impl::finalizeStatements() {
  for (auto& [sql, idle] : statements)
    for (void* st : idle) sqlite3_finalize(static_cast<sqlite3_stmt*>(st));
  statements.clear();
}

void Coordinator::Impl::close() {
  finalizeStatements();
  if (db) sqlite3_close_v2(dbOf(*this));
  db = nullptr;
}

ObjectIDRef Coordinator::Impl::idFor(const EntityDescription* entity, std::int64_t pk) const {
  return ObjectID::permanent(entity, sharedStoreIdentifier, pk);
}

namespace {

std::string selectList(const EntityDescription& e, bool faultsOnly) {
  std::string cols = "Z_PK, Z_OPT";
  if (faultsOnly) return cols;
  for (const auto& a : e.attributes())
    if (!a.transient && !a.isLazy()) cols += ", " + columnName(a.name);
  for (const auto& r : e.relationships())
    if (!r.toMany) cols += ", " + columnName(r.name);
  return cols;
}

// IDs of the rows relationships point at, shared by the rows of one fetch.
struct DestinationKey {
  const EntityDescription* entity;
  std::int64_t pk;
  bool operator==(const DestinationKey& o) const { return entity == o.entity && pk == o.pk; }
};
struct DestinationKeyHash {
  std::size_t operator()(const DestinationKey& k) const {
    return std::hash<std::int64_t>()(k.pk) * 31 + std::hash<const void*>()(k.entity);
  }
};
using DestinationIDs = std::unordered_map<DestinationKey, ObjectIDRef, DestinationKeyHash>;

// Texts that repeat down a column (a site's address, a colour, where rows came from) are shared
// by the rows read together: one text, many values. A column whose first few thousand texts
// hardly repeat is left alone, so unique texts cost no look-ups.
class SharedTexts {
 public:
  fnd::Value text(std::size_t attribute, const char* p, std::size_t n) {
    if (attribute >= columns_.size()) columns_.resize(attribute + 1);
    Column& c = columns_[attribute];
    if (c.off || n > kLongest) return fnd::Value(std::string(p, n));
    ++c.looked;
    if (auto it = c.seen.find(std::string_view(p, n)); it != c.seen.end()) {
      ++c.found;
      return it->second;
    }
    fnd::Value v(std::string(p, n));
    if (c.looked >= kTrial && c.found * 8 < c.looked) {
      c.off = true;
      c.seen = {};
    } else if (c.seen.size() < kMostKept) {
      c.seen.emplace(std::string_view(v.string()), v);  // the key lives in the kept value's text
    }
    return v;
  }

 private:
  static constexpr std::size_t kTrial = 4096, kMostKept = 8192, kLongest = 512;
  struct Column {
    std::unordered_map<std::string_view, fnd::Value> seen;
    std::size_t looked = 0, found = 0;
    bool off = false;
  };
  std::vector<Column> columns_;
};

void readRow(const Coordinator::Impl& c, const EntityDescription& e, sqlite3_stmt* st, Snapshot& s,
             DestinationIDs& idCache, SharedTexts& texts, std::vector<fnd::Value>& row,
             const Coordinator::Impl::RowFilter* wanted) {
  s.pk = sqlite3_column_int64(st, 0);
  s.opt = sqlite3_column_int64(st, 1);
  if (wanted && !(*wanted)(s.pk, s.opt)) {
    s.held = true;
    return;
  }
  // No ID: the row's object makes it when asked for.
  std::size_t na = e.attributes().size(), nr = e.relationships().size();
  // Values are read into one row kept for the whole read; the snapshot keeps only those that
  // are not defaults, so a read of many rows holds no full row per row at once.
  row.resize(na);
  s.toOne.assign(nr, nullptr);
  int col = 2;
  for (std::size_t i = 0; i < na; ++i) {
    const auto& a = e.attributes()[i];
    if (a.transient) {
      row[i] = fnd::Value();
    } else if (a.isLazy()) {
      row[i] = fnd::Value();
    } else if (a.type == AttributeType::String && sqlite3_column_type(st, col) != SQLITE_NULL) {
      auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
      row[i] = texts.text(i, p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
      ++col;
    } else {
      row[i] = fromColumn(a, st, col++);
    }
  }
  s.values.takeRow(e, row);
  s.hasValues = true;
  for (std::size_t i = 0; i < na; ++i)
    if (e.attributes()[i].isLazy()) s.values.setPending(static_cast<int>(i), true);
  for (std::size_t i = 0; i < nr; ++i) {
    if (e.relationships()[i].toMany) continue;
    if (sqlite3_column_type(st, col) != SQLITE_NULL) {
      const EntityDescription* d = e.destination(static_cast<int>(i));
      std::int64_t pk = sqlite3_column_int64(st, col);
      auto& cached = idCache[{d, pk}];
      if (!cached) cached = c.idFor(d, pk);
      s.toOne[i] = cached;
    }
    ++col;
  }
}

}  // namespace

bool Coordinator::Impl::loadRows(const EntityDescription* entity, const std::string& where,
                                 const std::vector<fnd::Value>& binds, bool faultsOnly, std::vector<Snapshot>& out,
                                 fnd::Error* error, const RowFilter* wanted, const std::string* orderAndWindow,
                                 const std::string* orderedByAttribute) {
  std::lock_guard lock(mutex);
  if (!db) {
    if (error) *error = storeError(kPersistentStoreOperationError, "The coordinator has no store");
    return false;
  }
  // Keys alone come from the smallest covering index rather than a walk of the table, whose
  // pages hold one or two rows each once rows carry thumbnails; they are put in order here.
  std::string sql = (faultsOnly ? std::string("SELECT Z_PK") : "SELECT " + selectList(*entity, false)) + " FROM " +
                    entity->tableName();
  // SQLite would rather narrow by a flag's index and sort every row that passes; walking the sort
  // key's own index reads only the rows of the window.
  if (orderedByAttribute) sql += " INDEXED BY " + entity->tableName() + "_" + columnName(*orderedByAttribute) + "_INDEX";
  if (!where.empty()) sql += " WHERE " + where;
  if (orderAndWindow && !faultsOnly) sql += " " + *orderAndWindow;
  else if (!faultsOnly) sql += " ORDER BY Z_PK";
  Cached st(*this, std::move(sql));
  if (!st) {
    if (error) *error = sqliteError(dbOf(*this), kPersistentStoreOperationError, "A fetch could not be prepared");
    return false;
  }
  for (std::size_t i = 0; i < binds.size(); ++i) bindValue(st.s, static_cast<int>(i) + 1, binds[i]);
  DestinationIDs idCache;
  int rc;
  if (faultsOnly) {
    // Keys come in index order: sort the keys, then make the rows.
    std::vector<std::int64_t> keys;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) keys.push_back(sqlite3_column_int64(st.s, 0));
    if (rc != SQLITE_DONE) {
      if (error) *error = sqliteError(dbOf(*this), kPersistentStoreOperationError, "A fetch failed");
      return false;
    }
    std::sort(keys.begin(), keys.end());
    out.reserve(out.size() + keys.size());
    for (std::int64_t pk : keys) {
      Snapshot& s = out.emplace_back();
      s.pk = pk;
      // No values are read, so the row's version does not matter: objects held already are kept.
      if (!wanted || (*wanted)(pk, -1)) s.id = idFor(entity, pk);
      else s.held = true;
    }
    return true;
  }
  SharedTexts texts;
  std::vector<fnd::Value> row;
  while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
    out.emplace_back();
    readRow(*this, *entity, st.s, out.back(), idCache, texts, row, wanted);
  }
  if (rc != SQLITE_DONE) {
    if (error) *error = sqliteError(dbOf(*this), kPersistentStoreOperationError, "A fetch failed");
    return false;
  }
  return true;
}

std::optional<std::int64_t> Coordinator::Impl::countRows(const EntityDescription* entity, const std::string& where,
                                                         const std::vector<fnd::Value>& binds, fnd::Error* error) {
  std::lock_guard lock(mutex);
  if (!db) {
    if (error) *error = storeError(kPersistentStoreOperationError, "The coordinator has no store");
    return std::nullopt;
  }
  std::string sql = "SELECT COUNT(*) FROM " + entity->tableName();
  if (!where.empty()) sql += " WHERE " + where;
  Cached st(*this, std::move(sql));
  if (!st) {
    if (error) *error = sqliteError(dbOf(*this), kPersistentStoreOperationError, "A count could not be prepared");
    return std::nullopt;
  }
  for (std::size_t i = 0; i < binds.size(); ++i) bindValue(st.s, static_cast<int>(i) + 1, binds[i]);
  if (sqlite3_step(st.s) != SQLITE_ROW) {
    if (error) *error = sqliteError(dbOf(*this), kPersistentStoreOperationError, "A count failed");
    return std::nullopt;
  }
  return sqlite3_column_int64(st.s, 0);
}

bool Coordinator::Impl::loadRow(const ObjectIDRef& id, Snapshot& out) {
  std::vector<Snapshot> rows;
  if (!loadRows(id->entity(), "Z_PK = ?", {fnd::Value(id->primaryKey())}, false, rows, nullptr) || rows.empty())
    return false;
  out = std::move(rows[0]);
  return true;
}

fnd::Value Coordinator::Impl::loadLazy(const ObjectID& id, int attribute) {
  std::lock_guard lock(mutex);
  if (!db || id.isTemporaryID()) return {};
  const auto& a = id.entity()->attributes()[attribute];
  Cached st(*this, "SELECT " + columnName(a.name) + " FROM " + id.entity()->tableName() + " WHERE Z_PK = ?");
  if (!st) return {};
  sqlite3_bind_int64(st.s, 1, id.primaryKey());
  if (sqlite3_step(st.s) != SQLITE_ROW) return {};
  return fromColumn(a, st.s, 0);
}

namespace {

// Where a to-many relationship's members are kept: rows of `table` pairing the owner's key with a
// member's key, in the relationship's order by `order`. The owner column of a destination table
// is null in rows that belong to no owner; a join table has a row only for a pair.
struct ToManyRows {
  std::string table, owner, member, order;
  bool ownerMayBeNull = false;
};

ToManyRows toManyRows(const EntityDescription& e, int rel) {
  if (usesJoinTable(e, rel)) {
    JoinTable j = joinTableFor(e, rel);
    return {j.table, j.flipped ? j.destinationColumn : j.ownerColumn, j.flipped ? j.ownerColumn : j.destinationColumn,
            "rowid"};
  }
  const EntityDescription* d = e.destination(rel);
  return {d->tableName(), columnName(d->relationships()[e.inverseIndex(rel)].name), "Z_PK", "Z_PK", true};
}

}  // namespace

bool Coordinator::Impl::loadToMany(const EntityDescription* entity, int rel, std::int64_t pk, std::vector<ObjectIDRef>& out) {
  std::lock_guard lock(mutex);
  if (!db) return false;
  const EntityDescription* d = entity->destination(rel);
  ToManyRows rows = toManyRows(*entity, rel);
  Cached st(*this, "SELECT " + rows.member + " FROM " + rows.table + " WHERE " + rows.owner + " = ? ORDER BY " + rows.order);
  if (!st) return false;
  sqlite3_bind_int64(st.s, 1, pk);
  while (sqlite3_step(st.s) == SQLITE_ROW) out.push_back(idFor(d, sqlite3_column_int64(st.s, 0)));
  return true;
}

bool Coordinator::Impl::loadToManyOf(const EntityDescription* entity, int rel, const std::vector<std::int64_t>& pks,
                                     std::unordered_map<std::int64_t, std::vector<ObjectIDRef>>& out) {
  std::lock_guard lock(mutex);
  if (!db) return false;
  if (pks.empty()) return true;
  // Keys go in fixed groups, the last filled up with repeats of its first key, so one prepared
  // statement serves every read.
  constexpr std::size_t kKeysPerRead = 64;
  const EntityDescription* d = entity->destination(rel);
  ToManyRows rows = toManyRows(*entity, rel);
  std::string keys = "?";
  for (std::size_t i = 1; i < kKeysPerRead; ++i) keys += ",?";
  Cached st(*this, "SELECT " + rows.owner + ", " + rows.member + " FROM " + rows.table + " WHERE " + rows.owner + " IN (" +
                       keys + ") ORDER BY " + rows.order);
  if (!st) return false;
  for (std::size_t from = 0; from < pks.size(); from += kKeysPerRead) {
    const std::size_t n = std::min(kKeysPerRead, pks.size() - from);
    sqlite3_reset(st.s);
    for (std::size_t i = 0; i < kKeysPerRead; ++i)
      sqlite3_bind_int64(st.s, static_cast<int>(i) + 1, pks[from + (i < n ? i : 0)]);
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW)
      out[sqlite3_column_int64(st.s, 0)].push_back(idFor(d, sqlite3_column_int64(st.s, 1)));
    if (rc != SQLITE_DONE) return false;
  }
  return true;
}

bool Coordinator::Impl::loadAllToMany(const EntityDescription* entity, int rel,
                                      std::unordered_map<std::int64_t, std::vector<ObjectIDRef>>& out) {
  std::lock_guard lock(mutex);
  if (!db) return false;
  const EntityDescription* d = entity->destination(rel);
  ToManyRows rows = toManyRows(*entity, rel);
  Cached st(*this, "SELECT " + rows.owner + ", " + rows.member + " FROM " + rows.table +
                       (rows.ownerMayBeNull ? " WHERE " + rows.owner + " IS NOT NULL" : "") + " ORDER BY " + rows.order);
  if (!st) return false;
  int rc;
  while ((rc = sqlite3_step(st.s)) == SQLITE_ROW)
    out[sqlite3_column_int64(st.s, 0)].push_back(idFor(d, sqlite3_column_int64(st.s, 1)));
  return rc == SQLITE_DONE;
}

std::int64_t Coordinator::Impl::allocateKeys(const EntityDescription* entity, std::int64_t count, fnd::Error* error) {
  std::lock_guard lock(mutex);
  sqlite3* h = dbOf(*this);
  if (!h) return 0;
  // Z_MAX only grows, so keys of deleted rows are never reused by another object. The new
  // maximum comes back from the same statement: another connection may take keys in between.
  Cached up(*this, "UPDATE Z_PRIMARYKEY SET Z_MAX = MAX(Z_MAX, (SELECT IFNULL(MAX(Z_PK), 0) FROM " + entity->tableName() +
                 ")) + ? WHERE Z_ENT = ? RETURNING Z_MAX");
  if (!up) {
    if (error) *error = sqliteError(h, kPersistentStoreSaveError, "Keys could not be allocated");
    return 0;
  }
  sqlite3_bind_int64(up.s, 1, count);
  sqlite3_bind_int(up.s, 2, entity->entityNumber());
  if (sqlite3_step(up.s) != SQLITE_ROW) {
    if (error) *error = sqliteError(h, kPersistentStoreSaveError, "Keys could not be allocated");
    return 0;
  }
  const std::int64_t top = sqlite3_column_int64(up.s, 0);
  // Stepped to the end, so the update is complete before the statement goes back to the cache.
  if (sqlite3_step(up.s) != SQLITE_DONE) {
    if (error) *error = sqliteError(h, kPersistentStoreSaveError, "Keys could not be allocated");
    return 0;
  }
  return top - count + 1;
}

namespace {

// Saves of at least this many rows count as bulk saves.
constexpr std::size_t kBulkSaveRows = 1000;

// Big saves touch pages all over the indexes; with the default 2 MB page cache SQLite writes
// dirty pages out mid-transaction and reads them back. A save gets 32 MB, which holds a
// 50,000-bookmark save, and gives it back afterwards so reading a whole library stays small.
class SaveCache {
 public:
  explicit SaveCache(Coordinator::Impl& impl) : c_(impl) { set("PRAGMA cache_size = -32768"); }
  ~SaveCache() { set("PRAGMA cache_size = -2000"); }

 private:
  void set(const char* sql) {
    Cached st(c_, sql);
    if (st) sqlite3_step(st.s);
  }
  Coordinator::Impl& c_;
};

// A bulk save (an import) skips the journal header's extra sync: the rollback journal still
// makes the commit atomic and the database file is still synced before the journal goes, so
// the saved rows are as durable as before. The previous level comes back after the save.
class BulkSync {
 public:
  BulkSync(sqlite3* db, std::size_t rows) : h_(db) {
    if (rows < kBulkSaveRows) return;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(h_, "PRAGMA synchronous", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
      previous_ = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    // Only ever lowered from FULL or EXTRA to NORMAL, never below.
    if (previous_ > 1) sqlite3_exec(h_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    else previous_ = -1;
  }
  ~BulkSync() {
    if (previous_ > 1)
      sqlite3_exec(h_, ("PRAGMA synchronous = " + std::to_string(previous_)).c_str(), nullptr, nullptr, nullptr);
  }

 private:
  sqlite3* h_;
  int previous_ = -1;
};

using RowRefs = std::vector<std::pair<const EntityDescription*, std::int64_t>>;

// The rows of the batch whose Z_OPT moved since the context read them.
RowRefs changedElsewhere(Coordinator::Impl& c, const CommitBatch& batch) {
  RowRefs conflicts;
  auto check = [&](const EntityDescription* en, std::int64_t pk, std::int64_t expected) {
    Cached st(c, "SELECT Z_OPT FROM " + en->tableName() + " WHERE Z_PK = ?");
    std::int64_t opt = -1;
    if (st) {
      sqlite3_bind_int64(st.s, 1, pk);
      if (sqlite3_step(st.s) == SQLITE_ROW) opt = sqlite3_column_int64(st.s, 0);
    }
    if (opt != expected) conflicts.push_back({en, pk});
  };
  for (const auto& w : batch.writes)
    if (!w.insert) check(w.entity, w.pk, w.expectedOpt);
  for (std::size_t i = 0; i < batch.deletes.size(); ++i)
    check(batch.deletes[i].first, batch.deletes[i].second, batch.deleteExpectedOpts[i]);
  return conflicts;
}

// Rows of one shape (entity, insert or update, columns written) share one statement; a save of
// many new objects mostly repeats the previous row's shape. Answers what failed, if anything.
const char* writeRows(Coordinator::Impl& c, const CommitBatch& batch) {
  std::optional<Cached> st;
  const RowWrite* shape = nullptr;
  auto sameShape = [](const RowWrite& a, const RowWrite& b) {
    return a.entity == b.entity && a.insert == b.insert && a.attributes == b.attributes &&
           a.relationships == b.relationships;
  };
  for (const auto& w : batch.writes) {
    const EntityDescription& e = *w.entity;
    if (!shape || !sameShape(*shape, w)) {
      std::string sql;
      if (w.insert) {
        std::string cols = "Z_PK, Z_ENT, Z_OPT", qs = "?, ?, 1";
        for (int a : w.attributes) cols += ", " + columnName(e.attributes()[a].name), qs += ", ?";
        for (int r : w.relationships) cols += ", " + columnName(e.relationships()[r].name), qs += ", ?";
        sql = "INSERT INTO " + e.tableName() + " (" + cols + ") VALUES (" + qs + ")";
      } else {
        sql = "UPDATE " + e.tableName() + " SET Z_OPT = IFNULL(Z_OPT, 0) + 1";
        for (int a : w.attributes) sql += ", " + columnName(e.attributes()[a].name) + " = ?";
        for (int r : w.relationships) sql += ", " + columnName(e.relationships()[r].name) + " = ?";
        sql += " WHERE Z_PK = ?";
      }
      st.reset();
      st.emplace(c, std::move(sql));
      shape = &w;
    }
    if (!*st) return "A save could not be prepared";
    sqlite3_stmt* s = st->s;
    int i = 1;
    if (w.insert) {
      sqlite3_bind_int64(s, i++, w.pk);
      sqlite3_bind_int(s, i++, e.entityNumber());
    }
    for (std::size_t k = 0; k < w.attributes.size(); ++k) bindAttribute(s, i++, e.attributes()[w.attributes[k]], *w.values[k]);
    for (std::int64_t key : w.relationshipKeys) {
      if (key) sqlite3_bind_int64(s, i++, key);
      else sqlite3_bind_null(s, i++);
    }
    if (!w.insert) sqlite3_bind_int64(s, i++, w.pk);
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) return "A row could not be written";
  }
  return nullptr;
}

// Join rows likewise: one statement per (table, add or remove) for the whole batch.
const char* writeJoins(Coordinator::Impl& c, const CommitBatch& batch) {
  std::map<std::tuple<const EntityDescription*, int, bool>, std::unique_ptr<Cached>> statements;
  for (const auto& j : batch.joins) {
    auto& slot = statements[{j.entity, j.relationship, j.add}];
    if (!slot) {
      JoinTable t = joinTableFor(*j.entity, j.relationship);
      std::string mine = t.flipped ? t.destinationColumn : t.ownerColumn;
      std::string theirs = t.flipped ? t.ownerColumn : t.destinationColumn;
      slot = std::make_unique<Cached>(c, j.add ? "INSERT OR IGNORE INTO " + t.table + " (" + mine + ", " + theirs + ") VALUES (?, ?)"
                                               : "DELETE FROM " + t.table + " WHERE " + mine + " = ? AND " + theirs + " = ?");
    }
    if (!*slot) return "A relationship could not be written";
    sqlite3_bind_int64(slot->s, 1, j.source);
    sqlite3_bind_int64(slot->s, 2, j.destination);
    int rc = sqlite3_step(slot->s);
    sqlite3_reset(slot->s);
    if (rc != SQLITE_DONE) return "A relationship could not be written";
  }
  return nullptr;
}

// Deleted rows go with their join rows.
const char* deleteRows(Coordinator::Impl& c, const CommitBatch& batch) {
  for (const auto& [en, pk] : batch.deletes) {
    for (std::size_t r = 0; r < en->relationships().size(); ++r) {
      if (!usesJoinTable(*en, static_cast<int>(r))) continue;
      JoinTable t = joinTableFor(*en, static_cast<int>(r));
      Cached st(c, "DELETE FROM " + t.table + " WHERE " + (t.flipped ? t.destinationColumn : t.ownerColumn) + " = ?");
      if (!st) return "A relationship could not be removed";
      sqlite3_bind_int64(st.s, 1, pk);
      if (sqlite3_step(st.s) != SQLITE_DONE) return "A relationship could not be removed";
    }
    Cached st(c, "DELETE FROM " + en->tableName() + " WHERE Z_PK = ?");
    if (!st) return "A row could not be deleted";
    sqlite3_bind_int64(st.s, 1, pk);
    if (sqlite3_step(st.s) != SQLITE_DONE) return "A row could not be deleted";
  }
  return nullptr;
}

}  // namespace

bool Coordinator::Impl::commit(std::size_t writes, const BatchBuilder& build,
                               std::vector<std::pair<const EntityDescription*, std::int64_t>>* conflicts,
                               fnd::Error* error) {
  std::lock_guard lock(mutex);
  sqlite3* h = dbOf(*this);
  if (!h) {
    if (error) *error = storeError(kPersistentStoreSaveError, "The coordinator has no store");
    return false;
  }
  SaveCache saveCache(*this);
  BulkSync bulkSync(h, writes);
  // One transaction for the keys and the rows: a commit waits for the disk several times (the
  // journal, its folder, the file), and taking the keys in a commit of their own did all of
  // that twice per save.
  if (!exec(h, "BEGIN IMMEDIATE", error, kPersistentStoreSaveError)) return false;
  auto fail = [&](const std::string& what) {
    fnd::Error e = sqliteError(h, kPersistentStoreSaveError, what);
    exec(h, "ROLLBACK", nullptr);
    if (error) *error = e;
    return false;
  };
  CommitBatch batch;
  if (!build(batch, error)) {
    exec(h, "ROLLBACK", nullptr);
    return false;
  }
  if (batch.checkConflicts && conflicts) {
    const auto moved = changedElsewhere(*this, batch);
    conflicts->insert(conflicts->end(), moved.begin(), moved.end());
    if (!conflicts->empty()) {
      exec(h, "ROLLBACK", nullptr);
      if (error) *error = storeError(kManagedObjectMergeError, "Could not merge changes: rows were changed by someone else");
      return false;
    }
  }
  for (auto step : {writeRows, writeJoins, deleteRows})
    if (const char* failed = step(*this, batch)) return fail(failed);
  if (!exec(h, "COMMIT", error, kPersistentStoreSaveError)) {
    exec(h, "ROLLBACK", nullptr);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

Coordinator::Coordinator() : impl_(std::make_unique<Impl>()) {}

Coordinator::~Coordinator() { impl_->close(); }

std::shared_ptr<Coordinator> Coordinator::make(std::shared_ptr<const Model> model) {
  std::shared_ptr<Coordinator> c(new Coordinator());
  c->impl_->model = std::move(model);
  return c;
}

const std::shared_ptr<const Model>& Coordinator::model() const { return impl_->model; }

bool Coordinator::addStore(const std::string& type, const std::string& path, const fnd::Dictionary& options,
                           fnd::Error* error) {
  std::lock_guard lock(impl_->mutex);
  fnd::Error e;
  if (impl_->open(type, path, options, &e)) return true;
  fnd::logError("Store: could not add the store at " + path + ": " + e.localizedDescription());
  if (error) *error = e;
  return false;
}

bool Coordinator::hasStore() const { return impl_->db != nullptr; }

std::shared_ptr<Coordinator> Coordinator::openSecondConnection(fnd::Error* error) const {
  std::shared_ptr<Coordinator> second(new Coordinator());
  second->impl_->model = impl_->model;
  std::lock_guard lock(impl_->mutex);
  if (!second->impl_->openBeside(*impl_, error)) return nullptr;
  return second;
}

bool Coordinator::removeStore(fnd::Error* error) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->db) {
    if (error) *error = storeError(kPersistentStoreOperationError, "The coordinator has no store");
    return false;
  }
  impl_->close();
  return true;
}

namespace {

bool isDamageCode(int code) { return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB; }

}  // namespace

bool Coordinator::isDamageError(const fnd::Error& error) {
  std::shared_ptr<const fnd::Error> cause;
  for (const fnd::Error* e = &error; e; e = (cause = e->underlyingError()).get()) {
    const auto& info = e->userInfo();
    if (auto it = info.find("NSSQLiteErrorDomain"); it != info.end() && isDamageCode(static_cast<int>(it->second.intValue())))
      return true;
    if (e->domain() == fnd::kCocoaErrorDomain && e->code() == kFileReadCorruptFileError && info.count("KestoDamageFound"))
      return true;
  }
  return false;
}

fnd::Error damageFoundError(const std::string& what, const std::string& path) {
  // SQLite's check heads its findings with the database's name: the findings are what tell.
  std::string found = what;
  constexpr std::string_view heading = "*** in database main ***\n";
  if (found.compare(0, heading.size(), heading) == 0) found.erase(0, heading.size());
  fnd::Error e = storeError(kFileReadCorruptFileError, "The store file is damaged (" + found + ")", path);
  e.mutableUserInfo()["KestoDamageFound"] = true;
  return e;
}

bool Coordinator::checkForDamage(double budgetSeconds, fnd::Error* error) {
  std::lock_guard lock(impl_->mutex);
  sqlite3* db = dbOf(*impl_);
  if (!db || impl_->type != kSQLiteStoreType) return true;
  auto damaged = [&](const std::string& what) {
    if (error) *error = damageFoundError(what, impl_->path);
    return false;
  };
  // The first page of every table and index: a destroyed root page makes the whole table read
  // as missing or malformed, and this finds it at once whatever the file's size.
  std::vector<std::pair<std::string, std::string>> trees;  // (SQL, name)
  {
    Stmt st(db, "SELECT type, name, tbl_name FROM sqlite_master WHERE type IN ('table', 'index') AND rootpage > 0");
    if (!st) return damaged(sqlite3_errmsg(db));
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
      const std::string type = columnText(st.s, 0), name = columnText(st.s, 1), table = columnText(st.s, 2);
      auto quoted = [](const std::string& n) {
        std::string q = "\"";
        for (char c : n) q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
      };
      trees.emplace_back(type == "table" ? "SELECT rowid FROM " + quoted(table) + " NOT INDEXED LIMIT 1"
                                         : "SELECT 1 FROM " + quoted(table) + " INDEXED BY " + quoted(name) + " LIMIT 1",
                         name);
    }
    if (rc != SQLITE_DONE) return damaged(sqlite3_errmsg(db));
  }
  for (const auto& [sql, name] : trees) {
    Stmt st(db, sql);
    // A tree SQLite will not walk this way (a table without row numbers) is left to the check.
    if (!st) continue;
    const int rc = sqlite3_step(st.s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && isDamageCode(sqlite3_extended_errcode(db)))
      return damaged(name + ": " + sqlite3_errmsg(db));
  }
  // Then the whole file, while the budget lasts: the check runs as one step of SQLite's, which
  // only an interrupt from another thread stops (a stopped check found nothing).
  if (budgetSeconds <= 0) return true;
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock wait(doneMutex);
    if (!doneChanged.wait_for(wait, std::chrono::duration<double>(budgetSeconds), [&] { return done; }))
      sqlite3_interrupt(db);
  });
  std::string result;
  int rc = SQLITE_OK;
  {
    Stmt st(db, "PRAGMA quick_check(1)");
    rc = st ? sqlite3_step(st.s) : sqlite3_errcode(db);
    if (rc == SQLITE_ROW) result = columnText(st.s, 0);
  }
  {
    std::lock_guard finished(doneMutex);
    done = true;
  }
  doneChanged.notify_all();
  watchdog.join();
  if (rc == SQLITE_ROW && result != "ok") return damaged(result);
  if (rc != SQLITE_ROW && isDamageCode(sqlite3_extended_errcode(db))) return damaged(sqlite3_errmsg(db));
  return true;
}

const std::string& Coordinator::storeType() const { return impl_->type; }
const std::string& Coordinator::storePath() const { return impl_->path; }
const std::string& Coordinator::storeIdentifier() const { return impl_->storeIdentifier; }
fnd::Dictionary Coordinator::metadata() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->metadata;
}

bool Coordinator::createdStore() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->created;
}

bool Coordinator::setMetadataValue(const std::string& key, const std::string& value, fnd::Error* error) {
  static const std::set<std::string> ownKeys = {"versionHash", "storeIdentifier", "storeType"};
  std::lock_guard lock(impl_->mutex);
  if (ownKeys.count(key) || key.rfind("layout.", 0) == 0 || key.empty()) {
    if (error) *error = storeError(kPersistentStoreOperationError, "The store's own metadata cannot be set: " + key);
    return false;
  }
  if (!impl_->db) {
    if (error) *error = storeError(kPersistentStoreOperationError, "No store is open");
    return false;
  }
  sqlite3* db = dbOf(*impl_);
  Stmt put(db, "INSERT OR REPLACE INTO Z_METADATA (Z_KEY, Z_VALUE) VALUES (?, ?)");
  bool ok = static_cast<bool>(put);
  if (ok) {
    sqlite3_bind_text(put.s, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put.s, 2, value.c_str(), -1, SQLITE_TRANSIENT);
    ok = sqlite3_step(put.s) == SQLITE_DONE;
  }
  if (!ok) {
    if (error) *error = sqliteError(db, kPersistentStoreOperationError, "Writing the store metadata failed");
    return false;
  }
  impl_->metadata[key] = value;
  return true;
}

ObjectIDRef Coordinator::objectIDForURIRepresentation(const std::string& uri) const {
  const std::string prefix = "kesto-store://" + impl_->storeIdentifier + "/";
  if (uri.rfind(prefix, 0) != 0 || impl_->storeIdentifier.empty()) return nullptr;
  std::string rest = uri.substr(prefix.size());
  auto slash = rest.find('/');
  if (slash == std::string::npos || slash + 2 > rest.size() || rest[slash + 1] != 'p') return nullptr;
  const EntityDescription* e = impl_->model->entity(rest.substr(0, slash));
  if (!e) return nullptr;
  char* end = nullptr;
  long long pk = std::strtoll(rest.c_str() + slash + 2, &end, 10);
  if (!end || *end || pk <= 0) return nullptr;
  return impl_->idFor(e, pk);
}

void Coordinator::lock() { impl_->mutex.lock(); }
void Coordinator::unlock() { impl_->mutex.unlock(); }

bool Coordinator::checkpoint(fnd::Error* error) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->db) return false;
  int rc = sqlite3_wal_checkpoint_v2(dbOf(*impl_), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if (error) *error = sqliteError(dbOf(*impl_), kPersistentStoreOperationError, "Checkpoint failed");
    return false;
  }
  return true;
}

bool Coordinator::isReadOnly() const {
  std::lock_guard lock(impl_->mutex);
  sqlite3* db = dbOf(*impl_);
  if (!db) return false;
  if (sqlite3_db_readonly(db, "main") == 1) return true;
  // A connection told to make no changes writes nothing either.
  sqlite3_stmt* st = nullptr;
  bool queryOnly = false;
  if (sqlite3_prepare_v2(db, "PRAGMA query_only", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    queryOnly = sqlite3_column_int(st, 0) != 0;
  sqlite3_finalize(st);
  return queryOnly;
}

}  // namespace kesto::store
