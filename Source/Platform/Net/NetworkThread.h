#pragma once

// Private: the shared "Networking" thread and its Qt objects.

#include <functional>

class QNetworkAccessManager;
class QObject;

namespace kesto::net::detail {

void performOnNetworkThread(std::function<void()> work);
bool isNetworkThread();
// The one access manager of the network thread (connections are pooled there). Network thread only.
QNetworkAccessManager& networkAccessManager();

}  // namespace kesto::net::detail
