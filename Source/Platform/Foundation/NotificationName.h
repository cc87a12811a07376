#pragma once

#include "Platform/Foundation/ConstantName.h"

#include <string_view>
#include <type_traits>

namespace kesto::fnd {

// The name of a notification, declared once as a constant in its subsystem's notifications
// header (`*Notifications.h`) and shared by posters and observers. The empty name, given to an
// observer, matches every name.
struct NotificationNameTag;
using NotificationName = ConstantName<NotificationNameTag>;

static_assert(!std::is_convertible_v<const char*, NotificationName>);
static_assert(!std::is_convertible_v<std::string_view, NotificationName>);
static_assert(!std::is_constructible_v<NotificationName, std::string_view>);

}  // namespace kesto::fnd
