#include "Skyfolder/SFSession.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Skyfolder/OAuthCredentialConcreteStore.h"
#include "Skyfolder/SFKeychain.h"

#include <algorithm>

namespace kesto {

namespace {

std::shared_ptr<SFSession>& sharedSessionStorage() {
  static std::shared_ptr<SFSession> session;
  return session;
}

std::string stringIn(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  return it == d.end() ? std::string() : it->second.stringIfString().value_or("");
}

const fnd::Array& arrayIn(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  static const fnd::Array empty;
  return it == d.end() ? empty : it->second.array();
}

}  // namespace

SFSession::SFSession(std::string appKey, std::string appSecret, std::string root) : root_(std::move(root)) {
  KESTO_ASSERT_MAIN_THREAD();
  baseCredentials_ = {{kOAuthCredentialConsumerKey, fnd::Value(appKey)},
                      {kOAuthCredentialConsumerSecret, fnd::Value(std::move(appSecret))},
                      {kOAuthSignatureMethod, fnd::Value("PLAINTEXT")}};
  auto& defaults = fnd::UserDefaults::standard();

  if (auto legacy = defaults.dictionaryForKey(kSFSkyfolderSavedCredentialsKey)) {
    if (stringIn(*legacy, kOAuthCredentialConsumerKey) == appKey)
      updateAccessToken(stringIn(*legacy, kOAuthCredentialAccessToken),
                        stringIn(*legacy, kOAuthCredentialAccessTokenSecret), kSFUnknownUserId);
    defaults.removeObject(kSFSkyfolderSavedCredentialsKey);
    defaults.synchronize();
  }
  if (auto legacy = defaults.dictionaryForKey(kSFSkyfolderSavedCredentials)) {
    if (stringIn(*legacy, kOAuthCredentialConsumerKey) == appKey) {
      for (const auto& user : arrayIn(*legacy, kSFSkyfolderUserCredentialsKey)) {
        if (!user.isDictionary()) continue;
        const auto& u = user.dictionary();
        setAccessToken(stringIn(u, kOAuthCredentialAccessToken), stringIn(u, kOAuthCredentialAccessTokenSecret),
                       stringIn(u, kSFSkyfolderUserIdKey));
      }
      saveCredentials();
    }
    defaults.removeObject(kSFSkyfolderSavedCredentials);
    defaults.synchronize();
  }
  loadCredentials();
}

SFSession::~SFSession() = default;

void SFSession::loadCredentials() {
  KESTO_ASSERT_MAIN_THREAD();
  const auto record = SFKeychain::credentials();
  if (!record) return;
  const std::string appKey = stringIn(baseCredentials_, kOAuthCredentialConsumerKey);
  if (stringIn(*record, kOAuthCredentialConsumerKey) != appKey) {
    // Credentials of another application key are not ours to merge.
    SFKeychain::deleteCredentials();
    return;
  }
  const auto versionIt = record->find(kSFCredentialVersionKey);
  const std::int64_t version = versionIt == record->end() ? 0 : versionIt->second.intValue();
  if (version == 1) {
    updateAccessToken(stringIn(*record, kOAuthCredentialAccessToken),
                      stringIn(*record, kOAuthCredentialAccessTokenSecret), kSFUnknownUserId);
    return;
  }
  for (const auto& user : arrayIn(*record, kSFSkyfolderUserCredentialsKey)) {
    if (!user.isDictionary()) continue;
    const auto& u = user.dictionary();
    const std::string token = stringIn(u, kOAuthCredentialAccessToken);
    const std::string secret = stringIn(u, kOAuthCredentialAccessTokenSecret);
    const std::string userId = stringIn(u, kSFSkyfolderUserIdKey);
    if (version < 3)
      updateAccessToken(token, secret, userId);
    else
      setAccessToken(token, secret, userId);
  }
}

std::shared_ptr<SFSession> SFSession::sharedSession() { return sharedSessionStorage(); }

void SFSession::setSharedSession(std::shared_ptr<SFSession> session) {
  if (sharedSessionStorage() != session) sharedSessionStorage() = std::move(session);
}

std::vector<std::string> SFSession::userIds() const {
  std::vector<std::string> ids;
  ids.reserve(credentialStores_.size());
  for (const auto& entry : credentialStores_) ids.push_back(entry.first);
  return ids;
}

std::shared_ptr<OAuthCredentialConcreteStore> SFSession::storeFor(const std::string& userId) const {
  for (const auto& entry : credentialStores_)
    if (entry.first == userId) return entry.second;
  return nullptr;
}

std::shared_ptr<OAuthCredentialConcreteStore> SFSession::credentialStoreForUserId(
    const std::optional<std::string>& userId) {
  if (userId) return storeFor(*userId);
  if (!anonymousStore_) anonymousStore_ = std::make_shared<OAuthCredentialConcreteStore>(baseCredentials_);
  return anonymousStore_;
}

void SFSession::setAccessToken(const std::string& token, const std::string& secret, const std::string& userIdIn) {
  KESTO_ASSERT_MAIN_THREAD();
  // A reply without a user id keeps its tokens under the legacy single user.
  const std::string userId = userIdIn.empty() ? std::string(kSFUnknownUserId) : userIdIn;
  auto store = storeFor(userId);
  if (!store) {
    store = std::make_shared<OAuthCredentialConcreteStore>(baseCredentials_);
    credentialStores_.emplace_back(userId, store);
    if (userId != kSFUnknownUserId) {
      credentialStores_.erase(std::remove_if(credentialStores_.begin(), credentialStores_.end(),
                                             [](const auto& e) { return e.first == kSFUnknownUserId; }),
                              credentialStores_.end());
    }
  }
  store->setAccessToken(token);
  store->setAccessTokenSecret(secret);
}

void SFSession::updateAccessToken(const std::string& token, const std::string& secret, const std::string& userId) {
  KESTO_ASSERT_MAIN_THREAD();
  setAccessToken(token, secret, userId);
  saveCredentials();
}

void SFSession::saveCredentials() {
  KESTO_ASSERT_MAIN_THREAD();
  fnd::Array users;
  for (const auto& [userId, store] : credentialStores_) {
    users.emplace_back(fnd::Dictionary{{kSFSkyfolderUserIdKey, fnd::Value(userId)},
                                       {kOAuthCredentialAccessToken, fnd::Value(store->accessToken().value_or(""))},
                                       {kOAuthCredentialAccessTokenSecret,
                                        fnd::Value(store->accessTokenSecret().value_or(""))}});
  }
  SFKeychain::setCredentials({{kOAuthCredentialConsumerKey, baseCredentials_.at(kOAuthCredentialConsumerKey)},
                              {kSFCredentialVersionKey, fnd::Value(3)},
                              {kSFSkyfolderUserCredentialsKey, fnd::Value(std::move(users))}});
}

void SFSession::unlinkUserId(const std::string& userId) {
  KESTO_ASSERT_MAIN_THREAD();
  credentialStores_.erase(std::remove_if(credentialStores_.begin(), credentialStores_.end(),
                                         [&](const auto& e) { return e.first == userId; }),
                          credentialStores_.end());
  saveCredentials();
}

void SFSession::unlinkAll() {
  KESTO_ASSERT_MAIN_THREAD();
  credentialStores_.clear();
  SFKeychain::deleteCredentials();
}

}  // namespace kesto
