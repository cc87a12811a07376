#include "Platform/Net/URLConnection.h"

#include "Platform/Foundation/Base64.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Net/NetworkThread.h"
#include "Platform/Net/ServerTrust.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLError.h"

#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

#include <zlib.h>

#include <atomic>
#include <future>
#include <mutex>

namespace kesto::net {

// ---------------------------------------------------------------------------------------------
// Credentials and challenges

URLCredential URLCredential::withUser(std::string user, std::string password, Persistence p) {
  URLCredential c;
  c.user_ = std::move(user);
  c.password_ = std::move(password);
  c.persistence_ = p;
  return c;
}

URLCredential URLCredential::forTrust(std::shared_ptr<ServerTrust> trust) {
  URLCredential c;
  c.trust_ = std::move(trust);
  c.persistence_ = Persistence::ForSession;
  return c;
}

AuthenticationChallenge::AuthenticationChallenge(ProtectionSpace space, int previousFailureCount,
                                                 std::optional<URLCredential> proposed,
                                                 std::shared_ptr<const URLResponse> failureResponse)
    : space_(std::move(space)),
      failures_(previousFailureCount),
      proposed_(std::move(proposed)),
      failureResponse_(std::move(failureResponse)) {}

void AuthenticationChallenge::useCredential(URLCredential credential) {
  disposition_ = Disposition::UseCredential;
  credential_ = std::move(credential);
}
void AuthenticationChallenge::continueWithoutCredential() {
  disposition_ = Disposition::ContinueWithoutCredential;
  credential_.reset();
}
void AuthenticationChallenge::cancel() {
  disposition_ = Disposition::Cancel;
  credential_.reset();
}
void AuthenticationChallenge::performDefaultHandling() {
  disposition_ = Disposition::PerformDefaultHandling;
  credential_.reset();
}

// ---------------------------------------------------------------------------------------------
// The connection

namespace {

constexpr int kMaximumRedirects = 16;
// Bodies of replies that are not delivered (redirects, answered 401s) are kept only this far.
constexpr std::size_t kHeldBodyLimit = 1u << 20;
constexpr qint64 kReplyReadAhead = 1 << 20;

QUrl toQUrl(const URL& url) {
  // User-info never goes to the toolkit: authentication is answered here, only where allowed.
  QUrl q(QString::fromStdString(url.absoluteString()), QUrl::TolerantMode);
  q.setUserInfo(QString());
  q.setFragment(QString());
  return q;
}

std::string basicAuthorization(const std::string& user, const std::string& password) {
  return "Basic " + fnd::base64::encode(user + ":" + password);
}

// Reads a request body stream for the toolkit; a failing stream aborts the exchange.
class StreamDevice final : public QIODevice {
 public:
  StreamDevice(std::shared_ptr<InputStream> stream, std::function<void(const fnd::Error&)> onError)
      : stream_(std::move(stream)), onError_(std::move(onError)) {}
  bool isSequential() const override { return true; }
  bool open(OpenMode mode) override {
    stream_->open();
    if (stream_->status() == StreamStatus::Error) return false;
    return QIODevice::open(mode);
  }
  void close() override {
    stream_->close();
    QIODevice::close();
  }
  bool atEnd() const override { return ended_ || failed_; }
  qint64 bytesAvailable() const override { return QIODevice::bytesAvailable() + (atEnd() ? 0 : 65536); }

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    if (failed_) return -1;
    if (ended_ || maxSize <= 0) return 0;
    std::ptrdiff_t n = stream_->read(reinterpret_cast<std::uint8_t*>(data), static_cast<std::size_t>(maxSize));
    if (n < 0) {
      failed_ = true;
      // Recorded now, so whatever the toolkit reports next, the stream's error is the outcome.
      onError_(stream_->error().value_or(fnd::Error(fnd::kPOSIXErrorDomain, EIO)));
      return -1;
    }
    if (n == 0) ended_ = true;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  std::shared_ptr<InputStream> stream_;
  std::function<void(const fnd::Error&)> onError_;
  bool ended_ = false;
  bool failed_ = false;
};

// Inflates a gzip or deflate body as it arrives, so what is handed on (and counted against a
// caller's cap) is the decoded body, a piece at a time: a small reply that inflates to gigabytes
// is stopped at its first pieces instead of being inflated whole first.
class BodyInflater {
 public:
  BodyInflater() { ready_ = inflateInit2(&z_, MAX_WBITS + 32) == Z_OK; }  // gzip or zlib framing
  ~BodyInflater() {
    if (ready_) inflateEnd(&z_);
  }
  BodyInflater(const BodyInflater&) = delete;
  BodyInflater& operator=(const BodyInflater&) = delete;

  // Decodes `length` bytes, handing each decoded piece to `out`, which answers false to stop.
  // `goOn` is asked before each piece is inflated: a small input can inflate to many pieces,
  // and none is made for a reader that has gone meanwhile. False when the bytes are no valid
  // stream.
  template <class GoOn, class Out>
  bool feed(const char* bytes, std::size_t length, GoOn&& goOn, Out&& out) {
    if (!ready_) return false;
    if (ended_) return true;  // what follows the stream is not the body
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    z_.avail_in = static_cast<uInt>(length);
    char buffer[65536];
    for (;;) {
      if (!goOn()) return true;
      z_.next_out = reinterpret_cast<Bytef*>(buffer);
      z_.avail_out = sizeof buffer;
      const int rc = inflate(&z_, Z_NO_FLUSH);
      const std::size_t produced = sizeof buffer - z_.avail_out;
      if (produced && !out(buffer, produced)) return true;
      if (rc == Z_STREAM_END) {
        ended_ = true;
        return true;
      }
      if (rc == Z_BUF_ERROR) return true;  // nothing more until more bytes come
      if (rc != Z_OK) return false;
      if (z_.avail_in == 0 && z_.avail_out != 0) return true;
    }
  }

 private:
  z_stream z_{};
  bool ready_ = false, ended_ = false;
};

}  // namespace

struct URLConnection::Impl {
  URLRequest original;
  std::shared_ptr<URLConnectionDelegate> delegate;
  std::atomic<bool> cancelled{false};
  std::atomic<bool> started{false};
  mutable std::mutex mutex;
  URLRequest current;

  // Network thread only.
  std::shared_ptr<URLConnection> keepAlive;
  QNetworkReply* reply = nullptr;
  QObject* scope = nullptr;  // owns the signal connections of the current reply
  bool finished = false;
  int redirects = 0;
  int authFailures = 0;
  bool triedURLCredential = false;
  bool trustJudged = false;
  bool withhold = false;  // the current reply is a redirect or a challenge, not the answer
  bool delivered = false;
  std::optional<fnd::Error> abortError;
  bool abortedByUs = false;
  QByteArray held;
  // Compressed bodies are asked for and inflated here unless the request names its own
  // Accept-Encoding (then the body is handed on as it came).
  bool inflates = false;
  bool encodingRead = false;
  std::unique_ptr<BodyInflater> inflater;
  // Bound on the body as it came and as it is handed on (0: none); set before start.
  std::atomic<std::size_t> maximumBodySize{0};
  std::size_t rawReceived = 0;
  std::atomic<std::size_t> decodedReceived{0};
  std::optional<std::string> authorization;  // what answers a challenge on the current origin
  std::int64_t lastSent = 0;
};

struct ConnectionDriver {
  static void begin(URLConnection& c);
  static void send(URLConnection& c);
  // Sends a request whose body is a stream; null when the stream cannot be sent (the exchange
  // then has failed or was ended by the delegate).
  static QNetworkReply* sendStream(URLConnection& c, const URLRequest& req, QNetworkRequest& qr, const QByteArray& verb);
  // Routes the current reply's signals to the steps below.
  static void watchReply(URLConnection& c);
  static void onEncrypted(URLConnection& c);
  static bool judgeTrust(URLConnection& c);
  static void onMetaData(URLConnection& c);
  static void onReadyRead(URLConnection& c);
  // Hands body bytes of the current reply to the delegate, decoded; false when the exchange ended.
  static bool deliverBody(URLConnection& c, const char* bytes, std::size_t length);
  static void onFinished(URLConnection& c);
  // The steps of a finished reply. Each answers whether it settled the exchange: it failed it,
  // or sent the request again; else the reply is delivered as it is.
  static bool failBrokenTransfer(URLConnection& c, const URLRequest& req);
  static bool answerChallenge(URLConnection& c, const URLRequest& req, int status,
                              const std::shared_ptr<HTTPURLResponse>& response);
  static bool followRedirect(URLConnection& c, const URLRequest& req, int status, const HTTPURLResponse& response);
  // Hands on a withheld answer and its body; false when the delegate ended the connection.
  static bool deliverWithheld(URLConnection& c, const std::shared_ptr<HTTPURLResponse>& response);
  static void complete(URLConnection& c);
  static void fail(URLConnection& c, const fnd::Error& e);
  static void end(URLConnection& c);
  static void dropReply(URLConnection& c);
  static std::shared_ptr<HTTPURLResponse> makeResponse(URLConnection& c);
  static bool live(URLConnection& c) { return !c.d_->cancelled.load() && !c.d_->finished; }

  // Delegates are the caller's code running inside the network thread's event loop, which an
  // exception must never unwind: what a step throws is logged and fails the exchange, and the
  // thread carries on with every other connection. `c` may be gone once this returns.
  template <typename F>
  static void guarded(URLConnection& c, F&& step) {
    try {
      step();
    } catch (...) {
      delegateThrew(c, std::current_exception());
    }
  }
  static void delegateThrew(URLConnection& c, std::exception_ptr thrown);
};

URLConnection::URLConnection() : d_(std::make_unique<Impl>()) {}
URLConnection::~URLConnection() = default;

std::shared_ptr<URLConnection> URLConnection::make(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate) {
  std::shared_ptr<URLConnection> c(new URLConnection());
  c->d_->original = request;
  c->d_->current = std::move(request);
  c->d_->delegate = delegate ? std::move(delegate) : std::make_shared<URLConnectionDelegate>();
  return c;
}

const URLRequest& URLConnection::originalRequest() const { return d_->original; }

URLRequest URLConnection::currentRequest() const {
  std::lock_guard lock(d_->mutex);
  return d_->current;
}

bool URLConnection::isCancelled() const { return d_->cancelled.load(); }
std::size_t URLConnection::countOfBodyBytesDecoded() const { return d_->decodedReceived.load(); }

void URLConnection::start() {
  if (d_->started.exchange(true)) return;
  auto self = shared_from_this();
  detail::performOnNetworkThread([self] {
    // Cancelled before it began: nothing may keep it (and its delegate) alive any more.
    if (self->d_->cancelled.load()) return;
    self->d_->keepAlive = self;
    ConnectionDriver::guarded(*self, [&] { ConnectionDriver::begin(*self); });
  });
}

void URLConnection::cancel() {
  if (d_->cancelled.exchange(true)) return;
  auto self = shared_from_this();
  auto work = [self] {
    ConnectionDriver::dropReply(*self);
    self->d_->finished = true;
    self->d_->keepAlive.reset();
  };
  if (isNetworkThread())
    work();
  else
    detail::performOnNetworkThread(work);
}

void URLConnection::setMaximumBodySize(std::size_t bytes) { d_->maximumBodySize = bytes; }

void URLConnection::performOnNetworkThread(std::function<void()> work) { detail::performOnNetworkThread(std::move(work)); }
bool URLConnection::isNetworkThread() { return detail::isNetworkThread(); }

void ConnectionDriver::begin(URLConnection& c) {
  auto& d = *c.d_;
  if (!live(c)) return;
  URLRequest req;
  {
    std::lock_guard lock(d.mutex);
    req = d.current;
  }
  if (req.url().isEmpty() || (req.url().scheme() != "http" && req.url().scheme() != "https") || req.url().host().empty()) {
    fail(c, makeURLError(req.url().isEmpty() ? urlerror::BadURL : urlerror::UnsupportedURL, &req.url()));
    return;
  }
  auto next = d.delegate->connectionWillSendRequest(c, req, nullptr);
  if (!live(c)) return;
  if (!next) {
    fail(c, makeURLError(urlerror::Cancelled, &req.url()));
    return;
  }
  {
    std::lock_guard lock(d.mutex);
    d.current = std::move(*next);
  }
  d.delegate->connectionShouldUseCredentialStorage(c);
  if (!live(c)) return;
  send(c);
}

namespace {

// The toolkit's request for ours: our headers as given, redirects, caching and trust left to us.
QNetworkRequest networkRequest(const URLRequest& req, const std::optional<std::string>& authorization) {
  QNetworkRequest qr(toQUrl(req.url()));
  for (const auto& [name, value] : req.allHTTPHeaderFields().fields())
    qr.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
  if (authorization && !req.allHTTPHeaderFields().contains("Authorization"))
    qr.setRawHeader("Authorization", QByteArray::fromStdString(*authorization));
  if (!req.allHTTPHeaderFields().contains("Accept")) qr.setRawHeader("Accept", "*/*");
  qr.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  qr.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  qr.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  qr.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  if (!req.httpShouldHandleCookies()) {
    qr.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    qr.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
  }
  if (req.timeoutInterval() > 0) qr.setTransferTimeout(static_cast<int>(req.timeoutInterval() * 1000));
  if (req.url().isHTTPS()) {
    // Trust is judged by us, on the chain, before any request byte (see onEncrypted).
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    qr.setSslConfiguration(ssl);
  }
  return qr;
}

}  // namespace

void ConnectionDriver::send(URLConnection& c) {
  auto& d = *c.d_;
  URLRequest req;
  {
    std::lock_guard lock(d.mutex);
    req = d.current;
  }
  QNetworkRequest qr = networkRequest(req, d.authorization);
  // Asked for by us, the toolkit hands the body on as it came, and it is inflated as it streams.
  d.inflates = !req.allHTTPHeaderFields().contains("Accept-Encoding");
  if (d.inflates) qr.setRawHeader("Accept-Encoding", "gzip, deflate");
  d.encodingRead = false;
  d.inflater.reset();
  d.rawReceived = 0;
  d.decodedReceived = 0;

  d.trustJudged = false;
  d.withhold = false;
  d.held.clear();
  d.abortError.reset();
  d.abortedByUs = false;
  d.lastSent = 0;

  QNetworkAccessManager& nam = detail::networkAccessManager();
  QByteArray verb = QByteArray::fromStdString(req.httpMethod());
  QNetworkReply* reply = nullptr;
  if (req.httpBodyStream()) {
    reply = sendStream(c, req, qr, verb);
    if (!reply) return;
  } else if (req.httpBody()) {
    const auto& b = *req.httpBody();
    reply = nam.sendCustomRequest(qr, verb, QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size())));
  } else {
    reply = nam.sendCustomRequest(qr, verb);
  }
  // Bodies are handed on as they arrive; without a bound the toolkit would read a large reply
  // ahead into its own buffer, holding a second copy of it.
  reply->setReadBufferSize(kReplyReadAhead);
  d.reply = reply;
  watchReply(c);
}

QNetworkReply* ConnectionDriver::sendStream(URLConnection& c, const URLRequest& req, QNetworkRequest& qr,
                                            const QByteArray& verb) {
  auto& d = *c.d_;
  std::shared_ptr<InputStream> stream = req.httpBodyStream();
  if (stream->status() != StreamStatus::NotOpen) {
    // A consumed stream (a retry) is replayed only when it can be; else the request fails.
    auto fresh = d.delegate->connectionNeedNewBodyStream(c, req);
    if (!live(c)) return nullptr;
    // A stream already read from would send a short body under the old length.
    if (!fresh || fresh->status() != StreamStatus::NotOpen) {
      fail(c, makeURLError(urlerror::CannotDecodeRawData, &req.url(), "The request body cannot be sent again."));
      return nullptr;
    }
    stream = fresh;
    std::lock_guard lock(d.mutex);
    d.current.setHTTPBodyStream(stream);
  }
  std::weak_ptr<URLConnection> weak = c.shared_from_this();
  auto* device = new StreamDevice(stream, [weak](const fnd::Error& e) {
    auto self = weak.lock();
    if (!self || !live(*self) || self->d_->abortedByUs) return;
    self->d_->abortError = e;
    self->d_->abortedByUs = true;
    // The toolkit is inside a read of the device: stop the exchange once it returned.
    detail::performOnNetworkThread([weak] {
      if (auto again = weak.lock(); again && live(*again) && again->d_->reply) again->d_->reply->abort();
    });
  });
  if (!req.allHTTPHeaderFields().contains("Content-Length")) {
    if (auto len = stream->length()) qr.setHeader(QNetworkRequest::ContentLengthHeader, static_cast<qint64>(*len));
  }
  if (qr.hasRawHeader("Content-Length")) qr.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
  if (!device->open(QIODevice::ReadOnly)) {
    fnd::Error e = stream->error().value_or(fnd::Error(fnd::kPOSIXErrorDomain, EIO));
    delete device;
    fail(c, e);
    return nullptr;
  }
  QNetworkReply* reply = detail::networkAccessManager().sendCustomRequest(qr, verb, device);
  device->setParent(reply);
  return reply;
}

void ConnectionDriver::watchReply(URLConnection& c) {
  auto& d = *c.d_;
  d.scope = new QObject();
  QObject* scope = d.scope;
  // Each entry point holds the connection for its whole length: a delegate that cancels from
  // inside a callback releases the connection's hold on itself, and the caller may already have
  // dropped theirs, so without this the rest of the step would run on a freed connection.
  std::weak_ptr<URLConnection> weak = c.shared_from_this();
  auto entry = [weak](void (*step)(URLConnection&)) {
    return [weak, step] {
      if (auto self = weak.lock()) guarded(*self, [&] { step(*self); });
    };
  };
  QNetworkReply* reply = d.reply;
  QObject::connect(reply, &QNetworkReply::encrypted, scope, entry(&ConnectionDriver::onEncrypted));
  QObject::connect(reply, &QNetworkReply::metaDataChanged, scope, entry(&ConnectionDriver::onMetaData));
  QObject::connect(reply, &QNetworkReply::readyRead, scope, entry(&ConnectionDriver::onReadyRead));
  QObject::connect(reply, &QNetworkReply::finished, scope, entry(&ConnectionDriver::onFinished));
  QObject::connect(reply, &QNetworkReply::uploadProgress, scope, [weak](qint64 sent, qint64 total) {
    auto self = weak.lock();
    if (!self) return;
    guarded(*self, [&] {
      auto& d = *self->d_;
      if (!live(*self) || sent <= d.lastSent) return;
      std::int64_t delta = sent - d.lastSent;
      d.lastSent = sent;
      d.delegate->connectionDidSendBodyData(*self, delta, sent, total > 0 ? total : -1);
    });
  });
}

bool ConnectionDriver::judgeTrust(URLConnection& c) {
  auto& d = *c.d_;
  d.trustJudged = true;
  URL url = c.currentRequest().url();
  std::vector<Certificate> chain;
  for (const QSslCertificate& qc : d.reply->sslConfiguration().peerCertificateChain()) {
    QByteArray der = qc.toDer();
    if (auto cert = Certificate::fromDER(fnd::Data(der.begin(), der.end()))) chain.push_back(std::move(*cert));
  }
  auto trust = std::make_shared<ServerTrust>(chain, url.host(), url.effectivePort());
  ProtectionSpace space{url.host(), url.effectivePort(), url.scheme(), {}, kAuthenticationMethodServerTrust, trust};
  AuthenticationChallenge challenge(space, 0, std::nullopt, nullptr);
  d.delegate->connectionWillSendRequestForAuthenticationChallenge(c, challenge);
  if (!live(c)) return false;
  bool accept = false;
  std::int64_t code = urlerror::ServerCertificateUntrusted;
  switch (challenge.disposition()) {
    case AuthenticationChallenge::Disposition::UseCredential:
      accept = challenge.credential() && challenge.credential()->serverTrust() != nullptr;
      break;
    case AuthenticationChallenge::Disposition::PerformDefaultHandling:
    case AuthenticationChallenge::Disposition::ContinueWithoutCredential:
    case AuthenticationChallenge::Disposition::RejectProtectionSpace: {
      ServerTrust fresh(chain, url.host(), url.effectivePort());
      TrustResult r = fresh.evaluate();
      accept = r == TrustResult::Proceed || r == TrustResult::Unspecified;
      break;
    }
    case AuthenticationChallenge::Disposition::Cancel:
      code = urlerror::UserCancelledAuthentication;
      break;
  }
  if (!accept) {
    d.abortError = makeServerTrustError(code, &url);
    d.abortedByUs = true;
    d.reply->abort();
  }
  return accept;
}

void ConnectionDriver::onEncrypted(URLConnection& c) {
  if (!live(c) || c.d_->trustJudged) return;
  judgeTrust(c);
}

std::shared_ptr<HTTPURLResponse> ConnectionDriver::makeResponse(URLConnection& c) {
  auto& d = *c.d_;
  HTTPHeaders headers;
  for (const auto& [name, value] : d.reply->rawHeaderPairs()) headers.add(name.toStdString(), value.toStdString());
  int status = d.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  URL url = c.currentRequest().url();
  return std::make_shared<HTTPURLResponse>(url.withoutUserInfo(), status, std::move(headers));
}

void ConnectionDriver::onMetaData(URLConnection& c) {
  auto& d = *c.d_;
  if (!live(c) || d.abortedByUs) return;
  if (c.currentRequest().url().isHTTPS() && !d.trustJudged) {
    // A reused connection does not announce its handshake again: judge the chain now.
    if (!judgeTrust(c)) return;
  }
  QVariant statusAttr = d.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  if (!statusAttr.isValid()) return;
  int status = statusAttr.toInt();
  bool redirect = (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) &&
                  d.reply->hasRawHeader("Location");
  bool challenge = status == 401 || status == 407;
  d.withhold = redirect || challenge;
  if (d.withhold) return;
  d.delivered = true;
  d.delegate->connectionDidReceiveResponse(c, makeResponse(c));
}

void ConnectionDriver::onReadyRead(URLConnection& c) {
  auto& d = *c.d_;
  if (!live(c) || d.abortedByUs) return;
  if (!d.delivered && !d.withhold) onMetaData(c);
  if (!live(c) || d.abortedByUs) return;
  if (d.withhold) {
    QByteArray chunk = d.reply->readAll();
    if (static_cast<std::size_t>(d.held.size() + chunk.size()) <= kHeldBodyLimit) d.held += chunk;
    return;
  }
  if (!d.delivered) return;
  char buffer[65536];
  while (live(c) && d.reply && d.reply->bytesAvailable() > 0) {
    qint64 n = d.reply->read(buffer, sizeof buffer);
    if (n <= 0) break;
    if (!deliverBody(c, buffer, static_cast<std::size_t>(n))) return;
  }
}

bool ConnectionDriver::deliverBody(URLConnection& c, const char* bytes, std::size_t length) {
  auto& d = *c.d_;
  if (!d.encodingRead) {
    d.encodingRead = true;
    const QByteArray encoding = d.reply ? d.reply->rawHeader("Content-Encoding").trimmed().toLower() : QByteArray();
    if (d.inflates && (encoding == "gzip" || encoding == "x-gzip" || encoding == "deflate"))
      d.inflater = std::make_unique<BodyInflater>();
  }
  // A body past the bound ends the exchange as it arrives, counted both as it came (an endless
  // stream that inflates to nothing) and as it is handed on (a small stream that inflates to
  // gigabytes); nothing past it reaches the delegate.
  const std::size_t limit = d.maximumBodySize.load();
  auto stop = [&](std::int64_t code) {
    if (d.reply && !d.abortedByUs) {
      d.abortError = makeURLError(code, &c.currentRequest().url());
      d.abortedByUs = true;
      d.reply->abort();
    }
    return false;
  };
  d.rawReceived += length;
  if (limit && d.rawReceived > limit) return stop(urlerror::DataLengthExceedsMaximum);
  bool tooLarge = false;
  // Asked before each piece is inflated: a reader that cancelled (in its callback or from another
  // thread) costs no further piece.
  auto goOn = [&] { return live(c) && !tooLarge; };
  auto hand = [&](const char* piece, std::size_t size) {
    const std::size_t decoded = d.decodedReceived += size;
    if (limit && decoded > limit) {
      tooLarge = true;
      return false;
    }
    // A cancel from another thread while the piece was made: it is not handed on.
    if (!live(c)) return false;
    d.delegate->connectionDidReceiveData(c, reinterpret_cast<const std::uint8_t*>(piece), size);
    return true;
  };
  if (!d.inflater) {
    hand(bytes, length);
  } else if (!d.inflater->feed(bytes, length, goOn, hand) && live(c)) {
    return stop(urlerror::CannotDecodeContentData);
  }
  if (!live(c)) return false;
  if (tooLarge) return stop(urlerror::DataLengthExceedsMaximum);
  return true;
}

namespace {

std::int64_t mapError(QNetworkReply::NetworkError e) {
  switch (e) {
    case QNetworkReply::ConnectionRefusedError: return urlerror::CannotConnectToHost;
    case QNetworkReply::HostNotFoundError: return urlerror::CannotFindHost;
    case QNetworkReply::TimeoutError: return urlerror::TimedOut;
    case QNetworkReply::OperationCanceledError: return urlerror::TimedOut;  // only the transfer timeout aborts unasked
    case QNetworkReply::RemoteHostClosedError: return urlerror::NetworkConnectionLost;
    case QNetworkReply::SslHandshakeFailedError: return urlerror::SecureConnectionFailed;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError: return urlerror::NotConnectedToInternet;
    case QNetworkReply::ProtocolUnknownError: return urlerror::UnsupportedURL;
    case QNetworkReply::ProtocolFailure: return urlerror::BadServerResponse;
    case QNetworkReply::UnknownNetworkError: return urlerror::NetworkConnectionLost;
    default: return urlerror::Unknown;
  }
}

}  // namespace

void ConnectionDriver::onFinished(URLConnection& c) {
  auto& d = *c.d_;
  if (!live(c)) return;
  URLRequest req = c.currentRequest();
  if (d.abortedByUs) {
    fail(c, d.abortError.value_or(makeURLError(urlerror::Cancelled, &req.url())));
    return;
  }
  if (failBrokenTransfer(c, req)) return;
  if (d.withhold) {
    d.held += d.reply->readAll();
    const int status = d.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    auto response = makeResponse(c);
    const bool settled = status == 401 || status == 407 ? answerChallenge(c, req, status, response)
                                                        : followRedirect(c, req, status, *response);
    if (settled || !deliverWithheld(c, response)) return;
  } else {
    if (!d.delivered) onMetaData(c);
    if (!live(c)) return;
    onReadyRead(c);
    if (!live(c)) return;
  }
  complete(c);
}

bool ConnectionDriver::failBrokenTransfer(URLConnection& c, const URLRequest& req) {
  auto& d = *c.d_;
  const bool answered = d.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
  const QNetworkReply::NetworkError qerr = d.reply->error();
  // No HTTP answer, or the transfer broke off after the answer began. Errors from access denied
  // on are HTTP answers themselves and are delivered as such.
  if (answered && (qerr == QNetworkReply::NoError || qerr >= QNetworkReply::ContentAccessDenied)) return false;
  std::int64_t code = mapError(qerr);
  if (code == urlerror::Unknown && qerr >= QNetworkReply::ProxyConnectionRefusedError &&
      qerr < QNetworkReply::ContentAccessDenied)
    code = urlerror::CannotConnectToHost;
  if (qerr == QNetworkReply::NoError) code = urlerror::BadServerResponse;
  fail(c, makeURLError(code, &req.url()));
  return true;
}

bool ConnectionDriver::answerChallenge(URLConnection& c, const URLRequest& req, int status,
                                       const std::shared_ptr<HTTPURLResponse>& response) {
  auto& d = *c.d_;
  // The URL's user-info first (https only), then the delegate.
  const URL& url = req.url();
  if (!d.triedURLCredential && status == 401 && url.hasUserInfo() && url.isHTTPS()) {
    d.triedURLCredential = true;
    d.authorization = basicAuthorization(url.user(), url.password());
    dropReply(c);
    send(c);
    return true;
  }
  int failures = d.authorization ? ++d.authFailures : d.authFailures;
  std::optional<URLCredential> proposed;
  if (url.hasUserInfo()) proposed = URLCredential::withUser(url.user(), url.password());
  std::string realm;
  if (auto h = response->valueForHTTPHeaderField(status == 401 ? "WWW-Authenticate" : "Proxy-Authenticate")) {
    auto r = h->find("realm=\"");
    if (r != std::string::npos) realm = h->substr(r + 7, h->find('"', r + 7) - r - 7);
  }
  ProtectionSpace space{url.host(), url.effectivePort(), url.scheme(), realm, kAuthenticationMethodHTTPBasic, nullptr};
  AuthenticationChallenge challenge(space, failures, proposed, response);
  d.delegate->connectionWillSendRequestForAuthenticationChallenge(c, challenge);
  if (!live(c)) return true;
  switch (challenge.disposition()) {
    case AuthenticationChallenge::Disposition::UseCredential:
      if (challenge.credential() && !challenge.credential()->user().empty()) {
        d.authorization = basicAuthorization(challenge.credential()->user(), challenge.credential()->password());
        dropReply(c);
        send(c);
        return true;
      }
      break;
    case AuthenticationChallenge::Disposition::Cancel:
      fail(c, makeURLError(urlerror::UserCancelledAuthentication, &req.url()));
      return true;
    default:
      break;
  }
  // Unanswered: the 401 is the answer.
  return false;
}

bool ConnectionDriver::followRedirect(URLConnection& c, const URLRequest& req, int status,
                                      const HTTPURLResponse& response) {
  auto& d = *c.d_;
  QUrl target = d.reply->url().resolved(QUrl(QString::fromUtf8(d.reply->rawHeader("Location")), QUrl::TolerantMode));
  auto next = URL::fromString(target.toString(QUrl::FullyEncoded).toStdString());
  if (next && next->scheme() != "http" && next->scheme() != "https") next.reset();
  if (!next) {
    fail(c, makeURLError(urlerror::RedirectToNonExistentLocation, &req.url()));
    return true;
  }
  if (++d.redirects > kMaximumRedirects) {
    fail(c, makeURLError(urlerror::HTTPTooManyRedirects, &req.url()));
    return true;
  }
  URLRequest nextRequest = req;
  nextRequest.setURL(*next);
  bool toGet = status == 303 || ((status == 301 || status == 302) && req.httpMethod() == "POST");
  if (toGet && req.httpMethod() != "HEAD") {
    nextRequest.setHTTPMethod("GET");
    nextRequest.setHTTPBody(std::nullopt);
    nextRequest.setHTTPBodyStream(nullptr);
    nextRequest.setValueForHTTPHeaderField(std::nullopt, "Content-Type");
    nextRequest.setValueForHTTPHeaderField(std::nullopt, "Content-Length");
  }
  const bool crossesOrigin = next->origin() != req.url().origin() || (req.url().isHTTPS() && !next->isHTTPS());
  if (crossesOrigin) {
    // Credentials stay with the origin they were given for.
    nextRequest.setValueForHTTPHeaderField(std::nullopt, "Authorization");
    nextRequest.setValueForHTTPHeaderField(std::nullopt, "Cookie");
    nextRequest.setURL(next->withoutUserInfo());
    d.authorization.reset();
    d.triedURLCredential = true;
  }
  auto decided = d.delegate->connectionWillSendRequest(c, nextRequest, &response);
  if (!live(c)) return true;
  // Not followed: the redirect reply is the answer.
  if (!decided) return false;
  if (crossesOrigin) {
    decided->setValueForHTTPHeaderField(std::nullopt, "Authorization");
    if (decided->url().hasUserInfo()) decided->setURL(decided->url().withoutUserInfo());
  }
  {
    std::lock_guard lock(d.mutex);
    d.current = std::move(*decided);
  }
  dropReply(c);
  send(c);
  return true;
}

bool ConnectionDriver::deliverWithheld(URLConnection& c, const std::shared_ptr<HTTPURLResponse>& response) {
  auto& d = *c.d_;
  d.withhold = false;
  d.delivered = true;
  QByteArray body = d.held;
  d.held.clear();
  d.delegate->connectionDidReceiveResponse(c, response);
  if (!live(c)) return false;
  if (!body.isEmpty() && !deliverBody(c, body.constData(), static_cast<std::size_t>(body.size()))) return false;
  return live(c);
}

void ConnectionDriver::complete(URLConnection& c) {
  auto& d = *c.d_;
  auto response = makeResponse(c);
  d.delegate->connectionWillCacheResponse(c, *response);
  if (!live(c)) return;
  dropReply(c);
  d.finished = true;
  auto delegate = d.delegate;
  delegate->connectionDidFinishLoading(c);
  end(c);
}

std::shared_ptr<InputStream> URLConnectionDelegate::connectionNeedNewBodyStream(URLConnection&, const URLRequest& request) {
  return request.httpBodyStream() ? request.httpBodyStream()->reopened() : nullptr;
}

void ConnectionDriver::fail(URLConnection& c, const fnd::Error& e) {
  auto& d = *c.d_;
  if (!live(c)) return;
  dropReply(c);
  d.finished = true;
  auto delegate = d.delegate;
  delegate->connectionDidFailWithError(c, e);
  end(c);
}

void ConnectionDriver::delegateThrew(URLConnection& c, std::exception_ptr thrown) {
  std::string what = "unknown exception";
  try {
    std::rethrow_exception(thrown);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  fnd::logError("URL connection to " + c.originalRequest().url().redactedString() + ": a delegate threw (" + what +
                "); the connection fails");
  if (live(c)) {
    try {
      fail(c, makeURLError(urlerror::Unknown, &c.originalRequest().url(), "The connection's delegate failed."));
      return;
    } catch (...) {
      fnd::logError("URL connection: the delegate threw again while told of the failure");
    }
  }
  // Finished now, told or not: nothing more is delivered, and the connection stops holding itself.
  dropReply(c);
  c.d_->finished = true;
  end(c);
}

void ConnectionDriver::end(URLConnection& c) {
  auto keep = std::move(c.d_->keepAlive);  // released when this returns
}

void ConnectionDriver::dropReply(URLConnection& c) {
  auto& d = *c.d_;
  delete d.scope;
  d.scope = nullptr;
  if (d.reply) {
    QNetworkReply* r = d.reply;
    d.reply = nullptr;
    if (r->isRunning()) r->abort();
    r->deleteLater();
  }
}

// ---------------------------------------------------------------------------------------------
// Synchronous requests

namespace {

class CollectingDelegate final : public URLConnectionDelegate {
 public:
  explicit CollectingDelegate(std::size_t limit) : limit_(limit) {}
  void connectionDidReceiveResponse(URLConnection&, std::shared_ptr<const URLResponse> response) override {
    response_ = std::move(response);
    body_.clear();
    if (response_ && response_->expectedContentLength() > 0)
      body_.reserve(std::min<std::size_t>(static_cast<std::size_t>(response_->expectedContentLength()), limit_));
  }
  void connectionDidReceiveData(URLConnection& c, const std::uint8_t* bytes, std::size_t length) override {
    if (body_.size() + length > limit_) {
      c.cancel();
      done(makeURLError(urlerror::DataLengthExceedsMaximum, &c.originalRequest().url()));
      return;
    }
    body_.insert(body_.end(), bytes, bytes + length);
  }
  void connectionDidFinishLoading(URLConnection&) override { done(std::nullopt); }
  void connectionDidFailWithError(URLConnection&, const fnd::Error& e) override { done(e); }

  std::promise<void> promise;
  std::shared_ptr<const URLResponse> response_;
  fnd::Data body_;
  std::optional<fnd::Error> error_;

 private:
  void done(std::optional<fnd::Error> e) {
    if (finished_) return;
    finished_ = true;
    error_ = std::move(e);
    promise.set_value();
  }
  std::size_t limit_;
  bool finished_ = false;
};

}  // namespace

std::optional<fnd::Data> URLConnection::sendSynchronousRequest(const URLRequest& request,
                                                               std::shared_ptr<const URLResponse>* response,
                                                               fnd::Error* error, std::size_t maximumBodySize) {
  if (isNetworkThread()) {
    if (error) *error = makeURLError(urlerror::Unknown, &request.url(), "Synchronous requests cannot run on the network thread.");
    return std::nullopt;
  }
  auto delegate = std::make_shared<CollectingDelegate>(maximumBodySize);
  auto future = delegate->promise.get_future();
  auto connection = make(request, delegate);
  connection->setMaximumBodySize(maximumBodySize);
  connection->start();
  future.wait();
  if (response) *response = delegate->response_;
  if (delegate->error_) {
    if (error) *error = *delegate->error_;
    return std::nullopt;
  }
  return std::move(delegate->body_);
}

}  // namespace kesto::net
