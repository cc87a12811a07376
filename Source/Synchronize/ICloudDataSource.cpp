#include "Synchronize/ICloudDataSource.h"

#include "Synchronize/SyncFile.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/Synchronizer.h"

#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/System/SyncedFolder.h"

#include <utility>

namespace kesto {

namespace {

// Waiting for the folder lock (up to kLockTimeout) and copying the payload stay off the main
// thread. One serial queue for every transfer keeps this process's loads and uploads in order.
fnd::DispatchQueue& transferQueue() {
  static const std::shared_ptr<fnd::DispatchQueue> queue =
      fnd::DispatchQueue::create("com.kesto.syncedfolder.transfer");
  return *queue;
}

}  // namespace

ICloudDataSource::ICloudDataSource() = default;
ICloudDataSource::~ICloudDataSource() {
  if (!readCopyFolder_.empty()) fnd::FileManager::removeItem(readCopyFolder_);
}

std::string ICloudDataSource::asideName() {
  return "kesto_sync unreadable " +
         fnd::DateFormatter::fixed("yyyy-MM-dd HH-mm-ss", fnd::TimeZone::local()).stringFromDate(fnd::Date::now()) +
         ".zip";
}

void ICloudDataSource::later(std::function<void(Synchronizer&)> call) {
  auto alive = lifetime_.watch();
  auto* delegate = delegate_;
  fnd::DispatchQueue::main().after(0.1, [alive, delegate, call = std::move(call)] {
    if (alive && delegate) call(*delegate);
  });
}

void ICloudDataSource::load() {
  ViewUpdater::startActivity();
  if (delegate_) delegate_->setIsBusy(true);
  auto folder = sys::SyncedFolder::configured();
  if (!folder) {
    fnd::logError("No synced folder is chosen");
    later([](Synchronizer& s) { s.abortSyncWithError("No synced folder is chosen"); });
    return;
  }
  auto alive = lifetime_.watch();
  auto* delegate = delegate_;
  // The working folder is made here, where the application's paths are read; what may wait runs
  // on the transfer queue and touches nothing of this object: the engine may drop the source
  // (time-out, next run) before the transfer ends.
  std::string noWorkFolder;
  auto workFolder = SyncPayload::makeRunFolder(&noWorkFolder);
  ICloudDataSource* source = this;
  transferQueue().async([alive, delegate, source, folder = std::move(*folder), workFolder, noWorkFolder] {
    auto answer = [alive, delegate](std::function<void(Synchronizer&)> call) {
      fnd::DispatchQueue::main().after(0.1, [alive, delegate, call = std::move(call)] {
        if (alive && delegate) call(*delegate);
      });
    };
    // `local`: the cause is on this computer (its own disk), not the synced folder.
    auto abort = [&answer, &workFolder](const std::string& message, bool local = false) {
      if (!workFolder.empty()) fnd::FileManager::removeItem(workFolder);
      fnd::logError(message);
      answer([message, local](Synchronizer& s) {
        if (local) s.failLocally(message);
        else s.abortSyncWithError(message);
      });
    };
    switch (folder.payloadState()) {
      case sys::SyncedFolder::PayloadState::NoFolder:
        return abort("The synced folder " + folder.root() + " is not available");
      case sys::SyncedFolder::PayloadState::Missing:
        // Nothing uploaded yet: the remote library is empty.
        if (!workFolder.empty()) fnd::FileManager::removeItem(workFolder);
        return answer([](Synchronizer& s) { s.retrievedXML(kEmptyLibraryMarker); });
      case sys::SyncedFolder::PayloadState::Present:
        break;
    }
    const auto inbound = workFolder + "/" + SyncPayload::kInboundName;
    fnd::Error error;
    std::string xml;
    std::string failure;
    bool local = false;
    if (workFolder.empty()) {
      failure = noWorkFolder;
      local = true;
    } else if (!folder.copyPayloadTo(inbound, &error, kLockTimeout, SyncPayload::kMaxArchiveBytes)) {
      failure = error.localizedDescription();
      if (error.code() == sys::SyncedFolder::kCopyNotWrittenError) {
        // This computer's disk, not the synced copy, is at fault.
        local = true;
        const auto cause = error.underlyingError();
        failure = "The synced copy of your library could not be copied to this computer: " +
                  fnd::FileManager::writeFailureReason(cause ? static_cast<int>(cause->code()) : 0,
                                                       SyncPayload::placeOf(inbound));
      }
    } else if (auto status = SyncPayload::unpack(inbound, &xml); status != SyncPayload::UnpackStatus::Ok) {
      // Read, but unreadable: the copy stays for the comparison before it is set aside.
      const std::string why = SyncPayload::describe(status);
      fnd::DispatchQueue::main().after(0.1, [alive, delegate, source, workFolder, why] {
        if (!alive) {
          fnd::FileManager::removeItem(workFolder);
          return;
        }
        source->readCopyFolder_ = workFolder;
        if (delegate) delegate->remoteUnreadable(why);
      });
      return;
    }
    if (!failure.empty()) return abort(failure, local);
    // The copy stays too: the engine may find the document itself unreadable.
    fnd::DispatchQueue::main().after(0.1, [alive, delegate, source, workFolder, xml = std::move(xml)]() mutable {
      if (!alive) {
        fnd::FileManager::removeItem(workFolder);
        return;
      }
      source->readCopyFolder_ = workFolder;
      if (delegate) delegate->retrievedXML(std::move(xml));
    });
  });
}

void ICloudDataSource::setAsideUnreadable(std::function<void(bool kept, std::string where)> completion) {
  auto folder = sys::SyncedFolder::configured();
  if (!folder || readCopyFolder_.empty()) return completion(false, {});
  const std::string workFolder = std::exchange(readCopyFolder_, std::string());
  const std::string name = asideName();
  auto alive = lifetime_.watch();
  transferQueue().async([alive, folder = std::move(*folder), workFolder, name, completion = std::move(completion)] {
    fnd::Error error;
    auto kept = folder.setAsidePayload(workFolder + "/" + SyncPayload::kInboundName, name, &error, kLockTimeout);
    if (!kept) fnd::logError("The unreadable sync payload was not set aside: " + error.localizedDescription());
    fnd::FileManager::removeItem(workFolder);
    fnd::DispatchQueue::main().async([alive, kept, completion] {
      if (alive) completion(kept.has_value(), kept.value_or(""));
    });
  });
}

void ICloudDataSource::send(const std::string& xml) { sendShared(std::make_shared<const std::string>(xml)); }

void ICloudDataSource::sendShared(std::shared_ptr<const std::string> xml) {
  ViewUpdater::startActivity();
  auto alive = lifetime_.watch();
  auto* delegate = delegate_;
  auto folder = sys::SyncedFolder::configured();
  std::string noWorkFolder;
  auto workFolder = folder ? SyncPayload::makeRunFolder(&noWorkFolder) : std::string();
  transferQueue().async([alive, delegate, folder = std::move(folder), workFolder, noWorkFolder, xml] {
    bool ok = false;
    std::string message;
    const auto outbound = workFolder + "/" + SyncPayload::kArchiveName;
    fnd::Error error;
    if (!folder) {
      message = "No synced folder is chosen";
    } else if (workFolder.empty() || !SyncPayload::pack(*xml, outbound, &error)) {
      message = workFolder.empty() ? noWorkFolder : error.localizedDescription();
    } else if (!folder->putPayload(outbound, &error, kLockTimeout)) {
      message = error.localizedDescription();
      fnd::logFormat(fnd::LogFlag::Error, "Error uploading file to iCloud: %s", message.c_str());
    } else {
      ok = true;
    }
    if (!workFolder.empty()) fnd::FileManager::removeItem(workFolder);
    fnd::DispatchQueue::main().async([alive, delegate, ok, message] {
      ViewUpdater::stopActivity();
      if (!alive || !delegate) return;
      delegate->setIsBusy(false);
      delegate->sentSyncData(ok, message);
    });
  });
}

}  // namespace kesto
