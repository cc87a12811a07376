#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

class KeyedArchiver;

// An object that can write itself into a keyed archive. Reading back is the class's own
// static constructor from a KeyedUnarchiver, so a reader names the classes it accepts.
class Coding {
 public:
  virtual ~Coding() = default;
  // The name stored with the object and checked when it is read.
  virtual std::string codingClassName() const = 0;
  virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

// Writes objects as nested property-list dictionaries: each object is a dictionary of its keys
// plus "$class". Keys starting with "$" are reserved. The archive is a binary property list.
class KeyedArchiver {
 public:
  KeyedArchiver() = default;

  // Property-list values (string, number, data, date, array, dictionary); null writes nothing.
  // A value the property-list format cannot hold fails the archive.
  void encodeObject(const Value& value, std::string_view key);
  void encodeInt64(std::int64_t value, std::string_view key) { encodeObject(Value(value), key); }
  void encodeBool(bool value, std::string_view key) { encodeObject(Value(value), key); }
  void encodeDouble(double value, std::string_view key) { encodeObject(Value(value), key); }
  // A nested object; null writes nothing.
  void encodeObject(const Coding* object, std::string_view key);
  // An array of nested objects (nulls skipped).
  void encodeObjects(const std::vector<const Coding*>& objects, std::string_view key);
  // Errors keep domain, code and the user-info entries a property list can hold (nested
  // errors included).
  void encodeError(const Error& error, std::string_view key);

  // The dictionary written so far (without "$class").
  const Dictionary& encodedValues() const { return values_; }
  bool failed() const { return failed_; }

  static std::optional<Data> archivedDataWithRootObject(const Coding& root, Error* error = nullptr);

 private:
  Dictionary values_;
  bool failed_ = false;
};

// Reads what KeyedArchiver wrote, securely: every object must be of a class the reader names,
// every value of the type asked for; anything else reads as absent and records the first
// failure in error(). Input is bounded in size and nesting.
class KeyedUnarchiver {
 public:
  static constexpr std::size_t kMaxArchiveBytes = 16u * 1024 * 1024;
  static constexpr long kReadCorruptError = 4864;

  // The archive's root object when its class is one of `allowedClasses`; else null, with the
  // reason in `error`.
  static std::unique_ptr<KeyedUnarchiver> forReadingFromData(const Data& data, const std::set<std::string>& allowedClasses,
                                                            Error* error = nullptr);

  const std::string& className() const { return className_; }
  bool containsValueForKey(std::string_view key) const;

  // The value under `key` when it has `type` (any number type for Integer, Real and Boolean).
  std::optional<Value> decodeObjectOfType(Value::Type type, std::string_view key);
  std::optional<std::string> decodeString(std::string_view key);
  std::int64_t decodeInt64(std::string_view key, std::int64_t fallback = 0);
  bool decodeBool(std::string_view key, bool fallback = false);
  double decodeDouble(std::string_view key, double fallback = 0);
  std::optional<Error> decodeError(std::string_view key);
  // A nested object of one of `allowedClasses`.
  std::unique_ptr<KeyedUnarchiver> decodeObjectOfClasses(std::string_view key, const std::set<std::string>& allowedClasses);

  // An array of nested objects, each of one of `allowedClasses`; absent when any is not.
  std::optional<std::vector<std::unique_ptr<KeyedUnarchiver>>> decodeArrayOfObjectsOfClasses(
      std::string_view key, const std::set<std::string>& allowedClasses);

  // The first failure met while reading (shared with nested readers).
  std::optional<Error> error() const { return *failure_; }
  void failWithError(Error error);

 private:
  KeyedUnarchiver(std::string className, Dictionary values, std::shared_ptr<std::optional<Error>> failure)
      : className_(std::move(className)), values_(std::move(values)), failure_(std::move(failure)) {}
  static std::unique_ptr<KeyedUnarchiver> open(const Value& object, const std::set<std::string>& allowedClasses,
                                               std::shared_ptr<std::optional<Error>> failure, std::string_view key);

  std::string className_;
  Dictionary values_;
  std::shared_ptr<std::optional<Error>> failure_;
};

}  // namespace kesto::fnd
