#include "App/TilePinView.h"

#include "Platform/UI/Event.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/Nib.h"
#include "Platform/UI/TokenField.h"
#include "Sidebar/TutorialPopovers.h"
#include "Views/KSTRoundedBox.h"
#include "Views/ImageBox.h"
#include "Views/TextLabel.h"
#include "Views/WebImageView.h"

#include <algorithm>

namespace kesto {

using ui::View;

namespace {

// The cell's rounded box; its subviews are placed top down.
class TileBox : public KSTRoundedBox {
 public:
  using KSTRoundedBox::KSTRoundedBox;
  bool isFlipped() const override { return true; }
};

}  // namespace

TilePinView::TilePinView(const fnd::Rect& frame) : TileCollectionViewCell(frame) {}

void TilePinView::setSelected(bool selected) {
  TileCollectionViewCell::setSelected(selected);
  if (box) {
    box->setBorderWidth(selected ? 4.0 : 1.5);
    box->setBorderColor(selected ? selectedBorderColor() : unselectedBorderColor());
  }
  setOpaque(true);
}

void TilePinView::setSelected(bool selected, bool) { setSelected(selected); }

void TilePinView::prepareForReuse() {
  TileCollectionViewCell::prepareForReuse();
  setOpaque(true);
  if (thumbnail) {
    thumbnail->cancelWebImageLoad();
    thumbnail->setImage(ui::Image());
  }
  for (const auto& view : {color, favorite, pinboard, delicious, broken})
    if (view) view->setImage(ui::Image());
  if (title) title->setStringValue("");
  if (note) note->setStringValue("");
}

void TilePinView::setHidden(bool hidden) {
  TileCollectionViewCell::setHidden(hidden);
  if (hidden) rowWent();
}

void TilePinView::setRepresentedObject(const std::shared_ptr<const void>& object) {
  const bool same = !represented_.owner_before(object) && !object.owner_before(represented_);
  represented_ = object;
  if (!same || !object) rowWent();
}

void TilePinView::rowWent() {
  if (auto* tips = tutorials()) tips->anchorWent(this);
}

void TilePinView::setTutorials(TutorialPopovers* tutorials) {
  tutorials_ = tutorials;
  tutorialsAlive_ = tutorials ? tutorials->watch() : fnd::Lifetime::Watch();
}

const std::vector<std::string>& TilePinView::tagNames() const {
  static const std::vector<std::string> none;
  return tags ? tags->tokens() : none;
}

void TilePinView::setTagNames(const std::vector<std::string>& names) {
  if (tags) tags->setTokens(names);
}

int TilePinView::ratingValue() const { return rating ? static_cast<int>(rating->doubleValue()) : 0; }

void TilePinView::setRatingValue(int value) {
  if (rating) rating->setDoubleValue(std::clamp(value, 0, 5));
}

void TilePinView::showBookmarkPopover(ui::View* sender) {
  if (auto* tips = tutorials()) tips->toggle(TutorialPopovers::Tutorial::Bookmark, sender);
}

void TilePinView::mouseDown(const ui::Event& event) {
  auto keep = weak_from_this().lock();  // the click may reload the list and drop this cell
  TileCollectionViewCell::mouseDown(event);
  if (compactRow_ && event.clickCount == 1 && TutorialPopovers::isPending(TutorialPopovers::Tutorial::Bookmark))
    showBookmarkPopover(this);
}

namespace {

// A control in a cell shows its value only: clicks, drags and right clicks go on to the cell
// (select, drag out, the bookmark's context menu), and it never takes the keyboard focus from the
// list. Its toolkit widget never sees the mouse, so it offers no menu of its own either.
template <typename Control>
class CellControl : public Control {
 public:
  explicit CellControl(const fnd::Rect& frame) : Control(frame) {
    this->refuseKeyboardFocus();
    this->refuseMouse();
  }
  void mouseDown(const ui::Event& event) override { ui::Responder::mouseDown(event); }
  void mouseUp(const ui::Event& event) override { ui::Responder::mouseUp(event); }
  void mouseDragged(const ui::Event& event) override { ui::Responder::mouseDragged(event); }
  void rightMouseDown(const ui::Event& event) override { ui::Responder::rightMouseDown(event); }
};

std::shared_ptr<ui::TokenField> tagsField(const std::shared_ptr<View>& parent, const fnd::Rect& frame, unsigned mask) {
  auto field = std::make_shared<CellControl<ui::TokenField>>(frame);
  field->setEditable(false);
  field->setDrawsBackground(false);
  ui::Font font;
  font.pointSize = 10;
  field->setFont(font);
  field->setAutoresizingMask(mask);
  parent->addSubview(field);
  return field;
}

std::shared_ptr<ui::LevelIndicator> ratingIndicator(const std::shared_ptr<View>& parent, const fnd::Rect& frame,
                                                    unsigned mask) {
  auto indicator = std::make_shared<CellControl<ui::LevelIndicator>>(frame);
  indicator->setEditable(false);
  indicator->setMaxValue(5);
  indicator->setAutoresizingMask(mask);
  parent->addSubview(indicator);
  return indicator;
}

template <typename T>
std::shared_ptr<T> place(const std::shared_ptr<View>& parent, const fnd::Rect& frame, unsigned mask) {
  auto v = std::make_shared<T>(frame);
  v->setAutoresizingMask(mask);
  parent->addSubview(v);
  return v;
}

std::shared_ptr<TextLabel> label(const std::shared_ptr<View>& parent, const fnd::Rect& frame, unsigned mask,
                                 double pointSize, bool bold = false, ui::Color colour = ui::Color::white(0.15)) {
  auto l = place<TextLabel>(parent, frame, mask);
  ui::Font font;
  font.pointSize = pointSize;
  font.bold = bold;
  l->setFont(font);
  l->setTextColor(colour);
  return l;
}

// The favourite, Pinboard, Delicious and broken marks in a row from `origin`, `step` apart; the
// broken mark may be narrower.
void placeMarks(TilePinView& cell, const std::shared_ptr<View>& box, fnd::Point origin, double step, fnd::Size size,
                double brokenWidth, unsigned mask) {
  std::shared_ptr<ImageBox>* marks[] = {&cell.favorite, &cell.pinboard, &cell.delicious, &cell.broken};
  for (auto* mark : marks) {
    const double width = mark == &cell.broken ? brokenWidth : size.width;
    *mark = place<ImageBox>(box, fnd::Rect(origin.x, origin.y, width, size.height), mask);
    origin.x += step;
  }
}

// Where one kind of cell puts its parts, as its interface file would. Frames are top down in
// the rounded box, which is the cell less 4 points all round: 242 wide in the grid, 512 in the
// extended list (text from x 278) and 532 in the compact list (text from x 124). The texts and
// the tags widen with the cell; the colour mark keeps to its right edge, and so do the rating
// and the marks where a text shares their line.
struct CellMetrics {
  fnd::Size size;
  fnd::Rect thumbnail, favicon, title, color, url, date, rating, tags, note;
  fnd::Point marks;  // the first of the favourite, Pinboard, Delicious and broken marks
  double markStep, markSide, brokenMarkWidth, titlePointSize;
  unsigned thumbnailMask, trailingMask;  // the latter for the rating and the marks
  bool compactRow;
};

constexpr unsigned W = View::WidthSizable, H = View::HeightSizable, L = View::MinXMargin;

constexpr CellMetrics kGridCell{
    .size = {250, 310}, .thumbnail = {8, 8, 226, 180}, .favicon = {8, 196, 16, 16}, .title = {30, 194, 182, 20},
    .color = {218, 196, 14, 14}, .url = {8, 218, 226, 18}, .date = {8, 238, 142, 18}, .rating = {152, 238, 82, 16},
    .tags = {4, 256, 166, 22}, .note = {8, 278, 162, 18}, .marks = {172, 280}, .markStep = 18, .markSide = 14,
    .brokenMarkWidth = 12, .titlePointSize = 13, .thumbnailMask = W, .trailingMask = L, .compactRow = false};
constexpr CellMetrics kExtendedCell{
    .size = {520, 315}, .thumbnail = {8, 8, 260, 195}, .favicon = {278, 10, 16, 16}, .title = {300, 8, 184, 20},
    .color = {488, 10, 14, 14}, .url = {278, 34, 226, 18}, .date = {278, 56, 226, 18}, .rating = {278, 78, 100, 16},
    .tags = {274, 100, 230, 22}, .note = {278, 126, 226, 80}, .marks = {388, 80}, .markStep = 20, .markSide = 14,
    .brokenMarkWidth = 14, .titlePointSize = 14, .thumbnailMask = 0, .trailingMask = 0, .compactRow = false};
constexpr CellMetrics kCompactCell{
    .size = {540, 100}, .thumbnail = {6, 6, 110, 80}, .favicon = {124, 8, 16, 16}, .title = {146, 6, 360, 20},
    .color = {508, 8, 14, 14}, .url = {124, 28, 300, 16}, .date = {124, 46, 300, 16}, .rating = {432, 28, 92, 16},
    .tags = {120, 62, 204, 22}, .note = {324, 64, 200, 16}, .marks = {452, 48}, .markStep = 18, .markSide = 12,
    .brokenMarkWidth = 12, .titlePointSize = 13, .thumbnailMask = 0, .trailingMask = L, .compactRow = true};

std::shared_ptr<TilePinView> buildCell(const CellMetrics& m) {
  auto cell = std::make_shared<TilePinView>(fnd::Rect(0, 0, m.size.width, m.size.height));
  auto box = place<TileBox>(cell, fnd::Rect(4, 4, m.size.width - 8, m.size.height - 8), W | H);
  box->awakeFromNib();
  // White behind the thumbnail and the texts: they read better on it than on the box's grey.
  box->setBackgroundColor(ui::Color::white(1.0));
  cell->box = box;
  cell->thumbnail = place<WebImageView>(box, m.thumbnail, m.thumbnailMask);
  cell->favicon = place<ImageBox>(box, m.favicon, 0);
  cell->title = label(box, m.title, W, m.titlePointSize, true);
  cell->color = place<ImageBox>(box, m.color, L);
  cell->url = label(box, m.url, W, 11, false, ui::Color::white(0.4));
  cell->date = label(box, m.date, W, 11, false, ui::Color::white(0.4));
  cell->rating = ratingIndicator(box, m.rating, m.trailingMask);
  cell->tags = tagsField(box, m.tags, W);
  cell->note = label(box, m.note, W, 11, false, ui::Color::white(0.3));
  placeMarks(*cell, box, m.marks, m.markStep, fnd::Size{m.markSide, m.markSide}, m.brokenMarkWidth, m.trailingMask);
  cell->setCompactRow(m.compactRow);
  cell->thumbnail->setWantsLayer(true);
  cell->thumbnail->setBackgroundColor(ui::Color::white(0.9));
  cell->setSelected(false);
  return cell;
}

void registerKind(const char* name, const CellMetrics& metrics) {
  ui::Nib::registerBuilder(name, [&metrics](void*, ui::Nib::TopLevelObjects& objects) {
    objects.push_back(buildCell(metrics));
    return true;
  });
}

}  // namespace

void registerTilePinViewBuilders() {
  registerKind("TileCompactPinView", kGridCell);
  registerKind("TilePinView", kExtendedCell);
  registerKind("TileListView", kCompactCell);
}

}  // namespace kesto
