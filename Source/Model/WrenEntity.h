#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Store/ManagedObject.h"
#include "Platform/Store/Predicate.h"
#include "Platform/Store/SortDescriptor.h"
#include "Platform/Store/StoreForward.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

using ContextRef = std::shared_ptr<store::Context>;

// Logs "Failed to <action>: <description>" and each detailed error of a failed save or fetch.
void logDetailedError(std::string_view action, const fnd::Error* error);

// A save the store did not take: the error, its cause in the user's words ("The disk is full")
// and the store file it was meant for.
struct SaveFailure {
  fnd::Error error;
  std::string cause;
  std::string storePath;
};

// Base of every entity class. Class-level fetches, counts and saves work in the main context of
// WrenDataManager unless a context is given; without a store they find nothing and save nothing.
class WrenEntity : public store::ManagedObject {
 public:
  static ContextRef defaultContext();
  // The context the object was made in; the main context once that one has gone (never a
  // dangling reference).
  ContextRef currentContext() const;
  void setCurrentContext(const ContextRef& context);

  // Deletes from the main context (logged) / from `context`; nothing is saved.
  void deleteEntity();
  void deleteEntityInContext(const ContextRef& context);

  // True when the store took every change. A failed save leaves the changes in the context, so
  // nothing is lost from memory and the next save tries them again.
  static bool saveContext();
  static bool saveContext(const ContextRef& context);

  // Told (on the saving thread) of every failed save of a context that writes to the store, and
  // with no failure when the main context saves again after failures. The application shows it.
  using SaveOutcomeHandler = std::function<void(const std::optional<SaveFailure>& failure)>;
  static void setSaveOutcomeHandler(SaveOutcomeHandler handler);
  // Whether the application has taken on telling the user of failed saves.
  static bool hasSaveOutcomeHandler();
  // Whether the last save of the main context failed: its changes are then only in memory.
  static bool lastSaveFailed();
  static std::string causeOfSaveFailure(const fnd::Error& error);

  // While one lives on the main thread, saves of the main context are held and made once, when
  // the outermost ends: work that changes many objects at once writes the store once.
  class SaveBatch {
   public:
    SaveBatch();
    ~SaveBatch();
    SaveBatch(const SaveBatch&) = delete;
    SaveBatch& operator=(const SaveBatch&) = delete;
    // Ends the batch now without its save and answers whether it held one: the caller saves
    // later itself. An inner batch leaves the save to the outermost and answers false.
    bool endWithoutSaving();

   private:
    bool ended_ = false;
  };
  // A new identifier: an upper-case canonical UUID.
  static std::string uniqueID();

  // Untyped operations behind the typed ones of Entity<T>. `context` null means the main context.
  static store::ManagedObjectRef insertEntity(const std::string& entityName, const ContextRef& context);
  static store::ManagedObjectRef makeDetached(const std::string& entityName);
  static std::optional<std::vector<store::ManagedObjectRef>> fetch(const std::string& entityName,
                                                                   const store::PredicateRef& predicate,
                                                                   const std::vector<store::SortDescriptor>* sorts,
                                                                   std::int64_t limit, std::int64_t offset,
                                                                   const ContextRef& context, fnd::Error* error);
  static std::int64_t count(const std::string& entityName, const store::PredicateRef& predicate,
                            const ContextRef& context, fnd::Error* error);
  // "%K == %@" with key and value.
  static store::PredicateRef propertyPredicate(std::string_view key, const fnd::Value& value);

 private:
  std::weak_ptr<store::Context> currentContext_;
};

// Typed class operations for entity class T (T::entityName() names its entity).
template <typename T>
class Entity : public WrenEntity {
 public:
  using Ref = std::shared_ptr<T>;
  using List = std::vector<Ref>;

  // Inserted into the main context / `context`, remembering the context.
  static Ref initEntity() { return initEntityInContext(nullptr); }
  static Ref initEntityInContext(const ContextRef& context) {
    auto ctx = context ? context : defaultContext();
    auto object = std::dynamic_pointer_cast<T>(insertEntity(T::entityName(), ctx));
    if (object) object->setCurrentContext(ctx);
    return object;
  }
  // Outside any context (a detached value).
  static Ref initNonEnitity() { return std::dynamic_pointer_cast<T>(makeDetached(T::entityName())); }

  // The first match (limit 1); null when none or on failure (`error` tells which).
  static Ref fetchEntityWhereProperty(std::string_view key, const fnd::Value& value, const ContextRef& context = nullptr,
                                      fnd::Error* error = nullptr) {
    return fetchEntityWithPredicate(propertyPredicate(key, value), context, error);
  }
  static Ref fetchEntityWithPredicate(const store::PredicateRef& predicate, const ContextRef& context = nullptr,
                                      fnd::Error* error = nullptr) {
    auto found = fetch(T::entityName(), predicate, nullptr, 1, 0, context, error);
    if (!found || found->empty()) return nullptr;
    return std::dynamic_pointer_cast<T>(found->front());
  }

  // Arrays: absent when the fetch failed, so a failure never reads as "none found".
  static std::optional<List> fetchEntities(const ContextRef& context = nullptr) {
    return typed(fetch(T::entityName(), nullptr, nullptr, 0, 0, context, nullptr));
  }
  static std::optional<List> fetchEntitiesWithSortDescriptor(const std::optional<store::SortDescriptor>& sort,
                                                             const ContextRef& context = nullptr) {
    std::vector<store::SortDescriptor> sorts;
    if (sort) sorts.push_back(*sort);
    return typed(fetch(T::entityName(), nullptr, sort ? &sorts : nullptr, 0, 0, context, nullptr));
  }
  static std::optional<List> fetchEntitiesWhereProperty(std::string_view key, const fnd::Value& value,
                                                        const ContextRef& context = nullptr) {
    return fetchEntitiesWithPredicate(propertyPredicate(key, value), nullptr, 0, 0, context);
  }
  static std::optional<List> fetchEntitiesWithPredicate(const store::PredicateRef& predicate,
                                                        const std::vector<store::SortDescriptor>* sorts = nullptr,
                                                        std::int64_t limit = 0, std::int64_t offset = 0,
                                                        const ContextRef& context = nullptr,
                                                        fnd::Error* error = nullptr) {
    return typed(fetch(T::entityName(), predicate, sorts, limit, offset, context, error));
  }

  // True when at least one object matches; false for none and for a failed fetch (`error` set).
  static bool checkIfEntityExistsWhereProperty(std::string_view key, const fnd::Value& value,
                                               const ContextRef& context = nullptr, fnd::Error* error = nullptr) {
    return checkIfEntityExistsWithPredicate(propertyPredicate(key, value), context, error);
  }
  static bool checkIfEntityExistsWithPredicate(const store::PredicateRef& predicate, const ContextRef& context = nullptr,
                                               fnd::Error* error = nullptr) {
    auto found = fetch(T::entityName(), predicate, nullptr, 1, 0, context, error);
    return found && !found->empty();
  }

  // The object with the largest value of `key` among the matches; null when none.
  static Ref fetchEntityWhithMaxValueForKey(const std::string& key, const store::PredicateRef& predicate = nullptr,
                                            const ContextRef& context = nullptr) {
    std::vector<store::SortDescriptor> sorts{store::SortDescriptor(key, false)};
    fnd::Error error;
    auto found = fetch(T::entityName(), predicate, &sorts, 1, 0, context, &error);
    if (!found) {
      logDetailedError("Error in fetchEntityWhithMaxValueForKey:andPredicate:\n", &error);
      return nullptr;
    }
    if (found->empty()) return nullptr;
    return std::dynamic_pointer_cast<T>(found->front());
  }

  // Matches of exactly this entity; 0 when the count fails.
  static std::int64_t countWithPredicate(const store::PredicateRef& predicate, const ContextRef& context = nullptr) {
    return count(T::entityName(), predicate, context, nullptr);
  }

  static void deleteEntities(const List& objects, const ContextRef& context = nullptr) {
    for (const auto& o : objects)
      if (o) o->deleteEntityInContext(context ? context : defaultContext());
  }

 private:
  static std::optional<List> typed(const std::optional<std::vector<store::ManagedObjectRef>>& objects) {
    if (!objects) return std::nullopt;
    List out;
    out.reserve(objects->size());
    for (const auto& o : *objects)
      if (auto t = std::dynamic_pointer_cast<T>(o)) out.push_back(std::move(t));
    return out;
  }
};

}  // namespace kesto
