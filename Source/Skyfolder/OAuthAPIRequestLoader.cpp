#include "Skyfolder/OAuthAPIRequestLoader.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Net/URLConnection.h"
#include "Platform/Net/URLError.h"
#include "Skyfolder/OAuthAPI.h"
#include "Skyfolder/OAuthCredentialConcreteStore.h"

#include <mutex>

namespace kesto {

namespace {

// Collects one reply on the network thread; signed URLs never follow a redirect off their origin.
class LoaderConnectionDelegate : public net::URLConnectionDelegate {
 public:
  using Done = std::function<void(std::shared_ptr<const net::URLResponse>, fnd::Data, std::optional<fnd::Error>)>;
  LoaderConnectionDelegate(std::string origin, Done done) : origin_(std::move(origin)), done_(std::move(done)) {}

  std::optional<net::URLRequest> connectionWillSendRequest(net::URLConnection&, const net::URLRequest& request,
                                                           const net::HTTPURLResponse* redirect) override {
    if (redirect && (request.url().origin() != origin_ || request.url().scheme() == "http")) return std::nullopt;
    return request;
  }
  void connectionWillSendRequestForAuthenticationChallenge(net::URLConnection&,
                                                           net::AuthenticationChallenge& challenge) override {
    // Server trust keeps its default evaluation; password challenges get no credentials.
    if (challenge.protectionSpace().authenticationMethod != net::kAuthenticationMethodServerTrust)
      challenge.performDefaultHandling();
  }
  void connectionDidReceiveResponse(net::URLConnection&, std::shared_ptr<const net::URLResponse> response) override {
    response_ = std::move(response);
  }
  void connectionDidReceiveData(net::URLConnection& c, const std::uint8_t* bytes, std::size_t length) override {
    if (data_.size() + length > OAuthAPIRequestLoader::kMaxReplyBytes) {
      c.cancel();
      done_(response_, {}, net::makeURLError(net::urlerror::DataLengthExceedsMaximum, nullptr));
      return;
    }
    data_.insert(data_.end(), bytes, bytes + length);
  }
  bool connectionWillCacheResponse(net::URLConnection&, const net::URLResponse&) override { return false; }
  void connectionDidFinishLoading(net::URLConnection&) override { done_(response_, std::move(data_), std::nullopt); }
  void connectionDidFailWithError(net::URLConnection&, const fnd::Error& error) override {
    done_(response_, {}, error);
  }

 private:
  std::string origin_;
  Done done_;
  std::shared_ptr<const net::URLResponse> response_;
  fnd::Data data_;
};

}  // namespace

struct OAuthAPIRequestLoader::Shared {
  std::mutex mutex;
  bool cancelled = false;
  std::shared_ptr<net::URLConnection> connection;
};

std::optional<net::URLRequest> OAuthConnection::signedRequest(OAuthURLRequest& request,
                                                              const OAuthCredentialConcreteStore& credentials,
                                                              fnd::Error* error) {
  request.addParameters(credentials.oauthParameters());
  return request.urlRequestSignedWithSecret(credentials.signingKey(), credentials.signatureMethod().value_or(""),
                                            error);
}

std::optional<fnd::Data> OAuthConnection::sendSynchronousRequest(OAuthURLRequest& request,
                                                                 const OAuthCredentialConcreteStore& credentials,
                                                                 std::shared_ptr<const net::URLResponse>* response,
                                                                 fnd::Error* error) {
  auto signed_ = signedRequest(request, credentials, error);
  if (!signed_) return std::nullopt;
  return net::URLConnection::sendSynchronousRequest(*signed_, response, error, OAuthAPIRequestLoader::kMaxReplyBytes);
}

OAuthAPIRequestLoader::OAuthAPIRequestLoader(OAuthAPI* api, OAuthURLRequest request, Target target)
    : api_(api), request_(std::move(request)), target_(std::move(target)), shared_(std::make_shared<Shared>()) {}

OAuthAPIRequestLoader::~OAuthAPIRequestLoader() { cancel(); }

void OAuthAPIRequestLoader::cancel() {
  std::shared_ptr<net::URLConnection> connection;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->cancelled = true;
    connection = std::move(shared_->connection);
  }
  if (connection) connection->cancel();
}

std::string OAuthAPIRequestLoader::responseString() const {
  // Replies of the token exchange are form-encoded ASCII; other encodings are read as UTF-8.
  return fnd::makeValidUtf8(std::string_view(reinterpret_cast<const char*>(data_.data()), data_.size()));
}

void OAuthAPIRequestLoader::loadSynchronously(bool synchronously) {
  fnd::Error error;
  if (synchronously) {
    std::shared_ptr<const net::URLResponse> response;
    auto data = OAuthConnection::sendSynchronousRequest(request_, api_->credentials(), &response, &error);
    response_.urlResponse = std::dynamic_pointer_cast<const net::HTTPURLResponse>(response);
    data_ = data.value_or(fnd::Data{});
    if (!data) error_ = error;
    examineReply();
    return;
  }
  auto signed_ = OAuthConnection::signedRequest(request_, api_->credentials(), &error);
  if (!signed_) {
    finished(nullptr, {}, error);
    return;
  }
  auto delegate = std::make_shared<LoaderConnectionDelegate>(
      signed_->url().origin(),
      [weak = weak_from_this(), shared = shared_](std::shared_ptr<const net::URLResponse> response, fnd::Data data,
                                                  std::optional<fnd::Error> err) {
        fnd::DispatchQueue::main().async([weak, shared, response, data = std::move(data), err]() mutable {
          {
            // The connection holds its delegate, which holds this state: let go of it once done.
            std::lock_guard lock(shared->mutex);
            shared->connection.reset();
            if (shared->cancelled) return;
          }
          if (auto self = weak.lock()) self->finished(response, std::move(data), std::move(err));
        });
      });
  std::lock_guard lock(shared_->mutex);
  shared_->connection = net::URLConnection::make(*signed_, delegate);
  shared_->connection->start();
}

void OAuthAPIRequestLoader::finished(std::shared_ptr<const net::URLResponse> response, fnd::Data data,
                                     std::optional<fnd::Error> error) {
  auto self = shared_from_this();
  response_.urlResponse = std::dynamic_pointer_cast<const net::HTTPURLResponse>(response);
  data_ = std::move(data);
  error_ = std::move(error);
  if (error_) {
    if (target_.didFail) target_.didFail(*this, *error_);
  } else {
    examineReply();
    if (target_.didLoad)
      target_.didLoad(*this, data_);
    else if (target_.didLoadText)
      target_.didLoadText(request_.url(), responseString());
  }
  if (api_) api_->loaderFinished(*this);
}

void OAuthAPIRequestLoader::examineReply() {
  const std::string text = responseString();
  if (text.size() < 6 || !fnd::hasPrefix(text, "oauth") || !api_) return;
  response_.oauthParameters = OAURLRequestParameter::parameterDictionaryFromString(&text);
  const auto& params = response_.oauthParameters;
  auto value = [&](const char* key) -> std::optional<std::string> {
    const auto it = params.find(key);
    return it == params.end() ? std::nullopt : it->second.stringIfString();
  };
  auto& center = fnd::NotificationCenter::defaultCenter();
  auto& store = api_->credentials();
  const int status = response_.urlResponse ? response_.urlResponse->statusCode() : 0;
  // Posted with the API as sender, so methods of other APIs never take these tokens.
  const void* sender = api_;
  if (status == 401 || (text.size() >= 14 && fnd::hasPrefix(text, "oauth_problem"))) {
    if (!params.empty() && value("oauth_problem")) {
      if (value("oauth_problem") == "token_rejected") {
        if (store.requestToken() && !store.accessToken()) {
          store.setRequestToken(std::nullopt);
          store.setRequestTokenSecret(std::nullopt);
          center.postNotificationName(kOAuthNotificationRequestTokenRejected, sender, params);
        } else if (store.accessToken() && !store.requestToken()) {
          center.postNotificationName(kOAuthNotificationAccessTokenRejected, sender, params);
        }
      }
      center.postNotificationName(kOAuthNotificationErrorHasOccurred, sender, params);
    }
    return;
  }
  const auto token = value("oauth_token");
  if (text.size() < 12 || !fnd::hasPrefix(text, "oauth_token") || !token) return;
  const auto secret = value("oauth_token_secret");
  const bool hasRequest = store.requestToken().has_value();
  const bool hasAccess = store.accessToken().has_value();
  if (!hasRequest && !hasAccess) {
    store.setRequestToken(token);
    store.setRequestTokenSecret(secret);
    center.postNotificationName(kOAuthNotificationRequestTokenReceived, sender, params);
  } else if (hasRequest && !hasAccess) {
    store.setRequestToken(std::nullopt);
    store.setRequestTokenSecret(std::nullopt);
    store.setAccessToken(token);
    store.setAccessTokenSecret(secret);
    center.postNotificationName(kOAuthNotificationAccessTokenReceived, sender, params);
  } else if (hasAccess && !hasRequest) {
    store.setAccessToken(token);
    store.setAccessTokenSecret(secret);
    center.postNotificationName(kOAuthNotificationAccessTokenRefreshed, sender, params);
  }
}

}  // namespace kesto
