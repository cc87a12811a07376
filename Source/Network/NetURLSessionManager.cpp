#include "Network/NetURLSessionManager.h"

#include "Network/NetNetworking.h"
#include "Network/NetReachabilityManager.h"
#include "Network/NetSecurityPolicy.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Net/ServerTrust.h"
#include "Platform/Net/URLCoding.h"
#include "Platform/Net/URLError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kesto {

namespace {

fnd::DispatchQueue& sessionProcessingQueue() {
  static auto q = fnd::DispatchQueue::create("com.kesto.networking.session.manager.processing", fnd::DispatchQueue::Kind::Concurrent);
  return *q;
}

fnd::DispatchGroup& sessionCompletionGroup() {
  static auto* g = new fnd::DispatchGroup();
  return *g;
}

// What the session holds as its delegate. Like any session delegate it keeps the manager alive
// until the session is invalid; then it lets go, so the manager, its session and its delegate
// queue no longer hold one another and all go once the last outside reference does.
class SessionDelegate final : public net::URLSessionDelegate {
 public:
  explicit SessionDelegate(const std::shared_ptr<NetURLSessionManager>& manager) : held_(manager), manager_(manager) {}

  void sessionDidBecomeInvalid(net::URLSession& session, const fnd::Error* error) override {
    if (auto m = manager_.lock()) m->sessionDidBecomeInvalid(session, error);
    std::shared_ptr<NetURLSessionManager> release;
    std::lock_guard lock(mutex_);
    release.swap(held_);  // destroyed after the lock is let go
  }
  void sessionDidReceiveChallenge(net::URLSession& session, net::URLSessionTask* task,
                                  net::AuthenticationChallenge& challenge) override {
    if (auto m = manager_.lock()) m->sessionDidReceiveChallenge(session, task, challenge);
  }
  std::optional<net::URLRequest> sessionTaskWillPerformHTTPRedirection(net::URLSession& session, net::URLSessionTask& task,
                                                                       const net::HTTPURLResponse& response,
                                                                       const net::URLRequest& newRequest) override {
    auto m = manager_.lock();
    return m ? m->sessionTaskWillPerformHTTPRedirection(session, task, response, newRequest)
             : std::optional<net::URLRequest>(newRequest);
  }
  void sessionTaskDidSendBodyData(net::URLSession& session, net::URLSessionTask& task, std::int64_t sent,
                                  std::int64_t totalSent, std::int64_t expected) override {
    if (auto m = manager_.lock()) m->sessionTaskDidSendBodyData(session, task, sent, totalSent, expected);
  }
  ResponseDisposition sessionDataTaskDidReceiveResponse(net::URLSession& session, net::URLSessionTask& task,
                                                        const net::URLResponse& response) override {
    auto m = manager_.lock();
    return m ? m->sessionDataTaskDidReceiveResponse(session, task, response) : ResponseDisposition::Allow;
  }
  void sessionDataTaskDidBecomeDownloadTask(net::URLSession& session, net::URLSessionTask& task) override {
    if (auto m = manager_.lock()) m->sessionDataTaskDidBecomeDownloadTask(session, task);
  }
  void sessionDataTaskDidReceiveData(net::URLSession& session, net::URLSessionTask& task, const fnd::Data& data) override {
    if (auto m = manager_.lock()) m->sessionDataTaskDidReceiveData(session, task, data);
  }
  void sessionDownloadTaskDidWriteData(net::URLSession& session, net::URLSessionTask& task, std::int64_t written,
                                       std::int64_t totalWritten, std::int64_t expected) override {
    if (auto m = manager_.lock()) m->sessionDownloadTaskDidWriteData(session, task, written, totalWritten, expected);
  }
  void sessionDownloadTaskDidFinishDownloadingToURL(net::URLSession& session, net::URLSessionTask& task,
                                                    const std::string& location) override {
    if (auto m = manager_.lock()) m->sessionDownloadTaskDidFinishDownloadingToURL(session, task, location);
  }
  void sessionTaskDidCompleteWithError(net::URLSession& session, net::URLSessionTask& task, const fnd::Error* error) override {
    if (auto m = manager_.lock()) m->sessionTaskDidCompleteWithError(session, task, error);
  }
  void sessionDidFinishEventsForBackgroundSession(net::URLSession& session) override {
    if (auto m = manager_.lock()) m->sessionDidFinishEventsForBackgroundSession(session);
  }
  std::shared_ptr<net::InputStream> sessionTaskNeedNewBodyStream(net::URLSession& session, net::URLSessionTask& task) override {
    auto m = manager_.lock();
    return m ? m->sessionTaskNeedNewBodyStream(session, task) : nullptr;
  }
  std::optional<net::CachedURLResponse> sessionDataTaskWillCacheResponse(net::URLSession& session, net::URLSessionTask& task,
                                                                         const net::CachedURLResponse& proposed) override {
    auto m = manager_.lock();
    return m ? m->sessionDataTaskWillCacheResponse(session, task, proposed) : std::optional<net::CachedURLResponse>(proposed);
  }
  void sessionDownloadTaskDidResumeAtOffset(net::URLSession& session, net::URLSessionTask& task, std::int64_t offset,
                                            std::int64_t expected) override {
    if (auto m = manager_.lock()) m->sessionDownloadTaskDidResumeAtOffset(session, task, offset, expected);
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<NetURLSessionManager> held_;
  std::weak_ptr<NetURLSessionManager> manager_;
};

}  // namespace

void NetTaskProgress::setPausingHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  pausing_ = std::move(handler);
}
void NetTaskProgress::setCancellationHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  cancellation_ = std::move(handler);
}
bool NetTaskProgress::isPausable() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(pausing_);
}
bool NetTaskProgress::isCancellable() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(cancellation_);
}
void NetTaskProgress::pause() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    handler = pausing_;
  }
  if (handler) handler();
}
void NetTaskProgress::cancel() {
  if (cancelled_.exchange(true)) return;
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    handler = cancellation_;
  }
  if (handler) handler();
}

std::shared_ptr<NetURLSessionManager> NetURLSessionManager::make(std::optional<net::URLSessionConfiguration> configuration) {
  std::shared_ptr<NetURLSessionManager> m(new NetURLSessionManager());
  m->setUp(std::move(configuration));
  return m;
}

NetURLSessionManager::NetURLSessionManager()
    : responseSerializer_(NetJSONResponseSerializer::serializer()), securityPolicy_(NetSecurityPolicy::defaultPolicy()) {}

void NetURLSessionManager::setUp(std::optional<net::URLSessionConfiguration> configuration) {
  // One callback at a time, in order, as a delegate queue of width 1.
  delegateQueue_ = fnd::DispatchQueue::create("com.kesto.networking.session.manager.delegate");
  auto queue = delegateQueue_;
  // Callbacks of adopted tasks wait until those tasks have their delegates.
  queue->suspend();
  session_ = net::URLSession::make(configuration.value_or(net::URLSessionConfiguration::defaultConfiguration()),
                                   std::make_shared<SessionDelegate>(shared_from_this()),
                                   [queue](std::function<void()> work) { queue->async(std::move(work)); });
  adoptTasks();
  queue->resume();
  std::weak_ptr<NetURLSessionManager> weak = shared_from_this();
  std::string mine = taskDescriptionForSessionTasks();
  observerToken_ = net::URLSessionTask::addStateObserver([weak, mine](net::URLSessionTask& task, bool resumed) {
    // Only this manager's tasks are announced again, on the main queue.
    if (!weak.lock() || task.taskDescription() != mine) return;
    auto t = task.shared_from_this();
    fnd::DispatchQueue::main().async([t, resumed] {
      fnd::NotificationCenter::defaultCenter().postNotificationName(
          resumed ? kNetTaskDidResumeNotification : kNetTaskDidSuspendNotification, t.get());
    });
  });
}

void NetURLSessionManager::adoptTasks() {
  // A background session may hold tasks of an earlier manager: they become this one's.
  for (auto& task : session_->tasks()) attach(task, nullptr, nullptr, nullptr);
}

NetURLSessionManager::~NetURLSessionManager() {
  if (observerToken_) net::URLSessionTask::removeStateObserver(observerToken_);
}

std::shared_ptr<NetHTTPResponseSerializer> NetURLSessionManager::responseSerializer() const {
  return load(responseSerializer_);
}
void NetURLSessionManager::setResponseSerializer(std::shared_ptr<NetHTTPResponseSerializer> serializer) {
  store(responseSerializer_, std::move(serializer));
}
std::shared_ptr<NetSecurityPolicy> NetURLSessionManager::securityPolicy() const { return load(securityPolicy_); }
void NetURLSessionManager::setSecurityPolicy(std::shared_ptr<NetSecurityPolicy> policy) {
  store(securityPolicy_, std::move(policy));
}
NetReachabilityManager& NetURLSessionManager::reachabilityManager() const { return NetReachabilityManager::sharedManager(); }
std::shared_ptr<fnd::DispatchQueue> NetURLSessionManager::completionQueue() const { return load(completionQueue_); }
void NetURLSessionManager::setCompletionQueue(std::shared_ptr<fnd::DispatchQueue> queue) {
  store(completionQueue_, std::move(queue));
}
void NetURLSessionManager::setCompletionGroup(std::shared_ptr<fnd::DispatchGroup> group) {
  store(completionGroup_, std::move(group));
}

std::string NetURLSessionManager::taskDescriptionForSessionTasks() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
  return buf;
}

std::string NetURLSessionManager::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<%s: %p, session: ", codingClassName().c_str(), static_cast<const void*>(this));
  return buf + session_->description() + ", operationQueue: <DispatchQueue: " + delegateQueue_->label() + ">>";
}

void NetURLSessionManager::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  net::encodeConfiguration(coder, sessionConfiguration(), "sessionConfiguration");
}

std::shared_ptr<NetURLSessionManager> NetURLSessionManager::initWithCoder(fnd::KeyedUnarchiver& coder) {
  return make(net::decodeConfiguration(coder, "sessionConfiguration"));
}

std::shared_ptr<NetURLSessionManager> NetURLSessionManager::copy() const { return make(sessionConfiguration()); }

std::shared_ptr<net::URLSessionTask> NetURLSessionManager::attach(std::shared_ptr<net::URLSessionTask> task,
                                                                  CompletionHandler completion,
                                                                  std::shared_ptr<NetTaskProgress>* progress,
                                                                  Destination destination) {
  if (!task) return nullptr;
  auto d = std::make_shared<TaskDelegate>();
  d->completion = std::move(completion);
  d->destination = std::move(destination);
  if (task->kind() == net::URLSessionTask::Kind::Upload) {
    std::int64_t total = task->countOfBytesExpectedToSend();
    if (total < 0) {
      if (auto length = task->originalRequest().valueForHTTPHeaderField("Content-Length")) total = std::atoll(length->c_str());
    }
    d->progress->totalUnitCount = total;
    std::weak_ptr<net::URLSessionTask> weak = task;
    d->progress->setPausingHandler([weak] {
      if (auto t = weak.lock()) t->suspend();
    });
    d->progress->setCancellationHandler([weak] {
      if (auto t = weak.lock()) t->cancel();
    });
  }
  if (progress) *progress = d->progress;
  task->setTaskDescription(taskDescriptionForSessionTasks());
  std::lock_guard lock(mutex_);
  delegates_[task->taskIdentifier()] = d;
  return task;
}

std::shared_ptr<NetURLSessionManager::TaskDelegate> NetURLSessionManager::delegateFor(const net::URLSessionTask& task) const {
  std::lock_guard lock(mutex_);
  auto it = delegates_.find(task.taskIdentifier());
  return it == delegates_.end() ? nullptr : it->second;
}

void NetURLSessionManager::removeDelegate(const net::URLSessionTask& task) {
  std::lock_guard lock(mutex_);
  delegates_.erase(task.taskIdentifier());
}

std::shared_ptr<net::URLSessionTask> NetURLSessionManager::dataTaskWithRequest(const net::URLRequest& request,
                                                                               CompletionHandler completion) {
  return attach(session_->dataTask(request), std::move(completion), nullptr, nullptr);
}

std::shared_ptr<net::URLSessionTask> NetURLSessionManager::uploadTaskWithRequest(const net::URLRequest& request,
                                                                                 const std::string& fromFile,
                                                                                 std::shared_ptr<NetTaskProgress>* progress,
                                                                                 CompletionHandler completion) {
  auto task = session_->uploadTaskFromFile(request, fromFile);
  for (int attempt = 0; !task && attempt < 3 && attemptsToRecreateUploadTasksForBackgroundSessions() &&
                        session_->configuration().identifier;
       ++attempt)
    task = session_->uploadTaskFromFile(request, fromFile);
  return attach(std::move(task), std::move(completion), progress, nullptr);
}

std::shared_ptr<net::URLSessionTask> NetURLSessionManager::uploadTaskWithRequest(const net::URLRequest& request,
                                                                                 fnd::Data fromData,
                                                                                 std::shared_ptr<NetTaskProgress>* progress,
                                                                                 CompletionHandler completion) {
  return attach(session_->uploadTask(request, std::move(fromData)), std::move(completion), progress, nullptr);
}

std::shared_ptr<net::URLSessionTask> NetURLSessionManager::uploadTaskWithStreamedRequest(const net::URLRequest& request,
                                                                                         std::shared_ptr<NetTaskProgress>* progress,
                                                                                         CompletionHandler completion) {
  return attach(session_->uploadTaskWithStreamedRequest(request), std::move(completion), progress, nullptr);
}

std::shared_ptr<net::URLSessionTask> NetURLSessionManager::downloadTaskWithRequest(const net::URLRequest& request,
                                                                                   std::shared_ptr<NetTaskProgress>* progress,
                                                                                   Destination destination,
                                                                                   CompletionHandler completion) {
  return attach(session_->downloadTask(request), std::move(completion), progress, std::move(destination));
}

std::shared_ptr<net::URLSessionTask> NetURLSessionManager::downloadTaskWithResumeData(const fnd::Data& resumeData,
                                                                                      std::shared_ptr<NetTaskProgress>* progress,
                                                                                      Destination destination,
                                                                                      CompletionHandler completion) {
  return attach(session_->downloadTaskWithResumeData(resumeData), std::move(completion), progress, std::move(destination));
}

std::shared_ptr<NetTaskProgress> NetURLSessionManager::uploadProgressForTask(const net::URLSessionTask& task) const {
  auto d = delegateFor(task);
  return d ? d->progress : nullptr;
}
std::shared_ptr<NetTaskProgress> NetURLSessionManager::downloadProgressForTask(const net::URLSessionTask& task) const {
  return uploadProgressForTask(task);
}

std::optional<std::vector<std::shared_ptr<net::URLSessionTask>>> NetURLSessionManager::tasksForKeyPath(
    std::string_view keyPath) const {
  using Kind = net::URLSessionTask::Kind;
  std::vector<Kind> kinds;
  if (keyPath == "tasks")
    kinds = {Kind::Data, Kind::Upload, Kind::Download};
  else if (keyPath == "dataTasks")
    kinds = {Kind::Data};
  else if (keyPath == "uploadTasks")
    kinds = {Kind::Upload};
  else if (keyPath == "downloadTasks")
    kinds = {Kind::Download};
  else
    return std::nullopt;
  auto all = session_->tasks();
  std::vector<std::shared_ptr<net::URLSessionTask>> out;
  for (auto kind : kinds)
    for (auto& t : all)
      if (t->kind() == kind) out.push_back(t);
  return out;
}

std::vector<std::shared_ptr<net::URLSessionTask>> NetURLSessionManager::tasks() const { return *tasksForKeyPath("tasks"); }
std::vector<std::shared_ptr<net::URLSessionTask>> NetURLSessionManager::dataTasks() const { return *tasksForKeyPath("dataTasks"); }
std::vector<std::shared_ptr<net::URLSessionTask>> NetURLSessionManager::uploadTasks() const {
  return *tasksForKeyPath("uploadTasks");
}
std::vector<std::shared_ptr<net::URLSessionTask>> NetURLSessionManager::downloadTasks() const {
  return *tasksForKeyPath("downloadTasks");
}

void NetURLSessionManager::invalidateSessionCancelingTasks(bool cancelPendingTasks) {
  auto session = session_;
  fnd::DispatchQueue::main().async([session, cancelPendingTasks] {
    if (cancelPendingTasks)
      session->invalidateAndCancel();
    else
      session->finishTasksAndInvalidate();
  });
}

// ---- Session callbacks

void NetURLSessionManager::sessionDidBecomeInvalid(net::URLSession& session, const fnd::Error* error) {
  if (auto block = load(blocks_.sessionDidBecomeInvalid)) block(session, error);
  {
    std::lock_guard lock(mutex_);
    delegates_.clear();
  }
  fnd::NotificationCenter::defaultCenter().postNotificationName(kNetSessionDidInvalidateNotification, &session);
}

void NetURLSessionManager::sessionDidReceiveChallenge(net::URLSession& session, net::URLSessionTask* task,
                                                      net::AuthenticationChallenge& challenge) {
  // The platform raises server trust at session level and password challenges for the task.
  Disposition disposition = Disposition::PerformDefaultHandling;
  std::optional<net::URLCredential> credential;
  auto sessionBlock = task ? nullptr : load(blocks_.sessionDidReceiveAuthenticationChallenge);
  auto taskBlock = task ? load(blocks_.taskDidReceiveAuthenticationChallenge) : nullptr;
  const auto& space = challenge.protectionSpace();
  if (sessionBlock) {
    disposition = sessionBlock(session, challenge, credential);
  } else if (taskBlock) {
    disposition = taskBlock(session, *task, challenge, credential);
  } else if (space.authenticationMethod == net::kAuthenticationMethodServerTrust && space.serverTrust) {
    auto policy = securityPolicy();
    if (policy && policy->evaluateServerTrust(*space.serverTrust, space.host)) {
      credential = net::URLCredential::forTrust(space.serverTrust);
      disposition = Disposition::UseCredential;
    } else {
      disposition = Disposition::Cancel;
    }
  }
  switch (disposition) {
    case Disposition::UseCredential:
      if (credential)
        challenge.useCredential(*credential);
      else
        challenge.continueWithoutCredential();
      break;
    case Disposition::Cancel:
      challenge.cancel();
      break;
    case Disposition::ContinueWithoutCredential:
      challenge.continueWithoutCredential();
      break;
    default:
      challenge.performDefaultHandling();
      break;
  }
}

std::optional<net::URLRequest> NetURLSessionManager::sessionTaskWillPerformHTTPRedirection(
    net::URLSession& session, net::URLSessionTask& task, const net::HTTPURLResponse& response, const net::URLRequest& newRequest) {
  auto block = load(blocks_.taskWillPerformHTTPRedirection);
  return block ? block(session, task, response, newRequest) : std::optional<net::URLRequest>(newRequest);
}

std::shared_ptr<net::InputStream> NetURLSessionManager::sessionTaskNeedNewBodyStream(net::URLSession& session,
                                                                                     net::URLSessionTask& task) {
  if (auto block = load(blocks_.taskNeedNewBodyStream)) return block(session, task);
  // A copy of the original stream, when it can be read again from the start.
  auto stream = task.originalRequest().httpBodyStream();
  return stream ? stream->reopened() : nullptr;
}

void NetURLSessionManager::sessionTaskDidSendBodyData(net::URLSession& session, net::URLSessionTask& task, std::int64_t sent,
                                                      std::int64_t totalSent, std::int64_t expected) {
  if (expected < 0) {
    if (auto length = task.originalRequest().valueForHTTPHeaderField("Content-Length")) expected = std::atoll(length->c_str());
  }
  if (auto d = delegateFor(task)) {
    d->progress->totalUnitCount = expected;
    d->progress->completedUnitCount = totalSent;
  }
  if (auto block = load(blocks_.taskDidSendBodyData)) block(session, task, sent, totalSent, expected);
}

NetURLSessionManager::ResponseDisposition NetURLSessionManager::sessionDataTaskDidReceiveResponse(
    net::URLSession& session, net::URLSessionTask& task, const net::URLResponse& response) {
  auto block = load(blocks_.dataTaskDidReceiveResponse);
  return block ? block(session, task, response) : ResponseDisposition::Allow;
}

void NetURLSessionManager::sessionDataTaskDidBecomeDownloadTask(net::URLSession& session, net::URLSessionTask& task) {
  // The task keeps its identifier as a download, so its delegate stays where it is.
  if (auto block = load(blocks_.dataTaskDidBecomeDownloadTask)) block(session, task, task);
}

void NetURLSessionManager::sessionDataTaskDidReceiveData(net::URLSession& session, net::URLSessionTask& task,
                                                         const fnd::Data& data) {
  if (auto d = delegateFor(task)) d->data.insert(d->data.end(), data.begin(), data.end());
  if (auto block = load(blocks_.dataTaskDidReceiveData)) block(session, task, data);
}

std::optional<net::CachedURLResponse> NetURLSessionManager::sessionDataTaskWillCacheResponse(
    net::URLSession& session, net::URLSessionTask& task, const net::CachedURLResponse& proposed) {
  auto block = load(blocks_.dataTaskWillCacheResponse);
  return block ? block(session, task, proposed) : std::optional<net::CachedURLResponse>(proposed);
}

void NetURLSessionManager::sessionDidFinishEventsForBackgroundSession(net::URLSession& session) {
  auto block = load(blocks_.didFinishEventsForBackgroundURLSession);
  if (!block) return;
  auto held = session.shared_from_this();
  fnd::DispatchQueue::main().async([block, held] { block(*held); });
}

void NetURLSessionManager::sessionDownloadTaskDidWriteData(net::URLSession& session, net::URLSessionTask& task,
                                                           std::int64_t written, std::int64_t totalWritten,
                                                           std::int64_t expected) {
  if (auto d = delegateFor(task)) {
    d->progress->totalUnitCount = expected;
    d->progress->completedUnitCount = totalWritten;
  }
  if (auto block = load(blocks_.downloadTaskDidWriteData)) block(session, task, written, totalWritten, expected);
}

void NetURLSessionManager::sessionDownloadTaskDidResumeAtOffset(net::URLSession& session, net::URLSessionTask& task,
                                                                std::int64_t fileOffset, std::int64_t expectedTotalBytes) {
  if (auto d = delegateFor(task)) {
    d->progress->totalUnitCount = expectedTotalBytes;
    d->progress->completedUnitCount = fileOffset;
  }
  if (auto block = load(blocks_.downloadTaskDidResume)) block(session, task, fileOffset, expectedTotalBytes);
}

std::optional<fnd::Error> NetURLSessionManager::moveFile(net::URLSessionTask& task, const std::string& from,
                                                         const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return std::nullopt;
  int err = errno;
  fnd::Error error(fnd::kPOSIXErrorDomain, err,
                   {{fnd::kLocalizedDescriptionKey, std::string("The downloaded file could not be moved: ") + std::strerror(err)},
                    {fnd::kFilePathErrorKey, to}});
  fnd::NotificationCenter::defaultCenter().postNotificationName(kNetSessionDownloadTaskDidFailToMoveFileNotification, &task,
                                                                error.userInfo());
  return error;
}

void NetURLSessionManager::sessionDownloadTaskDidFinishDownloadingToURL(net::URLSession& session, net::URLSessionTask& task,
                                                                        const std::string& location) {
  auto d = delegateFor(task);
  if (auto block = load(blocks_.downloadTaskDidFinishDownloading)) {
    if (auto to = block(session, task, location)) {
      if (d) {
        d->downloadFilePath = *to;
        d->moveError = moveFile(task, location, *to);
      } else {
        moveFile(task, location, *to);
      }
      return;
    }
  }
  if (!d) return;
  d->downloadFilePath.reset();
  if (d->destination) {
    if (auto to = d->destination(location, task.response())) {
      d->downloadFilePath = *to;
      d->moveError = moveFile(task, location, *to);
    }
  }
}

void NetURLSessionManager::sessionTaskDidCompleteWithError(net::URLSession& session, net::URLSessionTask& task,
                                                           const fnd::Error* error) {
  auto d = delegateFor(task);
  if (d) {
    removeDelegate(task);
    auto t = task.shared_from_this();
    auto serializer = responseSerializer();
    std::shared_ptr<fnd::DispatchQueue> queue;
    std::shared_ptr<fnd::DispatchGroup> group;
    {
      std::lock_guard lock(mutex_);
      queue = completionQueue_;
      group = completionGroup_;
    }
    fnd::Dictionary info;
    if (d->downloadFilePath)
      info[kNetNetworkingTaskDidCompleteAssetPathKey] = *d->downloadFilePath;
    else
      info[kNetNetworkingTaskDidCompleteResponseDataKey] = d->data;
    auto finish = [t, d, queue, group](fnd::Value object, std::optional<fnd::Error> failure, fnd::Dictionary info) {
      if (failure) info[kNetNetworkingTaskDidCompleteErrorKey] = fnd::Value(std::make_shared<fnd::Error>(*failure));
      fnd::DispatchQueue& q = queue ? *queue : fnd::DispatchQueue::main();
      fnd::DispatchGroup& g = group ? *group : sessionCompletionGroup();
      g.async(q, [t, d, object, failure, info] {
        if (d->completion) d->completion(t->response(), object, failure ? &*failure : nullptr);
        fnd::DispatchQueue::main().async([t, info] {
          fnd::NotificationCenter::defaultCenter().postNotificationName(kNetTaskDidCompleteNotification, t.get(), info);
        });
      });
    };
    if (error) {
      finish(fnd::Value(), *error, std::move(info));
    } else {
      sessionProcessingQueue().async([t, d, serializer, info, finish]() mutable {
        std::optional<fnd::Error> serializationError;
        fnd::Value object = serializer ? serializer->responseObjectForResponse(t->response(), &d->data, &serializationError)
                                       : fnd::Value(d->data);
        if (d->downloadFilePath) object = *d->downloadFilePath;
        if (!object.isNull()) info[kNetNetworkingTaskDidCompleteSerializedResponseKey] = object;
        // A download whose file could not be moved failed, whatever the reply said.
        if (d->moveError) serializationError = NetErrorWithUnderlyingError(d->moveError, serializationError);
        finish(object, serializationError, std::move(info));
      });
    }
  }
  if (auto block = load(blocks_.taskDidComplete)) block(session, task, error);
}

}  // namespace kesto
