#include "Platform/System/SingleInstance.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NumberText.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QObject>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <unordered_set>
#include <vector>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kesto::sys {

namespace {

constexpr qint64 kMaximumMessage = 1 << 20;
// A burst of dropped connections ends after this long without another drop; a flood that never
// pauses is still reported this often.
constexpr int kDropBurstQuietMs = 1000;
constexpr qint64 kDropBurstLongestMs = 60000;
// A launch waiting longer than this for the running instance says so once.
constexpr qint64 kQuietWaitMs = 2000;

// Message: four bytes of big-endian length, then the arguments, each ended by a NUL byte.
// The running instance answers one byte once it has handled the whole message: "1" when what it
// carried is kept, "0" when it could not be.
QByteArray encode(const std::vector<std::string>& arguments) {
  QByteArray payload;
  for (const auto& a : arguments) {
    payload.append(a.data(), static_cast<qsizetype>(a.size()));
    payload.append('\0');
  }
  QByteArray out;
  quint32 n = static_cast<quint32>(payload.size());
  out.append(static_cast<char>((n >> 24) & 0xff));
  out.append(static_cast<char>((n >> 16) & 0xff));
  out.append(static_cast<char>((n >> 8) & 0xff));
  out.append(static_cast<char>(n & 0xff));
  return out + payload;
}

std::vector<std::string> decode(const QByteArray& payload) {
  std::vector<std::string> out;
  qsizetype start = 0;
  for (qsizetype i = 0; i < payload.size(); ++i) {
    if (payload[i] == '\0') {
      out.emplace_back(payload.constData() + start, static_cast<std::size_t>(i - start));
      start = i + 1;
    }
  }
  return out;
}

// A socket's path holds at most this many bytes: the address's field, less its closing NUL and
// one more byte that Qt keeps for an abstract name's leading NUL, so that it neither listens on
// nor connects to a path of 107 bytes.
constexpr std::size_t kLongestSocketPath = sizeof(sockaddr_un::sun_path) - 2;

std::string& shortFolderParent() {
  static std::string parent = "/tmp";
  return parent;
}

struct SocketPlace {
  std::string name;
  std::string problem;  // why no launch can reach another; empty when the name serves
};

// The socket in `folder`. Where its path there is too long for a socket (a runtime folder deep in
// someone's folders), it lies in <parent>/kesto-<uid>, named after `folder`: every launch with
// that runtime folder finds the same place, and one with another runtime folder (another session)
// another. Only a folder this user owns and no one else may enter will do: anyone who could bind
// the name first would be handed this user's arguments, so a folder of that name that is
// someone else's, open to others, or a link is refused, never mended or followed.
SocketPlace socketIn(const std::string& folder) {
  const std::string name = folder + "/kesto.sock";
  if (name.size() <= kLongestSocketPath) return {name, {}};
  const std::string dir = shortFolderParent() + "/kesto-" + std::to_string(::geteuid());
  const QByteArray key =
      QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha256).toHex().left(16);
  const std::string shortName = dir + "/" + key.toStdString() + ".sock";
  auto refused = [&](const std::string& why) {
    return SocketPlace{name, "Launches of Kesto cannot reach each other: a socket in the runtime folder " + folder +
                                 " would have a path longer than " + std::to_string(kLongestSocketPath) +
                                 " bytes, and the short folder used instead, " + dir + ", " + why +
                                 ". A runtime folder (XDG_RUNTIME_DIR) with a shorter path avoids it."};
  };
  if (shortName.size() > kLongestSocketPath) return refused("has too long a path too");
  const bool made = ::mkdir(dir.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) return refused(std::string("could not be made (") + std::strerror(errno) + ")");
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    struct stat entry {};
    if (::lstat(dir.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) return refused("is a link, not a folder");
    return refused(error == ENOTDIR ? "is not a folder" : std::string("cannot be opened (") + std::strerror(error) + ")");
  }
  struct stat info {};
  // Made now: the umask may have taken more than the others' rights.
  if (made) (void)::fchmod(fd, 0700);
  const bool known = ::fstat(fd, &info) == 0;
  ::close(fd);
  if (!known) return refused("cannot be read");
  if (info.st_uid != ::geteuid()) return refused("belongs to another user (id " + std::to_string(info.st_uid) + ")");
  if ((info.st_mode & 07777) != 0700) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return refused(std::string("may be entered by others (mode ") + mode + ", not 0700)");
  }
  return {shortName, {}};
}

SocketPlace defaultSocketPlace() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return socketIn(runtime);
  // Never a socket in a folder everyone may write to: another user could bind the name first
  // and be handed this user's arguments. Qt makes (or checks) a runtime folder only this user
  // owns and enters; failing that, the user's own caches folder.
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) {
    folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/kesto";
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }
  return socketIn(folder.toStdString());
}

enum class LockState { Held, HeldByOther, Unavailable };

LockState tryLock(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? LockState::HeldByOther : LockState::Unavailable;
  }
  return LockState::Held;
}

enum class Delivery {
  Delivered,
  NoServer,   // nobody listens on the socket
  Busy,       // a listener is there but did not take the connection in time (queue full)
  NoAnswer,   // connected and sent, no answer in time
  Dropped,    // the listener closed the connection without taking the message
  TooLarge,   // the message exceeds what a running instance reads
  NotKept,    // taken, but what it carried could not be kept
  OwnerGone,  // the lock's owner ended while we waited: the lock is now ours
};

// Sends `arguments` and waits for the one-byte answer. Without `ownerGone`, every wait is
// bounded by `timeoutSeconds`; with it, the waits after connecting last as long as it answers
// false (the lock's owner still lives, however slow it is). `sent` is set once the whole
// message has gone to the listener: from then on it may have taken it, answered or not.
Delivery deliver(const std::string& serverName, const std::vector<std::string>& arguments, double timeoutSeconds,
                 const std::function<bool()>& ownerGone = {}, bool* sent = nullptr) {
  QByteArray message = encode(arguments);
  const int ms = static_cast<int>(timeoutSeconds * 1000);
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(serverName));
  if (!socket.waitForConnected(ms)) {
    const auto error = socket.error();
    return error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError
               ? Delivery::NoServer
               : Delivery::Busy;
  }
  // Someone is there from here on: whatever goes wrong, the socket is not ours to take.
  if (message.size() - 4 > kMaximumMessage) return Delivery::TooLarge;
  QElapsedTimer clock;
  clock.start();
  const int slice = ownerGone ? std::min(ms, 250) : ms;
  // False: stop waiting, with `outcome` saying why.
  auto keepWaiting = [&](Delivery& outcome) {
    if (socket.state() != QLocalSocket::ConnectedState) {
      outcome = Delivery::Dropped;
      return false;
    }
    if (ownerGone) {
      if (!ownerGone()) return true;
      outcome = Delivery::OwnerGone;
      return false;
    }
    outcome = Delivery::NoAnswer;
    return clock.elapsed() < ms;
  };
  Delivery outcome = Delivery::NoAnswer;
  socket.write(message);
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(slice) && !keepWaiting(outcome)) return outcome;
  if (sent) *sent = true;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(slice) && socket.bytesAvailable() < 1 && !keepWaiting(outcome)) return outcome;
  const QByteArray answer = socket.read(1);
  socket.disconnectFromServer();
  if (answer == "1") return Delivery::Delivered;
  return answer == "0" ? Delivery::NotKept : Delivery::Dropped;
}

}  // namespace

struct SingleInstance::Impl {
  std::string name;
  // Why no launch can reach another through `name`; empty when it serves.
  std::string problem;
  std::string lockPath;
  int lockFd = -1;
  bool lockHeld = false;
  QLocalServer* server = nullptr;
  std::function<void(const std::vector<std::string>&, Reply)> handler;
  bool mayHaveHandedOver = false;
  double idleTimeout = SingleInstance::kDefaultIdleTimeout;
  double unreachableTimeout = SingleInstance::kDefaultUnreachableTimeout;
  int maximumOpen = SingleInstance::kDefaultMaximumOpenConnections;
  // The connections that count against the limit: taken, and not yet known to have ended. One
  // whose launch has closed its end stops counting at once, however long its socket lingers.
  std::unordered_set<QLocalSocket*> open;

  // Drops of the current burst, by cause; told in one line when the burst ends.
  int droppedCrowd = 0, droppedSlow = 0, droppedOversized = 0;
  QTimer* burstEnd = nullptr;
  QElapsedTimer burstStart;

  ~Impl() {
    delete server;  // its timers with it
    burstEnd = nullptr;
    tellDrops();
    if (lockFd >= 0) ::close(lockFd);  // releases the lock
  }

  void openLock() {
    if (lockPath.empty() || lockFd >= 0) return;
    fnd::FileManager::createDirectory(fnd::FileManager::deletingLastPathComponent(lockPath), true);
    lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0)
      fnd::logWarning("Could not open the library's lock file " + lockPath + ": " + std::strerror(errno));
  }

  void tookLock() {
    lockHeld = true;
    // Who holds it, for the message of a launch that cannot reach us.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lockFd, 0) == 0) (void)!::pwrite(lockFd, pid.data(), pid.size(), 0);
  }

  void giveUpLock() {
    if (lockFd >= 0) ::close(lockFd);
    lockFd = -1;
    lockHeld = false;
  }

  // While another process holds the lock, the arguments go to it. Absent: the lock is ours now
  // (or cannot be had at all), and this launch goes on to listen.
  std::optional<Outcome> handOverToLockOwner(const std::vector<std::string>& arguments, double timeoutSeconds) {
    QElapsedTimer clock;
    clock.start();
    qint64 unheardSince = -1;
    bool told = false;
    // A hand-over is quiet; one that waits says once what it waits for.
    auto tellOfWait = [&] {
      if (told || clock.elapsed() < kQuietWaitMs) return;
      told = true;
      const long owner = lockOwner(lockPath);
      fnd::logInfo("Waiting for the running Kesto" + (owner > 0 ? " (process " + std::to_string(owner) + ")" : "") +
                   " to take the arguments");
    };
    auto ownerGone = [&] {
      tellOfWait();
      return tryLock(lockFd) == LockState::Held;
    };
    // Once a whole message went to an owner that then did not answer (it ended, or closed the
    // connection), that owner may have kept what it carried: this launch says so when it takes
    // the library over.
    bool sentUnanswered = false;
    for (;;) {
      switch (tryLock(lockFd)) {
        case LockState::Held:
          tookLock();
          mayHaveHandedOver = sentUnanswered;
          return std::nullopt;
        case LockState::Unavailable:
          fnd::logWarning("Could not lock the library at " + lockPath + ": " + std::strerror(errno));
          giveUpLock();
          return std::nullopt;
        case LockState::HeldByOther: break;
      }
      bool sent = false;
      const Delivery delivery = deliver(name, arguments, timeoutSeconds, ownerGone, &sent);
      sentUnanswered = sentUnanswered || sent;
      switch (delivery) {
        case Delivery::Delivered: giveUpLock(); return Outcome::HandedOver;
        case Delivery::NotKept: giveUpLock(); return Outcome::NotKept;
        case Delivery::OwnerGone:
          tookLock();
          mayHaveHandedOver = sentUnanswered;
          return std::nullopt;
        case Delivery::TooLarge:
          fnd::logWarning("The arguments are too large to hand over (more than 1 MiB)");
          giveUpLock();
          return Outcome::Unreachable;
        case Delivery::NoServer:
          // Starting up, or listening somewhere this launch does not look.
          if (unheardSince < 0) unheardSince = clock.elapsed();
          if (clock.elapsed() - unheardSince > static_cast<qint64>(unreachableTimeout * 1000)) {
            giveUpLock();
            return Outcome::Unreachable;
          }
          break;
        case Delivery::Busy:
        case Delivery::NoAnswer:
        case Delivery::Dropped: unheardSince = -1; break;  // there and alive: try again
      }
      tellOfWait();
      QThread::msleep(100);
    }
  }

  void noteDrop(int& cause) {
    ++cause;
    if (!burstEnd) {
      burstEnd = new QTimer(server);
      burstEnd->setSingleShot(true);
      burstEnd->setInterval(kDropBurstQuietMs);
      QObject::connect(burstEnd, &QTimer::timeout, server, [this] { tellDrops(); });
    }
    if (!burstStart.isValid()) burstStart.start();
    if (burstStart.elapsed() > kDropBurstLongestMs) {
      tellDrops();
      return;
    }
    burstEnd->start();  // a drop keeps the burst going
  }

  void tellDrops() {
    const int total = droppedCrowd + droppedSlow + droppedOversized;
    if (total == 0) return;
    std::string causes;
    auto add = [&](int n, const std::string& what) {
      if (n == 0) return;
      causes += (causes.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    add(droppedCrowd, "over the limit of " + std::to_string(maximumOpen) + " open at once");
    add(droppedSlow, "not complete within " + fnd::numberText(idleTimeout, 6) + " s");
    add(droppedOversized, "too large");
    fnd::logWarning("Dropped " + std::to_string(total) + " connection" + (total == 1 ? "" : "s") +
                    " from other launches (" + causes + ")");
    droppedCrowd = droppedSlow = droppedOversized = 0;
    burstStart.invalidate();
    if (burstEnd) burstEnd->stop();
  }

  void runHandler(const std::vector<std::string>& arguments, const Reply& reply) {
    if (!handler) return reply(true);
    // Nothing the handler throws may reach the event loop; a launch whose handler failed is
    // told so.
    bool ran = false;
    fnd::runLoggingExceptions(
        [&] {
          handler(arguments, reply);
          ran = true;
        },
        "The handler of another launch's arguments failed");
    if (!ran) reply(false);
  }

  // The one answer to the launch on `socket`, written when the handler gives it.
  static Reply replyTo(QLocalSocket* socket) {
    auto answered = std::make_shared<bool>(false);
    return [socket = QPointer<QLocalSocket>(socket), answered](bool kept) {
      if (*answered) return;
      *answered = true;
      if (!socket || socket->state() != QLocalSocket::ConnectedState) return;
      socket->write(kept ? "1" : "0", 1);
      socket->flush();
    };
  }

  // Whether the launch on `socket` has closed its end, with nothing of it left unread: the loop
  // may not have turned yet to tell the socket so.
  static bool launchHasGone(QLocalSocket* socket) {
    if (socket->state() != QLocalSocket::ConnectedState || socket->bytesAvailable() > 0) return false;
    const auto fd = static_cast<int>(socket->socketDescriptor());
    if (fd < 0) return false;
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }

  // Ends the connections whose launches have gone; they no longer count.
  void endGoneConnections() {
    std::vector<QLocalSocket*> gone;
    for (QLocalSocket* socket : open)
      if (launchHasGone(socket)) gone.push_back(socket);
    for (QLocalSocket* socket : gone) {
      open.erase(socket);
      socket->abort();
    }
  }

  void accept() {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
      if (static_cast<int>(open.size()) >= maximumOpen) endGoneConnections();
      if (static_cast<int>(open.size()) >= maximumOpen) {
        socket->abort();
        socket->deleteLater();
        noteDrop(droppedCrowd);
        continue;
      }
      open.insert(socket);
      QObject::connect(socket, &QObject::destroyed, server, [this, socket] { open.erase(socket); });
      QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, socket] {
        open.erase(socket);
        socket->deleteLater();
      });
      auto buffer = std::make_shared<QByteArray>();
      // One deadline: from the connection while it sends nothing, then once more from its first
      // byte. Never restarted by later bytes, so a trickling sender cannot hold a connection.
      auto* deadline = new QTimer(socket);
      deadline->setSingleShot(true);
      deadline->setInterval(static_cast<int>(idleTimeout * 1000));
      QObject::connect(deadline, &QTimer::timeout, socket, [this, socket] {
        noteDrop(droppedSlow);
        socket->abort();
      });
      deadline->start();
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer, deadline, started = false]() mutable {
        QByteArray bytes = socket->readAll();
        if (bytes.isEmpty()) return;
        if (!started) {
          started = true;
          deadline->start();
        }
        buffer->append(bytes);
        if (buffer->size() < 4) return;
        const auto* b = reinterpret_cast<const unsigned char*>(buffer->constData());
        quint32 n = (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
        if (n > kMaximumMessage || buffer->size() > qsizetype(n) + 4) {
          noteDrop(droppedOversized);
          socket->abort();
          return;
        }
        if (buffer->size() < qsizetype(n) + 4) return;
        deadline->stop();
        auto arguments = decode(buffer->mid(4));
        buffer->clear();
        // Handled once this read handler has returned: what the handler does (a reload, an alert
        // with its own event loop) must not run while the socket is half-way through its read.
        // The launch hears back only then.
        QMetaObject::invokeMethod(
            server, [this, arguments = std::move(arguments), reply = replyTo(socket)] { runHandler(arguments, reply); },
            Qt::QueuedConnection);
      });
    }
  }
};

SingleInstance::SingleInstance(std::string serverName, std::string lockPath) : d_(std::make_unique<Impl>()) {
  if (serverName.empty()) {
    SocketPlace place = defaultSocketPlace();
    d_->name = std::move(place.name);
    d_->problem = std::move(place.problem);
  } else {
    d_->name = std::move(serverName);
  }
  d_->lockPath = std::move(lockPath);
}

SingleInstance::~SingleInstance() = default;

const std::string& SingleInstance::serverName() const { return d_->name; }
bool SingleInstance::isListening() const { return d_->server && d_->server->isListening(); }
bool SingleInstance::holdsLock() const { return d_->lockHeld; }
bool SingleInstance::mayHaveHandedOver() const { return d_->mayHaveHandedOver; }

void SingleInstance::setIdleTimeout(double seconds) { d_->idleTimeout = seconds; }
void SingleInstance::setMaximumOpenConnections(int count) { d_->maximumOpen = count; }
void SingleInstance::setUnreachableTimeout(double seconds) { d_->unreachableTimeout = seconds; }
void SingleInstance::setShortFolderParent(std::string parent) { shortFolderParent() = std::move(parent); }

void SingleInstance::setArgumentsHandler(std::function<void(const std::vector<std::string>&, Reply)> handler) {
  d_->handler = std::move(handler);
}

void SingleInstance::setArgumentsHandler(std::function<void(const std::vector<std::string>&)> handler) {
  if (!handler) return setArgumentsHandler(std::function<void(const std::vector<std::string>&, Reply)>());
  setArgumentsHandler([handler = std::move(handler)](const std::vector<std::string>& arguments, const Reply& reply) {
    handler(arguments);
    reply(true);
  });
}

bool SingleInstance::sendToRunningInstance(const std::string& serverName, const std::vector<std::string>& arguments,
                                           double timeoutSeconds) {
  return deliver(serverName, arguments, timeoutSeconds) == Delivery::Delivered;
}

long SingleInstance::lockOwner(const std::string& lockPath) {
  QFile file(QString::fromStdString(lockPath));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  return file.read(32).trimmed().toLong();
}

SingleInstance::Outcome SingleInstance::start(const std::vector<std::string>& arguments, double timeoutSeconds) {
  if (isListening()) return Outcome::Primary;
  d_->openLock();
  if (!d_->problem.empty()) {
    // Nothing can be handed over, nor listened for: the library stays one writer's all the same.
    fnd::logWarning(d_->problem);
    if (d_->lockFd >= 0 && !d_->lockHeld) {
      switch (tryLock(d_->lockFd)) {
        case LockState::Held: d_->tookLock(); break;
        case LockState::HeldByOther: d_->giveUpLock(); return Outcome::Unreachable;
        case LockState::Unavailable:
          fnd::logWarning("Could not lock the library at " + d_->lockPath + ": " + std::strerror(errno));
          d_->giveUpLock();
          break;
      }
    }
    return Outcome::Failed;
  }
  if (d_->lockFd >= 0 && !d_->lockHeld)
    if (auto outcome = d_->handOverToLockOwner(arguments, timeoutSeconds)) return *outcome;
  // The library is ours (or has no lock): a listener still there belongs to no library of ours.
  switch (deliver(d_->name, arguments, timeoutSeconds)) {
    case Delivery::Delivered: d_->giveUpLock(); return Outcome::HandedOver;
    case Delivery::NotKept: d_->giveUpLock(); return Outcome::NotKept;
    case Delivery::NoServer: break;
    default:
      // A running instance that is busy or refused the message keeps its socket.
      fnd::logWarning("The running Kesto did not take the arguments");
      return Outcome::Failed;
  }
  delete d_->server;
  d_->server = new QLocalServer;
  d_->server->setSocketOptions(QLocalServer::UserAccessOption);
  QString name = QString::fromStdString(d_->name);
  if (!d_->server->listen(name)) {
    // Nobody accepts connections on it, so the socket file is left over from an instance
    // that has gone.
    QLocalServer::removeServer(name);
    if (!d_->server->listen(name)) {
      fnd::logWarning("Could not listen for later launches: " + d_->server->errorString().toStdString());
      delete d_->server;
      d_->server = nullptr;
      return Outcome::Failed;
    }
  }
  QObject::connect(d_->server, &QLocalServer::newConnection, d_->server, [impl = d_.get()] { impl->accept(); });
  return Outcome::Primary;
}

}  // namespace kesto::sys
