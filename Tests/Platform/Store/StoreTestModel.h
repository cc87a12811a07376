#pragma once
// A small library model for the store's tests: bookmarks in folders with tags.

#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Model.h"

#include <memory>
#include <string>

namespace kesto::store::test {

struct ModelOptions {
  bool withNotes = true;        // Bookmark.notes
  bool withService = false;     // an extra entity, for migration tests
  bool ratingAsString = false;  // an incompatible change, for migration tests
  bool requireURL = false;      // Bookmark.url not optional
  bool withFlag = false;        // Bookmark.isInLibrary, a flag defaulting to 0
  bool withIcon = false;        // Bookmark.icon, transformable through "TestTextTransformer"
};

std::shared_ptr<const Model> makeLibraryModel(const ModelOptions& options = {});

// A coordinator with an SQLite store at `path` (opened with the migration options).
std::shared_ptr<Coordinator> openStore(std::shared_ptr<const Model> model, const std::string& path,
                                       fnd::Error* error = nullptr);
// A main-queue context with a 999-level undo manager, the app's main context set-up.
ContextRef makeMainContext(std::shared_ptr<Coordinator> coordinator, bool withUndo = false);

// A private-queue context whose parent is `parent`: its saves go into the parent.
inline ContextRef makeChildContext(const ContextRef& parent) {
  auto child = Context::make(ConcurrencyType::PrivateQueue);
  child->setParent(parent);
  return child;
}

std::string storePath(const std::string& name = "data.sqlite");

// A store file of the library model with the main context over it.
struct Stack {
  std::shared_ptr<const Model> model = makeLibraryModel();
  std::string path = storePath();
  std::shared_ptr<Coordinator> coordinator = openStore(model, path);
  ContextRef main = makeMainContext(coordinator);
};

}  // namespace kesto::store::test
