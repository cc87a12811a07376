#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto::net {

// Posted synchronously on the calling thread, with the task as object: resume() of a task that
// was not running, suspend() of a task that was not suspended.
inline constexpr fnd::NotificationName kURLSessionTaskDidResumeNotification{"com.kesto.networking.nsurlsessiontask.resume"};
inline constexpr fnd::NotificationName kURLSessionTaskDidSuspendNotification{"com.kesto.networking.nsurlsessiontask.suspend"};

}  // namespace kesto::net
