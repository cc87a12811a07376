#include "Synchronize/SkyFolderDataSource.h"

#include "Synchronize/ICloudDataSource.h"
#include "Synchronize/SyncFile.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/Synchronizer.h"

#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Skyfolder/SFAuthHelperOSX.h"
#include "Skyfolder/SFMetadata.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFRestClient.h"
#include "Skyfolder/SFSession.h"

namespace kesto {

namespace {

std::string& appKey() {
  static std::string key = SkyFolderDataSource::kAppKey;
  return key;
}
std::string& appSecret() {
  static std::string secret = SkyFolderDataSource::kAppSecret;
  return secret;
}

const std::string kRemotePath = std::string("/") + SkyFolderDataSource::kRemoteName;

std::string describe(const fnd::Error& error) {
  std::string text = error.localizedDescription();
  if (error.domain() == kSFSkyfolderErrorDomain && error.code() >= 400)
    text = "Skyfolder answered with an error (HTTP " + std::to_string(error.code()) + ")";
  return text.empty() ? "Skyfolder could not be reached" : text;
}

}  // namespace

SkyFolderDataSource::SkyFolderDataSource() = default;

SkyFolderDataSource::~SkyFolderDataSource() {
  lifetime_.end();
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  restClient_.reset();
  removeWorkFolder();
}

void SkyFolderDataSource::setAppCredentials(std::string key, std::string secret) {
  appKey() = std::move(key);
  appSecret() = std::move(secret);
}

void SkyFolderDataSource::setUsingSkyfolder(bool on) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(on, kUsingSkyfolderKey);
  defaults.synchronize();
}

void SkyFolderDataSource::removeWorkFolder() {
  if (!workFolder_.empty()) fnd::FileManager::removeItem(workFolder_);
  workFolder_.clear();
}

void SkyFolderDataSource::initSkyFolder() {
  SFSession::setSharedSession(std::make_shared<SFSession>(appKey(), appSecret(), kRoot));
  if (!observing_) {
    observing_ = true;
    fnd::NotificationCenter::defaultCenter().addObserver(
        this, [this](const fnd::Notification&) { updateLinkButton(); }, kSFAuthHelperOSXStateChangedNotification,
        &SFAuthHelperOSX::sharedHelper());
  }
  updateLinkButton();
}

bool SkyFolderDataSource::isLinked() {
  auto session = SFSession::sharedSession();
  return session && session->isLinked();
}

void SkyFolderDataSource::setLinkButton(LinkButtonView view) {
  linkButton_ = std::move(view);
  initSkyFolder();
}

void SkyFolderDataSource::updateLinkButton() {
  if (!linkButton_) return;
  const bool shown = isLinked() ? linkButton_("Unlink Skyfolder", std::nullopt)
                                : linkButton_("Link Skyfolder", SFAuthHelperOSX::sharedHelper().isLoading() ? 0 : 1);
  if (!shown) linkButton_ = nullptr;
}

void SkyFolderDataSource::didPressLinkSkyfolder() {
  if (isLinked()) {
    unlinkSkyfolder();
    if (delegate_) delegate_->resetAccount();
    return;
  }
  if (!SFSession::sharedSession()) initSkyFolder();
  // The button follows the flow through its notification. Choosing Skyfolder for sync is the
  // set-up stage's to do once it is completed: a link abandoned or failed changes no setting.
  SFAuthHelperOSX::sharedHelper().authenticate();
}

void SkyFolderDataSource::unlinkSkyfolder() {
  if (auto session = SFSession::sharedSession()) session->unlinkAll();
  updateLinkButton();
  setUsingSkyfolder(false);
}

SFRestClient* SkyFolderDataSource::restClient() {
  if (!restClient_) {
    restClient_ = SFRestClient::initWithSession(SFSession::sharedSession());
    if (restClient_) restClient_->setDelegate(this);
  }
  return restClient_.get();
}

void SkyFolderDataSource::later(std::function<void(Synchronizer&)> call) {
  fnd::DispatchQueue::main().after(0.1, lifetime_.whileAlive([this, call = std::move(call)] {
    if (delegate_) call(*delegate_);
  }));
}

std::uint64_t SkyFolderDataSource::implementedOperations() const {
  return LoadedFileContentTypeMetadata | LoadFileFailedWithError | UploadedFileFromMetadata | UploadFileFailedWithError |
         MovedPath | MovePathFailedWithError;
}

void SkyFolderDataSource::load() {
  ViewUpdater::startActivity();
  initSkyFolder();
  restClient_.reset();
  if (!isLinked()) {
    ViewUpdater::stopActivity();
    // Linking is what the wizard does; this run ends without a transfer.
    return later([](Synchronizer& s) { s.needsSetUp(); });
  }
  if (delegate_) delegate_->setIsBusy(true);
  removeWorkFolder();
  std::string noWorkFolder;
  workFolder_ = SyncPayload::makeRunFolder(&noWorkFolder);
  if (workFolder_.empty()) {
    ViewUpdater::stopActivity();
    return later([noWorkFolder](Synchronizer& s) { s.failLocally(noWorkFolder); });
  }
  if (!restClient()) {
    ViewUpdater::stopActivity();
    return later([](Synchronizer& s) { s.abortSyncWithError("The Skyfolder client is not available"); });
  }
  restClient()->loadFile(kRemotePath, workFolder_ + "/" + SyncPayload::kInboundName);
}

void SkyFolderDataSource::restClientLoadedFile(SFRestClient&, const std::string& destPath, const std::string&,
                                               std::shared_ptr<const SFMetadata> metadata) {
  ViewUpdater::stopActivity();
  downloadedRev_ = metadata && metadata->rev() ? metadata->rev() : std::optional<std::string>(std::string());
  std::string xml;
  const auto status = SyncPayload::unpack(destPath, &xml);
  if (status != SyncPayload::UnpackStatus::Ok) {
    const std::string why = SyncPayload::describe(status);
    return later([why](Synchronizer& s) { s.remoteUnreadable(why); });
  }
  later([xml = std::move(xml)](Synchronizer& s) { s.retrievedXML(xml); });
}

void SkyFolderDataSource::restClientLoadFileFailedWithError(SFRestClient&, const fnd::Error& error) {
  ViewUpdater::stopActivity();
  // Only "no such file" is an empty remote; a failed download must not be overwritten unmerged.
  if (error.domain() == kSFSkyfolderErrorDomain && error.code() == 404) {
    downloadedRev_.reset();
    return later([](Synchronizer& s) { s.retrievedXML(kEmptyLibraryMarker); });
  }
  fnd::logFormat(fnd::LogFlag::Error, "Skyfolder download failed: %s", error.description().c_str());
  const std::string why = describe(error);
  later([why](Synchronizer& s) { s.abortSyncWithError(why); });
}

void SkyFolderDataSource::send(const std::string& xml) {
  ViewUpdater::startActivity();
  const std::string outbound = workFolder_ + "/" + SyncPayload::kArchiveName;
  fnd::Error error;
  if (workFolder_.empty() || !restClient() || !SyncPayload::pack(xml, outbound, &error)) {
    ViewUpdater::stopActivity();
    const std::string why = "The sync file could not be packed: " + error.localizedDescription();
    fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, why] {
      if (!delegate_) return;
      delegate_->setIsBusy(false);
      delegate_->sentSyncData(false, why);
    }));
    return;
  }
  // The parent is the revision this run merged: a newer one uploaded meanwhile is kept.
  restClient()->uploadFile(kRemoteName, "/", downloadedRev_.value_or(""), outbound);
}

void SkyFolderDataSource::restClientUploadedFile(SFRestClient&, const std::string&, const std::string&,
                                                 std::shared_ptr<const SFMetadata> metadata) {
  ViewUpdater::stopActivity();
  if (!delegate_) return;
  delegate_->setIsBusy(false);
  const std::string path = metadata && metadata->path() ? *metadata->path() : std::string();
  if (path != kRemotePath) {
    fnd::logError("Skyfolder kept the upload as " + path + ": another computer synced meanwhile");
    return delegate_->sentSyncData(false, "Another computer synced at the same time. Sync again to take its changes.");
  }
  delegate_->sentSyncData(true);
}

void SkyFolderDataSource::restClientUploadFileFailedWithError(SFRestClient&, const fnd::Error& error) {
  ViewUpdater::stopActivity();
  fnd::logFormat(fnd::LogFlag::Error, "File upload failed with error - %s", error.description().c_str());
  if (!delegate_) return;
  delegate_->setIsBusy(false);
  delegate_->sentSyncData(false, "The sync file could not be uploaded: " + describe(error));
}

void SkyFolderDataSource::setAsideUnreadable(std::function<void(bool kept, std::string where)> completion) {
  if (!restClient() || !isLinked()) return completion(false, {});
  auto name = ICloudDataSource::asideName();
  name.replace(0, std::string("kesto_sync").size(), "sync_data");
  setAsidePath_ = "/" + name;
  setAsideCompletion_ = std::move(completion);
  restClient()->moveFrom(kRemotePath, setAsidePath_);
}

void SkyFolderDataSource::restClientMovedPath(SFRestClient&, const std::string&, std::shared_ptr<const SFMetadata>) {
  // The payload's place is free: the upload creates it anew.
  downloadedRev_ = std::string();
  if (auto done = std::exchange(setAsideCompletion_, nullptr)) done(true, "Skyfolder:" + setAsidePath_);
}

void SkyFolderDataSource::restClientMovePathFailedWithError(SFRestClient&, const fnd::Error& error) {
  fnd::logFormat(fnd::LogFlag::Error, "The unreadable sync file was not set aside: %s", error.description().c_str());
  if (auto done = std::exchange(setAsideCompletion_, nullptr)) done(false, {});
}

}  // namespace kesto
