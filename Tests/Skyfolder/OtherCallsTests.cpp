#include "FakeSkyfolder.h"
#include "TestPKI.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Log.h"
#include "Skyfolder/SFAccountInfo.h"
#include "Skyfolder/SFDeltaEntry.h"
#include "Skyfolder/SFJSON.h"
#include "Skyfolder/SFMetadata.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFRestClient.h"
#include "Skyfolder/SFSession.h"

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::test;

namespace {

using Op = SFRestClientDelegate::Operation;

struct Recorder : SFRestClientDelegate {
  std::vector<std::string> events;
  std::optional<fnd::Error> error;
  std::vector<std::shared_ptr<const SFDeltaEntry>> entries;
  std::optional<std::vector<std::shared_ptr<const SFMetadata>>> results;
  std::shared_ptr<const SFAccountInfo> account;
  std::shared_ptr<const SFMetadata> metadata;
  std::uint64_t newOffset = 0;

  std::uint64_t implementedOperations() const override { return ~0ull; }
  void fail(const char* what, const fnd::Error& e) {
    error = e;
    events.push_back(std::string(what) + " failed");
  }
  void restClientLoadedDeltaEntries(SFRestClient&, const std::vector<std::shared_ptr<const SFDeltaEntry>>& e, bool reset,
                                    const std::string& cursor, bool hasMore) override {
    entries = e;
    events.push_back("delta " + cursor + (reset ? " reset" : "") + (hasMore ? " more" : ""));
  }
  void restClientLoadDeltaFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("delta", e); }
  void restClientLoadedAccountInfo(SFRestClient&, std::shared_ptr<const SFAccountInfo> a) override {
    account = a;
    events.push_back("account");
  }
  void restClientLoadAccountInfoFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("account", e); }
  void restClientLoadedRevisions(SFRestClient&, const std::vector<std::shared_ptr<const SFMetadata>>& r,
                                 const std::string& path) override {
    events.push_back("revisions " + std::to_string(r.size()) + " " + path);
  }
  void restClientLoadRevisionsFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("revisions", e); }
  void restClientMovedPath(SFRestClient&, const std::string& from, std::shared_ptr<const SFMetadata> m) override {
    metadata = m;
    events.push_back("moved " + from);
  }
  void restClientMovePathFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("move", e); }
  void restClientCreatedFolder(SFRestClient&, std::shared_ptr<const SFMetadata> m) override {
    metadata = m;
    events.push_back("folder");
  }
  void restClientCreateFolderFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("folder", e); }
  void restClientLoadedSearchResults(SFRestClient&, const std::optional<std::vector<std::shared_ptr<const SFMetadata>>>& r,
                                     const std::string&, const std::string& keyword) override {
    results = r;
    events.push_back("search " + keyword);
  }
  void restClientUploadedFileChunk(SFRestClient&, const std::string& id, std::uint64_t offset, const std::string&,
                                   std::optional<fnd::Date> expires) override {
    newOffset = offset;
    events.push_back("chunk " + id + (expires ? " expires" : ""));
  }
  void restClientUploadFileChunkFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("chunk", e); }
  void restClientDeletedPath(SFRestClient&, const std::string& path) override { events.push_back("deleted " + path); }
  void restClientCopiedPath(SFRestClient&, const std::string& from, std::shared_ptr<const SFMetadata> m) override {
    metadata = m;
    events.push_back("copied " + from);
  }
  void restClientCopiedRef(SFRestClient&, const std::string& ref, std::shared_ptr<const SFMetadata> m) override {
    metadata = m;
    events.push_back("copied ref " + ref);
  }
  void restClientCopyFromRefFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("copy ref", e); }
  void restClientLoadedSharableLink(SFRestClient&, const std::string& link, const std::string& path) override {
    events.push_back("link " + link + " " + path);
  }
  void restClientLoadSharableLinkFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("link", e); }
  void restClientLoadedStreamableURL(SFRestClient&, const std::string& url, const std::string& path) override {
    events.push_back("media " + url + " " + path);
  }
  void restClientMetadataUnchangedAtPath(SFRestClient&, const std::string& path) override {
    events.push_back("unchanged " + path);
  }
  void restClientLoadedMetadata(SFRestClient&, std::shared_ptr<const SFMetadata> m) override {
    metadata = m;
    events.push_back("metadata");
  }
  void restClientLoadThumbnailFailedWithError(SFRestClient&, const fnd::Error& e) override { fail("thumb", e); }
};

class SkyfolderOtherCalls : public ::testing::Test, protected LoopbackSkyfolder {
 protected:
  void SetUp() override {
    startPinnedSkyfolder(makeTempDir("pki"));
    session = linkedSession();
    client = SFRestClient::initWithSession(session);
    client->setDelegate(&rec);
  }
  void TearDown() override {
    client.reset();
    unpinClient();
  }
  void reply(const std::string& prefix, std::string body, int status = 200) {
    FakeSkyfolder::Fault f;
    f.status = status;
    f.body = std::move(body);
    fake->injectFault(prefix, f);
  }
  bool waitFor(std::size_t n) { return runUntil([&] { return rec.events.size() >= n; }, 10); }
  FakeSkyfolder::Logged lastRequest() { return fake->log().back(); }

  std::shared_ptr<SFSession> session;
  std::unique_ptr<SFRestClient> client;
  Recorder rec;
};

}  // namespace

TEST_F(SkyfolderOtherCalls, DeltaFeedIsParsedAndTypeChecked) {
  reply("/1/delta", R"({"entries":[["/a.txt",{"path":"/A.txt","rev":"1"}],["/gone",null],"junk"],
                        "reset":true,"cursor":"c2","has_more":false})");
  client->loadDelta(std::nullopt);
  ASSERT_TRUE(waitFor(1));
  EXPECT_EQ(rec.events[0], "delta c2 reset");
  ASSERT_EQ(rec.entries.size(), 2u);
  EXPECT_EQ(rec.entries[0]->metadata()->path(), "/A.txt");
  EXPECT_FALSE(rec.entries[1]->metadata());
  const auto req = lastRequest();
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.params.count("cursor"), 0u);

  reply("/1/delta", "[]");
  client->loadDelta(std::string("c2"));
  ASSERT_TRUE(waitFor(2));
  EXPECT_EQ(rec.events[1], "delta failed");
  EXPECT_EQ(rec.error->code(), kSFErrorInvalidResponse);
  EXPECT_EQ(lastRequest().params.find("cursor")->second, "c2");
  EXPECT_EQ(client->requestCount(), 0u);
}

TEST_F(SkyfolderOtherCalls, RepliesOfTheWrongKindFailInsteadOfLookingEmpty) {
  // Bodies that are lists, scalars or not JSON at all must not become empty records.
  reply("/1/fileops/move", "[1]");
  client->moveFrom("/a", "/b");
  reply("/1/fileops/create_folder", "not json");
  client->createFolder("/f");
  reply("/1/account/info", "42");
  client->loadAccountInfo();
  ASSERT_TRUE(waitFor(3));
  for (const auto& e : rec.events) EXPECT_TRUE(e.ends_with(" failed")) << e;
  EXPECT_EQ(rec.error->code(), kSFErrorInvalidResponse);

  reply("/1/fileops/move", R"({"path":"/b","rev":"9"})");
  client->moveFrom("/a", "/b");
  ASSERT_TRUE(waitFor(4));
  EXPECT_EQ(rec.events[3], "moved /a");
  EXPECT_EQ(rec.metadata->path(), "/b");
  const auto req = lastRequest();
  EXPECT_EQ(req.params.find("root")->second, "sandbox");
  EXPECT_EQ(req.params.find("from_path")->second, "/a");
}

TEST_F(SkyfolderOtherCalls, AccountInfoSearchRevisionsAndThumbnails) {
  reply("/1/account/info", R"({"email":"a@b.c","display_name":"A B","uid":12345,"country":"FI",
                               "referral_link":"https://r","quota_info":{"normal":5,"shared":7,"quota":100}})");
  client->loadAccountInfo();
  ASSERT_TRUE(waitFor(1));
  EXPECT_EQ(rec.account->userId(), "12345");
  EXPECT_EQ(rec.account->quota()->totalConsumedBytes(), 12);
  auto copy = SFAccountInfo::initWithCoder(rec.account->encodeWithCoder());
  EXPECT_EQ(copy->displayName(), "A B");

  reply("/1/search", R"({"not":"a list"})");
  client->searchPath("/", "kw");
  ASSERT_TRUE(waitFor(2));
  EXPECT_EQ(rec.events[1], "search kw");
  EXPECT_FALSE(rec.results);
  EXPECT_EQ(lastRequest().params.find("query")->second, "kw");

  reply("/1/revisions", R"([{"rev":"1"},{"rev":"2"}])");
  client->loadRevisionsForFile("/f.txt");
  EXPECT_EQ(client->requestCount(), 1u);
  ASSERT_TRUE(waitFor(3));
  EXPECT_EQ(rec.events[2], "revisions 2 /f.txt");
  EXPECT_EQ(lastRequest().params.find("rev_limit")->second, "10");
  EXPECT_EQ(client->requestCount(), 0u);

  const std::pair<const char*, const char*> formats[] = {
      {"/pic.GIF", "PNG"}, {"/pic.png", "PNG"}, {"/pic.jpg", "JPEG"}, {".png", "JPEG"}};
  std::size_t events = rec.events.size();
  for (const auto& [path, format] : formats) {
    client->loadThumbnail(path, std::string("m"), dir + "/thumb");
    ASSERT_TRUE(waitFor(++events));
    EXPECT_EQ(lastRequest().params.find("format")->second, format) << path;
  }
}

TEST_F(SkyfolderOtherCalls, ChunkUploadsReadAtMostTwoMebibytes) {
  const std::string src = dir + "/src.bin";
  writeFile(src, std::string((2u << 20) + 100, 'c'));
  reply("/1/chunked_upload", R"({"upload_id":"u1","offset":2097152,"expires":"Tue, 01 Jan 2030 00:00:00 +0000"})");
  client->uploadFileChunk(std::nullopt, 0, src);
  ASSERT_TRUE(waitFor(1));
  EXPECT_EQ(rec.events[0], "chunk u1 expires");
  EXPECT_EQ(rec.newOffset, 2097152u);
  auto req = lastRequest();
  EXPECT_EQ(req.bodySize, 2u << 20);
  EXPECT_EQ(req.params.find("offset")->second, "0");
  EXPECT_EQ(req.params.count("mute"), 0u);
  EXPECT_EQ(req.params.count("locale"), 0u);

  fnd::LogCapture capture;
  reply("/1/chunked_upload", R"({"upload_id":"u1","offset":2097252})");
  client->uploadFileChunk(std::string("u1"), 5u << 20, src);
  ASSERT_TRUE(waitFor(2));
  EXPECT_TRUE(capture.contains("did not read any data from file"));
  EXPECT_EQ(lastRequest().bodySize, 0u);

  client->uploadFileChunk(std::string("u1"), 0, dir + "/missing");
  ASSERT_EQ(rec.events.size(), 3u);
  EXPECT_EQ(rec.error->code(), kSFErrorFileNotFound);
}

TEST(SFDeltaEntry, EqualityAndArchives) {
  auto a = SFDeltaEntry::initWithArray(*nsstring_dbjson::JSONValue(R"(["/x",null])"));
  auto b = SFDeltaEntry::initWithArray(*nsstring_dbjson::JSONValue(R"(["/x",null])"));
  auto c = SFDeltaEntry::initWithArray(*nsstring_dbjson::JSONValue(R"(["/x",{"rev":"1"}])"));
  ASSERT_TRUE(a && b && c);
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_FALSE(a->isEqual(*c));
  EXPECT_FALSE(SFDeltaEntry::initWithArray(*nsstring_dbjson::JSONValue(R"(["/x"])")));
  EXPECT_FALSE(SFDeltaEntry::initWithArray(*nsstring_dbjson::JSONValue(R"(["/x", 3])")));
  EXPECT_TRUE(SFDeltaEntry::initWithCoder(c->encodeWithCoder())->isEqual(*c));
}

TEST(SFAccountInfo, ReadsOlderArchives) {
  auto info = SFAccountInfo::initWithCoder({{"displayName", fnd::Value("Old Name")},
                                            {"userId", fnd::Value(77)},
                                            {"quota", fnd::Value(SFQuota(1, 2, 3).encodeWithCoder())}});
  EXPECT_EQ(info->displayName(), "Old Name");
  EXPECT_EQ(info->userId(), "77");
  EXPECT_EQ(info->quota()->totalBytes(), 3);
  EXPECT_FALSE(info->email());
}

TEST_F(SkyfolderOtherCalls, CopiesLinksAndConditionalMetadataReportWhatTheyWereAskedFor) {
  reply("/1/fileops/copy", R"({"path":"/c","rev":"3"})");
  client->copyFrom("/a", "/c");
  ASSERT_TRUE(waitFor(1));
  EXPECT_EQ(rec.events[0], "copied /a");
  EXPECT_EQ(rec.metadata->path(), "/c");
  EXPECT_EQ(lastRequest().method, "POST");
  EXPECT_EQ(lastRequest().params.find("to_path")->second, "/c");

  reply("/1/fileops/copy", R"({"path":"/d","rev":"4"})");
  client->copyFromRef("ref1", "/d");
  ASSERT_TRUE(waitFor(2));
  EXPECT_EQ(rec.events[1], "copied ref ref1");
  EXPECT_EQ(lastRequest().params.find("from_copy_ref")->second, "ref1");
  reply("/1/fileops/copy", R"({"error":"gone"})", 404);
  client->copyFromRef("ref2", "/d");
  ASSERT_TRUE(waitFor(3));
  EXPECT_EQ(rec.events[2], "copy ref failed");
  EXPECT_EQ(rec.error->code(), 404);

  reply("/1/shares", R"({"url":"https://s/x","expires":"never"})");
  client->loadSharableLinkForFile("/f.txt", false);
  ASSERT_TRUE(waitFor(4));
  EXPECT_EQ(rec.events[3], "link https://s/x /f.txt");
  EXPECT_EQ(lastRequest().params.find("short_url")->second, "false");
  reply("/1/shares", "[]");
  client->loadSharableLinkForFile("/f.txt");
  ASSERT_TRUE(waitFor(5));
  EXPECT_EQ(rec.events[4], "link failed");
  reply("/1/media", R"({"url":"https://m/y"})");
  client->loadStreamableURLForFile("/v.mp4");
  ASSERT_TRUE(waitFor(6));
  EXPECT_EQ(rec.events[5], "media https://m/y /v.mp4");
  EXPECT_NE(lastRequest().path.find("/1/media/sandbox/v.mp4"), std::string::npos);

  reply("/1/metadata", "", 304);
  client->loadMetadataWithHash("/dir", std::string("h1"));
  ASSERT_TRUE(waitFor(7));
  EXPECT_EQ(rec.events[6], "unchanged /dir");
  EXPECT_EQ(lastRequest().params.find("hash")->second, "h1");
  reply("/1/metadata", R"({"path":"/dir/f","rev":"7"})");
  client->loadMetadataAtRev("/dir/f", std::string("7"));
  ASSERT_TRUE(waitFor(8));
  EXPECT_EQ(rec.events[7], "metadata");
  EXPECT_EQ(lastRequest().params.find("rev")->second, "7");
  EXPECT_EQ(client->requestCount(), 0u);
}
