#include "Skyfolder/OAuthCredentialConcreteStore.h"
#include "Skyfolder/SFKeychain.h"
#include "Skyfolder/SFLog.h"
#include "Skyfolder/SFSession.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Keychain.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/UserDefaults.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kesto;

namespace {

fnd::Value user(const std::string& id, const std::string& token, const std::string& secret) {
  return fnd::Value(fnd::Dictionary{{kSFSkyfolderUserIdKey, fnd::Value(id)},
                                    {kOAuthCredentialAccessToken, fnd::Value(token)},
                                    {kOAuthCredentialAccessTokenSecret, fnd::Value(secret)}});
}

fnd::Dictionary record(std::optional<int> version, fnd::Array users, const std::string& key = "appkey") {
  fnd::Dictionary r{{kOAuthCredentialConsumerKey, fnd::Value(key)},
                    {kSFSkyfolderUserCredentialsKey, fnd::Value(std::move(users))}};
  if (version) r.emplace(kSFCredentialVersionKey, fnd::Value(*version));
  return r;
}

// Counts writes of the credentials item by watching its data change.
int storedVersion() {
  auto r = SFKeychain::credentials();
  return r ? static_cast<int>((*r)[kSFCredentialVersionKey].intValue()) : -1;
}

std::vector<std::string> storedUsers() {
  std::vector<std::string> ids;
  if (auto r = SFKeychain::credentials())
    for (const auto& u : fnd::Value(*r)[kSFSkyfolderUserCredentialsKey].array())
      ids.push_back(u[kSFSkyfolderUserIdKey].string());
  return ids;
}

SFSession makeSession() { return SFSession("appkey", "appsecret", "sandbox"); }

}  // namespace

TEST(SFKeychain, StoresOneItemAndFollowsTheFlag) {
  EXPECT_FALSE(SFKeychain::credentials());
  SFKeychain::setCredentials(record(3, {user("1", "t", "s")}));
  EXPECT_TRUE(fnd::UserDefaults::standard().boolForKey(kSFSkyfolderLinkedKey));
  SFKeychain::setCredentials(record(3, {user("2", "t", "s")}));
  EXPECT_EQ(storedUsers(), std::vector<std::string>{"2"});
  // The keychain file is private.
  struct stat st {};
  ASSERT_EQ(stat(fnd::Keychain::defaultFilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Without the flag the record is not read...
  fnd::UserDefaults::standard().removeObject(kSFSkyfolderLinkedKey);
  EXPECT_FALSE(SFKeychain::credentials());
  // ...but deleting still removes the item, so old tokens cannot come back later.
  SFKeychain::deleteCredentials();
  fnd::UserDefaults::standard().setBool(true, kSFSkyfolderLinkedKey);
  EXPECT_FALSE(SFKeychain::credentials());
  EXPECT_EQ(fnd::Keychain::defaultKeychain().findGenericPassword("Kesto", "Skyfolder"), fnd::errSecItemNotFound);
  SFKeychain::deleteCredentials();
  EXPECT_FALSE(fnd::UserDefaults::standard().hasValueForKey(kSFSkyfolderLinkedKey));
}

TEST(SFKeychain, AFailedWriteLeavesTheFlagOff) {
  // A folder where the keychain file belongs makes every write fail.
  fnd::FileManager::createDirectory(fnd::Keychain::defaultFilePath() + "/blocked", true);
  SFKeychain::setCredentials(record(3, {user("1", "t", "s")}));
  EXPECT_FALSE(fnd::UserDefaults::standard().hasValueForKey(kSFSkyfolderLinkedKey));
  auto session = makeSession();
  session.updateAccessToken("t", "s", "1");
  EXPECT_TRUE(session.isLinked());
  EXPECT_FALSE(makeSession().isLinked());
}

TEST(SFKeychain, UnreadableItemCountsAsNothingStored) {
  fnd::Keychain::defaultKeychain().addGenericPassword("Kesto", "Skyfolder", fnd::Data{1, 2, 3});
  fnd::UserDefaults::standard().setBool(true, kSFSkyfolderLinkedKey);
  EXPECT_FALSE(SFKeychain::credentials());
  auto session = makeSession();
  EXPECT_FALSE(session.isLinked());
}

TEST(SFSession, StartsUnlinkedAndLinksAndUnlinks) {
  auto session = makeSession();
  EXPECT_FALSE(session.isLinked());
  EXPECT_TRUE(session.userIds().empty());
  auto anon = session.credentialStoreForUserId(std::nullopt);
  EXPECT_EQ(anon, session.credentialStoreForUserId(std::nullopt));
  EXPECT_EQ(anon->signatureMethod(), "PLAINTEXT");
  EXPECT_FALSE(session.credentialStoreForUserId(std::string("42")));

  session.updateAccessToken("tok", "sec", "42");
  EXPECT_TRUE(session.isLinked());
  EXPECT_EQ(session.credentialStoreForUserId(std::string("42"))->accessTokenSecret(), "sec");
  EXPECT_EQ(storedUsers(), std::vector<std::string>{"42"});

  // A new session finds the user again without rewriting the record.
  auto again = makeSession();
  EXPECT_EQ(again.userIds(), std::vector<std::string>{"42"});
  EXPECT_EQ(again.credentialStoreForUserId(std::string("42"))->accessToken(), "tok");

  again.unlinkUserId("42");
  EXPECT_FALSE(again.isLinked());
  EXPECT_EQ(storedVersion(), 3);
  EXPECT_TRUE(storedUsers().empty());
  EXPECT_FALSE(makeSession().isLinked());

  again.updateAccessToken("t", "s", "7");
  again.unlinkAll();
  EXPECT_FALSE(again.isLinked());
  EXPECT_FALSE(fnd::UserDefaults::standard().hasValueForKey(kSFSkyfolderLinkedKey));
  EXPECT_TRUE(again.credentialStoreForUserId(std::nullopt));
}

TEST(SFSession, MigratesOlderRecords) {
  // Version 1: one user at the top level.
  fnd::Dictionary v1{{kOAuthCredentialConsumerKey, fnd::Value("appkey")},
                     {kSFCredentialVersionKey, fnd::Value(1)},
                     {kOAuthCredentialAccessToken, fnd::Value("t1")},
                     {kOAuthCredentialAccessTokenSecret, fnd::Value("s1")}};
  SFKeychain::setCredentials(v1);
  auto s1 = makeSession();
  EXPECT_EQ(s1.userIds(), std::vector<std::string>{"unknown"});
  EXPECT_EQ(storedVersion(), 3);
  EXPECT_EQ(storedUsers(), std::vector<std::string>{"unknown"});

  // Version 2 (and a record without a version, read the same way) with two users.
  for (std::optional<int> version : {std::optional<int>(2), std::optional<int>()}) {
    SFKeychain::setCredentials(record(version, {user("a", "ta", "sa"), user("b", "tb", "sb")}));
    auto s = makeSession();
    EXPECT_EQ(s.userIds(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(storedVersion(), 3);
    EXPECT_EQ(storedUsers(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(s.credentialStoreForUserId(std::string("b"))->accessToken(), "tb");
  }

  // A record of another application is dropped, not merged.
  SFKeychain::setCredentials(record(3, {user("x", "t", "s")}, "otherkey"));
  auto other = makeSession();
  EXPECT_FALSE(other.isLinked());
  EXPECT_FALSE(SFKeychain::credentials());
}

TEST(SFSession, TakesOverLegacyUserDefaults) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setObject(fnd::Value(fnd::Dictionary{{kOAuthCredentialConsumerKey, fnd::Value("appkey")},
                                                {kOAuthCredentialAccessToken, fnd::Value("lt")},
                                                {kOAuthCredentialAccessTokenSecret, fnd::Value("ls")}}),
                     kSFSkyfolderSavedCredentialsKey);
  auto s = makeSession();
  EXPECT_EQ(s.userIds(), std::vector<std::string>{"unknown"});
  EXPECT_FALSE(defaults.hasValueForKey(kSFSkyfolderSavedCredentialsKey));
  EXPECT_EQ(storedUsers(), std::vector<std::string>{"unknown"});

  // A real user replaces the legacy single user.
  s.updateAccessToken("rt", "rs", "99");
  EXPECT_EQ(s.userIds(), std::vector<std::string>{"99"});
  EXPECT_EQ(storedUsers(), std::vector<std::string>{"99"});
  s.unlinkAll();

  defaults.setObject(fnd::Value(fnd::Dictionary{{kOAuthCredentialConsumerKey, fnd::Value("appkey")},
                                                {kSFSkyfolderUserCredentialsKey,
                                                 fnd::Value(fnd::Array{user("5", "t5", "s5"), user("6", "t6", "s6")})}}),
                     kSFSkyfolderSavedCredentials);
  auto multi = makeSession();
  EXPECT_EQ(multi.userIds(), (std::vector<std::string>{"5", "6"}));
  EXPECT_FALSE(defaults.hasValueForKey(kSFSkyfolderSavedCredentials));
  multi.unlinkAll();

  // Entries of another application key are removed unused.
  defaults.setObject(fnd::Value(fnd::Dictionary{{kOAuthCredentialConsumerKey, fnd::Value("otherkey")},
                                                {kOAuthCredentialAccessToken, fnd::Value("x")}}),
                     kSFSkyfolderSavedCredentialsKey);
  auto none = makeSession();
  EXPECT_FALSE(none.isLinked());
  EXPECT_FALSE(defaults.hasValueForKey(kSFSkyfolderSavedCredentialsKey));
}

TEST(SFSession, SharedSessionAndMissingUserId) {
  EXPECT_FALSE(SFSession::sharedSession());
  auto s = std::make_shared<SFSession>("appkey", "appsecret", "sandbox");
  SFSession::setSharedSession(s);
  EXPECT_EQ(SFSession::sharedSession(), s);
  // A token reply without a user id keeps the tokens under the single unnamed user.
  s->updateAccessToken("t", "s", "");
  EXPECT_EQ(s->userIds(), std::vector<std::string>{"unknown"});
  SFSession::setSharedSession(nullptr);
}

TEST(SFLog, PrefixesLevelsAndDropsBelowTheMinimum) {
  std::vector<std::pair<int, std::string>> seen;
  SFLogSetHandler([&](int level, std::string_view format, const std::vector<fnd::Value>& args) {
    seen.emplace_back(level, fnd::formatValues(format, args));
  });
  fnd::LogCapture capture;
  SFLogWarning("x %@ %d", "y", 3);
  SFLogInfo("hidden");
  SFLogError("boom");
  SFLogSetHandler({});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].second, "[WARNING] x y 3");
  EXPECT_EQ(seen[1].second, "[ERROR] boom");
  EXPECT_TRUE(capture.contains("[WARNING] x y 3"));
  EXPECT_FALSE(capture.contains("hidden"));
  EXPECT_EQ(SFLogLevelString(1), "ANALYTICS");
  EXPECT_EQ(SFLogLevelString(9), "");
  EXPECT_TRUE(SFLogRunLogPath().ends_with("/tmp/run.log"));
}
