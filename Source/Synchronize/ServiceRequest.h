#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Net/URL.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace kesto {

// One request to an online service (a bookmark service, the account service's load) through the
// HTTP client's request-operation manager, its reply read as an XML document: only a 2xx reply of
// an XML type that parses is an answer. Around it the guards every such request keeps: https only
// (plain http only to this machine, a local stand-in), redirects only to such addresses, the
// server's certificate judged against the system's roots with the host name checked, the reply
// capped, an idle time-out and a limit on the whole exchange. Credentials travel in an
// Authorization header, never in the URL (which reaches logs). Exactly one handler runs, on the
// main thread.
class ServiceRequest {
 public:
  struct Limits {
    std::size_t maxReplyBytes;
    double idleSeconds;   // no byte for this long ends the exchange
    double wholeSeconds;  // nor may the exchange as a whole take longer
  };
  struct Credentials {
    std::string user, password;
  };
  // The reply's body as received.
  using Success = std::function<void(const std::string& body)>;
  // The HTTP status when a reply came (else 0), and what went wrong in words for the user.
  using Failure = std::function<void(int status, const std::string& message)>;

  // The address when an account's data may go there: https, or http to this machine.
  static std::optional<net::URL> acceptableURL(const std::string& text);

  // `parameters` is a dictionary of texts: in the query of a GET, form-encoded in a POST's body.
  static void send(const std::string& method, const std::string& url, const fnd::Dictionary& parameters,
                   const Limits& limits, const std::optional<Credentials>& credentials, Success success,
                   Failure failure);

  // Replaces every request's limits while set, so tests reach them in moments.
  static void setLimitsForTesting(std::optional<Limits> limits);
};

}  // namespace kesto
