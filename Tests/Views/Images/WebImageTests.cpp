#include "Views/DiskCacheManager.h"
#include "Views/WebImageDownloadRequest.h"
#include "Views/WebImageView.h"

#include "Harness/TestSupport.h"
#include "ImageServer.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"

#include <gtest/gtest.h>

using kesto::DiskCacheManager;
using kesto::WebImageDownloadRequest;
using kesto::WebImageView;
using kesto::net::URL;
using kesto::ui::Color;
using kesto::ui::Image;

namespace {

std::string png(const Color& color, int w = 8, int h = 6) {
  auto data = Image(w, h, color).encoded("png");
  return std::string(data.begin(), data.end());
}

URL url(const std::string& s) { return *URL::fromString(s); }

std::string cacheFolder() {
  return kesto::fnd::StandardPaths::cachesDirectory() + "/kesto/DiskCache/ImageWebCache";
}

struct Outcomes : kesto::WebImageViewDelegate {
  int successes = 0, failures = 0;
  void imageViewDownloadImageSuccessed(WebImageView&, const Image&, const kesto::fnd::Data&) override { ++successes; }
  void imageViewDownloadImageFailed(WebImageView&) override { ++failures; }
  bool done() const { return successes + failures > 0; }
};

bool isRed(const Image& image) {
  if (image.isNull()) return false;
  Color c = image.pixelColor(1, 1);
  return c.red > 0.9 && c.green < 0.1 && c.blue < 0.1;
}

}  // namespace

TEST(WebImage, DownloadsIntoTheViewAndServesLaterLoadsFromTheDiskCache) {
  kesto::test::ImageServer server;
  server.serve("/thumb.png", {200, "image/png", png(Color::rgb(1, 0, 0))});
  auto view = std::make_shared<WebImageView>(kesto::fnd::Rect(0, 0, 40, 30));
  Outcomes outcomes;
  view->setWebCacheDelegate(&outcomes);
  view->setImageURL(url(server.url("/thumb.png")));
  EXPECT_EQ(view->imageURL()->absoluteString(), server.url("/thumb.png"));
  ASSERT_TRUE(kesto::test::runUntil([&] { return outcomes.done(); }, 10));
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
    auto view = std::make_shared<WebImageView>(kesto::fnd::Rect(0, 0, 16, 16));
    Outcomes outcomes;
    view->setWebCacheDelegate(&outcomes);
    view->setImageURL(url(server.url(path)));
    ASSERT_TRUE(kesto::test::runUntil([&] { return outcomes.done(); }, 10)) << path;
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
    auto view = std::make_shared<WebImageView>(kesto::fnd::Rect(0, 0, 40, 30));
    view->setImage(placeholder);
    Outcomes outcomes;
    view->setWebCacheDelegate(&outcomes);
    view->setImageURL(url(server.url(path)));
    ASSERT_TRUE(kesto::test::runUntil([&] { return outcomes.done(); }, 10)) << path;
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
  auto view = std::make_shared<WebImageView>(kesto::fnd::Rect(0, 0, 40, 30));
  Outcomes outcomes;
  view->setWebCacheDelegate(&outcomes);
  view->setImageURL(url(server.url("/red.png")));
  view->setImageURL(url(server.url("/blue.png")));
  ASSERT_TRUE(kesto::test::runUntil([&] { return outcomes.done(); }, 10));
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
  auto view = std::make_shared<WebImageView>(kesto::fnd::Rect(0, 0, 40, 30));
  Outcomes outcomes;
  view->setWebCacheDelegate(&outcomes);
  view->setImageURL(url("file://" + path));
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
