#include "FuzzTarget.h"

namespace kesto::fuzz {

namespace {
std::vector<Target>& registry() {
  static std::vector<Target> all;
  return all;
}
}  // namespace

bool registerTarget(const char* name, EntryPoint entry) {
  registry().push_back({name, entry});
  return true;
}

const std::vector<Target>& targets() { return registry(); }

}  // namespace kesto::fuzz
