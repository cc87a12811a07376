#include "Platform/UI/Dragging.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/Pasteboard_p.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"
#include "TestPasteboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

using namespace kesto;
using namespace kesto::ui;

namespace {

using test::linkItem;

QByteArray utf16le(const QString& s) { return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2); }

std::vector<PasteboardItem> read(QMimeData* mime) {
  auto items = pasteboard::fromMimeData(mime);
  delete mime;
  return items;
}

}  // namespace

// ---- The clipboard

TEST(Pasteboard, PlainTextRoundTripsThroughTheClipboardAndOtherAppsSeeIt) {
  Pasteboard& pb = Pasteboard::general();
  pb.clearContents();
  ASSERT_TRUE(pb.setString("héllo\nwörld"));
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "héllo\nwörld");
  EXPECT_EQ(pb.stringForType(PasteboardType::String), "héllo\nwörld");
  // Text another application puts there reads back as the string type.
  QGuiApplication::clipboard()->setText("from elsewhere");
  EXPECT_EQ(pb.stringForType(PasteboardType::String), "from elsewhere");
  EXPECT_FALSE(pb.stringForType(PasteboardType::URL));
}

TEST(Pasteboard, URLsGoOutInEveryLinkFormatAndComeBackWithTheirTitles) {
  Pasteboard& pb = Pasteboard::general();
  ASSERT_TRUE(pb.writeObjects({linkItem("https://example.org/a?q=1", "Example A"), linkItem("http://b.example/", "")}));
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(mime);
  EXPECT_EQ(mime->data("text/uri-list"), QByteArray("https://example.org/a?q=1\r\nhttp://b.example/\r\n"));
  EXPECT_EQ(mime->data("_NETSCAPE_URL"), QByteArray("https://example.org/a?q=1\nExample A"));
  EXPECT_EQ(mime->data("text/x-moz-url"), utf16le("https://example.org/a?q=1\nExample A\nhttp://b.example/\n"));
  // Text editors get the addresses, one a line.
  EXPECT_EQ(mime->text(), "https://example.org/a?q=1\nhttp://b.example/");
  auto items = pb.pasteboardItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].url(), "https://example.org/a?q=1");
  EXPECT_EQ(items[0].title(), "Example A");
  EXPECT_EQ(pb.URLs(), (std::vector<std::string>{"https://example.org/a?q=1", "http://b.example/"}));
}

TEST(Pasteboard, OwnTypesAndSeveralItemsSurviveTheClipboard) {
  Pasteboard& pb = Pasteboard::general();
  PasteboardItem a, b;
  a.setString("https://one.example/\n", "BookmarkCopyType");
  a.setString("plain one");
  b.setData(fnd::Data{0, 1, 2, 255}, "binary.type");
  ASSERT_TRUE(pb.writeObjects({a, b}));
  auto items = pb.pasteboardItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], a);
  EXPECT_EQ(items[1], b);
  EXPECT_EQ(pb.stringForType("BookmarkCopyType"), "https://one.example/\n");
  EXPECT_EQ(pb.availableTypeFromArray({"nope", "binary.type", "BookmarkCopyType"}), "binary.type");
  EXPECT_EQ(pb.types(), (std::vector<std::string>{"BookmarkCopyType", PasteboardType::String, "binary.type"}));
  // setString keeps the other types of the contents.
  ASSERT_TRUE(pb.setString("changed", "BookmarkCopyType"));
  EXPECT_EQ(pb.stringForType("BookmarkCopyType"), "changed");
  EXPECT_EQ(pb.stringForType(PasteboardType::String), "plain one");
}

// Our bookmarks stay on the clipboard for as long as it holds them, whoever reads it meanwhile:
// another program asking for every type (as a clipboard manager does), then keeping those bytes
// and offering them in our place.
TEST(Pasteboard, OwnTypesStayReadableAfterOthersReadThemOrKeepThem) {
  Pasteboard& pb = Pasteboard::general();
  pb.clearContents();
  ASSERT_TRUE(pb.setString("https://kept.example/\n", "BookmarkCopyType"));
  QMap<QString, QByteArray> taken;
  for (int reader = 0; reader < 3; ++reader) {
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(mime);
    for (const QString& format : mime->formats()) {
      taken[format] = mime->data(format);
      EXPECT_FALSE(taken[format].isEmpty()) << format.toStdString();
    }
    EXPECT_EQ(pb.stringForType("BookmarkCopyType"), "https://kept.example/\n");
  }
  ASSERT_FALSE(taken.isEmpty());
  // Copy leaves nothing a text editor pastes.
  EXPECT_FALSE(taken.contains("text/plain"));
  auto* keeper = new QMimeData;
  for (auto it = taken.begin(); it != taken.end(); ++it) keeper->setData(it.key(), it.value());
  QGuiApplication::clipboard()->setMimeData(keeper);
  EXPECT_EQ(pb.stringForType("BookmarkCopyType"), "https://kept.example/\n");
  EXPECT_EQ(pb.availableTypeFromArray({"BookmarkCopyType"}), "BookmarkCopyType");
}

TEST(Pasteboard, ChangeCountGrowsWithEveryOwnerChange) {
  Pasteboard& pb = Pasteboard::general();
  long start = pb.changeCount();
  long cleared = pb.clearContents();
  EXPECT_GT(cleared, start);
  EXPECT_EQ(pb.changeCount(), cleared);
  pb.setString("x");
  EXPECT_GT(pb.changeCount(), cleared);
  long mine = pb.changeCount();
  QGuiApplication::clipboard()->setText("another application");
  EXPECT_GT(pb.changeCount(), mine);
  // The drag pasteboard counts on its own and holds its items in process.
  Pasteboard& drag = Pasteboard::drag();
  long d = drag.changeCount();
  drag.writeObjects({linkItem("https://d.example/", "D")});
  EXPECT_GT(drag.changeCount(), d);
  EXPECT_EQ(drag.URLs(), std::vector<std::string>{"https://d.example/"});
  drag.clearContents();
  EXPECT_TRUE(drag.pasteboardItems().empty());
}

// ---- What browsers and other applications hand us

TEST(PasteboardFormats, BrowserLinkDragsReadAsURLsAndText) {
  // An address-bar or link drag: an address list plus text.
  auto* mime = new QMimeData;
  mime->setData("text/uri-list", "# a comment\r\nhttps://example.org/page\r\n\r\nnot a url\r\n");
  mime->setText("https://example.org/page");
  auto items = read(mime);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].url(), "https://example.org/page");
  EXPECT_EQ(items[0].stringForType(PasteboardType::String), "https://example.org/page");

  // Mozilla's own format alone: UTF-16 (either byte order), address and title lines.
  mime = new QMimeData;
  mime->setData("text/x-moz-url", utf16le(QString::fromUtf8("https://m.example/ü\nTitle ü")));
  items = read(mime);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].url(), "https://m.example/%C3%BC");
  EXPECT_EQ(items[0].title(), "Title ü");
  EXPECT_EQ(items[0].stringForType(PasteboardType::String), "https://m.example/%C3%BC");
  QByteArray be("\xFE\xFF", 2);
  for (QChar c : QString("http://be.example/\nBE")) be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xff));
  mime = new QMimeData;
  mime->setData("text/x-moz-url", be);
  items = read(mime);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].url(), "http://be.example/");
  EXPECT_EQ(items[0].title(), "BE");

  // The Netscape format alone.
  mime = new QMimeData;
  mime->setData("_NETSCAPE_URL", "http://n.example/x\nNetscape title");
  items = read(mime);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].url(), "http://n.example/x");
  EXPECT_EQ(items[0].title(), "Netscape title");
}

TEST(PasteboardFormats, OversizedOrBrokenContentIsLeftOut) {
  auto* mime = new QMimeData;
  mime->setData("text/plain", QByteArray(int(Pasteboard::kMaxBytes) + 1, 'a'));
  EXPECT_TRUE(read(mime).empty());
  // A damaged private list falls back to what the desktop formats say.
  mime = new QMimeData;
  mime->setData("application/x-kesto-pasteboard-items", QByteArray("\x00\x00\x00\x05garbage", 11));
  mime->setText("still text");
  auto items = read(mime);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].stringForType(PasteboardType::String), "still text");
  // Relative or empty addresses are no URLs.
  mime = new QMimeData;
  mime->setData("text/uri-list", "relative/path\r\n\r\n");
  EXPECT_TRUE(read(mime).empty());
}

// ---- Drags out of the application

TEST(DragPayload, LinkFilesForFileManagers) {
  EXPECT_EQ(desktopLinkFileContents("https://example.org/", "Example"),
            "[Desktop Entry]\nType=Link\nName=Example\nURL=https://example.org/\nIcon=text-html\n");
  // A title cannot add lines (or keys) to the entry; no title names the link by its address.
  EXPECT_EQ(desktopLinkFileContents("https://e.org/", "A\nURL=evil\\"),
            "[Desktop Entry]\nType=Link\nName=A\\nURL=evil\\\\\nURL=https://e.org/\nIcon=text-html\n");
  EXPECT_NE(desktopLinkFileContents("https://e.org/", "").find("Name=https://e.org/\n"), std::string::npos);

  QString dir = QDir::temp().filePath("kesto-link-test");
  QDir(dir).removeRecursively();
  auto first = writeDesktopLinkFile("https://example.org/", "../../etc/passwd", dir.toStdString());
  ASSERT_TRUE(first);
  EXPECT_EQ(QFileInfo(QString::fromStdString(*first)).absolutePath(), QFileInfo(dir).absoluteFilePath());
  EXPECT_EQ(QFileInfo(QString::fromStdString(*first)).fileName(), "-..-etc-passwd.desktop");
  auto second = writeDesktopLinkFile("https://example.org/", "../../etc/passwd", dir.toStdString());
  ASSERT_TRUE(second);
  EXPECT_NE(*first, *second);
  auto untitled = writeDesktopLinkFile("https://host.example/p", "", dir.toStdString());
  ASSERT_TRUE(untitled);
  EXPECT_EQ(QFileInfo(QString::fromStdString(*untitled)).fileName(), "host.example.desktop");
  QFile f(QString::fromStdString(*untitled));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll().toStdString(), desktopLinkFileContents("https://host.example/p", ""));
  QDir(dir).removeRecursively();
}

TEST(DragPayload, DragsOfferLinkFilesBesideTheAddresses) {
  QStringList written;
  QMimeData* mime = pasteboard::toMimeData({linkItem("https://example.org/", "Ex")}, [&](const std::string& url, const std::string&) {
    written << QString::fromStdString(url);
    return std::optional<std::string>("/tmp/x/Ex.desktop");
  });
  EXPECT_EQ(written, QStringList{"https://example.org/"});
  EXPECT_EQ(mime->data("text/uri-list"), QByteArray("https://example.org/\r\n"));
  EXPECT_EQ(mime->data("application/x-kde4-urilist"), QByteArray("file:///tmp/x/Ex.desktop\r\n"));
  EXPECT_EQ(mime->text(), "https://example.org/");
  delete mime;
  // Text-only drags write no link files.
  PasteboardItem text;
  text.setString("bm:1\n");
  mime = pasteboard::toMimeData({text}, [&](const std::string&, const std::string&) {
    ADD_FAILURE() << "no link file for text";
    return std::optional<std::string>();
  });
  EXPECT_FALSE(mime->hasFormat("text/uri-list"));
  EXPECT_EQ(mime->text(), "bm:1\n");
  delete mime;
}

PasteboardItem text(const std::string& string) {
  PasteboardItem item;
  item.setString(string);
  return item;
}

// Other programs ask for any type a drag offers: each one carries data, and the texts and
// addresses are those of the items (a bookmark without an address offers no link types).
TEST(DragPayload, EveryOfferedTypeCarriesData) {
  PasteboardItem first = linkItem("https://a.example/", "A");
  first.setString("bm:1\nbm:2\n");
  PasteboardItem noAddress;
  noAddress.setURL("", "untitled");
  QMimeData* mime = pasteboard::toMimeData({first, noAddress, linkItem("https://b.example/", "B")});
  for (const QString& format : mime->formats()) EXPECT_FALSE(mime->data(format).isEmpty()) << format.toStdString();
  EXPECT_EQ(mime->text(), "bm:1\nbm:2\n");
  EXPECT_EQ(mime->data("text/uri-list"), QByteArray("https://a.example/\r\nhttps://b.example/\r\n"));
  EXPECT_EQ(mime->data("_NETSCAPE_URL"), QByteArray("https://a.example/\nA"));
  delete mime;
  // A text and links go in the desktop's formats only (our own would carry nothing more), and
  // come back from them: the addresses with their titles and the text.
  const std::vector<PasteboardItem> links{first, linkItem("https://b.example/", "B")};
  mime = pasteboard::toMimeData(links);
  EXPECT_FALSE(mime->hasFormat("application/x-kesto-pasteboard-items"));
  EXPECT_EQ(read(mime), links);
  // A type of our own, or several texts, travel in our format too, which then carries the items.
  PasteboardItem own, second;
  own.setString("https://c.example/\n", "BookmarkCopyType");
  second.setString("bm:2");
  for (const std::vector<PasteboardItem>& items : {std::vector<PasteboardItem>{own}, {text("bm:1"), second}}) {
    mime = pasteboard::toMimeData(items);
    EXPECT_FALSE(mime->data("application/x-kesto-pasteboard-items").isEmpty());
    EXPECT_EQ(read(mime), items);
  }

  // Nothing but empty values: no text and no link types at all.
  PasteboardItem empty;
  empty.setString("");
  empty.setURL("");
  mime = pasteboard::toMimeData({empty});
  for (const QString& format : mime->formats()) EXPECT_FALSE(mime->data(format).isEmpty()) << format.toStdString();
  EXPECT_FALSE(mime->hasText());
  EXPECT_FALSE(mime->hasUrls());
  EXPECT_FALSE(mime->hasFormat("_NETSCAPE_URL"));
  delete mime;
}

// ---- Drops on our views

namespace {

struct DropTarget : View, DraggingDestination {
  using View::View;
  unsigned answer = DragOperation::Copy;
  bool prepare = true;
  std::vector<std::string> log;
  DraggingInfo last;
  unsigned draggingEntered(const DraggingInfo& info) override {
    log.push_back("entered");
    last = info;
    return answer;
  }
  void draggingExited(const DraggingInfo*) override { log.push_back("exited"); }
  bool prepareForDragOperation(const DraggingInfo&) override {
    log.push_back("prepare");
    return prepare;
  }
  bool performDragOperation(const DraggingInfo& info) override {
    log.push_back("perform " + info.draggingPasteboard().stringForType(PasteboardType::String).value_or("-"));
    last = info;
    return true;
  }
  void concludeDragOperation(const DraggingInfo&) override { log.push_back("conclude"); }
};

struct DropFixture : ::testing::Test {
  Window window{fnd::Rect(0, 0, 200, 200)};
  std::shared_ptr<DropTarget> target = std::make_shared<DropTarget>(fnd::Rect(0, 0, 200, 200));
  void SetUp() override {
    window.contentView()->addSubview(target);
    target->registerForDraggedTypes({PasteboardType::String});
  }
  bool enter(QMimeData& mime, Qt::KeyboardModifiers mods = Qt::NoModifier,
             Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
    QDragEnterEvent e(QPoint(20, 30), actions, &mime, Qt::LeftButton, mods);
    QCoreApplication::sendEvent(target->nativeWidget(), &e);
    return e.isAccepted();
  }
  bool drop(QMimeData& mime, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QDropEvent e(QPointF(20, 30), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, mods);
    QCoreApplication::sendEvent(target->nativeWidget(), &e);
    return e.isAccepted();
  }
};

}  // namespace

TEST_F(DropFixture, OnlyRegisteredTypesReachTheTarget) {
  EXPECT_TRUE(target->nativeWidget()->acceptDrops());
  QMimeData other;
  other.setData("application/x-unrelated", "x");
  EXPECT_FALSE(enter(other));
  EXPECT_TRUE(target->log.empty());
  QMimeData text;
  text.setText("https://example.org/");
  EXPECT_TRUE(enter(text));
  EXPECT_EQ(target->log, std::vector<std::string>{"entered"});
  // Where the pointer is, in window coordinates (y up): 200 - 30.
  EXPECT_DOUBLE_EQ(target->last.draggingLocation().x, 20);
  EXPECT_DOUBLE_EQ(target->last.draggingLocation().y, 170);
  target->unregisterDraggedTypes();
  EXPECT_FALSE(target->nativeWidget()->acceptDrops());
}

TEST_F(DropFixture, ADropRunsPrepareThenPerformThenConclude) {
  QMimeData mime;
  mime.setUrls({QUrl("https://example.org/dropped")});
  ASSERT_TRUE(enter(mime));
  EXPECT_TRUE(drop(mime));
  EXPECT_EQ(target->log, (std::vector<std::string>{"entered", "prepare", "perform https://example.org/dropped", "conclude"}));
  EXPECT_EQ(target->last.draggingSourceOperationMask() & DragOperation::Copy, DragOperation::Copy);
  EXPECT_TRUE(target->last.draggingSourceOperationMask() & DragOperation::Generic);
  // No drag of ours runs: this one comes from another program.
  EXPECT_FALSE(target->last.fromThisApplication);
  EXPECT_EQ(target->last.draggingSource(), nullptr);
}

TEST_F(DropFixture, RefusalsAndTheCopyModifier) {
  QMimeData mime;
  mime.setText("x");
  // A target that answers None on entering never gets the drop.
  target->answer = DragOperation::None;
  enter(mime);
  EXPECT_FALSE(drop(mime));
  EXPECT_EQ(target->log, std::vector<std::string>{"entered"});
  // One that refuses to prepare performs nothing.
  target->log.clear();
  target->answer = DragOperation::Copy;
  target->prepare = false;
  enter(mime);
  EXPECT_FALSE(drop(mime));
  EXPECT_EQ(target->log, (std::vector<std::string>{"entered", "prepare"}));
  // Ctrl (and Alt) narrow what the source allows to copying.
  target->log.clear();
  enter(mime, Qt::ControlModifier);
  EXPECT_EQ(target->last.draggingSourceOperationMask(), DragOperation::Copy);
  enter(mime, Qt::AltModifier);
  EXPECT_EQ(target->last.draggingSourceOperationMask(), DragOperation::Copy);
  enter(mime, Qt::NoModifier, Qt::MoveAction);
  EXPECT_EQ(target->last.draggingSourceOperationMask() & DragOperation::Copy, 0u);
}
