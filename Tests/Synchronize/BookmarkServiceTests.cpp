#include "SyncTestSupport.h"
#include "HostileService.h"
#include "LoopbackTLS.h"
#include "TestAlertResponder.h"

#include "Model/Base64.h"
#include "Synchronize/ServiceClient.h"
#include "Synchronize/ServiceRequest.h"

#include "Platform/Store/Predicate.h"

#include <httplib.h>

#include <mutex>
#include <thread>

namespace kesto::test {
namespace {

// A loopback stand-in for the bookmark services' v1 API over TLS: Basic authentication (401
// without it), the account's posts, a record of every request, and a status to answer instead.
class FakeBookmarkService {
 public:
  struct Seen {
    std::string path, authorization, target;
    std::map<std::string, std::string> params;
  };
  explicit FakeBookmarkService(const TestIdentity& identity)
      : server(identity.certPath.c_str(), identity.keyPath.c_str()) {
    auto handle = [this](const httplib::Request& q, httplib::Response& r) {
      std::lock_guard<std::mutex> lock(mutex);
      Seen s{q.path, q.get_header_value("Authorization"), q.target, {}};
      for (const auto& [k, v] : q.params) s.params[k] = v;
      seen.push_back(s);
      if (s.authorization != "Basic " + Base64::encodeString("me:p@ss")) {
        r.status = 401;
        r.set_header("WWW-Authenticate", "Basic realm=\"API\"");
        return;
      }
      if (status != 200) {
        r.status = status;
        return r.set_content("busy", "text/plain");
      }
      if (q.path == "/v1/posts/all") return r.set_content(posts, "text/xml");
      r.set_content("<result code=\"done\"/>", "text/xml");
    };
    for (const char* path : {"/v1/posts/all", "/v1/posts/add", "/v1/posts/delete", "/v1/tags/delete"})
      server.Get(path, handle);
    server.set_keep_alive_max_count(1);
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~FakeBookmarkService() {
    server.stop();
    thread.join();
  }
  std::vector<Seen> requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
  }

  httplib::SSLServer server;
  std::thread thread;
  std::mutex mutex;
  std::vector<Seen> seen;
  std::string posts = "<posts/>";
  int status = 200;
  int port = 0;
};

class BookmarkServiceTest : public SyncRecordsTest {
 protected:
  void SetUp() override {
    SyncRecordsTest::SetUp();
    alerts = TestAlertResponder::install();
    tls.trust();
    fnd::UserDefaults::standard().setString("https://127.0.0.1:" + std::to_string(fake.port), "PinboardAPIHost");
    auto client = ServiceClient::forService("pinboard");
    ASSERT_TRUE(client->connect("me", "p@ss"));
  }
  void TearDown() override {
    ServiceRequest::setLimitsForTesting(std::nullopt);
    LoopbackTLS::distrust();
    TestAlertResponder::uninstall();
    SyncRecordsTest::TearDown();
  }
  bool importNow(ServiceClient::ImportResult* out = nullptr) {
    bool done = false;
    ServiceClient::ImportResult result;
    ServiceClient::forService("pinboard")->import([&](const ServiceClient::ImportResult& r) {
      result = r;
      done = true;
    });
    bool finished = runUntil([&] { return done; }, 10);
    if (out) *out = result;
    return finished && result.ok;
  }
  Bookmark::Ref marked(const std::string& url, const std::string& hash) {
    auto b = Bookmark::newBookmark();
    b->setUniqueID(WrenEntity::uniqueID());
    b->setUrl(url);
    b->setTrashed(0);
    b->setServiceHash(hash);
    b->addService(Service::serviceNamed("pinboard"));
    return b;
  }
  Bookmark::List withURL(const std::string& url) {
    return Bookmark::fetchEntitiesWhereProperty("url", fnd::Value(url)).value_or(Bookmark::List{});
  }
  static std::vector<std::string> tagNames(const Bookmark::Ref& b) {
    std::vector<std::string> names;
    for (const auto& t : b->tags()) names.push_back(t->name());
    std::sort(names.begin(), names.end());
    return names;
  }

  LoopbackTLS tls;
  FakeBookmarkService fake{tls.identity};
  std::shared_ptr<TestAlertResponder> alerts;
};

TEST_F(BookmarkServiceTest, TheImportMergesThePostsAndTrashesOnlyWhatTheServiceDropped) {
  auto kept = marked("http://old.example/", "h-old");           // listed again: updated
  auto dropped = marked("http://dropped.example/", "h-drop");   // listed before, gone now: trashed
  auto pending = marked("http://pending.example/", "");         // never reached the service: kept
  auto plain = bookmark("P1", "http://new.example/", "Plain", folder("F", "F"));  // no mark: untouched
  save();
  fake.posts =
      "<posts user=\"me\">"
      "<post href=\"http://old.example/\" hash=\"h-old\" description=\"Old##semicolon##one##semicolon##\" "
      "extended=\"notes\" tag=\"a  b\" time=\"2015-03-07T18:04:59Z\"/>"
      "<post href=\"http://new.example/\" hash=\"h-new\" description=\"New\" extended=\"\" tag=\"\" time=\"bad\"/>"
      "</posts>";
  ClientOperations operations;
  ServiceClient::ImportResult result;
  ASSERT_TRUE(importNow(&result));
  // The request took the HTTP client's road.
  ASSERT_TRUE(runUntil([&] { return !operations.finished.empty(); }, 10));
  EXPECT_EQ(operations.started, std::vector<std::string>{"GET /v1/posts/all"});
  EXPECT_EQ(operations.finished, std::vector<std::string>{"GET /v1/posts/all"});
  EXPECT_EQ(result.added, 1);
  EXPECT_EQ(result.updated, 1);
  EXPECT_EQ(result.trashed, 1);
  auto old = withURL("http://old.example/");
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(old[0]->title(), "Old;one;");
  EXPECT_EQ(old[0]->notes(), "notes");
  EXPECT_EQ(tagNames(old[0]), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(old[0]->addedDate(), at(1425751499));
  // Same address without the mark: a second, marked bookmark; the time that does not parse
  // leaves the dates empty.
  auto news = withURL("http://new.example/");
  ASSERT_EQ(news.size(), 2u);
  auto imported = news[0]->isPinboard() ? news[0] : news[1];
  EXPECT_TRUE(imported->isPinboard());
  EXPECT_FALSE(imported->addedDate());
  EXPECT_TRUE(tagNames(imported).empty());
  EXPECT_EQ(find("P1")->title(), "Plain");
  EXPECT_EQ(withURL("http://dropped.example/")[0]->trashed(), 1);
  EXPECT_EQ(withURL("http://pending.example/")[0]->trashed(), 0);
  // Credentials only in the header.
  auto seen = fake.requests();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().path, "/v1/posts/all");
  EXPECT_EQ(seen.back().params["results"], "100000");
  EXPECT_EQ(seen.back().target.find("p@ss"), std::string::npos);
}

// The service's posts pass the same door as every other import: web addresses only, texts in
// their stored form, and a post whose stored address the library has updates that bookmark.
TEST_F(BookmarkServiceTest, TheImportStoresOnlyWebAddressesAndCleanTexts) {
  auto kept = marked("http://known.example/x", "h-known");
  save();
  fake.posts =
      "<posts user=\"me\">"
      "<post href=\"javascript:alert(1)\" hash=\"h1\" description=\"Script\"/>"
      "<post href=\"file:///etc/passwd\" hash=\"h2\" description=\"File\"/>"
      "<post href=\"\" hash=\"h3\" description=\"Nothing\"/>"
      "<post href=\" HTTPS://web.example/ \" hash=\"h4\" description=\"Ti&#x202E;tle&#x7F;\" "
      "extended=\"one&#10;two&#x85;\" tag=\"t&#x202E;ag plain\"/>"
      "<post href=\"http://known.example/&#x85;x\" hash=\"h-known\" description=\"Known\"/>"
      "</posts>";
  ServiceClient::ImportResult result;
  ASSERT_TRUE(importNow(&result));
  EXPECT_EQ(result.refused, 3);
  EXPECT_EQ(result.added, 1);
  EXPECT_EQ(result.updated, 1);
  EXPECT_EQ(result.trashed, 0);
  for (const char* title : {"Script", "File", "Nothing"})
    EXPECT_FALSE(Bookmark::fetchEntityWhereProperty("title", fnd::Value(std::string(title)))) << title;
  // Stored with its scheme in lower case, as at every door.
  auto web = withURL("https://web.example/");
  ASSERT_EQ(web.size(), 1u);
  EXPECT_EQ(web[0]->title(), "Title");
  EXPECT_EQ(web[0]->notes(), "one\ntwo");
  EXPECT_EQ(tagNames(web[0]), (std::vector<std::string>{"plain", "tag"}));
  ASSERT_EQ(withURL("http://known.example/x").size(), 1u);
  EXPECT_EQ(kept->title(), "Known");
}

TEST_F(BookmarkServiceTest, AnAnswerThatIsNoPostListChangesNothing) {
  auto listed = marked("http://listed.example/", "h1");
  save();
  for (std::string reply : {std::string("<result code=\"something went wrong\"/>"), std::string("<posts><post"),
                            std::string("")}) {
    fake.posts = reply;
    ServiceClient::ImportResult result;
    importNow(&result);
    EXPECT_FALSE(result.ok) << reply;
    EXPECT_EQ(withURL("http://listed.example/")[0]->trashed(), 0) << reply;
  }
}

TEST_F(BookmarkServiceTest, OnlyRefusedCredentialsDisconnectTheAccount) {
  fake.status = 503;
  EXPECT_FALSE(importNow());
  EXPECT_TRUE(Service::serviceNamed("pinboard"));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Error connecting to Pinboard");
  fake.status = 200;
  // Wrong password: the service refuses, the account goes.
  auto record = Service::serviceNamed("pinboard");
  record->setPassword(Base64::encodeString("wrong"));
  save();
  EXPECT_FALSE(importNow());
  EXPECT_FALSE(Service::serviceNamed("pinboard"));
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_NE(alerts->shown.back().message.find("wrong username or password"), std::string::npos);
  EXPECT_FALSE(ServiceClient::forService("pinboard")->isConnected());
}

// Only a server a trusted root issued hears the credentials; a refused certificate is a failed
// connection, not refused credentials, so the account stays.
TEST_F(BookmarkServiceTest, AServerNoTrustedRootIssuedGetsNoCredentials) {
  LoopbackTLS::distrust();
  EXPECT_FALSE(importNow());
  EXPECT_TRUE(fake.requests().empty());
  EXPECT_TRUE(Service::serviceNamed("pinboard"));
  tls.trust();
  fake.posts = "<posts user=\"me\"/>";
  EXPECT_TRUE(importNow());
  ASSERT_FALSE(fake.requests().empty());
  EXPECT_EQ(fake.requests().back().path, "/v1/posts/all");
}

// A server that misbehaves ends the import with an error that says what went wrong; nothing of
// its answer reaches the store, and the account stays.
TEST_F(BookmarkServiceTest, HostileServersGetAClearErrorAndNothingIsStored) {
  HostileService hostile(tls.identity,
                         "<posts user=\"me\"><post href=\"http://hostile.example/\" hash=\"h\" description=\"H\" "
                         "extended=\"\" tag=\"t\" time=\"2015-03-07T18:04:59Z\"/></posts>");
  fnd::UserDefaults::standard().setString(hostile.baseURL(), "PinboardAPIHost");
  for (const auto& [mode, says] : HostileService::cases()) {
    hostile.mode = mode;
    ServiceRequest::setLimitsForTesting(HostileService::hostileLimits(mode));
    alerts->shown.clear();
    EXPECT_FALSE(importNow()) << says;
    ASSERT_EQ(alerts->shown.size(), 1u) << says;
    EXPECT_NE(alerts->shown[0].message.find(says), std::string::npos) << alerts->shown[0].message;
    EXPECT_TRUE(withURL("http://hostile.example/").empty()) << says;
    EXPECT_TRUE(Service::serviceNamed("pinboard")) << says;
  }
  // Only the service's own address was asked; the redirects were not followed.
  for (const auto& request : hostile.requests()) EXPECT_EQ(request, "GET /v1/posts/all");
}

TEST_F(BookmarkServiceTest, TheHostDecidesTheSchemeAndPlainHttpStaysOnThisMachine) {
  auto& defaults = fnd::UserDefaults::standard();
  const std::vector<std::pair<std::string, std::string>> cases{
      {"api.example.org", "https://api.example.org/"},         {"http://api.example.org/", "https://api.example.org/"},
      {"127.0.0.1:8080", "http://127.0.0.1:8080/"},            {"http://localhost:81", "http://localhost:81/"},
      {"https://127.0.0.1:8443/", "https://127.0.0.1:8443/"}, {"", "https://api.pinboard.in/"}};
  for (const auto& [host, base] : cases) {
    defaults.setString(host, "PinboardAPIHost");
    EXPECT_EQ(ServiceClient::forService("pinboard")->apiBase(), base) << host;
  }
}

TEST_F(BookmarkServiceTest, PostsAddDeleteAndTagDeleteCarryTheirParameters) {
  auto b = marked("http://a.example/?q=1&x=2", "");
  b->setTitle("A title");
  b->setNotes("");
  for (const char* name : {"zeta", "alpha"}) {
    auto t = Tag::initEntity();
    t->setName(name);
    b->addTag(t);
  }
  save();
  auto client = ServiceClient::forService("pinboard");
  client->saveBookmark(*b);
  client->deleteBookmark("http://gone.example/");
  client->deleteTag("old tag");
  client.reset();  // a fresh client per call: the requests outlive it
  ASSERT_TRUE(runUntil([&] { return ServiceClient::requestsInFlight() == 0; }, 10));
  ASSERT_EQ(fake.requests().size(), 3u);
  std::map<std::string, FakeBookmarkService::Seen> byPath;
  for (const auto& s : fake.requests()) byPath[s.path] = s;
  auto& add = byPath["/v1/posts/add"].params;
  EXPECT_EQ(add["url"], "http://a.example/?q=1&x=2");
  EXPECT_EQ(add["description"], "A title");
  EXPECT_EQ(add["extended"], "");
  EXPECT_EQ(add["replace"], "1");
  EXPECT_EQ(add["tags"], "alpha zeta");  // the form the service reads back
  EXPECT_EQ(add["shared"], "no");
  EXPECT_EQ(byPath["/v1/posts/delete"].params["url"], "http://gone.example/");
  EXPECT_EQ(byPath["/v1/tags/delete"].params["tag"], "old tag");
  EXPECT_TRUE(ServiceClient::forService("pinboard")->isAlreadyPresent("http://a.example/?q=1&x=2"));
  bookmark("U1", "http://unmarked.example/", "U", folder("F2", "F2"));
  save();
  EXPECT_FALSE(ServiceClient::forService("pinboard")->isAlreadyPresent("http://unmarked.example/"));
  EXPECT_FALSE(ServiceClient::forService("pinboard")->isAlreadyPresent("http://a.example/?q=1&x=2 "));
}

TEST_F(BookmarkServiceTest, ConnectingNeedsTwoCharactersAndPinboardOnce) {
  auto delicious = ServiceClient::forService("delicious");
  EXPECT_FALSE(delicious->connect("m", "password"));
  EXPECT_FALSE(delicious->connect("me", "p"));
  EXPECT_TRUE(delicious->connect("me", "secret"));
  EXPECT_EQ(Service::serviceNamed("delicious")->password(), Base64::encodeString("secret"));
  EXPECT_FALSE(ServiceClient::forService("pinboard")->connect("other", "secret"));
  EXPECT_EQ(ServiceClient::dateFromServiceString("2015-03-07T18:04:59Z"), at(1425751499));
  EXPECT_FALSE(ServiceClient::dateFromServiceString("2015-03-07 18:04:59"));
}

}  // namespace
}  // namespace kesto::test
