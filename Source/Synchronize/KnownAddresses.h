#pragma once

#include "Platform/Store/StoreForward.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

namespace kesto {

// The addresses of the library's bookmarks as imports compare them for duplicates: read once
// through `context` (on its thread) rather than one query per bookmark, each in the form
// `key` gives, so that escaped and unescaped forms of one address, and its scheme in any case,
// are one.
class KnownAddresses {
 public:
  static std::string key(std::string_view address);
  static KnownAddresses read(const std::shared_ptr<store::Context>& context);

  bool contains(std::string_view address) const { return keys_.count(key(address)) > 0; }
  // Adds the address; false when it was known (in the library or added before).
  bool insert(std::string_view address) { return keys_.insert(key(address)).second; }

 private:
  std::unordered_set<std::string> keys_;
};

}  // namespace kesto
