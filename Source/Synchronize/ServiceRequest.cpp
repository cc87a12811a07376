#include "Synchronize/ServiceRequest.h"

#include "Synchronize/SyncSettings.h"

#include "Network/NetHTTPRequestOperation.h"
#include "Network/NetHTTPRequestOperationManager.h"
#include "Network/NetNetworking.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"

#include <atomic>
#include <memory>

namespace kesto {

namespace {

std::optional<ServiceRequest::Limits>& limitsForTesting() {
  static std::optional<ServiceRequest::Limits> limits;  // main thread only
  return limits;
}

// Why an exchange ended early, as seen from the operation's side.
struct ExchangeEnd {
  std::atomic<bool> timedOut{false};
  std::atomic<bool> redirectRefused{false};
};

std::string describeFailure(const NetHTTPRequestOperation* op, int status, const fnd::Error& error,
                            const ExchangeEnd& end) {
  constexpr const char* kRedirectRefused =
      "The server sent the request on to an address that is not a secure (https) one";
  if (end.timedOut) return "The server did not answer in time";
  // The transport's own error (no connection, time-out, refused certificate, reply too large).
  if (auto transport = op ? op->NetURLConnectionOperation::error() : std::nullopt) {
    // A redirect to another kind of address (file:, ftp:) is refused below us.
    if (transport->domain() == fnd::kURLErrorDomain &&
        transport->code() == net::urlerror::RedirectToNonExistentLocation)
      return kRedirectRefused;
    return transport->localizedDescription();
  }
  if (!op) return error.localizedDescription();  // the request could not be built
  if (end.redirectRefused) return kRedirectRefused;
  if (status < 200 || status > 299) return "The server answered with an error (HTTP " + std::to_string(status) + ")";
  if (error.domain() == kNetURLResponseSerializationErrorDomain &&
      error.code() == net::urlerror::CannotDecodeContentData)
    return "The server's answer is not an XML document";
  return "The server's answer could not be read";
}

}  // namespace

std::optional<net::URL> ServiceRequest::acceptableURL(const std::string& text) {
  auto url = net::URL::fromString(text);
  if (!url || url->host().empty()) return std::nullopt;
  if (url->scheme() == "https") return url;
  if (url->scheme() == "http" && syncsettings::isLoopbackHost(url->host())) return url;
  return std::nullopt;
}

void ServiceRequest::setLimitsForTesting(std::optional<Limits> limits) { limitsForTesting() = limits; }

void ServiceRequest::send(const std::string& method, const std::string& urlText, const fnd::Dictionary& parameters,
                          const Limits& requested, const std::optional<Credentials>& credentials, Success success,
                          Failure failure) {
  const Limits limits = limitsForTesting().value_or(requested);
  auto url = acceptableURL(urlText);
  if (!url) {
    fnd::DispatchQueue::main().async([failure] { failure(0, "The service's address is not a secure (https) one"); });
    return;
  }
  auto manager = NetHTTPRequestOperationManager::manager();
  manager->setResponseSerializer(NetXMLDocumentResponseSerializer::serializer());
  auto& requests = *manager->requestSerializer();
  requests.setTimeoutInterval(limits.idleSeconds);
  requests.setHTTPShouldHandleCookies(false);
  if (credentials) requests.setAuthorizationHeaderFieldWithUsername(credentials->user, credentials->password);

  auto end = std::make_shared<ExchangeEnd>();
  auto op = manager->HTTPRequestOperationWithHTTPMethod(
      method, url->absoluteString(), fnd::Value(parameters),
      [success](const std::shared_ptr<NetHTTPRequestOperation>& op, const fnd::Value&) {
        auto data = op->responseData();
        success(data ? std::string(data->begin(), data->end()) : std::string());
      },
      [failure, end](const std::shared_ptr<NetHTTPRequestOperation>& op, const fnd::Error& error) {
        auto http = op ? op->httpResponse() : nullptr;
        const int status = http ? static_cast<int>(http->statusCode()) : 0;
        failure(status, describeFailure(op.get(), status, error, *end));
      });
  if (!op) return;  // the failure handler hears why
  // Set before the operation is queued: the output stream is made with the cap when it starts.
  op->setMaximumResponseSize(limits.maxReplyBytes);
  op->setRedirectResponseBlock([end](net::URLConnection&, const net::URLRequest& next,
                                     const net::HTTPURLResponse* redirect) -> std::optional<net::URLRequest> {
    if (!redirect || acceptableURL(next.url().absoluteString())) return next;
    // Not followed: the redirect itself is the answer, which the reply reader refuses.
    end->redirectRefused = true;
    return std::nullopt;
  });
  // The manager (and its queue) lives until the operation is done, as the caller drops it.
  op->retainUntilFinished(manager);
  manager->operationQueue().addOperation(op);
  std::weak_ptr<NetHTTPRequestOperation> weak = op;
  fnd::DispatchQueue::main().after(limits.wholeSeconds, [weak, end] {
    auto running = weak.lock();
    if (!running || running->isFinished()) return;
    end->timedOut = true;
    running->cancel();
  });
}

}  // namespace kesto
