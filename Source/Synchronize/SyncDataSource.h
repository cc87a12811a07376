#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kesto {

class Synchronizer;

// The transport protocol between the sync engine and a data source that keeps the sync payload
// somewhere. The engine creates a source per run, sets itself as delegate, calls load(), and
// later send() with the outgoing document. The source answers on the main thread with
// Synchronizer::retrievedXML (the document, or kEmptyLibraryMarker when the remote side holds no
// payload), Synchronizer::abortSyncWithError (any failure: a failed or unreadable download is
// never an empty remote), and after send() with Synchronizer::sentSyncData (whether the upload
// is confirmed). setIsBusy brackets the transfer.
class SyncDataSource {
 public:
  virtual ~SyncDataSource() = default;
  void setDelegate(Synchronizer* delegate) { delegate_ = delegate; }
  Synchronizer* delegate() const { return delegate_; }
  virtual void load() = 0;
  virtual void send(const std::string& xml) = 0;
  // The same document shared rather than copied: a large library's file is tens of megabytes,
  // and copying it on the main thread holds the interface up.
  virtual void sendShared(std::shared_ptr<const std::string> xml) { send(*xml); }
  // The remote sync file could not be read: keep it somewhere (a dated name beside the
  // payload), so the next upload replaces nothing that is lost. `completion` (main thread)
  // hears whether it was kept and where; a source that cannot keep it answers false.
  virtual void setAsideUnreadable(std::function<void(bool kept, std::string where)> completion) {
    completion(false, {});
  }

 protected:
  Synchronizer* delegate_ = nullptr;
};

}  // namespace kesto
