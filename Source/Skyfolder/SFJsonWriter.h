#pragma once

#include "Skyfolder/SFJsonBase.h"

#include <optional>
#include <string>

namespace kesto {

// The client's JSON writer: the shared writer with the client's error trace. Dictionaries are
// written in key order (the value type keeps keys sorted, so sortKeys changes nothing today but
// is kept for callers that set it).
class SFJsonWriter : public SFJsonBase {
 public:
  // A dictionary or an array as text; absent on failure.
  std::optional<std::string> stringWithObject(const fnd::Value& value);
  // Any value as text.
  std::optional<std::string> stringWithFragment(const fnd::Value& value);

  bool sortKeys() const { return sortKeys_; }
  void setSortKeys(bool on) { sortKeys_ = on; }
  bool humanReadable() const { return humanReadable_; }
  void setHumanReadable(bool on) { humanReadable_ = on; }

 private:
  bool sortKeys_ = false;
  bool humanReadable_ = false;
};

}  // namespace kesto
