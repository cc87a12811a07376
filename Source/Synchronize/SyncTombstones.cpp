#include "Synchronize/SyncTombstones.h"

#include "Platform/Foundation/UserDefaults.h"

#include <cmath>
#include <mutex>

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
  for (const auto& t : tombstones) {
    if (t.objectID.empty()) continue;
    bool found = false;
    for (auto& e : list)
      if (e.tombstone.objectID == t.objectID && e.tombstone.type == t.type) {
        e.tombstone.version = std::max(e.tombstone.version, t.version);
        found = true;
        break;
      }
    if (!found) list.push_back({t, fnd::Date::now()});
  }
  storeLocked(list);
}

void SyncTombstones::record(const std::string& objectID, std::int64_t version, const std::string& type) {
  add({SyncTombstone{objectID, version, type}});
}

void SyncTombstones::confirmUploaded(const std::vector<SyncTombstone>& uploaded) {
  if (uploaded.empty()) return;
  std::lock_guard lock(listMutex());
  auto list = loadLocked();
  const auto now = fnd::Date::now();
  std::vector<Entry> kept;
  for (auto& e : list) {
    bool sent = false;
    for (const auto& u : uploaded)
      if (u.objectID == e.tombstone.objectID && u.type == e.tombstone.type && u.version >= e.tombstone.version) {
        sent = true;
        break;
      }
    const bool expired = now.timeIntervalSinceDate(e.firstSeen) >= kLifetimeSeconds;
    if (!(sent && expired)) kept.push_back(std::move(e));
  }
  storeLocked(kept);
}

}  // namespace kesto
