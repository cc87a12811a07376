#include "Model/Folder.h"

#include "Model/Bookmark.h"
#include "Model/DataModel.h"
#include "Model/FolderDummy.h"

#include "Platform/Store/Context.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

namespace a = folder_attr;

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
  if (!folder.value(a::parentFolderID).isString() || folder.parentFolderID().empty())
    folder.setParentFolderID(Folder::kImportedID), changed = true;
  const std::string name = folder.value(a::name).isString() ? folder.name() : std::string();
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

std::string Folder::folderID() const { return value(a::folderID).string(); }
void Folder::setFolderID(const std::string& v) { setValue(a::folderID, v); }
std::string Folder::parentFolderID() const { return value(a::parentFolderID).string(); }
void Folder::setParentFolderID(const std::string& v) { setValue(a::parentFolderID, v); }
std::string Folder::name() const { return value(a::name).string(); }
void Folder::setName(const std::string& v) { setValue(a::name, v); }
std::int64_t Folder::orderIndex() const { return value(a::orderIndex).intValue(); }
void Folder::setOrderIndex(std::int64_t v) { setValue(a::orderIndex, v); }
std::int64_t Folder::version() const { return value(a::version).intValue(); }
void Folder::setVersion(std::int64_t v) { setValue(a::version, v); }
std::int64_t Folder::isExpanded() const { return value(a::isExpanded).intValue(); }
void Folder::setIsExpanded(std::int64_t v) { setValue(a::isExpanded, v); }
bool Folder::isSmart() const { return value(a::isSmart).intValue() > 0; }
void Folder::setIsSmart(bool v) { setValue(a::isSmart, v); }
std::optional<std::string> Folder::predicate() const { return value(a::predicate).stringIfString(); }
void Folder::setPredicate(const std::optional<std::string>& v) { setValue(a::predicate, v ? fnd::Value(*v) : fnd::Value()); }
std::optional<std::string> Folder::color() const { return value(a::color).stringIfString(); }
void Folder::setColor(const std::optional<std::string>& v) { setValue(a::color, v ? fnd::Value(*v) : fnd::Value()); }
std::int64_t Folder::blocked() const { return value(a::blocked).intValue(); }
void Folder::setBlocked(std::int64_t v) { setValue(a::blocked, v); }

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
  auto folder = initEntityInContext(ctx);
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
  auto max = fetchEntityWhithMaxValueForKey("orderIndex", propertyPredicate("parentFolderID", value(a::parentFolderID)),
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
  return countWithPredicate(store::Predicate::parse("parentFolderID = %@", {value(a::parentFolderID)}), currentContext());
}

Folder::Ref Folder::importFolder(const FolderDummy& record, bool fromSync, const ContextRef& context) {
  auto ctx = context ? context : defaultContext();
  const std::string id = record.folderID.isString() ? record.folderID.string() : std::string();
  // A record of version 0 or less for a folder not here yet must not leave an empty shell named
  // after its identifier.
  const bool isNew = !id.empty() && !existingFolderWithFolderID(id, ctx);
  auto folder = folderWithFolderID(id, ctx);
  if (!folder) return nullptr;
  const std::int64_t incoming = record.version.intValue();
  if (!fromSync || isNew || incoming > folder->version()) {
    folder->setValue(a::name, record.name);
    folder->setValue(a::folderID, record.folderID);
    folder->setOrderIndex(record.orderIndex.intValue());
    folder->setVersion(incoming);
    folder->setValue(a::parentFolderID, record.parentFolderID);
    folder->setIsExpanded(record.isExpanded.intValue());
    if (fromSync) folder->setValue(a::color, record.color);
    folder->setValue(a::blocked, record.blocked);
  }
  placeFolder(*folder);
  saveContext(ctx);
  return folder;
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
  std::unordered_map<std::string, Ref> map;
  for (auto& f : all) map.emplace(f->folderID(), f);
  int moved = 0;
  for (auto& f : all) {
    std::unordered_set<std::string> seen{f->folderID()};
    std::string parent = f->parentFolderID();
    while (parent != kRootID) {
      auto it = map.find(parent);
      if (it == map.end()) break;
      if (!seen.insert(parent).second) {
        // The chain loops; when it loops back to this folder, cut it here.
        if (parent == f->folderID()) {
          f->setParentFolderID(newParent);
          ++moved;
        }
        break;
      }
      parent = it->second->parentFolderID();
    }
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
