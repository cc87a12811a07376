#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto::store {

// Names under which saves are also posted to the notification centre (object: the context).
inline constexpr fnd::NotificationName kContextWillSaveNotification{"ContextWillSaveNotification"};
inline constexpr fnd::NotificationName kContextDidSaveNotification{"ContextDidSaveNotification"};

}  // namespace kesto::store
