#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto::fnd {

// Names of the notifications the foundation classes post.

// Posted (object: the UserDefaults) after any value changes, on the thread that changed it.
// The user info names the changed key under kUserDefaultsChangedKey, so observers of one
// setting can ignore the rest.
inline constexpr NotificationName kUserDefaultsDidChangeNotification{"NSUserDefaultsDidChangeNotification"};

// Posted by the undo manager (object: the undo manager).
inline constexpr NotificationName kUndoManagerCheckpointNotification{"NSUndoManagerCheckpointNotification"};
inline constexpr NotificationName kUndoManagerDidOpenUndoGroupNotification{"NSUndoManagerDidOpenUndoGroupNotification"};
inline constexpr NotificationName kUndoManagerDidCloseUndoGroupNotification{"NSUndoManagerDidCloseUndoGroupNotification"};
inline constexpr NotificationName kUndoManagerWillUndoChangeNotification{"NSUndoManagerWillUndoChangeNotification"};
inline constexpr NotificationName kUndoManagerDidUndoChangeNotification{"NSUndoManagerDidUndoChangeNotification"};
inline constexpr NotificationName kUndoManagerWillRedoChangeNotification{"NSUndoManagerWillRedoChangeNotification"};
inline constexpr NotificationName kUndoManagerDidRedoChangeNotification{"NSUndoManagerDidRedoChangeNotification"};

}  // namespace kesto::fnd
