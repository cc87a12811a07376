#pragma once

#include <compare>
#include <string_view>
#include <type_traits>

namespace kesto::ui {

// A command sent along the responder chain, named by its selector text ("copy:", "moveUp:").
// Commands are declared once, as constants in their layer's commands header, so a misspelt one
// does not compile: a command can only be made from text the compiler sees, and no string
// converts to one on its own.
class Command {
 public:
  // No command: an item or key without one sends nothing.
  constexpr Command() = default;
  explicit consteval Command(const char* selector) : selector_(selector) {}

  constexpr std::string_view selector() const { return selector_; }
  constexpr bool empty() const { return selector_.empty(); }

  friend constexpr auto operator<=>(Command, Command) = default;
  // For logs and test messages.
  template <typename Stream>
  friend Stream& operator<<(Stream& stream, Command command) {
    stream << command.selector();
    return stream;
  }

 private:
  std::string_view selector_;
};

static_assert(!std::is_convertible_v<const char*, Command>);
static_assert(!std::is_convertible_v<std::string_view, Command>);
static_assert(!std::is_constructible_v<Command, std::string_view>);

}  // namespace kesto::ui
