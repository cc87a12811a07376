#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Store/Model.h"
#include "Platform/Store/ObjectID.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto::store {

// Store types.
inline constexpr const char* kSQLiteStoreType = "SQLite";
inline constexpr const char* kInMemoryStoreType = "InMemory";

// Options of addStore (boolean Values unless said otherwise).
inline constexpr const char* kMigratePersistentStoresAutomaticallyOption = "NSMigratePersistentStoresAutomaticallyOption";
inline constexpr const char* kInferMappingModelAutomaticallyOption = "NSInferMappingModelAutomaticallyOption";
inline constexpr const char* kReadOnlyPersistentStoreOption = "NSReadOnlyPersistentStoreOption";
// A dictionary of SQLite pragmas, e.g. { "journal_mode" = "WAL" }.
inline constexpr const char* kSQLitePragmasOption = "NSSQLitePragmasOption";
// With the migration option: also brings to the model a store whose model hash is none the model
// knows though its tables are the model's (nothing to add: no older model of it). Without it such
// a store is refused with kPersistentStoreIncompatibleVersionHashError and left as it is.
inline constexpr const char* kMigrateUnknownModelOption = "KestoMigrateUnknownModelOption";

// Error codes (domain fnd::kCocoaErrorDomain).
inline constexpr long kValidationMissingMandatoryPropertyError = 1570;
inline constexpr long kValidationMultipleErrorsError = 1560;
inline constexpr long kManagedObjectMergeError = 133020;
inline constexpr long kPersistentStoreInvalidTypeError = 134000;
inline constexpr long kPersistentStoreOperationError = 134070;
inline constexpr long kPersistentStoreIncompatibleVersionHashError = 134100;
inline constexpr long kMigrationError = 134110;
inline constexpr long kMigrationMissingSourceModelError = 134130;
inline constexpr long kPersistentStoreSaveError = 134030;
inline constexpr long kPersistentStoreOpenError = 256;  // file could not be opened or read
inline constexpr long kFileReadCorruptFileError = 259;
inline constexpr long kManagedObjectReferentialIntegrityError = 133000;
inline constexpr long kManagedObjectContextLockingError = 132000;
inline constexpr long kCoreDataError = 134060;

// Holds the model and the store that contexts on it read and write. Thread-safe: every store
// access is serialised by the coordinator.
class Coordinator : public std::enable_shared_from_this<Coordinator> {
 public:
  static std::shared_ptr<Coordinator> make(std::shared_ptr<const Model> model);
  ~Coordinator();

  const std::shared_ptr<const Model>& model() const;

  // Opens (creating when missing) a store. SQLite stores live in one file at `path` (its folder
  // must exist); the in-memory type ignores the path. An older store is migrated when the
  // options allow it and only attributes or entities were added; any other model change fails
  // with kPersistentStoreIncompatibleVersionHashError or kMigrationMissingSourceModelError and
  // leaves the file untouched. A coordinator holds one store; a second add fails.
  bool addStore(const std::string& type, const std::string& path, const fnd::Dictionary& options = {},
                fnd::Error* error = nullptr);
  // Whether the SQLite file at `path` can be opened with `model` without losing data, read
  // without changing it: metadata naming `model` or a model it can migrate from, and every
  // table and column those need. Fills `error` with the reason otherwise.
  static bool checkStoreFile(const std::string& path, const Model& model, fnd::Error* error = nullptr);
  bool hasStore() const;
  // Looks for damage in the open SQLite store: the first page of every table and index is read,
  // then SQLite's quick check runs for at most `budgetSeconds` (a file too large for it is left
  // to the reads, which report damage where they meet it; none: the first pages only). False,
  // with a kFileReadCorruptFileError, when the file is damaged.
  bool checkForDamage(double budgetSeconds, fnd::Error* error = nullptr);
  // Whether a failure of this store came from a damaged file (SQLite's "malformed" or "not a
  // database", or checkForDamage), rather than from a full disk, a lock or a bad request.
  static bool isDamageError(const fnd::Error& error);
  // A coordinator of its own connection to this SQLite store file: the same model, store
  // identifier and object IDs, so a context on it works on a thread of its own without waiting
  // for this connection's users, and its IDs are good in contexts of this coordinator. Null
  // (with `error`) without a SQLite store, or when the file at the path is no longer this store.
  std::shared_ptr<Coordinator> openSecondConnection(fnd::Error* error = nullptr) const;
  // Closes the store; contexts on the coordinator then fail to fetch and save.
  bool removeStore(fnd::Error* error = nullptr);
  const std::string& storeType() const;
  const std::string& storePath() const;
  // Unique per opened store; part of every permanent object ID.
  const std::string& storeIdentifier() const;
  // Metadata kept in the store (including "versionHash"), with the values set below.
  fnd::Dictionary metadata() const;
  // Whether opening this store made it (a new, empty library) rather than finding it.
  bool createdStore() const;
  // Keeps a value with the store (its metadata), at once. The store's own keys ("versionHash",
  // "storeIdentifier", "storeType", the model's layouts) are refused.
  bool setMetadataValue(const std::string& key, const std::string& value, fnd::Error* error = nullptr);

  // A permanent ID from its text form; null when it names another store or an unknown entity.
  ObjectIDRef objectIDForURIRepresentation(const std::string& uri) const;

  // Holds off every other store access until unlock (recursive).
  void lock();
  void unlock();

  // Makes all written data durable and, in WAL mode, folds the log into the main file, so the
  // file can be copied or read by another connection.
  bool checkpoint(fnd::Error* error = nullptr);
  // Whether the store was opened without write access (a read-only file, folder or disk): every
  // save will fail.
  bool isReadOnly() const;

  struct Impl;

 private:
  friend struct ImplAccess;
  Impl& impl() { return *impl_; }
  Coordinator();
  std::unique_ptr<Impl> impl_;
};

}  // namespace kesto::store
