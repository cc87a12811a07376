#pragma once

#include "Network/NetworkingNotifications.h"

// Labels of the HTTP client: one reverse-DNS prefix followed by the fixed suffixes.

#include <string>
#include <string_view>

namespace kesto {

inline constexpr const char* kNetReachabilityNotificationStatusItem = "NetReachabilityNotificationStatusItem";

inline constexpr const char* kNetOperationLockName = "com.kesto.networking.operation.lock";
inline constexpr const char* kNetOperationQueueLabel = "com.kesto.networking.operation.queue";
inline constexpr const char* kNetHTTPRequestProcessingQueueLabel = "com.kesto.networking.http-request.processing";

inline constexpr const char* kNetURLRequestSerializationErrorDomain = "com.kesto.error.serialization.request";
inline constexpr const char* kNetURLResponseSerializationErrorDomain = "com.kesto.error.serialization.response";
inline constexpr const char* kNetNetworkingOperationFailingURLRequestErrorKey = "com.kesto.serialization.request.error.response";
inline constexpr const char* kNetNetworkingOperationFailingURLResponseErrorKey = "com.kesto.serialization.response.error.response";
inline constexpr const char* kNetNetworkingOperationFailingURLResponseDataErrorKey = "com.kesto.serialization.response.error.data";

// Texts of the string table "Networking"; the English text is the key and the fallback.
std::string NetLocalizedString(std::string_view englishText);

// The responses' bodies are capped so a hostile server cannot exhaust memory.
inline constexpr std::size_t kNetDefaultMaximumResponseSize = 256u << 20;

}  // namespace kesto
