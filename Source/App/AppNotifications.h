#pragma once

#include "Platform/Foundation/NotificationName.h"
#include "Skyfolder/SkyfolderNotifications.h"

namespace kesto {

// Posted on the default notification centre each time the application becomes active; the
// Skyfolder link flow waits for it after sending the user to the browser.
inline constexpr fnd::NotificationName kApplicationDidBecomeActiveNotification = kSFApplicationDidBecomeActiveNotification;
// Posted after each save of the preferences; the toolbar redraws its open-in-browser button.
inline constexpr fnd::NotificationName kUpdateBrowserButtonNotification{"UpdateBrowserButton"};
// Asks the bookmark list to fill an empty library with the default bookmarks.
inline constexpr fnd::NotificationName CreateDefaultBookmarks{"CreateDefaultBookmarks"};

}  // namespace kesto
