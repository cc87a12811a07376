#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto {

// Posted (no object) when Escape is pressed in the menu-bar window; the application hides it.
inline constexpr fnd::NotificationName CloseMenubarNotification{"CloseMenubarNotification"};
// Posted by the menu-bar list to bring the main window (and the desktop's task-bar entry) back.
inline constexpr fnd::NotificationName ShowMainKestoWindowAndDockNotification{"ShowMainKestoWindowAndDockNotification"};
// Posted (object: the window) after the menu-bar window attaches to or detaches from its icon,
// only through a delegate that takes the matching call.
inline constexpr fnd::NotificationName MenuBarWindowDidAttachToMenuBar{"MenuBarWindowDidAttachToMenuBar"};
inline constexpr fnd::NotificationName MenuBarWindowDidDetachFromMenuBar{"MenuBarWindowDidDetachFromMenuBar"};
// Posted (object: the window) after a click of the tray icon has shown the menu-bar window: the
// list gives the keys to its search field, as the hot key's showing does.
inline constexpr fnd::NotificationName MenuBarWindowDidShowFromIcon{"MenuBarWindowDidShowFromIcon"};
// Edits the menu-bar list's selected bookmark.
inline constexpr fnd::NotificationName EditBookmarkMenuViewNotification{"EditBookmarkMenuViewNotification"};

}  // namespace kesto
