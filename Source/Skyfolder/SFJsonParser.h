#pragma once

#include "Skyfolder/SFJsonBase.h"

#include <optional>
#include <string_view>

namespace kesto {

// The client's JSON reader: the shared reader in its lenient form (commas between elements may be
// left out), with the client's error trace. Objects become dictionaries, arrays arrays, strings
// UTF-8 strings; integers that fit 64 bits stay exact integers, other numbers become reals;
// true/false booleans; null the null value.
class SFJsonParser : public SFJsonBase {
 public:
  // A dictionary or an array; absent on failure (the trace says why). A null `text` stands for
  // a missing input.
  std::optional<fnd::Value> objectWithString(const std::string_view* text);
  std::optional<fnd::Value> objectWithString(std::string_view text) { return objectWithString(&text); }
  // Any JSON value, scalars included.
  std::optional<fnd::Value> fragmentWithString(const std::string_view* text);
  std::optional<fnd::Value> fragmentWithString(std::string_view text) { return fragmentWithString(&text); }
};

}  // namespace kesto
