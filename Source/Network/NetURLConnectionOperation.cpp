#include "Network/NetURLConnectionOperation.h"

#include "Network/NetNetworking.h"
#include "Network/NetSecurityPolicy.h"
#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Net/ServerTrust.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLCoding.h"
#include "Platform/Net/URLError.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace kesto {

namespace {

const char* keyForState(std::int64_t state) {
  switch (state) {
    case NetURLConnectionOperation::Paused: return "isPaused";
    case NetURLConnectionOperation::Ready: return "isReady";
    case NetURLConnectionOperation::Executing: return "isExecuting";
    case NetURLConnectionOperation::Finished: return "isFinished";
    default: return "state";
  }
}

bool transitionAllowed(std::int64_t from, std::int64_t to, bool cancelled) {
  using O = NetURLConnectionOperation;
  switch (from) {
    case O::Ready:
      return to == O::Paused || to == O::Executing || (to == O::Finished && cancelled);
    case O::Executing: return to == O::Paused || to == O::Finished;
    // A cancelled paused operation must still finish, or nothing would ever end it.
    case O::Paused: return to == O::Ready || (to == O::Finished && cancelled);
    case O::Finished: return false;
    default: return to == O::Paused || to == O::Ready || to == O::Executing || to == O::Finished;
  }
}

fnd::DispatchGroup& sharedCompletionGroup() {
  static auto* group = new fnd::DispatchGroup();
  return *group;
}

fnd::DispatchQueue& sharedCompletionQueue() {
  static auto queue = fnd::DispatchQueue::create(kNetOperationQueueLabel, fnd::DispatchQueue::Kind::Concurrent);
  return *queue;
}

void postOnMain(fnd::NotificationName name, std::shared_ptr<fnd::Operation> op) {
  fnd::DispatchQueue::main().async([name, op] {
    fnd::NotificationCenter::defaultCenter().postNotificationName(name, op.get());
  });
}

}  // namespace

// Forwards a connection's callbacks; holds the operation until the connection ends.
class NetURLConnectionOperationDelegate final : public net::URLConnectionDelegate {
 public:
  explicit NetURLConnectionOperationDelegate(std::shared_ptr<NetURLConnectionOperation> op) : op_(std::move(op)) {}
  std::optional<net::URLRequest> connectionWillSendRequest(net::URLConnection& c, const net::URLRequest& request,
                                                           const net::HTTPURLResponse* redirect) override {
    return op_->onRedirect(c, request, redirect);
  }
  bool connectionShouldUseCredentialStorage(net::URLConnection&) override { return op_->shouldUseCredentialStorage(); }
  void connectionWillSendRequestForAuthenticationChallenge(net::URLConnection& c,
                                                           net::AuthenticationChallenge& challenge) override {
    op_->onChallenge(c, challenge);
  }
  void connectionDidSendBodyData(net::URLConnection&, std::int64_t bytes, std::int64_t total, std::int64_t expected) override {
    op_->onSentBody(bytes, total, expected);
  }
  void connectionDidReceiveResponse(net::URLConnection& c, std::shared_ptr<const net::URLResponse> response) override {
    op_->onResponse(c, std::move(response));
  }
  void connectionDidReceiveData(net::URLConnection& c, const std::uint8_t* bytes, std::size_t length) override {
    op_->onData(c, bytes, length);
  }
  bool connectionWillCacheResponse(net::URLConnection& c, const net::URLResponse& response) override {
    return op_->onCache(c, response);
  }
  void connectionDidFinishLoading(net::URLConnection&) override { op_->onFinished(); }
  void connectionDidFailWithError(net::URLConnection&, const fnd::Error& error) override { op_->connectionFailed(error); }

 private:
  std::shared_ptr<NetURLConnectionOperation> op_;
};

std::shared_ptr<NetURLConnectionOperation> NetURLConnectionOperation::make(net::URLRequest request) {
  return std::make_shared<NetURLConnectionOperation>(std::move(request));
}

NetURLConnectionOperation::NetURLConnectionOperation(net::URLRequest request)
    : request_(std::move(request)),
      securityPolicy_(NetSecurityPolicy::defaultPolicy()),
      maximumResponseSize_(kNetDefaultMaximumResponseSize) {
  setName(kNetOperationLockName);
}

NetURLConnectionOperation::~NetURLConnectionOperation() {
  if (outputStream_) outputStream_->close();
}

bool NetURLConnectionOperation::isNetworkThread() { return net::URLConnection::isNetworkThread(); }

void NetURLConnectionOperation::setState(State state) {
  std::int64_t current = state_.load();
  if (!transitionAllowed(current, state, isCancelled())) return;
  std::lock_guard guard(lock_);
  const char* oldKey = keyForState(current);
  const char* newKey = keyForState(state);
  willChangeValueForKey(newKey);
  willChangeValueForKey(oldKey);
  state_.store(state);
  didChangeValueForKey(oldKey);
  didChangeValueForKey(newKey);
}

bool NetURLConnectionOperation::isReady() const { return state_.load() == Ready && fnd::Operation::isReady(); }
bool NetURLConnectionOperation::isExecuting() const { return state_.load() == Executing; }
bool NetURLConnectionOperation::isFinished() const { return state_.load() == Finished; }

void NetURLConnectionOperation::start() {
  std::lock_guard guard(lock_);
  auto self = std::static_pointer_cast<NetURLConnectionOperation>(shared_from_this());
  if (isCancelled()) {
    net::URLConnection::performOnNetworkThread([self] { self->cancelConnection(); });
  } else if (isReady()) {
    setState(Executing);
    net::URLConnection::performOnNetworkThread([self] { self->operationDidStart(); });
  }
}

void NetURLConnectionOperation::operationDidStart() {
  {
    std::lock_guard guard(lock_);
    if (!isCancelled()) {
      auto self = std::static_pointer_cast<NetURLConnectionOperation>(shared_from_this());
      connection_ = net::URLConnection::make(request_, std::make_shared<NetURLConnectionOperationDelegate>(self));
      outputStream()->open();
      connection_->start();
    }
  }
  postOnMain(kNetOperationDidStartNotification, shared_from_this());
}

void NetURLConnectionOperation::cancel() {
  std::lock_guard guard(lock_);
  if (isFinished() || isCancelled()) return;
  bool wasPaused = isPaused();
  fnd::Operation::cancel();
  if (isExecuting() || wasPaused) {
    auto self = std::static_pointer_cast<NetURLConnectionOperation>(shared_from_this());
    net::URLConnection::performOnNetworkThread([self] { self->cancelConnection(); });
  }
}

void NetURLConnectionOperation::cancelConnection() {
  net::URL url = request().url();
  fnd::Error error = net::makeURLError(net::urlerror::Cancelled, url.isEmpty() ? nullptr : &url);
  if (isFinished()) return;
  std::shared_ptr<net::URLConnection> connection;
  {
    std::lock_guard guard(lock_);
    connection = connection_;
  }
  if (connection) {
    connection->cancel();
    connectionFailed(error);
  } else {
    {
      std::lock_guard guard(lock_);
      error_ = error;
    }
    finish();
  }
}

void NetURLConnectionOperation::retainUntilFinished(std::shared_ptr<void> owner) {
  std::lock_guard guard(lock_);
  retained_ = std::move(owner);
}

void NetURLConnectionOperation::finish() {
  std::shared_ptr<void> retained;
  {
    std::lock_guard guard(lock_);
    setState(Finished);
    if (isFinished()) retained = std::move(retained_);
  }
  // Released elsewhere: the queue may be the one announcing this finish.
  if (retained) fnd::DispatchQueue::global().async([retained] {});
  postOnMain(kNetOperationDidFinishNotification, shared_from_this());
}

void NetURLConnectionOperation::pause() {
  if (isPaused() || isFinished() || isCancelled()) return;
  std::lock_guard guard(lock_);
  if (isExecuting()) {
    auto self = std::static_pointer_cast<NetURLConnectionOperation>(shared_from_this());
    net::URLConnection::performOnNetworkThread([self] { self->operationDidPause(); });
    postOnMain(kNetOperationDidFinishNotification, shared_from_this());
  }
  setState(Paused);
}

void NetURLConnectionOperation::operationDidPause() {
  std::lock_guard guard(lock_);
  if (connection_) {
    connection_->cancel();
    connection_.reset();
  }
  // Nothing arrives any more, so what the stream holds now is exactly what was received.
  operationDidPauseOnNetworkThread();
}

void NetURLConnectionOperation::resume() {
  if (!isPaused()) return;
  std::lock_guard guard(lock_);
  setState(Ready);
  start();
}

net::URLRequest NetURLConnectionOperation::request() const { return locked(request_); }

void NetURLConnectionOperation::setRequest(net::URLRequest request) { store(request_, std::move(request)); }

std::shared_ptr<const net::URLResponse> NetURLConnectionOperation::response() const { return locked(response_); }

std::optional<fnd::Error> NetURLConnectionOperation::error() const { return locked(error_); }

std::shared_ptr<const fnd::Data> NetURLConnectionOperation::responseData() const { return locked(responseData_); }

void NetURLConnectionOperation::setResponseData(std::optional<fnd::Data> data) {
  std::lock_guard guard(lock_);
  responseData_ = data ? std::make_shared<const fnd::Data>(std::move(*data)) : nullptr;
}

std::uint64_t NetURLConnectionOperation::responseStringEncoding() {
  std::lock_guard guard(lock_);
  if (responseStringEncoding_ == 0 && response_) {
    std::uint64_t enc = fnd::kUTF8StringEncoding;
    if (response_->textEncodingName()) {
      auto known = fnd::encodingForIANAName(*response_->textEncodingName());
      if (known != fnd::kInvalidEncoding) enc = known;
    }
    responseStringEncoding_ = enc;
  }
  return responseStringEncoding_;
}

std::optional<std::string> NetURLConnectionOperation::responseString() {
  std::lock_guard guard(lock_);
  if (!responseString_ && response_ && responseData_)
    responseString_ = fnd::decodeText(fnd::asStringView(*responseData_), responseStringEncoding());
  return responseString_;
}

std::shared_ptr<net::InputStream> NetURLConnectionOperation::inputStream() const {
  std::lock_guard guard(lock_);
  return request_.httpBodyStream();
}

void NetURLConnectionOperation::setInputStream(std::shared_ptr<net::InputStream> stream) {
  std::lock_guard guard(lock_);
  request_.setHTTPBodyStream(std::move(stream));
}

std::shared_ptr<net::OutputStream> NetURLConnectionOperation::outputStream() {
  std::lock_guard guard(lock_);
  if (!outputStream_) outputStream_ = net::makeMemoryOutputStream(maximumResponseSize_);
  return outputStream_;
}

void NetURLConnectionOperation::setOutputStream(std::shared_ptr<net::OutputStream> stream) {
  std::lock_guard guard(lock_);
  if (stream == outputStream_) return;
  if (outputStream_) outputStream_->close();
  outputStream_ = std::move(stream);
}

std::shared_ptr<fnd::DispatchQueue> NetURLConnectionOperation::completionQueue() const { return locked(completionQueue_); }
void NetURLConnectionOperation::setCompletionQueue(std::shared_ptr<fnd::DispatchQueue> queue) { store(completionQueue_, std::move(queue)); }
std::shared_ptr<fnd::DispatchGroup> NetURLConnectionOperation::completionGroup() const { return locked(completionGroup_); }
void NetURLConnectionOperation::setCompletionGroup(std::shared_ptr<fnd::DispatchGroup> group) { store(completionGroup_, std::move(group)); }

void NetURLConnectionOperation::setUploadProgressBlock(UploadProgressBlock block) { store(uploadProgress_, std::move(block)); }
void NetURLConnectionOperation::setDownloadProgressBlock(DownloadProgressBlock block) { store(downloadProgress_, std::move(block)); }
void NetURLConnectionOperation::setWillSendRequestForAuthenticationChallengeBlock(AuthenticationChallengeBlock block) { store(authenticationChallenge_, std::move(block)); }
void NetURLConnectionOperation::setCacheResponseBlock(CacheResponseBlock block) { store(cacheResponse_, std::move(block)); }
void NetURLConnectionOperation::setRedirectResponseBlock(RedirectResponseBlock block) { store(redirectResponse_, std::move(block)); }

void NetURLConnectionOperation::setCompletionBlock(std::function<void()> block) {
  std::lock_guard guard(lock_);
  if (!block) {
    fnd::Operation::setCompletionBlock(nullptr);
    return;
  }
  std::weak_ptr<NetURLConnectionOperation> weak =
      std::static_pointer_cast<NetURLConnectionOperation>(shared_from_this());
  fnd::Operation::setCompletionBlock([weak, block] {
    auto op = weak.lock();
    if (!op) return;
    auto group = op->completionGroup();
    auto queue = op->completionQueue();
    fnd::DispatchGroup& g = group ? *group : sharedCompletionGroup();
    fnd::DispatchQueue& q = queue ? *queue : fnd::DispatchQueue::main();
    g.async(q, block);
    std::weak_ptr<NetURLConnectionOperation> again = op;
    g.notify(sharedCompletionQueue(), [again] {
      if (auto o = again.lock()) o->setCompletionBlock(nullptr);
    });
  });
}

std::string NetURLConnectionOperation::description() const {
  std::lock_guard guard(lock_);
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return std::string("<NetURLConnectionOperation: ") + address + ", state: " + keyForState(state_.load()) +
         ", cancelled: " + (isCancelled() ? "YES" : "NO") + " request: " + request_.description() +
         ", response: " + (response_ ? response_->description() : "(null)") + ">";
}

std::vector<std::shared_ptr<fnd::Operation>> NetURLConnectionOperation::batchOfRequestOperations(
    const std::vector<std::shared_ptr<NetURLConnectionOperation>>& operations,
    std::function<void(std::size_t, std::size_t)> progress,
    std::function<void(const std::vector<std::shared_ptr<NetURLConnectionOperation>>&)> completion) {
  if (operations.empty()) {
    return {fnd::BlockOperation::create([completion] {
      fnd::DispatchQueue::main().async([completion] {
        if (completion) completion({});
      });
    })};
  }
  auto group = std::make_shared<fnd::DispatchGroup>();
  auto batch = fnd::BlockOperation::create([group, operations, completion] {
    group->notify(fnd::DispatchQueue::main(), [operations, completion] {
      if (completion) completion(operations);
    });
  });
  std::vector<std::shared_ptr<fnd::Operation>> out;
  for (const auto& op : operations) {
    op->setCompletionGroup(group);
    std::function<void()> original = op->fnd::Operation::completionBlock();
    std::weak_ptr<NetURLConnectionOperation> weak = op;
    auto all = operations;
    // Runs inside the group, on the operation's completion queue, then leaves the group.
    op->fnd::Operation::setCompletionBlock([weak, original, group, all, progress] {
      auto self = weak.lock();
      auto queue = self ? self->completionQueue() : nullptr;
      fnd::DispatchQueue& q = queue ? *queue : fnd::DispatchQueue::main();
      group->async(q, [original, group, all, progress] {
        if (original) original();
        std::size_t finished = 0;
        for (const auto& o : all) finished += o->isFinished() ? 1 : 0;
        if (progress) progress(finished, all.size());
        group->leave();
      });
    });
    group->enter();
    batch->addDependency(op);
    out.push_back(op);
  }
  out.push_back(batch);
  return out;
}

// ---- Connection callbacks (network thread)

namespace {
bool sameOrigin(const net::ProtectionSpace& space, const net::URL& url) {
  return fnd::asciiEqualsIgnoringCase(space.protocol, url.scheme()) &&
         fnd::asciiEqualsIgnoringCase(space.host, url.host()) && space.port == url.effectivePort();
}
}  // namespace

void NetURLConnectionOperation::onChallenge(net::URLConnection& c, net::AuthenticationChallenge& challenge) {
  AuthenticationChallengeBlock block;
  std::shared_ptr<NetSecurityPolicy> policy;
  std::optional<net::URLCredential> credential;
  {
    std::lock_guard guard(lock_);
    block = authenticationChallenge_;
    policy = securityPolicy_;
    credential = credential_;
  }
  if (block) {
    block(c, challenge);
    return;
  }
  const auto& space = challenge.protectionSpace();
  if (space.authenticationMethod == net::kAuthenticationMethodServerTrust) {
    if (space.serverTrust && policy && policy->evaluateServerTrust(*space.serverTrust, space.host))
      challenge.useCredential(net::URLCredential::forTrust(space.serverTrust));
    else
      challenge.cancel();
    return;
  }
  if (challenge.previousFailureCount() != 0)
    challenge.continueWithoutCredential();
  else if (credential && !sameOrigin(space, c.originalRequest().url()))
    // The credential is for the service asked; a host it redirects to, or the same host
    // without TLS, does not get it.
    challenge.continueWithoutCredential();
  else if (credential)
    challenge.useCredential(*credential);
  else
    challenge.continueWithoutCredential();
}

std::optional<net::URLRequest> NetURLConnectionOperation::onRedirect(net::URLConnection& c, const net::URLRequest& request,
                                                                    const net::HTTPURLResponse* redirect) {
  RedirectResponseBlock block;
  {
    std::lock_guard guard(lock_);
    block = redirectResponse_;
  }
  return block ? block(c, request, redirect) : std::optional<net::URLRequest>(request);
}

void NetURLConnectionOperation::onSentBody(std::int64_t bytes, std::int64_t total, std::int64_t expected) {
  UploadProgressBlock block;
  {
    std::lock_guard guard(lock_);
    block = uploadProgress_;
  }
  if (block) fnd::DispatchQueue::main().async([block, bytes, total, expected] { block(bytes, total, expected); });
}

void NetURLConnectionOperation::onResponse(net::URLConnection& c, std::shared_ptr<const net::URLResponse> response) {
  std::optional<fnd::Error> failure;
  if (!acceptResponseOnNetworkThread(response, failure)) {
    c.cancel();
    if (failure)
      connectionFailed(*failure);
    else
      onFinished();
    return;
  }
  std::lock_guard guard(lock_);
  response_ = response;
  if (outputStream_ && response->expectedContentLength() > 0)
    outputStream_->reserveCapacity(static_cast<std::size_t>(response->expectedContentLength()));
}

void NetURLConnectionOperation::onData(net::URLConnection& c, const std::uint8_t* bytes, std::size_t length) {
  std::shared_ptr<net::OutputStream> stream = outputStream();
  std::size_t written = 0;
  while (written < length) {
    std::ptrdiff_t n = stream->hasSpaceAvailable() ? stream->write(bytes + written, length - written) : -1;
    if (n <= 0) {
      // A failed or stuck write ends the operation with the stream's error: no truncated body
      // is ever reported as a success, and the shared thread never spins.
      c.cancel();
      connectionFailed(stream->error().value_or(
          net::makeURLError(net::urlerror::CannotDecodeContentData, &c.originalRequest().url(),
                            NetLocalizedString("The response body could not be stored."))));
      return;
    }
    written += static_cast<std::size_t>(n);
  }
  // One main-queue hop carries every chunk that arrived before it ran.
  if (pendingBytes_.fetch_add(length) == 0) {
    auto self = std::static_pointer_cast<NetURLConnectionOperation>(shared_from_this());
    fnd::DispatchQueue::main().async([self] {
      std::uint64_t bytes = self->pendingBytes_.exchange(0);
      std::int64_t total = self->totalBytesRead_.fetch_add(static_cast<std::int64_t>(bytes)) + static_cast<std::int64_t>(bytes);
      DownloadProgressBlock block;
      std::int64_t expected = -1;
      {
        std::lock_guard guard(self->lock_);
        block = self->downloadProgress_;
        if (self->response_) expected = self->response_->expectedContentLength();
      }
      if (block) block(bytes, total, expected);
    });
  }
}

bool NetURLConnectionOperation::onCache(net::URLConnection& c, const net::URLResponse& response) {
  CacheResponseBlock block;
  {
    std::lock_guard guard(lock_);
    block = cacheResponse_;
  }
  if (block) return block(c, response);
  return !isCancelled();
}

void NetURLConnectionOperation::onFinished() {
  {
    std::lock_guard guard(lock_);
    if (outputStream_) {
      if (outputStream_->dataWrittenToMemory())
        responseData_ = std::make_shared<const fnd::Data>(outputStream_->takeDataWrittenToMemory());
      outputStream_->close();
      if (responseData_) outputStream_.reset();
    }
    connection_.reset();
  }
  finish();
}

void NetURLConnectionOperation::connectionFailed(const fnd::Error& error) {
  {
    std::lock_guard guard(lock_);
    error_ = error;
    if (outputStream_) {
      outputStream_->close();
      if (responseData_) outputStream_.reset();
    }
    connection_.reset();
  }
  finish();
}

}  // namespace kesto

// ---- Archiving and copying

namespace kesto {

void NetURLConnectionOperation::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  // The archive holds a state that can be resumed, not a connection in flight.
  auto self = const_cast<NetURLConnectionOperation*>(this);
  if (state_.load() == Executing) self->pause();
  // The error as the class reports it (a serializer's error for HTTP operations).
  auto failure = error();
  std::lock_guard guard(lock_);
  net::encodeRequest(coder, request_, "request");
  std::int64_t state = state_.load();
  coder.encodeInt64(state == Paused || state == Executing ? Ready : state, "state");
  if (response_) net::encodeResponse(coder, *response_, "response");
  if (failure) coder.encodeError(*failure, "error");
  if (responseData_) coder.encodeObject(fnd::Value(*responseData_), "responseData");
  coder.encodeInt64(totalBytesRead_.load(), "totalBytesRead");
}

void NetURLConnectionOperation::decodeStateWithCoder(fnd::KeyedUnarchiver& coder) {
  setState(static_cast<State>(coder.decodeInt64("state", Ready)));
  std::lock_guard guard(lock_);
  response_ = net::decodeResponse(coder, "response");
  error_ = coder.decodeError("error");
  if (auto data = coder.decodeObjectOfType(fnd::Value::Type::Data, "responseData"))
    responseData_ = std::make_shared<const fnd::Data>(data->data());
  totalBytesRead_ = std::max<std::int64_t>(0, coder.decodeInt64("totalBytesRead"));
}

std::shared_ptr<NetURLConnectionOperation> NetURLConnectionOperation::initWithCoder(fnd::KeyedUnarchiver& coder) {
  auto request = net::decodeRequest(coder, "request");
  if (!request) return nullptr;
  auto op = make(std::move(*request));
  op->decodeStateWithCoder(coder);
  return op;
}

void NetURLConnectionOperation::copyBlocksTo(NetURLConnectionOperation& other) const {
  std::lock_guard guard(lock_);
  other.uploadProgress_ = uploadProgress_;
  other.downloadProgress_ = downloadProgress_;
  other.authenticationChallenge_ = authenticationChallenge_;
  other.cacheResponse_ = cacheResponse_;
  other.redirectResponse_ = redirectResponse_;
  other.completionQueue_ = completionQueue_;
  other.completionGroup_ = completionGroup_;
}

std::shared_ptr<NetURLConnectionOperation> NetURLConnectionOperation::copy() const {
  auto op = make(request());
  copyBlocksTo(*op);
  return op;
}

}  // namespace kesto
