#include "App/PreviewPanel.h"

#include "Model/Bookmark.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Net/URL.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Label.h"
#include "Views/WebImageView.h"

namespace kesto {

namespace {

constexpr double kPreviewWidth = 560, kPreviewHeight = 520, kPreviewMargin = 16;

// The panel's content takes the keyboard focus, so the keys pressed while the panel is in front
// reach the panel and not a button.
class PreviewContentView : public ui::View {
 public:
  using ui::View::View;
  bool acceptsFirstResponder() override { return true; }
};

std::shared_ptr<ui::Label> makeLabel(const std::shared_ptr<ui::View>& parent, const fnd::Rect& frame, double pointSize,
                                     bool bold, ui::Color colour) {
  auto label = std::make_shared<ui::Label>(frame);
  ui::Font font;
  font.pointSize = pointSize;
  font.bold = bold;
  label->setFont(font);
  label->setTextColor(colour);
  label->setSelectable(true);
  label->setAutoresizingMask(ui::View::WidthSizable);
  parent->addSubview(label);
  return label;
}

}  // namespace

PreviewPanel::PreviewPanel()
    : ui::Panel(fnd::Rect(0, 0, kPreviewWidth, kPreviewHeight), ui::WindowStyle::Titled | ui::WindowStyle::Closable |
                                                                    ui::WindowStyle::Resizable |
                                                                    ui::WindowStyle::UtilityWindow) {
  KESTO_ASSERT_MAIN_THREAD();
  setTitle("Quick Look");
  setFloatingPanel(true);
  // Above the other windows only while Kesto is the program the user works in.
  setHidesOnDeactivate(true);
  setMinSize(fnd::Size{360, 360});
  auto content = std::make_shared<PreviewContentView>(fnd::Rect(0, 0, kPreviewWidth, kPreviewHeight));
  content->setBackgroundColor(ui::Color::white(0.16));
  setContentView(content);
  const double w = kPreviewWidth - 2 * kPreviewMargin;
  // Top to bottom: thumbnail, title, address, notes; the pager along the bottom.
  thumbnail_ = std::make_shared<WebImageView>(fnd::Rect(kPreviewMargin, 188, w, 316));
  thumbnail_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  thumbnail_->setWantsLayer(true);
  thumbnail_->setBackgroundColor(ui::Color::white(0.24));
  content->addSubview(thumbnail_);
  title_ = makeLabel(content, fnd::Rect(kPreviewMargin, 154, w, 26), 15, true, ui::Color::white(0.97));
  address_ = makeLabel(content, fnd::Rect(kPreviewMargin, 132, w, 20), 11, false, ui::Color::rgb(0.55, 0.72, 1.0, 1.0));
  notes_ = makeLabel(content, fnd::Rect(kPreviewMargin, 50, w, 76), 11, false, ui::Color::white(0.85));
  notes_->setWraps(true);
  position_ = makeLabel(content, fnd::Rect(kPreviewWidth / 2 - 60, 14, 120, 20), 11, false, ui::Color::white(0.75));
  position_->setAlignment(ui::TextAlignment::Center);
  position_->setAutoresizingMask(ui::View::MinXMargin | ui::View::MaxXMargin);
  auto pagerButton = [&](const fnd::Rect& frame, const std::string& title, const std::string& tip, unsigned mask) {
    auto b = std::make_shared<ui::Button>(frame);
    b->setTitle(title);
    b->setToolTip(tip);
    b->setTakesFocusOnClick(false);
    b->setAutoresizingMask(mask);
    content->addSubview(b);
    return b;
  };
  previous_ = pagerButton(fnd::Rect(kPreviewMargin, 10, 40, 28), "\u2039", "Previous bookmark", ui::View::MaxXMargin);
  previous_->setAction([this] { showPreviousItem(); });
  next_ = pagerButton(fnd::Rect(kPreviewWidth - kPreviewMargin - 40, 10, 40, 28), "\u203A", "Next bookmark",
                      ui::View::MinXMargin);
  next_->setAction([this] { showNextItem(); });
  showCurrentItem();
}

PreviewPanel::~PreviewPanel() {
  if (thumbnail_) thumbnail_->cancelWebImageLoad();
}

void PreviewPanel::setDataSource(PreviewPanelDataSource* dataSource) {
  KESTO_ASSERT_MAIN_THREAD();
  dataSource_ = dataSource;
  reloadData();
}

void PreviewPanel::reloadData() {
  KESTO_ASSERT_MAIN_THREAD();
  count_ = dataSource_ ? dataSource_->numberOfPreviewItemsInPreviewPanel(*this) : 0;
  if (index_ >= count_) index_ = 0;
  showCurrentItem();
}

void PreviewPanel::setCurrentPreviewItemIndex(std::size_t index) {
  KESTO_ASSERT_MAIN_THREAD();
  if (index >= count_) return;
  index_ = index;
  showCurrentItem();
}

std::shared_ptr<Bookmark> PreviewPanel::currentPreviewItem() const {
  if (!dataSource_ || index_ >= count_) return nullptr;
  return dataSource_->previewPanelPreviewItemAtIndex(const_cast<PreviewPanel&>(*this), index_);
}

void PreviewPanel::showNextItem() {
  KESTO_ASSERT_MAIN_THREAD();
  if (count_ > 1) setCurrentPreviewItemIndex((index_ + 1) % count_);
}

void PreviewPanel::showPreviousItem() {
  KESTO_ASSERT_MAIN_THREAD();
  if (count_ > 1) setCurrentPreviewItemIndex((index_ + count_ - 1) % count_);
}

std::string PreviewPanel::shownTitle() const { return title_->stringValue(); }
std::string PreviewPanel::shownAddress() const { return address_->stringValue(); }
std::string PreviewPanel::shownNotes() const { return notes_->stringValue(); }
std::string PreviewPanel::shownPosition() const { return position_->stringValue(); }

void PreviewPanel::showCurrentItem() {
  auto item = currentPreviewItem();
  thumbnail_->cancelWebImageLoad();
  thumbnail_->setImage(ui::Image());
  previous_->setHidden(count_ < 2);
  next_->setHidden(count_ < 2);
  position_->setStringValue(count_ > 1 ? std::to_string(index_ + 1) + " of " + std::to_string(count_) : "");
  if (!item) {
    title_->setStringValue(count_ == 0 ? "No bookmark selected" : "");
    address_->setStringValue("");
    notes_->setStringValue("");
    setTitle("Quick Look");
    return;
  }
  const std::string title = item->previewItemTitle().value_or("");
  const std::string address = item->url().value_or("");
  title_->setStringValue(title.empty() ? address : title);
  address_->setStringValue(address);
  notes_->setStringValue(item->notes().value_or(""));
  setTitle(title.empty() ? "Quick Look" : title);
  if (item->thumbnailManuallySet() > 0) {
    auto data = item->thumbnail();
    thumbnail_->setImage(data ? ui::Image::fromData(*data) : ui::Image());
  } else if (item->previewItemURL()) {
    // The address the list's cells load, so a thumbnail already shown comes from the cache.
    if (auto url = net::URL::fromString(Bookmark::thumbnailRequestURL(address, "l", 120)))
      thumbnail_->setImageURL(*url);
  }
}

void PreviewPanel::placeOverWindowOnce(const ui::Window& window) {
  if (placed_) return;
  placed_ = true;
  const fnd::Rect over = window.frame(), own = frame();
  setFrame(fnd::Rect(over.midX() - own.size.width / 2, over.midY() - own.size.height / 2, own.size.width,
                     own.size.height),
           false);
}

void PreviewPanel::keyDown(const ui::Event& event) {
  if (isCancelKey(event)) return ui::Panel::keyDown(event);
  if (dataSource_ && dataSource_->previewPanelHandleEvent(*this, event)) return;
  ui::Panel::keyDown(event);
}

}  // namespace kesto
