#include "Model/Unused/Records/RecordClass.h"

#include "Platform/Store/ManagedObject.h"

#include <mutex>

namespace kesto::recordkit {

namespace {

struct ClassTable {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<const RecordClassHooks>, std::less<>> classes;
};

ClassTable& table() {
  static ClassTable* t = new ClassTable;
  return *t;
}

std::string_view classNameOf(const store::ManagedObject& object) {
  return object.entity() ? std::string_view(object.entity()->className()) : std::string_view();
}

}  // namespace

void registerRecordClass(const std::string& className, RecordClassHooks hooks) {
  std::lock_guard lock(table().mutex);
  table().classes[className] = std::make_shared<const RecordClassHooks>(std::move(hooks));
}

void unregisterRecordClass(const std::string& className) {
  std::lock_guard lock(table().mutex);
  table().classes.erase(className);
}

std::shared_ptr<const RecordClassHooks> recordClassHooks(std::string_view className) {
  std::lock_guard lock(table().mutex);
  auto it = table().classes.find(className);
  return it == table().classes.end() ? nullptr : it->second;
}

bool respondsToRecordCallback(const store::ManagedObject& object, std::string_view name) {
  auto hooks = recordClassHooks(classNameOf(object));
  return hooks && hooks->callbacks.find(name) != hooks->callbacks.end();
}

bool performRecordCallback(const std::shared_ptr<store::ManagedObject>& object, std::string_view name,
                           const fnd::Value& argument, bool* answer) {
  if (!object) return false;
  auto hooks = recordClassHooks(classNameOf(*object));
  if (!hooks) return false;
  auto it = hooks->callbacks.find(name);
  if (it == hooks->callbacks.end() || !it->second) return false;
  bool result = it->second(object, argument);
  if (answer) *answer = result;
  return true;
}

namespace {

bool startsWith(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// Adds `from`'s callback under `to` in one class; false when either is missing or `to` exists.
bool addAlias(const std::string& className, const std::string& from, const std::string& to) {
  std::lock_guard lock(table().mutex);
  auto it = table().classes.find(className);
  if (it == table().classes.end()) return false;
  auto source = it->second->callbacks.find(from);
  if (source == it->second->callbacks.end() || it->second->callbacks.count(to)) return false;
  auto copy = std::make_shared<RecordClassHooks>(*it->second);
  copy->callbacks[to] = source->second;
  it->second = std::move(copy);
  return true;
}

}  // namespace

bool addUnprefixedInstanceAlias(const std::string& className, const std::string& name) {
  if (startsWith(name, "_") || startsWith(name, "init") || startsWith(name, "RK_")) return false;
  return addAlias(className, "RK_" + name, name);
}

bool addUnprefixedClassAlias(const std::string& className, const std::string& name) {
  if (startsWith(name, "RK_")) return false;
  return addAlias(className, "RK_" + name, name);
}

void exchangeClassMethods(const std::string& classA, const std::string& nameA, const std::string& classB,
                          const std::string& nameB) {
  if (!addAlias(classB, nameB, nameA)) return;
  auto a = recordClassHooks(classA);
  if (!a) return;
  auto replacement = a->callbacks.find(nameA);
  if (replacement == a->callbacks.end()) return;
  RecordCallback callback = replacement->second;
  std::lock_guard lock(table().mutex);
  auto it = table().classes.find(classB);
  if (it == table().classes.end()) return;
  auto copy = std::make_shared<RecordClassHooks>(*it->second);
  copy->callbacks[nameB] = std::move(callback);
  it->second = std::move(copy);
}

}  // namespace kesto::recordkit
