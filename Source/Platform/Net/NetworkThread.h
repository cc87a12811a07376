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

// Keeps the toolkit's network stack from printing what is no failure of ours: when a name does
// not resolve, each request already gets HostNotFound from its socket, and the connection's own
// lookup, finishing later, warns that it found no request left to tell. Other messages go on to
// the handler installed before. Idempotent; done when the network thread starts.
void dropKnownNetworkStackNoise();

}  // namespace kesto::net::detail
