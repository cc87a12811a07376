#include "Skyfolder/SFRequest.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Net/URLConnection.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLError.h"
#include "Skyfolder/SFJSON.h"
#include "Skyfolder/SFLog.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace kesto {

const char* const kSFSkyfolderErrorDomain = "skyfolder.com";

namespace {

std::atomic<SFNetworkRequestDelegate*> gNetworkDelegate{nullptr};

void networkRequestStarted() {
  if (auto* d = gNetworkDelegate.load()) d->networkRequestStarted();
}
void networkRequestStopped() {
  if (auto* d = gNetworkDelegate.load()) d->networkRequestStopped();
}

fnd::Error errorWithInfo(const std::string& domain, std::int64_t code, const fnd::Dictionary& userInfo) {
  return fnd::Error(domain, code, userInfo);
}

std::optional<std::string> headerOf(const net::URLResponse& response, std::string_view name) {
  const auto* http = dynamic_cast<const net::HTTPURLResponse*>(&response);
  return http ? http->valueForHTTPHeaderField(name) : std::nullopt;
}

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

// State shared with the connection's delegate on the network thread.
struct SFRequest::Shared {
  std::mutex mutex;
  std::atomic<bool> cancelled{false};
  std::atomic<bool> finished{false};
  std::shared_ptr<net::URLConnection> connection;
  std::shared_ptr<const net::HTTPURLResponse> response;
  std::optional<fnd::Value> metadataJSON;
  fnd::Data resultData;
  fnd::Dictionary userInfo;
  std::string resultFilename;
  std::string tempFilename;
  std::string origin;
  int fd = -1;
  bool compressed = false;
  std::int64_t bytesDownloaded = 0;
  std::atomic<double> downloadProgress{0};
  std::atomic<double> uploadProgress{0};
  std::atomic<bool> downloadProgressPending{false};
  std::atomic<bool> uploadProgressPending{false};
  bool wantsDownloadProgress = false;
  bool wantsUploadProgress = false;

  int status() const { return response ? response->statusCode() : 0; }
  bool toFile() const { return !resultFilename.empty() && status() == 200; }

  std::int64_t responseBodySize() const {
    // A compressed reply announces its compressed length, not the octets handed over.
    if (response && !compressed) {
      if (auto length = response->valueForHTTPHeaderField("Content-Length")) {
        char* end = nullptr;
        const long long n = std::strtoll(length->c_str(), &end, 10);
        if (n > 0) return n;
      }
    }
    if (metadataJSON && metadataJSON->isDictionary()) {
      const auto& bytes = (*metadataJSON)["bytes"];
      if (bytes.isNumber()) return bytes.intValue();
    }
    return 0;
  }

  // Caller holds the mutex.
  void closeFile() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  void removeTempFile(const char* failureMessage) {
    closeFile();
    if (tempFilename.empty()) return;
    fnd::Error err;
    if (!fnd::FileManager::removeItem(tempFilename, &err) && failureMessage)
      SFLogError(failureMessage, err.localizedDescription());
    tempFilename.clear();
  }
};

// Receives the connection's callbacks on the network thread and hands results to the main queue.
class SFRequestConnectionDelegate : public net::URLConnectionDelegate {
 public:
  SFRequestConnectionDelegate(std::weak_ptr<SFRequest> request, std::shared_ptr<SFRequest::Shared> shared)
      : request_(std::move(request)), shared_(std::move(shared)) {}

  std::optional<net::URLRequest> connectionWillSendRequest(net::URLConnection&, const net::URLRequest& request,
                                                           const net::HTTPURLResponse* redirect) override {
    // Signed URLs carry the secrets: never follow to another origin or off https.
    if (redirect && (!request.url().isHTTPS() || request.url().origin() != shared_->origin)) return std::nullopt;
    return request;
  }

  void connectionWillSendRequestForAuthenticationChallenge(net::URLConnection&,
                                                           net::AuthenticationChallenge& challenge) override {
    const auto& space = challenge.protectionSpace();
    const std::string& method = space.authenticationMethod;
    if (method == net::kAuthenticationMethodServerTrust) {
      const auto& trust = space.serverTrust;
      if (!trust) {
        challenge.cancel();
        return;
      }
      trust->setAnchorCertificates(SFRequest::rootCertificates());
      if (trust->evaluate() != net::TrustResult::Unspecified) {
        SFLogError("SkyfolderSDK: SSL Error. Cannot validate a certificate for the host: %@", space.host);
        challenge.cancel();
        return;
      }
      const auto& chain = trust->certificateChain();
      if (chain.empty() || SFRequest::isRevokedCertificate(chain.front().der())) {
        SFLogError("SkyfolderSDK: SSL Error. Revoked certificate for the host: %@", space.host);
        challenge.cancel();
        return;
      }
      challenge.useCredential(net::URLCredential::forTrust(trust));
    } else if (method == "NSURLAuthenticationMethodOAuth" || method == "NSURLAuthenticationMethodOAuth2") {
      challenge.continueWithoutCredential();
    } else if (const auto& failed = challenge.failureResponse();
               failed && !headerOf(*failed, "WWW-Authenticate")) {
      // A refusal that asks for no credentials (the service's 401 with a JSON body) is the answer
      // itself, not a challenge.
      challenge.performDefaultHandling();
    } else {
      SFLogError("SkyfolderSDK: SSL Error. Unknown authentication method %@ for Skyfolder host: %@", method,
                 space.host);
      challenge.cancel();
    }
  }

  void connectionDidSendBodyData(net::URLConnection&, std::int64_t, std::int64_t total,
                                 std::int64_t expected) override {
    if (expected > 0) shared_->uploadProgress = static_cast<double>(total) / static_cast<double>(expected);
    if (shared_->wantsUploadProgress && !shared_->uploadProgressPending.exchange(true)) post(Post::UploadProgress);
  }

  void connectionDidReceiveResponse(net::URLConnection&, std::shared_ptr<const net::URLResponse> response) override {
    std::lock_guard lock(shared_->mutex);
    shared_->response = std::dynamic_pointer_cast<const net::HTTPURLResponse>(response);
    if (!shared_->response) return;
    if (auto header = shared_->response->valueForHTTPHeaderField("X-Skyfolder-Metadata")) {
      SFJsonParser parser;
      shared_->metadataJSON = parser.objectWithString(*header);
    }
    const auto encoding = shared_->response->valueForHTTPHeaderField("Content-Encoding");
    shared_->compressed = encoding && !encoding->empty() && *encoding != "identity";
    if (shared_->toFile()) {
      const std::string& dest = shared_->resultFilename;
      // Beside the destination, so the final rename is atomic and never crosses file systems.
      const std::string name = dest.substr(dest.rfind('/') + 1);
      shared_->tempFilename = fnd::FileManager::createTemporaryFile("." + name + ".", ".download", directoryOf(dest));
      if (shared_->tempFilename.empty()) {
        SFLogError("SFRequest#connection:didReceiveData: Error creating temp file: (%d) %s", errno,
                   std::string(std::strerror(errno)));
      } else {
        shared_->fd = ::open(shared_->tempFilename.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      }
    }
  }

  void connectionDidReceiveData(net::URLConnection& connection, const std::uint8_t* bytes,
                                std::size_t length) override {
    std::optional<fnd::Error> failure;
    {
      std::lock_guard lock(shared_->mutex);
      if (shared_->cancelled) return;
      if (shared_->toFile()) {
        if (!writeAll(bytes, length)) {
          connection.cancel();
          shared_->removeTempFile(nullptr);
          failure = errorWithInfo(kSFSkyfolderErrorDomain, kSFErrorWriteFailed, shared_->userInfo);
        }
      } else {
        const std::size_t cap =
            shared_->resultFilename.empty() ? SFRequest::kMaxResultBytes : SFRequest::kMaxErrorBodyBytes;
        if (shared_->resultData.size() + length > cap) {
          connection.cancel();
          failure = errorWithInfo(fnd::kURLErrorDomain, net::urlerror::DataLengthExceedsMaximum, shared_->userInfo);
        } else {
          shared_->resultData.insert(shared_->resultData.end(), bytes, bytes + length);
        }
      }
      if (!failure) {
        shared_->bytesDownloaded += static_cast<std::int64_t>(length);
        const std::int64_t expected = shared_->responseBodySize();
        if (expected > 0) {
          shared_->downloadProgress = static_cast<double>(shared_->bytesDownloaded) / static_cast<double>(expected);
          if (shared_->wantsDownloadProgress && !shared_->downloadProgressPending.exchange(true))
            post(Post::DownloadProgress);
        }
      }
    }
    if (failure) complete(std::move(failure));
  }

  bool connectionWillCacheResponse(net::URLConnection&, const net::URLResponse&) override { return false; }

  void connectionDidFinishLoading(net::URLConnection&) override {
    std::optional<fnd::Error> error;
    {
      std::lock_guard lock(shared_->mutex);
      if (shared_->cancelled) return;
      shared_->closeFile();
      const int status = shared_->status();
      if (status != 200) {
        fnd::Dictionary info = shared_->userInfo;
        if (!shared_->resultData.empty()) {
          SFJsonParser parser;
          std::string_view body(reinterpret_cast<const char*>(shared_->resultData.data()), shared_->resultData.size());
          if (auto json = parser.objectWithString(body); json && json->isDictionary())
            for (const auto& [k, v] : json->dictionary()) info.insert_or_assign(k, v);
        }
        error = fnd::Error(kSFSkyfolderErrorDomain, status, std::move(info));
      } else if (!shared_->resultFilename.empty() && !shared_->tempFilename.empty()) {
        fnd::Error fileError;
        const auto attrs = fnd::FileManager::attributesOfItem(shared_->tempFilename, &fileError);
        const std::int64_t expected = shared_->responseBodySize();
        if (!attrs) {
          SFLogError("SFRequest#connectionDidFinishLoading: error getting file attrs: %@", fileError.description());
          shared_->removeTempFile(nullptr);
          error = errorWithInfo(fileError.domain(), fileError.code(), shared_->userInfo);
        } else if (expected != 0 && static_cast<std::uint64_t>(expected) != attrs->size) {
          // For a compressed reply the expected size is the metadata's, the decompressed one.
          shared_->removeTempFile(nullptr);
          error = errorWithInfo(kSFSkyfolderErrorDomain, kSFErrorSizeMismatch, shared_->userInfo);
        } else if (::rename(shared_->tempFilename.c_str(), shared_->resultFilename.c_str()) != 0) {
          // The old destination stays intact: the rename either happened whole or not at all.
          const int err = errno;
          SFLogError("SFRequest#connectionDidFinishLoading: error moving temp file to desired location: %@",
                     std::string(std::strerror(err)));
          shared_->removeTempFile(nullptr);
          error = errorWithInfo(fnd::kPOSIXErrorDomain, err, shared_->userInfo);
        }
        shared_->tempFilename.clear();
      } else if (!shared_->resultFilename.empty()) {
        error = errorWithInfo(kSFSkyfolderErrorDomain, kSFErrorWriteFailed, shared_->userInfo);
      }
    }
    complete(std::move(error));
  }

  void connectionDidFailWithError(net::URLConnection&, const fnd::Error& platformError) override {
    {
      std::lock_guard lock(shared_->mutex);
      if (shared_->cancelled) return;
      shared_->bytesDownloaded = 0;
      shared_->downloadProgress = 0;
      shared_->uploadProgress = 0;
      shared_->removeTempFile("SFRequest#connection:didFailWithError: error removing temporary file: %@");
    }
    complete(errorWithInfo(platformError.domain(), platformError.code(), shared_->userInfo));
  }

 private:
  enum class Post { DownloadProgress, UploadProgress };

  bool writeAll(const std::uint8_t* bytes, std::size_t length) {
    return shared_->fd >= 0 && fnd::FileManager::writeAll(shared_->fd, bytes, length);
  }

  void post(Post kind) {
    fnd::DispatchQueue::main().async([request = request_, shared = shared_, kind] {
      auto& pending = kind == Post::DownloadProgress ? shared->downloadProgressPending : shared->uploadProgressPending;
      pending = false;
      if (shared->cancelled) return;
      auto r = request.lock();
      if (!r) return;
      const auto& callback = kind == Post::DownloadProgress ? r->downloadProgressCallback_ : r->uploadProgressCallback_;
      if (callback) callback(*r);
    });
  }

  void complete(std::optional<fnd::Error> error) {
    if (shared_->finished.exchange(true)) return;
    fnd::DispatchQueue::main().async([request = request_, shared = shared_, error = std::move(error)] {
      {
        // The connection holds its delegate, which holds this state: let go of it once done.
        std::lock_guard lock(shared->mutex);
        shared->connection.reset();
      }
      if (shared->cancelled) return;
      auto r = request.lock();
      if (!r) return;
      if (error) r->setError(*error);
      r->finish(error && r->failure_ ? r->failure_ : r->completion_);
    });
  }

  std::weak_ptr<SFRequest> request_;
  std::shared_ptr<SFRequest::Shared> shared_;
};

SFRequest::SFRequest(net::URLRequest request, Callback completion)
    : request_(std::move(request)), completion_(std::move(completion)), shared_(std::make_shared<Shared>()) {}

std::shared_ptr<SFRequest> SFRequest::make(net::URLRequest request, Callback completion) {
  return std::shared_ptr<SFRequest>(new SFRequest(std::move(request), std::move(completion)));
}

SFRequest::~SFRequest() {
  if (started_ && !shared_->finished && !shared_->cancelled) cancel();
}

void SFRequest::start() {
  if (started_) return;
  shared_->userInfo = userInfo_;
  shared_->resultFilename = resultFilename_;
  shared_->origin = request_.url().origin();
  shared_->wantsDownloadProgress = static_cast<bool>(downloadProgressCallback_);
  shared_->wantsUploadProgress = static_cast<bool>(uploadProgressCallback_);
  if (!sourcePath_.empty() && !request_.httpBodyStream() && !request_.httpBody())
    request_.setHTTPBodyStream(net::makeFileInputStream(sourcePath_));
  auto delegate = std::make_shared<SFRequestConnectionDelegate>(weak_from_this(), shared_);
  auto connection = net::URLConnection::make(request_, delegate);
  {
    std::lock_guard lock(shared_->mutex);
    shared_->connection = connection;
  }
  started_ = true;
  networkRequestStarted();
  connection->start();
}

void SFRequest::cancel() {
  if (shared_->cancelled.exchange(true)) return;
  std::shared_ptr<net::URLConnection> connection;
  {
    std::lock_guard lock(shared_->mutex);
    connection = std::move(shared_->connection);
  }
  if (connection) connection->cancel();
  {
    std::lock_guard lock(shared_->mutex);
    shared_->removeTempFile("SFRequest#cancel Error removing temp file: %@");
  }
  networkRequestStopped();
}

bool SFRequest::isCancelled() const { return shared_->cancelled; }

void SFRequest::finish(const Callback& callback) {
  auto self = shared_from_this();  // the callback may drop the last other reference
  if (callback) callback(*this);
  networkRequestStopped();
}

std::shared_ptr<const net::HTTPURLResponse> SFRequest::response() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->response;
}

int SFRequest::statusCode() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->status();
}

const fnd::Data& SFRequest::resultData() const { return shared_->resultData; }

std::string SFRequest::resultString() const {
  const auto& d = resultData();
  return std::string(d.begin(), d.end());
}

std::optional<fnd::Value> SFRequest::resultJSON() const { return nsstring_dbjson::JSONValue(resultString()); }

const std::optional<fnd::Value>& SFRequest::xSkyfolderMetadataJSON() const { return shared_->metadataJSON; }

std::int64_t SFRequest::responseBodySize() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->responseBodySize();
}

double SFRequest::downloadProgress() const { return shared_->downloadProgress; }
double SFRequest::uploadProgress() const { return shared_->uploadProgress; }

std::optional<fnd::Value> SFRequest::parseResponseAsType(JSONType type) {
  if (error_) return std::nullopt;
  auto json = resultJSON();
  if (json && (type == JSONType::Dictionary ? json->isDictionary() : json->isArray())) return json;
  setError(fnd::Error(kSFSkyfolderErrorDomain, kSFErrorInvalidResponse, userInfo_));
  return std::nullopt;
}

void SFRequest::setError(const fnd::Error& error) {
  if (error_ && error_->isEqual(error)) return;
  error_ = error;
  if (error.domain() == kSFSkyfolderErrorDomain && error.code() == 304) return;
  const auto it = error.userInfo().find("error");
  const std::string message =
      it != error.userInfo().end() && it->second.isString() ? it->second.string() : error.description();
  SFLogWarning("SkyfolderSDK: error making request to %@ - (%ld) %@", request_.url().path(), error.code(), message);
}

void SFRequest::setNetworkRequestDelegate(SFNetworkRequestDelegate* delegate) { gNetworkDelegate = delegate; }

}  // namespace kesto
