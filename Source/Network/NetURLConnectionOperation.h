#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/Foundation/Operation.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/NetForward.h"
#include "Platform/Net/URLConnection.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class NetSecurityPolicy;

// Runs one URL request as a queue operation. Connections of every operation run on the shared
// "Networking" thread; progress, counting and the start/finish notifications happen on the main
// queue; the completion block runs on completionQueue (default main) inside completionGroup.
// States: paused -1, ready 1, executing 2, finished 3, announced under "isPaused", "isReady",
// "isExecuting", "isFinished".
class NetURLConnectionOperation : public fnd::Operation, public fnd::Coding {
 public:
  enum State : std::int64_t { Paused = -1, Ready = 1, Executing = 2, Finished = 3 };

  using UploadProgressBlock = std::function<void(std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                                 std::int64_t totalBytesExpected)>;
  using DownloadProgressBlock = std::function<void(std::uint64_t bytesRead, std::int64_t totalBytesRead,
                                                   std::int64_t totalBytesExpected)>;
  using AuthenticationChallengeBlock = std::function<void(net::URLConnection&, net::AuthenticationChallenge&)>;
  using CacheResponseBlock = std::function<bool(net::URLConnection&, const net::URLResponse&)>;
  using RedirectResponseBlock = std::function<std::optional<net::URLRequest>(
      net::URLConnection&, const net::URLRequest& request, const net::HTTPURLResponse* redirectResponse)>;

  static std::shared_ptr<NetURLConnectionOperation> make(net::URLRequest request);
  explicit NetURLConnectionOperation(net::URLRequest request);
  ~NetURLConnectionOperation() override;

  // Operation contract.
  void start() override;
  void cancel() override;
  bool isReady() const override;
  bool isExecuting() const override;
  bool isFinished() const override;
  bool isAsynchronous() const override { return true; }
  bool isPaused() const { return state_.load() == Paused; }
  State state() const { return static_cast<State>(state_.load()); }

  virtual void pause();
  void resume();

  net::URLRequest request() const;
  void setRequest(net::URLRequest request);
  std::shared_ptr<const net::URLResponse> response() const;
  virtual std::optional<fnd::Error> error() const;
  // The body as received, shared (no copy); null until loading finished into memory.
  std::shared_ptr<const fnd::Data> responseData() const;
  void setResponseData(std::optional<fnd::Data> data);
  std::optional<std::string> responseString();
  std::uint64_t responseStringEncoding();

  bool shouldUseCredentialStorage() const { return shouldUseCredentialStorage_; }
  void setShouldUseCredentialStorage(bool on) { shouldUseCredentialStorage_ = on; }
  const std::optional<net::URLCredential>& credential() const { return credential_; }
  void setCredential(std::optional<net::URLCredential> c) { credential_ = std::move(c); }
  const std::shared_ptr<NetSecurityPolicy>& securityPolicy() const { return securityPolicy_; }
  void setSecurityPolicy(std::shared_ptr<NetSecurityPolicy> policy) { securityPolicy_ = std::move(policy); }

  std::shared_ptr<net::InputStream> inputStream() const;
  void setInputStream(std::shared_ptr<net::InputStream> stream);
  // Made on first use: a stream to memory capped at maximumResponseSize.
  std::shared_ptr<net::OutputStream> outputStream();
  void setOutputStream(std::shared_ptr<net::OutputStream> stream);
  // Replies larger than this fail instead of exhausting memory (256 MiB by default).
  std::size_t maximumResponseSize() const { return maximumResponseSize_; }
  void setMaximumResponseSize(std::size_t bytes) { maximumResponseSize_ = bytes; }

  // Null: the main queue / the shared completion group.
  std::shared_ptr<fnd::DispatchQueue> completionQueue() const;
  void setCompletionQueue(std::shared_ptr<fnd::DispatchQueue> queue);
  std::shared_ptr<fnd::DispatchGroup> completionGroup() const;
  void setCompletionGroup(std::shared_ptr<fnd::DispatchGroup> group);

  const fnd::Dictionary& userInfo() const { return userInfo_; }
  void setUserInfo(fnd::Dictionary info) { userInfo_ = std::move(info); }
  // Counted on the main queue.
  std::int64_t totalBytesRead() const { return totalBytesRead_.load(); }

  void setUploadProgressBlock(UploadProgressBlock block);
  void setDownloadProgressBlock(DownloadProgressBlock block);
  void setWillSendRequestForAuthenticationChallengeBlock(AuthenticationChallengeBlock block);
  void setCacheResponseBlock(CacheResponseBlock block);
  void setRedirectResponseBlock(RedirectResponseBlock block);

  // The block runs on completionQueue inside completionGroup once the operation finished, and
  // is released afterwards (with everything it holds). An empty block clears it.
  void setCompletionBlock(std::function<void()> block) override;

  std::string description() const;

  // Archiving pauses a running operation first, so what is kept can be resumed: the request,
  // the state (ready for a paused or executing one), response, error, body and byte count.
  std::string codingClassName() const override { return "NetURLConnectionOperation"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;
  static std::shared_ptr<NetURLConnectionOperation> initWithCoder(fnd::KeyedUnarchiver& coder);
  // A new operation of the same class for the same request, with the same five blocks,
  // completion queue and group; state, reply, credential and policy start afresh.
  virtual std::shared_ptr<NetURLConnectionOperation> copy() const;

  // The operations followed by one operation that runs `completion` on the main queue after
  // every operation's own completion block and `progress` (finished count, total) have run.
  static std::vector<std::shared_ptr<fnd::Operation>> batchOfRequestOperations(
      const std::vector<std::shared_ptr<NetURLConnectionOperation>>& operations,
      std::function<void(std::size_t finished, std::size_t total)> progress,
      std::function<void(const std::vector<std::shared_ptr<NetURLConnectionOperation>>& operations)> completion);

  // Keeps `owner` (the queue that runs this operation) alive until the operation finished, so
  // a queue whose manager is gone still runs what was added to it.
  void retainUntilFinished(std::shared_ptr<void> owner);

  // The shared network thread's work queue, for tests.
  static bool isNetworkThread();

 protected:
  std::recursive_mutex& lock() const { return lock_; }
  // Hooks on the network thread: after the pause cancelled the connection; when a response
  // arrives (false stops the connection with `failure`).
  virtual void operationDidPauseOnNetworkThread() {}
  virtual bool acceptResponseOnNetworkThread(const std::shared_ptr<const net::URLResponse>& response,
                                             std::optional<fnd::Error>& failure) {
    return true;
  }
  // Reads the archived state into an operation made for the archived request.
  void decodeStateWithCoder(fnd::KeyedUnarchiver& coder);
  void copyBlocksTo(NetURLConnectionOperation& other) const;

 private:
  friend class NetURLConnectionOperationDelegate;
  void setState(State state);
  void operationDidStart();
  void operationDidPause();
  void cancelConnection();
  void finish();
  void connectionFailed(const fnd::Error& error);

  // Connection callbacks, on the network thread.
  void onChallenge(net::URLConnection& c, net::AuthenticationChallenge& challenge);
  std::optional<net::URLRequest> onRedirect(net::URLConnection& c, const net::URLRequest& request,
                                            const net::HTTPURLResponse* redirect);
  void onSentBody(std::int64_t bytes, std::int64_t total, std::int64_t expected);
  void onResponse(net::URLConnection& c, std::shared_ptr<const net::URLResponse> response);
  void onData(net::URLConnection& c, const std::uint8_t* bytes, std::size_t length);
  bool onCache(net::URLConnection& c, const net::URLResponse& response);
  void onFinished();

  mutable std::recursive_mutex lock_;
  // One field read or written under the lock.
  template <class T>
  T locked(const T& field) const {
    std::lock_guard guard(lock_);
    return field;
  }
  template <class T>
  void store(T& field, T value) {
    std::lock_guard guard(lock_);
    field = std::move(value);
  }
  std::atomic<std::int64_t> state_{Ready};
  net::URLRequest request_;
  std::shared_ptr<const net::URLResponse> response_;
  std::optional<fnd::Error> error_;
  std::shared_ptr<const fnd::Data> responseData_;
  std::optional<std::string> responseString_;
  std::uint64_t responseStringEncoding_ = 0;
  bool shouldUseCredentialStorage_ = true;
  std::optional<net::URLCredential> credential_;
  std::shared_ptr<NetSecurityPolicy> securityPolicy_;
  std::shared_ptr<net::OutputStream> outputStream_;
  std::size_t maximumResponseSize_;
  std::shared_ptr<fnd::DispatchQueue> completionQueue_;
  std::shared_ptr<fnd::DispatchGroup> completionGroup_;
  fnd::Dictionary userInfo_;
  std::atomic<std::int64_t> totalBytesRead_{0};
  std::atomic<std::uint64_t> pendingBytes_{0};
  std::shared_ptr<net::URLConnection> connection_;
  UploadProgressBlock uploadProgress_;
  DownloadProgressBlock downloadProgress_;
  AuthenticationChallengeBlock authenticationChallenge_;
  CacheResponseBlock cacheResponse_;
  RedirectResponseBlock redirectResponse_;
  std::shared_ptr<void> retained_;
};

}  // namespace kesto
