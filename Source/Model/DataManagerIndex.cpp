#include "Model/DataManagerIndex.h"

#include "Model/Bookmark.h"
#include "Model/DataModel.h"
#include "Model/Folder.h"
#include "Model/Service.h"

#include <algorithm>

namespace kesto {

namespace {

// "trashed < 1 and blocked < 1": a missing flag fails it, as in the predicate.
bool passesLiveTest(const Bookmark& b) {
  const auto& trashed = b.value(bookmark_attr::trashed);
  const auto& blocked = b.value(bookmark_attr::blocked);
  return trashed.isNumber() && blocked.isNumber() && trashed.doubleValue() < 1 && blocked.doubleValue() < 1;
}

}  // namespace

bool DataManagerIndex::accepts(const store::Predicate& p, const BookmarkRef& b) {
  return p.evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(b)));
}

void DataManagerIndex::reset(const BookmarkList& library) {
  slots_.clear();
  folderIDNames_.clear();
  slotOf_.clear();
  members_.clear();
  liveCounts_.clear();
  folderIDs_.clear();
  withoutID_.clear();
  matches_.clear();
  unread_.clear();
  changed_.clear();
  live_ = removed_ = 0;
  ++generation_;
  log_.clear();
  logStart_ = generation_;
  slots_.reserve(library.size());
  slotOf_.reserve(library.size());
  for (const auto& b : library) add(b);
}

std::uint32_t DataManagerIndex::add(const BookmarkRef& bookmark) {
  const auto slot = static_cast<std::uint32_t>(slots_.size());
  slots_.push_back(Slot{bookmark, nullptr, false, false, false});
  slotOf_[bookmark.get()] = slot;
  unread_.push_back(slot);
  for (auto& [p, m] : matches_) m.accepted.push_back(0);
  return slot;
}

void DataManagerIndex::append(const BookmarkList& added) {
  ++generation_;
  remove(added);
  std::unordered_set<const Bookmark*> seen;
  for (const auto& b : added)
    if (b && seen.insert(b.get()).second) {
      add(b);
      log(b.get(), Kind::Bookmark);
    }
}

void DataManagerIndex::remove(const BookmarkList& removed) {
  ++generation_;
  for (const auto& b : removed) {
    auto it = b ? slotOf_.find(b.get()) : slotOf_.end();
    if (it == slotOf_.end()) continue;
    log(b.get(), Kind::Bookmark);
    const std::uint32_t slot = it->second;
    slotOf_.erase(it);
    drop(slot);
    slots_[slot] = Slot{};
    ++removed_;
  }
  compactIfSparse();
}

void DataManagerIndex::changed(const std::shared_ptr<store::ManagedObject>& object) {
  if (!object) return;
  changed_.try_emplace(object.get(), object);
  ++generation_;
  const store::ManagedObject* o = object.get();
  if (auto* b = dynamic_cast<const Bookmark*>(o)) {
    log(b, Kind::Bookmark);
  } else if (auto* f = dynamic_cast<const Folder*>(o)) {
    // A folder gaining or losing bookmarks changes too; only a new identifier moves its lists,
    // and only those of bookmarks read as filed there: a folder no bookmark read is filed in (a
    // new one, as an import makes) moves none, its bookmarks coming as changes of their own.
    auto known = folderIDs_.find(f);
    const auto& id = f->value(folder_attr::folderID);
    const bool moves = known != folderIDs_.end() && !(id.isString() && id.string() == known->second);
    log(o, moves ? Kind::Folder : Kind::Other);
  } else {
    log(o, dynamic_cast<const Service*>(o) ? Kind::Service : Kind::Other);
  }
}

void DataManagerIndex::log(const void* object, Kind kind) {
  // A bounded record: a list computed before it begins is computed afresh. It grows with the
  // library, so a large batch (an import logs each bookmark about twice) is still merged.
  const std::size_t mostLogged = std::max<std::size_t>(1 << 14, slots_.size());
  if (log_.size() >= mostLogged) {
    log_.clear();
    logStart_ = generation_;
  }
  log_.push_back(Logged{generation_, object, kind});
}

std::optional<DataManagerIndex::Changes> DataManagerIndex::changesSince(std::uint64_t generation) const {
  if (generation < logStart_ || generation > generation_) return std::nullopt;
  Changes changes;
  for (auto it = log_.rbegin(); it != log_.rend() && it->generation > generation; ++it) {
    switch (it->kind) {
      case Kind::Bookmark: changes.bookmarks.insert(static_cast<const Bookmark*>(it->object)); break;
      case Kind::Other: changes.others = true; break;
      default: return std::nullopt;
    }
  }
  return changes;
}

const DataManagerIndex::Slot* DataManagerIndex::slotFor(const Bookmark* bookmark) {
  settle();
  auto it = slotOf_.find(bookmark);
  return it == slotOf_.end() ? nullptr : &slots_[it->second];
}

DataManagerIndex::BookmarkRef DataManagerIndex::held(const Bookmark* bookmark) {
  const Slot* s = slotFor(bookmark);
  return s ? s->bookmark : nullptr;
}

std::uint32_t DataManagerIndex::orderOf(const Bookmark* bookmark) const {
  auto it = slotOf_.find(bookmark);
  return it == slotOf_.end() ? UINT32_MAX : it->second;
}

bool DataManagerIndex::isLive(const Bookmark* bookmark) {
  const Slot* s = slotFor(bookmark);
  return s && s->live;
}

const std::string* DataManagerIndex::folderIDOf(const Bookmark* bookmark) {
  const Slot* s = slotFor(bookmark);
  return s && s->inFolder ? s->folderID : nullptr;
}

bool DataManagerIndex::accepted(const store::PredicateRef& predicate, const Bookmark* bookmark) {
  if (!predicate) return false;
  const Matches& m = matchesFor(predicate);
  auto it = slotOf_.find(bookmark);
  return it != slotOf_.end() && m.accepted[it->second];
}

// Takes a slot's bookmark out of the folder lists, the counts and the predicates' answers.
void DataManagerIndex::drop(std::uint32_t slot) {
  Slot& s = slots_[slot];
  if (!s.read) return;
  if (s.inFolder) {
    auto it = members_.find(*s.folderID);
    if (it != members_.end()) {
      it->second.erase(slot);
      if (it->second.empty()) members_.erase(it);
    }
    if (s.live && --liveCounts_[*s.folderID] == 0) liveCounts_.erase(*s.folderID);
  }
  if (s.live) --live_;
  withoutID_.erase(slot);
  for (auto& [p, m] : matches_)
    if (m.accepted[slot]) m.accepted[slot] = 0, --m.count;
  s.read = s.inFolder = s.live = false;
}

void DataManagerIndex::read(std::uint32_t slot) {
  drop(slot);
  Slot& s = slots_[slot];
  if (!s.bookmark) return;
  const Bookmark& b = *s.bookmark;
  s.read = true;
  s.live = passesLiveTest(b);
  s.folderID = nullptr;
  if (auto folder = b.toOne(bookmark_rel::folder)) {
    const auto& id = folder->value(folder_attr::folderID);
    auto [known, made] = folderIDs_.try_emplace(static_cast<const Folder*>(folder.get()));
    if (id.isString()) {
      s.inFolder = true;
      s.folderID = folderIDName(id.string());
      if (made || known->second != *s.folderID) known->second = *s.folderID;
    } else {
      // Filed in a folder that has no identifier yet: read again when any folder changes.
      known->second.clear();
      withoutID_.insert(slot);
    }
  }
  if (s.inFolder) {
    members_[*s.folderID].insert(slot);
    if (s.live) ++liveCounts_[*s.folderID];
  }
  if (s.live) ++live_;
  for (auto& [p, m] : matches_)
    if (accepts(*m.predicate, s.bookmark)) m.accepted[slot] = 1, ++m.count;
}

void DataManagerIndex::settle() {
  takeChanged();
  for (auto slot : unread_) read(slot);
  unread_.clear();
}

void DataManagerIndex::takeChanged() {
  // Asked at every question: clearing a large, empty table would cost its whole bucket array.
  if (changed_.empty()) return;
  // The service lists test the service's name: a service changes rarely, so everything is read
  // again.
  if (std::any_of(changed_.begin(), changed_.end(),
                  [](const auto& entry) { return dynamic_cast<const Service*>(entry.second.get()) != nullptr; })) {
    changed_.clear();
    unread_.clear();
    for (std::uint32_t i = 0; i < slots_.size(); ++i)
      if (slots_[i].bookmark) unread_.push_back(i);
  }
  for (const auto& [key, ref] : changed_) {
    const store::ManagedObject* object = ref.get();
    if (auto* b = dynamic_cast<const Bookmark*>(object)) {
      if (auto it = slotOf_.find(b); it != slotOf_.end()) unread_.push_back(it->second);
    } else if (auto* f = dynamic_cast<const Folder*>(object)) {
      unread_.insert(unread_.end(), withoutID_.begin(), withoutID_.end());
      // A folder's new identifier moves its bookmarks; a deleted folder's bookmarks come
      // through their own change.
      auto known = folderIDs_.find(f);
      if (known == folderIDs_.end()) continue;
      const auto& now = f->value(folder_attr::folderID);
      if (now.isString() && now.string() == known->second) continue;
      if (auto it = members_.find(known->second); it != members_.end())
        unread_.insert(unread_.end(), it->second.begin(), it->second.end());
      folderIDs_.erase(known);
    }
  }
  changed_.clear();
}

bool DataManagerIndex::readSome(std::size_t most) {
  // What changed joins what is left to read, so a large change is read a part at a time too.
  takeChanged();
  if (unread_.size() <= most) {
    settle();
    return true;
  }
  for (; most > 0; --most) {
    read(unread_.back());
    unread_.pop_back();
  }
  return false;
}

DataManagerIndex::BookmarkList DataManagerIndex::inOrder(std::vector<std::uint32_t> slots) const {
  std::sort(slots.begin(), slots.end());
  BookmarkList out;
  out.reserve(slots.size());
  for (auto slot : slots) out.push_back(slots_[slot].bookmark);
  return out;
}

DataManagerIndex::BookmarkList DataManagerIndex::inFolder(const std::string& folderID, Members which) {
  settle();
  auto it = members_.find(folderID);
  if (it == members_.end()) return {};
  std::vector<std::uint32_t> slots;
  slots.reserve(it->second.size());
  for (auto slot : it->second)
    if (which == Members::All || slots_[slot].live) slots.push_back(slot);
  return inOrder(std::move(slots));
}

DataManagerIndex::BookmarkList DataManagerIndex::liveInFolders(const std::unordered_set<std::string>& folderIDs) {
  settle();
  std::vector<std::uint32_t> slots;
  for (const auto& id : folderIDs)
    if (auto it = members_.find(id); it != members_.end())
      for (auto slot : it->second)
        if (slots_[slot].live) slots.push_back(slot);
  return inOrder(std::move(slots));
}

const std::unordered_map<std::string, std::int32_t>& DataManagerIndex::liveCounts() {
  settle();
  return liveCounts_;
}

std::size_t DataManagerIndex::liveCount() {
  settle();
  return live_;
}

DataManagerIndex::BookmarkList DataManagerIndex::live() {
  settle();
  BookmarkList out;
  out.reserve(live_);
  for (const auto& s : slots_)
    if (s.live) out.push_back(s.bookmark);
  return out;
}

DataManagerIndex::BookmarkList DataManagerIndex::liveAmong(const std::unordered_set<const Bookmark*>& candidates) {
  settle();
  std::vector<std::uint32_t> slots;
  for (const auto* b : candidates)
    if (auto it = slotOf_.find(b); it != slotOf_.end() && slots_[it->second].live) slots.push_back(it->second);
  return inOrder(std::move(slots));
}

DataManagerIndex::Matches& DataManagerIndex::matchesFor(const store::PredicateRef& predicate) {
  settle();
  auto [it, made] = matches_.try_emplace(predicate.get());
  Matches& m = it->second;
  if (made) {
    // One test of every bookmark, then only of those that change.
    m.predicate = predicate;
    m.accepted.assign(slots_.size(), 0);
    for (std::uint32_t i = 0; i < slots_.size(); ++i)
      if (slots_[i].bookmark && accepts(*predicate, slots_[i].bookmark)) m.accepted[i] = 1, ++m.count;
  }
  return m;
}

DataManagerIndex::BookmarkList DataManagerIndex::matching(const store::PredicateRef& predicate, std::size_t limit) {
  BookmarkList out;
  if (!predicate) return out;
  const Matches& m = matchesFor(predicate);
  out.reserve(std::min(limit, m.count));
  for (std::uint32_t i = 0; i < slots_.size() && out.size() < limit; ++i)
    if (m.accepted[i]) out.push_back(slots_[i].bookmark);
  return out;
}

std::size_t DataManagerIndex::countMatching(const store::PredicateRef& predicate) {
  return predicate ? matchesFor(predicate).count : 0;
}

// Removed bookmarks leave holes in the order; when they are most of it the slots are renumbered.
void DataManagerIndex::compactIfSparse() {
  if (removed_ < 1024 || removed_ * 2 < slots_.size()) return;
  BookmarkList kept;
  kept.reserve(slots_.size() - removed_);
  for (const auto& s : slots_)
    if (s.bookmark) kept.push_back(s.bookmark);
  reset(kept);
}

}  // namespace kesto
