#pragma once

#include "Network/NetworkingNotifications.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/URLSession.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

class NetHTTPResponseSerializer;
class NetReachabilityManager;
class NetSecurityPolicy;

inline constexpr const char* kNetNetworkingTaskDidCompleteResponseDataKey = "com.kesto.networking.complete.finish.responsedata";
inline constexpr const char* kNetNetworkingTaskDidCompleteSerializedResponseKey =
    "com.kesto.networking.task.complete.serializedresponse";
inline constexpr const char* kNetNetworkingTaskDidCompleteErrorKey = "com.kesto.networking.task.complete.error";
inline constexpr const char* kNetNetworkingTaskDidCompleteAssetPathKey = "com.kesto.networking.task.complete.assetpath";

// Progress of one task: total (-1 unknown) and completed unit counts. Pausing and cancelling
// run the handlers the task's maker set (an upload's suspend and cancel).
struct NetTaskProgress {
  std::atomic<std::int64_t> totalUnitCount{0};
  std::atomic<std::int64_t> completedUnitCount{0};

  void setPausingHandler(std::function<void()> handler);
  void setCancellationHandler(std::function<void()> handler);
  bool isPausable() const;
  bool isCancellable() const;
  void pause();
  // Once only; isCancelled() stays true.
  void cancel();
  bool isCancelled() const { return cancelled_.load(); }

 private:
  mutable std::mutex mutex_;
  std::function<void()> pausing_;
  std::function<void()> cancellation_;
  std::atomic<bool> cancelled_{false};
};

// Runs transfers as tasks of one URL session, turns each finished reply into an object with its
// response serializer and calls the task's completion handler on completionQueue (main by
// default). The session holds the manager until invalidateSessionCancelingTasks has made it
// invalid; after that the manager lives only as long as its users hold it.
class NetURLSessionManager : public net::URLSessionDelegate,
                             public fnd::Coding,
                             public std::enable_shared_from_this<NetURLSessionManager> {
 public:
  using CompletionHandler =
      std::function<void(std::shared_ptr<const net::URLResponse> response, const fnd::Value& responseObject, const fnd::Error* error)>;
  // Answers the file path a finished download is moved to, or nothing to leave it.
  using Destination = std::function<std::optional<std::string>(const std::string& temporaryPath,
                                                               std::shared_ptr<const net::URLResponse> response)>;

  using Disposition = net::AuthenticationChallenge::Disposition;
  using ResponseDisposition = net::URLSessionDelegate::ResponseDisposition;

  // A background configuration whose identifier a live session already uses adopts that
  // session's unfinished tasks, stamped with this manager's description.
  static std::shared_ptr<NetURLSessionManager> make(
      std::optional<net::URLSessionConfiguration> configuration = std::nullopt);
  ~NetURLSessionManager() override;

  // Archiving keeps the session configuration only; so does copy(). (A copy on a background
  // configuration adopts the unfinished tasks, as any manager made with its identifier would.)
  std::string codingClassName() const override { return "NetURLSessionManager"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;
  static std::shared_ptr<NetURLSessionManager> initWithCoder(fnd::KeyedUnarchiver& coder);
  std::shared_ptr<NetURLSessionManager> copy() const;
  // "<NetURLSessionManager: 0x…, session: <URLSession: 0x…>, operationQueue: <…>>"
  virtual std::string description() const;

  const std::shared_ptr<net::URLSession>& session() const { return session_; }
  const net::URLSessionConfiguration& sessionConfiguration() const { return session_->configuration(); }
  std::shared_ptr<NetHTTPResponseSerializer> responseSerializer() const;
  void setResponseSerializer(std::shared_ptr<NetHTTPResponseSerializer> serializer);
  std::shared_ptr<NetSecurityPolicy> securityPolicy() const;
  void setSecurityPolicy(std::shared_ptr<NetSecurityPolicy> policy);
  NetReachabilityManager& reachabilityManager() const;
  // Null: the main queue.
  std::shared_ptr<fnd::DispatchQueue> completionQueue() const;
  void setCompletionQueue(std::shared_ptr<fnd::DispatchQueue> queue);
  void setCompletionGroup(std::shared_ptr<fnd::DispatchGroup> group);
  // "%p" of the manager: the description every task it makes carries.
  std::string taskDescriptionForSessionTasks() const;

  std::shared_ptr<net::URLSessionTask> dataTaskWithRequest(const net::URLRequest& request, CompletionHandler completion);
  std::shared_ptr<net::URLSessionTask> uploadTaskWithRequest(const net::URLRequest& request, const std::string& fromFile,
                                                             std::shared_ptr<NetTaskProgress>* progress,
                                                             CompletionHandler completion);
  std::shared_ptr<net::URLSessionTask> uploadTaskWithRequest(const net::URLRequest& request, fnd::Data fromData,
                                                             std::shared_ptr<NetTaskProgress>* progress,
                                                             CompletionHandler completion);
  std::shared_ptr<net::URLSessionTask> uploadTaskWithStreamedRequest(const net::URLRequest& request,
                                                                     std::shared_ptr<NetTaskProgress>* progress,
                                                                     CompletionHandler completion);
  std::shared_ptr<net::URLSessionTask> downloadTaskWithRequest(const net::URLRequest& request,
                                                               std::shared_ptr<NetTaskProgress>* progress,
                                                               Destination destination, CompletionHandler completion);
  // Continues what URLSessionTask::cancelByProducingResumeData handed over; null when the data
  // cannot be continued.
  std::shared_ptr<net::URLSessionTask> downloadTaskWithResumeData(const fnd::Data& resumeData,
                                                                  std::shared_ptr<NetTaskProgress>* progress,
                                                                  Destination destination, CompletionHandler completion);

  // A background session may refuse an upload from a file; with this set the manager asks up to
  // three more times.
  bool attemptsToRecreateUploadTasksForBackgroundSessions() const { return recreateUploads_.load(); }
  void setAttemptsToRecreateUploadTasksForBackgroundSessions(bool on) { recreateUploads_ = on; }

  std::shared_ptr<NetTaskProgress> uploadProgressForTask(const net::URLSessionTask& task) const;
  std::shared_ptr<NetTaskProgress> downloadProgressForTask(const net::URLSessionTask& task) const;
  std::vector<std::shared_ptr<net::URLSessionTask>> tasks() const;
  std::vector<std::shared_ptr<net::URLSessionTask>> dataTasks() const;
  std::vector<std::shared_ptr<net::URLSessionTask>> uploadTasks() const;
  std::vector<std::shared_ptr<net::URLSessionTask>> downloadTasks() const;
  // "tasks" (data, then upload, then download), "dataTasks", "uploadTasks" or "downloadTasks";
  // nothing for any other key path.
  std::optional<std::vector<std::shared_ptr<net::URLSessionTask>>> tasksForKeyPath(std::string_view keyPath) const;

  void invalidateSessionCancelingTasks(bool cancelPendingTasks);

  // Callback blocks, each optional. They run on the delegate queue (one at a time), except the
  // redirection, challenge, response and new-body-stream blocks, which answer on the network
  // thread, and the background-events block, which runs on the main queue.
  using SessionDidBecomeInvalidBlock = std::function<void(net::URLSession&, const fnd::Error*)>;
  using SessionDidReceiveAuthenticationChallengeBlock =
      std::function<Disposition(net::URLSession&, net::AuthenticationChallenge&, std::optional<net::URLCredential>& credential)>;
  using DidFinishEventsForBackgroundURLSessionBlock = std::function<void(net::URLSession&)>;
  using TaskWillPerformHTTPRedirectionBlock = std::function<std::optional<net::URLRequest>(
      net::URLSession&, net::URLSessionTask&, const net::HTTPURLResponse&, const net::URLRequest&)>;
  using TaskDidReceiveAuthenticationChallengeBlock = std::function<Disposition(
      net::URLSession&, net::URLSessionTask&, net::AuthenticationChallenge&, std::optional<net::URLCredential>& credential)>;
  using TaskNeedNewBodyStreamBlock = std::function<std::shared_ptr<net::InputStream>(net::URLSession&, net::URLSessionTask&)>;
  using TaskDidSendBodyDataBlock =
      std::function<void(net::URLSession&, net::URLSessionTask&, std::int64_t sent, std::int64_t totalSent, std::int64_t expected)>;
  using TaskDidCompleteBlock = std::function<void(net::URLSession&, net::URLSessionTask&, const fnd::Error*)>;
  using DataTaskDidReceiveResponseBlock =
      std::function<ResponseDisposition(net::URLSession&, net::URLSessionTask&, const net::URLResponse&)>;
  // The data task itself carries on as the download task.
  using DataTaskDidBecomeDownloadTaskBlock =
      std::function<void(net::URLSession&, net::URLSessionTask& dataTask, net::URLSessionTask& downloadTask)>;
  using DataTaskDidReceiveDataBlock = std::function<void(net::URLSession&, net::URLSessionTask&, const fnd::Data&)>;
  using DataTaskWillCacheResponseBlock = std::function<std::optional<net::CachedURLResponse>(
      net::URLSession&, net::URLSessionTask&, const net::CachedURLResponse& proposed)>;
  using DownloadTaskDidFinishDownloadingBlock =
      std::function<std::optional<std::string>(net::URLSession&, net::URLSessionTask&, const std::string& temporaryPath)>;
  using DownloadTaskDidWriteDataBlock = std::function<void(net::URLSession&, net::URLSessionTask&, std::int64_t written,
                                                          std::int64_t totalWritten, std::int64_t expected)>;
  using DownloadTaskDidResumeBlock =
      std::function<void(net::URLSession&, net::URLSessionTask&, std::int64_t fileOffset, std::int64_t expectedTotalBytes)>;

  void setSessionDidBecomeInvalidBlock(SessionDidBecomeInvalidBlock b) { store(blocks_.sessionDidBecomeInvalid, std::move(b)); }
  void setSessionDidReceiveAuthenticationChallengeBlock(SessionDidReceiveAuthenticationChallengeBlock b) {
    store(blocks_.sessionDidReceiveAuthenticationChallenge, std::move(b));
  }
  void setDidFinishEventsForBackgroundURLSessionBlock(DidFinishEventsForBackgroundURLSessionBlock b) {
    store(blocks_.didFinishEventsForBackgroundURLSession, std::move(b));
  }
  void setTaskWillPerformHTTPRedirectionBlock(TaskWillPerformHTTPRedirectionBlock b) {
    store(blocks_.taskWillPerformHTTPRedirection, std::move(b));
  }
  void setTaskDidReceiveAuthenticationChallengeBlock(TaskDidReceiveAuthenticationChallengeBlock b) {
    store(blocks_.taskDidReceiveAuthenticationChallenge, std::move(b));
  }
  void setTaskNeedNewBodyStreamBlock(TaskNeedNewBodyStreamBlock b) { store(blocks_.taskNeedNewBodyStream, std::move(b)); }
  void setTaskDidSendBodyDataBlock(TaskDidSendBodyDataBlock b) { store(blocks_.taskDidSendBodyData, std::move(b)); }
  void setTaskDidCompleteBlock(TaskDidCompleteBlock b) { store(blocks_.taskDidComplete, std::move(b)); }
  void setDataTaskDidReceiveResponseBlock(DataTaskDidReceiveResponseBlock b) {
    store(blocks_.dataTaskDidReceiveResponse, std::move(b));
  }
  void setDataTaskDidBecomeDownloadTaskBlock(DataTaskDidBecomeDownloadTaskBlock b) {
    store(blocks_.dataTaskDidBecomeDownloadTask, std::move(b));
  }
  void setDataTaskDidReceiveDataBlock(DataTaskDidReceiveDataBlock b) { store(blocks_.dataTaskDidReceiveData, std::move(b)); }
  void setDataTaskWillCacheResponseBlock(DataTaskWillCacheResponseBlock b) {
    store(blocks_.dataTaskWillCacheResponse, std::move(b));
  }
  void setDownloadTaskDidFinishDownloadingBlock(DownloadTaskDidFinishDownloadingBlock b) {
    store(blocks_.downloadTaskDidFinishDownloading, std::move(b));
  }
  void setDownloadTaskDidWriteDataBlock(DownloadTaskDidWriteDataBlock b) { store(blocks_.downloadTaskDidWriteData, std::move(b)); }
  void setDownloadTaskDidResumeBlock(DownloadTaskDidResumeBlock b) { store(blocks_.downloadTaskDidResume, std::move(b)); }

  // Session callbacks.
  void sessionDidBecomeInvalid(net::URLSession& session, const fnd::Error* error) override;
  void sessionDidReceiveChallenge(net::URLSession& session, net::URLSessionTask* task,
                                  net::AuthenticationChallenge& challenge) override;
  std::optional<net::URLRequest> sessionTaskWillPerformHTTPRedirection(net::URLSession& session, net::URLSessionTask& task,
                                                                       const net::HTTPURLResponse& response,
                                                                       const net::URLRequest& newRequest) override;
  void sessionTaskDidSendBodyData(net::URLSession& session, net::URLSessionTask& task, std::int64_t sent,
                                  std::int64_t totalSent, std::int64_t expected) override;
  void sessionDataTaskDidReceiveData(net::URLSession& session, net::URLSessionTask& task, const fnd::Data& data) override;
  void sessionDownloadTaskDidWriteData(net::URLSession& session, net::URLSessionTask& task, std::int64_t written,
                                       std::int64_t totalWritten, std::int64_t expected) override;
  void sessionDownloadTaskDidFinishDownloadingToURL(net::URLSession& session, net::URLSessionTask& task,
                                                    const std::string& location) override;
  void sessionTaskDidCompleteWithError(net::URLSession& session, net::URLSessionTask& task, const fnd::Error* error) override;
  std::shared_ptr<net::InputStream> sessionTaskNeedNewBodyStream(net::URLSession& session, net::URLSessionTask& task) override;
  ResponseDisposition sessionDataTaskDidReceiveResponse(net::URLSession& session, net::URLSessionTask& task,
                                                        const net::URLResponse& response) override;
  void sessionDataTaskDidBecomeDownloadTask(net::URLSession& session, net::URLSessionTask& dataTask) override;
  std::optional<net::CachedURLResponse> sessionDataTaskWillCacheResponse(net::URLSession& session, net::URLSessionTask& task,
                                                                         const net::CachedURLResponse& proposed) override;
  void sessionDownloadTaskDidResumeAtOffset(net::URLSession& session, net::URLSessionTask& task, std::int64_t fileOffset,
                                            std::int64_t expectedTotalBytes) override;
  void sessionDidFinishEventsForBackgroundSession(net::URLSession& session) override;

 protected:
  NetURLSessionManager();
  void setUp(std::optional<net::URLSessionConfiguration> configuration);

 private:
  struct TaskDelegate {
    fnd::Data data;
    std::shared_ptr<NetTaskProgress> progress = std::make_shared<NetTaskProgress>();
    std::optional<std::string> downloadFilePath;
    std::optional<fnd::Error> moveError;
    Destination destination;
    CompletionHandler completion;
  };
  std::shared_ptr<net::URLSessionTask> attach(std::shared_ptr<net::URLSessionTask> task, CompletionHandler completion,
                                              std::shared_ptr<NetTaskProgress>* progress, Destination destination);
  std::shared_ptr<TaskDelegate> delegateFor(const net::URLSessionTask& task) const;
  void removeDelegate(const net::URLSessionTask& task);
  std::optional<fnd::Error> moveFile(net::URLSessionTask& task, const std::string& from, const std::string& to);
  void adoptTasks();
  // A block or setting of the manager, written or read under its lock (any thread may ask).
  template <typename T>
  void store(T& slot, T value) {
    std::lock_guard lock(mutex_);
    slot = std::move(value);
  }
  template <typename T>
  T load(const T& slot) const {
    std::lock_guard lock(mutex_);
    return slot;
  }
  struct Blocks {
    SessionDidBecomeInvalidBlock sessionDidBecomeInvalid;
    SessionDidReceiveAuthenticationChallengeBlock sessionDidReceiveAuthenticationChallenge;
    DidFinishEventsForBackgroundURLSessionBlock didFinishEventsForBackgroundURLSession;
    TaskWillPerformHTTPRedirectionBlock taskWillPerformHTTPRedirection;
    TaskDidReceiveAuthenticationChallengeBlock taskDidReceiveAuthenticationChallenge;
    TaskNeedNewBodyStreamBlock taskNeedNewBodyStream;
    TaskDidSendBodyDataBlock taskDidSendBodyData;
    TaskDidCompleteBlock taskDidComplete;
    DataTaskDidReceiveResponseBlock dataTaskDidReceiveResponse;
    DataTaskDidBecomeDownloadTaskBlock dataTaskDidBecomeDownloadTask;
    DataTaskDidReceiveDataBlock dataTaskDidReceiveData;
    DataTaskWillCacheResponseBlock dataTaskWillCacheResponse;
    DownloadTaskDidFinishDownloadingBlock downloadTaskDidFinishDownloading;
    DownloadTaskDidWriteDataBlock downloadTaskDidWriteData;
    DownloadTaskDidResumeBlock downloadTaskDidResume;
  } blocks_;
  std::atomic<bool> recreateUploads_{false};

  std::shared_ptr<net::URLSession> session_;
  std::shared_ptr<fnd::DispatchQueue> delegateQueue_;
  mutable std::mutex mutex_;
  std::map<std::uint64_t, std::shared_ptr<TaskDelegate>> delegates_;
  std::shared_ptr<NetHTTPResponseSerializer> responseSerializer_;
  std::shared_ptr<NetSecurityPolicy> securityPolicy_;
  std::shared_ptr<fnd::DispatchQueue> completionQueue_;
  std::shared_ptr<fnd::DispatchGroup> completionGroup_;
  int observerToken_ = 0;
};

}  // namespace kesto
