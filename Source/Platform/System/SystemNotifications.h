#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto::sys {

// Names of the notifications the desktop services post.

// Posted on the default notification centre (main thread) when the keyboard layout or the
// active layout group changes, so names of keys can be rebuilt.
inline constexpr fnd::NotificationName KeyboardLayoutDidChangeNotification{"KeyboardLayoutDidChangeNotification"};

}  // namespace kesto::sys
