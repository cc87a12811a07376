#pragma once

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Store/Context.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::store {

// Writes many new rows at once without an object per row, for loads such as an import: one
// transaction that holds the store for its length, one prepared statement per row shape, keys
// taken from one allocation per entity, join rows written as they come. Rows keep the store's
// rules: Z_OPT starts at 1, Z_MAX covers every key handed out, to-one columns and join rows
// give both sides of a relationship. Nothing is visible before commit(); a failure, an
// abandoned insert or a crash leaves the store as it was. At commit the context's save
// observers and the did-save notification hear of every new row once, as after a save.
class BulkInsert {
 public:
  // A value for one column; texts are read during the call only.
  struct Cell {
    enum class Kind { Null, Integer, Real, Text } kind = Kind::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view text;
    Cell() = default;
    Cell(std::int64_t v) : kind(Kind::Integer), integer(v) {}
    Cell(int v) : kind(Kind::Integer), integer(v) {}
    Cell(double v) : kind(Kind::Real), real(v) {}
    Cell(const fnd::Date& d) : kind(Kind::Real), real(d.timeIntervalSinceReferenceDate()) {}
    Cell(std::string_view v) : kind(Kind::Text), text(v) {}
    Cell(const std::string& v) : kind(Kind::Text), text(v) {}
    Cell(const char* v) : kind(Kind::Text), text(v) {}
  };
  struct Shape;

  // Starts the transaction on the context's store; null with `error` when the store cannot be
  // written. Use it on one thread; other store users wait until commit or rollback.
  static std::unique_ptr<BulkInsert> begin(const ContextRef& context, fnd::Error* error = nullptr);
  ~BulkInsert();  // rolls back what is not committed
  BulkInsert(const BulkInsert&) = delete;
  BulkInsert& operator=(const BulkInsert&) = delete;

  // The columns each row of `entityName` gives: attributes, then to-one relationships (their
  // cells are destination keys, 0 for none). Other attributes take the model's defaults. Null
  // for an unknown entity or name.
  const Shape* shape(const std::string& entityName, const std::vector<std::string>& attributes,
                     const std::vector<std::string>& toOneRelationships = {});
  // Inserts one row; `cells` holds one cell per column of the shape. Answers the new key, 0 on
  // failure (the insert is then spoilt: commit fails).
  std::int64_t insert(const Shape& shape, const std::vector<Cell>& cells);
  // Links two rows through a many-to-many relationship of `entityName`.
  bool relate(const std::string& entityName, const std::string& relationship, std::int64_t key,
              std::int64_t otherKey);
  // Changes attributes of a row inserted here.
  bool update(const std::string& entityName, std::int64_t key, const std::vector<std::string>& attributes,
              const std::vector<Cell>& cells);
  // Takes back a row inserted here, with its join rows; it is not announced at the commit.
  bool remove(const std::string& entityName, std::int64_t key);
  // Keys of the rows of `entityName` whose `attribute` holds each text, for rows to link to.
  std::vector<std::pair<std::string, std::int64_t>> keysByText(const std::string& entityName,
                                                               const std::string& attribute);

  // For a load that is large beside what the table holds: the secondary indexes of the
  // entity's table (those over the named attributes, or all) are dropped now and built again,
  // from sorted keys, before the commit, which is much cheaper than keeping them up to date row
  // by row when new keys land all over the index.
  void deferIndexes(const std::string& entityName, const std::vector<std::string>& attributes = {});
  // Rows of `entityName` in the store (those inserted here included).
  std::int64_t rowCount(const std::string& entityName);

  // Whether a step failed, spoiling the insert; `error` gets why.
  bool failed(fnd::Error* error = nullptr) const;
  // Makes the rows visible and durable, then notifies. False (with `error`) when anything
  // failed; the store is then as it was.
  bool commit(fnd::Error* error = nullptr);
  // Drops every row inserted.
  void rollback();

  struct Impl;

 private:
  BulkInsert();
  std::unique_ptr<Impl> impl_;
};

}  // namespace kesto::store
