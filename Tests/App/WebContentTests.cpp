// Page titles, favicons and thumbnails: reading a page's head in its charset, the fetch job
// against a loopback web server, and the updater that writes results into the store.
#include "AppFixture.h"
#include "App/EditorController.h"
#include "Views/PushButton.h"

#include "App/PaneControllers.h"
#include "App/TilePinView.h"
#include "App/WebContent.h"
#include "Model/BookmarkServiceClient.h"
#include "App/TransferDialogs.h"
#include "App/WebContentUpdater.h"
#include "Synchronize/HTMLImport.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Platform/Store/Context.h"
#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Net/LoopbackServer.h"
#include "Platform/UI/Image.h"
#include "Synchronize/TestAlertResponder.h"
#include "Harness/StoreOnDisk.h"
#include "Harness/TestDialogResponder.h"
#include "Sidebar/SidebarKeys.h"
#include "Views/DiskCacheManager.h"
#include "Views/SourceList.h"
#include "Views/SourceListItem.h"
#include "Views/TextLabel.h"
#include "Views/TileCollectionView.h"
#include "Views/WebImageDownloadRequest.h"
#include "Views/WebImageView.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace kesto::test {
namespace {

std::string bytesOf(const fnd::Data& d) { return std::string(d.begin(), d.end()); }

std::string imageBytes(const char* format, int w, int h, const ui::Color& colour) {
  return bytesOf(ui::Image(w, h, colour).encoded(format));
}

// ---- reading pages ----

TEST(PageHead, TitleMetaAndIconLinkFollowTheAttributeOrder) {
  auto head = WebContent::readPageHead(
      "<html><head><title>A &amp; B</title>"
      "<meta title='first' name='description'><meta name='description' title='Meta'>"
      "<link href='/wrong.png' rel='icon'><link rel='shortcut icon' href='/right.ico'>"
      "</head><body><title>not this</title><link rel=icon href=/body.png></body></html>");
  EXPECT_EQ(head.title, "A & B");
  EXPECT_EQ(head.metaTitle, "Meta");
  EXPECT_EQ(head.faviconLink, "/right.ico");

  // Unclosed, upper-case markup without html or head elements still has a head.
  head = WebContent::readPageHead("<TITLE>Bare\n page</TITLE><LINK REL=icon HREF=x.png><p>text");
  EXPECT_EQ(head.title, "Bare  page");  // the line break is no stored character
  EXPECT_EQ(head.faviconLink, "x.png");

  head = WebContent::readPageHead("<html><head><title></title></head></html>");
  EXPECT_EQ(head.title, "");
  head = WebContent::readPageHead("<html><head><meta name=other></head><body>no head data</body></html>");
  EXPECT_FALSE(head.title);
  EXPECT_FALSE(head.metaTitle);
  EXPECT_FALSE(head.faviconLink);
}

TEST(PageHead, TheTitleFallsBackToTheMetaTitleAndThenTheHost) {
  fnd::Dictionary pin{{"url", fnd::Value("http://host.example/page")}, {"uniqueID", fnd::Value("U")}};
  WebContent job(pin, true, false);
  EXPECT_EQ(job.extractTitleFromContent("<title>T</title>"), "T");
  EXPECT_EQ(job.extractTitleFromContent("<meta name=description title=M>"), "M");
  EXPECT_EQ(job.extractTitleFromContent("<meta title=M name=description>"), "host.example");
  EXPECT_EQ(job.findTitleFromMetaInContent("<title>T</title>"), "host.example");
  WebContent hostless({{"url", fnd::Value("about:blank")}}, true, false);
  EXPECT_FALSE(hostless.extractTitleFromContent("<p>nothing"));
}

TEST(PageText, TheCharsetComesFromTheReplyThenTheMetaDeclarationThenUtf8) {
  const std::string cafe = "Caf\xC3\xA9";
  auto latin1 = *fnd::encodeText("<title>" + cafe + "</title>", "ISO-8859-1");
  EXPECT_EQ(WebContent::decodePage(latin1, std::string("iso-8859-1")), "<title>" + cafe + "</title>");
  // The reply's charset wins over a declaration that says otherwise.
  auto declared = *fnd::encodeText("<meta charset=utf-8><title>" + cafe + "</title>", "windows-1252");
  EXPECT_NE(WebContent::decodePage(declared, std::string("windows-1252"))->find(cafe), std::string::npos);
  // Without one, the declaration is read.
  const std::string russian = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
  auto cp1251 = *fnd::encodeText("<meta http-equiv=Content-Type content='text/html; charset=windows-1251'><title>" +
                                     russian + "</title>",
                                 "windows-1251");
  auto page = WebContent::decodePage(cp1251, std::nullopt);
  ASSERT_TRUE(page);
  EXPECT_EQ(WebContent::readPageHead(*page).title, russian);
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC";  // 日本
  auto sjis = *fnd::encodeText("<meta charset=\"Shift_JIS\"><title>" + japanese + "</title>", "Shift_JIS");
  EXPECT_EQ(WebContent::readPageHead(*WebContent::decodePage(sjis, std::nullopt)).title, japanese);
  // A label that cannot be used, or that the bytes are not valid in, gives way to the next rule.
  auto utf7 = WebContent::decodePage("<meta charset=\"UTF-7\"><title>a+b " + cafe + "</title>", std::string("utf-7"));
  ASSERT_TRUE(utf7);
  EXPECT_EQ(WebContent::readPageHead(*utf7).title, "a+b " + cafe);
  EXPECT_EQ(WebContent::readPageHead(*WebContent::decodePage(cp1251, std::string("utf-8"))).title, russian);
  // Else UTF-8; bytes that are not text in the charset are no text.
  EXPECT_EQ(WebContent::decodePage("<title>" + cafe, std::nullopt), "<title>" + cafe);
  EXPECT_FALSE(WebContent::decodePage("\x89PNG\r\n\x1a\n\xff\xfe\xfd", std::nullopt));
  // A body cut inside a character at the size limit still reads.
  EXPECT_EQ(WebContent::decodePage("<title>" + cafe.substr(0, cafe.size() - 1), std::nullopt), "<title>Caf");
  // A byte-order mark goes.
  EXPECT_EQ(WebContent::decodePage(fnd::encodeUTF16LEWithBOM("<title>x</title>"), std::nullopt), "<title>x</title>");
}

TEST(PageText, EscapesAreRepairedAndTitlesMadeStorable) {
  EXPECT_EQ(WebContent::repairEscapes("http://h/a%23b%2525c%E0"), "http://h/a#b%c\xC3\xA0");
  EXPECT_EQ(WebContent::storableTitle("a\tb\xC2\x85" "c\xE2\x80\xAE" "d\xE2\x80\xA8"), "a b cd ");
  EXPECT_EQ(WebContent::storableTitle(std::string(70000, 'x')).size(), 64u * 1024);
}

TEST(PageText, APageCutAtTheSizeLimitStillHasItsHead) {
  std::string page = "<html><head><title>Big</title></head><body>";
  page.append(WebContent::kMaximumBodySize - page.size(), 'x');
  auto text = WebContent::decodePage(page, std::nullopt);
  ASSERT_TRUE(text);
  EXPECT_EQ(WebContent::readPageHead(*text).title, "Big");
}

TEST(PageText, TheFaviconAddressIsOnTheSiteAndOnlyHttp) {
  EXPECT_EQ(WebContent::faviconAddress("http://h.example:8080/deep/page", std::nullopt),
            "http://h.example:8080/favicon.ico");
  EXPECT_EQ(WebContent::faviconAddress("http://h.example/deep/page", std::string("img/i.png")),
            "http://h.example/img/i.png");
  EXPECT_EQ(WebContent::faviconAddress("http://h.example/", std::string("https://cdn.example/i.ico")),
            "https://cdn.example/i.ico");
  EXPECT_FALSE(WebContent::faviconAddress("http://h.example/", std::string("file:///etc/passwd")));
  EXPECT_FALSE(WebContent::faviconAddress("file:///etc/passwd", std::nullopt));
}

// ---- a loopback web server ----

class PageServer {
 public:
  PageServer() {
    loopback_.server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      std::unique_lock lock(mutex_);
      ++hits_[request.path];
      targets_.push_back(request.target);
      ++inFlight_;
      maxInFlight_ = std::max(maxInFlight_, inFlight_);
      held_.wait(lock, [&] { return !holding_.count(request.path) || stopping_; });
      if (delay_ > 0) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_));
        lock.lock();
      }
      --inFlight_;
      auto it = routes_.find(request.path);
      if (it == routes_.end()) {
        response.status = 404;
        response.set_content("<html><head><title>Nothing here</title></head></html>", "text/html");
        return;
      }
      if (it->second.redirect.size()) {
        response.set_redirect(it->second.redirect);
        return;
      }
      response.status = it->second.status;
      response.set_content(it->second.body, it->second.type);
    });
    loopback_.start();
  }
  ~PageServer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    held_.notify_all();
  }
  void page(const std::string& path, std::string body, std::string type = "text/html", int status = 200) {
    std::lock_guard lock(mutex_);
    routes_[path] = Route{std::move(body), std::move(type), status, {}};
  }
  void redirect(const std::string& path, const std::string& to) {
    std::lock_guard lock(mutex_);
    routes_[path] = Route{{}, {}, 302, to};
  }
  // Requests for `path` wait until released.
  void hold(const std::string& path) {
    std::lock_guard lock(mutex_);
    holding_.insert(path);
  }
  void release(const std::string& path) {
    {
      std::lock_guard lock(mutex_);
      holding_.erase(path);
    }
    held_.notify_all();
  }
  void setDelay(int milliseconds) { delay_ = milliseconds; }
  int hits(const std::string& path) {
    std::lock_guard lock(mutex_);
    return hits_[path];
  }
  int maxInFlight() {
    std::lock_guard lock(mutex_);
    return maxInFlight_;
  }
  // Requests whose target holds `part`.
  int hitsWith(const std::string& part) {
    std::lock_guard lock(mutex_);
    return int(std::count_if(targets_.begin(), targets_.end(),
                             [&](const std::string& t) { return t.find(part) != std::string::npos; }));
  }
  std::string url(const std::string& path) const { return loopback_.url(path, "127.0.0.1"); }

 private:
  struct Route {
    std::string body, type;
    int status = 200;
    std::string redirect;
  };
  std::mutex mutex_;
  std::condition_variable held_;
  std::map<std::string, Route> routes_;
  std::map<std::string, int> hits_;
  std::vector<std::string> targets_;
  std::set<std::string> holding_;
  int inFlight_ = 0, maxInFlight_ = 0;
  std::atomic<int> delay_{0};
  bool stopping_ = false;
  // Last, so it stops before what its handlers use goes.
  LoopbackServer loopback_;
};

// What one job reported, in order.
struct Reports {
  std::vector<fnd::NotificationName> names;
  bool finished = false;
};

class WebContentJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WebContent::forgetReachability();
    fnd::UserDefaults::standard().setString(server.url("/reachable"), WebContent::kReachabilityURLDefaultsKey);
    server.page("/reachable", "ok", "text/plain");
  }
  void TearDown() override { fnd::NotificationCenter::defaultCenter().removeObserver(this); }

  std::shared_ptr<WebContent> run(fnd::Dictionary pin, Reports& reports, bool isSingle = false) {
    if (!pin.count("uniqueID")) pin["uniqueID"] = fnd::Value("ID");
    auto job = WebContent::initWithBookmarkDictionary(pin, true, isSingle);
    auto& center = fnd::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    for (auto name : {BRWWebContentRetrievedNotification, BRWWebPreviewRetrievedNotification})
      center.addObserver(this, [&reports, name, job](const fnd::Notification& n) {
        if (n.userInfo.at(kWebContentKey).object() == job) reports.names.push_back(name);
      }, name);
    job->download([&reports] { reports.finished = true; });
    EXPECT_TRUE(runUntil([&] { return reports.finished; }, 20));
    return job;
  }
  fnd::Dictionary pinFor(const std::string& path, std::optional<std::string> title = std::nullopt) {
    fnd::Dictionary pin{{"url", fnd::Value(fnd::addPercentEscapes(server.url(path)))}, {"needsUpdate", fnd::Value(1)}};
    if (title) pin["title"] = fnd::Value(*title);
    return pin;
  }

  PageServer server;
};

TEST_F(WebContentJobTest, TitlesInSeveralCharsetsAndTheirFavicons) {
  const std::string cafe = "Caf\xC3\xA9";
  server.page("/latin1", *fnd::encodeText("<title>" + cafe + "</title><link rel=icon href=/i.png>", "ISO-8859-1"),
              "text/html; charset=ISO-8859-1");
  server.page("/i.png", imageBytes("png", 16, 16, ui::Color::rgb(0, 0, 1)), "image/png");
  Reports reports;
  auto job = run(pinFor("/latin1"), reports);
  EXPECT_EQ(job->title(), cafe);
  EXPECT_EQ(job->titleUpdated(), 1);
  EXPECT_EQ(job->needsUpdate(), 0);
  EXPECT_FALSE(job->broken());
  EXPECT_EQ(job->url(), server.url("/latin1"));
  ASSERT_TRUE(job->favicon());
  EXPECT_EQ(ui::Image::fromData(*job->favicon()).size().width, 16);
  // Content, preview, then the favicon's preview.
  EXPECT_EQ(reports.names, (std::vector<fnd::NotificationName>{BRWWebContentRetrievedNotification, BRWWebPreviewRetrievedNotification,
                                                     BRWWebPreviewRetrievedNotification}));

  // An ICO favicon at the site's root (no link in the page) arrives as PNG.
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC";
  server.page("/dir/sjis", *fnd::encodeText("<meta charset=Shift_JIS><title>" + japanese + "</title>", "Shift_JIS"));
  server.page("/favicon.ico", imageBytes("ico", 32, 32, ui::Color::rgb(1, 0, 0)), "image/x-icon");
  Reports sjis;
  job = run(pinFor("/dir/sjis"), sjis, true);
  EXPECT_EQ(job->title(), japanese);
  ASSERT_TRUE(job->favicon());
  EXPECT_EQ(bytesOf(*job->favicon()).substr(1, 3), "PNG");
  EXPECT_EQ(ui::Image::fromData(*job->favicon()).size().width, 16) << "stored at the size it is drawn";
  EXPECT_EQ(sjis.names, std::vector<fnd::NotificationName>(3, BRWWebContentRetrievedNotification));

  // A page labelled UTF-7, by its reply and by itself, keeps its title, read as a browser reads it.
  server.page("/utf7", "<meta charset=utf-7><title>" + cafe + " +AOk- 1+1</title>", "text/html; charset=utf-7");
  Reports utf7;
  job = run(pinFor("/utf7"), utf7, true);
  EXPECT_EQ(job->title(), cafe + " +AOk- 1+1");
}

// A favicon is kept at the size the views draw it (16 x 16, proportions kept), never larger and
// never blown up: a site's megabyte icon must not sit in every row and backup.
TEST_F(WebContentJobTest, FaviconsAreStoredAtTheSizeTheyAreDrawn) {
  const std::pair<std::pair<int, int>, std::pair<double, double>> cases[] = {
      {{2048, 1024}, {16, 8}}, {{300, 600}, {8, 16}}, {{16, 16}, {16, 16}}, {{8, 8}, {8, 8}}};
  int n = 0;
  for (const auto& [given, kept] : cases) {
    const std::string page = "/p" + std::to_string(n), icon = "/i" + std::to_string(n++) + ".png";
    server.page(page, "<title>T</title><link rel=icon href=" + icon + ">");
    const std::string bytes = imageBytes("png", given.first, given.second, ui::Color::rgb(0, 0.5, 0));
    server.page(icon, bytes, "image/png");
    Reports reports;
    auto job = run(pinFor(page), reports);
    ASSERT_TRUE(job->favicon()) << given.first;
    const auto size = ui::Image::fromData(*job->favicon()).size();
    EXPECT_EQ(size.width, kept.first) << given.first << "x" << given.second;
    EXPECT_EQ(size.height, kept.second) << given.first << "x" << given.second;
    EXPECT_LE(job->favicon()->size(), 2048u);
  }
}

TEST_F(WebContentJobTest, PagesWithoutTitlesErrorPagesAndRedirects) {
  server.page("/none", "<html><body>no title</body></html>");
  Reports reports;
  auto job = run(pinFor("/none", std::string("New bookmark")), reports);
  EXPECT_EQ(job->title(), "127.0.0.1");
  EXPECT_FALSE(job->favicon());  // favicon.ico answered 404
  EXPECT_EQ(server.hits("/favicon.ico"), 1);
  EXPECT_EQ(reports.names.size(), 2u);

  // An error page is a page: its title is the title.
  Reports missing;
  job = run(pinFor("/missing"), missing);
  EXPECT_EQ(job->title(), "Nothing here");
  EXPECT_FALSE(job->broken());

  server.page("/target", "<title>Target</title>");
  server.redirect("/moved", "/target");
  Reports moved;
  job = run(pinFor("/moved"), moved);
  EXPECT_EQ(job->title(), "Target");
  EXPECT_EQ(job->url(), server.url("/moved"));

  // A settled title stays; a title that says nothing does not count as settled.
  Reports settled;
  auto pin = pinFor("/target", std::string("Mine"));
  pin["titleUpdated"] = fnd::Value(1);
  EXPECT_EQ(run(pin, settled)->title(), "Mine");
  Reports nothing;
  pin = pinFor("/target", std::string(WebContent::kNoServerTitle));
  pin["titleUpdated"] = fnd::Value(1);
  EXPECT_EQ(run(pin, nothing)->title(), "Target");
}

TEST_F(WebContentJobTest, OnlyWebAddressesAndBoundedBodiesAreRead) {
  // A favicon link to a local file is never read.
  server.page("/fileicon", "<title>F</title><link rel=icon href='file:///etc/hostname'>");
  Reports reports;
  auto job = run(pinFor("/fileicon"), reports);
  EXPECT_EQ(job->title(), "F");
  EXPECT_FALSE(job->favicon());
  EXPECT_EQ(reports.names.size(), 2u);

  // A file: or ftp: bookmark is no web page: it is not fetched, so not found broken either,
  // and has nothing left to update.
  for (const char* address : {"file:///etc/hostname", "ftp://127.0.0.1:9/pub/file.txt"}) {
    Reports other;
    job = run({{"url", fnd::Value(address)}, {"title", fnd::Value("Local")}, {"needsUpdate", fnd::Value(1)}}, other);
    EXPECT_FALSE(job->broken()) << address;
    EXPECT_EQ(job->needsUpdate(), 0) << address;
    EXPECT_EQ(job->title(), "Local");
    EXPECT_EQ(job->url(), address);
    EXPECT_EQ(other.names.size(), 1u);
  }

  // A redirect to a file is not followed either: the page is broken.
  server.redirect("/tofile", "file:///etc/hostname");
  Reports redirected;
  job = run(pinFor("/tofile", std::string("Kept")), redirected);
  EXPECT_TRUE(job->broken());
  EXPECT_EQ(job->title(), "Kept");

  // A 10 MB page is read from its first 4 MiB, which hold its title.
  std::string big = "<html><head><title>Big</title></head><body>";
  big.append(10u << 20, 'x');
  // Not a text type, which the test server would take many seconds to compress.
  server.page("/big", big, "application/octet-stream");
  Reports largePage;
  job = run(pinFor("/big"), largePage);
  EXPECT_EQ(job->title(), "Big");
  // A favicon over the limit is none, though it is a picture that decodes; one just under it
  // is taken. (Uncompressed, so the size is the picture's.)
  server.page("/bigicon", "<title>B</title><link rel=icon href=/huge.bmp>");
  const std::string huge = imageBytes("bmp", 1200, 1200, ui::Color::rgb(0, 1, 0));
  ASSERT_GT(huge.size(), WebContent::kMaximumBodySize);
  ASSERT_FALSE(ui::Image::fromData(fnd::Data(huge.begin(), huge.end())).isNull());
  server.page("/huge.bmp", huge, "image/bmp");
  Reports hugeIcon;
  EXPECT_FALSE(run(pinFor("/bigicon"), hugeIcon)->favicon());
  server.page("/largeicon", "<title>L</title><link rel=icon href=/large.bmp>");
  const std::string large = imageBytes("bmp", 1150, 1150, ui::Color::rgb(0, 1, 0));
  ASSERT_LT(large.size(), WebContent::kMaximumBodySize);
  server.page("/large.bmp", large, "image/bmp");
  Reports largeIcon;
  EXPECT_TRUE(run(pinFor("/largeicon"), largeIcon)->favicon());
}

TEST_F(WebContentJobTest, BrokenPagesAndAnOfflineMachine) {
  const std::string closed = "http://127.0.0.1:9/page";
  Reports broken;
  auto job = run({{"url", fnd::Value(closed)}, {"title", fnd::Value("Old")}, {"needsUpdate", fnd::Value(1)}}, broken);
  EXPECT_TRUE(job->broken());
  EXPECT_EQ(job->needsUpdate(), 0);
  EXPECT_EQ(job->imageUpdated(), 1);
  EXPECT_EQ(job->title(), "Old");
  EXPECT_EQ(broken.names, std::vector<fnd::NotificationName>{BRWWebContentRetrievedNotification});

  // Offline: the reachability page does not answer either.
  fnd::UserDefaults::standard().setString("http://127.0.0.1:9/", WebContent::kReachabilityURLDefaultsKey);
  WebContent::forgetReachability();
  Reports offline;
  job = run({{"url", fnd::Value(closed)}, {"title", fnd::Value("New bookmark")}, {"needsUpdate", fnd::Value(1)}},
            offline);
  EXPECT_FALSE(job->broken());
  EXPECT_EQ(job->title(), "127.0.0.1 (no internet connection)");
  EXPECT_EQ(job->titleUpdated(), 0);
  EXPECT_EQ(job->needsUpdate(), 1);
  EXPECT_EQ(job->imageUpdated(), 0);
  // A settled title is kept offline.
  Reports kept;
  job = run({{"url", fnd::Value(closed)}, {"title", fnd::Value("Typed")}, {"titleUpdated", fnd::Value(1)},
             {"needsUpdate", fnd::Value(1)}},
            kept);
  EXPECT_EQ(job->title(), "Typed");
}

// ---- the updater and the store ----

// The readiness check against a thumbnail service answering with bodies of chosen lengths.
TEST_F(WebContentJobTest, TheReadinessCheckWaitsOutThePlaceholderAndReadsTheByteThreshold) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString(server.url(""), Bookmark::kThumbnailHostDefaultsKey);
  defaults.setBool(false, "IsRetina");
  WebContent::setPeekRetryInterval(0.02);
  auto check = [&](std::size_t length, std::vector<fnd::NotificationName>& told) {
    server.page("/v2/thumbs.php", std::string(length, 'x'), "image/jpeg");
    auto job = WebContent::initWithBookmarkDictionary(pinFor("/page"), true, false);
    fnd::NotificationCenter::defaultCenter().addObserver(this, [&told, job](const fnd::Notification& n) {
      if (n.userInfo.at(kWebContentKey).object() == job) told.push_back(n.name);
    }, BRWWebPreviewRetrievedNotification);
    job->downloadThumbnail();
    EXPECT_TRUE(runUntil([&] { return !told.empty(); }, 10)) << length;
    spin(0.1);
    fnd::NotificationCenter::defaultCenter().removeObserver(this);
    return job;
  };
  // The placeholder four times over: asked four times, then told once, still to be updated.
  std::vector<fnd::NotificationName> told;
  auto job = check(WebContent::kPlaceholderSize, told);
  EXPECT_EQ(server.hits("/v2/thumbs.php"), 4);
  EXPECT_EQ(told.size(), 1u);
  EXPECT_EQ(job->needsUpdate(), 1);
  EXPECT_EQ(job->imageUpdated(), 0);
  EXPECT_EQ(job->numberOfPeekAttempts(), 4);
  EXPECT_EQ(server.hitsWith("size=m"), 4);
  EXPECT_EQ(server.hitsWith("wait="), 0);
  // Just under the threshold: told at once, nothing marked.
  told.clear();
  job = check(WebContent::kReadyBytes - 1, told);
  EXPECT_EQ(server.hits("/v2/thumbs.php"), 5);
  EXPECT_EQ(job->imageUpdated(), 0);
  EXPECT_EQ(job->needsUpdate(), 1);
  // At the threshold the thumbnail counts as fetched.
  told.clear();
  job = check(WebContent::kReadyBytes, told);
  EXPECT_EQ(job->imageUpdated(), 1);
  EXPECT_EQ(job->needsUpdate(), 0);
  // A high-resolution screen asks for the large size, whose placeholder is another length:
  // the small one's length is a rendered thumbnail there.
  defaults.setBool(true, "IsRetina");
  told.clear();
  job = check(WebContent::kPlaceholderSize, told);
  EXPECT_EQ(job->numberOfPeekAttempts(), 1);
  EXPECT_EQ(job->imageUpdated(), 1);
  EXPECT_EQ(server.hitsWith("size=l"), 1);
  defaults.removeObject("IsRetina");
  WebContent::setPeekRetryInterval(WebContent::kDefaultPeekRetryInterval);
}

class WebContentStoreTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    registerSidebarPaneFactory([] { return makeEmptySidebarPane(); });
    WebContentUpdater::setFetchingEnabled(true);
    WebContent::forgetReachability();
    server.page("/reachable", "ok", "text/plain");
    defaults().setString(server.url("/reachable"), WebContent::kReachabilityURLDefaultsKey);
  }
  void TearDown() override {
    WebContentUpdater::setFetchingEnabled(false);
    registerSidebarPaneFactory(nullptr);
    AppTest::TearDown();
  }
  Bookmark::Ref bookmarkFor(const std::string& path, const std::string& title = {}) {
    auto b = Bookmark::addBookmarkWithURL(server.url(path), Folder::Ref());
    if (!title.empty()) {
      b->setTitle(title);
      b->saveBookmark();
    }
    return b;
  }
  bool idle() { return controller().webContentUpdater().fetchesRunning() == 0 &&
                       controller().webContentUpdater().pendingResults() == 0; }
  // The thumbnail service on the same loopback server as the pages, answering with one picture.
  void serveThumbnails() {
    defaults().setString(server.url(""), Bookmark::kThumbnailHostDefaultsKey);
    server.page("/v2/thumbs.php", imageBytes("png", 24, 18, ui::Color::rgb(1, 0, 0)), "image/png");
  }
  // The list's first cell, laid out.
  std::shared_ptr<TilePinView> firstCell() {
    auto& cv = *ui->collectionView();
    cv.layoutSubtreeIfNeeded();
    return std::dynamic_pointer_cast<TilePinView>(cv.cellForItemAtIndexPath(IndexPath::forItem(0, 0)));
  }

  PageServer server;
};

// With the real sidebar and its History list.
class WebContentHistoryTest : public WebContentStoreTest {
 protected:
  void SetUp() override {
    WebContentStoreTest::SetUp();
    registerSidebarPaneFactory(nullptr);
  }
  // The badge of the History entry `identifier` as the sidebar shows it; absent without one.
  std::optional<std::int64_t> historyBadge(const std::string& identifier) {
    std::vector<ui::View*> views{ui->sidebarPane().view().get()};
    while (!views.empty()) {
      ui::View* view = views.back();
      views.pop_back();
      if (auto* list = dynamic_cast<SourceList*>(view))
        for (long row = 0; row < list->numberOfRows(); ++row)
          if (auto* item = sourcelistitems::itemFrom(list->itemAtRow(row)); item && item->identifier() == identifier)
            return item->badgeValue();
      for (const auto& sub : view->subviews()) views.push_back(sub.get());
    }
    return std::nullopt;
  }
};

// A page fetched while the History list is shown dates the bookmark's change today, and the
// list's counts say so at once, as they do after an edit.
TEST_F(WebContentHistoryTest, AFetchedPageCountsAsModifiedTodayWhileHistoryIsShown) {
  server.page("/old", "<title>Old page</title>");
  auto old = bookmarkFor("/old", "Kept");
  const fnd::Date daysAgo = fnd::Date::now().dateByAddingTimeInterval(-5 * 86400.0);
  old->setAddedDate(daysAgo);
  old->setUpdatedDate(daysAgo);
  ASSERT_TRUE(WrenEntity::saveContext());
  defaults().setString(SelectedHistoryView, SelectedView);
  build(0);
  ASSERT_TRUE(runUntil([&] { return historyBadge("ModifiedToday").has_value(); }, 5));
  ASSERT_EQ(historyBadge("ModifiedToday"), std::optional<std::int64_t>(0));
  controller().webContentUpdater().updateBookmarks(std::vector<std::string>{*old->uniqueIDValue()});
  ASSERT_TRUE(runUntil([&] { return idle() && old->updatedDate() && *old->updatedDate() > daysAgo; }, 20));
  EXPECT_TRUE(runUntil([&] { return historyBadge("ModifiedToday") == std::optional<std::int64_t>(1); }, 5))
      << historyBadge("ModifiedToday").value_or(-1);
  EXPECT_EQ(historyBadge("AddedToday"), std::optional<std::int64_t>(0));
}

TEST_F(WebContentStoreTest, HandedInBookmarksGetTitlesAndFaviconsAndBrokenOnesAreMarked) {
  build(0);
  server.page("/one", "<title>One</title><link rel=icon href=/one.ico>");
  server.page("/one.ico", imageBytes("ico", 16, 16, ui::Color::rgb(0, 1, 0)), "image/vnd.microsoft.icon");
  server.page("/two", "<title>Two</title>");
  auto one = bookmarkFor("/one");
  auto two = bookmarkFor("/two");
  auto gone = Bookmark::addBookmarkWithURL("http://127.0.0.1:9/gone", Folder::Ref());
  spin(0.05);
  BookmarksController::undoManager()->removeAllActions();
  controller().updateBookmarks(std::vector<Bookmark::Ref>{one, two, gone});
  ASSERT_TRUE(runUntil([&] { return idle() && one->favicon(); }, 20));
  EXPECT_EQ(one->title(), "One");
  EXPECT_EQ(two->title(), "Two");
  EXPECT_EQ(one->titleUpdated(), 1);
  EXPECT_EQ(one->needsUpdate(), 0);
  EXPECT_FALSE(ui::Image::fromData(*one->favicon()).isNull());
  // Decoded in memory: no file is named after the bookmark's identifier.
  EXPECT_FALSE(std::filesystem::exists(std::string(std::getenv("XDG_DATA_HOME")) + "/kesto/Cache/" + *one->uniqueIDValue()));
  EXPECT_FALSE(two->favicon());
  EXPECT_EQ(gone->broken(), 1);
  EXPECT_EQ(gone->title(), "New bookmark");
  // In the store, not only in memory; and no step for Undo to take back.
  EXPECT_FALSE(WrenDataManager::sharedInstance().managedObjectContext()->hasChanges());
  EXPECT_FALSE(BookmarksController::undoManager()->canUndo());
}

// Results arriving together are written as one batch, and only the rows shown for them are
// drawn again: the list is not reloaded, and a broken mark refreshes no folder list.
TEST_F(WebContentStoreTest, ResultsArrivingTogetherRedrawOnlyTheirRowsOnce) {
  serveThumbnails();
  std::vector<Bookmark::Ref> made;
  for (int i = 0; i < 6; ++i) {
    server.page("/r" + std::to_string(i), "<title>R" + std::to_string(i) + "</title>");
    made.push_back(bookmarkFor("/r" + std::to_string(i), "Old " + std::to_string(i)));
  }
  made.push_back(Bookmark::addBookmarkWithURL("http://127.0.0.1:9/gone", Folder::Ref()));
  ASSERT_TRUE(WrenEntity::saveContext());
  build(7);
  int reloads = 0, rowUpdates = 0, sidebar = 0;
  std::set<const void*> redrawn;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [&](const fnd::Notification&) { ++reloads; }, BRWUpdateBookmarksViewNotification);
  center.addObserver(this, [&](const fnd::Notification&) { ++sidebar; }, BRWUpdateFoldersViewNotification);
  center.addObserver(this, [&](const fnd::Notification& n) {
    ++rowUpdates;
    for (const void* b : ViewUpdater::changedBookmarks(n)) redrawn.insert(b);
  }, BRWUpdateBookmarkRowsNotification);
  std::vector<std::string> ids;
  for (const auto& b : made) ids.push_back(*b->uniqueIDValue());
  controller().webContentUpdater().updateBookmarks(ids);
  ASSERT_TRUE(runUntil([&] { return idle() && made[5]->title() == "R5" && made[6]->broken() == 1; }, 20));
  center.removeObserver(this);
  EXPECT_EQ(reloads, 0);
  EXPECT_EQ(sidebar, 0);
  EXPECT_GE(rowUpdates, 1);
  EXPECT_LE(rowUpdates, 2);
  std::set<const void*> expected;
  for (const auto& b : made) expected.insert(b.get());
  EXPECT_EQ(redrawn, expected);
  // The cells shown carry the page titles, none the old ones.
  ui->collectionView()->layoutSubtreeIfNeeded();
  int pages = 0;
  for (const auto& cell : ui->collectionView()->visibleCells())
    if (auto pin = std::dynamic_pointer_cast<TilePinView>(cell); pin && pin->title) {
      const std::string title = pin->title->stringValue();
      EXPECT_NE(title.rfind("Old ", 0), 0u) << title;
      if (title.rfind("R", 0) == 0) ++pages;
    }
  EXPECT_GE(pages, 1);
}

// A quit while page results are arriving: what arrived is in the store when the quit's last save
// is made (not left to a batch the exit would cut off, which leaves a live journal), nothing is
// fetched or written afterwards, and the store is left without a journal.
TEST_F(WebContentStoreTest, AQuitWritesTheResultsThatArrivedAndNothingAfter) {
  std::vector<Bookmark::Ref> made;
  std::vector<std::string> ids;
  for (int i = 0; i < 30; ++i) {
    server.page("/q" + std::to_string(i), "<title>Q" + std::to_string(i) + "</title>");
    made.push_back(bookmarkFor("/q" + std::to_string(i), "Old " + std::to_string(i)));
    ids.push_back(*made.back()->uniqueIDValue());
  }
  ASSERT_TRUE(WrenEntity::saveContext());
  build(30);
  auto& updater = controller().webContentUpdater();
  updater.updateBookmarks(ids);
  ASSERT_TRUE(runUntil([&] { return updater.pendingResults() > 0; }, 20));
  const std::size_t arrived = updater.pendingResults();
  app().applicationWillTerminate();
  const std::string store = WrenDataManager::sharedInstance().persistentStorePath();
  auto titledOnDisk = [&] {
    return std::stoi(firstValueOnDisk(store, "SELECT count(*) FROM ZBOOKMARK WHERE ZTITLE LIKE 'Q%'").value_or("-1"));
  };
  const int written = titledOnDisk();
  EXPECT_GE(written, static_cast<int>(arrived)) << "results that arrived before the quit were not written";
  EXPECT_FALSE(std::filesystem::exists(store + "-journal"));
  // Pages still answering afterwards are not written.
  spin(WebContentUpdater::kGatherSeconds + 0.3);
  EXPECT_EQ(titledOnDisk(), written);
}

TEST_F(WebContentStoreTest, AnOnlineServiceBookmarkIsSentAgainWithItsTitle) {
  struct Recorder : BookmarkServiceClient {
    std::vector<std::string>* sent;
    explicit Recorder(std::vector<std::string>* s) : sent(s) {}
    void saveBookmark(Bookmark& b) override { sent->push_back(b.title().value_or("")); }
    void deleteBookmark(const std::string&) override {}
  };
  std::vector<std::string> sent;
  registerBookmarkServiceClientFactory([&](const std::string&) { return std::make_unique<Recorder>(&sent); });
  build(0);
  auto service = Service::initEntity();
  service->setName(Service::kPinboard);
  ASSERT_TRUE(WrenEntity::saveContext());
  server.page("/pinned", "<title>Pinned page</title>");
  auto pin = Bookmark::addBookmarWithURL(server.url("/pinned"), "pinboard");
  ASSERT_TRUE(pin && pin->isPinboard());
  sent.clear();
  controller().updateBookmarks(std::vector<Bookmark::Ref>{pin});
  ASSERT_TRUE(runUntil([&] { return idle() && pin->title() == "Pinned page"; }, 20));
  registerBookmarkServiceClientFactory(nullptr);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "Pinned page");
}

TEST_F(WebContentStoreTest, ImportedBookmarksGetFaviconsAndKeepTheFilesTitles) {
  build(0);
  server.page("/imported", "<title>Page title</title><link rel=icon href=/imported.png>");
  server.page("/imported.png", imageBytes("png", 16, 16, ui::Color::rgb(1, 1, 0)), "image/png");
  const std::string file = makeTempDir("import") + "/bookmarks.html";
  writeFile(file, "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><A HREF=\"" + server.url("/imported") +
                      "\">From the file</A>\n</DL><p>\n");
  // File > Import Bookmarks…: no skipping of duplicates, and the file.
  auto responder = TestDialogResponder::install();
  responder->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  responder->openAnswers.push_back(std::vector<std::string>{file});
  app().transferDialogs().openImportDialog();
  TestDialogResponder::uninstall();
  Bookmark::Ref imported;
  ASSERT_TRUE(runUntil([&] {
    imported = Bookmark::fetchEntityWhereProperty("url", fnd::Value(server.url("/imported")));
    return imported && imported->favicon() && idle();
  }, 20));
  EXPECT_EQ(imported->title(), "From the file");
  EXPECT_EQ(server.hits("/imported"), 1);
}

// Imported addresses whose escapes say something are fetched as they are and stay as they are:
// the update stores no other address and changes no version (which would carry a change to
// other machines).
TEST_F(WebContentStoreTest, TheUpdateAfterAnImportLeavesTheAddressesAsStored) {
  build(0);
  server.page("/page", "<title>Escaped</title>");
  const std::string escaped = server.url("/page?q=a%26b&path=%2Fx%2Fy&h=%23frag");
  const std::string nested = server.url("/caf%C3%A9/a%20b?n=%2541");
  const std::vector<std::string> expected{escaped, server.url("/caf\xC3\xA9/a b?n=%2541"), "data:text/plain,a%26b c",
                                          "mailto:someone@example.org?subject=a%26b"};
  const std::string file = makeTempDir("import") + "/bookmarks.html";
  std::string html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
  for (const auto& url : {escaped, nested, std::string("data:text/plain,a%26b%20c"), expected[3]})
    html += "<DT><A HREF=\"" + url + "\">Mine</A>\n";
  writeFile(file, html + "</DL><p>\n");
  auto responder = TestDialogResponder::install();
  responder->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  responder->openAnswers.push_back(std::vector<std::string>{file});
  app().transferDialogs().openImportDialog();
  TestDialogResponder::uninstall();
  std::vector<Bookmark::Ref> imported;
  ASSERT_TRUE(runUntil([&] {
    imported.clear();
    for (const auto& url : expected)
      if (auto b = Bookmark::fetchEntityWhereProperty("url", fnd::Value(url))) imported.push_back(b);
    return imported.size() == expected.size();
  }, 20));
  std::vector<std::int64_t> versions;
  for (const auto& b : imported) versions.push_back(b->version());
  ASSERT_TRUE(
      runUntil([&] { return server.hits("/page") == 1 && server.hits("/caf\xC3\xA9/a b") == 1 && idle(); }, 20));
  // Asked for with the escapes it has.
  EXPECT_EQ(server.hitsWith("/page?q=a%26b&path=%2Fx%2Fy&h=%23frag"), 1);
  for (std::size_t i = 0; i < imported.size(); ++i) {
    EXPECT_EQ(imported[i]->url(), expected[i]);
    EXPECT_EQ(imported[i]->version(), versions[i]) << expected[i];
  }
  EXPECT_EQ(imported[0]->needsUpdate(), 0);
  // So in the store, not only in memory.
  EXPECT_FALSE(WrenDataManager::sharedInstance().managedObjectContext()->hasChanges());
}

// After an import only the imported bookmarks' pages are fetched, the first of them as the file
// lists them; bookmarks the library already held without content are left for the user to ask.
TEST_F(WebContentStoreTest, AnImportFetchesTheImportedPagesOnly) {
  build(0);
  server.page("/old", "<title>Old</title>");
  auto old = bookmarkFor("/old");
  std::string file = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
  for (int i = 0; i < 3; ++i) {
    server.page("/new" + std::to_string(i), "<title>New</title>");
    file += "<DT><A HREF=\"" + server.url("/new" + std::to_string(i)) + "\">New " + std::to_string(i) + "</A>\n";
  }
  const std::string path = makeTempDir("import") + "/bookmarks.html";
  writeFile(path, file + "</DL><p>\n");
  auto responder = TestDialogResponder::install();
  responder->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  responder->openAnswers.push_back(std::vector<std::string>{path});
  app().transferDialogs().openImportDialog();
  TestDialogResponder::uninstall();
  ASSERT_TRUE(runUntil([&] {
    return server.hits("/new0") + server.hits("/new1") + server.hits("/new2") == 3 && idle();
  }, 20));
  const auto& ids = app().transferDialogs().htmlImport().importedBookmarkIDs();
  ASSERT_EQ(ids.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    auto b = Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(ids[static_cast<std::size_t>(i)]));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->url(), server.url("/new" + std::to_string(i))) << "in the file's order";
  }
  spin(0.1);
  EXPECT_EQ(server.hits("/old"), 0);
  EXPECT_EQ(old->imageUpdated(), 0);
}

TEST_F(WebContentStoreTest, ABookmarkDeletedDuringItsFetchDoesNotComeBack) {
  build(0);
  server.page("/slow", "<title>Slow</title>");
  server.hold("/slow");
  auto b = bookmarkFor("/slow");
  const std::string id = *b->uniqueIDValue();
  controller().updateBookmarks(std::vector<Bookmark::Ref>{b});
  ASSERT_TRUE(runUntil([&] { return server.hits("/slow") == 1; }, 10));
  dm().removeBookmarks({b});
  Bookmark::deleteBookmarks({b});
  ASSERT_TRUE(WrenEntity::saveContext());
  b.reset();
  server.release("/slow");
  ASSERT_TRUE(runUntil([&] { return idle(); }, 20));
  spin(0.1);
  EXPECT_FALSE(Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(id)));
  EXPECT_EQ(Bookmark::fetchEntities().value_or(Bookmark::List{}).size(), 0u);
}

TEST_F(WebContentStoreTest, WhatTheUserChangesMeanwhileIsKept) {
  build(0);
  server.page("/edited", "<title>Fetched</title>");
  server.hold("/edited");
  auto b = bookmarkFor("/edited");
  controller().updateBookmarks(std::vector<Bookmark::Ref>{b});
  ASSERT_TRUE(runUntil([&] { return server.hits("/edited") == 1; }, 10));
  b->setTitle(std::string("Mine"));
  b->setUrl(server.url("/edited?by=hand"));
  b->saveBookmark();
  server.release("/edited");
  ASSERT_TRUE(runUntil([&] { return idle(); }, 20));
  EXPECT_EQ(b->title(), "Mine");
  EXPECT_EQ(b->url(), server.url("/edited?by=hand"));
  EXPECT_EQ(b->needsUpdate(), 0);
}

TEST_F(WebContentStoreTest, ATitleTypedInTheAddSheetSurvivesAnOfflineFetch) {
  build(0);
  defaults().setString("http://127.0.0.1:9/", WebContent::kReachabilityURLDefaultsKey);
  controller().setAddDelay(0);
  controller().doAddBookmarks({"http://127.0.0.1:9/typed"}, "Typed by hand");
  controller().doAddBookmarks({"http://127.0.0.1:9/untyped"});
  auto typed = Bookmark::fetchEntityWhereProperty("url", fnd::Value("http://127.0.0.1:9/typed"));
  auto untyped = Bookmark::fetchEntityWhereProperty("url", fnd::Value("http://127.0.0.1:9/untyped"));
  ASSERT_TRUE(typed && untyped);
  ASSERT_TRUE(runUntil([&] { return idle() && untyped->needsUpdate() == 1 && untyped->titleUpdated() == 0 &&
                                    untyped->title() != "New bookmark"; }, 20));
  EXPECT_EQ(untyped->title(), "127.0.0.1 (no internet connection)");
  EXPECT_EQ(typed->title(), "Typed by hand");
  EXPECT_EQ(typed->titleUpdated(), 1);
}

TEST_F(WebContentStoreTest, AtMostTenPagesAreFetchedAtOnce) {
  build(0);
  server.setDelay(40);
  std::vector<Bookmark::Ref> made;
  for (int i = 0; i < 30; ++i) {
    server.page("/p" + std::to_string(i), "<title>P" + std::to_string(i) + "</title>");
    made.push_back(bookmarkFor("/p" + std::to_string(i)));
  }
  controller().updateBookmarks(made);
  ASSERT_TRUE(runUntil([&] { return idle() && made.back()->title() == "P29"; }, 30));
  for (int i = 0; i < 30; ++i) EXPECT_EQ(made[i]->title(), "P" + std::to_string(i));
  EXPECT_LE(server.maxInFlight(), WebContentUpdater::kMaximumConcurrentFetches);
  EXPECT_GE(server.maxInFlight(), 2);
}

// Many new bookmarks start their fetches a slice per turn of the event loop, each once; one
// deleted before its slice came up is not fetched.
TEST_F(WebContentStoreTest, ManyNewBookmarksAreFetchedASliceATurnEachOnce) {
  build(0);
  const int count = static_cast<int>(WebContentUpdater::kBatchSize) + 10;
  std::vector<Bookmark::Ref> made;
  for (int i = 0; i < count; ++i) {
    server.page("/p" + std::to_string(i), "<title>P" + std::to_string(i) + "</title>");
    made.push_back(bookmarkFor("/p" + std::to_string(i)));
  }
  controller().updateBookmarks(made);
  const int gone = count - 5;
  made[gone]->deleteBookmark();
  ASSERT_TRUE(WrenEntity::saveContext());
  ASSERT_TRUE(runUntil([&] { return idle() && made.back()->title() == "P" + std::to_string(count - 1); }, 30));
  for (int i = 0; i < count; ++i) EXPECT_EQ(server.hits("/p" + std::to_string(i)), i == gone ? 0 : 1) << i;
}

TEST_F(WebContentStoreTest, UpdateFromWebReloadsTheThumbnailOnlyThen) {
  serveThumbnails();
  server.page("/thumbed", "<title>Thumbed</title>");
  auto b = bookmarkFor("/thumbed", "Thumbed");
  build(1);
  auto cell = [&] { return firstCell(); };
  ASSERT_TRUE(cell());
  // The list's cells ask with wait=120 (the menu-bar list, another client, with 60).
  ASSERT_TRUE(runUntil([&] { return !cell()->thumbnail->image().isNull(); }, 10));
  EXPECT_EQ(server.hitsWith("wait=120"), 1);
  const std::string key = Bookmark::thumbnailRequestURL(*b->url(), "l", 120);
  EXPECT_TRUE(WebImageDownloadRequest::fileCacheManagerInstance().cacheDataExistForKey(key));
  // Another refresh draws it from the cache.
  controller().updateView();
  spin(0.3);
  EXPECT_EQ(server.hitsWith("wait=120"), 1);
  // Update from web forgets the cached picture and asks the service again.
  dm().setSelectedBookmarks({b});
  controller().updateWebContentForSelectedBookmarks();
  EXPECT_FALSE(WebImageDownloadRequest::fileCacheManagerInstance().cacheDataExistForKey(key));
  ASSERT_TRUE(runUntil([&] { return idle() && server.hitsWith("wait=120") == 2; }, 20));
  EXPECT_EQ(server.hits("/thumbed"), 1);
  EXPECT_EQ(b->valueForKey("isUpdating").boolValue(), false);
}

TEST_F(WebContentStoreTest, AThumbnailSetFromAFileOutlivesUpdateFromWebUntilRemoved) {
  defaults().setString(server.url(""), Bookmark::kThumbnailHostDefaultsKey);
  server.page("/v2/thumbs.php", imageBytes("png", 24, 18, ui::Color::rgb(1, 0, 0)), "image/png");
  server.page("/own", "<title>Own</title>");
  auto b = bookmarkFor("/own", "Own");
  const auto own = ui::Image(240, 180, ui::Color::rgb(0, 0, 1)).encoded("png");
  b->setThumbnail(own);
  b->setThumbnailManuallySet(1);
  b->saveBookmark();
  build(1);
  dm().setSelectedBookmarks({b});
  dm().setCurrentBookmark(b);
  ViewUpdater::updateInspector();
  auto& editor = dynamic_cast<EditorController&>(ui->inspectorController());
  EXPECT_FALSE(editor.views().deleteThumbnailButton->isHidden());
  EXPECT_FALSE(editor.views().thumbnailButton->image().isNull());
  controller().updateWebContentForSelectedBookmarks();
  ASSERT_TRUE(runUntil([&] { return idle() && server.hits("/own") == 1 && !b->valueForKey("isUpdating").boolValue(); }, 20));
  EXPECT_EQ(b->thumbnailManuallySet(), 1);
  ASSERT_TRUE(b->thumbnail());
  EXPECT_EQ(*b->thumbnail(), own);
  // The inspector's delete button takes it away; the service's picture is what shows then.
  editor.views().deleteThumbnailButton->performClick();
  EXPECT_EQ(b->thumbnailManuallySet(), 0);
  EXPECT_FALSE(b->thumbnail());
  EXPECT_FALSE(WrenDataManager::sharedInstance().managedObjectContext()->hasChanges());
  EXPECT_TRUE(editor.views().deleteThumbnailButton->isHidden());
  EXPECT_TRUE(editor.views().thumbnailButton->image().isNull());
}

// While a bookmark's title and favicon come in, its cell is drawn again and again: the thumbnail
// service is asked once, and the one answer is shown.
TEST_F(WebContentStoreTest, ABookmarkBeingFilledInAsksForItsThumbnailOnce) {
  serveThumbnails();
  server.hold("/v2/thumbs.php");
  server.page("/fresh", "<title>Fresh</title><link rel=icon href=/fresh.png>");
  server.page("/fresh.png", imageBytes("png", 16, 16, ui::Color::rgb(0, 0, 1)), "image/png");
  auto b = bookmarkFor("/fresh");
  build(1);
  ASSERT_TRUE(firstCell());
  ASSERT_TRUE(runUntil([&] { return server.hitsWith("wait=120") >= 1; }, 10));
  controller().updateBookmarks({b});
  ASSERT_TRUE(runUntil([&] { return idle() && b->title() == "Fresh" && b->favicon(); }, 20));
  for (int i = 0; i < 3; ++i) controller().updateView();
  ASSERT_TRUE(firstCell());
  spin(0.2);
  EXPECT_EQ(server.hitsWith("wait=120"), 1);
  server.release("/v2/thumbs.php");
  ASSERT_TRUE(runUntil([&] { return !firstCell()->thumbnail->image().isNull(); }, 10));
  EXPECT_EQ(server.hitsWith("wait=120"), 1);
}

// A list rebuilt while its pictures are on their way lets their loads go: the service had those
// requests all the same, so they count, and a failing service is asked at most the bound in all.
TEST_F(WebContentStoreTest, PicturesLetGoBeforeTheirAnswerCountTowardTheBound) {
  defaults().setString(server.url(""), Bookmark::kThumbnailHostDefaultsKey);
  server.page("/v2/thumbs.php", "gone", "text/plain", 404);
  server.hold("/v2/thumbs.php");
  WebImageDownloadRequest::setRetryInterval(0);
  bookmarkFor("/rebuilt", "Rebuilt");
  for (int round = 0; round < 3 * WebImageDownloadRequest::kMaximumAttempts; ++round) {
    build(1);
    ASSERT_TRUE(firstCell());
    // Each load within the bound reaches the service before its list goes, however slow the
    // machine; past the bound a short look finds none.
    if (round < WebImageDownloadRequest::kMaximumAttempts)
      ASSERT_TRUE(runUntil([&] { return server.hitsWith("wait=120") > round; }, 30));
    else
      runUntil([&] { return server.hitsWith("wait=120") > round; }, 0.5);
    ui.reset();
    spin(0.05);
  }
  server.release("/v2/thumbs.php");
  // Answered with the 404 at last: still no more.
  build(1);
  ASSERT_TRUE(firstCell());
  spin(0.3);
  controller().updateView();
  spin(0.3);
  EXPECT_EQ(server.hitsWith("wait=120"), WebImageDownloadRequest::kMaximumAttempts);
  WebImageDownloadRequest::setRetryInterval(WebImageDownloadRequest::kDefaultRetryInterval);
}

// Only web pages have pictures: an ftp: bookmark's address never reaches the thumbnail service,
// from the list, the inspector's view or a page fetch, and it is not marked broken.
TEST_F(WebContentStoreTest, OnlyWebAddressesGoToTheThumbnailService) {
  serveThumbnails();
  auto ftp = Bookmark::addBookmarkWithURL("ftp://files.example/pub/a.txt", Folder::Ref());
  EXPECT_EQ(Bookmark::thumbnailRequestURL("ftp://files.example/pub/a.txt", "l", 120), "");
  EXPECT_EQ(Bookmark::thumbnailRequestURL("FILE:///etc/passwd", "l", 60), "");
  EXPECT_EQ(Bookmark::thumbnailRequestURL("javascript:alert(1)", "l", 60), "");
  EXPECT_NE(Bookmark::thumbnailRequestURL("HTTPS://upper.example/", "l", 60), "");
  build(1);
  ASSERT_TRUE(firstCell());
  ftp->tempThumbnail();
  controller().updateBookmarks({ftp});
  ASSERT_TRUE(runUntil([&] { return idle(); }, 20));
  spin(0.3);
  EXPECT_EQ(server.hitsWith("files.example"), 0);
  EXPECT_EQ(server.hitsWith("thumbs.php"), 0);
  EXPECT_EQ(ftp->broken(), 0);
  EXPECT_EQ(ftp->url(), "ftp://files.example/pub/a.txt");
}

TEST_F(WebContentStoreTest, TheFolderRunRefusesMoreThanAThousand) {
  build(0);
  auto folder = addFolder("Big", Folder::kRootID);
  for (int i = 0; i < 1001; ++i) {
    auto b = Bookmark::newBookmark();
    b->setUrl("http://127.0.0.1:9/" + std::to_string(i));
    b->setFolder(folder);
  }
  ASSERT_TRUE(WrenEntity::saveContext());
  dm().setCurrentFolder(folder);
  WebContentUpdater::setFetchingEnabled(false);
  auto presenter = TestAlertResponder::install();
  ViewUpdater::fetchMissingImagesInFolder();
  TestAlertResponder::uninstall();
  ASSERT_EQ(presenter->shown.size(), 1u);
  EXPECT_EQ(presenter->shown.front().title, "Kesto");
  EXPECT_NE(presenter->shown.front().message.find("more than 1000 bookmarks"), std::string::npos);
}

TEST_F(WebContentStoreTest, AThumbnailFromAFileIsStoredAt240By180) {
  auto b = bookmarkFor("/picked", "Picked");
  build(1);
  const std::string dir = makeTempDir("pictures");
  ui::Image(400, 100, ui::Color::rgb(0, 0, 1)).writeToFile(dir + "/wide.JPG");
  ui::Image(10, 10, ui::Color::rgb(0, 0, 1)).writeToFile(dir + "/small.GIF");
  auto responder = TestDialogResponder::install();
  // The bookmark selected, as a right click on it leaves it.
  auto select = [&] {
    dm().setSelectedBookmarks({b});
    dm().setCurrentBookmark(b);
  };
  select();
  // An upper-case GIF is offered but not taken.
  responder->openAnswers.push_back(std::vector<std::string>{dir + "/small.GIF"});
  controller().updateThumbnailManually();
  ASSERT_TRUE(runUntil([&] { return responder->panels.size() == 1; }, 5));
  spin(0.05);
  EXPECT_FALSE(b->thumbnail());
  EXPECT_EQ(b->thumbnailManuallySet(), 0);
  responder->openAnswers.push_back(std::vector<std::string>{dir + "/wide.JPG"});
  select();
  controller().updateThumbnailManually();
  ASSERT_TRUE(runUntil([&] { return b->thumbnailManuallySet() == 1; }, 5));
  TestDialogResponder::uninstall();
  ASSERT_TRUE(b->thumbnail());
  auto stored = ui::Image::fromData(*b->thumbnail());
  EXPECT_EQ(stored.size().width, 240);
  EXPECT_EQ(stored.size().height, 180);
  EXPECT_EQ(bytesOf(*b->thumbnail()).substr(1, 3), "PNG");
  EXPECT_FALSE(WrenDataManager::sharedInstance().managedObjectContext()->hasChanges());
}

}  // namespace
}  // namespace kesto::test
