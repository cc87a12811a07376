#include "Platform/UI/Pasteboard.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/UI/Pasteboard_p.h"

#include <QClipboard>
#include <QDataStream>
#include <QGuiApplication>
#include <QIODevice>
#include <QMimeData>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

namespace kesto::ui {

namespace {

// Our items, with their own types, in one private format.
constexpr const char* kItemsFormat = "application/x-kesto-pasteboard-items";
constexpr const char* kUriList = "text/uri-list";
constexpr const char* kNetscapeURL = "_NETSCAPE_URL";
constexpr const char* kMozURL = "text/x-moz-url";
constexpr const char* kKdeURIList = "application/x-kde4-urilist";
constexpr qsizetype kMaxURLLength = 64 * 1024;

fnd::Data toData(const std::string& s) { return fnd::Data(s.begin(), s.end()); }
std::string toString(const fnd::Data& d) { return std::string(d.begin(), d.end()); }
QByteArray toBytes(const fnd::Data& d) { return QByteArray(reinterpret_cast<const char*>(d.data()), qsizetype(d.size())); }
fnd::Data fromBytes(const QByteArray& b) { return fnd::Data(b.begin(), b.end()); }

// A format's bytes, or nothing when absent or larger than a pasteboard may hold.
std::optional<QByteArray> boundedData(const QMimeData* mime, const QString& format) {
  if (!mime || !mime->hasFormat(format)) return std::nullopt;
  QByteArray bytes = mime->data(format);
  if (std::size_t(bytes.size()) > Pasteboard::kMaxBytes) return std::nullopt;
  return bytes;
}

// Only absolute addresses travel as URLs.
std::optional<std::string> acceptedURL(const QString& text) {
  QString trimmed = text.trimmed();
  if (trimmed.isEmpty() || trimmed.size() > kMaxURLLength) return std::nullopt;
  QUrl url(trimmed, QUrl::StrictMode);
  if (!url.isValid() || url.scheme().isEmpty()) return std::nullopt;
  return url.toString(QUrl::FullyEncoded).toStdString();
}

struct Link {
  std::string url;
  std::string title;
};

// text/uri-list: one address per line, CRLF ends lines, "#" starts a comment.
std::vector<Link> readURIList(const QByteArray& bytes) {
  std::vector<Link> out;
  for (const QByteArray& line : bytes.split('\n')) {
    if (out.size() >= Pasteboard::kMaxURLs) break;
    QByteArray l = line.trimmed();
    if (l.isEmpty() || l.startsWith('#')) continue;
    if (auto url = acceptedURL(QString::fromUtf8(l))) out.push_back({*url, {}});
  }
  return out;
}

// Address and title lines in turn (the Mozilla and Netscape link formats).
std::vector<Link> readURLTitlePairs(const QString& text) {
  std::vector<Link> out;
  QStringList lines = text.split('\n');
  for (qsizetype i = 0; i < lines.size() && out.size() < Pasteboard::kMaxURLs; i += 2) {
    QString line = lines[i];
    line.remove('\r');
    auto url = acceptedURL(line);
    if (!url) continue;
    QString title = i + 1 < lines.size() ? lines[i + 1] : QString();
    title.remove('\r');
    out.push_back({*url, title.left(4096).toStdString()});
  }
  return out;
}

// Mozilla's link format is UTF-16 in the writer's byte order, with or without a mark.
QString decodeUTF16(const QByteArray& bytes) {
  if (bytes.size() >= 2) {
    auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
    bool bigEndian = (b0 == 0xFE && b1 == 0xFF) || (b0 == 0 && b1 != 0);
    QStringDecoder decoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
    QString text = decoder.decode(bytes);
    if (!text.isEmpty() && text[0] == QChar(0xFEFF)) text.remove(0, 1);
    return text;
  }
  return {};
}

QByteArray encodeItems(const std::vector<PasteboardItem>& items) {
  QByteArray out;
  QDataStream stream(&out, QIODevice::WriteOnly);
  stream.setVersion(QDataStream::Qt_6_0);
  stream << quint32(items.size());
  for (const auto& item : items) {
    auto types = item.types();
    stream << QString::fromStdString(item.title()) << quint32(types.size());
    for (const auto& type : types) stream << QString::fromStdString(type) << toBytes(*item.dataForType(type));
  }
  return out;
}

std::optional<std::vector<PasteboardItem>> decodeItems(const QByteArray& bytes) {
  QDataStream stream(bytes);
  stream.setVersion(QDataStream::Qt_6_0);
  quint32 count = 0;
  stream >> count;
  if (stream.status() != QDataStream::Ok || count > Pasteboard::kMaxURLs) return std::nullopt;
  std::vector<PasteboardItem> items;
  for (quint32 i = 0; i < count; ++i) {
    QString title;
    quint32 typeCount = 0;
    stream >> title >> typeCount;
    if (stream.status() != QDataStream::Ok || typeCount > 1000) return std::nullopt;
    PasteboardItem item;
    std::optional<std::string> url;
    for (quint32 t = 0; t < typeCount; ++t) {
      QString type;
      QByteArray data;
      stream >> type >> data;
      if (stream.status() != QDataStream::Ok) return std::nullopt;
      if (type.toStdString() == PasteboardType::URL) url = data.toStdString();
      else item.setData(fromBytes(data), type.toStdString());
    }
    if (url) item.setURL(*url, title.toStdString());
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

// ---- Items

void PasteboardItem::setData(const fnd::Data& data, const std::string& type) {
  if (!data_.count(type)) order_.push_back(type);
  data_[type] = data;
}

void PasteboardItem::setString(const std::string& string, const std::string& type) { setData(toData(string), type); }

void PasteboardItem::setURL(const std::string& url, const std::string& title) {
  setData(toData(url), PasteboardType::URL);
  title_ = title;
}

std::vector<std::string> PasteboardItem::types() const { return order_; }

std::optional<fnd::Data> PasteboardItem::dataForType(const std::string& type) const {
  auto it = data_.find(type);
  if (it == data_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> PasteboardItem::stringForType(const std::string& type) const {
  auto d = dataForType(type);
  if (!d) return std::nullopt;
  return toString(*d);
}

// ---- Conversion to and from the toolkit

namespace pasteboard {

QMimeData* desktopMimeData(const std::vector<PasteboardItem>& items, const LinkFileWriter& linkFile) {
  auto* mime = new QMimeData;
  // Every format offered carries data: empty texts and addresses that are no URLs are not
  // offered, so another program never receives a type with nothing in it.
  std::vector<Link> links;
  QList<QUrl> urls;
  QStringList texts;
  for (const auto& item : items) {
    if (auto s = item.stringForType(PasteboardType::String); s && !s->empty()) texts << QString::fromStdString(*s);
    if (auto u = item.url(); u && !u->empty()) {
      QUrl url(QString::fromStdString(*u));
      if (!url.isValid()) continue;
      links.push_back({*u, item.title()});
      urls << url;
    }
  }
  if (!texts.isEmpty()) mime->setText(texts.join('\n'));
  else if (!urls.isEmpty()) {
    QStringList lines;
    for (const auto& url : urls) lines << url.toString(QUrl::FullyEncoded);
    mime->setText(lines.join('\n'));
  }
  if (!urls.isEmpty()) {
    mime->setUrls(urls);
    // The Netscape format holds a single link: the first.
    const Link& first = links.front();
    mime->setData(kNetscapeURL, QString::fromStdString(first.url + "\n" + first.title).toUtf8());
    QString moz;
    for (const auto& link : links)
      moz += QString::fromStdString(link.url) + '\n' + QString::fromStdString(link.title) + '\n';
    moz.chop(1);
    QByteArray utf16(reinterpret_cast<const char*>(moz.utf16()), moz.size() * 2);
    mime->setData(kMozURL, utf16);
    if (linkFile) {
      // File managers that read their own list get link files; browsers keep the addresses.
      QStringList files;
      for (const auto& link : links)
        if (auto path = linkFile(link.url, link.title)) files << QUrl::fromLocalFile(QString::fromStdString(*path)).toString(QUrl::FullyEncoded);
      if (!files.isEmpty()) mime->setData(kKdeURIList, (files.join("\r\n") + "\r\n").toUtf8());
    }
  }
  return mime;
}

QMimeData* toMimeData(const std::vector<PasteboardItem>& items, const LinkFileWriter& linkFile) {
  QMimeData* mime = desktopMimeData(items, linkFile);
  // Our own format only where the desktop's formats would not give the items back as written
  // (types of ours, several texts): it is no use to other programs.
  if (fromMimeData(mime) != items) mime->setData(kItemsFormat, encodeItems(items));
  return mime;
}

std::vector<PasteboardItem> fromMimeData(const QMimeData* mime) {
  if (!mime) return {};
  if (auto own = boundedData(mime, kItemsFormat))
    if (auto items = decodeItems(*own)) return *items;
  std::vector<Link> links;
  if (auto list = boundedData(mime, kUriList)) links = readURIList(*list);
  // Titles come only with the link formats; they also stand in when no address list is there.
  std::vector<Link> titled;
  if (auto moz = boundedData(mime, kMozURL)) titled = readURLTitlePairs(decodeUTF16(*moz));
  if (titled.empty())
    if (auto ns = boundedData(mime, kNetscapeURL)) titled = readURLTitlePairs(QString::fromUtf8(*ns));
  if (links.empty()) links = titled;
  else
    for (auto& link : links)
      for (const auto& t : titled)
        if (t.url == link.url && link.title.empty()) link.title = t.title;
  std::optional<std::string> text;
  for (const char* format : {"text/plain;charset=utf-8", "text/plain"})
    if (!text)
      if (auto bytes = boundedData(mime, format)) text = QString::fromUtf8(*bytes).toStdString();
  if (!text && !links.empty()) {
    std::string joined;
    for (std::size_t i = 0; i < links.size(); ++i) joined += (i ? "\n" : "") + links[i].url;
    text = joined;
  }
  std::vector<PasteboardItem> items;
  for (const auto& link : links) {
    PasteboardItem item;
    item.setURL(link.url, link.title);
    items.push_back(std::move(item));
  }
  if (text) {
    if (items.empty()) items.emplace_back();
    items.front().setString(*text);
  }
  return items;
}

}  // namespace pasteboard

// ---- Pasteboards

struct Pasteboard::Impl {
  bool clipboard = false;
  long changeCount = 0;
  std::vector<PasteboardItem> items;  // the drag pasteboard's contents
  QMetaObject::Connection changed;
};

Pasteboard::Pasteboard(bool clipboard) : d_(std::make_unique<Impl>()) {
  d_->clipboard = clipboard;
  if (clipboard)
    if (QClipboard* cb = QGuiApplication::clipboard())
      d_->changed = QObject::connect(cb, &QClipboard::dataChanged, [d = d_.get()] { ++d->changeCount; });
}

Pasteboard::~Pasteboard() { QObject::disconnect(d_->changed); }

Pasteboard& Pasteboard::general() {
  static auto* board = new Pasteboard(true);  // lives as long as the clipboard connection
  return *board;
}

Pasteboard& Pasteboard::drag() {
  static auto* board = new Pasteboard(false);
  return *board;
}

long Pasteboard::changeCount() const {
  KESTO_ASSERT_MAIN_THREAD();
  return d_->changeCount;
}

long Pasteboard::clearContents() {
  KESTO_ASSERT_MAIN_THREAD();
  long before = d_->changeCount;
  d_->items.clear();
  if (d_->clipboard)
    if (QClipboard* cb = QGuiApplication::clipboard()) cb->clear();
  if (d_->changeCount == before) ++d_->changeCount;
  return d_->changeCount;
}

bool Pasteboard::writeObjects(const std::vector<PasteboardItem>& items) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!d_->clipboard) {
    d_->items = items;
    ++d_->changeCount;
    return true;
  }
  QClipboard* cb = QGuiApplication::clipboard();
  if (!cb) return false;
  cb->setMimeData(pasteboard::toMimeData(items));
  return true;
}

std::vector<PasteboardItem> Pasteboard::pasteboardItems() const {
  KESTO_ASSERT_MAIN_THREAD();
  if (!d_->clipboard) return d_->items;
  QClipboard* cb = QGuiApplication::clipboard();
  return cb ? pasteboard::fromMimeData(cb->mimeData()) : std::vector<PasteboardItem>{};
}

bool Pasteboard::setData(const fnd::Data& data, const std::string& type) {
  KESTO_ASSERT_MAIN_THREAD();
  auto items = pasteboardItems();
  if (items.empty()) items.emplace_back();
  if (type == PasteboardType::URL) items.front().setURL(toString(data), items.front().title());
  else items.front().setData(data, type);
  return writeObjects(items);
}

bool Pasteboard::setString(const std::string& string, const std::string& type) {
  KESTO_ASSERT_MAIN_THREAD();
  return setData(toData(string), type);
}

std::optional<fnd::Data> Pasteboard::dataForType(const std::string& type) const {
  KESTO_ASSERT_MAIN_THREAD();
  for (const auto& item : pasteboardItems())
    if (auto d = item.dataForType(type)) return d;
  return std::nullopt;
}

std::optional<std::string> Pasteboard::stringForType(const std::string& type) const {
  KESTO_ASSERT_MAIN_THREAD();
  auto d = dataForType(type);
  if (!d) return std::nullopt;
  return toString(*d);
}

std::vector<std::string> Pasteboard::types() const {
  KESTO_ASSERT_MAIN_THREAD();
  std::vector<std::string> out;
  for (const auto& item : pasteboardItems())
    for (const auto& t : item.types())
      if (std::find(out.begin(), out.end(), t) == out.end()) out.push_back(t);
  return out;
}

std::optional<std::string> Pasteboard::availableTypeFromArray(const std::vector<std::string>& wanted) const {
  auto have = types();
  for (const auto& t : wanted)
    if (std::find(have.begin(), have.end(), t) != have.end()) return t;
  return std::nullopt;
}

std::vector<std::string> Pasteboard::URLs() const {
  std::vector<std::string> out;
  for (const auto& item : pasteboardItems())
    if (auto u = item.url()) out.push_back(*u);
  return out;
}

}  // namespace kesto::ui
