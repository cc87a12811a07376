#include "Synchronize/SyncTombstones.h"

#include "Platform/Foundation/UserDefaults.h"

#include <cmath>
#include <mutex>
#include <unordered_map>

namespace kesto {

namespace {

std::mutex& listMutex() {
  static std::mutex m;
  return m;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (true) {
    auto hit = text.find(sep, pos);
    out.push_back(text.substr(pos, hit == std::string::npos ? std::string::npos : hit - pos));
    if (hit == std::string::npos) break;
    pos = hit + 1;
  }
  return out;
}

std::int64_t toInt(const std::string& s) {
  try {
    return std::stoll(s);
  } catch (...) {
    return 0;
  }
}

// One key per object and type; the length prefix keeps "a|b"+"c" apart from "a"+"b|c".
std::string keyOf(const SyncTombstone& t) {
  return std::to_string(t.type.size()) + ":" + t.type + t.objectID;
}

std::string format(const SyncTombstones::Entry& e) {
  return e.tombstone.objectID + "|" + std::to_string(e.tombstone.version) + "|" + e.tombstone.type + "|" +
         std::to_string(static_cast<long long>(std::floor(e.firstSeen.timeIntervalSince1970())));
}

std::vector<SyncTombstones::Entry> loadLocked() {
  std::vector<SyncTombstones::Entry> out;
  auto list = fnd::UserDefaults::standard().stringArrayForKey(SyncTombstones::kDefaultsKey);
  if (!list) return out;
  for (const auto& text : *list) {
    SyncTombstones::Entry e;
    if (SyncTombstones::parse(text, &e)) out.push_back(std::move(e));
  }
  return out;
}

void storeLocked(const std::vector<SyncTombstones::Entry>& entries) {
  fnd::Array array;
  for (const auto& e : entries) array.emplace_back(format(e));
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setObject(fnd::Value(std::move(array)), SyncTombstones::kDefaultsKey);
  defaults.synchronize();
}

}  // namespace

bool SyncTombstones::parse(const std::string& text, Entry* entry) {
  auto fields = split(text, '|');
  if (fields.size() < 3 || fields[0].empty()) return false;
  entry->tombstone = {fields[0], toInt(fields[1]), fields[2]};
  entry->firstSeen = fields.size() >= 4 && !fields[3].empty()
                         ? fnd::Date::withTimeIntervalSince1970(static_cast<double>(toInt(fields[3])))
                         : fnd::Date::now();
  return true;
}

std::vector<SyncTombstones::Entry> SyncTombstones::entries() {
  std::lock_guard lock(listMutex());
  return loadLocked();
}

std::vector<SyncTombstone> SyncTombstones::tombstones() {
  std::vector<SyncTombstone> out;
  for (auto& e : entries()) out.push_back(std::move(e.tombstone));
  return out;
}

void SyncTombstones::add(const std::vector<SyncTombstone>& tombstones) {
  if (tombstones.empty()) return;
  std::lock_guard lock(listMutex());
  auto list = loadLocked();
  std::unordered_map<std::string, std::size_t> index;
  index.reserve(list.size() + tombstones.size());
  for (std::size_t i = 0; i < list.size(); ++i) index.emplace(keyOf(list[i].tombstone), i);
  const auto now = fnd::Date::now();
  for (const auto& t : tombstones) {
    if (t.objectID.empty()) continue;
    auto [it, added] = index.emplace(keyOf(t), list.size());
    if (added)
      list.push_back({t, now});
    else
      list[it->second].tombstone.version = std::max(list[it->second].tombstone.version, t.version);
  }
  storeLocked(list);
}

void SyncTombstones::remove(const std::vector<SyncTombstone>& tombstones) {
  if (tombstones.empty()) return;
  std::lock_guard lock(listMutex());
  auto list = loadLocked();
  std::unordered_map<std::string, std::int64_t> gone;
  for (const auto& t : tombstones) gone.emplace(keyOf(t), t.version);
  const auto before = list.size();
  // A later deletion of the same object (a higher version) stays.
  std::erase_if(list, [&](const Entry& e) {
    auto it = gone.find(keyOf(e.tombstone));
    return it != gone.end() && it->second == e.tombstone.version;
  });
  if (list.size() != before) storeLocked(list);
}

std::vector<SyncTombstone> SyncTombstones::unite(std::vector<SyncTombstone> into, const std::vector<SyncTombstone>& more) {
  std::unordered_map<std::string, std::size_t> index;
  index.reserve(into.size() + more.size());
  for (std::size_t i = 0; i < into.size(); ++i) index.emplace(keyOf(into[i]), i);
  for (const auto& t : more) {
    auto [it, added] = index.emplace(keyOf(t), into.size());
    if (added)
      into.push_back(t);
    else
      into[it->second].version = std::max(into[it->second].version, t.version);
  }
  return into;
}

void SyncTombstones::record(const std::string& objectID, std::int64_t version, const std::string& type) {
  add({SyncTombstone{objectID, version, type}});
}

bool SyncTombstones::withdraw(const std::string& objectID, const std::string& type) {
  std::lock_guard lock(listMutex());
  auto list = loadLocked();
  const auto before = list.size();
  std::erase_if(list, [&](const Entry& e) { return e.tombstone.objectID == objectID && e.tombstone.type == type; });
  if (list.size() == before) return false;
  storeLocked(list);
  return true;
}

void SyncTombstones::confirmUploaded(const std::vector<SyncTombstone>& uploaded) {
  if (uploaded.empty()) return;
  std::unordered_map<std::string, std::int64_t> sentVersion;
  sentVersion.reserve(uploaded.size());
  for (const auto& u : uploaded) {
    auto [it, added] = sentVersion.emplace(keyOf(u), u.version);
    if (!added) it->second = std::max(it->second, u.version);
  }
  std::lock_guard lock(listMutex());
  auto list = loadLocked();
  const auto now = fnd::Date::now();
  std::vector<Entry> kept;
  for (auto& e : list) {
    auto it = sentVersion.find(keyOf(e.tombstone));
    const bool sent = it != sentVersion.end() && it->second >= e.tombstone.version;
    const bool expired = now.timeIntervalSinceDate(e.firstSeen) >= kLifetimeSeconds;
    if (!(sent && expired)) kept.push_back(std::move(e));
  }
  storeLocked(kept);
}

}  // namespace kesto
