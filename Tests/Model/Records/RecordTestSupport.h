#pragma once

#include "Model/Unused/Records/RecordClass.h"
#include "Model/Unused/Records/RecordContext.h"
#include "Model/Unused/Records/RecordFinders.h"
#include "Model/Unused/Records/RecordImport.h"
#include "Model/Unused/Records/RecordKit.h"
#include "Model/Unused/Records/RecordStore.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Model.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kesto::test::records {

// Notes in notebooks, with labels: the model the record-layer tests import into.
//   Note: noteID (from "id"), title (from "title", else "name"), rating, count (default 7,
//         restored when missing), created (default date format), createdLocal ("dd/MM/yyyy
//         HH:mm"), pinned, tint (a colour); notebook (to-one), labels (to-many, from "tags",
//         related by name).
//   Notebook: notebookID (from "id"), name; notes (to-many).
//   Label: labelID, name (the primary attribute); notes (to-many).
// `extraAttribute` adds one attribute to Note, for tests that need a different model.
std::shared_ptr<const store::Model> makeNotesModel(const std::string& extraAttribute = {});

// The path of a fixture file of these tests.
std::string fixturePath(const std::string& name);
fnd::Value readJsonFixture(const std::string& name);

// Releases the stack and puts the class-level flags back as they start.
void resetRecordKit();

// An in-memory record stack on the notes model, torn down afterwards.
class RecordStackTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Saves the default context all the way to the store, waiting.
  void saveAll();
  // Objects of `entity` as the store has them, read in a new context.
  long storedCount(const std::string& entity);
};

}  // namespace kesto::test::records
