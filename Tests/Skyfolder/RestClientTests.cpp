#include "FakeSkyfolder.h"
#include "TestPKI.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Net/ServerTrust.h"
#include "Platform/Net/URLError.h"
#include "Skyfolder/OAuthCredentialConcreteStore.h"
#include "Skyfolder/SFAuthHelperOSX.h"
#include "Skyfolder/SFConfig.h"
#include "Skyfolder/SFMetadata.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFRestClient.h"
#include "Skyfolder/SFSession.h"

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::test;

namespace {

// Records every delegate call it is declared to implement.
struct RecordingDelegate : SFRestClientDelegate {
  std::uint64_t ops = LoadedMetadata | MetadataUnchangedAtPath | LoadMetadataFailedWithError | LoadedFile |
                      LoadFileFailedWithError | UploadedFileFromMetadata | UploadFileFailedWithError;
  std::vector<std::string> events;
  std::shared_ptr<const SFMetadata> metadata;
  std::optional<fnd::Error> error;
  std::vector<double> progress;

  std::uint64_t implementedOperations() const override { return ops; }
  void restClientLoadedMetadata(SFRestClient&, std::shared_ptr<const SFMetadata> m) override {
    metadata = m;
    events.push_back("loadedMetadata");
  }
  void restClientMetadataUnchangedAtPath(SFRestClient&, const std::string& path) override {
    events.push_back("unchanged " + path);
  }
  void restClientLoadMetadataFailedWithError(SFRestClient&, const fnd::Error& e) override {
    error = e;
    events.push_back("metadataFailed");
  }
  void restClientLoadedFile(SFRestClient&, const std::string& dest) override { events.push_back("loadedFile"); }
  void restClientLoadedFile(SFRestClient&, const std::string&, const std::string& type,
                            std::shared_ptr<const SFMetadata> m) override {
    metadata = m;
    events.push_back("loadedFileWithMetadata " + type);
  }
  void restClientLoadProgress(SFRestClient&, double p, const std::string&) override { progress.push_back(p); }
  void restClientLoadFileFailedWithError(SFRestClient&, const fnd::Error& e) override {
    error = e;
    events.push_back("loadFailed");
  }
  void restClientUploadedFile(SFRestClient&, const std::string& dest, const std::string&,
                              std::shared_ptr<const SFMetadata> m) override {
    metadata = m;
    events.push_back("uploaded " + dest);
  }
  void restClientUploadFileFailedWithError(SFRestClient&, const fnd::Error& e) override {
    error = e;
    events.push_back("uploadFailed");
  }
};

template <typename F>
FakeSkyfolder::Fault faultWith(F&& set) {
  FakeSkyfolder::Fault f;
  set(f);
  return f;
}

struct SessionDelegate : SFSessionDelegate {
  int failures = 0;
  void sessionDidReceiveAuthorizationFailure(SFSession&, const std::optional<std::string>&) override { ++failures; }
};

class SkyfolderService : public ::testing::Test, protected LoopbackSkyfolder {
 protected:
  void SetUp() override {
    startPinnedSkyfolder(makeTempDir("pki"));
    session = newSession();
    SFSession::setSharedSession(session);
  }
  void TearDown() override {
    client.reset();
    SFSession::setSharedSession(nullptr);
    unpinClient();
    net::ServerTrust::setAdditionalSystemAnchorsForTesting({});
  }
  void link() {
    session->updateAccessToken(FakeSkyfolder::kAccessToken, FakeSkyfolder::kAccessSecret, FakeSkyfolder::kUserId);
    client = SFRestClient::initWithSession(session);
    client->setDelegate(&delegate);
  }
  bool waitForEvents(std::size_t n, double seconds = 10) {
    return runUntil([&] { return delegate.events.size() >= n; }, seconds);
  }
  std::string localFile(const std::string& name, const std::string& content) {
    const std::string path = dir + "/" + name;
    writeFile(path, content);
    return path;
  }

  std::shared_ptr<SFSession> session;
  std::unique_ptr<SFRestClient> client;
  RecordingDelegate delegate;
};

}  // namespace

TEST_F(SkyfolderService, LinksThroughTheBrowserFlow) {
  auto& helper = SFAuthHelperOSX::sharedHelper();
  std::optional<net::URL> opened;
  approveInTheBrowser(opened);
  int changes = 0;
  fnd::ScopedObserver observer;
  observer.observe(kSFAuthHelperOSXStateChangedNotification, [&](const fnd::Notification&) { ++changes; });

  fnd::LogCapture capture;
  helper.authenticate();
  EXPECT_TRUE(helper.isLoading());
  helper.authenticate();
  EXPECT_TRUE(capture.contains("while the auth helper is already loading"));
  ASSERT_TRUE(runUntil([&] { return opened.has_value(); }));
  EXPECT_FALSE(helper.isLoading());
  EXPECT_EQ(opened->absoluteString(), "https://" + fake->host() +
                                          "/1/oauth/authorize?oauth_token=rt1&osx_protocol=sf-appkey&embedded=1");

  fnd::NotificationCenter::defaultCenter().postNotificationName(kSFApplicationDidBecomeActiveNotification);
  ASSERT_TRUE(runUntil([&] { return session->isLinked(); }));
  EXPECT_EQ(session->userIds(), std::vector<std::string>{FakeSkyfolder::kUserId});
  // The reply's escaped secret is stored decoded.
  EXPECT_EQ(session->credentialStoreForUserId(std::string(FakeSkyfolder::kUserId))->accessTokenSecret(),
            FakeSkyfolder::kAccessSecret);
  ASSERT_TRUE(runUntil([&] { return changes >= 4; }));
  EXPECT_EQ(fake->signatureFailures(), 0);
  // The flow is over: activation does nothing more, and a linked session is not linked again.
  const auto requests = fake->log().size();
  fnd::NotificationCenter::defaultCenter().postNotificationName(kSFApplicationDidBecomeActiveNotification);
  helper.authenticate();
  EXPECT_TRUE(capture.contains("when already linked"));
  spin(0.2);
  EXPECT_EQ(fake->log().size(), requests);
  EXPECT_FALSE(helper.isLoading());
}

TEST_F(SkyfolderService, RequestTokenFailureReachesObservers) {
  auto& helper = SFAuthHelperOSX::sharedHelper();
  bool opened = false;
  helper.setURLOpener([&](const net::URL&) { opened = true; });
  std::optional<std::int64_t> errorCode;
  fnd::ScopedObserver observer;
  observer.observe(kSFAuthHelperOSXStateChangedNotification, [&](const fnd::Notification& n) {
    if (const auto it = n.userInfo.find("error"); it != n.userInfo.end())
      errorCode = it->second.objectAs<fnd::Error>()->code();
  });
  fake->injectFault("/1/oauth/request_token", {.status = 503, .body = "{\"error\":\"busy\"}", .headers = {}});
  helper.authenticate();
  ASSERT_TRUE(runUntil([&] { return errorCode.has_value(); }));
  EXPECT_EQ(*errorCode, 503);
  EXPECT_FALSE(helper.isLoading());
  EXPECT_FALSE(opened);
  // Nothing waits for the user: becoming active sends nothing.
  const auto requests = fake->log().size();
  fnd::NotificationCenter::defaultCenter().postNotificationName(kSFApplicationDidBecomeActiveNotification);
  spin(0.1);
  EXPECT_EQ(fake->log().size(), requests);
}

TEST_F(SkyfolderService, RefusedAccessTokenEndsTheFlow) {
  RecordingDelegate unused;
  auto anon = SFRestClient::initWithSession(session);
  struct TokenDelegate : SFRestClientDelegate {
    int loaded = 0, failed = 0;
    std::uint64_t implementedOperations() const override {
      return LoadedRequestToken | LoadAccessTokenFailedWithError;
    }
    void restClientLoadedRequestToken(SFRestClient&) override { ++loaded; }
    void restClientLoadAccessTokenFailedWithError(SFRestClient&, const fnd::Error&) override { ++failed; }
  } tokens;
  anon->setDelegate(&tokens);
  anon->loadRequestToken();
  ASSERT_TRUE(runUntil([&] { return tokens.loaded == 1; }));
  EXPECT_TRUE(anon->requestTokenLoaded());
  EXPECT_EQ(session->credentialStoreForUserId(std::nullopt)->requestTokenSecret(), FakeSkyfolder::kRequestSecret);
  fake->injectFault("/1/oauth/access_token", {.status = 403, .body = "{\"error\":\"denied\"}", .headers = {}});
  anon->loadAccessToken();
  ASSERT_TRUE(runUntil([&] { return tokens.failed == 1; }));
  EXPECT_FALSE(anon->requestTokenLoaded());
  EXPECT_FALSE(anon->authorizeURL());
  const auto requests = fake->log().size();
  anon->loadAccessToken();
  spin(0.1);
  EXPECT_EQ(fake->log().size(), requests);
}

TEST_F(SkyfolderService, LoadsFolderMetadataWithASignedQuery) {
  fake->putFile("/sync_data.zip", "zipdata");
  fake->putFile("/other.txt", "x");
  link();
  client->loadMetadata("/");
  EXPECT_EQ(client->requestCount(), 1u);
  ASSERT_TRUE(waitForEvents(1));
  ASSERT_EQ(delegate.events[0], "loadedMetadata");
  ASSERT_TRUE(delegate.metadata->contents());
  EXPECT_EQ(delegate.metadata->contents()->size(), 2u);
  EXPECT_TRUE(delegate.metadata->hash());
  EXPECT_EQ(client->requestCount(), 0u);

  const auto log = fake->log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].method, "GET");
  EXPECT_EQ(log[0].path, "/1/metadata/sandbox/");
  EXPECT_EQ(log[0].headers.at("User-Agent"), SFRestClient::userAgent());
  // Sorted parameters, signature last.
  const std::string& q = log[0].rawQuery;
  EXPECT_TRUE(q.starts_with("locale=en&oauth_consumer_key=appkey&oauth_nonce=")) << q;
  EXPECT_NE(q.find("&oauth_signature_method=PLAINTEXT&oauth_timestamp="), std::string::npos) << q;
  EXPECT_NE(q.find("&oauth_token=at1&oauth_version=1.0&oauth_signature=app%2526secret%26a%252Bs"), std::string::npos)
      << q;
  EXPECT_TRUE(q.ends_with("oauth_signature=app%2526secret%26a%252Bs")) << q;
}

TEST_F(SkyfolderService, MetadataFailuresReachTheDelegate) {
  link();
  SessionDelegate sessionDelegate;
  session->setDelegate(&sessionDelegate);
  fake->injectFault("/1/metadata", {.status = 401, .body = "{\"error\":\"token expired\"}", .headers = {}});
  client->loadMetadata("/");
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(delegate.events[0], "metadataFailed");
  EXPECT_EQ(delegate.error->code(), 401);
  EXPECT_EQ(delegate.error->domain(), kSFSkyfolderErrorDomain);
  EXPECT_EQ(delegate.error->userInfo().at("path").string(), "/");
  EXPECT_EQ(delegate.error->userInfo().at("error").string(), "token expired");
  EXPECT_EQ(sessionDelegate.failures, 1);

  fake->injectFault("/1/metadata", {.status = 304, .body = "", .headers = {}});
  client->loadMetadata("/");
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(delegate.events[1], "unchanged /");

  // A reply that is not a metadata object is a parse failure, not an empty record.
  fake->injectFault("/1/metadata", {.status = 200, .body = "[1,2]", .headers = {}});
  client->loadMetadata("/");
  ASSERT_TRUE(waitForEvents(3));
  EXPECT_EQ(delegate.events[2], "metadataFailed");
  EXPECT_EQ(delegate.error->code(), kSFErrorInvalidResponse);
  session->setDelegate(nullptr);
}

TEST_F(SkyfolderService, DownloadsReplaceTheDestinationOnlyWhenComplete) {
  fake->putFile("/sync_data.zip", std::string(300000, 'z'));
  link();
  // Both forms implemented: only the first is sent.
  delegate.ops |= SFRestClientDelegate::LoadedFileContentTypeMetadata | SFRestClientDelegate::LoadProgressForFile;
  client->setDelegate(&delegate);
  const std::string dest = localFile("sync_data.zip", "old");
  client->loadFile("/sync_data.zip", dest);
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(delegate.events, std::vector<std::string>{"loadedFile"});
  EXPECT_EQ(readFile(dest), std::string(300000, 'z'));
  ASSERT_FALSE(delegate.progress.empty());
  EXPECT_DOUBLE_EQ(delegate.progress.back(), 1.0);

  delegate.ops &= ~static_cast<std::uint64_t>(SFRestClientDelegate::LoadedFile);
  client->setDelegate(&delegate);
  client->loadFile("/sync_data.zip", fake->fileRev("/sync_data.zip"), dest);
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(delegate.events[1], "loadedFileWithMetadata application/octet-stream");
  EXPECT_EQ(delegate.metadata->rev(), fake->fileRev("/sync_data.zip"));
  EXPECT_EQ(fake->log().back().params.find("rev")->second, *fake->fileRev("/sync_data.zip"));

  // A missing file fails with the server's status; the old destination is kept.
  writeFile(dest, "keep me");
  client->loadFile("/missing.zip", dest);
  ASSERT_TRUE(waitForEvents(3));
  EXPECT_EQ(delegate.events[2], "loadFailed");
  EXPECT_EQ(delegate.error->code(), 404);
  EXPECT_EQ(delegate.error->userInfo().at("destinationPath").string(), dest);
  EXPECT_EQ(delegate.error->userInfo().at("error").string(), "File not found");
  EXPECT_EQ(readFile(dest), "keep me");

  // Fewer octets than announced: no file at all.
  const std::string fresh = dir + "/fresh.zip";
  fake->injectFault("/1/files", faultWith([](FakeSkyfolder::Fault& f) { f.shortBody = true; }));
  client->loadFile("/sync_data.zip", fresh);
  ASSERT_TRUE(waitForEvents(4));
  EXPECT_EQ(delegate.events[3], "loadFailed");
  EXPECT_EQ(delegate.error->code(), kSFErrorSizeMismatch);
  EXPECT_FALSE(fnd::FileManager::fileExists(fresh));
  // No temporary files are left beside the destination.
  EXPECT_EQ(fnd::FileManager::contentsOfDirectory(dir)->size(), 3u);  // key, cert, sync_data.zip
}

TEST_F(SkyfolderService, AFailedFinalMoveKeepsWhatWasThere) {
  fake->putFile("/sync_data.zip", "new");
  link();
  // A destination that cannot be replaced (a folder with contents) stays as it was.
  const std::string dest = dir + "/taken";
  fnd::FileManager::createDirectory(dest, true);
  writeFile(dest + "/inside", "old");
  client->loadFile("/sync_data.zip", dest);
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(delegate.events[0], "loadFailed");
  EXPECT_EQ(readFile(dest + "/inside"), "old");
  // And the downloaded temporary file is not left behind.
  const auto names = fnd::FileManager::contentsOfDirectory(dir).value_or(std::vector<std::string>{});
  for (const auto& name : names) EXPECT_EQ(name.find(".download"), std::string::npos) << name;
}

TEST_F(SkyfolderService, CompressedRepliesPassTheSizeCheck) {
  fake->putFile("/sync_data.zip", std::string(50000, 'q'));
  link();
  const std::string dest = dir + "/out.zip";
  fake->injectFault("/1/files", faultWith([](FakeSkyfolder::Fault& f) { f.gzip = true; }));
  client->loadFile("/sync_data.zip", dest);
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(delegate.events[0], "loadedFile");
  EXPECT_EQ(readFile(dest), std::string(50000, 'q'));
}

TEST_F(SkyfolderService, UploadsWithParentRevisionSemantics) {
  link();
  const std::string src = localFile("payload.zip", "first version");
  client->uploadFile("sync_data.zip", "/", std::nullopt, src);
  EXPECT_EQ(client->requestCount(), 1u);
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(delegate.events[0], "uploaded /sync_data.zip");
  EXPECT_EQ(fake->fileContent("/sync_data.zip"), "first version");
  EXPECT_EQ(delegate.metadata->rev(), fake->fileRev("/sync_data.zip"));
  auto entry = fake->log().back();
  EXPECT_EQ(entry.method, "POST");
  EXPECT_EQ(entry.path, "/1/files_put/sandbox/sync_data.zip");
  EXPECT_EQ(entry.headers.at("Content-Type"), "application/octet-stream");
  EXPECT_EQ(entry.bodySize, 13u);
  EXPECT_EQ(entry.params.count("parent_rev"), 0u);
  EXPECT_EQ(entry.params.count("locale"), 0u);
  EXPECT_EQ(entry.params.find("overwrite")->second, "false");
  EXPECT_EQ(entry.params.find("mute")->second, "1");
  EXPECT_NE(entry.rawQuery.find("mute=1&oauth_consumer_key="), std::string::npos) << entry.rawQuery;
  EXPECT_TRUE(entry.rawQuery.ends_with("&overwrite=false&oauth_signature=app%2526secret%26a%252Bs")) << entry.rawQuery;

  // With the current revision the file is replaced; with a stale one both versions are kept.
  const auto rev = *fake->fileRev("/sync_data.zip");
  writeFile(src, "second");
  client->uploadFile("sync_data.zip", "/", rev, src);
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(fake->fileContent("/sync_data.zip"), "second");
  writeFile(src, "third");
  client->uploadFile("sync_data.zip", "/", rev, src);
  ASSERT_TRUE(waitForEvents(3));
  EXPECT_EQ(fake->fileContent("/sync_data.zip"), "second");
  EXPECT_EQ(fake->fileContent("/sync_data (conflicted copy).zip"), "third");
  EXPECT_EQ(delegate.metadata->path(), "/sync_data (conflicted copy).zip");
}

TEST_F(SkyfolderService, UploadRefusesFoldersAndMissingFilesWithoutSending) {
  link();
  client->uploadFile("x.zip", "/", std::nullopt, dir);
  ASSERT_EQ(delegate.events.size(), 1u);
  EXPECT_EQ(delegate.error->code(), kSFErrorIsDirectory);
  EXPECT_EQ(delegate.error->userInfo().at("destinationPath").string(), "/x.zip");
  client->uploadFile("x.zip", "/folder", std::nullopt, dir + "/nothing");
  ASSERT_EQ(delegate.events.size(), 2u);
  EXPECT_EQ(delegate.error->code(), kSFErrorFileNotFound);
  EXPECT_EQ(delegate.error->userInfo().at("destinationPath").string(), "/folder/x.zip");
  spin(0.05);
  EXPECT_TRUE(fake->log().empty());

  fake->injectFault("/1/files_put", {.status = 507, .body = "{\"error\":\"over quota\"}", .headers = {}});
  client->uploadFile("x.zip", "/", std::nullopt, localFile("x.zip", "data"));
  ASSERT_TRUE(waitForEvents(3));
  EXPECT_EQ(delegate.events[2], "uploadFailed");
  EXPECT_EQ(delegate.error->code(), 507);
  // A success status with a body that is not a metadata object is no success.
  fake->injectFault("/1/files_put", {.status = 200, .body = "\"ok\"", .headers = {}});
  client->uploadFile("x.zip", "/", std::nullopt, localFile("x.zip", "data"));
  ASSERT_TRUE(waitForEvents(4));
  EXPECT_EQ(delegate.events[3], "uploadFailed");
  EXPECT_EQ(delegate.error->code(), kSFErrorInvalidResponse);
}

TEST_F(SkyfolderService, NoCallbackReachesAClientThatIsGone) {
  fake->putFile("/a", "aaaa");
  link();
  delegate.ops |= SFRestClientDelegate::LoadProgressForFile;
  fake->injectFault("/1/", faultWith([](FakeSkyfolder::Fault& f) {
                      f.status = 200;
                      f.delayMs = 300;
                    }), 3);
  client->loadMetadata("/");
  client->loadFile("/a", dir + "/a");
  client->uploadFile("b", "/", std::nullopt, localFile("b", "bbb"));
  EXPECT_EQ(client->requestCount(), 3u);
  client.reset();
  spin(0.8);
  EXPECT_TRUE(delegate.events.empty());
  EXPECT_FALSE(fnd::FileManager::fileExists(dir + "/a"));

  // A second download of the same path replaces the first, which then reports nothing.
  link();
  client->loadFile("/a", dir + "/a1");
  client->loadFile("/a", dir + "/a2");
  EXPECT_EQ(client->requestCount(), 1u);
  ASSERT_TRUE(waitForEvents(1));
  spin(0.3);
  EXPECT_EQ(delegate.events.size(), 1u);
  EXPECT_EQ(readFile(dir + "/a2"), "aaaa");

  // Cancelling a download removes its half-written file and reports nothing.
  fake->putGeneratedFile("/big", 64u << 20);
  client->loadFile("/big", dir + "/big");
  ASSERT_TRUE(runUntil([&] { return !delegate.progress.empty(); }));
  client->cancelFileLoad("/big");
  EXPECT_EQ(client->requestCount(), 0u);
  spin(0.3);
  EXPECT_EQ(delegate.events.size(), 1u);
  EXPECT_FALSE(fnd::FileManager::fileExists(dir + "/big"));
}

TEST_F(SkyfolderService, UploadsAndThumbnailsToOneKeyReplaceEachOtherAndCancelSilently) {
  link();
  fake->injectFault("/1/", faultWith([](FakeSkyfolder::Fault& f) {
                      f.status = 200;
                      f.delayMs = 300;
                    }), 4);
  client->uploadFile("b", "/", std::nullopt, localFile("b", "one"));
  client->uploadFile("b", "/", std::nullopt, localFile("b", "two"));
  client->loadThumbnail("/a.png", std::string("small"), dir + "/t1");
  client->loadThumbnail("/a.png", std::string("small"), dir + "/t2");
  // Another size is another thumbnail.
  client->loadThumbnail("/a.png", std::string("large"), dir + "/t3");
  EXPECT_EQ(client->requestCount(), 3u);
  client->cancelFileUpload("/b");
  client->cancelThumbnailLoad("/a.png", std::string("small"));
  client->cancelThumbnailLoad("/a.png", std::string("large"));
  client->cancelFileUpload("/never-started");
  EXPECT_EQ(client->requestCount(), 0u);
  spin(0.5);
  EXPECT_TRUE(delegate.events.empty());
}

TEST_F(SkyfolderService, ClientOfAnUnlinkedUserFailsCleanly) {
  link();
  session->unlinkAll();
  client->loadMetadata("/");
  client->loadFile("/a", dir + "/a");
  client->uploadFile("b", "/", std::nullopt, localFile("b", "bbb"));
  ASSERT_TRUE(waitForEvents(3));
  for (const auto& e : {"metadataFailed", "loadFailed", "uploadFailed"})
    EXPECT_NE(std::find(delegate.events.begin(), delegate.events.end(), e), delegate.events.end()) << e;
  EXPECT_EQ(delegate.error->code(), 401);
  EXPECT_TRUE(fake->log().empty());
}

TEST_F(SkyfolderService, RedirectsNeverLeaveTheOrigin) {
  link();
  auto other = std::make_unique<FakeSkyfolder>(writeIdentity(leaf, ca, dir, "other"));
  fake->injectFault("/1/metadata", {.status = 302, .body = "", .headers = {{"Location", "https://" + other->host() + "/1/metadata/sandbox/"}}});
  client->loadMetadata("/");
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(delegate.events[0], "metadataFailed");
  EXPECT_EQ(delegate.error->code(), 302);
  EXPECT_TRUE(other->log().empty());
}

TEST_F(SkyfolderService, OversizedRepliesAreRefused) {
  link();
  // Digits that do not compress, so the reply really is that large on the wire.
  std::string body = "[";
  std::uint32_t x = 12345;
  while (body.size() < SFRequest::kMaxResultBytes) {
    x = x * 1664525u + 1013904223u;
    body += std::to_string(x) + ",";
  }
  body += "0]";
  fake->injectFault("/1/metadata", {.status = 200, .body = body, .headers = {}});
  client->loadMetadata("/");
  ASSERT_TRUE(waitForEvents(1, 15));
  EXPECT_EQ(delegate.events[0], "metadataFailed");
  EXPECT_EQ(delegate.error->domain(), fnd::kURLErrorDomain) << delegate.error->description();
  EXPECT_EQ(delegate.error->code(), net::urlerror::DataLengthExceedsMaximum);
}

TEST_F(SkyfolderService, OversizedErrorBodiesAreRefused) {
  link();
  // Digits that do not compress, so the reply really is that large on the wire.
  std::string body = "{\"error\":\"";
  std::uint32_t x = 12345;
  while (body.size() < SFRequest::kMaxErrorBodyBytes + 1000) {
    x = x * 1664525u + 1013904223u;
    body += std::to_string(x);
  }
  body += "\"}";
  fake->injectFault("/1/files", {.status = 404, .body = body, .headers = {}});
  client->loadFile("/a", dir + "/a");
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(delegate.events[0], "loadFailed");
  EXPECT_EQ(delegate.error->domain(), fnd::kURLErrorDomain) << delegate.error->description();
  EXPECT_FALSE(fnd::FileManager::fileExists(dir + "/a"));
}

// Servers outside the pinned roots are refused during the handshake, before any request.
class SkyfolderTrust : public SkyfolderService {
 protected:
  void serveWith(const TestCert& serverLeaf, const TestCert& issuer) {
    fake = std::make_unique<FakeSkyfolder>(writeIdentity(serverLeaf, issuer, dir, "refused"));
    fake->pointClientHere();
  }
  void expectRefused() {
    fnd::LogCapture capture;
    client->loadMetadata("/");
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(delegate.events[0], "metadataFailed");
    EXPECT_NE(delegate.error->domain(), kSFSkyfolderErrorDomain);
    EXPECT_TRUE(fake->log().empty());
    EXPECT_TRUE(capture.contains("SkyfolderSDK: SSL Error."));
  }
};

TEST_F(SkyfolderTrust, ChainOutsideThePinnedRootsIsRefusedEvenWhenTheSystemTrustsIt) {
  link();
  auto otherCA = makeCA("Some Public Root");
  net::ServerTrust::setAdditionalSystemAnchorsForTesting({*net::Certificate::fromDER(otherCA.der())});
  serveWith(makeLeaf(otherCA, "127.0.0.1", "IP:127.0.0.1,DNS:localhost"), otherCA);
  expectRefused();
}

TEST_F(SkyfolderTrust, RevokedSerialIsRefused) {
  link();
  serveWith(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1,DNS:localhost", "27ab71ba41865c"), ca);
  expectRefused();
}

TEST_F(SkyfolderTrust, WrongHostIsRefused) {
  link();
  serveWith(makeLeaf(ca, "wrong.example", "DNS:wrong.example"), ca);
  expectRefused();
}

TEST_F(SkyfolderTrust, PinnedRootsDoNotCoverTheTestCA) {
  link();
  SFRequest::setRootCertificatesForTesting(std::nullopt);
  expectRefused();
}

TEST_F(SkyfolderService, AuthorizePageCarriesAnEscapedRequestTokenWhole) {
  // Token replies are decoded, so a token may hold characters that end a query value.
  auto anon = SFRestClient::initWithSession(session);
  session->credentialStoreForUserId(std::nullopt)->setRequestToken(std::string("a&b=c#d e+f"));
  const auto url = anon->authorizeURL();
  ASSERT_TRUE(url);
  EXPECT_EQ(url->query().value_or(""), "oauth_token=a%26b%3Dc%23d%20e%2Bf&osx_protocol=sf-appkey&embedded=1");
  EXPECT_FALSE(url->fragment());
}
