#pragma once

#include "Platform/Foundation/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kesto {

class OAuthCredentialConcreteStore;
class SFSession;

// Keys of the credentials record and the legacy user-defaults entries.
inline constexpr const char* kSFCredentialVersionKey = "SFCredentialVersion";
inline constexpr const char* kSFSkyfolderUserCredentialsKey = "kSFSkyfolderUserCredentials";
inline constexpr const char* kSFSkyfolderUserIdKey = "kSFSkyfolderUserId";
inline constexpr const char* kSFSkyfolderSavedCredentialsKey = "kSFSkyfolderSavedCredentialsKey";
inline constexpr const char* kSFSkyfolderSavedCredentials = "kSFSkyfolderSavedCredentials";
// The user of credentials that were stored without a user id.
inline constexpr const char* kSFUnknownUserId = "unknown";

class SFSessionDelegate {
 public:
  virtual ~SFSessionDelegate() = default;
  virtual void sessionDidReceiveAuthorizationFailure(SFSession& session, const std::optional<std::string>& userId) = 0;
};

// The root of the client: app key and secret, the root ("sandbox" or "skyfolder") and one
// credential store per linked user, persisted through SFKeychain. Main thread only.
class SFSession {
 public:
  // Builds the session, takes over legacy user-defaults credentials and loads the keychain
  // record (versions 0 to 3; older ones are rewritten as version 3).
  SFSession(std::string appKey, std::string appSecret, std::string root);
  ~SFSession();
  SFSession(const SFSession&) = delete;
  SFSession& operator=(const SFSession&) = delete;

  static std::shared_ptr<SFSession> sharedSession();
  static void setSharedSession(std::shared_ptr<SFSession> session);

  bool isLinked() const { return !credentialStores_.empty(); }
  // In the order the users were added.
  std::vector<std::string> userIds() const;
  // A user's store (null when there is none); without a user id the anonymous store, made on
  // first use.
  std::shared_ptr<OAuthCredentialConcreteStore> credentialStoreForUserId(const std::optional<std::string>& userId);

  void setAccessToken(const std::string& token, const std::string& secret, const std::string& userId);
  // setAccessToken, then saveCredentials.
  void updateAccessToken(const std::string& token, const std::string& secret, const std::string& userId);
  void saveCredentials();
  void unlinkUserId(const std::string& userId);
  void unlinkAll();

  const std::string& root() const { return root_; }
  const fnd::Dictionary& baseCredentials() const { return baseCredentials_; }
  SFSessionDelegate* delegate() const { return delegate_; }
  void setDelegate(SFSessionDelegate* delegate) { delegate_ = delegate; }

 private:
  void loadCredentials();
  std::shared_ptr<OAuthCredentialConcreteStore> storeFor(const std::string& userId) const;

  fnd::Dictionary baseCredentials_;
  std::vector<std::pair<std::string, std::shared_ptr<OAuthCredentialConcreteStore>>> credentialStores_;
  std::shared_ptr<OAuthCredentialConcreteStore> anonymousStore_;
  std::string root_;
  SFSessionDelegate* delegate_ = nullptr;
};

}  // namespace kesto
