#pragma once

#include "Model/Unused/Records/RecordTypes.h"
#include "Platform/Foundation/Value.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace kesto::recordkit {

// A named callback of a record class. The answer matters only for the "should..." names.
using RecordCallback =
    std::function<bool(const std::shared_ptr<store::ManagedObject>& object, const fnd::Value& argument)>;

// What a record class (named like its entity) adds to the standard behaviour. Every member is
// optional; the layer uses a callback only when the class has one.
struct RecordClassHooks {
  // Replace the entity lookup and the creation of new objects.
  std::function<const store::EntityDescription*(const std::shared_ptr<store::Context>&)> entityInManagedObjectContext;
  std::function<std::shared_ptr<store::ManagedObject>(const std::shared_ptr<store::Context>&)>
      insertInManagedObjectContext;
  // Import callbacks by name: "shouldImport:", "willImport:", "didImport:" (argument: the
  // object's data); "import<Key>:" (an attribute's converted value, or a relationship's whole
  // object data); "shouldImport<Key>:" (a relationship's related data); relationship setters
  // "set<Key>:" and "add<Key>Object:" (the related object). <Key> is the name with an upper-case
  // first character.
  std::map<std::string, RecordCallback, std::less<>> callbacks;
};

void registerRecordClass(const std::string& className, RecordClassHooks hooks);
void unregisterRecordClass(const std::string& className);
// The hooks of a class, or null.
std::shared_ptr<const RecordClassHooks> recordClassHooks(std::string_view className);

// Whether the object's class has the named callback, and calling it. performRecordCallback
// answers false when there is none; `answer` receives the callback's result.
bool respondsToRecordCallback(const store::ManagedObject& object, std::string_view name);
bool performRecordCallback(const std::shared_ptr<store::ManagedObject>& object, std::string_view name,
                           const fnd::Value& argument, bool* answer = nullptr);

// Aliases in a class's callback table (instance and class callbacks share it). Names beginning
// with "RK_" (and, for instance aliases, "_" or "init") are never aliased.
// Adds the callback "RK_<name>" under "<name>" when the class has the first and not the second.
bool addUnprefixedInstanceAlias(const std::string& className, const std::string& name);
bool addUnprefixedClassAlias(const std::string& className, const std::string& name);
// Adds B's callback `nameB` to B under `nameA`; only when that was added, B's `nameB` becomes A's
// callback `nameA`.
void exchangeClassMethods(const std::string& classA, const std::string& nameA, const std::string& classB,
                          const std::string& nameB);

}  // namespace kesto::recordkit
