#include "Platform/Net/NetworkThread.h"

#include "Platform/Foundation/Log.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QObject>
#include <QThread>
#include <QString>
#include <qlogging.h>

#include <cstdio>
#include <exception>
#include <mutex>
#include <string>

namespace kesto::net::detail {

namespace {

struct Globals {
  QThread* thread = nullptr;
  QObject* context = nullptr;
};

QtMessageHandler previousHandler = nullptr;

// The same lookup race seen from the reply: the toolkit reports the failure to a reply that has
// already been told of it, and says so. Nothing is lost; the first report stands.
bool isLookupRaceNoise(const QString& message) {
  return message.contains(QLatin1String("_q_hostLookupFinished could not de-queue request")) ||
         message.contains(QLatin1String("QNetworkReplyImplPrivate::error: Internal problem, this method must only be called once"));
}

void noiseFilter(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg && isLookupRaceNoise(message)) return;
  if (previousHandler) previousHandler(type, context, message);
  else std::fprintf(stderr, "%s\n", qPrintable(message));
}

Globals& globals();

// The application object is going away: the thread finishes the work item it is in and stops,
// so no connection reaches for the toolkit's plug-ins and paths while they are torn down.
void stopNetworkThread() {
  Globals& g = globals();
  g.thread->quit();
  if (!g.thread->wait(3000)) fnd::logError("Networking thread: still busy when the application ended");
}

Globals& globals() {
  static Globals g;
  static std::once_flag once;
  std::call_once(once, [] {
    dropKnownNetworkStackNoise();
    // Made once and never destroyed: connections of the whole process run here until the
    // application object ends.
    g.thread = new QThread();
    g.thread->setObjectName("Networking");
    g.context = new QObject();
    g.context->moveToThread(g.thread);
    g.thread->start();
    qAddPostRoutine(stopNetworkThread);
  });
  return g;
}

}  // namespace

void performOnNetworkThread(std::function<void()> work) {
  // Work runs inside the thread's event loop, which no exception may unwind.
  QMetaObject::invokeMethod(
      globals().context,
      [work = std::move(work)] { fnd::runLoggingExceptions(work, "Networking thread: a work item threw"); },
      Qt::QueuedConnection);
}

void dropKnownNetworkStackNoise() {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  QtMessageHandler current = qInstallMessageHandler(noiseFilter);
  // Installed already: put it back as it was instead of chaining it to itself.
  if (current != noiseFilter) previousHandler = current;
}

bool isNetworkThread() { return QThread::currentThread() == globals().thread; }

QNetworkAccessManager& networkAccessManager() {
  static QNetworkAccessManager* manager = [] {
    auto* m = new QNetworkAccessManager();
    m->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m->setAutoDeleteReplies(false);
    return m;
  }();
  return *manager;
}

}  // namespace kesto::net::detail
