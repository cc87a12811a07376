#include "Platform/Foundation/Keychain.h"

#include "Harness/TestSupport.h"

#include "FileModes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace kesto::fnd;

namespace {

Data bytes(std::string_view s) { return Data(s.begin(), s.end()); }

std::string freshPath() { return kesto::test::makeTempDir("keychain") + "/keychain.plist"; }

}  // namespace

TEST(Keychain, GenericItemsAddFindModifyDelete) {
  Keychain k(freshPath());
  Data secret;
  KeychainItemRef item;
  EXPECT_EQ(k.findGenericPassword("kesto", "Skyfolder", &secret, &item), errSecItemNotFound);
  EXPECT_FALSE(item);

  KeychainItemRef added;
  ASSERT_EQ(k.addGenericPassword("kesto", "Skyfolder", bytes("v1"), &added), errSecSuccess);
  ASSERT_TRUE(added);
  EXPECT_EQ(k.addGenericPassword("kesto", "Skyfolder", bytes("other")), errSecDuplicateItem);
  // Service and account together identify an item.
  EXPECT_EQ(k.addGenericPassword("kesto", "Other", bytes("x")), errSecSuccess);
  EXPECT_EQ(k.addGenericPassword("other", "Skyfolder", bytes("y")), errSecSuccess);

  ASSERT_EQ(k.findGenericPassword("kesto", "Skyfolder", &secret, &item), errSecSuccess);
  EXPECT_EQ(secret, bytes("v1"));
  EXPECT_EQ(item->id, added->id);
  EXPECT_EQ(item->service, "kesto");

  // Replacing the data keeps one item with the same identity.
  ASSERT_EQ(k.modifyItemData(item, bytes("v2")), errSecSuccess);
  KeychainItemRef again;
  ASSERT_EQ(k.findGenericPassword("kesto", "Skyfolder", &secret, &again), errSecSuccess);
  EXPECT_EQ(secret, bytes("v2"));
  EXPECT_EQ(again->id, added->id);

  ASSERT_EQ(k.deleteItem(again), errSecSuccess);
  EXPECT_EQ(k.findGenericPassword("kesto", "Skyfolder"), errSecItemNotFound);
  EXPECT_EQ(k.deleteItem(again), errSecItemNotFound);
  EXPECT_EQ(k.modifyItemData(again, bytes("v3")), errSecItemNotFound);
  EXPECT_EQ(k.modifyItemData(nullptr, bytes("v3")), errSecInvalidItemRef);
  EXPECT_EQ(k.deleteItem(nullptr), errSecInvalidItemRef);
  EXPECT_EQ(k.findGenericPassword("kesto", "Other"), errSecSuccess);
}

TEST(Keychain, InternetItemsMatchAnyProtocolAndAuthenticationWhenAsked) {
  Keychain k(freshPath());
  ASSERT_EQ(k.addInternetPassword("api.example", "www.example", "org.kesto.kOAuthCredentialAccessToken", "", 0,
                                  kProtocolOAuth, kAuthenticationTypeDefault, bytes("token")),
            errSecSuccess);
  EXPECT_EQ(k.addInternetPassword("api.example", "www.example", "org.kesto.kOAuthCredentialAccessToken", "", 0,
                                  kProtocolOAuth, kAuthenticationTypeDefault, bytes("again")),
            errSecDuplicateItem);

  Data secret;
  KeychainItemRef item;
  ASSERT_EQ(k.findInternetPassword("api.example", "www.example", "org.kesto.kOAuthCredentialAccessToken", "", 0,
                                   kProtocolAny, kAuthenticationTypeAny, &secret, &item),
            errSecSuccess);
  EXPECT_EQ(secret, bytes("token"));
  EXPECT_EQ(item->kind, KeychainItem::Kind::InternetPassword);
  EXPECT_EQ(item->protocol, kProtocolOAuth);
  EXPECT_EQ(item->authenticationType, kAuthenticationTypeDefault);
  EXPECT_EQ(k.findInternetPassword("api.example", "www.example", "org.kesto.kOAuthCredentialAccessToken", "", 0,
                                   kProtocolHTTPS, kAuthenticationTypeAny),
            errSecItemNotFound);
  // The other attributes always match exactly: another security domain, port or path finds nothing.
  struct Other {
    const char* securityDomain;
    const char* path;
    std::uint16_t port;
  };
  for (const auto& [domain, path, port] :
       {Other{"other", "", 0}, Other{"www.example", "", 443}, Other{"www.example", "/x", 0}})
    EXPECT_EQ(k.findInternetPassword("api.example", domain, "org.kesto.kOAuthCredentialAccessToken", path, port,
                                     kProtocolAny, kAuthenticationTypeAny),
              errSecItemNotFound)
        << domain << " " << path << " " << port;
  // Generic and internet items never answer for each other.
  EXPECT_EQ(k.findGenericPassword("api.example", "org.kesto.kOAuthCredentialAccessToken"), errSecItemNotFound);
  ASSERT_EQ(k.deleteItem(item), errSecSuccess);
  EXPECT_EQ(k.findInternetPassword("api.example", "www.example", "org.kesto.kOAuthCredentialAccessToken", "", 0,
                                   kProtocolAny, kAuthenticationTypeAny),
            errSecItemNotFound);
}

TEST(Keychain, DefaultFileIsPrivateAndSharedBetweenInstances) {
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_TRUE(data);
  const std::string path = Keychain::defaultFilePath();
  EXPECT_EQ(path, std::string(data) + "/kesto/keychain.plist");
  ASSERT_EQ(Keychain::defaultKeychain().addGenericPassword("kesto", "Skyfolder", bytes("secret-value")),
            errSecSuccess);
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(modeOf(std::string(data) + "/kesto"), 0700u);
  // A second instance on the same file sees the item at once.
  Keychain other(path);
  Data secret;
  ASSERT_EQ(other.findGenericPassword("kesto", "Skyfolder", &secret), errSecSuccess);
  EXPECT_EQ(secret, bytes("secret-value"));
  EXPECT_EQ(Keychain::statusMessage(errSecItemNotFound).find("secret"), std::string::npos);
}

TEST(Keychain, DamagedFileIsReportedAndNeverReplaced) {
  const std::string path = freshPath();
  kesto::test::writeFile(path, "not a property list");
  Keychain k(path);
  EXPECT_EQ(k.findGenericPassword("kesto", "Skyfolder"), errSecDecode);
  EXPECT_EQ(k.addGenericPassword("kesto", "Skyfolder", bytes("v")), errSecDecode);
  EXPECT_EQ(kesto::test::readFile(path), "not a property list");

  Keychain nowhere("");
  EXPECT_EQ(nowhere.findGenericPassword("kesto", "Skyfolder"), errSecNotAvailable);
}

TEST(Keychain, AddThatCannotSaveReportsItAndHandsOutNoItem) {
  // The keychain's folder cannot be made: a file stands where it should be.
  const std::string blocker = kesto::test::makeTempDir("keychain") + "/file";
  kesto::test::writeFile(blocker, "x");
  Keychain k(blocker + "/keychain.plist");
  KeychainItemRef item;
  EXPECT_EQ(k.addGenericPassword("kesto", "Skyfolder", bytes("v"), &item), errSecIO);
  EXPECT_FALSE(item);
  EXPECT_EQ(k.addInternetPassword("api.example", "", "me", "", 443, kProtocolHTTPS, kAuthenticationTypeDefault,
                                  bytes("v"), &item),
            errSecIO);
  EXPECT_FALSE(item);
  EXPECT_EQ(k.findGenericPassword("kesto", "Skyfolder"), errSecItemNotFound);

  // Both kinds draw ids from one counter, kept across reads of the file.
  Keychain ok(freshPath());
  KeychainItemRef generic, internet, again;
  ASSERT_EQ(ok.addGenericPassword("kesto", "Skyfolder", bytes("g"), &generic), errSecSuccess);
  ASSERT_EQ(ok.addInternetPassword("api.example", "", "me", "", 443, kProtocolHTTPS, kAuthenticationTypeDefault,
                                   bytes("i"), &internet),
            errSecSuccess);
  ASSERT_TRUE(generic && internet);
  EXPECT_NE(generic->id, internet->id);
  EXPECT_EQ(internet->label, "api.example");
  EXPECT_EQ(generic->label, "kesto");
  ASSERT_EQ(ok.deleteItem(internet), errSecSuccess);
  ASSERT_EQ(ok.addGenericPassword("kesto", "Other", bytes("o"), &again), errSecSuccess);
  EXPECT_GT(again->id, internet->id);  // a deleted item's id is not handed out again
  ASSERT_EQ(ok.findInternetPassword("api.example", "", "me", "", 443, kProtocolAny, kAuthenticationTypeAny),
            errSecItemNotFound);
}

TEST(Keychain, SecretsMayHoldAnyBytes) {
  Keychain k(freshPath());
  Data binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<std::uint8_t>(i));
  ASSERT_EQ(k.addGenericPassword("s", "a", binary), errSecSuccess);
  ASSERT_EQ(k.addGenericPassword("s", "empty", Data{}), errSecSuccess);
  Data out;
  ASSERT_EQ(k.findGenericPassword("s", "a", &out), errSecSuccess);
  EXPECT_EQ(out, binary);
  ASSERT_EQ(k.findGenericPassword("s", "empty", &out), errSecSuccess);
  EXPECT_TRUE(out.empty());
}

TEST(Keychain, ConcurrentChangesThroughTwoInstancesAreAllKept) {
  const std::string path = freshPath();
  Keychain a(path), b(path);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      Keychain& k = t % 2 ? a : b;
      for (int i = 0; i < 10; ++i)
        EXPECT_EQ(k.addGenericPassword("svc", std::to_string(t) + "-" + std::to_string(i), bytes("x")), errSecSuccess);
    });
  for (auto& t : threads) t.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(a.findGenericPassword("svc", std::to_string(t) + "-" + std::to_string(i)), errSecSuccess);
}
