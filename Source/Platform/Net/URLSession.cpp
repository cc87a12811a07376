#include "Platform/Net/URLSession.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLError.h"

#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

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

// Partial downloads live in the application's cache folder under this prefix; resume data may
// name no other file.
constexpr const char* kPartialDownloadPrefix = "kesto-download-";
constexpr const char* kResumeDataMark = "KestoDownloadResumeData";

// $XDG_CACHE_HOME/kesto/downloads, made (0700) when missing; empty when it cannot be made.
std::string partialDownloadFolder() {
  const std::string folder = fnd::StandardPaths::appendingPathComponent(
      fnd::StandardPaths::appendingPathComponent(fnd::StandardPaths::cachesDirectory(),
                                                 fnd::StandardPaths::applicationName()),
      "downloads");
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder, ec)) return {};
  ::chmod(folder.c_str(), 0700);
  return folder;
}


// Live background sessions by identifier, for a later session with the same one to take over.
std::mutex& backgroundMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::weak_ptr<URLSession>>& backgroundSessions() {
  static std::map<std::string, std::weak_ptr<URLSession>> sessions;
  return sessions;
}

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

// The file a download writes into: removed with its last owner, whether the task finished,
// failed, was cancelled or was dropped before its handlers ran, unless resume data keeps it.
struct PartialFile {
  explicit PartialFile(std::string p) : path(std::move(p)) {}
  ~PartialFile() {
    if (!keep && !path.empty()) ::unlink(path.c_str());
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  std::string path;
  bool keep = false;
};

// Runs one task's connection and hands its progress to the session delegate. Callbacks that
// must answer (redirects, challenges, the response disposition, a new body stream) run on the
// network thread; the others go through the session's executor.
struct TaskDriver final : URLConnectionDelegate {
  std::weak_ptr<URLSessionTask> task;
  std::shared_ptr<OutputStream> file;
  std::string filePath;
  std::shared_ptr<PartialFile> partial;
  bool collect = false;
  bool failed = false;
  bool keepFile = false;  // the partial file belongs to resume data
  // The body kept for the cache, when there is one and the reply may go into it.
  std::optional<fnd::Data> cacheBody;
  // The body of a task with a completion handler, kept in pieces: a buffer grown by doubling
  // holds a copy while it moves and room for twice what came, past any cap. Each piece is as
  // large as the body so far (64 KiB to 32 MiB), so a large body is a few pieces the allocator
  // maps on their own: room not yet written is not resident, and a piece freed goes back at
  // once. The pieces are joined at the end, each freed as it is copied.
  static constexpr std::size_t kFirstPieceBytes = 64u << 10, kLargestPieceBytes = 32u << 20;
  std::vector<fnd::Data> pieces;
  std::size_t collectedBytes = 0;

  void collectPiece(const std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
      if (pieces.empty() || pieces.back().size() == pieces.back().capacity()) {
        pieces.emplace_back();
        pieces.back().reserve(std::clamp(collectedBytes, kFirstPieceBytes, kLargestPieceBytes));
      }
      auto& last = pieces.back();
      const std::size_t n = std::min(length, last.capacity() - last.size());
      collectedBytes += n;
      last.insert(last.end(), bytes, bytes + n);
      bytes += n;
      length -= n;
    }
  }
  fnd::Data joinPieces() {
    fnd::Data body;
    body.reserve(collectedBytes);
    for (auto& piece : pieces) {
      body.insert(body.end(), piece.begin(), piece.end());
      fnd::Data().swap(piece);
    }
    pieces.clear();
    collectedBytes = 0;
    return body;
  }

  explicit TaskDriver(std::shared_ptr<URLSession> s) : session_(std::move(s)) {}
  // The session can change while the task runs (a background session taking it over).
  std::shared_ptr<URLSession> session() const {
    std::lock_guard lock(mutex_);
    return session_;
  }
  void setSession(std::shared_ptr<URLSession> s) {
    std::lock_guard lock(mutex_);
    session_ = std::move(s);
  }

  std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& request,
                                                      const HTTPURLResponse* redirect) override {
    auto t = task.lock();
    auto s = session();
    if (!t || !redirect || !s->delegate()) return request;
    return s->delegate()->sessionTaskWillPerformHTTPRedirection(*s, *t, *redirect, request);
  }
  void connectionWillSendRequestForAuthenticationChallenge(URLConnection&, AuthenticationChallenge& c) override {
    auto t = task.lock();
    auto s = session();
    if (t && s->delegate()) s->delegate()->sessionDidReceiveChallenge(*s, c.protectionSpace().serverTrust ? nullptr : t.get(), c);
  }
  std::shared_ptr<InputStream> connectionNeedNewBodyStream(URLConnection& c, const URLRequest& request) override {
    auto t = task.lock();
    auto s = session();
    if (!t || !s->delegate()) return URLConnectionDelegate::connectionNeedNewBodyStream(c, request);
    // Upload tasks from data or a file replay their own source.
    if (t->uploadData_ || !t->uploadFile_.empty()) return URLConnectionDelegate::connectionNeedNewBodyStream(c, request);
    return s->delegate()->sessionTaskNeedNewBodyStream(*s, *t);
  }
  void connectionDidSendBodyData(URLConnection&, std::int64_t sent, std::int64_t total, std::int64_t expected) override {
    auto t = task.lock();
    if (!t) return;
    t->sent_ = total;
    auto s = session();
    if (s->delegate())
      s->deliver([s, t, sent, total, expected] { s->delegate()->sessionTaskDidSendBodyData(*s, *t, sent, total, expected); });
  }
  void connectionDidReceiveResponse(URLConnection& c, std::shared_ptr<const URLResponse> response) override {
    auto t = task.lock();
    if (!t) return;
    auto session = this->session();
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
    pieces.clear();
    collectedBytes = 0;
    t->received_ = 0;
    auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
    if (t->kind_ == URLSessionTask::Kind::Data && session->configuration().urlCache && http && http->statusCode() == 200 &&
        t->originalRequest().httpMethod() == "GET" && t->originalRequest().cachePolicy() != 1 &&
        http->valueForHTTPHeaderField("Cache-Control").value_or("").find("no-store") == std::string::npos)
      cacheBody.emplace();
    if (t->kind_ == URLSessionTask::Kind::Download && t->continuation_) {
      continueFile(c, *t, http.get());
      return;
    }
    if (t->kind_ == URLSessionTask::Kind::Download && !file) openFile(c);
  }
  void openFile(URLConnection& c) {
    const std::string folder = partialDownloadFolder();
    QTemporaryFile tmp(QString::fromStdString(folder + "/" + kPartialDownloadPrefix) + "XXXXXX");
    tmp.setAutoRemove(false);
    if (folder.empty() || !tmp.open()) {
      fail(c, makeURLError(urlerror::CannotCreateFile, &c.originalRequest().url()));
      return;
    }
    filePath = tmp.fileName().toStdString();
    partial = std::make_shared<PartialFile>(filePath);
    tmp.close();
    file = makeFileOutputStream(filePath, false);
    file->open();
  }
  // A download from resume data: appends to the partial file when the server continues exactly
  // at its end; any whole reply (Range or If-Range not honoured) replaces it.
  void continueFile(URLConnection& c, URLSessionTask& t, const HTTPURLResponse* http) {
    const auto& from = *t.continuation_;
    std::int64_t offset = 0;
    std::int64_t expected = t.expectedToReceive_;
    if (http && http->statusCode() == 206) {
      auto range = ContentRange::parse(http->valueForHTTPHeaderField("Content-Range").value_or(""));
      if (!range || range->first != static_cast<std::uint64_t>(from.offset)) {
        c.cancel();
        fail(c, makeURLError(urlerror::BadServerResponse, &c.originalRequest().url(),
                             "The server continued the download at the wrong place."));
        return;
      }
      offset = from.offset;
      expected = range->total ? static_cast<std::int64_t>(*range->total) : (expected < 0 ? -1 : offset + expected);
    }
    filePath = from.path;
    partial = std::make_shared<PartialFile>(filePath);
    file = makeFileOutputStream(filePath, offset > 0);
    if (offset == 0 && ::truncate(filePath.c_str(), 0) != 0) file.reset();
    if (file) file->open();
    if (!file || file->status() != StreamStatus::Open) {
      c.cancel();
      fail(c, makeURLError(urlerror::CannotCreateFile, &c.originalRequest().url()));
      return;
    }
    t.received_ = offset;
    t.expectedToReceive_ = expected;
    auto s = session();
    auto self = t.shared_from_this();
    if (s->delegate())
      s->deliver([s, self, offset, expected] { s->delegate()->sessionDownloadTaskDidResumeAtOffset(*s, *self, offset, expected); });
  }
  void connectionDidReceiveData(URLConnection& c, const std::uint8_t* bytes, std::size_t length) override {
    auto t = task.lock();
    if (!t || failed) return;
    auto session = this->session();
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
          if (t->cancelRequested_) return;
          s->delegate()->sessionDownloadTaskDidWriteData(*s, *t, static_cast<std::int64_t>(length), total, expected);
        });
      return;
    }
    if (cacheBody && !collect) {
      // Replies larger than the whole cache are not kept.
      if (cacheBody->size() + length > session->configuration().urlCache->memoryCapacity())
        cacheBody.reset();
      else
        cacheBody->insert(cacheBody->end(), bytes, bytes + length);
    }
    if (collect) {
      // The connection ends the exchange past the cap (see startTransfer); this holds a cap
      // lowered on the way too.
      if (collectedBytes + length > session->configuration().maximumBodySize) {
        c.cancel();
        fail(c, makeURLError(urlerror::DataLengthExceedsMaximum, &c.originalRequest().url()));
        return;
      }
      collectPiece(bytes, length);
      return;
    }
    auto s = session;
    if (s->delegate() && !t->cancelRequested_) {
      auto chunk = std::make_shared<fnd::Data>(bytes, bytes + length);
      // A delegate that cancelled hears no more of the body, however much was on its way.
      s->deliver([s, t, chunk] {
        if (!t->cancelRequested_) s->delegate()->sessionDataTaskDidReceiveData(*s, *t, *chunk);
      });
    }
  }
  void connectionDidFinishLoading(URLConnection&) override { complete(std::nullopt); }
  void connectionDidFailWithError(URLConnection& c, const fnd::Error& e) override { fail(c, e); }

  void fail(URLConnection&, const fnd::Error& e) {
    if (failed) return;
    failed = true;
    cacheBody.reset();
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
    auto s = session();
    std::string path = filePath;
    // The closure owns the file from here: it goes when the handlers have run, or when the
    // closure is dropped without running.
    std::shared_ptr<PartialFile> owned = std::move(partial);
    if (owned && keepFile) owned->keep = true;
    // A failed body is dropped as it is, never joined.
    if (error) {
      pieces.clear();
      collectedBytes = 0;
    }
    auto body = std::make_shared<fnd::Data>(joinPieces());
    std::shared_ptr<fnd::Data> cached;
    if (cacheBody && !error) cached = collect ? body : std::make_shared<fnd::Data>(std::move(*cacheBody));
    s->deliver([s, t, path, owned, body, cached, error]() mutable {
      s->removeTask(*t);  // a completed task is no longer listed, also inside its handlers
      auto response = t->response();
      const fnd::Error* e = error ? &*error : nullptr;
      if (t->kind_ == URLSessionTask::Kind::Download) {
        if (!e && s->delegate()) s->delegate()->sessionDownloadTaskDidFinishDownloadingToURL(*s, *t, path);
        if (t->downloadCompletion_) t->downloadCompletion_(e ? nullptr : &path, response, e);
        // The file is gone after the callbacks: they must move it to keep it.
        owned.reset();
      } else {
        if (cached) {
          CachedURLResponse proposed{response, *cached};
          std::optional<CachedURLResponse> store = proposed;
          if (s->delegate()) store = s->delegate()->sessionDataTaskWillCacheResponse(*s, *t, proposed);
          if (store) s->configuration().urlCache->storeCachedResponse(std::move(*store), t->originalRequest());
        }
        if (t->dataCompletion_) t->dataCompletion_(e ? nullptr : body.get(), response, e);
      }
      if (s->delegate()) s->delegate()->sessionTaskDidCompleteWithError(*s, *t, e);
      t->dataCompletion_ = nullptr;
      t->downloadCompletion_ = nullptr;
      s->taskEnded(*t);
    });
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<URLSession> session_;
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

void URLSessionTask::resume() { setRunning(true); }

void URLSessionTask::suspend() { setRunning(false); }

void URLSessionTask::setRunning(bool run) {
  const State wanted = run ? State::Running : State::Suspended;
  // Only the state before the call decides whether the change is announced.
  State before = state_.load();
  if (before == (run ? State::Suspended : State::Running)) {
    state_ = wanted;
    if (run) startTransfer();
    else stopTransfer();
  }
  if (before != wanted) announce(*this, run);
}

void URLSessionTask::cancel() {
  State s = state_.exchange(State::Canceling);
  if (s == State::Completed) {
    state_ = State::Completed;
    return;
  }
  cancelRequested_ = true;
  if (s == State::Canceling) return;
  auto connection = connection_;
  if (connection) connection->cancel();
  auto driver = std::static_pointer_cast<TaskDriver>(driver_);
  if (!driver) {
    auto session = lockedSession();
    if (!session) return;
    driver = std::make_shared<TaskDriver>(session);
    driver->task = weak_from_this();
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

std::shared_ptr<URLSession> URLSessionTask::lockedSession() const {
  std::lock_guard lock(mutex_);
  return session_.lock();
}

void URLSessionTask::setSession(const std::shared_ptr<URLSession>& session) {
  {
    std::lock_guard lock(mutex_);
    session_ = session;
  }
  if (auto driver = std::static_pointer_cast<TaskDriver>(driver_)) driver->setSession(session);
}

void URLSessionTask::cancelByProducingResumeData(std::function<void(std::optional<fnd::Data>)> completion) {
  auto self = shared_from_this();
  URLConnection::performOnNetworkThread([self, completion = std::move(completion)] {
    std::optional<fnd::Data> data;
    auto driver = std::static_pointer_cast<TaskDriver>(self->driver_);
    auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(self->response());
    std::optional<std::string> validator;
    if (http) {
      validator = http->valueForHTTPHeaderField("ETag");
      if (!validator) validator = http->valueForHTTPHeaderField("Last-Modified");
    }
    if (self->kind_ == Kind::Download && self->state_.load() == State::Running && driver && driver->file && !driver->failed &&
        validator && (http->statusCode() == 200 || http->statusCode() == 206)) {
      auto offset = driver->file->fileCurrentOffset().value_or(0);
      driver->file->close();
      if (offset > 0) {
        driver->keepFile = true;
        fnd::Dictionary headers;
        for (const auto& [name, value] : self->original_.allHTTPHeaderFields().fields())
          if (name != "Range" && name != "If-Range") headers[name] = value;
        fnd::Dictionary plist{{"$mark", kResumeDataMark},
                              {"url", self->original_.url().absoluteString()},
                              {"headers", fnd::Value(std::move(headers))},
                              {"validator", *validator},
                              {"offset", static_cast<std::int64_t>(offset)},
                              {"path", driver->filePath}};
        data = fnd::PropertyList::write(fnd::Value(std::move(plist)), fnd::PropertyListFormat::Binary);
      }
    }
    self->cancel();
    if (completion) completion(std::move(data));
  });
}

void URLSessionTask::startTransfer() {
  auto session = lockedSession();
  if (!session) return;
  auto driver = std::make_shared<TaskDriver>(session);
  driver->task = weak_from_this();
  driver->collect = static_cast<bool>(dataCompletion_);
  URLRequest request = original_;
  if (continuation_) {
    request.setValueForHTTPHeaderField("bytes=" + std::to_string(continuation_->offset) + "-", "Range");
    request.setValueForHTTPHeaderField(continuation_->validator, "If-Range");
  }
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
  // A body collected in memory is bounded as it arrives, before any of it is held.
  if (driver->collect) connection_->setMaximumBodySize(session->configuration().maximumBodySize);
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
  std::shared_ptr<URLSession> session(new URLSession(std::move(configuration), std::move(delegate), std::move(delegateExecutor)));
  if (session->configuration_.identifier) session->takeOverTasksOfEarlierSession();
  return session;
}

void URLSession::takeOverTasksOfEarlierSession() {
  std::shared_ptr<URLSession> earlier;
  {
    std::lock_guard lock(backgroundMutex());
    auto& slot = backgroundSessions()[*configuration_.identifier];
    earlier = slot.lock();
    slot = weak_from_this();
  }
  // An invalidated session finishes its own tasks.
  if (!earlier || earlier->isInvalidated()) return;
  std::vector<std::shared_ptr<URLSessionTask>> moved;
  {
    std::lock_guard lock(earlier->mutex_);
    moved.swap(earlier->tasks_);
  }
  for (auto& t : moved) t->setSession(shared_from_this());
  std::lock_guard lock(mutex_);
  tasks_.insert(tasks_.end(), moved.begin(), moved.end());
}

std::string URLSession::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<URLSession: %p", static_cast<const void*>(this));
  std::string out = buf;
  if (configuration_.identifier) out += ", identifier: " + *configuration_.identifier;
  return out + ">";
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
  auto length = makeFileInputStream(path)->length();
  // A background session takes the file when the task is made: one it cannot read gives no task.
  if (!length && configuration_.identifier) return nullptr;
  auto t = add(URLSessionTask::Kind::Upload, std::move(request));
  if (t) {
    t->expectedToSend_ = length.value_or(-1);
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

std::shared_ptr<URLSessionTask> URLSession::downloadTaskWithResumeData(const fnd::Data& resumeData, DownloadCompletion completion) {
  if (resumeData.size() > 1u << 20) return nullptr;
  auto plist = fnd::PropertyList::read(resumeData);
  if (!plist || (*plist)["$mark"].string() != kResumeDataMark) return nullptr;
  auto url = URL::fromString((*plist)["url"].string());
  const std::string& path = (*plist)["path"].string();
  std::int64_t offset = (*plist)["offset"].intValue(-1);
  const std::string& validator = (*plist)["validator"].string();
  if (!url || (url->scheme() != "http" && url->scheme() != "https") || validator.empty() || offset <= 0) return nullptr;
  // Only a partial download of ours, in our downloads folder, at least as long as recorded.
  std::string folder = partialDownloadFolder() + "/";
  if (path.compare(0, folder.size(), folder) != 0) return nullptr;
  std::string name = path.substr(folder.size());
  if (name.rfind(kPartialDownloadPrefix, 0) != 0 || name.find('/') != std::string::npos) return nullptr;
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < offset) return nullptr;
  if (st.st_size > offset && ::truncate(path.c_str(), offset) != 0) return nullptr;
  URLRequest request(*url);
  for (const auto& [name, value] : (*plist)["headers"].dictionary())
    if (value.isString()) request.setValueForHTTPHeaderField(value.string(), name);
  auto t = add(URLSessionTask::Kind::Download, std::move(request));
  if (t) {
    t->continuation_ = URLSessionTask::Continuation{path, offset, validator};
    t->downloadCompletion_ = std::move(completion);
  }
  return t;
}

std::optional<CachedURLResponse> URLCache::cachedResponseForRequest(const URLRequest& request) const {
  std::string key = request.url().absoluteString();
  std::lock_guard lock(mutex_);
  for (const auto& [k, entry] : entries_)
    if (k == key) return entry;
  return std::nullopt;
}

void URLCache::storeCachedResponse(CachedURLResponse response, const URLRequest& request) {
  if (response.data.size() > capacity_) return;
  std::string key = request.url().absoluteString();
  std::lock_guard lock(mutex_);
  auto same = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
  if (same != entries_.end()) {
    usage_ -= same->second.data.size();
    entries_.erase(same);
  }
  usage_ += response.data.size();
  entries_.emplace_back(std::move(key), std::move(response));
  while (usage_ > capacity_) {
    usage_ -= entries_.front().second.data.size();
    entries_.erase(entries_.begin());
  }
}

void URLCache::removeAllCachedResponses() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  usage_ = 0;
}

std::size_t URLCache::currentMemoryUsage() const {
  std::lock_guard lock(mutex_);
  return usage_;
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
