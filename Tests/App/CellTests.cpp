// The bookmark cell: what it shows for a bookmark, what reuse clears, the selection border, and
// thumbnails loaded from a loopback thumbnail service through the disk cache.
#include "AppFixture.h"

#include "App/PaneControllers.h"
#include "App/TilePinView.h"
#include "Model/Tag.h"
#include "Platform/Foundation/Calendar.h"
#include "Platform/Net/LoopbackServer.h"
#include "Views/WebImageDownloadRequest.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/Nib.h"
#include "Platform/UI/TokenField.h"
#include "Platform/UI/WidgetHostView_p.h"
#include "Platform/UI/Window.h"
#include "Views/ImageBox.h"
#include "Views/PushButton.h"
#include "Views/TextLabel.h"
#include "Views/TileCollectionView.h"
#include "Views/WebImageView.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <httplib.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace kesto::test {
namespace {

std::shared_ptr<TilePinView> makeCell(const char* nib) {
  registerTilePinViewBuilders();
  ui::Nib::TopLevelObjects objects;
  EXPECT_TRUE(ui::Nib(nib).instantiateWithOwner(nullptr, objects));
  return objects.empty() ? nullptr : std::dynamic_pointer_cast<TilePinView>(objects.front());
}

TEST(TilePinViewCell, EveryBuilderConnectsEveryOutlet) {
  for (const char* nib : {"TileCompactPinView", "TilePinView", "TileListView"}) {
    auto cell = makeCell(nib);
    ASSERT_TRUE(cell) << nib;
    EXPECT_TRUE(cell->box && cell->thumbnail && cell->favicon && cell->color && cell->favorite && cell->pinboard &&
                cell->delicious && cell->broken && cell->title && cell->url && cell->date && cell->note &&
                cell->tags && cell->rating)
        << nib;
  }
  EXPECT_EQ(TilePinView::getSize().width, 470);
  EXPECT_EQ(TilePinView::getSize().height, 300);
}

TEST(TilePinViewCell, TheFourMarksStandInOneRowWithoutOverlapInsideTheTile) {
  for (const char* nib : {"TileCompactPinView", "TilePinView", "TileListView"}) {
    auto cell = makeCell(nib);
    ASSERT_TRUE(cell) << nib;
    const std::shared_ptr<ImageBox> marks[] = {cell->favorite, cell->pinboard, cell->delicious, cell->broken};
    for (std::size_t i = 1; i < std::size(marks); ++i) {
      const auto before = marks[i - 1]->frame(), mark = marks[i]->frame();
      EXPECT_EQ(mark.origin.y, before.origin.y) << nib;
      EXPECT_GT(mark.origin.x, before.maxX()) << nib;
    }
    EXPECT_LE(cell->broken->frame().maxX(), cell->box->bounds().maxX()) << nib;
  }
}

TEST(TilePinViewCell, SelectionSwitchesTheBoxBorder) {
  auto cell = makeCell("TilePinView");
  cell->setSelected(true, true);
  EXPECT_TRUE(cell->isSelected());
  EXPECT_EQ(cell->box->borderWidth(), 4.0);
  ASSERT_TRUE(cell->box->borderColor());
  EXPECT_EQ(*cell->box->borderColor(), TilePinView::selectedBorderColor());
  EXPECT_TRUE(cell->isOpaque());
  cell->setSelected(false);
  EXPECT_EQ(cell->box->borderWidth(), 1.5);
  EXPECT_EQ(*cell->box->borderColor(), TilePinView::unselectedBorderColor());
  // The border is drawn: an orange pixel on the box edge.
  cell->setFrame(fnd::Rect(0, 0, 520, 315));
  cell->setSelected(true);
  auto shot = cell->snapshot();
  auto px = shot.pixelColor(6, 150);
  EXPECT_GT(px.red, 0.7);
  EXPECT_LT(px.blue, 0.3);
}

TEST(TilePinViewCell, ReuseClearsMarksButLeavesWhatIsAlwaysSet) {
  auto cell = makeCell("TileListView");
  cell->favorite->setImageNamed("bookmark_favorite_selected");
  cell->pinboard->setImageNamed("pinboard");
  cell->broken->setImageNamed("bookmark_warning");
  cell->title->setStringValue("Title");
  cell->note->setStringValue("Note");
  cell->url->setStringValue("http://example.org");
  cell->prepareForReuse();
  EXPECT_TRUE(cell->favorite->image().isNull());
  EXPECT_TRUE(cell->pinboard->image().isNull());
  EXPECT_TRUE(cell->broken->image().isNull());
  EXPECT_EQ(cell->title->stringValue(), "");
  EXPECT_EQ(cell->note->stringValue(), "");
  EXPECT_EQ(cell->url->stringValue(), "http://example.org");
}

// A thumbnail service on loopback: answers by the page address in "url", counts requests.
class ThumbnailServer {
 public:
  ThumbnailServer() {
    loopback_.server->Get("/v2/thumbs.php", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      std::string page = request.get_param_value("url");
      ++hits_[page];
      queries_.push_back(request.target);
      auto it = images_.find(page);
      if (it == images_.end()) {
        response.status = 404;
        response.set_content("missing", "text/plain");
        return;
      }
      response.set_content(it->second, "image/png");
    });
    loopback_.start();
  }
  void serve(const std::string& page, const std::string& png) {
    std::lock_guard lock(mutex_);
    images_[page] = png;
  }
  int hits(const std::string& page) {
    std::lock_guard lock(mutex_);
    return hits_[page];
  }
  std::vector<std::string> queries() {
    std::lock_guard lock(mutex_);
    return queries_;
  }
  std::string host() const { return "http://127.0.0.1:" + std::to_string(loopback_.port); }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> images_;
  std::map<std::string, int> hits_;
  std::vector<std::string> queries_;
  // Last, so it stops before what its handlers use goes.
  LoopbackServer loopback_;
};

std::string pngOf(const ui::Color& colour) {
  auto data = ui::Image(8, 6, colour).encoded("png");
  return std::string(data.begin(), data.end());
}

class CellTest : public AppTest {
 protected:
  // The cells' requests are counted: no folder list reloading the list at start-up.
  void SetUp() override {
    AppTest::SetUp();
    registerSidebarPaneFactory([] { return makeEmptySidebarPane(); });
  }
  void TearDown() override {
    registerSidebarPaneFactory(nullptr);
    WebImageDownloadRequest::setRetryInterval(WebImageDownloadRequest::kDefaultRetryInterval);
    AppTest::TearDown();
  }
  Found<std::shared_ptr<TilePinView>> cellAt(std::int64_t item) {
    auto& cv = *ui->collectionView();
    cv.layoutSubtreeIfNeeded();
    return {std::dynamic_pointer_cast<TilePinView>(cv.cellForItemAtIndexPath(IndexPath::forItem(item, 0))),
            "the cell of row " + std::to_string(item)};
  }
};

TEST_F(CellTest, ShowsTheBookmarkFields) {
  auto b = add("http://www.example.org/path/page", "Example page");
  b->setNotes(std::string("remember"));
  b->setRating(3.0);
  b->setIsFavorite(1);
  b->setBroken(1);
  b->setColor(std::string("red"));
  for (const char* name : {"zeta", "alpha", "mid"}) {
    auto t = Tag::initEntity();
    t->setName(name);
    b->addTag(t);
  }
  b->setUpdatedDate(fnd::Date::withTimeIntervalSince1970(1700000000));  // 14 Nov 2023
  ASSERT_TRUE(WrenEntity::saveContext());
  defaults().setBool(true, "BoomarksCompactView");
  build(1);
  auto cell = cellAt(0);
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->delegate, &controller());
  EXPECT_EQ(cell->title->stringValue(), "Example page");
  EXPECT_EQ(cell->url->stringValue(), "http://www.example.org");
  EXPECT_EQ(cell->note->stringValue(), "remember");
  EXPECT_EQ(cell->ratingValue(), 3);
  EXPECT_EQ(cell->tagNames(), (std::vector<std::string>{"alpha", "mid", "zeta"}));
  EXPECT_EQ(cell->favorite->imageName(), "bookmark_favorite_selected");
  EXPECT_EQ(cell->broken->imageName(), "bookmark_warning");
  EXPECT_EQ(cell->color->imageName(), "bookmark_red");
  EXPECT_TRUE(cell->pinboard->image().isNull());
  EXPECT_NE(cell->date->stringValue().find("November"), std::string::npos) << cell->date->stringValue();
  EXPECT_NE(cell->date->stringValue().find("2023"), std::string::npos);
}

// The controls of a card only show their values: a right click on its tags (the blank line below
// the rating on a card without tags), on a tag or on the stars opens the bookmark's menu, as on the
// rest of the card, never a text widget's own greyed Copy / Select All.
TEST_F(CellTest, ARightClickOnACardsTagsOrStarsOpensTheBookmarksMenu) {
  add("http://www.example.org/", "Example");
  auto tagged = add("http://www.example.net/", "Tagged");
  auto t = Tag::initEntity();
  t->setName("news");
  tagged->addTag(t);
  ASSERT_TRUE(WrenEntity::saveContext());
  defaults().setBool(false, "BoomarksCompactView");
  defaults().setBool(false, "BoomarksListView");
  build(2);
  ASSERT_TRUE(runUntil([&] { return ui->window().isKeyWindow(); }, 5));
  auto* top = static_cast<QWidget*>(ui->window().nativeHandle());
  // A right click as the window system delivers it, on the middle of a control's widget; answers
  // the items of the menu it opened (closed again), none when none opened.
  auto rightClick = [&](ui::WidgetHostView& control, std::optional<fnd::Rect> part = {}) {
    QWidget* widget = ui::hostedWidget(control);
    EXPECT_TRUE(widget);
    std::vector<std::string> items;
    if (!widget) return items;
    QPoint at = widget->rect().center();
    if (part) at = QPoint(int(part->midX() - control.bounds().origin.x), widget->height() / 2);
    QTest::mouseClick(top->windowHandle(), Qt::RightButton, Qt::NoModifier, widget->mapTo(top, at));
    spin(0.05);
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* action : menu->actions())
        if (!action->isSeparator()) items.push_back(action->text().toStdString());
      menu->close();
      spin(0.05);
    }
    return items;
  };
  auto isBookmarkMenu = [](const std::vector<std::string>& items) {
    return std::find(items.begin(), items.end(), "Copy Link") != items.end() &&
           std::find(items.begin(), items.end(), "Select All") == items.end();
  };
  for (std::int64_t item : {0, 1}) {
    auto cell = cellAt(item);
    ASSERT_TRUE(cell);
    const bool hasTag = !cell->tagNames().empty();
    EXPECT_TRUE(isBookmarkMenu(rightClick(*cell->tags))) << "tags of card " << item;
    if (hasTag) {
      EXPECT_TRUE(isBookmarkMenu(rightClick(*cell->tags, cell->tags->rectOfToken(0)))) << "a tag";
    }
    EXPECT_TRUE(isBookmarkMenu(rightClick(*cell->rating))) << "stars of card " << item;
  }
  // The card clicked is the one the menu acts on.
  ASSERT_EQ(dm().selectedBookmarks().size(), 1u);
  EXPECT_EQ(dm().selectedBookmarks().front()->title(), cellAt(1)->title->stringValue());
}

TEST_F(CellTest, AGridTileTooNarrowForTheLongDateShowsTheShortOneWhole) {
  auto b = add("http://www.example.org/", "Example");
  // Noon of 30 September 2026 where the tests run: the cell shows the local day, and noon UTC
  // is already 1 October east of UTC+12.
  fnd::DateComponents noon;
  noon.year = 2026, noon.month = 9, noon.day = 30, noon.hour = 12;
  b->setUpdatedDate(*fnd::Calendar::gregorian().dateFromComponents(noon));
  ASSERT_TRUE(WrenEntity::saveContext());
  defaults().setBool(false, "BoomarksCompactView");
  defaults().setBool(false, "BoomarksListView");
  build(1);
  auto cell = cellAt(0);
  ASSERT_TRUE(cell);
  ASSERT_EQ(cell->date->stringValue(), "September 30, 2026");
  const double wide = ui::GraphicsContext::sizeOfText("September 30, 2026", cell->date->font()).width + 2;
  // Narrower than the long form (as a grid tile at the window's first size is): the short
  // one is drawn, whole.
  cell->date->setFrameSize(fnd::Size{ui::GraphicsContext::sizeOfText("September 30", cell->date->font()).width,
                                     cell->date->frame().size.height});
  const std::string shown = cell->date->displayedString();
  EXPECT_NE(shown, "September 30, 2026");
  EXPECT_TRUE(cell->date->fitsOnOneLine(shown)) << shown;
  EXPECT_NE(shown.find("30"), std::string::npos) << shown;
  cell->date->setFrameSize(fnd::Size{wide, cell->date->frame().size.height});
  EXPECT_EQ(cell->date->displayedString(), "September 30, 2026");
}

TEST_F(CellTest, ThumbnailsComeFromTheServiceAndTheCacheAfterARestart) {
  ThumbnailServer server;
  defaults().setString(server.host(), Bookmark::kThumbnailHostDefaultsKey);
  server.serve("http://shown.example/a b", pngOf(ui::Color::rgb(1, 0, 0)));
  add("http://shown.example/a%20b", "Shown");
  build(1);
  auto cell = cellAt(0);
  ASSERT_TRUE(cell);
  ASSERT_TRUE(runUntil([&] { return !cell->thumbnail->image().isNull(); }, 10));
  EXPECT_EQ(server.hits("http://shown.example/a b"), 1);
  ASSERT_FALSE(server.queries().empty());
  auto query = server.queries().at(0);
  EXPECT_NE(query.find("size=l"), std::string::npos) << query;
  EXPECT_NE(query.find("wait=120"), std::string::npos) << query;
  EXPECT_NE(query.find("url=http%3A%2F%2Fshown.example%2Fa%20b"), std::string::npos) << query;
  // A restart draws the same thumbnail without asking the service again.
  ui.reset();
  build(1);
  cell = cellAt(0);
  ASSERT_TRUE(cell);
  ASSERT_TRUE(runUntil([&] { return !cell->thumbnail->image().isNull(); }, 5));
  spin(0.2);
  EXPECT_EQ(server.hits("http://shown.example/a b"), 1);
}

TEST_F(CellTest, AMissingThumbnailLeavesThePlaceholder) {
  ThumbnailServer server;
  WebImageDownloadRequest::setRetryInterval(0.3);
  defaults().setString(server.host(), Bookmark::kThumbnailHostDefaultsKey);
  add("http://missing.example/", "Missing");
  build(1);
  auto cell = cellAt(0);
  ASSERT_TRUE(cell);
  ASSERT_TRUE(runUntil([&] { return server.hits("http://missing.example/") == 1; }, 10));
  spin(0.3);
  EXPECT_TRUE(cell->thumbnail->image().isNull());
  // The placeholder is the thumbnail box's own grey.
  ASSERT_TRUE(cell->thumbnail->backgroundColor());
  EXPECT_EQ(*cell->thumbnail->backgroundColor(), ui::Color::white(0.9));
  // The failure was not cached: a second load, once the retry interval has passed, asks again.
  ui.reset();
  build(1);
  ASSERT_TRUE(runUntil([&] { return server.hits("http://missing.example/") == 2; }, 10));
}

TEST_F(CellTest, AFailingThumbnailIsAskedAgainOnlyAfterTheIntervalAndAtMostFourTimes) {
  ThumbnailServer server;
  WebImageDownloadRequest::setRetryInterval(60);
  defaults().setString(server.host(), Bookmark::kThumbnailHostDefaultsKey);
  add("http://failing.example/", "Failing");
  build(1);
  ASSERT_TRUE(runUntil([&] { return server.hits("http://failing.example/") >= 1; }, 10));
  spin(0.3);
  const int first = server.hits("http://failing.example/");
  // Refreshes within the interval ask nothing.
  auto refresh = [&](int times) {
    for (int i = 0; i < times; ++i) {
      controller().updateView();
      spin(0.05);
    }
  };
  refresh(10);
  EXPECT_EQ(server.hits("http://failing.example/"), first);
  // With a short interval: one more try per interval, then none at all.
  WebImageDownloadRequest::setRetryInterval(0.1);
  refresh(40);
  const int total = server.hits("http://failing.example/");
  EXPECT_GT(total, first);
  EXPECT_LE(total, first - 1 + WebImageDownloadRequest::kMaximumAttempts);
  refresh(10);
  EXPECT_EQ(server.hits("http://failing.example/"), total);
}

TEST_F(CellTest, HandSetThumbnailIsShownFromTheStore) {
  ThumbnailServer server;
  defaults().setString(server.host(), Bookmark::kThumbnailHostDefaultsKey);
  auto b = add("http://hand.example/", "Hand");
  auto png = pngOf(ui::Color::rgb(0, 0, 1));
  b->setThumbnail(fnd::Data(png.begin(), png.end()));
  b->setThumbnailManuallySet(1);
  ASSERT_TRUE(WrenEntity::saveContext());
  build(1);
  auto cell = cellAt(0);
  ASSERT_TRUE(cell);
  EXPECT_FALSE(cell->thumbnail->image().isNull());
  spin(0.2);
  EXPECT_TRUE(server.queries().empty());
}

}  // namespace
}  // namespace kesto::test
