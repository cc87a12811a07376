#pragma once

// Several libraries of one user, synchronised through one shared sync file, driven by a seeded
// random sequence of edits and syncs. Used by the test suite (a few dozen seeds) and by the
// convergence program under Benchmarks/ (hundreds of seeds, run by hand). Nothing here depends
// on the test framework: the caller passes the function that runs the event loop.

#include "Synchronize/SyncDataSource.h"
#include "Synchronize/SyncFile.h"
#include "Synchronize/SyncTombstones.h"
#include "Synchronize/Synchronizer.h"

#include "Model/Bookmark.h"
#include "Model/DataModel.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kesto::test {

// Switches the one store stack of the process between libraries, each with its own store
// folder, library identifier ("kesto-" + name) and tombstone list. Store folders are unique per
// object, so libraries of an earlier test in the same process never leak into a later one.
class SyncLibraries {
 public:
  SyncLibraries() : prefix_("kesto-lib" + std::to_string(nextSerial()) + "-") {}
  ~SyncLibraries() { close(); }
  SyncLibraries(const SyncLibraries&) = delete;
  SyncLibraries& operator=(const SyncLibraries&) = delete;

  // Makes `name` the library of the process; answers its main context (null when it cannot open).
  std::shared_ptr<store::Context> use(const std::string& name) {
    auto& defaults = fnd::UserDefaults::standard();
    if (!current_.empty())
      tombstones_[current_] =
          defaults.stringArrayForKey(SyncTombstones::kDefaultsKey).value_or(std::vector<std::string>{});
    auto& dm = WrenDataManager::sharedInstance();
    dm.reset();
    dm.setCoreDataFolder(prefix_ + name);
    folders_.insert(dm.applicationSupportDirectory());
    defaults.setString("kesto-" + name, Synchronizer::kKestoIDKey);
    fnd::Array list;
    for (const auto& s : tombstones_[name]) list.emplace_back(s);
    defaults.setObject(fnd::Value(std::move(list)), SyncTombstones::kDefaultsKey);
    current_ = name;
    return dm.managedObjectContext();
  }

  const std::string& current() const { return current_; }

  // Makes library `to` a copy of library `from`'s folder, as when the folder is copied to another
  // computer: the same store (identifier included), settings of its own. The store in use is
  // closed first, so the copy is whole; `use` opens the next.
  void copyFolder(const std::string& from, const std::string& to) {
    auto& dm = WrenDataManager::sharedInstance();
    if (!current_.empty())
      tombstones_[current_] = fnd::UserDefaults::standard()
                                  .stringArrayForKey(SyncTombstones::kDefaultsKey)
                                  .value_or(std::vector<std::string>{});
    dm.reset();
    dm.setCoreDataFolder(prefix_ + from);
    const std::string source = dm.applicationSupportDirectory();
    dm.setCoreDataFolder(prefix_ + to);
    const std::string target = dm.applicationSupportDirectory();
    folders_.insert(target);
    std::filesystem::copy(source, target, std::filesystem::copy_options::recursive);
    tombstones_.erase(to);
    current_.clear();
  }

  // Closes the store and removes every library's files; the process's own store comes back.
  void close() {
    auto& dm = WrenDataManager::sharedInstance();
    dm.reset();
    for (const auto& folder : folders_) fnd::FileManager::removeItem(folder);
    folders_.clear();
    dm.setCoreDataFolder("kesto");
    fnd::UserDefaults::standard().removeObject(SyncTombstones::kDefaultsKey);
    current_.clear();
  }

 private:
  static int nextSerial() {
    static std::atomic<int> serial{0};
    return serial++;
  }
  std::string prefix_, current_;
  std::set<std::string> folders_;
  std::map<std::string, std::vector<std::string>> tombstones_;
};

// The shared sync file kept in memory: a load answers at once with the last upload (or the
// empty-library marker) and an upload is confirmed at once, so a run costs no waiting.
class MemorySyncFolder {
 public:
  static constexpr const char* kMethod = "memory";

  void install(Synchronizer& engine) {
    auto payload = payload_;
    engine.registerSource(kMethod, "[Memory]", [payload] { return std::make_unique<Source>(payload); });
    fnd::UserDefaults::standard().setString(kMethod, Synchronizer::kCurrentSyncMethodKey);
  }

 private:
  struct Source : SyncDataSource {
    explicit Source(std::shared_ptr<std::string> p) : payload(std::move(p)) {}
    void load() override { delegate_->retrievedXML(payload->empty() ? std::string(kEmptyLibraryMarker) : *payload); }
    void send(const std::string& xml) override {
      *payload = xml;
      delegate_->sentSyncData(true);
    }
    std::shared_ptr<std::string> payload;
  };
  std::shared_ptr<std::string> payload_ = std::make_shared<std::string>();
};

// Edits as the application makes them, in the library in use.
namespace userEdits {

// The version goes up, and an edit of content dates it.
inline void touch(Bookmark& b) {
  b.setVersion(b.version() + 1);
  b.setUpdatedDate(fnd::Date::now());
}

// Deleted for good, with its tombstone.
inline void deleteBookmark(Bookmark& b) {
  SyncTombstones::record(b.uniqueIDValue().value_or(""), b.version(), "b");
  b.deleteBookmark();
}

// The folder and its subfolders deleted as the folder list deletes them: one tombstone per
// folder, their bookmarks trashed into the Inbox. Answers the identifiers of the folders.
inline std::vector<std::string> deleteFolder(const Folder::Ref& top) {
  auto doomed = top->subFolders();
  doomed.insert(doomed.begin(), top);
  std::vector<SyncTombstone> tombstones;
  std::vector<std::string> ids;
  auto inbox = Folder::inboxFolder();
  for (const auto& f : doomed) {
    tombstones.push_back({f->folderID(), f->version(), "f"});
    ids.push_back(f->folderID());
    for (auto& object : f->toMany(folder_rel::bookmarks)) {
      auto b = std::dynamic_pointer_cast<Bookmark>(object);
      if (!b) continue;
      b->setTrashed(1);
      b->setFolder(inbox);
      touch(*b);
    }
  }
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) (*it)->deleteEntity();
  SyncTombstones::add(tombstones);
  return ids;
}

// The bookmarks of the library in use, by identifier.
inline Bookmark::List bookmarks() {
  auto all = Bookmark::fetchEntities().value_or(Bookmark::List{});
  std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a->uniqueIDValue() < b->uniqueIDValue(); });
  return all;
}

// Every record of the library in use in one comparable form: "bookmark <id>" and "folder <id>"
// with the version first ("v3 ...").
inline std::map<std::string, std::string> records() {
  std::map<std::string, std::string> out;
  for (const auto& b : bookmarks()) {
    std::vector<std::string> tags;
    for (const auto& t : b->tags()) tags.push_back(t->name());
    std::sort(tags.begin(), tags.end());
    std::ostringstream s;
    s << "v" << b->version() << " title=" << b->title().value_or("")
      << " folder=" << (b->folder() ? b->folder()->folderID() : "-") << " trashed=" << b->trashed() << " tags=";
    for (const auto& t : tags) s << t << ",";
    out["bookmark " + b->uniqueIDValue().value_or("")] = s.str();
  }
  for (const auto& f : Folder::fetchEntities().value_or(Folder::List{}))
    out["folder " + f->folderID()] =
        "v" + std::to_string(f->version()) + " name=" + f->name() + " parent=" + f->parentFolderID();
  return out;
}

}  // namespace userEdits

// What one seeded run found at its end.
struct ConvergenceReport {
  // Two libraries hold different records (identifiers, versions, titles, folders, tags, trash,
  // folder names and parents).
  bool diverged = false;
  // Folders a user deleted (with their subfolders) that some library holds at the end.
  int resurrectedFolders = 0;
  // Bookmarks deleted for good that some library holds at a version no higher than the deletion's.
  int resurrectedBookmarks = 0;
  // Bookmarks nobody deleted for good that some library lacks.
  int lost = 0;
  int syncs = 0;
  // The crossed move-and-delete of each kind made (see ConvergenceRun::crossMoveAndDelete), and
  // how many of the folders each deleted some library holds at the end.
  int crossings[2] = {0, 0};
  int crossedFoldersBack[2] = {0, 0};
  // The first difference found, for a failure message.
  std::string detail;

  bool holds() const { return !diverged && resurrectedFolders == 0 && resurrectedBookmarks == 0 && lost == 0; }
};

// One seeded run: libraries A, B and C start from A's library; each round every library makes a
// few random edits (bookmarks: add, retitle, move, tag, untag, delete; folders: add, rename,
// move, move into another folder that is then deleted, delete; half the folder edits on the
// folder with the smallest identifier, so that libraries edit the same folder at equal
// versions), then a random subset syncs in random order (the others are offline that
// round). One round in five opens with two libraries crossing a move and a deletion (see
// crossMoveAndDelete). At the end every library syncs twice, in turn, and the libraries are
// compared. The clock is virtual: each edit moves it on by up to 0.4 s, so edits on two
// libraries often fall in the same second.
class ConvergenceRun {
 public:
  // Runs the event loop until the condition holds or the seconds have passed.
  using Pump = std::function<bool(const std::function<bool()>&, double)>;

  // `crossing` 1 or 2: that crossing is made before the first round, whatever the seed.
  ConvergenceRun(unsigned seed, Pump pump, int rounds = 20, int crossing = 0)
      : rng_(seed), pump_(std::move(pump)), rounds_(rounds), forcedCrossing_(crossing) {}

  ConvergenceReport run() {
    fnd::setClock([this] { return fnd::Date::withTimeIntervalSince1970(now_.load()); });
    Synchronizer engine;
    folder_.install(engine);
    bool ended = false, succeeded = false;
    fnd::NotificationCenter::defaultCenter().addObserver(
        this,
        [&](const fnd::Notification& n) {
          ended = true;
          succeeded = n.userInfo.at("success").boolValue();
        },
        Synchronizer::kSyncEndedNotification);
    sync_ = [&](const std::string& library) {
      libraries_.use(library);
      ended = false;
      engine.syncFromButton();
      ++report_.syncs;
      if (!pump_([&] { return ended; }, 30) || !succeeded) fail("the sync of " + library + " failed");
    };

    seed();
    const std::vector<std::string> names{"A", "B", "C"};
    if (forcedCrossing_) crossMoveAndDelete(forcedCrossing_, "A", "B");
    for (int round = 0; round < rounds_ && report_.detail.empty(); ++round) {
      if (pick(5) == 0) {
        auto pair = names;
        std::shuffle(pair.begin(), pair.end(), rng_);
        crossMoveAndDelete(1 + pick(2), pair[0], pair[1]);
      }
      for (const auto& name : names) {
        libraries_.use(name);
        const int edits = 1 + pick(3);
        for (int i = 0; i < edits; ++i) edit(name);
      }
      auto order = names;
      std::shuffle(order.begin(), order.end(), rng_);
      for (const auto& name : order)
        if (pick(3) != 0) sync_(name);
    }
    for (int pass = 0; pass < 2; ++pass)
      for (const auto& name : names) sync_(name);
    if (report_.detail.empty()) compare(names);

    fnd::NotificationCenter::defaultCenter().removeObserver(this);
    sync_ = nullptr;  // it refers to this call's engine
    libraries_.close();
    fnd::setClock({});
    return report_;
  }

 private:
  static constexpr const char* kTags[] = {"red", "blue", "green", "work"};

  int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  template <typename T>
  const T& oneOf(const std::vector<T>& v) {
    return v[static_cast<std::size_t>(pick(static_cast<int>(v.size())))];
  }
  void tick() { now_.store(now_.load() + 0.001 * (1 + pick(400))); }
  std::string fresh(const std::string& kind, const std::string& library) {
    return kind + "-" + library + "-" + std::to_string(++serial_);
  }
  void fail(const std::string& why) {
    if (report_.detail.empty()) report_.detail = why;
    report_.diverged = true;
  }
  static void save() { WrenEntity::saveContext(); }

  // The user's folders (not the Inbox or Imported), by identifier, so picks do not depend on
  // the store's order.
  static Folder::List userFolders() {
    auto all = Folder::fetchEntities().value_or(Folder::List{});
    std::erase_if(all, [](const Folder::Ref& f) {
      return f->folderID() == Folder::kInboxID || f->folderID() == Folder::kImportedID;
    });
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a->folderID() < b->folderID(); });
    return all;
  }
  static Bookmark::List bookmarks() { return userEdits::bookmarks(); }
  Folder::Ref someFolderOrInbox() {
    auto folders = userFolders();
    if (folders.empty() || pick(4) == 0) return Folder::inboxFolder();
    return oneOf(folders);
  }

  static void touch(Bookmark& b) { userEdits::touch(b); }

  void addBookmark(const std::string& library) {
    auto b = Bookmark::newBookmark();
    const auto id = fresh("B", library);
    b->setUniqueID(id);
    b->setUrl("http://" + id + ".example/");
    b->setTitle("title " + std::to_string(pick(1000)));
    b->setFolder(someFolderOrInbox());
    b->setTrashed(0);
    b->setAddedDate(fnd::Date::now());
    touch(*b);
    created_.insert(id);
  }

  void editBookmark(Bookmark& b) {
    switch (pick(5)) {
      case 0:
        b.setTitle("title " + std::to_string(pick(1000)));
        touch(b);
        break;
      case 1:
        b.setFolder(someFolderOrInbox());
        b.setTrashed(0);
        touch(b);
        break;
      case 2: {
        const std::string name = kTags[pick(4)];
        auto tag = Tag::fetchEntityWhereProperty("name", name);
        if (!tag) {
          tag = Tag::initEntity();
          tag->setName(name);
        }
        b.addTag(tag);
        touch(b);
        break;
      }
      case 3: {
        auto tags = b.tags();
        if (tags.empty()) return;
        std::sort(tags.begin(), tags.end(), [](const auto& x, const auto& y) { return x->name() < y->name(); });
        b.removeTag(oneOf(tags));
        touch(b);
        break;
      }
      default:
        if (b.trashed() < 1) {
          // To the trash: a new version, no new date.
          b.setTrashed(1);
          b.setVersion(b.version() + 1);
        } else {
          const auto id = b.uniqueIDValue().value_or("");
          deletedBookmarks_[id] = std::max(deletedBookmarks_[id], b.version());
          userEdits::deleteBookmark(b);
        }
    }
  }

  void addFolder(const std::string& library) {
    auto folders = userFolders();
    const auto id = fresh("F", library);
    auto f = Folder::newFolderWithFolderID(id);
    f->setName("folder " + std::to_string(pick(1000)));
    f->setParentFolderID(folders.empty() || pick(2) == 0 ? std::string(Folder::kRootID) : oneOf(folders)->folderID());
    f->setOrderIndex(pick(10));
    f->setVersion(1);
  }

  // Where `f` may be dropped: never into itself or below itself, as the folder list refuses such
  // drops.
  static std::vector<std::string> dropTargets(const Folder::Ref& f) {
    std::vector<std::string> targets{Folder::kRootID};
    for (const auto& t : userFolders()) {
      bool within = t->folderID() == f->folderID();
      for (const auto& a : t->parentFolders()) within = within || a->folderID() == f->folderID();
      if (!within) targets.push_back(t->folderID());
    }
    return targets;
  }

  void editFolder(const Folder::Ref& f) {
    switch (pick(4)) {
      case 0:
        f->setName("folder " + std::to_string(pick(1000)));
        f->setVersion(f->version() + 1);
        break;
      case 1:
        f->setParentFolderID(oneOf(dropTargets(f)));
        f->setVersion(f->version() + 1);
        break;
      case 2: {
        // Moved into another folder, which is then deleted with it: the folder's tombstone
        // carries the moved version, which a peer not yet told of the move may reach too.
        auto targets = dropTargets(f);
        targets.erase(targets.begin());  // not the top of the tree
        if (targets.empty()) {
          deleteFolder(f);
          return;
        }
        auto parent = Folder::folderWithFolderID(oneOf(targets));
        f->setParentFolderID(parent->folderID());
        f->setVersion(f->version() + 1);
        save();
        deleteFolder(parent);
        break;
      }
      default:
        deleteFolder(f);
    }
  }

  std::vector<std::string> deleteFolder(const Folder::Ref& top) {
    auto ids = userEdits::deleteFolder(top);
    for (const auto& id : ids) deletedFolders_.insert(id);
    return ids;
  }

  // Two libraries cross a move and a deletion of the same folder F, as a folder deleted
  // elsewhere must not come back. `mover` moves F into another folder P and deletes P (and F
  // with it) before it syncs. `other`, not told of the move, then
  //   1: moves F elsewhere (another folder or the top), or
  //   2: deletes P too (which holds no F there) and moves F under another folder or the top,
  // and syncs first; `mover` syncs after. Answers whether the libraries held such an F and P.
  bool crossMoveAndDelete(int kind, const std::string& mover, const std::string& other) {
    libraries_.use(mover);
    std::vector<std::pair<std::string, std::string>> pairs;  // F, P
    for (const auto& f : userFolders())
      for (const auto& p : dropTargets(f))
        if (p != Folder::kRootID && f->parentFolderID() != p) pairs.emplace_back(f->folderID(), p);
    if (pairs.empty()) return false;
    const auto chosen = oneOf(pairs);
    const std::string fID = chosen.first, pID = chosen.second;
    libraries_.use(other);
    auto f = Folder::existingFolderWithFolderID(fID);
    auto p = Folder::existingFolderWithFolderID(pID);
    // There F must exist outside P (it has not seen the move), and P too for the second kind.
    if (!f || (kind == 2 && !p)) return false;
    for (const auto& up : f->parentFolders())
      if (up->folderID() == pID) return false;

    libraries_.use(mover);
    tick();
    f = Folder::existingFolderWithFolderID(fID);
    f->setParentFolderID(pID);
    f->setVersion(f->version() + 1);
    save();
    auto& gone = crossed_[kind - 1];
    for (const auto& id : deleteFolder(Folder::existingFolderWithFolderID(pID))) gone.insert(id);
    save();

    libraries_.use(other);
    tick();
    if (kind == 2) deleteFolder(Folder::existingFolderWithFolderID(pID));
    f = Folder::existingFolderWithFolderID(fID);
    // Elsewhere: neither where it is nor in P or below it.
    auto targets = dropTargets(f);
    std::erase_if(targets, [&](const std::string& t) {
      if (t == pID || t == f->parentFolderID()) return true;
      auto target = Folder::existingFolderWithFolderID(t);
      if (!target) return false;
      for (const auto& up : target->parentFolders())
        if (up->folderID() == pID) return true;
      return false;
    });
    if (kind == 2 && targets.size() > 1) targets.erase(targets.begin());  // under a folder, not the top
    if (targets.empty()) targets.push_back(Folder::kRootID);
    f->setParentFolderID(oneOf(targets));
    f->setVersion(f->version() + 1);
    save();
    ++report_.crossings[kind - 1];
    sync_(other);
    sync_(mover);
    return true;
  }

  void edit(const std::string& library) {
    tick();
    const int what = pick(10);
    auto all = bookmarks();
    auto folders = userFolders();
    if (what < 2 || all.empty())
      addBookmark(library);
    else if (what < 7)
      editBookmark(*oneOf(all));
    else if (what == 7 || folders.empty())
      addFolder(library);
    else if (what == 8)
      editFolder(oneOf(folders));
    else
      // The same folder on every library, so renames and moves meet at equal versions.
      editFolder(folders.front());
    save();
  }

  // A's library: a small tree with bookmarks, synced to B and C.
  void seed() {
    now_.store(1700000000.25);
    libraries_.use("A");
    std::vector<Folder::Ref> folders;
    for (int i = 0; i < 4; ++i) {
      auto f = Folder::newFolderWithFolderID(fresh("F", "A"));
      f->setName("folder " + std::to_string(i));
      f->setParentFolderID(i < 2 ? std::string(Folder::kRootID) : folders[static_cast<std::size_t>(i - 2)]->folderID());
      f->setVersion(1);
      folders.push_back(f);
    }
    save();
    for (int i = 0; i < 8; ++i) addBookmark("A");
    save();
    for (const char* name : {"A", "B", "C"}) sync_(name);
  }

  static std::map<std::string, std::string> records() { return userEdits::records(); }

  void compare(const std::vector<std::string>& names) {
    std::map<std::string, std::map<std::string, std::string>> held;
    for (const auto& name : names) {
      libraries_.use(name);
      held[name] = records();
    }
    const auto& first = held[names.front()];
    for (const auto& name : names) {
      const auto& other = held[name];
      if (other == first) continue;
      report_.diverged = true;
      if (!report_.detail.empty()) continue;
      for (const auto& [key, value] : first) {
        auto it = other.find(key);
        if (it == other.end() || it->second != value) {
          report_.detail = key + ": " + names.front() + " has " + value + ", " + name + " has " +
                           (it == other.end() ? "nothing" : it->second);
          break;
        }
      }
      if (report_.detail.empty())
        for (const auto& [key, value] : other)
          if (!first.count(key)) {
            report_.detail = key + ": only " + name + " has " + value;
            break;
          }
    }
    std::set<std::string> resurrectedFolders, resurrectedBookmarks, lost;
    for (const auto& [name, recs] : held) {
      for (const auto& id : deletedFolders_)
        if (recs.count("folder " + id)) resurrectedFolders.insert(id);
      for (const auto& [id, version] : deletedBookmarks_) {
        auto it = recs.find("bookmark " + id);
        if (it != recs.end() && std::stoll(it->second.substr(1)) <= version) resurrectedBookmarks.insert(id);
      }
      for (const auto& id : created_)
        if (!deletedBookmarks_.count(id) && !recs.count("bookmark " + id)) lost.insert(id);
    }
    report_.resurrectedFolders = static_cast<int>(resurrectedFolders.size());
    for (int kind = 0; kind < 2; ++kind)
      for (const auto& id : crossed_[kind]) report_.crossedFoldersBack[kind] += resurrectedFolders.count(id) ? 1 : 0;
    report_.resurrectedBookmarks = static_cast<int>(resurrectedBookmarks.size());
    report_.lost = static_cast<int>(lost.size());
  }

  std::mt19937 rng_;
  Pump pump_;
  int rounds_;
  std::atomic<double> now_{0};
  int serial_ = 0;
  SyncLibraries libraries_;
  MemorySyncFolder folder_;
  std::function<void(const std::string&)> sync_;
  int forcedCrossing_ = 0;
  std::set<std::string> created_, deletedFolders_;
  // The folders each kind of crossing deleted.
  std::set<std::string> crossed_[2];
  std::map<std::string, std::int64_t> deletedBookmarks_;
  ConvergenceReport report_;
};

}  // namespace kesto::test
