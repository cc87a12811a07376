#pragma once

#include <compare>
#include <string_view>
#include <type_traits>

namespace kesto::fnd {

// The name of a notification. Names are declared once, as constants in their subsystem's
// notifications header, so posters and observers share one spelling: a name can only be made
// from text the compiler sees, and no string converts to one on its own.
class NotificationName {
 public:
  // The empty name; an observer registered with it hears every name.
  constexpr NotificationName() = default;
  explicit consteval NotificationName(const char* text) : text_(text) {}

  constexpr std::string_view text() const { return text_; }
  constexpr bool empty() const { return text_.empty(); }

  friend constexpr auto operator<=>(NotificationName, NotificationName) = default;
  // For logs and test messages.
  template <typename Stream>
  friend Stream& operator<<(Stream& stream, NotificationName name) {
    stream << name.text();
    return stream;
  }

 private:
  std::string_view text_;
};

static_assert(!std::is_convertible_v<const char*, NotificationName>);
static_assert(!std::is_convertible_v<std::string_view, NotificationName>);
static_assert(!std::is_constructible_v<NotificationName, std::string_view>);

}  // namespace kesto::fnd
