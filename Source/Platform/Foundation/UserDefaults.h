#pragma once

#include "Platform/Foundation/FoundationNotifications.h"
#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

inline constexpr const char* kUserDefaultsChangedKey = "key";

// The user's settings: one XML property list, $XDG_CONFIG_HOME/kesto/defaults.plist (mode 0600),
// written atomically on synchronize() and about a second after a change. Values registered
// with registerDefaults() are fallbacks that are never written. An absent key is distinct
// from NO or 0: objectForKey() answers null for it. Thread-safe.
class UserDefaults {
 public:
  // The shared instance, loaded from the standard file on first use.
  static UserDefaults& standard();

  // An instance on its own file (tests, tools).
  explicit UserDefaults(std::string filePath);
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // The stored value, else the registered one, else null.
  Value objectForKey(std::string_view key) const;
  // Whether the key has a stored or registered value.
  bool hasValueForKey(std::string_view key) const { return !objectForKey(key).isNull(); }

  // Typed getters in the platform's manner: numbers and numeric strings convert ("YES"/"yes"/
  // "true" are true for bools); anything else gives NO, 0, "" or an empty container.
  bool boolForKey(std::string_view key) const;
  std::int64_t integerForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  // Strings as stored, numbers as their text; absent for anything else.
  std::optional<std::string> stringForKey(std::string_view key) const;
  std::optional<Array> arrayForKey(std::string_view key) const;
  // The array when every element is a string.
  std::optional<std::vector<std::string>> stringArrayForKey(std::string_view key) const;
  std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
  std::optional<Data> dataForKey(std::string_view key) const;

  // Stores a value; a null value removes the key. Values a property list cannot carry
  // (objects, nulls inside containers) and the empty key are refused and logged; the old
  // value stays.
  void setObject(const Value& value, std::string_view key);
  void setBool(bool value, std::string_view key) { setObject(Value(value), key); }
  void setInteger(std::int64_t value, std::string_view key) { setObject(Value(value), key); }
  void setDouble(double value, std::string_view key) { setObject(Value(value), key); }
  void setString(std::string_view value, std::string_view key) { setObject(Value(value), key); }
  void removeObject(std::string_view key);

  // Fallback values for keys with no stored value. Registering again merges, later wins.
  void registerDefaults(const Dictionary& defaults);

  // Stored values merged over registered ones.
  Dictionary dictionaryRepresentation() const;
  // Stored values only.
  Dictionary persistentValues() const;

  // Writes pending changes now. False when the file could not be written.
  bool synchronize();
  // Drops unsaved changes and reads the file again (tests; files changed by another process).
  void reloadFromDisk();

  const std::string& filePath() const;
  // $XDG_CONFIG_HOME/kesto/defaults.plist.
  static std::string standardFilePath();
  // Delay between a change and its automatic write.
  static constexpr double kAutosaveDelaySeconds = 1.0;
  // A settings file larger than this is not read.
  static constexpr std::size_t kMaxFileBytes = 16u * 1024 * 1024;

 private:
  friend struct TestAccess;
  // Drops every stored, registered and pending value and reads `filePath` instead (the test
  // harness gives each test a home of its own).
  void reopen(std::string filePath);

  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::fnd
