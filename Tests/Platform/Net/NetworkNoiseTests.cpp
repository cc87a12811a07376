#include "Platform/Net/NetworkThread.h"

#include <gtest/gtest.h>

#include <QString>
#include <qlogging.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string>& printed() {
  static std::vector<std::string> lines;
  return lines;
}

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
  printed().push_back(message.toStdString());
}

}  // namespace

TEST(NetworkStackMessages, TheLookupRaceMessageIsDroppedAndEverythingElsePassesOn) {
  QtMessageHandler saved = qInstallMessageHandler(recordMessage);
  kesto::net::detail::dropKnownNetworkStackNoise();
  kesto::net::detail::dropKnownNetworkStackNoise();  // a second call does not chain the filter to itself
  printed().clear();
  qWarning("QHttpNetworkConnectionPrivate::_q_hostLookupFinished could not de-queue request, failed to report "
           "HostNotFoundError");
  qWarning("QNetworkReplyImplPrivate::error: Internal problem, this method must only be called once.");
  qWarning("QSslSocket: cannot resolve a symbol");
  qDebug("QHttpNetworkConnectionPrivate::_q_hostLookupFinished could not de-queue request, failed to report "
         "HostNotFoundError");
  qDebug("QNetworkReply: a debug line");
  qInstallMessageHandler(saved);
  EXPECT_EQ(printed(), (std::vector<std::string>{"QSslSocket: cannot resolve a symbol",
                                                  "QNetworkReply: a debug line"}));
}
