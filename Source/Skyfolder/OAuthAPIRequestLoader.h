#pragma once

#include "Skyfolder/SkyfolderNotifications.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Net/URLResponse.h"
#include "Skyfolder/OAuthURLRequest.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

class OAuthAPI;
class OAuthCredentialConcreteStore;


struct OAuthURLResponse {
  std::shared_ptr<const net::HTTPURLResponse> urlResponse;
  fnd::Dictionary oauthParameters;
};

// One signed call of the OAuth session layer: signs with the store, loads, examines token
// replies and reports to its target on the main queue.
class OAuthAPIRequestLoader : public std::enable_shared_from_this<OAuthAPIRequestLoader> {
 public:
  struct Target {
    // Given the loader and the body (the layer's own clients).
    std::function<void(OAuthAPIRequestLoader&, const fnd::Data&)> didLoad;
    // Given the request URL and the body as text (other clients).
    std::function<void(const net::URL&, const std::string&)> didLoadText;
    std::function<void(OAuthAPIRequestLoader&, const fnd::Error&)> didFail;
  };
  // Replies larger than this are refused.
  static constexpr std::size_t kMaxReplyBytes = 16u << 20;

  OAuthAPIRequestLoader(OAuthAPI* api, OAuthURLRequest request, Target target);
  ~OAuthAPIRequestLoader();

  // Asynchronously (the API keeps the loader until it ends) or waiting for the reply.
  void loadSynchronously(bool synchronously);
  void cancel();

  const OAuthURLRequest& oauthRequest() const { return request_; }
  const OAuthURLResponse& oauthResponse() const { return response_; }
  const fnd::Data& data() const { return data_; }
  std::string responseString() const;
  const std::optional<fnd::Error>& error() const { return error_; }

 private:
  struct Shared;
  void finished(std::shared_ptr<const net::URLResponse> response, fnd::Data data, std::optional<fnd::Error> error);
  void examineReply();

  OAuthAPI* api_;
  OAuthURLRequest request_;
  Target target_;
  OAuthURLResponse response_;
  fnd::Data data_;
  std::optional<fnd::Error> error_;
  std::shared_ptr<Shared> shared_;
};

// Signs requests with a credential store and starts or sends them.
class OAuthConnection {
 public:
  // The request with the store's protocol parameters added and signed; absent when it cannot
  // be signed (unknown signature or HTTP method).
  static std::optional<net::URLRequest> signedRequest(OAuthURLRequest& request,
                                                      const OAuthCredentialConcreteStore& credentials,
                                                      fnd::Error* error = nullptr);
  static std::optional<fnd::Data> sendSynchronousRequest(OAuthURLRequest& request,
                                                         const OAuthCredentialConcreteStore& credentials,
                                                         std::shared_ptr<const net::URLResponse>* response,
                                                         fnd::Error* error);
};

}  // namespace kesto
