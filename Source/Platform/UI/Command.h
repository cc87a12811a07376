#pragma once

#include "Platform/Foundation/ConstantName.h"

#include <string_view>
#include <type_traits>

namespace kesto::ui {

// A command sent along the responder chain, named by its selector text ("copy:", "moveUp:") and
// declared once as a constant in its layer's commands header. The empty command sends nothing.
struct CommandTag;
using Command = fnd::ConstantName<CommandTag>;

static_assert(!std::is_convertible_v<const char*, Command>);
static_assert(!std::is_convertible_v<std::string_view, Command>);
static_assert(!std::is_constructible_v<Command, std::string_view>);

}  // namespace kesto::ui
