#include "SyncEngineFixture.h"

#include "FakeSkyfolder.h"
#include "Synchronize/SkyFolderDataSource.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/SyncTombstones.h"
#include "Synchronize/Synchronizer.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Net/ServerTrust.h"
#include "Skyfolder/SFAuthHelperOSX.h"
#include "Skyfolder/SFSession.h"

namespace kesto::test {
namespace {

// The Skyfolder transport against the loopback service, through the real engine.
class SkyfolderTransportTest : public SyncEngineTest, public LoopbackSkyfolder {
 protected:
  void SetUp() override {
    SyncEngineTest::SetUp();
    startPinnedSkyfolder(makeTempDir("pki"));
    SkyFolderDataSource::setAppCredentials(FakeSkyfolder::kConsumerKey, FakeSkyfolder::kConsumerSecret);
    startEngine(SkyFolderDataSource::kMethod);
    fnd::UserDefaults::standard().setBool(true, SkyFolderDataSource::kUsingSkyfolderKey);
  }
  void TearDown() override {
    stopEngine();
    SFSession::setSharedSession(nullptr);
    SkyFolderDataSource::setAppCredentials(SkyFolderDataSource::kAppKey, SkyFolderDataSource::kAppSecret);
    unpinClient();
    net::ServerTrust::setAdditionalSystemAnchorsForTesting({});
    SyncEngineTest::TearDown();
  }
  // Linked as the link flow leaves it: the tokens in the keychain.
  void link() {
    linkedSession();
  }
  std::vector<FakeSkyfolder::Logged> uploads() {
    std::vector<FakeSkyfolder::Logged> out;
    for (const auto& l : fake->log())
      if (l.path.find("/files_put/") != std::string::npos) out.push_back(l);
    return out;
  }
  static std::string param(const FakeSkyfolder::Logged& l, const std::string& name) {
    auto it = l.params.find(name);
    return it == l.params.end() ? std::string("<absent>") : it->second;
  }
  std::optional<SyncDocument> remoteDocument() {
    auto content = fake->fileContent("/sync_data.zip");
    if (!content) return std::nullopt;
    auto path = makeTempDir("zip") + "/in.zip";
    writeFile(path, *content);
    std::string xml;
    if (SyncPayload::unpack(path, &xml) != SyncPayload::UnpackStatus::Ok) return std::nullopt;
    return SyncFile::read(xml, true);
  }
};

TEST_F(SkyfolderTransportTest, FirstSyncOnAnEmptyAppFolderCreatesThePayload) {
  link();
  bookmark("B1", "http://a.example/", "A", folder("F1", "One"));
  save();
  ASSERT_TRUE(runSync()) << lastMessage();
  auto doc = remoteDocument();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, "kesto-LOCAL");
  EXPECT_EQ(doc->bookmarks.size(), 1u);
  auto up = uploads();
  ASSERT_EQ(up.size(), 1u);
  EXPECT_EQ(param(up[0], "overwrite"), "false");
  EXPECT_TRUE(param(up[0], "parent_rev") == "" || param(up[0], "parent_rev") == "<absent>");
  EXPECT_EQ(fake->signatureFailures(), 0);
}

TEST_F(SkyfolderTransportTest, ASecondMachineMergesAndReplacesTheRevisionItRead) {
  link();
  auto zip = makeTempDir("zip") + "/other.zip";
  ASSERT_TRUE(SyncPayload::pack(
      "<?xml version=\"1.0\"?><kesto-sync-file><kesto-id>kesto-OTHER</kesto-id><bookmarks><bookmark><folders>"
      "<folder-id>_inbox</folder-id></folders><id><![CDATA[R1]]></id><version>2</version><title><![CDATA[Remote]]>"
      "</title><url><![CDATA[http://remote.example/]]></url><trashed>0</trashed></bookmark></bookmarks><folders>"
      "</folders></kesto-sync-file>",
      zip));
  const auto rev = fake->putFile("/sync_data.zip", *fnd::FileManager::readFile(zip));
  ASSERT_TRUE(runSync()) << lastMessage();
  ASSERT_TRUE(find("R1"));
  auto up = uploads();
  ASSERT_EQ(up.size(), 1u);
  EXPECT_EQ(param(up[0], "parent_rev"), rev);
  EXPECT_FALSE(fake->fileContent("/sync_data (conflicted copy).zip"));
  auto doc = remoteDocument();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, "kesto-LOCAL");
}

TEST_F(SkyfolderTransportTest, AFailedDownloadIsNotAnEmptyRemote) {
  link();
  const std::string stored = "stored by another machine";
  fake->putFile("/sync_data.zip", stored);
  SyncTombstones::add({SyncTombstone{"GONE", 3, "b"}});
  fake->injectFault("/1/files/", FakeSkyfolder::Fault{503, "{\"error\":\"busy\"}", {}});
  EXPECT_FALSE(runSync());
  EXPECT_TRUE(uploads().empty());
  EXPECT_EQ(fake->fileContent("/sync_data.zip"), stored);
  EXPECT_EQ(SyncTombstones::tombstones().size(), 1u);
  EXPECT_TRUE(alerts->sawTitle("Connection error"));
  EXPECT_FALSE(engine->isBusy());
}

TEST_F(SkyfolderTransportTest, AnUnreadablePayloadThatCannotBeSetAsideIsLeftAlone) {
  link();
  fake->putFile("/sync_data.zip", "garbage");
  fake->injectFault("/1/fileops/move", FakeSkyfolder::Fault{403, "{\"error\":\"no\"}", {}});
  EXPECT_FALSE(runSync());
  EXPECT_TRUE(uploads().empty());
  EXPECT_EQ(fake->fileContent("/sync_data.zip"), "garbage");
}

TEST_F(SkyfolderTransportTest, WithoutALinkedAccountTheWizardOpens) {
  EXPECT_FALSE(runSync());
  EXPECT_EQ(host->wizards, 1);
  EXPECT_TRUE(fake->log().empty());
  EXPECT_FALSE(engine->isRunning());
}

TEST_F(SkyfolderTransportTest, TheLinkButtonLinksThroughTheBrowserAndUnlinks) {
  std::optional<net::URL> opened;
  approveInTheBrowser(opened);
  fnd::UserDefaults::standard().setBool(false, SkyFolderDataSource::kUsingSkyfolderKey);
  SkyFolderDataSource linker;
  linker.initSkyFolder();
  EXPECT_FALSE(SkyFolderDataSource::isLinked());
  linker.didPressLinkSkyfolder();
  // Starting the flow chooses nothing: the assistant's stage does, once it is completed.
  EXPECT_FALSE(fnd::UserDefaults::standard().boolForKey(SkyFolderDataSource::kUsingSkyfolderKey));
  ASSERT_TRUE(runUntil([&] { return opened.has_value(); }, 10));
  EXPECT_NE(opened->absoluteString().find("/1/oauth/authorize?oauth_token=rt1"), std::string::npos);
  fnd::NotificationCenter::defaultCenter().postNotificationName(kSFApplicationDidBecomeActiveNotification);
  ASSERT_TRUE(runUntil([] { return SkyFolderDataSource::isLinked(); }, 10));
  SkyFolderDataSource::setUsingSkyfolder(true);
  // A run now syncs.
  ASSERT_TRUE(runSync()) << lastMessage();
  EXPECT_TRUE(fake->fileContent("/sync_data.zip"));
  linker.didPressLinkSkyfolder();
  EXPECT_FALSE(SkyFolderDataSource::isLinked());
  EXPECT_FALSE(fnd::UserDefaults::standard().boolForKey(SkyFolderDataSource::kUsingSkyfolderKey));
}

}  // namespace
}  // namespace kesto::test
