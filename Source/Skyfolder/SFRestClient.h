#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/URL.h"
#include "Platform/Net/URLRequest.h"
#include "Skyfolder/SFRestClientDelegate.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace kesto {

class OAuthCredentialConcreteStore;
class SFRequest;
class SFSession;

// The client of the service's Core API v1: builds signed requests, runs each as an SFRequest,
// keeps it while it runs and reports to the delegate. Main thread only. Destroying the client
// cancels everything still running; no callback arrives afterwards.
class SFRestClient {
 public:
  static constexpr const char* kSDKVersion = "1.3.13";

  SFRestClient(std::shared_ptr<SFSession> session, std::optional<std::string> userId);
  ~SFRestClient();
  SFRestClient(const SFRestClient&) = delete;
  SFRestClient& operator=(const SFRestClient&) = delete;

  // Null (with an error logged) for a null session.
  static std::unique_ptr<SFRestClient> initWithSession(std::shared_ptr<SFSession> session,
                                                       std::optional<std::string> userId);
  // The session's first user, or no user (the anonymous store).
  static std::unique_ptr<SFRestClient> initWithSession(std::shared_ptr<SFSession> session);

  std::shared_ptr<OAuthCredentialConcreteStore> credentialStore() const;
  const std::optional<std::string>& userId() const { return userId_; }
  const std::shared_ptr<SFSession>& session() const { return session_; }
  SFRestClientDelegate* delegate() const { return delegate_; }
  void setDelegate(SFRestClientDelegate* delegate);

  void loadMetadata(const std::string& path);
  void loadFile(const std::string& path, const std::string& destPath) { loadFile(path, std::nullopt, destPath); }
  void loadFile(const std::string& path, const std::optional<std::string>& rev, const std::string& destPath);
  void cancelFileLoad(const std::string& path);
  // "overwrite" false, and "parent_rev" when a revision is given.
  void uploadFile(const std::string& filename, const std::string& toPath, const std::optional<std::string>& parentRev,
                  const std::string& fromPath);
  void uploadFile(const std::string& filename, const std::string& toPath, const std::string& fromPath) {
    uploadFile(filename, toPath, fromPath, fnd::Dictionary{});
  }
  void uploadFile(const std::string& filename, const std::string& toPath, const std::string& fromPath,
                  const fnd::Dictionary& params);
  void cancelFileUpload(const std::string& destPath);

  // The rest of the API; results go to the matching delegate operations.
  void loadMetadataWithHash(const std::string& path, const std::optional<std::string>& hash);
  void loadMetadataAtRev(const std::string& path, const std::optional<std::string>& rev);
  void loadDelta(const std::optional<std::string>& cursor);
  void loadThumbnail(const std::string& path, const std::optional<std::string>& size, const std::string& destPath);
  void cancelThumbnailLoad(const std::string& path, const std::optional<std::string>& size);
  // Sends up to 2 MiB of `fromPath` from `offset`.
  void uploadFileChunk(const std::optional<std::string>& uploadId, std::uint64_t offset, const std::string& fromPath);
  void uploadFileFromUploadId(const std::string& filename, const std::string& toPath,
                              const std::optional<std::string>& parentRev, const std::string& uploadId);
  void loadRevisionsForFile(const std::string& path, long limit = 10);
  void restoreFile(const std::string& path, const std::string& rev);
  void moveFrom(const std::string& fromPath, const std::string& toPath);
  void copyFrom(const std::string& fromPath, const std::string& toPath);
  void createCopyRef(const std::string& path);
  void copyFromRef(const std::string& copyRef, const std::string& toPath);
  void deletePath(const std::string& path);
  void createFolder(const std::string& path);
  void loadAccountInfo();
  void searchPath(const std::string& path, const std::string& keyword);
  void loadSharableLinkForFile(const std::string& path, bool shortUrl = true);
  void loadStreamableURLForFile(const std::string& path);

  void cancelAllRequests();
  // Running requests plus metadata replies still being parsed.
  std::size_t requestCount() const;

  // The link flow's token calls.
  void loadRequestToken();
  bool requestTokenLoaded() const;
  std::optional<net::URL> authorizeURL() const;
  void loadAccessToken();
  // "oauth_token=..&oauth_token_secret=..&uid=.." with percent-decoded values.
  static void parse(const std::string& text, std::string* token, std::string* secret, std::string* userId);

  // A signed request for https://host/1<escaped path> with "locale" and the OAuth parameters;
  // absent when the client has no credentials or the URL cannot be made.
  std::optional<net::URLRequest> requestWithHost(const std::string& host, const std::string& path,
                                                 const fnd::Dictionary& parameters,
                                                 const std::string& method = "GET");

  static std::string escapePath(const std::string& path);
  static const std::string& bestLanguage();
  static const std::string& userAgent();
  void checkForAuthenticationFailure(const SFRequest& request);

 private:
  bool implements(SFRestClientDelegate::Operation op) const { return delegate_ && (operations_ & op); }
  // Fails a call that cannot be signed because the client's user is gone.
  void failWithoutCredentials(SFRestClientDelegate::Operation failureOp, fnd::Dictionary userInfo);
  void requestDidLoadMetadata(SFRequest& request);
  void requestDidLoadFile(SFRequest& request);
  void requestDidUploadFile(SFRequest& request);
  void requestDidLoadRequestToken(SFRequest& request);
  void requestDidLoadAccessToken(SFRequest& request);
  void removeRequest(SFRequest& request);
  // Downloads, thumbnails and uploads, each kept under its path (and size): a second transfer
  // to the same key replaces the first, which must then stop for good.
  using TransferMap = std::map<std::string, std::shared_ptr<SFRequest>>;
  static void startTransfer(TransferMap& transfers, const std::string& key, const std::shared_ptr<SFRequest>& request);
  static void cancelTransfer(TransferMap& transfers, const std::string& key);
  void deliverFailure(SFRestClientDelegate::Operation failureOp, const fnd::Error& error);
  // A built request kept in `requests_` until its completion runs, not started yet; a request
  // that could not be built fails the call and answers null.
  std::shared_ptr<SFRequest> makeRequest(std::optional<net::URLRequest> urlRequest, fnd::Dictionary userInfo,
                                         SFRestClientDelegate::Operation failureOp,
                                         std::function<void(SFRequest&)> completion);
  // The same, started.
  void startRequest(std::optional<net::URLRequest> urlRequest, fnd::Dictionary userInfo,
                    SFRestClientDelegate::Operation failureOp, std::function<void(SFRequest&)> completion);
  // A POST whose signed parameters travel in the query (uploads): no locale, no user agent.
  std::optional<net::URLRequest> queryPostRequest(const std::string& urlText, const fnd::Dictionary& parameters);
  // The reply as a dictionary; on failure the error (HTTP or 1004) goes to `failureOp`.
  std::optional<fnd::Dictionary> dictionaryReply(SFRequest& request, SFRestClientDelegate::Operation failureOp,
                                                 bool checkAuthorization);
  // True when the request failed: the failure was checked for a refused authorisation and sent
  // to `failureOp`.
  bool deliveredFailure(SFRequest& request, SFRestClientDelegate::Operation failureOp);
  // A metadata call for `path` with extra query parameters (a hash or a revision).
  void startMetadataLoad(const std::string& path, const fnd::Dictionary& parameters);
  // A POST to /fileops whose reply is the metadata of the result, delivered with the parameter
  // named `sourceKey` (the source path or copy reference).
  using MetadataDelivery = void (SFRestClientDelegate::*)(SFRestClient&, const std::string&,
                                                          std::shared_ptr<const SFMetadata>);
  void fileOperation(const std::string& endpoint, fnd::Dictionary parameters, const char* sourceKey,
                     SFRestClientDelegate::Operation failureOp, SFRestClientDelegate::Operation successOp,
                     MetadataDelivery deliver);
  // A GET for `path` whose reply carries a "url", delivered with the path.
  using LinkDelivery = void (SFRestClientDelegate::*)(SFRestClient&, const std::string&, const std::string&);
  void linkRequest(const std::string& endpoint, const std::string& path, const fnd::Dictionary& parameters,
                   SFRestClientDelegate::Operation failureOp, SFRestClientDelegate::Operation successOp,
                   LinkDelivery deliver);

  std::shared_ptr<SFSession> session_;
  std::optional<std::string> userId_;
  std::string root_;
  std::set<std::shared_ptr<SFRequest>> requests_;
  TransferMap loadRequests_;
  TransferMap imageLoadRequests_;
  TransferMap uploadRequests_;
  SFRestClientDelegate* delegate_ = nullptr;
  std::uint64_t operations_ = 0;
  std::size_t pendingParses_ = 0;
  // Work that outlives a call (background parses, deferred failures) checks this before it
  // reaches the client.
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
