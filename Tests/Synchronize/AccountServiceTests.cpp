#include "SyncEngineFixture.h"

#include "Harness/FakeAccountService.h"
#include "HostileService.h"
#include "Platform/Net/GzipStreams.h"
#include "LoopbackTLS.h"
#include "Model/FileManagerAdditions.h"
#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/ServiceRequest.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/SyncSettings.h"
#include "SyncConvergence.h"
#include "Model/WrenDataManager.h"
#include "Platform/Store/Coordinator.h"
#include "Synchronize/SyncTombstones.h"
#include "Synchronize/Synchronizer.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <cstring>
#include <fstream>

namespace kesto::test {
namespace {

// The account transport against the loopback service over TLS, through the real engine.
class AccountServiceTest : public SyncEngineTest {
 protected:
  void SetUp() override {
    SyncEngineTest::SetUp();
    tls.trust();
    startEngine(KestoappDataSource::kMethod);
    auto& d = fnd::UserDefaults::standard();
    d.setString(service.baseURL(), KestoappDataSource::kBaseURLKey);
    d.setString("me+1@example.org", "SyncEmail");
    syncsettings::setAccountPassword("secret");
    {
      std::lock_guard<std::mutex> lock(service.mutex());
      service.accounts["me+1@example.org"].password = "secret";
    }
  }
  void TearDown() override {
    ServiceRequest::setLimitsForTesting(std::nullopt);
    stopEngine();
    LoopbackTLS::distrust();
    SyncEngineTest::TearDown();
  }
  FakeAccountService::Upload lastUpload() {
    std::lock_guard<std::mutex> lock(service.mutex());
    return service.uploads.empty() ? FakeAccountService::Upload{} : service.uploads.back();
  }
  std::size_t uploadCount() {
    std::lock_guard<std::mutex> lock(service.mutex());
    return service.uploads.size();
  }
  void setFailure(FakeAccountService::Failure f) {
    std::lock_guard<std::mutex> lock(service.mutex());
    service.failure = f;
  }
  // The XML of an uploaded archive.
  static std::string unpacked(const std::string& archive) {
    auto path = makeTempDir("zip") + "/in.zip";
    writeFile(path, archive);
    std::string xml;
    EXPECT_EQ(SyncPayload::unpack(path, &xml), SyncPayload::UnpackStatus::Ok);
    return xml;
  }

  LoopbackTLS tls;
  FakeAccountService service{tls.identity.certPath, tls.identity.keyPath};
};

TEST_F(AccountServiceTest, FirstSyncOfANewAccountUploadsTheLibraryAsMultipart) {
  bookmark("B1", "http://a.example/", "A", folder("F1", "One"));
  save();
  ClientOperations operations;
  ASSERT_TRUE(runSync()) << lastMessage();
  // The load took the HTTP client's road; the upload goes below it.
  ASSERT_TRUE(runUntil([&] { return !operations.finished.empty(); }, 10));
  EXPECT_EQ(operations.started, std::vector<std::string>{"POST /sync.xml"});
  EXPECT_EQ(operations.finished, std::vector<std::string>{"POST /sync.xml"});
  ASSERT_EQ(uploadCount(), 1u);
  auto u = lastUpload();
  EXPECT_EQ(u.contentType, "multipart/form-data; boundary=K3st0bOuNdArY");
  EXPECT_EQ(u.email, "me+1@example.org");
  EXPECT_EQ(u.password, "secret");
  EXPECT_EQ(u.kestoID, "kesto-LOCAL");
  EXPECT_EQ(u.syncData, "");
  EXPECT_EQ(u.fileName, "sync_data.zip");
  EXPECT_EQ(u.fileType, "application/octet-stream");
  auto doc = SyncFile::read(unpacked(u.file), true);
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->bookmarks.size(), 1u);
}

TEST_F(AccountServiceTest, SecondMachineMergesTheStoredPayload) {
  // What another library uploaded before.
  std::string other =
      "<?xml version=\"1.0\"?><kesto-sync-file><kesto-id>kesto-OTHER</kesto-id><bookmarks><bookmark><folders>"
      "<folder-id>_inbox</folder-id></folders><id><![CDATA[R1]]></id><version>3</version><title><![CDATA[Remote]]>"
      "</title><url><![CDATA[http://remote.example/]]></url><trashed>0</trashed></bookmark></bookmarks>"
      "<folders></folders></kesto-sync-file>";
  auto zip = makeTempDir("zip") + "/other.zip";
  ASSERT_TRUE(SyncPayload::pack(other, zip));
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    service.accounts["me+1@example.org"].payload = *fnd::FileManager::readFile(zip);
  }
  ASSERT_TRUE(runSync()) << lastMessage();
  ASSERT_TRUE(find("R1"));
  EXPECT_EQ(find("R1")->title(), "Remote");
  auto doc = SyncFile::read(unpacked(lastUpload().file), true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, "kesto-LOCAL");
}

TEST_F(AccountServiceTest, RefusedLoginTellsTheUserAndOpensTheWizard) {
  syncsettings::setAccountPassword("wrong");
  EXPECT_FALSE(runSync());
  EXPECT_TRUE(alerts->sawTitle("Incorrect Login"));
  EXPECT_EQ(host->wizards, 1);
  EXPECT_EQ(uploadCount(), 0u);
  EXPECT_FALSE(engine->isRunning());
}

// A reply without the password element that is no refusal (cut short, or some other page) is an
// answer that could not be read: the right password is not asked for again.
TEST_F(AccountServiceTest, AReplyWithoutThePasswordThatIsNoRefusalIsUnreadableNotAWrongLogin) {
  for (auto failure : {FakeAccountService::Failure::Unreadable, FakeAccountService::Failure::Unexpected}) {
    setFailure(failure);
    alerts->shown.clear();
    EXPECT_FALSE(runSync()) << int(failure);
    EXPECT_FALSE(alerts->sawTitle("Incorrect Login")) << int(failure);
    ASSERT_TRUE(alerts->sawTitle("Connection error")) << int(failure);
    EXPECT_NE(alerts->shown.back().message.find("could not be read"), std::string::npos);
    EXPECT_EQ(host->wizards, 0);
    EXPECT_EQ(uploadCount(), 0u);
    EXPECT_EQ(syncsettings::accountPassword(), "secret");
  }
  EXPECT_TRUE(KestoappDataSource::isRefusal("<errors><error>refused</error></errors>"));
  EXPECT_FALSE(KestoappDataSource::isRefusal("<user><email>me</email><password></password></user>"));
}

// A second machine whose settings folder was copied from the first: its new library is not taken
// for the first one's, so the account's file is merged, not overwritten by an empty library.
TEST_F(AccountServiceTest, TwoLibrariesWithACopiedSettingsFileKeepTheirOwnIdentifiersThroughOneAccount) {
  SyncLibraries libraries;
  main = libraries.use("first");
  const std::string firstID = syncsettings::libraryIdentifier();
  bookmark("B1", "http://first.example/", "From the first machine", folder("F1", "One"));
  save();
  ASSERT_TRUE(runSync()) << lastMessage();  // the service keeps the upload as the account's file
  // The copied settings name the first library.
  main = libraries.use("second");
  fnd::UserDefaults::standard().setString(firstID, Synchronizer::kKestoIDKey);
  ASSERT_TRUE(runSync()) << lastMessage();
  EXPECT_TRUE(find("B1")) << "the second library merged the account's file";
  const auto secondID = syncsettings::libraryIdentifier();
  EXPECT_NE(secondID, firstID);
  EXPECT_EQ(fnd::UserDefaults::standard().stringForKey(Synchronizer::kKestoIDKey), secondID);
  auto doc = SyncFile::read(unpacked(lastUpload().file), true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, secondID);
  EXPECT_EQ(doc->bookmarks.size(), 1u);
  // Back on the first machine, whose settings now name the second library: the store's holds.
  main = libraries.use("first");
  fnd::UserDefaults::standard().setString(secondID, Synchronizer::kKestoIDKey);
  EXPECT_EQ(syncsettings::libraryIdentifier(), firstID);
  EXPECT_EQ(fnd::UserDefaults::standard().stringForKey(Synchronizer::kKestoIDKey), firstID);
  libraries.close();
  main = WrenDataManager::sharedInstance().managedObjectContext();
}

// A library from before identifiers were kept with the store adopts the setting's once.
TEST_F(AccountServiceTest, AnOlderStoreAdoptsTheSettingsIdentifierOnce) {
  SyncLibraries libraries;
  auto context = libraries.use("older");
  ASSERT_TRUE(context);
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  ASSERT_TRUE(coordinator);
  const std::string path = coordinator->storePath();
  ASSERT_EQ(coordinator->metadata().count(Synchronizer::kKestoIDKey), 0u);
  // Reopened, so that it is found rather than made.
  WrenDataManager::sharedInstance().reset();
  fnd::UserDefaults::standard().setString("kesto-FROM-SETTINGS", Synchronizer::kKestoIDKey);
  EXPECT_EQ(syncsettings::libraryIdentifier(), "kesto-FROM-SETTINGS");
  fnd::UserDefaults::standard().setString("kesto-CHANGED", Synchronizer::kKestoIDKey);
  EXPECT_EQ(syncsettings::libraryIdentifier(), "kesto-FROM-SETTINGS");
  EXPECT_EQ(WrenDataManager::sharedInstance().persistentStoreCoordinator()->storePath(), path);
  libraries.close();
  main = WrenDataManager::sharedInstance().managedObjectContext();
}

TEST_F(AccountServiceTest, FailedRequestsEndTheRunWithoutUploading) {
  // A server error, a reply that is not XML, a record without the payload's address, and a
  // payload that cannot be downloaded: none is an empty remote, none may overwrite it.
  for (auto failure : {FakeAccountService::Failure::Status500, FakeAccountService::Failure::NotXml,
                       FakeAccountService::Failure::NoSyncFile, FakeAccountService::Failure::DownloadFails}) {
    {
      std::lock_guard<std::mutex> lock(service.mutex());
      service.accounts["me+1@example.org"].payload = "stored";
    }
    setFailure(failure);
    alerts->shown.clear();
    EXPECT_FALSE(runSync()) << int(failure);
    EXPECT_TRUE(alerts->sawTitle("Connection error")) << int(failure);
    EXPECT_EQ(uploadCount(), 0u) << int(failure);
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(engine->isBusy());
  }
}

// A server that misbehaves at the load ends the run with an error that says what went wrong, and
// nothing is uploaded (its answer, were it read, would ask for the library).
TEST_F(AccountServiceTest, HostileServersEndTheRunWithAClearErrorAndNothingIsStored) {
  bookmark("B1", "http://a.example/", "A", folder("F1", "One"));
  save();
  HostileService hostile(tls.identity,
                         "<user><email>me+1@example.org</email><password></password>"
                         "<sync_file>missing.png</sync_file></user>");
  fnd::UserDefaults::standard().setString(hostile.baseURL(), KestoappDataSource::kBaseURLKey);
  for (const auto& [mode, says] : HostileService::cases()) {
    hostile.mode = mode;
    ServiceRequest::setLimitsForTesting(HostileService::hostileLimits(mode));
    alerts->shown.clear();
    EXPECT_FALSE(runSync()) << says;
    ASSERT_EQ(alerts->shown.size(), 1u) << says;
    EXPECT_EQ(alerts->shown[0].title, "Connection error");
    EXPECT_NE(alerts->shown[0].message.find(says), std::string::npos) << alerts->shown[0].message;
    EXPECT_FALSE(engine->isBusy());
  }
  for (const auto& request : hostile.requests()) EXPECT_EQ(request, "POST /sync.xml");
  EXPECT_EQ(find("B1")->title(), "A");
}

// The highest memory use of this process since the mark, in bytes (Linux's peak resident size,
// reset by the mark).
struct PeakMemory {
  PeakMemory() {
    std::ofstream mark("/proc/self/clear_refs");
    mark << "5" << std::flush;
    marked = mark.good();
  }
  // False where the peak cannot be reset (then it says nothing of this stretch).
  bool marked = false;
  static std::size_t read(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind(field, 0) == 0) return std::stoull(line.substr(std::strlen(field))) * 1024;
    return 0;
  }
  const std::size_t start = read("VmRSS:");
  std::size_t growth() const { return read("VmHWM:") - std::min(start, read("VmHWM:")); }
};

// A hostile service's payload: a small compressed body, sent slowly, that inflates past any
// payload, and a body that never ends. Each is cut at the payload's cap, holding no more than the
// cap meanwhile, and the run ends without uploading.
TEST_F(AccountServiceTest, AHostilePayloadDownloadEndsAtTheCapHoldingNoMoreThanIt) {
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    service.accounts["me+1@example.org"].payload = "stored";
    service.bomb = gzipOfZeros(SyncPayload::kMaxArchiveBytes / (1u << 20) + 64);
  }
  // Taking in and refusing hundreds of megabytes takes a loaded machine longer than the fixture's
  // time-out for the synced copy: that ending is not the one tested, so it is put out of reach.
  engine->setTimeouts(300, 300);
  for (auto failure : {FakeAccountService::Failure::DownloadBomb, FakeAccountService::Failure::DownloadEndless}) {
    setFailure(failure);
    alerts->shown.clear();
    PeakMemory peak;
    EXPECT_FALSE(runSync(330)) << int(failure);
    ASSERT_EQ(alerts->shown.size(), 1u) << int(failure) << " " << lastMessage();
    EXPECT_EQ(alerts->shown[0].title, "Connection error") << int(failure);
    EXPECT_NE(alerts->shown[0].message.find("larger than allowed"), std::string::npos) << alerts->shown[0].message;
    // The sanitizers keep freed memory aside for a while, so the peak tells nothing there.
    if (peak.marked && !test::underAddressSanitizer()) {
      EXPECT_LT(peak.growth(), SyncPayload::kMaxArchiveBytes + (48u << 20)) << int(failure);
    }
    EXPECT_EQ(uploadCount(), 0u);
    EXPECT_FALSE(engine->isBusy());
  }
}

TEST_F(AccountServiceTest, FailedUploadKeepsTheTombstones) {
  SyncTombstones::add({SyncTombstone{"GONE", 2, "b"}});
  setFailure(FakeAccountService::Failure::UploadFails);
  EXPECT_FALSE(runSync());
  EXPECT_EQ(uploadCount(), 1u);
  ASSERT_EQ(SyncTombstones::tombstones().size(), 1u);
  EXPECT_TRUE(alerts->sawTitle("Sync failed"));
}

TEST_F(AccountServiceTest, UnreadablePayloadIsKeptLocallyAndTheLibraryUploaded) {
  bookmark("B1", "http://a.example/", "A", folder("F1", "One"));
  save();
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    service.accounts["me+1@example.org"].payload = "not an archive";
  }
  ASSERT_TRUE(runSync()) << lastMessage();
  EXPECT_TRUE(alerts->sawTitle("Sync file kept aside"));
  auto names = fnd::FileManager::contentsOfDirectory(appSupportFolderPath());
  ASSERT_TRUE(names);
  std::string kept;
  for (const auto& n : *names)
    if (n.rfind("Unreadable sync file ", 0) == 0) kept = appSupportFolderPath() + "/" + n;
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(fnd::FileManager::readFile(kept), "not an archive");
  auto doc = SyncFile::read(unpacked(lastUpload().file), true);
  ASSERT_TRUE(doc);
  // This library as it is (the process's store also holds what earlier tests left in it).
  EXPECT_EQ(doc->bookmarks.size(), Bookmark::fetchEntities().value_or(Bookmark::List{}).size());
  EXPECT_TRUE(std::any_of(doc->bookmarks.begin(), doc->bookmarks.end(),
                          [](const BookmarkDummy& b) { return b.uniqueID.isString() && b.uniqueID.string() == "B1"; }));
}

TEST_F(AccountServiceTest, FormBodiesEncodeValuesAndKeepFieldNames) {
  EXPECT_EQ(KestoappDataSource::registerBody("a+b@example.org", "p&q=r"),
            "user[email]=a%2Bb@example.org&user[password]=p%26q%3Dr");
  EXPECT_EQ(KestoappDataSource::forgotPasswordBody("a+b@example.org"), "user[email]=a%2Bb@example.org");
  EXPECT_EQ(KestoappDataSource::resetPasswordBody("x@example.org", "K?1", "new pw"),
            "user[email]=x@example.org&user[password]=K%3F1&user[newpassword]=new%20pw");
  auto body = KestoappDataSource::uploadBody("e", "p", "k", {'a', 'b', 'c'});
  std::string text(body.begin(), body.end());
  EXPECT_EQ(text,
            "--K3st0bOuNdArY\r\nContent-Disposition: form-data; name=\"user[email]\"\r\n\r\ne\r\n"
            "--K3st0bOuNdArY\r\nContent-Disposition: form-data; name=\"user[password]\"\r\n\r\np\r\n"
            "--K3st0bOuNdArY\r\nContent-Disposition: form-data; name=\"user[sync_data]\"\r\n\r\n\r\n"
            "--K3st0bOuNdArY\r\nContent-Disposition: form-data; name=\"user[kesto_id]\"\r\n\r\nk\r\n"
            "--K3st0bOuNdArY\r\nContent-Disposition: form-data; name=\"user[sync_file]\"; filename=\"sync_data.zip\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\nabc\r\n--K3st0bOuNdArY--\r\n");
}

TEST_F(AccountServiceTest, CredentialsNeverGoToAPlainHttpServerElsewhere) {
  fnd::UserDefaults::standard().setString("http://sync.example.org", KestoappDataSource::kBaseURLKey);
  EXPECT_FALSE(runSync());
  EXPECT_TRUE(alerts->sawTitle("Connection error"));
  std::lock_guard<std::mutex> lock(service.mutex());
  EXPECT_TRUE(service.rawBodies.empty());
}

// The test root is trusted only while a test says so: a server it issued is otherwise one no
// root vouches for, and the credentials never reach it.
TEST_F(AccountServiceTest, AServerNoTrustedRootIssuedGetsNoCredentials) {
  LoopbackTLS::distrust();
  EXPECT_FALSE(runSync());
  ASSERT_TRUE(alerts->sawTitle("Connection error"));
  // Told in words, not as an error domain and code.
  const auto message = alerts->shown.back().message;
  EXPECT_NE(message.find("certificate is not trusted"), std::string::npos) << message;
  EXPECT_EQ(message.find("NSURLErrorDomain"), std::string::npos) << message;
  EXPECT_EQ(service.requestCount(), 0);
  tls.trust();
  EXPECT_TRUE(runSync()) << lastMessage();
  EXPECT_GT(service.requestCount(), 0);
}

TEST_F(AccountServiceTest, ReplyReadings) {
  EXPECT_TRUE(KestoappDataSource::registrationSucceeded("<user><email>a@b.c</email></user>"));
  EXPECT_FALSE(KestoappDataSource::registrationSucceeded("<user><email></email></user>"));
  EXPECT_FALSE(KestoappDataSource::registrationSucceeded("<errors/>"));
  EXPECT_TRUE(KestoappDataSource::userFound("<user/>x<user>"));
  EXPECT_FALSE(KestoappDataSource::userFound("<errors/>"));
}

}  // namespace
}  // namespace kesto::test
