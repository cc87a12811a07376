// Random edits through the main context and its children, checked against a plain model of what
// the library should hold: unsaved in the main context, and stored for a fresh context.

#include "StoreTestModel.h"

#include "Platform/Foundation/UndoManager.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

struct Expected {
  std::string title;
  std::string folder;  // folderID or ""
  std::set<std::string> tags;
  bool operator==(const Expected&) const = default;
};
using Library = std::map<std::string, Expected>;

Library observe(Context& c) {
  Library lib;
  auto all = c.fetch(FetchRequest("Bookmark"));
  EXPECT_TRUE(all);
  if (!all) return lib;
  for (auto& b : *all) {
    Expected e;
    e.title = b->valueForKey("title").string();
    if (auto f = b->toOne("folder")) e.folder = f->valueForKey("folderID").string();
    for (auto& t : b->toMany("tags")) e.tags.insert(t->valueForKey("name").string());
    lib[b->valueForKey("uniqueID").string()] = e;
  }
  return lib;
}

ManagedObjectRef find(Context& c, const std::string& entity, const std::string& key, const std::string& value) {
  FetchRequest r(entity);
  r.predicate = Predicate::parse("%K == %@", {key, value});
  auto got = c.fetch(r);
  return got && !got->empty() ? (*got)[0] : nullptr;
}

// A new bookmark `id` with `title` inserted through `c`, as the model records it.
Expected inserted(Context& c, const std::string& id, const std::string& title) {
  auto b = c.insertNewObject("Bookmark");
  b->setValueForKey("uniqueID", id);
  b->setValueForKey("title", title);
  return {b->valueForKey("title").string(), "", {}};
}

// Folders "F0"… and tags "T0"… saved through `main`; answers whether the save went through.
bool savedFoldersAndTags(Context& main, int folders, int tags) {
  for (int i = 0; i < folders; ++i) main.insertNewObject("Folder")->setValueForKey("folderID", "F" + std::to_string(i));
  for (int i = 0; i < tags; ++i) main.insertNewObject("Tag")->setValueForKey("name", "T" + std::to_string(i));
  return main.save();
}

}  // namespace

TEST(RandomOperations, ContextsAgreeWithAPlainModel) {
  auto coordinator = openStore(makeLibraryModel(), storePath());
  auto main = makeMainContext(coordinator);
  const int kFolders = 4, kTags = 5;
  ASSERT_TRUE(savedFoldersAndTags(*main, kFolders, kTags));

  std::mt19937 rng(11);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Library stored, pending;
  int next = 0;
  for (int step = 0; step < 600; ++step) {
    // Edits go to the main context directly or through a child that saves into it.
    bool viaChild = pick(4) == 0;
    ContextRef target = main;
    ContextRef child;
    if (viaChild) {
      child = makeChildContext(main);
      target = child;
    }
    std::string op;
    target->performAndWait([&] {
      std::vector<std::string> keys;
      for (auto& [k, v] : pending) keys.push_back(k);
      int kind = keys.empty() ? 0 : pick(6);
      if (kind == 0) {
        std::string id = "B" + std::to_string(next++);
        pending[id] = inserted(*target, id, "t" + std::to_string(pick(100)));
        op = "insert";
        return;
      }
      std::string id = keys[pick(static_cast<int>(keys.size()))];
      auto b = find(*target, "Bookmark", "uniqueID", id);
      ASSERT_TRUE(b) << id;
      Expected& e = pending[id];
      switch (kind) {
        case 1:
          e.title = "t" + std::to_string(pick(100));
          b->setValueForKey("title", e.title);
          op = "title";
          break;
        case 2: {
          int f = pick(kFolders + 1);
          e.folder = f == kFolders ? "" : "F" + std::to_string(f);
          b->setToOne("folder", e.folder.empty() ? nullptr : find(*target, "Folder", "folderID", e.folder));
          op = "folder";
          break;
        }
        case 3: {
          std::string t = "T" + std::to_string(pick(kTags));
          auto tag = find(*target, "Tag", "name", t);
          if (e.tags.count(t)) {
            e.tags.erase(t);
            if (pick(2)) b->removeFromMany("tags", tag);
            else tag->removeFromMany("bookmarks", b);
          } else {
            e.tags.insert(t);
            if (pick(2)) b->addToMany("tags", tag);
            else tag->addToMany("bookmarks", b);
          }
          op = "tag";
          break;
        }
        case 4:
          target->deleteObject(b);
          pending.erase(id);
          op = "delete";
          break;
        default:
          e.title = e.title + "+";
          b->setValueForKey("title", e.title);
          op = "append";
          break;
      }
    });
    if (child) {
      bool ok = false;
      child->performAndWait([&] { ok = child->save(); });
      ASSERT_TRUE(ok) << "step " << step;
    }
    int after = pick(10);
    if (after == 0) {
      fnd::Error e;
      ASSERT_TRUE(main->save(&e)) << "step " << step << ": " << e.localizedDescription();
      stored = pending;
    } else if (after == 1) {
      main->rollback();
      pending = stored;
    }
    ASSERT_EQ(observe(*main), pending) << "step " << step << " after " << op << (viaChild ? " in a child" : "");
    if (step % 50 == 49) {
      auto fresh = makeMainContext(coordinator);
      ASSERT_EQ(observe(*fresh), stored) << "stored state at step " << step;
    }
  }
}

namespace {

void undoAndRedoRestoreEveryEarlierState(unsigned seed) {
  auto coordinator = openStore(makeLibraryModel(), storePath());
  auto main = makeMainContext(coordinator);
  const int kFolders = 3, kTags = 4;
  ASSERT_TRUE(savedFoldersAndTags(*main, kFolders, kTags));
  auto undoManager = std::make_shared<fnd::UndoManager>();
  undoManager->setGroupsByEvent(false);
  main->setUndoManager(undoManager);
  auto* undo = undoManager.get();

  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Library current, stored;
  std::vector<Library> undoStack, redoStack;  // states before each group / before each undo
  int next = 0;
  for (int step = 0; step < 500; ++step) {
    int action = pick(10);
    if (action == 0 && !undoStack.empty()) {
      ASSERT_TRUE(undo->canUndo());
      undo->undo();
      redoStack.push_back(current);
      current = undoStack.back();
      undoStack.pop_back();
    } else if (action == 1 && !redoStack.empty()) {
      ASSERT_TRUE(undo->canRedo());
      undo->redo();
      undoStack.push_back(current);
      current = redoStack.back();
      redoStack.pop_back();
    } else if (action == 2) {
      ASSERT_TRUE(main->save());
      stored = current;  // saving keeps the undo history
    } else {
      std::vector<std::string> keys;
      for (auto& [k, v] : current) keys.push_back(k);
      Library before = current;
      undo->beginUndoGrouping();
      int kind = keys.empty() ? 0 : pick(5);
      if (kind == 0) {
        std::string id = "B" + std::to_string(next++);
        current[id] = inserted(*main, id, "t" + std::to_string(pick(50)));
      } else {
        std::string id = keys[pick(static_cast<int>(keys.size()))];
        auto b = find(*main, "Bookmark", "uniqueID", id);
        ASSERT_TRUE(b);
        Expected& e = current[id];
        if (kind == 1) {
          e.title = "t" + std::to_string(pick(50));
          b->setValueForKey("title", e.title);
        } else if (kind == 2) {
          int f = pick(kFolders + 1);
          e.folder = f == kFolders ? "" : "F" + std::to_string(f);
          b->setToOne("folder", e.folder.empty() ? nullptr : find(*main, "Folder", "folderID", e.folder));
        } else if (kind == 3) {
          std::string t = "T" + std::to_string(pick(kTags));
          auto tag = find(*main, "Tag", "name", t);
          if (e.tags.erase(t)) b->removeFromMany("tags", tag);
          else e.tags.insert(t), b->addToMany("tags", tag);
        } else {
          main->deleteObject(b);
          current.erase(id);
        }
      }
      undo->endUndoGrouping();
      if (current != before) {
        undoStack.push_back(before);
        redoStack.clear();
      }
    }
    ASSERT_EQ(observe(*main), current) << "seed " << seed << " step " << step;
  }
  // Everything undone gives the state of the first save.
  while (undo->canUndo()) undo->undo();
  Library initial;
  EXPECT_EQ(observe(*main), initial);
  ASSERT_TRUE(main->save());
  EXPECT_EQ(observe(*makeMainContext(coordinator)), initial);
  (void)stored;
}

}  // namespace

TEST(RandomOperations, UndoAndRedoRestoreEveryEarlierState) {
  // Seeds that once found undo faults (a delete undone after its save could not be redone).
  for (unsigned seed : {3u, 7u, 8u, 11u}) undoAndRedoRestoreEveryEarlierState(seed);
}
