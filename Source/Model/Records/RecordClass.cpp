#include "Model/Records/RecordClass.h"

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

}  // namespace kesto::recordkit
