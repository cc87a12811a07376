#include "Model/Folder.h"

#include "Model/Bookmark.h"
#include "Model/DataModel.h"
#include "Model/FolderDummy.h"
#include "Model/StoredText.h"

#include "Platform/Store/Context.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

namespace fa = folder_attr;

namespace {

// Parent chains longer than this are treated as broken.
constexpr int kMaxDepth = 1000;

bool isPseudoFolderID(const std::string& id) {
  return id == Folder::kRootID || id == Folder::kHomeID || id == Folder::kLibraryID;
}

constexpr const char* kUntitled = "Untitled";

// The fixed place and name of the two special folders; false for any other folder.
bool isSpecial(const std::string& id, const char** name) {
  if (id == Folder::kInboxID) return *name = "Inbox", true;
  if (id == Folder::kImportedID) return *name = "Imported", true;
  return false;
}

// Puts a special folder back at the top under its name, and gives a folder without a parent or
// a name one. Answers whether anything changed.
bool placeFolder(Folder& folder) {
  const char* specialName = nullptr;
  bool changed = false;
  if (isSpecial(folder.folderID(), &specialName)) {
    if (folder.parentFolderID() != Folder::kRootID) folder.setParentFolderID(Folder::kRootID), changed = true;
    if (folder.name() != specialName) folder.setName(specialName), changed = true;
    return changed;
  }
  if (!folder.value(fa::parentFolderID).isString() || folder.parentFolderID().empty())
    folder.setParentFolderID(Folder::kImportedID), changed = true;
  const std::string name = folder.value(fa::name).isString() ? folder.name() : std::string();
  if (name.find_first_not_of(" \t\r\n") == std::string::npos) folder.setName(kUntitled), changed = true;
  return changed;
}

Folder::List sortedByIndex(Folder::List list) {
  std::stable_sort(list.begin(), list.end(), [](const Folder::Ref& x, const Folder::Ref& y) {
    return x->orderIndex() < y->orderIndex();
  });
  return list;
}

}  // namespace

std::string Folder::folderID() const { return value(fa::folderID).string(); }
void Folder::setFolderID(const std::string& v) { setValue(fa::folderID, v); }
std::string Folder::parentFolderID() const { return value(fa::parentFolderID).string(); }
void Folder::setParentFolderID(const std::string& v) { setValue(fa::parentFolderID, v); }
std::string Folder::name() const { return value(fa::name).string(); }
void Folder::setName(const std::string& v) { setValue(fa::name, stored::title(v)); }
std::int64_t Folder::orderIndex() const { return value(fa::orderIndex).intValue(); }
void Folder::setOrderIndex(std::int64_t v) { setValue(fa::orderIndex, v); }
std::int64_t Folder::version() const { return value(fa::version).intValue(); }
void Folder::setVersion(std::int64_t v) { setValue(fa::version, v); }
std::int64_t Folder::isExpanded() const { return value(fa::isExpanded).intValue(); }
void Folder::setIsExpanded(std::int64_t v) { setValue(fa::isExpanded, v); }
bool Folder::isSmart() const { return value(fa::isSmart).intValue() > 0; }
void Folder::setIsSmart(bool v) { setValue(fa::isSmart, v); }
std::optional<std::string> Folder::predicate() const { return value(fa::predicate).stringIfString(); }
void Folder::setPredicate(const std::optional<std::string>& v) { setValue(fa::predicate, v ? fnd::Value(*v) : fnd::Value()); }
std::optional<std::string> Folder::color() const { return value(fa::color).stringIfString(); }
void Folder::setColor(const std::optional<std::string>& v) { setValue(fa::color, v ? fnd::Value(*v) : fnd::Value()); }
std::int64_t Folder::blocked() const { return value(fa::blocked).intValue(); }
void Folder::setBlocked(std::int64_t v) { setValue(fa::blocked, v); }

Folder::Ref Folder::initEntity() {
  auto folder = initEntityInContext(nullptr);
  if (!folder) return nullptr;
  folder->setFolderID(uniqueID());
  folder->setParentFolderID(kRootID);
  folder->setOrderIndex(folder->lastOrderIndex() + 1);
  return folder;
}

Folder::Ref Folder::copy() const {
  auto c = initNonEnitity();
  if (!c) return nullptr;
  c->setFolderID(folderID());
  c->setParentFolderID(parentFolderID());
  c->setOrderIndex(orderIndex());
  c->setIsExpanded(isExpanded());
  c->setVersion(version());
  return c;
}

Folder::Ref Folder::existingFolderWithFolderID(const std::string& folderID, const ContextRef& context) {
  if (isPseudoFolderID(folderID)) return nullptr;
  return fetchEntityWhereProperty("folderID", folderID, context);
}

Folder::Ref Folder::folderWithFolderID(const std::string& folderID, const ContextRef& context) {
  if (isPseudoFolderID(folderID)) return nullptr;
  fnd::Error error;
  auto ctx = context ? context : defaultContext();
  auto found = fetch(entityName(), propertyPredicate("folderID", folderID), nullptr, 1, 0, ctx, &error);
  if (!found) {
    // A failed lookup is not "no such folder": making one here would duplicate it.
    logDetailedError("fetch the folder", &error);
    return nullptr;
  }
  if (!found->empty()) return std::dynamic_pointer_cast<Folder>(found->front());
  return newFolderWithFolderID(folderID, ctx);
}

Folder::Ref Folder::newFolderWithFolderID(const std::string& folderID, const ContextRef& context) {
  if (isPseudoFolderID(folderID)) return nullptr;
  auto folder = initEntityInContext(context ? context : defaultContext());
  if (!folder) return nullptr;
  folder->setFolderID(folderID);
  folder->setName(folderID);
  return folder;
}

Folder::Ref Folder::inboxFolder() { return folderWithFolderID(kInboxID); }
Folder::Ref Folder::importedFolder() { return folderWithFolderID(kImportedID); }

void Folder::incrementVersionNumber() {
  const std::string id = folderID();
  if (id == kInboxID || id == kImportedID) return;
  setVersion(version() + 1);
}

bool Folder::saveFolder() {
  incrementVersionNumber();
  return saveContext();
}

std::int64_t Folder::lastOrderIndex() const {
  auto max = fetchEntityWhithMaxValueForKey("orderIndex", propertyPredicate("parentFolderID", value(fa::parentFolderID)),
                                            currentContext());
  return max ? max->orderIndex() : 0;
}

Folder::List Folder::fetchFoldersOrderedByIndex() {
  return fetchEntitiesWithSortDescriptor(store::SortDescriptor("orderIndex", true)).value_or(List{});
}

Folder::List Folder::fetchFoldersOrderedByName() {
  return fetchEntitiesWithSortDescriptor(
             store::SortDescriptor("name", true, store::SortDescriptor::Comparison::CaseInsensitive))
      .value_or(List{});
}

namespace {

Folder::List filtered(const std::string& filter, const store::SortDescriptor& sort) {
  std::vector<store::SortDescriptor> sorts{sort};
  auto matches = Folder::fetchEntitiesWithPredicate(store::Predicate::parse("name contains[cd] %@", {filter}), &sorts)
                     .value_or(Folder::List{});
  Folder::List result;
  std::unordered_set<const Folder*> held;
  auto append = [&](const Folder::Ref& f) {
    if (held.insert(f.get()).second) result.push_back(f);
  };
  for (const auto& match : matches) {
    for (const auto& ancestor : match->parentFolders()) {
      ancestor->setIsExpanded(1);
      append(ancestor);
    }
    auto children = Folder::fetchEntitiesWhereProperty("parentFolderID", match->folderID()).value_or(Folder::List{});
    for (const auto& child : children) append(child);
  }
  for (const auto& match : matches) {
    if (held.count(match.get())) continue;
    match->setIsHighlighted(true);
    append(match);
  }
  return result;
}

}  // namespace

Folder::List Folder::fetchFoldersOrderedByIndexWithFilter(const std::string& filter) {
  return filtered(filter, store::SortDescriptor("orderIndex", true));
}

Folder::List Folder::fetchFoldersOrderedByNameWithFilter(const std::string& filter) {
  return filtered(filter, store::SortDescriptor("name", true, store::SortDescriptor::Comparison::CaseInsensitive));
}

Folder::List Folder::parentFolders() const {
  // One indexed lookup per level; lookups never create, and a missing parent or a cycle ends
  // the walk.
  auto context = currentContext();
  List chain;
  std::unordered_set<std::string> seen{folderID()};
  std::string parent = parentFolderID();
  for (int depth = 0; depth < kMaxDepth && parent != kRootID; ++depth) {
    if (!seen.insert(parent).second) break;
    auto next = existingFolderWithFolderID(parent, context);
    if (!next) break;
    parent = next->parentFolderID();
    chain.push_back(std::move(next));
  }
  std::reverse(chain.begin(), chain.end());
  return chain;
}

std::string Folder::completeFolderPath() const {
  std::string path;
  for (const auto& f : parentFolders()) {
    path += f->name();
    path += '/';
  }
  return path + name();
}

Folder::List Folder::subFolders() const {
  auto all = fetchEntities(currentContext()).value_or(List{});
  std::unordered_map<std::string, List> children;
  for (auto& f : all) children[f->parentFolderID()].push_back(f);
  for (auto& [_, list] : children) list = sortedByIndex(std::move(list));
  List out;
  std::unordered_set<std::string> visited{folderID()};
  // Iterative pre-order walk: deep trees cannot overflow the stack, and cycles end at the
  // first folder seen twice.
  std::vector<std::pair<const List*, std::size_t>> stack;
  if (auto it = children.find(folderID()); it != children.end()) stack.push_back({&it->second, 0});
  while (!stack.empty()) {
    auto& [list, i] = stack.back();
    if (i >= list->size()) {
      stack.pop_back();
      continue;
    }
    const Ref f = (*list)[i++];
    if (!visited.insert(f->folderID()).second) continue;
    out.push_back(f);
    if (auto it = children.find(f->folderID()); it != children.end() && stack.size() < kMaxDepth)
      stack.push_back({&it->second, 0});
  }
  return out;
}

std::int64_t Folder::numberOfSiblings() const {
  return countWithPredicate(store::Predicate::parse("parentFolderID = %@", {value(fa::parentFolderID)}), currentContext());
}

Folder::Ref Folder::importFolder(const FolderDummy& record, bool fromSync, const ContextRef& context) {
  auto ctx = context ? context : defaultContext();
  const std::string id = record.folderID.isString() ? record.folderID.string() : std::string();
  // A record of version 0 or less for a folder not here yet must not leave an empty shell named
  // after its identifier.
  const bool isNew = !id.empty() && !existingFolderWithFolderID(id, ctx);
  auto folder = folderWithFolderID(id, ctx);
  if (!folder) return nullptr;
  folder->takeRecord(record, fromSync, isNew);
  placeFolder(*folder);
  saveContext(ctx);
  return folder;
}

void Folder::takeRecord(const FolderDummy& record, bool fromSync, bool isNew) {
  const std::int64_t incoming = record.version.intValue();
  if (fromSync && !isNew && incoming <= version()) return;
  setValue(fa::name, record.name);
  setValue(fa::folderID, record.folderID);
  setOrderIndex(record.orderIndex.intValue());
  setVersion(incoming);
  setValue(fa::parentFolderID, record.parentFolderID);
  setIsExpanded(record.isExpanded.intValue());
  if (fromSync) setValue(fa::color, record.color);
  setValue(fa::blocked, record.blocked);
}

int Folder::settleFolderTree(const ContextRef& context) {
  auto ctx = context ? context : defaultContext();
  auto all = fetchEntities(ctx).value_or(List{});
  std::unordered_set<std::string> ids;
  bool haveImported = false;
  for (const auto& f : all) {
    ids.insert(f->folderID());
    haveImported = haveImported || f->folderID() == kImportedID;
  }
  int moved = 0;
  for (const auto& f : all) {
    bool changed = placeFolder(*f);
    const std::string parent = f->parentFolderID();
    if (parent != kRootID && !ids.count(parent)) {
      f->setParentFolderID(kImportedID);
      changed = true;
    }
    if (changed) ++moved;
  }
  if (moved && !haveImported)
    if (auto imported = folderWithFolderID(kImportedID, ctx)) placeFolder(*imported);
  return moved;
}

void Folder::cleanRogueFolders() {
  auto rogues = fetchEntitiesWhereProperty("name", std::string()).value_or(List{});
  if (rogues.empty()) return;
  auto inbox = inboxFolder();
  for (const auto& rogue : rogues) {
    for (const auto& child : fetchEntitiesWhereProperty("parentFolderID", rogue->folderID()).value_or(List{}))
      if (child != rogue) child->setParentFolderID(kRootID);
    if (inbox && inbox != rogue)
      for (const auto& b : rogue->toMany(folder_rel::bookmarks)) b->setToOne(bookmark_rel::folder, inbox);
    rogue->deleteEntity();
  }
}

int Folder::breakParentCycles(const std::string& newParent, const ContextRef& context) {
  auto all = fetchEntities(context).value_or(List{});
  // Each folder's parent as a position in `all` (-1 for the top level or a missing parent).
  std::unordered_map<std::string, int> position;
  position.reserve(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) position.emplace(all[i]->folderID(), static_cast<int>(i));
  std::vector<int> parent(all.size(), -1);
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::string p = all[i]->parentFolderID();
    if (p == kRootID) continue;
    if (auto it = position.find(p); it != position.end()) parent[i] = it->second;
  }
  const auto target = position.find(newParent);
  const int targetPosition = target == position.end() ? -1 : target->second;

  // One walk up from every folder not yet seen, each folder visited once: a walk that meets its
  // own path has found a cycle, which is cut at its folder with the smallest identifier, so every
  // library that holds the same folders cuts the same one.
  enum : char { kUnseen, kOnPath, kDone };
  std::vector<char> state(all.size(), kUnseen);
  std::vector<int> path;
  int moved = 0;
  for (std::size_t start = 0; start < all.size(); ++start) {
    if (state[start] != kUnseen) continue;
    path.clear();
    int at = static_cast<int>(start);
    while (at >= 0 && state[static_cast<std::size_t>(at)] == kUnseen) {
      state[static_cast<std::size_t>(at)] = kOnPath;
      path.push_back(at);
      at = parent[static_cast<std::size_t>(at)];
    }
    if (at >= 0 && state[static_cast<std::size_t>(at)] == kOnPath) {
      const auto cycleStart = std::find(path.begin(), path.end(), at);
      const int cut = *std::min_element(cycleStart, path.end(), [&](int x, int y) {
        return all[static_cast<std::size_t>(x)]->folderID() < all[static_cast<std::size_t>(y)]->folderID();
      });
      const bool targetInCycle = std::find(cycleStart, path.end(), targetPosition) != path.end();
      if (targetInCycle) {
        // Moving a folder under a folder of the same cycle would keep it: lift that one instead.
        all[static_cast<std::size_t>(targetPosition)]->setParentFolderID(kRootID);
      } else {
        all[static_cast<std::size_t>(cut)]->setParentFolderID(newParent);
      }
      ++moved;
    }
    for (int p : path) state[static_cast<std::size_t>(p)] = kDone;
  }
  return moved;
}

std::string Folder::imageName() {
  if (blocked() >= 1) return "blocked";
  if (color() == std::optional<std::string>("(null)")) setColor(std::string("grey"));
  auto c = color();
  if (!c) return "folder_grey";
  return "folder_" + *c;
}

}  // namespace kesto
