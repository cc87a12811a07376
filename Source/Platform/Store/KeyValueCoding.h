#pragma once

#include "Platform/Foundation/Value.h"

#include <string_view>

namespace kesto::store {

// Objects whose properties predicates and sort descriptors can read by name. Store objects
// implement it; so can any plain object that should be filtered with a predicate.
class KeyValueCoding {
 public:
  virtual ~KeyValueCoding() = default;
  // The value for `key`, or null for an unknown key. To-one relationships give the object,
  // to-many ones an array of objects.
  virtual fnd::Value valueForKey(std::string_view key) const = 0;
};

// Follows a dotted key path from `root`: through dictionaries and KeyValueCoding objects; over
// arrays each step maps every element (so "tags.name" gives the names of all tags). Understands
// "@count" (number of elements) and "length" on strings (UTF-16 units), "self"/"SELF" steps.
fnd::Value valueForKeyPath(const fnd::Value& root, std::string_view keyPath);

}  // namespace kesto::store
