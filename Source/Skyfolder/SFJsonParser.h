#pragma once

#include "Skyfolder/SFJsonBase.h"

#include <optional>
#include <string_view>

namespace kesto {

// The client's own recursive-descent JSON reader. Objects become dictionaries, arrays arrays,
// strings UTF-8 strings; integers that fit 64 bits stay exact integers, other numbers become
// reals; true/false booleans; null the null value.
class SFJsonParser : public SFJsonBase {
 public:
  // A dictionary or an array; absent on failure (the trace says why). A null `text` stands for
  // a missing input.
  std::optional<fnd::Value> objectWithString(const std::string_view* text);
  std::optional<fnd::Value> objectWithString(std::string_view text) { return objectWithString(&text); }
  // Any JSON value, scalars included.
  std::optional<fnd::Value> fragmentWithString(const std::string_view* text);
  std::optional<fnd::Value> fragmentWithString(std::string_view text) { return fragmentWithString(&text); }

 private:
  bool scanValue(fnd::Value& out);
  bool scanArray(fnd::Value& out);
  bool scanObject(fnd::Value& out);
  bool scanString(std::string& out);
  bool scanNumber(fnd::Value& out);
  bool scanUnicodeChar(std::string& out);
  bool scanLiteral(const char* rest, fnd::Value value, const char* message, fnd::Value& out);
  void skipWhitespace();
  unsigned char peek() const { return c_ < end_ ? static_cast<unsigned char>(*c_) : 0; }

  const char* c_ = nullptr;
  const char* end_ = nullptr;
};

}  // namespace kesto
