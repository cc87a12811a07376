#pragma once

#include "Model/Bookmark.h"
#include "Model/Config.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/Tag.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"

#include <gtest/gtest.h>

namespace kesto::test {

// The tests of one program share its store and settings: each starts from an empty library,
// no stored settings and nothing to undo, whatever the test before it left.
inline void startFromAnEmptyLibrary() {
  auto wipe = [](const auto& list) {
    if (list)
      for (const auto& object : *list) object->deleteEntity();
  };
  wipe(Bookmark::fetchEntities());
  wipe(Folder::fetchEntities());
  wipe(Tag::fetchEntities());
  wipe(Service::fetchEntities());
  wipe(Config::fetchEntities());
  ASSERT_TRUE(WrenEntity::saveContext());
  auto& defaults = fnd::UserDefaults::standard();
  for (const auto& [key, value] : defaults.persistentValues()) defaults.removeObject(key);
  if (auto* undo = WrenEntity::defaultContext()->undoManager()) undo->removeAllActions();
}

}  // namespace kesto::test
