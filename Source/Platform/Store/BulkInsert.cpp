#include "Platform/Store/BulkInsert.h"

#include "Platform/Store/StoreInternal.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace kesto::store {

struct BulkInsert::Shape {
  const EntityDescription* entity = nullptr;
  std::vector<int> attributes, relationships;
  sqlite3_stmt* statement = nullptr;
};

struct BulkInsert::Impl {
  ContextRef context;
  std::shared_ptr<Coordinator> coordinator;
  Coordinator::Impl* store = nullptr;
  std::unique_lock<std::recursive_mutex> lock;
  sqlite3* db = nullptr;
  bool open = false;
  bool failed = false;
  fnd::Error failure;
  std::vector<std::unique_ptr<Shape>> shapes;
  // Per entity: the first key handed out in this insert and the next one.
  std::map<const EntityDescription*, std::pair<std::int64_t, std::int64_t>> keys;
  std::map<std::pair<const EntityDescription*, int>, sqlite3_stmt*> joins;
  std::vector<std::string> deferredIndexes;  // CREATE INDEX statements to run before the commit
  std::map<const EntityDescription*, std::vector<std::int64_t>> removed;
  int previousSync = -1;

  ~Impl() { finalize(); }

  void finalize() {
    for (auto& s : shapes) sqlite3_finalize(s->statement), s->statement = nullptr;
    for (auto& [k, st] : joins) sqlite3_finalize(st);
    joins.clear();
  }

  bool exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

  void fail(const std::string& what) {
    if (failed) return;
    failed = true;
    failure = fnd::Error::withDescription(fnd::kCocoaErrorDomain, kPersistentStoreSaveError,
                                          what + ": " + sqlite3_errmsg(db));
    failure.mutableUserInfo()["NSSQLiteErrorDomain"] = sqlite3_extended_errcode(db);
  }

  std::int64_t nextKey(const EntityDescription* e) {
    auto it = keys.find(e);
    if (it == keys.end()) {
      // Keys continue after both the recorded maximum and the rows present, never reusing one.
      sqlite3_stmt* st = nullptr;
      const std::string sql = "SELECT MAX(IFNULL((SELECT Z_MAX FROM Z_PRIMARYKEY WHERE Z_ENT = ?), 0), "
                              "IFNULL((SELECT MAX(Z_PK) FROM " + e->tableName() + "), 0))";
      std::int64_t last = -1;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_int(st, 1, e->entityNumber());
        if (sqlite3_step(st) == SQLITE_ROW) last = sqlite3_column_int64(st, 0);
      }
      sqlite3_finalize(st);
      if (last < 0) {
        fail("Keys could not be allocated");
        return 0;
      }
      it = keys.emplace(e, std::make_pair(last + 1, last + 1)).first;
    }
    return it->second.second++;
  }

  // A load skips the journal header's extra sync, as big saves do: the rollback journal still
  // makes the commit atomic and the file is still synced before the journal goes.
  void relaxSync() {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA synchronous", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
      previousSync = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    if (previousSync > 1)
      exec("PRAGMA synchronous = NORMAL");
    else
      previousSync = -1;
  }
  void restoreSettings() {
    exec("PRAGMA cache_size = -2000");
    if (previousSync > 1) exec(("PRAGMA synchronous = " + std::to_string(previousSync)).c_str());
    previousSync = -1;
  }

  void rollback() {
    if (!open) return;
    finalize();
    exec("ROLLBACK");
    restoreSettings();
    open = false;
    if (lock.owns_lock()) lock.unlock();
  }
};

namespace {

void bindCell(sqlite3_stmt* st, int i, const BulkInsert::Cell& c, bool keyColumn) {
  using Kind = BulkInsert::Cell::Kind;
  switch (c.kind) {
    case Kind::Null: sqlite3_bind_null(st, i); break;
    case Kind::Integer:
      if (keyColumn && c.integer == 0)
        sqlite3_bind_null(st, i);
      else
        sqlite3_bind_int64(st, i, c.integer);
      break;
    case Kind::Real: sqlite3_bind_double(st, i, c.real); break;
    case Kind::Text:
      sqlite3_bind_text(st, i, c.text.data() ? c.text.data() : "", static_cast<int>(c.text.size()), SQLITE_STATIC);
      break;
  }
}

}  // namespace

BulkInsert::BulkInsert() : impl_(std::make_unique<Impl>()) {}

BulkInsert::~BulkInsert() { rollback(); }

std::unique_ptr<BulkInsert> BulkInsert::begin(const ContextRef& context, fnd::Error* error) {
  auto refuse = [&](const std::string& text) -> std::unique_ptr<BulkInsert> {
    if (error) *error = fnd::Error::withDescription(fnd::kCocoaErrorDomain, kPersistentStoreSaveError, text);
    return nullptr;
  };
  if (!context) return refuse("No context to insert through");
  auto coordinator = context->coordinator();
  if (!coordinator) return refuse("The context has no store");
  std::unique_ptr<BulkInsert> bulk(new BulkInsert());
  Impl& d = *bulk->impl_;
  d.context = context;
  d.coordinator = coordinator;
  d.store = &ImplAccess::of(*coordinator);
  d.lock = std::unique_lock(d.store->mutex);
  d.db = static_cast<sqlite3*>(d.store->db);
  if (!d.db) return refuse("The coordinator has no store");
  // A load touches pages all over the indexes: a larger cache keeps them in memory until the
  // commit, as a big save does.
  d.exec("PRAGMA cache_size = -16384");
  d.relaxSync();
  if (!d.exec("BEGIN IMMEDIATE")) {
    d.fail("The store could not be locked for writing");
    if (error) *error = d.failure;
    d.restoreSettings();
    return nullptr;
  }
  d.open = true;
  return bulk;
}

const BulkInsert::Shape* BulkInsert::shape(const std::string& entityName, const std::vector<std::string>& attributes,
                                           const std::vector<std::string>& toOne) {
  Impl& d = *impl_;
  const EntityDescription* e = d.coordinator->model()->entity(entityName);
  if (!e || !d.open) return nullptr;
  auto s = std::make_unique<Shape>();
  s->entity = e;
  std::string cols = "Z_PK, Z_ENT, Z_OPT", qs = "?, " + std::to_string(e->entityNumber()) + ", 1";
  std::vector<bool> given(e->attributes().size(), false);
  for (const auto& name : attributes) {
    const int a = e->attributeIndex(name);
    if (a < 0 || e->attributes()[a].transient) return nullptr;
    s->attributes.push_back(a);
    given[a] = true;
    cols += ", " + storeColumnName(name), qs += ", ?";
  }
  for (const auto& name : toOne) {
    const int r = e->relationshipIndex(name);
    if (r < 0 || e->relationships()[r].toMany) return nullptr;
    s->relationships.push_back(r);
    cols += ", " + storeColumnName(name), qs += ", ?";
  }
  // The defaults of the columns not given are bound once, after the row's own cells.
  std::vector<int> defaults;
  for (int a = 0; a < static_cast<int>(e->attributes().size()); ++a) {
    const auto& ad = e->attributes()[a];
    if (given[a] || ad.transient || ad.isLazy() || ad.defaultValue.isNull()) continue;
    defaults.push_back(a);
    cols += ", " + storeColumnName(ad.name), qs += ", ?";
  }
  const std::string sql = "INSERT INTO " + e->tableName() + " (" + cols + ") VALUES (" + qs + ")";
  if (sqlite3_prepare_v3(d.db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &s->statement,
                         nullptr) != SQLITE_OK) {
    d.fail("A bulk insert could not be prepared");
    return nullptr;
  }
  int i = 2 + static_cast<int>(s->attributes.size() + s->relationships.size());
  for (int a : defaults) {
    const auto& ad = e->attributes()[a];
    const fnd::Value& v = ad.defaultValue;
    switch (ad.type) {
      case AttributeType::Double:
      case AttributeType::Float: sqlite3_bind_double(s->statement, i, v.doubleValue()); break;
      case AttributeType::Date:
        sqlite3_bind_double(s->statement, i, v.isDate() ? v.date().timeIntervalSinceReferenceDate() : v.doubleValue());
        break;
      case AttributeType::String:
        sqlite3_bind_text(s->statement, i, v.isString() ? v.string().c_str() : "", -1, SQLITE_TRANSIENT);
        break;
      default: sqlite3_bind_int64(s->statement, i, v.intValue()); break;
    }
    ++i;
  }
  d.shapes.push_back(std::move(s));
  return d.shapes.back().get();
}

std::int64_t BulkInsert::insert(const Shape& shape, const std::vector<Cell>& cells) {
  Impl& d = *impl_;
  if (!d.open || d.failed) return 0;
  if (cells.size() != shape.attributes.size() + shape.relationships.size()) {
    d.failed = true;
    d.failure = fnd::Error::withDescription(fnd::kCocoaErrorDomain, kPersistentStoreSaveError,
                                            "A bulk row has the wrong number of values");
    return 0;
  }
  const std::int64_t key = d.nextKey(shape.entity);
  if (!key) return 0;
  sqlite3_stmt* st = shape.statement;
  sqlite3_bind_int64(st, 1, key);
  int i = 2;
  for (std::size_t k = 0; k < cells.size(); ++k, ++i) bindCell(st, i, cells[k], k >= shape.attributes.size());
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) {
    d.fail("A row could not be written");
    return 0;
  }
  return key;
}

bool BulkInsert::relate(const std::string& entityName, const std::string& relationship, std::int64_t key,
                        std::int64_t otherKey) {
  Impl& d = *impl_;
  if (!d.open || d.failed) return false;
  const EntityDescription* e = d.coordinator->model()->entity(entityName);
  const int r = e ? e->relationshipIndex(relationship) : -1;
  if (r < 0) return false;
  sqlite3_stmt*& st = d.joins[{e, r}];
  if (!st) {
    auto j = joinColumnsFor(*e, r);
    if (!j) return false;
    const std::string sql = "INSERT OR IGNORE INTO " + j->table + " (" + j->mine + ", " + j->theirs + ") VALUES (?, ?)";
    if (sqlite3_prepare_v3(d.db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
      d.fail("A relationship could not be prepared");
      return false;
    }
  }
  sqlite3_bind_int64(st, 1, key);
  sqlite3_bind_int64(st, 2, otherKey);
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) {
    d.fail("A relationship could not be written");
    return false;
  }
  return true;
}

std::vector<std::pair<std::string, std::int64_t>> BulkInsert::keysByText(const std::string& entityName,
                                                                         const std::string& attribute) {
  Impl& d = *impl_;
  std::vector<std::pair<std::string, std::int64_t>> out;
  const EntityDescription* e = d.coordinator->model()->entity(entityName);
  if (!e || !d.open || e->attributeIndex(attribute) < 0) return out;
  const std::string sql = "SELECT " + storeColumnName(attribute) + ", Z_PK FROM " + e->tableName() + " WHERE " +
                          storeColumnName(attribute) + " IS NOT NULL";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(d.db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      out.emplace_back(std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(st, 0))),
                       sqlite3_column_int64(st, 1));
    }
  sqlite3_finalize(st);
  return out;
}


bool BulkInsert::update(const std::string& entityName, std::int64_t key, const std::vector<std::string>& attributes,
                        const std::vector<Cell>& cells) {
  Impl& d = *impl_;
  const EntityDescription* e = d.coordinator->model()->entity(entityName);
  if (!e || !d.open || d.failed || attributes.size() != cells.size() || attributes.empty()) return false;
  std::string sql = "UPDATE " + e->tableName() + " SET ";
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    if (e->attributeIndex(attributes[i]) < 0) return false;
    sql += (i ? ", " : "") + storeColumnName(attributes[i]) + " = ?";
  }
  sql += " WHERE Z_PK = ?";
  sqlite3_stmt* st = nullptr;
  bool ok = sqlite3_prepare_v2(d.db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK;
  if (ok) {
    for (std::size_t i = 0; i < cells.size(); ++i) bindCell(st, static_cast<int>(i) + 1, cells[i], false);
    sqlite3_bind_int64(st, static_cast<int>(cells.size()) + 1, key);
    ok = sqlite3_step(st) == SQLITE_DONE;
  }
  sqlite3_finalize(st);
  if (!ok) d.fail("A row could not be changed");
  return ok;
}

bool BulkInsert::remove(const std::string& entityName, std::int64_t key) {
  Impl& d = *impl_;
  const EntityDescription* e = d.coordinator->model()->entity(entityName);
  if (!e || !d.open || d.failed) return false;
  auto run = [&](const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    bool ok = sqlite3_prepare_v2(d.db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK;
    if (ok) {
      sqlite3_bind_int64(st, 1, key);
      ok = sqlite3_step(st) == SQLITE_DONE;
    }
    sqlite3_finalize(st);
    return ok;
  };
  for (int r = 0; r < static_cast<int>(e->relationships().size()); ++r)
    if (auto j = joinColumnsFor(*e, r))
      if (!run("DELETE FROM " + j->table + " WHERE " + j->mine + " = ?")) {
        d.fail("A relationship could not be removed");
        return false;
      }
  if (!run("DELETE FROM " + e->tableName() + " WHERE Z_PK = ?")) {
    d.fail("A row could not be removed");
    return false;
  }
  d.removed[e].push_back(key);
  return true;
}

void BulkInsert::deferIndexes(const std::string& entityName, const std::vector<std::string>& attributes) {
  Impl& d = *impl_;
  const EntityDescription* e = d.coordinator->model()->entity(entityName);
  if (!e || !d.open || d.failed) return;
  std::vector<std::string> columns;
  for (const auto& a : attributes) columns.push_back(storeColumnName(a));
  sqlite3_stmt* st = nullptr;
  std::vector<std::pair<std::string, std::string>> found;
  if (sqlite3_prepare_v2(d.db, "SELECT name, sql FROM sqlite_master WHERE type = 'index' AND tbl_name = ? AND sql IS NOT NULL",
                         -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, e->tableName().c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      std::string sql = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
      // Only indexes over one of the named columns, when columns are named.
      const bool wanted = columns.empty() || std::any_of(columns.begin(), columns.end(), [&](const std::string& c) {
                            return sql.find("(" + c + ")") != std::string::npos;
                          });
      if (wanted) found.emplace_back(std::move(name), std::move(sql));
    }
  }
  sqlite3_finalize(st);
  for (auto& [name, sql] : found) {
    if (!d.exec(("DROP INDEX \"" + name + "\"").c_str())) {
      d.fail("An index could not be set aside");
      return;
    }
    d.deferredIndexes.push_back(sql);
  }
  // Statements prepared before are planned again by SQLite on their next step, bindings kept.
}

std::int64_t BulkInsert::rowCount(const std::string& entityName) {
  Impl& d = *impl_;
  const EntityDescription* e = d.coordinator->model()->entity(entityName);
  if (!e || !d.open) return 0;
  sqlite3_stmt* st = nullptr;
  std::int64_t n = 0;
  if (sqlite3_prepare_v2(d.db, ("SELECT COUNT(*) FROM " + e->tableName()).c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return n;
}

bool BulkInsert::failed(fnd::Error* error) const {
  if (impl_->failed && error) *error = impl_->failure;
  return impl_->failed;
}

bool BulkInsert::commit(fnd::Error* error) {
  Impl& d = *impl_;
  if (!d.open) {
    if (error) *error = fnd::Error::withDescription(fnd::kCocoaErrorDomain, kPersistentStoreSaveError, "Nothing to commit");
    return false;
  }
  for (const auto& sql : d.deferredIndexes)
    if (!d.failed && !d.exec(sql.c_str())) d.fail("An index could not be built again");
  if (!d.failed) {
    // Z_MAX covers every key handed out, so no later save reuses one.
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(d.db, "UPDATE Z_PRIMARYKEY SET Z_MAX = MAX(IFNULL(Z_MAX, 0), ?) WHERE Z_ENT = ?", -1, &st,
                           nullptr) != SQLITE_OK)
      d.fail("Keys could not be recorded");
    for (const auto& [e, range] : d.keys) {
      if (d.failed) break;
      sqlite3_bind_int64(st, 1, range.second - 1);
      sqlite3_bind_int(st, 2, e->entityNumber());
      if (sqlite3_step(st) != SQLITE_DONE) d.fail("Keys could not be recorded");
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }
  d.finalize();
  if (d.failed || !d.exec("COMMIT")) {
    if (!d.failed) d.fail("The rows could not be committed");
    if (error) *error = d.failure;
    d.rollback();
    return false;
  }
  d.open = false;
  d.restoreSettings();
  d.lock.unlock();

  SaveNotification note;
  note.context = d.context.get();
  for (const auto& [e, range] : d.keys) {
    std::vector<std::int64_t>& gone = d.removed[e];
    std::sort(gone.begin(), gone.end());
    for (std::int64_t k = range.first; k < range.second; ++k)
      if (!std::binary_search(gone.begin(), gone.end(), k)) note.insertedIDs.push_back(d.store->idFor(e, k));
  }
  postSaveNotification(*d.context, note);
  return true;
}

void BulkInsert::rollback() { impl_->rollback(); }

}  // namespace kesto::store
