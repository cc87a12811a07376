#pragma once

#include <compare>
#include <string_view>
#include <type_traits>

namespace kesto::fnd {

// A name the program declares once, as a constant, and passes around instead of its text, so
// that a misspelt name does not compile: one can only be made from text the compiler sees, and
// no string converts to one on its own. Each `Tag` makes a kind of name of its own that does not
// mix with the others.
template <typename Tag>
class ConstantName {
 public:
  // The empty name.
  constexpr ConstantName() = default;
  explicit consteval ConstantName(const char* text) : text_(text) {}

  constexpr std::string_view text() const { return text_; }
  constexpr bool empty() const { return text_.empty(); }

  friend constexpr auto operator<=>(ConstantName, ConstantName) = default;
  // For logs and test messages.
  template <typename Stream>
  friend Stream& operator<<(Stream& stream, ConstantName name) {
    stream << name.text();
    return stream;
  }

 private:
  std::string_view text_;
};

}  // namespace kesto::fnd
