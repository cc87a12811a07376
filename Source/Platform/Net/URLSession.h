#pragma once

#include "Platform/Net/NetNotifications.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/URLConnection.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLResponse.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kesto::net {

class URLSession;


// Runs a callback somewhere (a queue, the main thread). Without one, callbacks run on the
// network thread.
using Executor = std::function<void(std::function<void()>)>;

// One unit of work of a session. resume() and suspend() are not virtual: every task of the
// process reports them to the state observers, whatever its kind.
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
 public:
  enum class State { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };
  enum class Kind { Data, Upload, Download };

  virtual ~URLSessionTask();

  std::uint64_t taskIdentifier() const { return identifier_; }
  Kind kind() const { return kind_; }
  std::string taskDescription() const;
  void setTaskDescription(std::string text);
  State state() const { return state_.load(); }
  const URLRequest& originalRequest() const { return original_; }
  std::shared_ptr<const URLResponse> response() const;
  std::optional<fnd::Error> error() const;
  std::int64_t countOfBytesReceived() const { return received_.load(); }
  std::int64_t countOfBytesSent() const { return sent_.load(); }
  // -1 when unknown.
  std::int64_t countOfBytesExpectedToSend() const { return expectedToSend_; }
  std::int64_t countOfBytesExpectedToReceive() const { return expectedToReceive_.load(); }

  // Starts or continues the task (a suspended transfer starts again from the beginning).
  void resume();
  void suspend();
  void cancel();
  // Download tasks: cancels like cancel(), but keeps the bytes received so far and hands over
  // the data that continues them (URLSession::downloadTaskWithResumeData), or nothing when the
  // transfer cannot be continued (not a download, nothing received, no ETag or Last-Modified).
  // Called back on the network thread.
  void cancelByProducingResumeData(std::function<void(std::optional<fnd::Data> resumeData)> completion);

  // Process-wide observers of resume() and suspend() of every task, called when the
  // notifications above are posted, on the calling thread.
  using StateObserver = std::function<void(URLSessionTask& task, bool resumed)>;
  static int addStateObserver(StateObserver observer);
  static void removeStateObserver(int token);

 protected:
  URLSessionTask(std::shared_ptr<URLSession> session, Kind kind, URLRequest request, std::uint64_t identifier);

 private:
  friend class URLSession;
  friend struct TaskDriver;
  void startTransfer();
  void stopTransfer();
  // Between running and suspended, announced unless the task already was where it is asked to be.
  void setRunning(bool run);

  std::weak_ptr<URLSession> session_;
  Kind kind_;
  URLRequest original_;
  std::uint64_t identifier_;
  mutable std::mutex mutex_;
  std::string description_;
  std::atomic<State> state_{State::Suspended};
  std::shared_ptr<const URLResponse> response_;
  std::optional<fnd::Error> error_;
  std::atomic<std::int64_t> received_{0};
  std::atomic<std::int64_t> sent_{0};
  std::int64_t expectedToSend_ = -1;
  std::atomic<std::int64_t> expectedToReceive_{-1};
  std::shared_ptr<URLConnection> connection_;
  std::shared_ptr<void> driver_;
  bool everStarted_ = false;
  // Set by cancel(): pieces of the body still on their way to the delegate are dropped.
  std::atomic<bool> cancelRequested_{false};
  std::shared_ptr<URLSession> lockedSession() const;
  void setSession(const std::shared_ptr<URLSession>& session);

 public:
  // Internal: the upload source.
  std::optional<fnd::Data> uploadData_;
  std::string uploadFile_;
  std::string downloadPath_;
  // A download continued from resume data: the partial file, its length and the validator.
  struct Continuation {
    std::string path;
    std::int64_t offset = 0;
    std::string validator;
  };
  std::optional<Continuation> continuation_;
  std::function<void(const fnd::Data*, std::shared_ptr<const URLResponse>, const fnd::Error*)> dataCompletion_;
  std::function<void(const std::string*, std::shared_ptr<const URLResponse>, const fnd::Error*)> downloadCompletion_;
};

struct URLSessionConfiguration {
  static URLSessionConfiguration defaultConfiguration() { return {}; }
  // Tasks of a background session run in this process too; the identifier is kept.
  static URLSessionConfiguration backgroundConfiguration(std::string identifier) {
    URLSessionConfiguration c;
    c.identifier = std::move(identifier);
    return c;
  }
  std::optional<std::string> identifier;
  double timeoutIntervalForRequest = 60.0;
  HTTPHeaders additionalHeaders;
  std::size_t maximumBodySize = 256u << 20;
  // Successful GET replies of data tasks are offered to it; none when null.
  std::shared_ptr<class URLCache> urlCache;
};

// A reply kept by a URL cache.
struct CachedURLResponse {
  std::shared_ptr<const URLResponse> response;
  fnd::Data data;
};

// Replies kept in memory by request URL, the oldest dropped first beyond the capacity.
// Thread-safe.
class URLCache {
 public:
  explicit URLCache(std::size_t memoryCapacity = 4u << 20) : capacity_(memoryCapacity) {}
  std::optional<CachedURLResponse> cachedResponseForRequest(const URLRequest& request) const;
  void storeCachedResponse(CachedURLResponse response, const URLRequest& request);
  void removeAllCachedResponses();
  std::size_t memoryCapacity() const { return capacity_; }
  std::size_t currentMemoryUsage() const;

 private:
  std::size_t capacity_;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, CachedURLResponse>> entries_;  // oldest first
  std::size_t usage_ = 0;
};

// Session callbacks, run through the session's executor. Every method has a default, so only
// what a delegate overrides changes behaviour.
class URLSessionDelegate {
 public:
  enum class ResponseDisposition { Cancel = 0, Allow = 1, BecomeDownload = 2 };
  virtual ~URLSessionDelegate() = default;
  virtual void sessionDidBecomeInvalid(URLSession& session, const fnd::Error* error) {}
  // Session-level and task-level challenges share one callback; `task` is null for trust.
  virtual void sessionDidReceiveChallenge(URLSession& session, URLSessionTask* task, AuthenticationChallenge& challenge) {}
  virtual std::optional<URLRequest> sessionTaskWillPerformHTTPRedirection(URLSession& session, URLSessionTask& task,
                                                                          const HTTPURLResponse& response,
                                                                          const URLRequest& newRequest) {
    return newRequest;
  }
  virtual void sessionTaskDidSendBodyData(URLSession& session, URLSessionTask& task, std::int64_t sent,
                                          std::int64_t totalSent, std::int64_t expected) {}
  virtual ResponseDisposition sessionDataTaskDidReceiveResponse(URLSession& session, URLSessionTask& task,
                                                                const URLResponse& response) {
    return ResponseDisposition::Allow;
  }
  virtual void sessionDataTaskDidBecomeDownloadTask(URLSession& session, URLSessionTask& dataTask) {}
  virtual void sessionDataTaskDidReceiveData(URLSession& session, URLSessionTask& task, const fnd::Data& data) {}
  virtual void sessionDownloadTaskDidWriteData(URLSession& session, URLSessionTask& task, std::int64_t written,
                                               std::int64_t totalWritten, std::int64_t expected) {}
  // The file at `location` is deleted after this returns: move it away inside the callback.
  virtual void sessionDownloadTaskDidFinishDownloadingToURL(URLSession& session, URLSessionTask& task,
                                                            const std::string& location) {}
  virtual void sessionTaskDidCompleteWithError(URLSession& session, URLSessionTask& task, const fnd::Error* error) {}
  // Background sessions: called when the last task ended.
  virtual void sessionDidFinishEventsForBackgroundSession(URLSession& session) {}
  // A body stream for a retry (redirect, answered challenge) after the first was read; null
  // fails the task. Runs on the network thread, where the answer is needed.
  virtual std::shared_ptr<InputStream> sessionTaskNeedNewBodyStream(URLSession& session, URLSessionTask& task) {
    auto stream = task.originalRequest().httpBodyStream();
    return stream ? stream->reopened() : nullptr;
  }
  // What a data task's reply is cached as (nothing: not cached). Only with a cache configured.
  virtual std::optional<CachedURLResponse> sessionDataTaskWillCacheResponse(URLSession& session, URLSessionTask& task,
                                                                            const CachedURLResponse& proposed) {
    return proposed;
  }
  // A download continued from resume data: how much of the file was kept (0 when the server sent
  // the whole body again) and the total expected.
  virtual void sessionDownloadTaskDidResumeAtOffset(URLSession& session, URLSessionTask& task, std::int64_t fileOffset,
                                                    std::int64_t expectedTotalBytes) {}
};

// Runs tasks through URL connections. Holds its delegate strongly until invalidated.
class URLSession : public std::enable_shared_from_this<URLSession> {
 public:
  static std::shared_ptr<URLSession> make(URLSessionConfiguration configuration,
                                          std::shared_ptr<URLSessionDelegate> delegate = nullptr,
                                          Executor delegateExecutor = nullptr);
  ~URLSession();

  const URLSessionConfiguration& configuration() const { return configuration_; }
  std::string sessionDescription() const;
  void setSessionDescription(std::string text);

  // Tasks start suspended; call resume(). Without a completion handler the delegate hears
  // the data; with one, the body is collected and handed to it (on the executor).
  using DataCompletion = std::function<void(const fnd::Data* data, std::shared_ptr<const URLResponse> response,
                                            const fnd::Error* error)>;
  using DownloadCompletion = std::function<void(const std::string* location, std::shared_ptr<const URLResponse> response,
                                                const fnd::Error* error)>;
  std::shared_ptr<URLSessionTask> dataTask(URLRequest request, DataCompletion completion = nullptr);
  std::shared_ptr<URLSessionTask> uploadTask(URLRequest request, fnd::Data body, DataCompletion completion = nullptr);
  // A background session gives no task for a file it cannot read.
  std::shared_ptr<URLSessionTask> uploadTaskFromFile(URLRequest request, std::string path, DataCompletion completion = nullptr);
  // The request's body stream is the body.
  std::shared_ptr<URLSessionTask> uploadTaskWithStreamedRequest(URLRequest request);
  std::shared_ptr<URLSessionTask> downloadTask(URLRequest request, DownloadCompletion completion = nullptr);
  // Continues a cancelled download; null when the data is not resume data of this system or its
  // partial file is gone.
  std::shared_ptr<URLSessionTask> downloadTaskWithResumeData(const fnd::Data& resumeData,
                                                             DownloadCompletion completion = nullptr);

  // Tasks not yet completed. A background session made while another session with the same
  // identifier is alive takes over that session's unfinished tasks, as a relaunched process
  // would find them again.
  std::vector<std::shared_ptr<URLSessionTask>> tasks() const;
  // "<URLSession: 0x…>", with the background identifier when there is one.
  std::string description() const;
  void finishTasksAndInvalidate();
  void invalidateAndCancel();
  bool isInvalidated() const { return invalidated_.load(); }

  const std::shared_ptr<URLSessionDelegate>& delegate() const { return delegate_; }
  // Runs `work` through the delegate executor (or at once when there is none).
  void deliver(std::function<void()> work) const;

 private:
  URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate, Executor executor);
  friend class URLSessionTask;
  friend struct TaskDriver;
  std::shared_ptr<URLSessionTask> add(URLSessionTask::Kind kind, URLRequest request);
  void removeTask(URLSessionTask& task);
  void taskEnded(URLSessionTask& task);
  void takeOverTasksOfEarlierSession();

  URLSessionConfiguration configuration_;
  std::shared_ptr<URLSessionDelegate> delegate_;
  Executor executor_;
  mutable std::mutex mutex_;
  std::string description_;
  std::vector<std::shared_ptr<URLSessionTask>> tasks_;
  std::atomic<bool> invalidated_{false};
  bool finishing_ = false;
};

}  // namespace kesto::net
