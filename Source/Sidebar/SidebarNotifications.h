#pragma once

#include "Platform/Foundation/NotificationName.h"
#include "Model/ModelNotifications.h"

namespace kesto {

// Posted by the inspector's go-to-folder action and by the undo and redo of list changes.
inline constexpr fnd::NotificationName SelectFoldersViewNotification{"selectFoldersViewNotification"};
inline constexpr fnd::NotificationName HideNoBookmarksLabelNotification{"HideNoBookmarksLabel"};

}  // namespace kesto
