#include "Platform/Net/URLSession.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLError.h"

#include <QDir>
#include <QTemporaryFile>

#include <cstdio>
#include <map>

namespace kesto::net {

namespace {

std::mutex& observerMutex() {
  static std::mutex m;
  return m;
}
std::map<int, URLSessionTask::StateObserver>& observers() {
  static std::map<int, URLSessionTask::StateObserver> o;
  return o;
}
std::atomic<std::uint64_t> nextTaskIdentifier{1};

void announce(URLSessionTask& task, bool resumed) {
  fnd::NotificationCenter::defaultCenter().postNotificationName(
      resumed ? kURLSessionTaskDidResumeNotification : kURLSessionTaskDidSuspendNotification, &task);
  std::vector<URLSessionTask::StateObserver> list;
  {
    std::lock_guard lock(observerMutex());
    for (auto& [token, o] : observers()) list.push_back(o);
  }
  for (auto& o : list) o(task, resumed);
}

}  // namespace

// Runs one task's connection and hands its progress to the session delegate. Callbacks that
// must answer (redirects, challenges, the response disposition) run on the network thread; the
// others go through the session's executor.
struct TaskDriver final : URLConnectionDelegate {
  std::weak_ptr<URLSessionTask> task;
  std::shared_ptr<URLSession> session;
  std::shared_ptr<OutputStream> file;
  std::string filePath;
  bool collect = false;
  bool failed = false;

  std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& request,
                                                      const HTTPURLResponse* redirect) override {
    auto t = task.lock();
    if (!t || !redirect || !session->delegate()) return request;
    return session->delegate()->sessionTaskWillPerformHTTPRedirection(*session, *t, *redirect, request);
  }
  void connectionWillSendRequestForAuthenticationChallenge(URLConnection&, AuthenticationChallenge& c) override {
    auto t = task.lock();
    if (t && session->delegate())
      session->delegate()->sessionDidReceiveChallenge(*session, c.protectionSpace().serverTrust ? nullptr : t.get(), c);
  }
  void connectionDidSendBodyData(URLConnection&, std::int64_t sent, std::int64_t total, std::int64_t expected) override {
    auto t = task.lock();
    if (!t) return;
    t->sent_ = total;
    auto s = session;
    if (s->delegate())
      s->deliver([s, t, sent, total, expected] { s->delegate()->sessionTaskDidSendBodyData(*s, *t, sent, total, expected); });
  }
  void connectionDidReceiveResponse(URLConnection& c, std::shared_ptr<const URLResponse> response) override {
    auto t = task.lock();
    if (!t) return;
    {
      std::lock_guard lock(t->mutex_);
      t->response_ = response;
    }
    t->expectedToReceive_ = response->expectedContentLength();
    if (t->kind_ == URLSessionTask::Kind::Data && session->delegate() && !t->dataCompletion_) {
      auto d = session->delegate()->sessionDataTaskDidReceiveResponse(*session, *t, *response);
      if (d == URLSessionDelegate::ResponseDisposition::Cancel) {
        c.cancel();
        t->cancel();
        return;
      }
      if (d == URLSessionDelegate::ResponseDisposition::BecomeDownload) {
        t->kind_ = URLSessionTask::Kind::Download;
        auto s = session;
        s->deliver([s, t] { s->delegate()->sessionDataTaskDidBecomeDownloadTask(*s, *t); });
      }
    }
    if (t->kind_ == URLSessionTask::Kind::Download && !file) openFile(c);
    t->collected_.clear();
    t->received_ = 0;
  }
  void openFile(URLConnection& c) {
    QTemporaryFile tmp(QDir::tempPath() + "/kesto-download-XXXXXX");
    tmp.setAutoRemove(false);
    if (!tmp.open()) {
      fail(c, makeURLError(urlerror::CannotCreateFile, &c.originalRequest().url()));
      return;
    }
    filePath = tmp.fileName().toStdString();
    tmp.close();
    file = makeFileOutputStream(filePath, false);
    file->open();
  }
  void connectionDidReceiveData(URLConnection& c, const std::uint8_t* bytes, std::size_t length) override {
    auto t = task.lock();
    if (!t || failed) return;
    std::int64_t total = t->received_ += static_cast<std::int64_t>(length);
    if (t->kind_ == URLSessionTask::Kind::Download) {
      if (!file || file->write(bytes, length) != static_cast<std::ptrdiff_t>(length)) {
        c.cancel();
        fail(c, file && file->error() ? *file->error() : makeURLError(urlerror::CannotCreateFile, &c.originalRequest().url()));
        return;
      }
      auto s = session;
      std::int64_t expected = t->expectedToReceive_;
      if (s->delegate())
        s->deliver([s, t, length, total, expected] {
          s->delegate()->sessionDownloadTaskDidWriteData(*s, *t, static_cast<std::int64_t>(length), total, expected);
        });
      return;
    }
    if (collect) {
      if (t->collected_.size() + length > session->configuration().maximumBodySize) {
        c.cancel();
        fail(c, makeURLError(urlerror::DataLengthExceedsMaximum, &c.originalRequest().url()));
        return;
      }
      t->collected_.insert(t->collected_.end(), bytes, bytes + length);
      return;
    }
    auto s = session;
    if (s->delegate()) {
      auto chunk = std::make_shared<fnd::Data>(bytes, bytes + length);
      s->deliver([s, t, chunk] { s->delegate()->sessionDataTaskDidReceiveData(*s, *t, *chunk); });
    }
  }
  void connectionDidFinishLoading(URLConnection&) override { complete(std::nullopt); }
  void connectionDidFailWithError(URLConnection& c, const fnd::Error& e) override { fail(c, e); }

  void fail(URLConnection&, const fnd::Error& e) {
    if (failed) return;
    failed = true;
    complete(e);
  }

  void complete(std::optional<fnd::Error> error) {
    auto t = task.lock();
    if (!t) return;
    if (file) file->close();
    {
      std::lock_guard lock(t->mutex_);
      t->error_ = error;
    }
    t->state_ = URLSessionTask::State::Completed;
    auto s = session;
    std::string path = filePath;
    auto body = std::make_shared<fnd::Data>(std::move(t->collected_));
    s->deliver([s, t, path, body, error] {
      s->removeTask(*t);  // a completed task is no longer listed, also inside its handlers
      auto response = t->response();
      const fnd::Error* e = error ? &*error : nullptr;
      if (t->kind_ == URLSessionTask::Kind::Download) {
        if (!e && s->delegate()) s->delegate()->sessionDownloadTaskDidFinishDownloadingToURL(*s, *t, path);
        if (t->downloadCompletion_) t->downloadCompletion_(e ? nullptr : &path, response, e);
        // The temporary file is gone after the callbacks: they must move it to keep it.
        if (!path.empty()) std::remove(path.c_str());
      } else if (t->dataCompletion_) {
        t->dataCompletion_(e ? nullptr : body.get(), response, e);
      }
      if (s->delegate()) s->delegate()->sessionTaskDidCompleteWithError(*s, *t, e);
      t->dataCompletion_ = nullptr;
      t->downloadCompletion_ = nullptr;
      s->taskEnded(*t);
    });
  }
};

// ---------------------------------------------------------------------------------------------

URLSessionTask::URLSessionTask(std::shared_ptr<URLSession> session, Kind kind, URLRequest request, std::uint64_t identifier)
    : session_(session), kind_(kind), original_(std::move(request)), identifier_(identifier) {}

URLSessionTask::~URLSessionTask() = default;

std::string URLSessionTask::taskDescription() const {
  std::lock_guard lock(mutex_);
  return description_;
}
void URLSessionTask::setTaskDescription(std::string text) {
  std::lock_guard lock(mutex_);
  description_ = std::move(text);
}
std::shared_ptr<const URLResponse> URLSessionTask::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}
std::optional<fnd::Error> URLSessionTask::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

int URLSessionTask::addStateObserver(StateObserver observer) {
  static int next = 1;
  std::lock_guard lock(observerMutex());
  int token = next++;
  observers()[token] = std::move(observer);
  return token;
}

void URLSessionTask::removeStateObserver(int token) {
  std::lock_guard lock(observerMutex());
  observers().erase(token);
}

void URLSessionTask::resume() {
  // Only the state before the call decides whether the change is announced.
  State before = state_.load();
  if (before == State::Suspended) {
    state_ = State::Running;
    startTransfer();
  }
  if (before != State::Running) announce(*this, true);
}

void URLSessionTask::suspend() {
  State before = state_.load();
  if (before == State::Running) {
    state_ = State::Suspended;
    stopTransfer();
  }
  if (before != State::Suspended) announce(*this, false);
}

void URLSessionTask::cancel() {
  State s = state_.exchange(State::Canceling);
  if (s == State::Completed) {
    state_ = State::Completed;
    return;
  }
  if (s == State::Canceling) return;
  auto connection = connection_;
  if (connection) connection->cancel();
  auto driver = std::static_pointer_cast<TaskDriver>(driver_);
  if (!driver) {
    auto session = session_.lock();
    if (!session) return;
    driver = std::make_shared<TaskDriver>();
    driver->task = weak_from_this();
    driver->session = session;
    driver->collect = static_cast<bool>(dataCompletion_);
    driver_ = driver;
  }
  URL url = original_.url();
  auto d = driver;
  URLConnection::performOnNetworkThread([d, url] {
    if (d->failed) return;
    d->failed = true;
    d->complete(makeURLError(urlerror::Cancelled, &url));
  });
}

void URLSessionTask::startTransfer() {
  auto session = session_.lock();
  if (!session) return;
  auto driver = std::make_shared<TaskDriver>();
  driver->task = weak_from_this();
  driver->session = session;
  driver->collect = static_cast<bool>(dataCompletion_);
  URLRequest request = original_;
  for (const auto& [name, value] : session->configuration().additionalHeaders.fields())
    if (!request.allHTTPHeaderFields().contains(name)) request.setValueForHTTPHeaderField(value, name);
  if (uploadData_) {
    request.setHTTPBody(*uploadData_);
    expectedToSend_ = static_cast<std::int64_t>(uploadData_->size());
  } else if (!uploadFile_.empty()) {
    auto stream = makeFileInputStream(uploadFile_);
    expectedToSend_ = stream->length().value_or(-1);
    request.setHTTPBodyStream(stream);
  }
  driver_ = driver;
  connection_ = URLConnection::make(std::move(request), driver);
  everStarted_ = true;
  connection_->start();
}

void URLSessionTask::stopTransfer() {
  if (connection_) connection_->cancel();
  connection_.reset();
  driver_.reset();
}

// ---------------------------------------------------------------------------------------------

URLSession::URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate, Executor executor)
    : configuration_(std::move(configuration)), delegate_(std::move(delegate)), executor_(std::move(executor)) {}

URLSession::~URLSession() = default;

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::shared_ptr<URLSessionDelegate> delegate, Executor delegateExecutor) {
  return std::shared_ptr<URLSession>(new URLSession(std::move(configuration), std::move(delegate), std::move(delegateExecutor)));
}

std::string URLSession::sessionDescription() const {
  std::lock_guard lock(mutex_);
  return description_;
}
void URLSession::setSessionDescription(std::string text) {
  std::lock_guard lock(mutex_);
  description_ = std::move(text);
}

void URLSession::deliver(std::function<void()> work) const {
  if (executor_)
    executor_(std::move(work));
  else
    work();
}

namespace {
struct ConcreteTask final : URLSessionTask {
  ConcreteTask(std::shared_ptr<URLSession> s, Kind k, URLRequest r, std::uint64_t id)
      : URLSessionTask(std::move(s), k, std::move(r), id) {}
};
}  // namespace

std::shared_ptr<URLSessionTask> URLSession::add(URLSessionTask::Kind kind, URLRequest request) {
  if (invalidated_.load()) return nullptr;
  if (request.timeoutInterval() == 60.0) request.setTimeoutInterval(configuration_.timeoutIntervalForRequest);
  auto task = std::make_shared<ConcreteTask>(shared_from_this(), kind, std::move(request), nextTaskIdentifier++);
  std::lock_guard lock(mutex_);
  tasks_.push_back(task);
  return task;
}

std::shared_ptr<URLSessionTask> URLSession::dataTask(URLRequest request, DataCompletion completion) {
  auto t = add(URLSessionTask::Kind::Data, std::move(request));
  if (t) t->dataCompletion_ = std::move(completion);
  return t;
}

std::shared_ptr<URLSessionTask> URLSession::uploadTask(URLRequest request, fnd::Data body, DataCompletion completion) {
  auto t = add(URLSessionTask::Kind::Upload, std::move(request));
  if (t) {
    t->uploadData_ = std::move(body);
    t->expectedToSend_ = static_cast<std::int64_t>(t->uploadData_->size());
    t->dataCompletion_ = std::move(completion);
  }
  return t;
}

std::shared_ptr<URLSessionTask> URLSession::uploadTaskFromFile(URLRequest request, std::string path, DataCompletion completion) {
  auto t = add(URLSessionTask::Kind::Upload, std::move(request));
  if (t) {
    t->expectedToSend_ = makeFileInputStream(path)->length().value_or(-1);
    t->uploadFile_ = std::move(path);
    t->dataCompletion_ = std::move(completion);
  }
  return t;
}

std::shared_ptr<URLSessionTask> URLSession::uploadTaskWithStreamedRequest(URLRequest request) {
  std::int64_t expected = request.httpBodyStream() ? request.httpBodyStream()->length().value_or(-1) : -1;
  auto t = add(URLSessionTask::Kind::Upload, std::move(request));
  if (t) t->expectedToSend_ = expected;
  return t;
}

std::shared_ptr<URLSessionTask> URLSession::downloadTask(URLRequest request, DownloadCompletion completion) {
  auto t = add(URLSessionTask::Kind::Download, std::move(request));
  if (t) t->downloadCompletion_ = std::move(completion);
  return t;
}

std::vector<std::shared_ptr<URLSessionTask>> URLSession::tasks() const {
  std::lock_guard lock(mutex_);
  return tasks_;
}

void URLSession::removeTask(URLSessionTask& task) {
  std::lock_guard lock(mutex_);
  tasks_.erase(std::remove_if(tasks_.begin(), tasks_.end(), [&](const auto& t) { return t.get() == &task; }), tasks_.end());
}

void URLSession::taskEnded(URLSessionTask& task) {
  bool lastOne = false;
  bool invalidateNow = false;
  {
    std::lock_guard lock(mutex_);
    lastOne = tasks_.empty();
    invalidateNow = lastOne && finishing_;
  }
  if (lastOne && configuration_.identifier && delegate_) delegate_->sessionDidFinishEventsForBackgroundSession(*this);
  if (invalidateNow && delegate_) {
    auto d = delegate_;
    d->sessionDidBecomeInvalid(*this, nullptr);
  }
}

void URLSession::finishTasksAndInvalidate() {
  bool empty;
  {
    std::lock_guard lock(mutex_);
    invalidated_ = true;
    finishing_ = true;
    empty = tasks_.empty();
  }
  if (empty && delegate_) {
    auto self = shared_from_this();
    deliver([self] { self->delegate_->sessionDidBecomeInvalid(*self, nullptr); });
  }
}

void URLSession::invalidateAndCancel() {
  std::vector<std::shared_ptr<URLSessionTask>> list;
  {
    std::lock_guard lock(mutex_);
    invalidated_ = true;
    finishing_ = true;
    list = tasks_;
  }
  for (auto& t : list) t->cancel();
  if (list.empty() && delegate_) {
    auto self = shared_from_this();
    deliver([self] { self->delegate_->sessionDidBecomeInvalid(*self, nullptr); });
  }
}

}  // namespace kesto::net
