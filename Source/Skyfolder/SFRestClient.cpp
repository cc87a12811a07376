#include "Skyfolder/SFRestClient.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Net/Streams.h"
#include "Skyfolder/OAuthCredentialConcreteStore.h"
#include "Skyfolder/OAuthURLRequest.h"
#include "Skyfolder/SFConfig.h"
#include "Skyfolder/SFJSON.h"
#include "Skyfolder/SFLog.h"
#include "Skyfolder/SFMetadata.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFSession.h"

#include <algorithm>

namespace kesto {

namespace {

constexpr const char* kScheme = "https";
constexpr const char* kAPIVersion = "1";
constexpr double kRequestTimeout = 20.0;

std::string joinPath(const std::string& folder, const std::string& name) {
  return fnd::appendingPathComponent(folder, name);
}

fnd::Error sdkError(std::int64_t code, fnd::Dictionary info) {
  return fnd::Error(kSFSkyfolderErrorDomain, code, std::move(info));
}

}  // namespace

SFRestClient::SFRestClient(std::shared_ptr<SFSession> session, std::optional<std::string> userId)
    : session_(std::move(session)),
      userId_(std::move(userId)),
      root_(session_ ? session_->root() : std::string()) {
  KESTO_ASSERT_MAIN_THREAD();
}

SFRestClient::~SFRestClient() {
  cancelAllRequests();
  lifetime_.end();
}

std::unique_ptr<SFRestClient> SFRestClient::initWithSession(std::shared_ptr<SFSession> session,
                                                            std::optional<std::string> userId) {
  if (!session) {
    SFLogError("SkyfolderSDK: cannot initialize a SFRestClient with a nil session");
    return nullptr;
  }
  return std::make_unique<SFRestClient>(std::move(session), std::move(userId));
}

std::unique_ptr<SFRestClient> SFRestClient::initWithSession(std::shared_ptr<SFSession> session) {
  std::optional<std::string> user;
  if (session) {
    const auto ids = session->userIds();
    if (!ids.empty()) user = ids.front();
  }
  return initWithSession(std::move(session), std::move(user));
}

std::shared_ptr<OAuthCredentialConcreteStore> SFRestClient::credentialStore() const {
  return session_ ? session_->credentialStoreForUserId(userId_) : nullptr;
}

void SFRestClient::setDelegate(SFRestClientDelegate* delegate) {
  KESTO_ASSERT_MAIN_THREAD();
  delegate_ = delegate;
  operations_ = delegate ? delegate->implementedOperations() : 0;
}

std::string SFRestClient::escapePath(const std::string& path) { return fnd::escapePath(path); }

const std::string& SFRestClient::bestLanguage() {
  // The application ships in English only, so every preferred language falls back to it.
  static const std::string language = "en";
  return language;
}

const std::string& SFRestClient::userAgent() {
  static const std::string agent = fnd::replaceAll(SFConfig::bundleDisplayName(), " ", "") + "/" +
                                   SFConfig::bundleShortVersion() + " OfficialSkyfolderIosSdk/" + kSDKVersion;
  return agent;
}

std::optional<net::URLRequest> SFRestClient::requestWithHost(const std::string& host, const std::string& path,
                                                             const fnd::Dictionary& parameters,
                                                             const std::string& method) {
  const auto store = credentialStore();
  if (!store) return std::nullopt;
  auto url = net::URL::fromString(std::string(kScheme) + "://" + host + "/" + kAPIVersion + escapePath(path));
  if (!url) return std::nullopt;
  fnd::Dictionary all{{"locale", fnd::Value(bestLanguage())}};
  for (const auto& [k, v] : parameters) all.insert_or_assign(k, v);
  auto params = store->oauthParameters();
  const auto extra = OAURLRequestParameter::parametersFromDictionary(all);
  params.insert(params.end(), extra.begin(), extra.end());
  OAuthURLRequest oauthRequest(std::move(*url), std::move(params));
  oauthRequest.setHTTPMethod(method.empty() ? "GET" : method);
  fnd::Error error;
  auto request = oauthRequest.urlRequestSignedWithSecret(store->signingKey(), store->signatureMethod().value_or(""), &error);
  if (!request) {
    SFLogError("SkyfolderSDK: cannot sign a request: %@", error.localizedDescription());
    return std::nullopt;
  }
  request->setTimeoutInterval(kRequestTimeout);
  request->setValueForHTTPHeaderField(userAgent(), "User-Agent");
  return request;
}

void SFRestClient::failWithoutCredentials(SFRestClientDelegate::Operation failureOp, fnd::Dictionary userInfo) {
  // The user was unlinked while the client lived: nothing can be signed, so nothing is sent.
  SFLogWarning("SkyfolderSDK: no credentials for the client's user; the call is not sent");
  fnd::DispatchQueue::main().async([this, alive = lifetime_.watch(), failureOp,
                                    error = sdkError(401, std::move(userInfo))] {
    if (alive) deliverFailure(failureOp, error);
  });
}

std::optional<net::URLRequest> SFRestClient::queryPostRequest(const std::string& urlText,
                                                              const fnd::Dictionary& parameters) {
  const auto store = credentialStore();
  auto url = net::URL::fromString(urlText);
  if (!store || !url) return std::nullopt;
  auto params = store->oauthParameters();
  const auto extra = OAURLRequestParameter::parametersFromDictionary(parameters);
  params.insert(params.end(), extra.begin(), extra.end());
  std::stable_sort(params.begin(), params.end());
  const std::string parameterString = OAURLRequestParameter::parameterStringForParameters(params);
  OAuthURLRequest signing(*url, params);
  signing.setHTTPMethod("POST");
  fnd::Error error;
  const auto signature = OAuthSignatureParameter::make(parameterString, store->signingKey(), signing,
                                                       store->signatureMethod().value_or(""), &error);
  if (!signature) {
    SFLogError("SkyfolderSDK: cannot sign a request: %@", error.localizedDescription());
    return std::nullopt;
  }
  auto full = net::URL::fromString(urlText + "?" + parameterString + "&" + signature->URLEncodedParameterString());
  if (!full) return std::nullopt;
  net::URLRequest request(std::move(*full));
  request.setHTTPMethod("POST");
  return request;
}

std::shared_ptr<SFRequest> SFRestClient::makeRequest(std::optional<net::URLRequest> urlRequest, fnd::Dictionary userInfo,
                                                    SFRestClientDelegate::Operation failureOp,
                                                    std::function<void(SFRequest&)> completion) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!urlRequest) {
    failWithoutCredentials(failureOp, std::move(userInfo));
    return nullptr;
  }
  auto request = SFRequest::make(std::move(*urlRequest), [this, completion = std::move(completion)](SFRequest& r) {
    auto keep = r.shared_from_this();
    removeRequest(r);
    completion(r);
  });
  request->setUserInfo(std::move(userInfo));
  requests_.insert(request);
  return request;
}

void SFRestClient::startRequest(std::optional<net::URLRequest> urlRequest, fnd::Dictionary userInfo,
                                SFRestClientDelegate::Operation failureOp, std::function<void(SFRequest&)> completion) {
  if (auto request = makeRequest(std::move(urlRequest), std::move(userInfo), failureOp, std::move(completion)))
    request->start();
}

std::optional<fnd::Dictionary> SFRestClient::dictionaryReply(SFRequest& request,
                                                             SFRestClientDelegate::Operation failureOp,
                                                             bool checkAuthorization) {
  if (auto json = request.parseResponseAsType(SFRequest::JSONType::Dictionary)) return json->dictionary();
  if (checkAuthorization) checkForAuthenticationFailure(request);
  if (request.error()) deliverFailure(failureOp, *request.error());
  return std::nullopt;
}

bool SFRestClient::deliveredFailure(SFRequest& request, SFRestClientDelegate::Operation failureOp) {
  if (!request.error()) return false;
  checkForAuthenticationFailure(request);
  deliverFailure(failureOp, *request.error());
  return true;
}

void SFRestClient::removeRequest(SFRequest& request) {
  const auto sameRequest = [&](const auto& entry) { return entry.second.get() == &request; };
  for (auto it = requests_.begin(); it != requests_.end(); ++it) {
    if (it->get() == &request) {
      requests_.erase(it);
      return;
    }
  }
  for (auto* map : {&loadRequests_, &imageLoadRequests_, &uploadRequests_}) {
    const auto it = std::find_if(map->begin(), map->end(), sameRequest);
    if (it != map->end()) {
      map->erase(it);
      return;
    }
  }
}

void SFRestClient::startTransfer(TransferMap& transfers, const std::string& key, const std::shared_ptr<SFRequest>& request) {
  if (auto it = transfers.find(key); it != transfers.end()) it->second->cancel();
  transfers[key] = request;
  request->start();
}

void SFRestClient::cancelTransfer(TransferMap& transfers, const std::string& key) {
  const auto it = transfers.find(key);
  if (it == transfers.end()) return;
  it->second->cancel();
  transfers.erase(it);
}

// ---- metadata

void SFRestClient::loadMetadata(const std::string& path) { startMetadataLoad(path, {}); }

void SFRestClient::startMetadataLoad(const std::string& path, const fnd::Dictionary& parameters) {
  fnd::Dictionary info = parameters;
  info.insert_or_assign("path", fnd::Value(path));
  startRequest(requestWithHost(SFConfig::apiHost(), "/metadata/" + root_ + path, parameters),
               std::move(info), SFRestClientDelegate::LoadMetadataFailedWithError,
               [this](SFRequest& r) { requestDidLoadMetadata(r); });
}

void SFRestClient::requestDidLoadMetadata(SFRequest& request) {
  if (request.statusCode() == 304) {
    if (implements(SFRestClientDelegate::MetadataUnchangedAtPath))
      delegate_->restClientMetadataUnchangedAtPath(*this, request.userInfo().at("path").string());
    return;
  }
  if (deliveredFailure(request, SFRestClientDelegate::LoadMetadataFailedWithError)) return;
  // A listing can be large: decode it off the main thread and deliver the record back here.
  ++pendingParses_;
  fnd::DispatchQueue::global().async([client = this, alive = lifetime_.watch(), body = request.resultString(),
                                      userInfo = request.userInfo()] {
    std::shared_ptr<const SFMetadata> metadata;
    if (auto json = nsstring_dbjson::JSONValue(body)) metadata = SFMetadata::initWithDictionary(*json);
    fnd::DispatchQueue::main().async([client, alive, metadata, userInfo] {
      if (!alive) return;
      SFRestClient& self = *client;
      --self.pendingParses_;
      if (metadata) {
        if (self.implements(SFRestClientDelegate::LoadedMetadata))
          self.delegate_->restClientLoadedMetadata(self, metadata);
        return;
      }
      SFLogWarning("SkyfolderSDK: error parsing metadata");
      if (self.implements(SFRestClientDelegate::LoadMetadataFailedWithError))
        self.delegate_->restClientLoadMetadataFailedWithError(self, sdkError(kSFErrorInvalidResponse, userInfo));
    });
  });
}

// ---- download

void SFRestClient::loadFile(const std::string& path, const std::optional<std::string>& rev,
                            const std::string& destPath) {
  fnd::Dictionary info{{"path", fnd::Value(path)}, {"destinationPath", fnd::Value(destPath)}};
  fnd::Dictionary params;
  if (rev) {
    info.emplace("rev", fnd::Value(*rev));
    params.emplace("rev", fnd::Value(*rev));
  }
  auto urlRequest = requestWithHost(SFConfig::contentHost(), "/files/" + root_ + path, params);
  if (!urlRequest) return failWithoutCredentials(SFRestClientDelegate::LoadFileFailedWithError, info);
  auto request = SFRequest::make(std::move(*urlRequest), [this](SFRequest& r) { requestDidLoadFile(r); });
  request->setResultFilename(destPath);
  request->setUserInfo(std::move(info));
  request->setDownloadProgressCallback([this](SFRequest& r) {
    if (implements(SFRestClientDelegate::LoadProgressForFile))
      delegate_->restClientLoadProgress(*this, r.downloadProgress(), r.resultFilename());
  });
  startTransfer(loadRequests_, path, request);
}

void SFRestClient::requestDidLoadFile(SFRequest& request) {
  auto keep = request.shared_from_this();
  removeRequest(request);
  if (deliveredFailure(request, SFRestClientDelegate::LoadFileFailedWithError)) return;
  const std::string& dest = request.resultFilename();
  const auto response = request.response();
  const std::string contentType =
      response ? response->valueForHTTPHeaderField("Content-Type").value_or("") : std::string();
  if (implements(SFRestClientDelegate::LoadedFile)) {
    delegate_->restClientLoadedFile(*this, dest);
  } else if (implements(SFRestClientDelegate::LoadedFileContentTypeMetadata)) {
    std::shared_ptr<const SFMetadata> metadata;
    if (const auto& json = request.xSkyfolderMetadataJSON()) metadata = SFMetadata::initWithDictionary(*json);
    delegate_->restClientLoadedFile(*this, dest, contentType, metadata);
  } else if (implements(SFRestClientDelegate::LoadedFileContentType)) {
    delegate_->restClientLoadedFile(*this, dest, contentType);
  } else if (implements(SFRestClientDelegate::LoadedFileContentTypeETag)) {
    const std::string eTag = response ? response->valueForHTTPHeaderField("Etag").value_or("") : std::string();
    delegate_->restClientLoadedFileETag(*this, dest, contentType, eTag);
  }
}

void SFRestClient::cancelFileLoad(const std::string& path) { cancelTransfer(loadRequests_, path); }

// ---- upload

void SFRestClient::uploadFile(const std::string& filename, const std::string& toPath,
                              const std::optional<std::string>& parentRev, const std::string& fromPath) {
  fnd::Dictionary params{{"overwrite", fnd::Value("false")}};
  if (parentRev) params.emplace("parent_rev", fnd::Value(*parentRev));
  uploadFile(filename, toPath, fromPath, params);
}

void SFRestClient::uploadFile(const std::string& filename, const std::string& toPath, const std::string& fromPath,
                              const fnd::Dictionary& callParams) {
  const std::string destPath = joinPath(toPath, filename);
  fnd::Dictionary info{{"sourcePath", fnd::Value(fromPath)}, {"destinationPath", fnd::Value(destPath)}};
  bool isDirectory = false;
  const bool exists = fnd::FileManager::fileExists(fromPath, &isDirectory);
  if (!exists || isDirectory || !fnd::FileManager::attributesOfItem(fromPath) ||
      !fnd::FileManager::isReadable(fromPath)) {
    const std::string message = isDirectory ? "Unable to upload folders" : "File does not exist";
    SFLogWarning("SkyfolderSDK: %@ (%@)", message, fromPath);
    const auto error = sdkError(isDirectory ? kSFErrorIsDirectory : kSFErrorFileNotFound, info);
    if (implements(SFRestClientDelegate::UploadFileFailedWithError))
      delegate_->restClientUploadFileFailedWithError(*this, error);
    return;
  }
  auto url = net::URL::fromString(std::string(kScheme) + "://" + SFConfig::contentHost() + "/" + kAPIVersion +
                                  "/files_put/" + root_ + escapePath(destPath));
  if (!url) return failWithoutCredentials(SFRestClientDelegate::UploadFileFailedWithError, info);

  fnd::Dictionary withMute = callParams;
  withMute.insert_or_assign("mute", fnd::Value("1"));
  auto built = queryPostRequest(url->absoluteString(), withMute);
  if (!built) return failWithoutCredentials(SFRestClientDelegate::UploadFileFailedWithError, info);
  net::URLRequest urlRequest = std::move(*built);
  urlRequest.setValueForHTTPHeaderField(std::to_string(fnd::FileManager::sizeOfItem(fromPath)), "Content-Length");
  urlRequest.setValueForHTTPHeaderField(std::string("application/octet-stream"), "Content-Type");
  urlRequest.setHTTPBodyStream(net::makeFileInputStream(fromPath));

  auto request = SFRequest::make(std::move(urlRequest), [this](SFRequest& r) { requestDidUploadFile(r); });
  request->setUserInfo(std::move(info));
  request->setSourcePath(fromPath);
  request->setUploadProgressCallback([this, destPath, fromPath](SFRequest& r) {
    if (implements(SFRestClientDelegate::UploadProgressForFileFrom))
      delegate_->restClientUploadProgress(*this, r.uploadProgress(), destPath, fromPath);
  });
  startTransfer(uploadRequests_, destPath, request);
}

void SFRestClient::requestDidUploadFile(SFRequest& request) {
  auto keep = request.shared_from_this();
  removeRequest(request);
  const std::string destPath = request.userInfo().at("destinationPath").string();
  const std::string srcPath = request.userInfo().at("sourcePath").string();
  const auto json = request.parseResponseAsType(SFRequest::JSONType::Dictionary);
  if (!json) {
    checkForAuthenticationFailure(request);
    if (implements(SFRestClientDelegate::UploadFileFailedWithError) && request.error())
      delegate_->restClientUploadFileFailedWithError(*this, *request.error());
    return;
  }
  if (implements(SFRestClientDelegate::UploadedFileFromMetadata))
    delegate_->restClientUploadedFile(*this, destPath, srcPath, SFMetadata::initWithDictionary(*json));
  else if (implements(SFRestClientDelegate::UploadedFileFrom))
    delegate_->restClientUploadedFile(*this, destPath, srcPath);
}

void SFRestClient::cancelFileUpload(const std::string& destPath) { cancelTransfer(uploadRequests_, destPath); }

void SFRestClient::cancelAllRequests() {
  KESTO_ASSERT_MAIN_THREAD();
  for (const auto& r : requests_) r->cancel();
  for (auto* map : {&loadRequests_, &imageLoadRequests_, &uploadRequests_})
    for (const auto& [key, r] : *map) r->cancel();
  requests_.clear();
  loadRequests_.clear();
  imageLoadRequests_.clear();
  uploadRequests_.clear();
  // Parses still running will find the lifetime renewed and deliver nothing.
  if (pendingParses_ > 0) {
    lifetime_.renew();
    pendingParses_ = 0;
  }
}

std::size_t SFRestClient::requestCount() const {
  return requests_.size() + loadRequests_.size() + imageLoadRequests_.size() + uploadRequests_.size() +
         pendingParses_;
}

void SFRestClient::checkForAuthenticationFailure(const SFRequest& request) {
  const auto& error = request.error();
  if (!error || error->code() != 401 || error->domain() != kSFSkyfolderErrorDomain || !session_) return;
  if (auto* delegate = session_->delegate()) delegate->sessionDidReceiveAuthorizationFailure(*session_, userId_);
}

// ---- link flow token calls

void SFRestClient::loadRequestToken() {
  startRequest(requestWithHost(SFConfig::apiHost(), "/oauth/request_token", {}), {},
               SFRestClientDelegate::LoadRequestTokenFailedWithError,
               [this](SFRequest& r) { requestDidLoadRequestToken(r); });
}

void SFRestClient::requestDidLoadRequestToken(SFRequest& request) {
  if (request.error()) {
    if (implements(SFRestClientDelegate::LoadRequestTokenFailedWithError))
      delegate_->restClientLoadRequestTokenFailedWithError(*this, *request.error());
    return;
  }
  std::string token, secret;
  parse(request.resultString(), &token, &secret, nullptr);
  if (auto store = credentialStore()) {
    store->setRequestToken(token);
    store->setRequestTokenSecret(secret);
  }
  if (implements(SFRestClientDelegate::LoadedRequestToken)) delegate_->restClientLoadedRequestToken(*this);
}

bool SFRestClient::requestTokenLoaded() const {
  const auto store = credentialStore();
  return store && store->requestToken().has_value();
}

std::optional<net::URL> SFRestClient::authorizeURL() const {
  const auto store = credentialStore();
  if (!store || !store->requestToken()) {
    SFLogError("SFRestClient: You must get a request token before creating the authorize url");
    return std::nullopt;
  }
  // The token arrives decoded from the form reply, so it is escaped again as a query value.
  return net::URL::fromString(std::string(kScheme) + "://" + SFConfig::webHost() + "/" + kAPIVersion +
                              "/oauth/authorize?oauth_token=" + fnd::percentEncodeUnreserved(*store->requestToken()) +
                              "&osx_protocol=sf-" + fnd::percentEncodeUnreserved(store->consumerKey().value_or("")) +
                              "&embedded=1");
}

void SFRestClient::loadAccessToken() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!requestTokenLoaded()) {
    SFLogError("SFRestClient: You must get a request token and authorize it before getting an access token");
    return;
  }
  startRequest(requestWithHost(SFConfig::apiHost(), "/oauth/access_token", {}), {},
               SFRestClientDelegate::LoadAccessTokenFailedWithError,
               [this](SFRequest& r) { requestDidLoadAccessToken(r); });
}

void SFRestClient::requestDidLoadAccessToken(SFRequest& request) {
  const auto store = credentialStore();
  if (request.error()) {
    const int status = request.statusCode();
    if ((status == 401 || status == 403) && store) {
      store->setRequestToken(std::nullopt);
      store->setRequestTokenSecret(std::nullopt);
    }
    if (implements(SFRestClientDelegate::LoadAccessTokenFailedWithError))
      delegate_->restClientLoadAccessTokenFailedWithError(*this, *request.error());
    return;
  }
  if (store) {
    store->setRequestToken(std::nullopt);
    store->setRequestTokenSecret(std::nullopt);
  }
  std::string token, secret, uid;
  parse(request.resultString(), &token, &secret, &uid);
  if (session_) session_->updateAccessToken(token, secret, uid);
  if (!userId_) userId_ = uid.empty() ? std::string(kSFUnknownUserId) : uid;
  if (implements(SFRestClientDelegate::LoadedAccessToken)) delegate_->restClientLoadedAccessToken(*this);
}

void SFRestClient::parse(const std::string& text, std::string* token, std::string* secret, std::string* userId) {
  for (const auto& part : fnd::split(text, "&")) {
    const auto pieces = fnd::split(part, "=");
    if (pieces.size() != 2) {
      SFLogError("SFRestClient+OSX: error parsing oauth result");
      return;
    }
    // Form-encoded replies: a secret holding reserved characters arrives escaped.
    const std::string value = fnd::removePercentEscapesOrKeep(pieces[1]);
    if (pieces[0] == "oauth_token") {
      if (token) *token = value;
    } else if (pieces[0] == "oauth_token_secret") {
      if (secret) *secret = value;
    } else if (pieces[0] == "uid") {
      if (userId) *userId = value;
    } else {
      SFLogError("SFRestClient+Skyfolder: unknown parameter received");
    }
  }
}

}  // namespace kesto
