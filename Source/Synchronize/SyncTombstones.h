#pragma once

#include "Synchronize/SyncFile.h"

#include "Platform/Foundation/Date.h"

#include <string>
#include <vector>

namespace kesto {

// The tombstone list kept in the user default "KestoDeletedObjects": one string per deleted
// object, "identifier|version|type", with the date it was first seen appended as a fourth field
// (seconds since 1970; older three-field entries count as seen now). A tombstone travels in
// every sync file this library writes until it is both uploaded and 90 days old, so a peer that
// misses a generation still learns of the deletion. Thread-safe through the user defaults.
class SyncTombstones {
 public:
  static constexpr const char* kDefaultsKey = "KestoDeletedObjects";
  static constexpr double kLifetimeSeconds = 90.0 * 24 * 3600;

  struct Entry {
    SyncTombstone tombstone;
    fnd::Date firstSeen;
  };

  static std::vector<Entry> entries();
  static std::vector<SyncTombstone> tombstones();
  // Adds tombstones (a local deletion, or those a peer sent). An entry for the same object and
  // type keeps the higher version and its first-seen date.
  static void add(const std::vector<SyncTombstone>& tombstones);
  static void record(const std::string& objectID, std::int64_t version, const std::string& type);
  // Takes back tombstones of deletions that were undone (same object, type and version).
  static void remove(const std::vector<SyncTombstone>& tombstones);
  // Takes back the tombstone of an object and type (an undone deletion); answers whether one was
  // there.
  static bool withdraw(const std::string& objectID, const std::string& type);
  // `into` followed by those of `more` it lacks; an object and type in both keeps the higher
  // version. Linear in both lists.
  static std::vector<SyncTombstone> unite(std::vector<SyncTombstone> into, const std::vector<SyncTombstone>& more);
  // After an upload that carried `uploaded` was confirmed: drops those of them older than the
  // lifetime. Entries added meanwhile, and younger ones, stay.
  static void confirmUploaded(const std::vector<SyncTombstone>& uploaded);
  // Splits one stored entry; false for fewer than three fields or an empty identifier.
  static bool parse(const std::string& text, Entry* entry);
};

}  // namespace kesto
