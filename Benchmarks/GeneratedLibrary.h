#pragma once

// The generated libraries the benchmarks measure: folders "F<i>" named "Folder <i>", tags, and
// bookmarks filed round the folders, each with two tags when there are any. What else a row gets
// is each benchmark's own, so every benchmark keeps measuring the library it always measured.

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Preferences.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::bench {

struct LibraryShape {
  int folders = 0, tags = 0, bookmarks = 0;
  // Four deep: every fourth folder at the top with a chain of three below it; else all at the top.
  bool fourDeep = true;
  std::function<void(Folder&, int)> folder = [](Folder&, int) {};
  std::function<std::string(int)> tagName = [](int i) { return "tag" + std::to_string(i); };
  // Everything but the folder and the tags.
  std::function<void(Bookmark&, int)> bookmark = [](Bookmark&, int) {};
};

struct GeneratedLibrary {
  std::vector<Folder::Ref> folders;
  std::vector<Tag::Ref> tags;
};

// Makes the library in the shared store and saves it.
inline GeneratedLibrary generateLibrary(const LibraryShape& shape) {
  auto ctx = WrenDataManager::sharedInstance().managedObjectContext();
  GeneratedLibrary made;
  for (int i = 0; i < shape.folders; ++i) {
    auto f = Folder::initEntityInContext(ctx);
    f->setFolderID("F" + std::to_string(i));
    f->setName("Folder " + std::to_string(i));
    const bool top = !shape.fourDeep || i % 4 == 0;
    f->setParentFolderID(top ? std::string(Folder::kRootID) : "F" + std::to_string(i - 1));
    shape.folder(*f, i);
    made.folders.push_back(f);
  }
  for (int i = 0; i < shape.tags; ++i) {
    auto t = Tag::initEntityInContext(ctx);
    t->setName(shape.tagName(i));
    made.tags.push_back(t);
  }
  for (int i = 0; i < shape.bookmarks; ++i) {
    auto b = Bookmark::newBookmark(ctx);
    shape.bookmark(*b, i);
    b->setFolder(made.folders[static_cast<std::size_t>(i % shape.folders)]);
    if (shape.tags > 0) {
      b->addTag(made.tags[static_cast<std::size_t>(i % shape.tags)]);
      b->addTag(made.tags[static_cast<std::size_t>((i * 7 + 3) % shape.tags)]);
    }
  }
  WrenEntity::saveContext(ctx);
  return made;
}

// The preferences with their defaults registered, as a start has them before the library loads.
inline std::shared_ptr<PreferenceValues> registeredPreferences() {
  auto prefs = std::make_shared<PreferenceValues>();
  registerPreferences(prefs);
  return prefs;
}

// Gives the data manager the preferences and the whole store, as a start does.
inline void loadLibrary(DataManager& dm, const std::shared_ptr<PreferenceValues>& prefs) {
  auto ctx = WrenDataManager::sharedInstance().managedObjectContext();
  dm.setPreferences(prefs);
  dm.setContext(ctx);
  dm.preparePredicates();
  dm.addBookmarks(Bookmark::fetchEntities(ctx).value_or(Bookmark::List{}));
  dm.addFolders(Folder::fetchEntities(ctx).value_or(Folder::List{}));
}

}  // namespace kesto::bench
