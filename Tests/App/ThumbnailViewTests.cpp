// The library core's thumbnail views as the application wires them: web image views that load
// web addresses only.
#include "App/WebRemoteImageView.h"
#include "Harness/TestSupport.h"
#include "Model/RemoteImageView.h"
#include "Platform/UI/Image.h"
#include "Views/WebImageView.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

using ui::Color;
using ui::Image;

bool isRed(const Image& image) {
  if (image.isNull()) return false;
  Color c = image.pixelColor(1, 1);
  return c.red > 0.9 && c.green < 0.1 && c.blue < 0.1;
}

TEST(ThumbnailViews, TheLibraryCoreGetsWebImageViewsAndOnlyWebAddressesLoad) {
  EXPECT_FALSE(dynamic_cast<WebRemoteImageView*>(makeRemoteImageView(0, 0, 40, 30).get()))
      << "nothing to show on before the application wires its views";
  registerWebImageViews();
  auto remote = makeRemoteImageView(0, 0, 40, 30);
  auto* web = dynamic_cast<WebRemoteImageView*>(remote.get());
  ASSERT_NE(web, nullptr);
  EXPECT_EQ(web->view()->frame().size.width, 40);

  auto red = Image(4, 4, Color::rgb(1, 0, 0)).encoded("png");
  writeFile(tempHome() + "/secret.png", std::string(red.begin(), red.end()));
  remote->setImageURL("file://" + tempHome() + "/secret.png");
  EXPECT_FALSE(web->view()->imageURL());
  EXPECT_TRUE(web->view()->image().isNull());
  remote->setImageURL("not a url at all");
  EXPECT_FALSE(web->view()->imageURL());

  remote->setImageData(red);
  EXPECT_TRUE(isRed(web->view()->image()));
  remote->setImageData(std::nullopt);
  EXPECT_TRUE(web->view()->image().isNull());

  registerRemoteImageViewFactory(nullptr);
  EXPECT_FALSE(dynamic_cast<WebRemoteImageView*>(makeRemoteImageView(0, 0, 40, 30).get()));
}

}  // namespace
}  // namespace kesto::test
