#include "Synchronize/ICloudDataSource.h"

#include "Synchronize/SyncFile.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/Synchronizer.h"

#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/System/SyncedFolder.h"

namespace kesto {

ICloudDataSource::ICloudDataSource() : alive_(std::make_shared<bool>(true)) {}
ICloudDataSource::~ICloudDataSource() = default;

void ICloudDataSource::later(std::function<void(Synchronizer&)> call) {
  std::weak_ptr<bool> alive = alive_;
  auto* delegate = delegate_;
  fnd::DispatchQueue::main().after(0.1, [alive, delegate, call = std::move(call)] {
    if (alive.lock() && delegate) call(*delegate);
  });
}

void ICloudDataSource::load() {
  ViewUpdater::startActivity();
  if (delegate_) delegate_->setIsBusy(true);
  auto abort = [this](const std::string& message) {
    fnd::logError(message);
    later([message](Synchronizer& s) { s.abortSyncWithError(message); });
  };
  auto folder = sys::SyncedFolder::configured();
  if (!folder) return abort("No synced folder is chosen");
  switch (folder->payloadState()) {
    case sys::SyncedFolder::PayloadState::NoFolder:
      return abort("The synced folder " + folder->root() + " is not available");
    case sys::SyncedFolder::PayloadState::Missing:
      // Nothing uploaded yet: the remote library is empty.
      later([](Synchronizer& s) { s.retrievedXML(kEmptyLibraryMarker); });
      return;
    case sys::SyncedFolder::PayloadState::Present:
      break;
  }
  const auto workFolder = SyncPayload::makeRunFolder();
  const auto inbound = workFolder + "/" + SyncPayload::kInboundName;
  fnd::Error error;
  std::string xml;
  std::string failure;
  if (workFolder.empty()) {
    failure = "No temporary folder for the sync";
  } else if (!folder->copyPayloadTo(inbound, &error, kLockTimeout, SyncPayload::kMaxArchiveBytes)) {
    failure = error.localizedDescription();
  } else if (auto status = SyncPayload::unpack(inbound, &xml); status != SyncPayload::UnpackStatus::Ok) {
    failure = SyncPayload::describe(status);
  }
  if (!workFolder.empty()) fnd::FileManager::removeItem(workFolder);
  if (!failure.empty()) return abort(failure);
  later([xml = std::move(xml)](Synchronizer& s) { s.retrievedXML(xml); });
}

void ICloudDataSource::send(const std::string& xml) {
  ViewUpdater::startActivity();
  bool ok = false;
  std::string message;
  auto folder = sys::SyncedFolder::configured();
  const auto workFolder = SyncPayload::makeRunFolder();
  const auto outbound = workFolder + "/" + SyncPayload::kArchiveName;
  fnd::Error error;
  if (!folder) {
    message = "No synced folder is chosen";
  } else if (workFolder.empty() || !SyncPayload::pack(xml, outbound, &error)) {
    message = workFolder.empty() ? "No temporary folder for the sync" : error.localizedDescription();
  } else if (!folder->putPayload(outbound, &error, kLockTimeout)) {
    message = error.localizedDescription();
    fnd::logFormat(fnd::LogFlag::Error, "Error uploading file to iCloud: %s", message.c_str());
  } else {
    ok = true;
  }
  if (!workFolder.empty()) fnd::FileManager::removeItem(workFolder);
  ViewUpdater::stopActivity();
  if (delegate_) {
    delegate_->setIsBusy(false);
    delegate_->sentSyncData(ok, message);
  }
}

}  // namespace kesto
