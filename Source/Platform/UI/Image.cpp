#include "Platform/UI/Image.h"

#include "Platform/Foundation/ImageTranscoding.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/Image_p.h"

#include <QBuffer>
#include <QFile>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>

// Outside any namespace, as the resource system wants; also keeps the artwork linked in from
// the static library.
static void initKestoArtwork() { Q_INIT_RESOURCE(KestoImages); }

namespace kesto::ui {

Image::Image() = default;
Image::Image(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
Image::Image(int width, int height, const Color& fill)
    : impl_(std::make_shared<Impl>(Impl{QImage(width, height, QImage::Format_ARGB32_Premultiplied)})) {
  impl_->image.fill(toQColor(fill));
}
Image::~Image() = default;
Image::Image(const Image&) = default;

Image Image::fromRGBA(int width, int height, const std::vector<std::uint8_t>& bytes) {
  if (width <= 0 || height <= 0 || bytes.size() != std::size_t(width) * std::size_t(height) * 4) return Image();
  QImage rows(bytes.data(), width, height, width * 4, QImage::Format_RGBA8888);
  return Image(std::make_shared<Impl>(Impl{rows.convertToFormat(QImage::Format_ARGB32_Premultiplied)}));
}

Image Image::drawn(const fnd::Size& size, std::function<void(GraphicsContext&)> draw) {
  const int w = std::max(1, int(std::ceil(size.width))), h = std::max(1, int(std::ceil(size.height)));
  auto render = [size, draw](const QSize& pixels) {
    QImage out(pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    if (!draw || size.width <= 0 || size.height <= 0) return out;
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Points to pixels, y upwards.
    const double sx = pixels.width() / size.width, sy = pixels.height() / size.height;
    painter.setTransform(QTransform(sx, 0, 0, -sy, 0, pixels.height()));
    GraphicsContext::Impl impl;
    impl.painter = &painter;
    GraphicsContext context(&impl, false, size.height);
    draw(context);
    return out;
  };
  auto impl = std::make_shared<Impl>(Impl{render(QSize(w, h))});
  impl->source = render;
  return Image(impl);
}
Image& Image::operator=(const Image&) = default;

Image Image::fromData(const std::vector<std::uint8_t>& data) {
  QImage img;
  if (data.empty() || !img.loadFromData(data.data(), int(data.size()))) return Image();
  return Image(std::make_shared<Impl>(Impl{img}));
}

void Image::installPNGTranscoder() {
  fnd::setPNGTranscoder([](const fnd::Data& encoded) {
    const Image image = fromData(encoded);
    return image.isNull() ? fnd::Data() : image.encoded("png");
  });
}

Image Image::fromFile(const std::string& path) {
  QImage img;
  if (!img.load(QString::fromStdString(path))) return Image();
  return Image(std::make_shared<Impl>(Impl{img}));
}

namespace {

// Where the artwork of one name comes from: a freedesktop icon name, or one of our drawings
// (with its template colour #7f7f7f replaced by `tint`).
struct Artwork {
  const char* theme = nullptr;
  const char* drawing = nullptr;
  const char* tint = nullptr;
};

// Colours of the folder and bookmark colour words.
const char* colourForWord(const std::string& word) {
  static const std::map<std::string, const char*> colours = {
      {"blue", "#3b7ddd"},  {"red", "#d9453c"},    {"green", "#4caf50"}, {"grey", "#9e9e9e"},
      {"yellow", "#f2c12e"}, {"orange", "#f28c28"}, {"smart", "#8e6fd8"}};
  auto it = colours.find(word);
  return it == colours.end() ? nullptr : it->second;
}

std::optional<Artwork> artworkFor(const std::string& name) {
  static const std::map<std::string, Artwork> table = {
      // Toolbar and buttons: the theme's symbolic glyphs, one dark ink for all of them (the
      // theme's full-colour ones are drawn faint and look disabled when they are not).
      {"library_empty", {"user-bookmarks"}},
      {"toolbar_add", {"list-add-symbolic"}},
      {"toolbar_open_in_browser", {"web-browser-symbolic"}},
      {"safari", {"web-browser-symbolic"}},
      {"chrome", {"web-browser-symbolic"}},
      {"firefox", {"web-browser-symbolic"}},
      {"opera", {"web-browser-symbolic"}},
      {"toolbar_quicklook", {"document-print-preview-symbolic"}},
      {"toolbar_update", {"view-refresh-symbolic"}},
      {"toolbar_trash", {"user-trash-symbolic"}},
      {"toolbar_info", {"dialog-information-symbolic"}},
      {"toolbar_sync", {"emblem-synchronizing-symbolic"}},
      {"kesto_background", {"user-bookmarks"}},
      {"folder_search", {"system-search"}},
      {"thumbnail_view", {nullptr, "view_grid"}},
      {"list_view", {nullptr, "view_list"}},
      {"new_list", {nullptr, "view_compact"}},
      {"collapse_left", {nullptr, "collapse_left"}},
      {"collapse_right", {nullptr, "collapse_right"}},
      {"folder_menu_sort_user", {nullptr, "folder_menu_sort_user"}},
      {"folder_menu_sort_az", {nullptr, "folder_menu_sort_az"}},
      {"rating_desc", {nullptr, "rating_desc"}},
      {"title_asc", {nullptr, "title_asc"}},
      {"date_asc", {nullptr, "date_asc"}},
      {"date_desc", {nullptr, "date_desc"}},
      {"visited_desc", {nullptr, "visited_desc"}},
      {"favorite_desc", {nullptr, "favorite_desc"}},
      {"filterImage", {nullptr, "filterImage"}},
      {"KRSnapback", {"edit-undo"}},
      {"KRRemoveShortcut", {"edit-clear"}},
      {"KRRemoveShortcutRollover", {"edit-clear"}},
      {"KRRemoveShortcutPressed", {"edit-delete"}},
      // Sidebar.
      {"folder_library", {"user-bookmarks"}},
      {"folder_inbox", {"mail-read"}},
      {"folder_import", {"folder-download"}},
      {"pinboard_folders", {"folder-remote"}},
      {"delicious_folders", {"folder-remote"}},
      {"blocked", {"changes-prevent"}},
      {"sourcelist_today", {nullptr, "calendar", "#d9453c"}},
      {"sourcelist_yesterday", {nullptr, "calendar", "#f28c28"}},
      {"sourcelist_week", {nullptr, "calendar", "#4caf50"}},
      {"sourcelist_month", {nullptr, "calendar", "#3b7ddd"}},
      {"sourcelist_top25", {"emblem-favorite"}},
      {"sourcelist_5stars", {"starred"}},
      {"sourcelist_notes", {"accessories-text-editor"}},
      {"sourcelist_tags", {nullptr, "tag"}},
      {"sourcelist_credentials", {"dialog-password"}},
      {"sourcelist_favorites", {nullptr, "star", "#f2c12e"}},
      {"sourcelist_duplicates", {"edit-copy"}},
      {"sourcelist_broken", {"dialog-warning"}},
      {"sourcelist_empty_trash", {"user-trash"}},
      // Bookmarks.
      {"bookmark_warning", {"dialog-warning"}},
      {"bookmark_favorite", {nullptr, "star", "#ffffff"}},
      {"bookmark_favorite_selected", {nullptr, "star", "#f2c12e"}},
      {"pinboard", {nullptr, "service_pin"}},
      {"delicious", {nullptr, "service_squares"}},
      {"default_favicon", {"text-html"}},
      {"drag_thumbnail", {nullptr, "drag_thumbnail"}},
      {"image.png", {"image-x-generic"}},
      // Status item, backgrounds and the path bar.
      {"Status", {nullptr, "Status"}},
      {"StatusHighlighted", {nullptr, "Status", nullptr}},
      {"kesto_background", {nullptr, "kesto_background"}},
      {"paper_background", {nullptr, "paper_background"}},
      {"page_background.png", {nullptr, "page_background"}},
      {"Pathbar-fill", {nullptr, "Pathbar-fill"}},
      {"Pathbar-highlight", {nullptr, "Pathbar-highlight"}},
      {"Pathbar-highlight-arrow-left", {nullptr, "Pathbar-highlight-arrow-left"}},
      {"Pathbar-highlight-arrow-right", {nullptr, "Pathbar-highlight-arrow-right"}},
      {"Pathbar-highlight-edge", {nullptr, "Pathbar-highlight-edge"}},
      {"Pathbar-separator", {nullptr, "Pathbar-separator"}},
  };
  auto it = table.find(name);
  if (it != table.end()) return it->second;
  for (const char* family : {"folder_", "bookmark_"}) {
    std::string prefix = family;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (const char* colour = colourForWord(name.substr(prefix.size())))
      return Artwork{nullptr, prefix == "folder_" ? "folder" : "bookmark_dot", colour};
  }
  return std::nullopt;
}

void configureIconTheme() {
  // Without a desktop session nothing names a theme; the one setup installs serves then, and
  // also fills the gaps of whatever theme the desktop uses.
  static bool pathsAdded = false;
  if (!pathsAdded) {
    // Platforms without a desktop theme (offscreen, bare X sessions) search no folders at all.
    pathsAdded = true;
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
      if (!paths.contains(dir + "/icons")) paths << dir + "/icons";
    QIcon::setThemeSearchPaths(paths);
  }
  QString theme = QIcon::themeName();
  if (theme.isEmpty() || theme == "hicolor") QIcon::setThemeName("Adwaita");
  if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == "hicolor")
    QIcon::setFallbackThemeName("Adwaita");
}

constexpr const char* kInk = "#4a4a4a";
constexpr const char* kSelectedInk = "#2f6fd6";
constexpr int kThemeIconSize = 32;

// Our drawing's SVG text, recoloured for the look asked for; empty when there is none.
QByteArray drawingSource(const Artwork& art, bool selected, bool highlighted) {
  QFile file(QString(":/kesto/images/") + art.drawing + ".svg");
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  QByteArray svg = file.readAll();
  if (art.tint) svg.replace("#7f7f7f", art.tint);
  if (selected) svg.replace(kInk, kSelectedInk);
  if (highlighted) svg.replace(kInk, "#ffffff");
  return svg;
}

QImage renderSvg(const QByteArray& svg, QSize size) {
  QSvgRenderer renderer(svg);
  if (!renderer.isValid()) return QImage();
  if (size.isEmpty()) size = renderer.defaultSize();
  if (size.isEmpty()) return QImage();
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(0, 0, size.width(), size.height()));
  return image;
}

// A theme icon at a pixel size: the theme's own bitmap of the nearest size, or its scalable one.
QImage renderIcon(const QIcon& icon, const QSize& size, bool selected) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (selected) {
    // The theme's icon cannot be recoloured: the selected look is a highlight behind it.
    QPainterPath backing;
    backing.addRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 5, 5);
    painter.fillPath(backing, QColor(47, 111, 214, 90));
  }
  icon.paint(&painter, QRect(QPoint(0, 0), size));
  return image;
}

Image scalableImage(QImage image, std::function<QImage(const QSize&)> source) {
  if (image.isNull()) return Image();
  auto impl = std::make_shared<Image::Impl>();
  impl->image = std::move(image);
  impl->source = std::move(source);
  return Image(impl);
}

Image imageOfArtwork(const std::string& name) {
  static const std::string kSelected = "_selected";
  bool selected = false;
  std::optional<Artwork> art = artworkFor(name);
  if (!art && name.size() > kSelected.size() &&
      name.compare(name.size() - kSelected.size(), kSelected.size(), kSelected) == 0) {
    art = artworkFor(name.substr(0, name.size() - kSelected.size()));
    selected = true;
  }
  if (!art) return Image();
  if (art->theme) {
    configureIconTheme();
    QIcon icon = QIcon::fromTheme(art->theme);
    if (!icon.isNull()) {
      return scalableImage(renderIcon(icon, QSize(kThemeIconSize, kThemeIconSize), selected),
                      [icon, selected](const QSize& size) { return renderIcon(icon, size, selected); });
    }
    if (!art->drawing) return Image();
  }
  QByteArray svg = drawingSource(*art, selected, name == "StatusHighlighted");
  if (svg.isEmpty()) return Image();
  return scalableImage(renderSvg(svg, QSize()), [svg](const QSize& size) { return renderSvg(svg, size); });
}

}  // namespace

QImage Image::Impl::atPixelSize(const QSize& pixels) const {
  if (!source || pixels.isEmpty() || pixels == image.size() || pixels.width() > 1024 || pixels.height() > 1024)
    return image;
  std::lock_guard lock(renders->mutex);
  auto key = std::make_pair(pixels.width(), pixels.height());
  auto it = renders->bySize.find(key);
  if (it != renders->bySize.end()) return it->second;
  // A handful of sizes per image are ever drawn; a bound keeps a resizing view from piling up.
  if (renders->bySize.size() >= 8) renders->bySize.clear();
  QImage rendered = source(pixels);
  if (rendered.isNull()) rendered = image;
  renders->bySize.emplace(key, rendered);
  return rendered;
}

QImage Image::Impl::scaledTo(const QSize& pixels) const {
  if (source) return atPixelSize(pixels);
  if (pixels.isEmpty() || pixels == image.size() || image.isNull()) return image;
  std::lock_guard lock(renders->mutex);
  auto key = std::make_pair(pixels.width(), pixels.height());
  auto it = renders->bySize.find(key);
  if (it != renders->bySize.end()) return it->second;
  if (renders->bySize.size() >= 8) renders->bySize.clear();
  QImage scaled = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  renders->bySize.emplace(key, scaled);
  return scaled;
}

Image Image::iconNamed(const std::string& nameOrPath) {
  if (nameOrPath.empty()) return Image();
  configureIconTheme();
  QString text = QString::fromStdString(nameOrPath);
  QIcon icon;
  if (text.startsWith('/')) {
    // A desktop entry's icon file, read as an image (a file that is none gives no icon).
    if (QFile::exists(text)) icon = QIcon(text);
  } else if (!text.contains('/') && QIcon::hasThemeIcon(text)) {
    icon = QIcon::fromTheme(text);
  }
  if (icon.isNull()) return Image();
  QImage base = renderIcon(icon, QSize(kThemeIconSize, kThemeIconSize), false);
  return scalableImage(base, [icon](const QSize& size) { return renderIcon(icon, size, false); });
}

Image Image::named(const std::string& name) {
  if (name.empty()) return Image();
  static std::once_flag resources;
  std::call_once(resources, initKestoArtwork);
  static std::mutex mutex;
  static std::map<std::string, Image> cache;
  std::lock_guard lock(mutex);
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  Image result = imageOfArtwork(name);
  // Unknown names are remembered too, so a miss costs one look-up.
  cache.emplace(name, result);
  return result;
}

bool Image::isNull() const { return !impl_ || impl_->image.isNull(); }

fnd::Size Image::size() const {
  if (isNull()) return {};
  return fnd::Size{double(impl_->image.width()), double(impl_->image.height())};
}

Color Image::pixelColor(int x, int y) const {
  if (isNull() || !impl_->image.valid(x, y)) return Color::clear();
  return fromQColor(impl_->image.pixelColor(x, y));
}

Image Image::scaledToFit(int width, int height) const {
  if (isNull() || width <= 0 || height <= 0) return Image();
  const QImage& image = impl_->image;
  if (image.width() <= width && image.height() <= height) return *this;
  const QImage scaled = image.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return Image(std::make_shared<Impl>(Impl{scaled}));
}

std::vector<std::uint8_t> Image::encoded(const std::string& format, int quality) const {
  if (isNull()) return {};
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!impl_->image.save(&buffer, format.c_str(), quality)) return {};
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool Image::writeToFile(const std::string& path) const {
  return !isNull() && impl_->image.save(QString::fromStdString(path));
}

bool Image::operator==(const Image& other) const {
  if (isNull() || other.isNull()) return isNull() == other.isNull();
  return impl_ == other.impl_ || impl_->image == other.impl_->image;
}

}  // namespace kesto::ui
