#pragma once

#include "Platform/Foundation/NotificationName.h"
#include "Platform/Net/NetNotifications.h"

namespace kesto {

// Names of the notifications of the HTTP client and its reachability.

inline constexpr fnd::NotificationName kNetOperationDidStartNotification{"com.kesto.networking.operation.start"};
inline constexpr fnd::NotificationName kNetOperationDidFinishNotification{"com.kesto.networking.operation.finish"};
inline constexpr fnd::NotificationName kNetReachabilityDidChangeNotification{"com.kesto.networking.reachability.change"};
inline constexpr fnd::NotificationName kNetTaskDidResumeNotification{"com.kesto.networking.task.resume"};
inline constexpr fnd::NotificationName kNetTaskDidSuspendNotification{"com.kesto.networking.task.suspend"};
inline constexpr fnd::NotificationName kNetTaskDidCompleteNotification{"com.kesto.networking.task.complete"};
// Posted by every URL task of the process: the platform's own names.
inline constexpr fnd::NotificationName kNetURLSessionTaskDidResumeNotification = net::kURLSessionTaskDidResumeNotification;
inline constexpr fnd::NotificationName kNetURLSessionTaskDidSuspendNotification = net::kURLSessionTaskDidSuspendNotification;
inline constexpr fnd::NotificationName kNetSessionDidInvalidateNotification{"com.kesto.networking.session.invalidate"};
inline constexpr fnd::NotificationName kNetSessionDownloadTaskDidFailToMoveFileNotification{"com.kesto.networking.session.download.file-manager-error"};
inline constexpr fnd::NotificationName kReachabilityChangedNotification{"kReachabilityChangedNotification"};

}  // namespace kesto
