#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto::ui {

// Names of the notifications the interface classes post.

// Posted with the window as object.
inline constexpr fnd::NotificationName WindowDidBecomeKeyNotification{"NSWindowDidBecomeKeyNotification"};
inline constexpr fnd::NotificationName WindowDidResignKeyNotification{"NSWindowDidResignKeyNotification"};
inline constexpr fnd::NotificationName WindowDidResizeNotification{"NSWindowDidResizeNotification"};
inline constexpr fnd::NotificationName WindowWillCloseNotification{"NSWindowWillCloseNotification"};
inline constexpr fnd::NotificationName WindowDidChangeScreenNotification{"NSWindowDidChangeScreenNotification"};
inline constexpr fnd::NotificationName WindowDidBecomeMainNotification{"NSWindowDidBecomeMainNotification"};
inline constexpr fnd::NotificationName WindowDidResignMainNotification{"NSWindowDidResignMainNotification"};
inline constexpr fnd::NotificationName WindowDidEnterFullScreenNotification{"NSWindowDidEnterFullScreenNotification"};
inline constexpr fnd::NotificationName WindowDidExitFullScreenNotification{"NSWindowDidExitFullScreenNotification"};
// Posted (no object) just before an alert, a file dialog or a sheet opens, or is queued behind
// the sheet shown: a floating panel that would cover it can give way first.
inline constexpr fnd::NotificationName DialogWillOpenNotification{"KestoDialogWillOpen"};
// Posted by text controls (object: the control) as editing goes on.
inline constexpr fnd::NotificationName ControlTextDidBeginEditingNotification{"ControlTextDidBeginEditing"};
inline constexpr fnd::NotificationName ControlTextDidChangeNotification{"ControlTextDidChange"};
inline constexpr fnd::NotificationName ControlTextDidEndEditingNotification{"ControlTextDidEndEditing"};
// Posted by a clip view (as object) after every move of its bounds, animation steps included.
inline constexpr fnd::NotificationName ViewBoundsDidChangeNotification{"NSViewBoundsDidChangeNotification"};

}  // namespace kesto::ui
