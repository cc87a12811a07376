// Writes a generated library into the store of the current XDG_DATA_HOME: folders two deep,
// bookmarks spread over them with one to three tags each out of a large tag set, notes on
// every tenth, a favicon on every other (a few hundred distinct pictures, as sites share them).
// Usage: kesto-sample-library [bookmarks] [folders] [tags] [thumbnail-host] [thumbnail.jpg]
// With a thumbnail file named, a page picture (JPEG, 400 by 300) is written there for a loopback
// server to answer thumbnail requests with.
#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/UserDefaults.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kesto;

namespace {

const char* const kWords[] = {"linux", "kernel", "recipe", "travel", "python", "design", "garden", "music",
                              "history", "science", "review", "guide", "news", "photo", "video", "rust",
                              "database", "network", "security", "cooking", "bicycle", "camera", "budget", "health"};
constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);

fnd::Data favicon(int n) {
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(QColor::fromHsv((n * 37) % 360, 160, 200));
  QPainter p(&image);
  p.setPen(Qt::white);
  p.drawLine(2, 2 + n % 12, 13, 13 - n % 12);
  p.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return fnd::Data(bytes.begin(), bytes.end());
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const int bookmarks = argc > 1 ? std::atoi(argv[1]) : 50000;
  const int folderCount = argc > 2 ? std::atoi(argv[2]) : 1248;
  const int tagCount = argc > 3 ? std::atoi(argv[3]) : 37000;
  const std::string thumbnailHost = argc > 4 ? argv[4] : "http://127.0.0.1:9";
  if (argc > 5) {
    QImage page(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < page.height(); ++y)
      for (int x = 0; x < page.width(); ++x) page.setPixel(x, y, qRgb((x * 7 + y) % 256, (y * 3) % 256, (x ^ y) % 256));
    if (!page.save(argv[5], "JPG", 80)) {
      std::fprintf(stderr, "the thumbnail could not be written\n");
      return 1;
    }
  }
  auto ctx = WrenDataManager::sharedInstance().managedObjectContext();

  // Top folders, each holding an even share of the rest.
  const int top = std::max(1, folderCount / 26);
  std::vector<Folder::Ref> folders;
  for (int i = 0; i < folderCount; ++i) {
    auto f = Folder::initEntityInContext(ctx);
    f->setFolderID("F" + std::to_string(i));
    f->setName(std::string(kWords[i % kWordCount]) + " " + std::to_string(i));
    f->setParentFolderID(i < top ? std::string(Folder::kRootID) : "F" + std::to_string(i % top));
    f->setOrderIndex(i);
    folders.push_back(f);
  }
  std::vector<Tag::Ref> tags;
  for (int i = 0; i < tagCount; ++i) {
    auto t = Tag::initEntityInContext(ctx);
    t->setName(std::string(kWords[i % kWordCount]) + "-" + std::to_string(i));
    tags.push_back(t);
  }
  std::vector<fnd::Data> icons;
  for (int i = 0; i < 300; ++i) icons.push_back(favicon(i));

  for (int i = 0; i < bookmarks; ++i) {
    const std::string site = "site" + std::to_string(i % 4999) + ".example.org";
    auto b = Bookmark::newBookmark(ctx);
    b->setUrl("https://" + site + "/articles/" + std::to_string(i) + "/a-reasonably-long-slug-for-the-page");
    b->setBaseURL("https://" + site);
    b->setTitle("Article " + std::to_string(i) + " about " + kWords[i % kWordCount] + " and " +
                kWords[(i / kWordCount) % kWordCount]);
    if (i % 10 == 0) b->setNotes("A note about article " + std::to_string(i));
    b->setUniqueID(WrenEntity::uniqueID());
    b->setAddedDate(fnd::Date(600000000.0 + i * 60));
    b->setUpdatedDate(fnd::Date(600000000.0 + i * 60));
    b->setFolder(folders[static_cast<std::size_t>(i % folderCount)]);
    if (i % 2 == 0) b->setFavicon(icons[static_cast<std::size_t>(i % 4999 % 300)]);
    const int tagged = 1 + i % 3;
    for (int k = 0; k < tagged; ++k) b->addTag(tags[static_cast<std::size_t>((i * 3 + k * 7919) % tagCount)]);
  }
  if (!WrenEntity::saveContext(ctx)) {
    std::fprintf(stderr, "the library could not be saved\n");
    return 1;
  }
  // An established library: the one-time migrations are behind it.
  auto& d = fnd::UserDefaults::standard();
  for (const char* flag : {"Version2Migrated", "Version4MigratedV2", "KestoMigratedToVersion2"}) d.setBool(true, flag);
  d.setString(thumbnailHost, Bookmark::kThumbnailHostDefaultsKey);
  d.synchronize();
  WrenDataManager::sharedInstance().reset();
  std::printf("%d bookmarks, %d folders, %d tags\n", bookmarks, folderCount, tagCount);
  return 0;
}
