#include "Platform/Store/ValueTransformer.h"

#include <map>
#include <mutex>

namespace kesto::store {

namespace {
std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::shared_ptr<const ValueTransformer>>& registry() {
  static std::map<std::string, std::shared_ptr<const ValueTransformer>> r;
  return r;
}
}  // namespace

void ValueTransformer::registerTransformer(const std::string& name, std::shared_ptr<const ValueTransformer> t) {
  std::lock_guard lock(registryMutex());
  registry()[name] = std::move(t);
}

std::shared_ptr<const ValueTransformer> ValueTransformer::named(const std::string& name) {
  std::lock_guard lock(registryMutex());
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second;
}

}  // namespace kesto::store
