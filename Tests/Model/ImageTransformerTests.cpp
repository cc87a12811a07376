// The image attributes' transformer: whatever image format arrives, the store keeps PNG.
#include "Model/Bookmark.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenImageToDataTransformer.h"
#include "Platform/Foundation/ImageTranscoding.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/Image.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace kesto::test {
namespace {

std::string head(const fnd::Data& d, std::size_t n = 4) { return std::string(d.begin(), d.begin() + std::min(n, d.size())); }

// The codecs come from the widget layer, as the application's start installs them.
class ImageTransformer : public ::testing::Test {
 protected:
  void SetUp() override { ui::Image::installPNGTranscoder(); }
  void TearDown() override { fnd::setPNGTranscoder(nullptr); }
};

TEST_F(ImageTransformer, StoresPngWhateverArrives) {
  WrenImageToDataTransformer transformer;
  const ui::Image picture(16, 8, ui::Color::rgb(0, 1, 0));
  for (const char* format : {"ico", "jpg", "bmp", "tiff"}) {
    auto stored = transformer.transformedValue(fnd::Value(picture.encoded(format)));
    ASSERT_TRUE(stored.isData()) << format;
    EXPECT_EQ(head(stored.data()), "\x89PNG") << format;
    auto back = ui::Image::fromData(transformer.reverseTransformedValue(stored).data());
    EXPECT_EQ(back.size().width, 16) << format;
    EXPECT_EQ(back.size().height, 8) << format;
  }
  // PNG is kept byte for byte; bytes that are no image, and values that are no data, store nothing.
  const fnd::Data png = picture.encoded("png");
  EXPECT_EQ(transformer.transformedValue(fnd::Value(png)).data(), png);
  EXPECT_TRUE(transformer.transformedValue(fnd::Value(fnd::Data{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i'})).isNull());
  EXPECT_TRUE(transformer.transformedValue(fnd::Value("text")).isNull());
  EXPECT_TRUE(transformer.transformedValue(fnd::Value(fnd::Data{})).isNull());
}

TEST_F(ImageTransformer, AFaviconInIcoFormatReadsBackAsPngFromTheStore) {
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  auto b = Bookmark::newBookmark();
  b->setUrl(std::string("http://ico.example/"));
  b->setFavicon(ui::Image(32, 32, ui::Color::rgb(1, 0, 0)).encoded("ico"));
  ASSERT_TRUE(WrenEntity::saveContext());
  const std::string id = *b->uniqueIDValue();
  b.reset();
  WrenDataManager::sharedInstance().managedObjectContext()->reset();
  auto again = Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(id));
  ASSERT_TRUE(again && again->favicon());
  EXPECT_EQ(head(*again->favicon()), "\x89PNG");
  EXPECT_EQ(ui::Image::fromData(*again->favicon()).size().width, 32);
}

TEST(ImageTransformerWithoutCodecs, KeepsWhatArrivesAndStillRefusesNonData) {
  fnd::setPNGTranscoder(nullptr);
  WrenImageToDataTransformer transformer;
  const fnd::Data ico = ui::Image(8, 8, ui::Color::rgb(0, 0, 1)).encoded("ico");
  EXPECT_FALSE(fnd::transcodeToPNG(ico));
  EXPECT_EQ(transformer.transformedValue(fnd::Value(ico)).data(), ico);
  EXPECT_TRUE(transformer.transformedValue(fnd::Value("text")).isNull());
  EXPECT_TRUE(transformer.transformedValue(fnd::Value(fnd::Data{})).isNull());
  // Installed from another thread's point of view too: a store context saves on its own.
  ui::Image::installPNGTranscoder();
  std::optional<fnd::Data> png;
  std::thread([&] { png = fnd::transcodeToPNG(ico); }).join();
  fnd::setPNGTranscoder(nullptr);
  ASSERT_TRUE(png);
  EXPECT_EQ(head(*png), "\x89PNG");
}

}  // namespace
}  // namespace kesto::test
