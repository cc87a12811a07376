#pragma once

#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/Net/URL.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"
#include "Platform/Net/URLSession.h"

#include <memory>
#include <optional>
#include <string_view>

namespace kesto::net {

// Keyed coding of the URL-loading values, under the class names "NSURLRequest",
// "NSHTTPURLResponse", "NSURLResponse" and "NSURLSessionConfiguration". A request's body stream
// and a configuration's cache are not archived.
void encodeURL(fnd::KeyedArchiver& coder, const URL& url, std::string_view key);
std::optional<URL> decodeURL(fnd::KeyedUnarchiver& coder, std::string_view key);
void encodeRequest(fnd::KeyedArchiver& coder, const URLRequest& request, std::string_view key);
std::optional<URLRequest> decodeRequest(fnd::KeyedUnarchiver& coder, std::string_view key);
void encodeResponse(fnd::KeyedArchiver& coder, const URLResponse& response, std::string_view key);
std::shared_ptr<const URLResponse> decodeResponse(fnd::KeyedUnarchiver& coder, std::string_view key);
void encodeConfiguration(fnd::KeyedArchiver& coder, const URLSessionConfiguration& configuration, std::string_view key);
std::optional<URLSessionConfiguration> decodeConfiguration(fnd::KeyedUnarchiver& coder, std::string_view key);

}  // namespace kesto::net
