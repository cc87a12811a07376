// The library core's shared state put back after each test: the store closed (the next test
// opens its own, in its own home) under the folder a new process uses, and no preferences.
#include "Harness/TestSupport.h"

#include "Model/Preferences.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/StandardPaths.h"

namespace kesto::test {
namespace {

const StateReset modelReset([] {
  registerPreferences(nullptr);
  auto& stack = WrenDataManager::sharedInstance();
  stack.reset();
  stack.setCoreDataFolder(fnd::StandardPaths::applicationName());
});

}  // namespace
}  // namespace kesto::test
