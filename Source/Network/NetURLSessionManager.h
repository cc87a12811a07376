#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/URLSession.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

namespace fnd {
class DispatchGroup;
class DispatchQueue;
}  // namespace fnd

class NetHTTPResponseSerializer;
class NetReachabilityManager;
class NetSecurityPolicy;

inline constexpr const char* kNetSessionDidInvalidateNotification = "com.kesto.networking.session.invalidate";
inline constexpr const char* kNetSessionDownloadTaskDidFailToMoveFileNotification =
    "com.kesto.networking.session.download.file-manager-error";
inline constexpr const char* kNetNetworkingTaskDidCompleteResponseDataKey = "com.kesto.networking.complete.finish.responsedata";
inline constexpr const char* kNetNetworkingTaskDidCompleteSerializedResponseKey =
    "com.kesto.networking.task.complete.serializedresponse";
inline constexpr const char* kNetNetworkingTaskDidCompleteErrorKey = "com.kesto.networking.task.complete.error";
inline constexpr const char* kNetNetworkingTaskDidCompleteAssetPathKey = "com.kesto.networking.task.complete.assetpath";

// Progress of one task: total (-1 unknown) and completed unit counts.
struct NetTaskProgress {
  std::atomic<std::int64_t> totalUnitCount{0};
  std::atomic<std::int64_t> completedUnitCount{0};
};

// Runs transfers as tasks of one URL session, turns each finished reply into an object with its
// response serializer and calls the task's completion handler on completionQueue (main by
// default). The session holds the manager until invalidateSessionCancelingTasks has made it
// invalid; after that the manager lives only as long as its users hold it.
class NetURLSessionManager : public net::URLSessionDelegate, public std::enable_shared_from_this<NetURLSessionManager> {
 public:
  using CompletionHandler =
      std::function<void(std::shared_ptr<const net::URLResponse> response, const fnd::Value& responseObject, const fnd::Error* error)>;
  // Answers the file path a finished download is moved to, or nothing to leave it.
  using Destination = std::function<std::optional<std::string>(const std::string& temporaryPath,
                                                               std::shared_ptr<const net::URLResponse> response)>;

  static std::shared_ptr<NetURLSessionManager> make(
      std::optional<net::URLSessionConfiguration> configuration = std::nullopt);
  ~NetURLSessionManager() override;

  const std::shared_ptr<net::URLSession>& session() const { return session_; }
  const net::URLSessionConfiguration& sessionConfiguration() const { return session_->configuration(); }
  std::shared_ptr<NetHTTPResponseSerializer> responseSerializer() const;
  void setResponseSerializer(std::shared_ptr<NetHTTPResponseSerializer> serializer);
  std::shared_ptr<NetSecurityPolicy> securityPolicy() const;
  void setSecurityPolicy(std::shared_ptr<NetSecurityPolicy> policy);
  NetReachabilityManager& reachabilityManager() const;
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

  std::shared_ptr<NetTaskProgress> uploadProgressForTask(const net::URLSessionTask& task) const;
  std::shared_ptr<NetTaskProgress> downloadProgressForTask(const net::URLSessionTask& task) const;
  std::vector<std::shared_ptr<net::URLSessionTask>> tasks() const;
  std::vector<std::shared_ptr<net::URLSessionTask>> dataTasks() const;
  std::vector<std::shared_ptr<net::URLSessionTask>> uploadTasks() const;
  std::vector<std::shared_ptr<net::URLSessionTask>> downloadTasks() const;

  void invalidateSessionCancelingTasks(bool cancelPendingTasks);

  // Optional hooks (a subset of the session callbacks).
  std::function<std::optional<net::URLRequest>(net::URLSessionTask&, const net::HTTPURLResponse&, const net::URLRequest&)>
      taskWillPerformHTTPRedirection;
  std::function<void(net::URLSessionTask&, const fnd::Error*)> taskDidComplete;
  std::function<void(net::URLSessionTask&, const fnd::Data&)> dataTaskDidReceiveData;
  std::function<std::optional<std::string>(net::URLSessionTask&, const std::string& temporaryPath)> downloadTaskDidFinishDownloading;

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
