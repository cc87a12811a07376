#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/TestAccess_p.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kesto::ui;

namespace {

// Every image name the interface asks for: toolbar, sidebar, bookmark cells, preferences,
// status item, path bar and backgrounds.
const std::vector<std::string> kNames = {
    "toolbar_add", "toolbar_open_in_browser", "toolbar_quicklook", "toolbar_update", "toolbar_trash",
    "toolbar_info", "toolbar_sync", "toolbar_sync_selected", "safari", "chrome", "firefox", "opera",
    "thumbnail_view", "thumbnail_view_selected", "list_view", "list_view_selected", "new_list",
    "new_list_selected", "folder_search", "collapse_left", "collapse_right", "folder_menu_sort_user",
    "folder_menu_sort_az", "rating_desc", "rating_desc_selected", "title_asc", "title_asc_selected",
    "date_asc", "date_asc_selected", "date_desc", "date_desc_selected", "visited_desc",
    "visited_desc_selected", "favorite_desc", "favorite_desc_selected", "folder_library", "folder_inbox",
    "folder_import", "pinboard_folders", "delicious_folders", "blocked", "folder_grey", "folder_blue",
    "folder_red", "folder_green", "folder_yellow", "folder_orange", "folder_smart", "sourcelist_today",
    "sourcelist_yesterday", "sourcelist_week", "sourcelist_month", "sourcelist_top25", "sourcelist_5stars",
    "sourcelist_notes", "sourcelist_tags", "sourcelist_credentials", "sourcelist_favorites",
    "sourcelist_duplicates", "sourcelist_broken", "sourcelist_empty_trash", "bookmark_green",
    "bookmark_grey", "bookmark_blue", "bookmark_orange", "bookmark_red", "bookmark_yellow",
    "bookmark_warning", "bookmark_favorite", "bookmark_favorite_selected", "pinboard", "delicious",
    "default_favicon", "drag_thumbnail", "image.png", "Status", "StatusHighlighted", "kesto_background",
    "KRSnapback", "KRRemoveShortcut", "KRRemoveShortcutRollover", "KRRemoveShortcutPressed",
    "paper_background", "page_background.png", "filterImage", "Pathbar-fill", "Pathbar-highlight",
    "Pathbar-highlight-arrow-left", "Pathbar-highlight-arrow-right", "Pathbar-highlight-edge",
    "Pathbar-separator"};

// True when some pixel is neither transparent nor the same as the first opaque one.
bool hasDrawing(const Image& image) {
  int w = int(image.size().width), h = int(image.size().height);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (image.pixelColor(x, y).alpha > 0.2) return true;
  return false;
}

}  // namespace

TEST(ImageNamed, EveryNameTheInterfaceUsesHasArtwork) {
  for (const auto& name : kNames) {
    Image image = Image::named(name);
    ASSERT_FALSE(image.isNull()) << name;
    EXPECT_GE(image.size().width, 1) << name;
    EXPECT_TRUE(hasDrawing(image)) << name << " is blank";
  }
}

TEST(ImageNamed, UnknownAndEmptyNamesGiveNoImage) {
  EXPECT_TRUE(Image::named("").isNull());
  EXPECT_TRUE(Image::named("no_such_artwork").isNull());
  EXPECT_TRUE(Image::named("folder_purple").isNull());
  EXPECT_TRUE(Image::named("_selected").isNull());
  // A missing name stays missing on the second ask (the miss is cached, not a blank image).
  EXPECT_TRUE(Image::named("no_such_artwork").isNull());
}

TEST(ImageNamed, ColourWordsAndSelectionChangeThePixels) {
  Image red = Image::named("folder_red"), blue = Image::named("folder_blue");
  ASSERT_EQ(red.size().width, blue.size().width);
  Color r = red.pixelColor(16, 20), b = blue.pixelColor(16, 20);
  EXPECT_GT(r.red, r.blue);
  EXPECT_GT(b.blue, b.red);
  // Selected own drawings are drawn in the highlight blue instead of the dark ink.
  Image plain = Image::named("new_list"), selected = Image::named("new_list_selected");
  Color p = plain.pixelColor(10, 3), s = selected.pixelColor(10, 3);
  EXPECT_NEAR(p.red, p.blue, 0.05);
  EXPECT_GT(s.blue, s.red + 0.3);
  // Theme icons get a highlight behind them.
  EXPECT_FALSE(Image::named("toolbar_sync") == Image::named("toolbar_sync_selected"));
}

TEST(ImageNamed, PathBarSlicesHaveTheWidthsTheBarLaysOutWith) {
  // The arrow ends equal the segments' 12-point overlap; all slices share the bar's height.
  EXPECT_EQ(Image::named("Pathbar-highlight-arrow-left").size().width, 12);
  EXPECT_EQ(Image::named("Pathbar-highlight-arrow-right").size().width, 12);
  EXPECT_EQ(Image::named("Pathbar-separator").size().width, 12);
  for (const char* n : {"Pathbar-fill", "Pathbar-highlight", "Pathbar-highlight-arrow-left",
                        "Pathbar-highlight-arrow-right", "Pathbar-highlight-edge", "Pathbar-separator"})
    EXPECT_EQ(Image::named(n).size().height, 24) << n;
}

// Artwork drawn into a device of scale 2 is rendered at the device's pixels, not blown up from
// a smaller bitmap: what lands on the device is exactly the artwork rendered at that size.
TEST(ImageNamed, ArtworkIsDrawnSharpAtTheSizeItCoversOnTheDevice) {
  for (const char* name : {"toolbar_update", "thumbnail_view"}) {
    Image image = Image::named(name);
    ASSERT_FALSE(image.isNull()) << name;
    for (double scale : {1.0, 2.0}) {
      const int pixels = int(24 * scale);
      QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
      canvas.setDevicePixelRatio(scale);
      canvas.fill(Qt::transparent);
      {
        QPainter painter(&canvas);
        GraphicsContext::Impl impl;
        impl.painter = &painter;
        GraphicsContext context(&impl, true, 24);
        context.drawImage(image, kesto::fnd::Rect(0, 0, 24, 24));
      }
      const QImage expected = TestAccess::impl(image)->atPixelSize(QSize(pixels, pixels))
                                  .convertToFormat(QImage::Format_ARGB32_Premultiplied);
      ASSERT_EQ(expected.size(), QSize(pixels, pixels)) << name;
      int differing = 0;
      for (int y = 0; y < pixels; ++y)
        for (int x = 0; x < pixels; ++x)
          if (canvas.pixel(x, y) != expected.pixel(x, y)) ++differing;
      EXPECT_EQ(differing, 0) << name << " at scale " << scale;
    }
  }
}
