#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto {

// Notifications of the token exchange; object: the OAuthAPI whose loader saw the reply, user
// info: the reply's parameters.
inline constexpr fnd::NotificationName kOAuthNotificationRequestTokenReceived{"OAuthNotificationRequestTokenReceived"};
inline constexpr fnd::NotificationName kOAuthNotificationRequestTokenRejected{"OAuthNotificationRequestTokenRejected"};
inline constexpr fnd::NotificationName kOAuthNotificationAccessTokenReceived{"OAuthNotificationAccessTokenReceived"};
inline constexpr fnd::NotificationName kOAuthNotificationAccessTokenRejected{"OAuthNotificationAccessTokenRejected"};
inline constexpr fnd::NotificationName kOAuthNotificationAccessTokenRefreshed{"OAuthNotificationAccessTokenRefreshed"};
inline constexpr fnd::NotificationName kOAuthNotificationErrorHasOccurred{"OAuthNotificationErrorHasOccurred"};

// Posted on every change of the link flow; object: the helper; user info {"error": Error} for a
// failed step.
inline constexpr fnd::NotificationName kSFAuthHelperOSXStateChangedNotification{"SFAuthHelperOSXStateChangedNotification"};
// The application's "became active" notification, on which the flow fetches the access token.
inline constexpr fnd::NotificationName kSFApplicationDidBecomeActiveNotification{"NSApplicationDidBecomeActiveNotification"};

}  // namespace kesto
