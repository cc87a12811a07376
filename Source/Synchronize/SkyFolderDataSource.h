#pragma once

#include "Synchronize/SyncDataSource.h"

#include "Skyfolder/SFRestClientDelegate.h"
#include "Platform/Foundation/Lifetime.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

class SFRestClient;

// The sync transport that keeps the payload as "/sync_data.zip" in the app folder of the user's
// Skyfolder account, and what the set-up wizard's "Link Skyfolder" / "Unlink Skyfolder" button
// shows and does (the button itself belongs to the set-up windows).
//
// The upload names the revision that was downloaded as its parent, so a payload another machine
// uploaded in between is never silently replaced (the service keeps ours as a conflicted copy,
// and the run fails and is tried again). Only a missing file is an empty remote; every other
// download failure ends the run without uploading.
class SkyFolderDataSource final : public SyncDataSource, public SFRestClientDelegate {
 public:
  static constexpr const char* kMethod = "skyfolder";
  static constexpr const char* kLabel = "[Skyfolder]";
  static constexpr const char* kAppKey = "t4mz8qv1lc6xoyb";
  static constexpr const char* kAppSecret = "w2hs9ej5pk0nfug";
  static constexpr const char* kRoot = "sandbox";
  static constexpr const char* kRemoteName = "sync_data.zip";
  static constexpr const char* kUsingSkyfolderKey = "syncUsingSkyfolder";

  SkyFolderDataSource();
  ~SkyFolderDataSource() override;
  SkyFolderDataSource(const SkyFolderDataSource&) = delete;
  SkyFolderDataSource& operator=(const SkyFolderDataSource&) = delete;

  // The application's key and secret (tests use the fake service's).
  static void setAppCredentials(std::string key, std::string secret);

  // Shows the link button's title and, while unlinked, its state (0 while a link flow runs).
  // It answers false once the button is gone.
  using LinkButtonView = std::function<bool(const std::string& title, std::optional<int> state)>;

  // The interface's instance serves the link button: it shows the account's state through
  // `view`, and the button's presses come to didPressLinkSkyfolder.
  void setLinkButton(LinkButtonView view);
  void initSkyFolder();
  void updateLinkButton();
  void didPressLinkSkyfolder();
  void unlinkSkyfolder();
  static bool isLinked();
  // "syncUsingSkyfolder": the user chose Skyfolder sync.
  static void setUsingSkyfolder(bool on);

  void load() override;
  void send(const std::string& xml) override;
  // Renames the unreadable payload to a dated name beside it in the app folder.
  void setAsideUnreadable(std::function<void(bool kept, std::string where)> completion) override;

  std::uint64_t implementedOperations() const override;
  void restClientLoadedFile(SFRestClient& client, const std::string& destPath, const std::string& contentType,
                            std::shared_ptr<const SFMetadata> metadata) override;
  void restClientLoadFileFailedWithError(SFRestClient& client, const fnd::Error& error) override;
  void restClientUploadedFile(SFRestClient& client, const std::string& destPath, const std::string& srcPath,
                              std::shared_ptr<const SFMetadata> metadata) override;
  void restClientUploadFileFailedWithError(SFRestClient& client, const fnd::Error& error) override;
  void restClientMovedPath(SFRestClient& client, const std::string& fromPath,
                           std::shared_ptr<const SFMetadata> to) override;
  void restClientMovePathFailedWithError(SFRestClient& client, const fnd::Error& error) override;

 private:
  SFRestClient* restClient();
  void later(std::function<void(Synchronizer&)> call);
  void removeWorkFolder();

  std::unique_ptr<SFRestClient> restClient_;
  LinkButtonView linkButton_;
  std::string workFolder_;
  // The revision the download brought (none: no payload yet); the upload's parent.
  std::optional<std::string> downloadedRev_;
  std::function<void(bool, std::string)> setAsideCompletion_;
  std::string setAsidePath_;
  bool observing_ = false;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
