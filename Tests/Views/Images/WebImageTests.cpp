#include "Views/DiskCacheManager.h"
#include "Views/ImageMemoryCache.h"
#include "Views/WebImageDownloadRequest.h"
#include "Views/WebImageView.h"

#include "Harness/TestSupport.h"
#include "ImageServer.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/UI/TestAccess_p.h"

#include <gtest/gtest.h>

using kesto::DiskCacheManager;
using kesto::WebImageDownloadRequest;
using kesto::WebImageView;
using kesto::net::URL;
using kesto::ui::Color;
using kesto::ui::Image;
using kesto::ui::TestAccess;

namespace {

std::string png(const Color& color, int w = 8, int h = 6) {
  auto data = Image(w, h, color).encoded("png");
  return std::string(data.begin(), data.end());
}

URL url(const std::string& s) { return *URL::fromString(s); }

// The shared image cache's folder: below the Caches folder of the home it was first used in, as
// a running program keeps it for its whole life.
std::string cacheFolder() { return kesto::WebImageDownloadRequest::fileCacheManagerInstance().cachePath(); }

// The shared image cache outlives each test: it is emptied after each, so no test is served
// what another downloaded (a later server can get the same port).
const kesto::test::StateReset imageCacheReset(
    [] { kesto::WebImageDownloadRequest::fileCacheManagerInstance().clearAllCache(); });

struct Outcomes : kesto::WebImageViewDelegate {
  int successes = 0, failures = 0;
  void imageViewDownloadImageSuccessed(WebImageView&, const Image&, const kesto::fnd::Data&) override { ++successes; }
  void imageViewDownloadImageFailed(WebImageView&) override { ++failures; }
  bool done() const { return successes + failures > 0; }
  // Runs the event loop until a load has ended, 10 s at most; answers whether one did.
  bool waitForEnd() {
    return kesto::test::runUntil([this] { return done(); }, 10);
  }
};

// A view of the size given that reports its loads to `outcomes`.
std::shared_ptr<WebImageView> viewReportingTo(Outcomes& outcomes, double width = 40, double height = 30) {
  auto view = std::make_shared<WebImageView>(kesto::fnd::Rect(0, 0, width, height));
  view->setWebCacheDelegate(&outcomes);
  return view;
}

// A view that has started loading `path` from `server`, telling `outcomes` how it ends.
std::shared_ptr<WebImageView> loadingView(kesto::test::ImageServer& server, const std::string& path,
                                          Outcomes& outcomes) {
  auto view = viewReportingTo(outcomes);
  view->setImageURL(url(server.url(path)));
  return view;
}

bool isRed(const Image& image) {
  if (image.isNull()) return false;
  Color c = image.pixelColor(1, 1);
  return c.red > 0.9 && c.green < 0.1 && c.blue < 0.1;
}

}  // namespace

TEST(WebImage, DownloadsIntoTheViewAndServesLaterLoadsFromTheDiskCache) {
  kesto::test::ImageServer server;
  server.serve("/thumb.png", {200, "image/png", png(Color::rgb(1, 0, 0))});
  Outcomes outcomes;
  auto view = loadingView(server, "/thumb.png", outcomes);
  EXPECT_EQ(view->imageURL()->absoluteString(), server.url("/thumb.png"));
  ASSERT_TRUE(outcomes.waitForEnd());
  EXPECT_EQ(outcomes.successes, 1);
  EXPECT_TRUE(isRed(view->image()));
  EXPECT_TRUE(isRed(view->snapshot())) << "and drawn over the view";
  EXPECT_FALSE(view->imageURL()) << "a finished load is forgotten";
  EXPECT_EQ(server.hits("/thumb.png"), 1);

  // On disk under the shared cache's folder, named by the MD5 of the address.
  std::string file = cacheFolder() + "/" + DiskCacheManager::md5(server.url("/thumb.png"));
  EXPECT_EQ(kesto::test::readFile(file), png(Color::rgb(1, 0, 0)));

  // As after a restart: the server is gone, a fresh view still shows the image at once.
  server.stop();
  auto again = std::make_shared<WebImageView>(kesto::fnd::Rect(0, 0, 40, 30));
  again->setImageURL(url(server.url("/thumb.png")));
  EXPECT_TRUE(isRed(again->image())) << "a cache hit shows before setImageURL returns";
  DiskCacheManager other(cacheFolder());
  EXPECT_TRUE(other.cacheDataExistForKey(server.url("/thumb.png")));
}

TEST(WebImage, FaviconsAndJpegThumbnailsDecode) {
  kesto::test::ImageServer server;
  auto ico = Image(16, 16, Color::rgb(1, 0, 0)).encoded("ico");
  auto jpg = Image(24, 18, Color::rgb(1, 0, 0)).encoded("jpg", 90);
  ASSERT_FALSE(ico.empty());
  server.serve("/favicon.ico", {200, "image/x-icon", std::string(ico.begin(), ico.end())});
  // A server that names the wrong type still gets its picture shown: the bytes decide.
  server.serve("/thumb", {200, "application/octet-stream", std::string(jpg.begin(), jpg.end())});
  for (const std::string path : {"/favicon.ico", "/thumb"}) {
    Outcomes outcomes;
    auto view = viewReportingTo(outcomes, 16, 16);
    view->setImageURL(url(server.url(path)));
    ASSERT_TRUE(outcomes.waitForEnd()) << path;
    EXPECT_EQ(outcomes.successes, 1) << path;
    EXPECT_TRUE(isRed(view->image())) << path;
  }
}

TEST(WebImage, ErrorPagesAndNonImagesKeepThePlaceholderAndAreNotCached) {
  kesto::test::ImageServer server;
  server.serve("/garbage.png", {200, "image/png", "this is no picture"});
  server.serve("/error.png", {500, "image/png", png(Color::rgb(0, 0, 1))});
  Image placeholder(8, 6, Color::rgb(1, 0, 0));
  for (const std::string path : {"/missing.png", "/garbage.png", "/error.png"}) {
    Outcomes outcomes;
    auto view = viewReportingTo(outcomes);
    view->setImage(placeholder);
    view->setImageURL(url(server.url(path)));
    ASSERT_TRUE(outcomes.waitForEnd()) << path;
    EXPECT_EQ(outcomes.failures, 1) << path;
    EXPECT_TRUE(isRed(view->image())) << path << ": the placeholder stays";
    EXPECT_FALSE(view->imageURL());
    EXPECT_FALSE(WebImageDownloadRequest::fileCacheManagerInstance().cacheDataExistForKey(server.url(path))) << path;
  }
}

TEST(WebImage, ANewURLSupersedesTheLoadInFlight) {
  kesto::test::ImageServer server;
  server.serve("/red.png", {200, "image/png", png(Color::rgb(1, 0, 0))});
  server.serve("/blue.png", {200, "image/png", png(Color::rgb(0, 0, 1))});
  Outcomes outcomes;
  auto view = loadingView(server, "/red.png", outcomes);
  view->setImageURL(url(server.url("/blue.png")));
  ASSERT_TRUE(outcomes.waitForEnd());
  kesto::test::spin(0.3);
  EXPECT_EQ(outcomes.successes, 1) << "the superseded load never reaches the view";
  Color c = view->image().pixelColor(1, 1);
  EXPECT_GT(c.blue, 0.9);

  // Same URL again: served from the cache at once, no second request.
  view->setImageURL(url(server.url("/blue.png")));
  EXPECT_EQ(outcomes.successes, 2);
  EXPECT_EQ(server.hits("/blue.png"), 1);
  // A URL differing only in letter case is another entry.
  view->setImageURL(url(server.url("/BLUE.png")));
  EXPECT_TRUE(view->imageURL());
  view->cancelWebImageLoad();
  EXPECT_FALSE(view->imageURL());
  EXPECT_GT(view->image().pixelColor(1, 1).blue, 0.9) << "cancelling keeps the image";
}

TEST(WebImage, LocalFilesAreNeverRead) {
  std::string path = kesto::test::tempHome() + "/secret.png";
  kesto::test::writeFile(path, png(Color::rgb(1, 0, 0)));
  Outcomes outcomes;
  auto view = viewReportingTo(outcomes);
  view->setImageURL(URL::fileURL(path));
  EXPECT_EQ(outcomes.failures, 1);
  EXPECT_TRUE(view->image().isNull());
  EXPECT_FALSE(view->imageURL());
}

TEST(WebImage, ResizeGivesTheExactSizeAndJpegBytes) {
  Image source(100, 20, Color::rgb(0, 1, 0));
  Image resized = kesto::imageadditions::resizeImage(source, kesto::fnd::Size{240, 180});
  EXPECT_EQ(resized.size().width, 240);
  EXPECT_EQ(resized.size().height, 180);
  EXPECT_GT(resized.pixelColor(200, 170).green, 0.9) << "stretched over the whole size";

  auto jpeg = kesto::imageadditions::compressImage(resized);
  ASSERT_GT(jpeg.size(), 2u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_TRUE(kesto::imageadditions::compressImage(Image()).empty());
  std::string path = kesto::test::tempHome() + "/t.jpg";
  EXPECT_TRUE(kesto::imageadditions::saveAsJpegWithName(resized, path));
  EXPECT_FALSE(Image::fromFile(path).isNull());
}

namespace {
kesto::fnd::Data bytes(const std::string& s) { return kesto::fnd::Data(s.begin(), s.end()); }
}  // namespace

// A picture shown again is the one decoded before, for the same bytes only; the least recently
// used pictures go once the budget is passed; bytes that are no picture are not kept.
TEST(ImageMemoryCache, SameBytesGiveTheKeptPictureAndTheBudgetDropsTheOldest) {
  const auto red = bytes(png(Color::rgb(1, 0, 0), 10, 10)), blue = bytes(png(Color::rgb(0, 0, 1), 10, 10));
  // Room for two 10 by 10 pictures with their bytes, not three.
  kesto::ImageMemoryCache cache(2 * (400 + red.size()) + 100);
  Image first = cache.imageForData("a", red);
  ASSERT_TRUE(isRed(first));
  EXPECT_EQ(TestAccess::impl(cache.imageForData("a", red)), TestAccess::impl(first)) << "not decoded again";
  // New bytes under the same address (a picture fetched anew) are decoded.
  Image replaced = cache.imageForData("a", blue);
  EXPECT_NE(TestAccess::impl(replaced), TestAccess::impl(first));
  EXPECT_FALSE(isRed(replaced));
  EXPECT_EQ(cache.count(), 1u);

  cache.imageForData("b", red);
  cache.imageForData("a", blue);  // used last: "b" is the oldest now
  cache.imageForData("c", red);
  EXPECT_EQ(cache.count(), 2u);
  EXPECT_LE(cache.cost(), cache.budget());
  EXPECT_EQ(TestAccess::impl(cache.imageForData("a", blue)), TestAccess::impl(replaced)) << "the recently used one stays";
  const std::size_t kept = cache.count();
  Image fresh = cache.imageForData("b", red);
  EXPECT_TRUE(isRed(fresh));
  EXPECT_EQ(cache.count(), kept) << "the budget still holds";

  EXPECT_TRUE(cache.imageForData("junk", bytes("this is no picture")).isNull());
  cache.remove("b");
  cache.remove("absent");
  EXPECT_LE(cache.count(), 2u);
  for (const std::string key : {"a", "b", "c"}) cache.remove(key);
  EXPECT_EQ(cache.count(), 0u);
  EXPECT_EQ(cache.cost(), 0u);

  // A picture larger than the whole budget is shown, not kept.
  kesto::ImageMemoryCache tiny(10);
  EXPECT_TRUE(isRed(tiny.imageForData("big", red)));
  EXPECT_EQ(tiny.count(), 0u);
}

// A view loading an address whose picture the shared cache already decoded shows that picture.
TEST(ImageMemoryCache, WebImageViewsShareDecodedPictures) {
  kesto::test::ImageServer server;
  server.serve("/shared.png", {200, "image/png", png(Color::rgb(1, 0, 0))});
  Outcomes outcomes;
  auto first = loadingView(server, "/shared.png", outcomes);
  ASSERT_TRUE(outcomes.waitForEnd());
  ASSERT_TRUE(isRed(first->image()));
  auto second = std::make_shared<WebImageView>(kesto::fnd::Rect(0, 0, 40, 30));
  second->setImageURL(url(server.url("/shared.png")));  // from the disk cache, at once
  EXPECT_EQ(TestAccess::impl(second->image()), TestAccess::impl(first->image()));
  EXPECT_EQ(server.hits("/shared.png"), 1);
}
