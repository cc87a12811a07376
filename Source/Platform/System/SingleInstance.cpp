#include "Platform/System/SingleInstance.h"

#include "Platform/Foundation/Log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#include <cstdlib>
#include <exception>

namespace kesto::sys {

namespace {

constexpr qint64 kMaximumMessage = 1 << 20;

// Message: four bytes of big-endian length, then the arguments, each ended by a NUL byte.
// The running instance answers one byte once it has the whole message.
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

std::string defaultServerName() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/kesto.sock";
  // Never a socket in a folder everyone may write to: another user could bind the name first
  // and be handed this user's arguments. Qt makes (or checks) a runtime folder only this user
  // owns and enters; failing that, the user's own caches folder.
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) {
    folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/kesto";
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }
  return folder.toStdString() + "/kesto.sock";
}

}  // namespace

struct SingleInstance::Impl {
  std::string name;
  QLocalServer* server = nullptr;
  std::function<void(const std::vector<std::string>&)> handler;
  double idleTimeout = SingleInstance::kDefaultIdleTimeout;

  ~Impl() { delete server; }

  void accept() {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
      auto buffer = std::make_shared<QByteArray>();
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      // Restarted by every read: only a connection that goes quiet is dropped.
      auto* idle = new QTimer(socket);
      idle->setSingleShot(true);
      idle->setInterval(static_cast<int>(idleTimeout * 1000));
      QObject::connect(idle, &QTimer::timeout, socket, [socket] {
        fnd::logWarning("Dropped a connection from another launch that sent nothing");
        socket->abort();
      });
      idle->start();
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer, idle] {
        idle->start();
        buffer->append(socket->readAll());
        if (buffer->size() < 4) return;
        const auto* b = reinterpret_cast<const unsigned char*>(buffer->constData());
        quint32 n = (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
        if (n > kMaximumMessage || buffer->size() > qsizetype(n) + 4) {
          fnd::logWarning("Refused an oversized message from another launch");
          socket->abort();
          return;
        }
        if (buffer->size() < qsizetype(n) + 4) return;
        auto arguments = decode(buffer->mid(4));
        buffer->clear();
        socket->write("1", 1);
        socket->flush();
        if (!handler) return;
        // This runs inside a Qt slot: nothing the handler throws may reach the event loop.
        try {
          handler(arguments);
        } catch (const std::exception& e) {
          fnd::logError(std::string("The handler of another launch's arguments failed: ") + e.what());
        } catch (...) {
          fnd::logError("The handler of another launch's arguments failed");
        }
      });
    }
  }
};

SingleInstance::SingleInstance(std::string serverName) : d_(std::make_unique<Impl>()) {
  d_->name = serverName.empty() ? defaultServerName() : std::move(serverName);
}

SingleInstance::~SingleInstance() = default;

const std::string& SingleInstance::serverName() const { return d_->name; }
bool SingleInstance::isListening() const { return d_->server && d_->server->isListening(); }

void SingleInstance::setIdleTimeout(double seconds) { d_->idleTimeout = seconds; }

void SingleInstance::setArgumentsHandler(std::function<void(const std::vector<std::string>&)> handler) {
  d_->handler = std::move(handler);
}

namespace {

enum class Delivery { Delivered, NoServer, NoAnswer };

Delivery deliver(const std::string& serverName, const std::vector<std::string>& arguments, double timeoutSeconds) {
  QByteArray message = encode(arguments);
  int ms = static_cast<int>(timeoutSeconds * 1000);
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(serverName));
  if (!socket.waitForConnected(ms)) return Delivery::NoServer;
  // Someone is there from here on: whatever goes wrong, the socket is not ours to take.
  if (message.size() - 4 > kMaximumMessage) return Delivery::NoAnswer;
  socket.write(message);
  if (!socket.waitForBytesWritten(ms)) return Delivery::NoAnswer;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(ms)) return Delivery::NoAnswer;
  bool ok = socket.read(1) == "1";
  socket.disconnectFromServer();
  return ok ? Delivery::Delivered : Delivery::NoAnswer;
}

}  // namespace

bool SingleInstance::sendToRunningInstance(const std::string& serverName, const std::vector<std::string>& arguments,
                                           double timeoutSeconds) {
  return deliver(serverName, arguments, timeoutSeconds) == Delivery::Delivered;
}

SingleInstance::Outcome SingleInstance::start(const std::vector<std::string>& arguments, double timeoutSeconds) {
  if (isListening()) return Outcome::Primary;
  switch (deliver(d_->name, arguments, timeoutSeconds)) {
    case Delivery::Delivered: return Outcome::HandedOver;
    case Delivery::NoAnswer:
      // A running instance that is busy or refused the message keeps its socket.
      fnd::logWarning("The running Kesto did not take the arguments");
      return Outcome::Failed;
    case Delivery::NoServer: break;
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
