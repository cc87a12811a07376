// Every test of this program starts from a new library: the store and the application's folder
// a test used are closed and removed when it ends, and the settings it stored (tombstones, sync
// method, account) go too, so a whole run in one process (or a shuffled one) sees what one test
// per process sees.
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/UserDefaults.h"

#include <gtest/gtest.h>

namespace {

class FreshLibraryPerTest : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo&) override {
    auto& dm = kesto::WrenDataManager::sharedInstance();
    const auto folder = dm.applicationSupportDirectory();
    dm.reset();
    if (!folder.empty()) kesto::fnd::FileManager::removeItem(folder);
    auto& defaults = kesto::fnd::UserDefaults::standard();
    for (const auto& [key, value] : defaults.persistentValues()) defaults.removeObject(key);
  }
};

const bool registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshLibraryPerTest);
  return true;
}();

}  // namespace
