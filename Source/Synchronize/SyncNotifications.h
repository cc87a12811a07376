#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto {

// Start a run (no object).
inline constexpr fnd::NotificationName kStartSyncNotification{"StartSync"};
inline constexpr fnd::NotificationName kStartSynchingWithSkyfolderNotification{"StartSynchingWithSkyfolder"};
// Posted on the main thread when a run ends; user info "success" (boolean) and "message".
inline constexpr fnd::NotificationName kSyncEndedNotification{"KestoSyncEndedNotification"};
// Opens the password recovery panel.
inline constexpr fnd::NotificationName kOpenPasswordRecoveryNotification{"OpenPasswordRecovery"};

}  // namespace kesto
