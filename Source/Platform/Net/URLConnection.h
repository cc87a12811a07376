#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto::net {

class ServerTrust;
class URLConnection;

inline constexpr const char* kAuthenticationMethodServerTrust = "NSURLAuthenticationMethodServerTrust";
inline constexpr const char* kAuthenticationMethodHTTPBasic = "NSURLAuthenticationMethodHTTPBasic";
inline constexpr const char* kAuthenticationMethodDefault = "NSURLAuthenticationMethodDefault";

// A user name and password, or the acceptance of a server trust.
class URLCredential {
 public:
  enum class Persistence { None = 0, ForSession = 1, Permanent = 2 };
  static URLCredential withUser(std::string user, std::string password, Persistence p = Persistence::ForSession);
  static URLCredential forTrust(std::shared_ptr<ServerTrust> trust);

  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  bool hasPassword() const { return !password_.empty(); }
  Persistence persistence() const { return persistence_; }
  const std::shared_ptr<ServerTrust>& serverTrust() const { return trust_; }

 private:
  std::string user_;
  std::string password_;
  Persistence persistence_ = Persistence::None;
  std::shared_ptr<ServerTrust> trust_;
};

struct ProtectionSpace {
  std::string host;
  int port = -1;
  std::string protocol;  // "http" or "https"
  std::string realm;
  std::string authenticationMethod;
  std::shared_ptr<ServerTrust> serverTrust;  // for kAuthenticationMethodServerTrust
};

// A challenge handed to the delegate, answered synchronously before the callback returns with
// exactly one of the four answers; an unanswered challenge gets default handling.
class AuthenticationChallenge {
 public:
  enum class Disposition { UseCredential = 0, PerformDefaultHandling = 1, Cancel = 2, RejectProtectionSpace = 3, ContinueWithoutCredential = 4 };

  AuthenticationChallenge(ProtectionSpace space, int previousFailureCount, std::optional<URLCredential> proposed,
                          std::shared_ptr<const URLResponse> failureResponse);

  const ProtectionSpace& protectionSpace() const { return space_; }
  int previousFailureCount() const { return failures_; }
  const std::optional<URLCredential>& proposedCredential() const { return proposed_; }
  const std::shared_ptr<const URLResponse>& failureResponse() const { return failureResponse_; }

  void useCredential(URLCredential credential);
  void continueWithoutCredential();
  void cancel();
  void performDefaultHandling();

  Disposition disposition() const { return disposition_; }
  const std::optional<URLCredential>& credential() const { return credential_; }

 private:
  ProtectionSpace space_;
  int failures_;
  std::optional<URLCredential> proposed_;
  std::shared_ptr<const URLResponse> failureResponse_;
  Disposition disposition_ = Disposition::PerformDefaultHandling;
  std::optional<URLCredential> credential_;
};

// Receives a connection's progress, on the shared "Networking" thread, in this order:
// willSendRequest (once for the initial request with no redirect response, then per redirect),
// shouldUseCredentialStorage, challenges (server trust during the handshake, before any request
// byte; then 401/407 after the URL's user-info was tried), didSendBodyData, didReceiveResponse,
// didReceiveData, willCacheResponse, and didFinishLoading or didFailWithError. Nothing is
// delivered after cancel().
class URLConnectionDelegate {
 public:
  virtual ~URLConnectionDelegate() = default;
  // Answer the request to send, or nothing to stop following: the redirect reply is then
  // delivered as the response.
  virtual std::optional<URLRequest> connectionWillSendRequest(URLConnection& connection, const URLRequest& request,
                                                              const HTTPURLResponse* redirectResponse) {
    return request;
  }
  virtual bool connectionShouldUseCredentialStorage(URLConnection& connection) { return true; }
  // Default handling: server trust is evaluated with the trust's own policy (host checked);
  // passwords come from the URL's user-info, once.
  virtual void connectionWillSendRequestForAuthenticationChallenge(URLConnection& connection,
                                                                   AuthenticationChallenge& challenge) {}
  // The request body again, for a retry after the first stream was read (a redirect that keeps
  // the body, an answered challenge); null fails the request. By default the stream's own replay.
  virtual std::shared_ptr<InputStream> connectionNeedNewBodyStream(URLConnection& connection, const URLRequest& request);
  virtual void connectionDidSendBodyData(URLConnection& connection, std::int64_t bytesWritten,
                                         std::int64_t totalBytesWritten, std::int64_t totalBytesExpected) {}
  virtual void connectionDidReceiveResponse(URLConnection& connection, std::shared_ptr<const URLResponse> response) {}
  virtual void connectionDidReceiveData(URLConnection& connection, const std::uint8_t* bytes, std::size_t length) {}
  // Answer false to keep the response out of the cache.
  virtual bool connectionWillCacheResponse(URLConnection& connection, const URLResponse& response) { return true; }
  virtual void connectionDidFinishLoading(URLConnection& connection) {}
  virtual void connectionDidFailWithError(URLConnection& connection, const fnd::Error& error) {}
};

// One HTTP(S) exchange on the shared "Networking" thread. Follows redirects through the
// delegate (303, and POST on 301/302, become GET; credentials and Authorization are never
// carried to another origin or from https to http), answers 401 with Basic from the URL's
// user-info (https or loopback only) or the delegate's credential, inflates gzip/deflate as
// the body streams (unless the request names its own Accept-Encoding), and fails with URL
// error codes. Make with make(), then start(); the connection keeps itself
// and its delegate alive until it ends or is cancelled.
class URLConnection : public std::enable_shared_from_this<URLConnection> {
 public:
  static std::shared_ptr<URLConnection> make(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate);
  ~URLConnection();

  // Thread-safe. start() twice does nothing; cancel() stops delivery at once (when called on
  // the network thread) or before the next callback.
  void start();
  void cancel();
  bool isCancelled() const;
  // Ends the exchange with DataLengthExceedsMaximum once its body passes `bytes`, counted as it
  // arrives and as it is decoded (0, the default: no bound). Call before start().
  void setMaximumBodySize(std::size_t bytes);
  // How much of the current reply's body has been decoded (inflated, when it came compressed),
  // whether or not it was handed on. Thread-safe.
  std::size_t countOfBodyBytesDecoded() const;

  const URLRequest& originalRequest() const;
  // The request being sent (after redirects).
  URLRequest currentRequest() const;

  // Runs the request on the network thread while the caller waits (never call it there).
  // Returns the body; `response` and `error` are filled when given. Bodies above
  // `maximumBodySize` fail with DataLengthExceedsMaximum.
  static std::optional<fnd::Data> sendSynchronousRequest(const URLRequest& request,
                                                         std::shared_ptr<const URLResponse>* response,
                                                         fnd::Error* error,
                                                         std::size_t maximumBodySize = 256u << 20);

  // The shared network thread: made on first use, named "Networking", never ends.
  static void performOnNetworkThread(std::function<void()> work);
  static bool isNetworkThread();

 private:
  URLConnection();
  struct Impl;
  std::unique_ptr<Impl> d_;
  friend struct ConnectionDriver;
};

}  // namespace kesto::net
