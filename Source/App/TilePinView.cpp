#include "App/TilePinView.h"

#include "Platform/UI/Event.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/Nib.h"
#include "Platform/UI/TokenField.h"
#include "Sidebar/TutorialPopovers.h"
#include "Views/FlippedView.h"
#include "Views/ImageBox.h"
#include "Views/TextLabel.h"
#include "Views/WebImageView.h"

#include <algorithm>

namespace kesto {

using ui::View;

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
  if (tutorials) tutorials->toggle(TutorialPopovers::Tutorial::Bookmark, sender);
}

void TilePinView::mouseDown(const ui::Event& event) {
  auto keep = weak_from_this().lock();  // the click may reload the list and drop this cell
  TileCollectionViewCell::mouseDown(event);
  if (compactRow_ && event.clickCount == 1 && TutorialPopovers::isPending(TutorialPopovers::Tutorial::Bookmark))
    showBookmarkPopover(this);
}

namespace {

// A control in a cell shows its value only: clicks, drags and right clicks go on to the cell
// (select, drag out, context menu), and it never takes the keyboard focus from the list.
template <typename Control>
class CellControl : public Control {
 public:
  explicit CellControl(const fnd::Rect& frame) : Control(frame) { this->refuseKeyboardFocus(); }
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

enum class CellKind { Grid, Extended, Compact };

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

// Builds one cell. Frames are top down (the cell is flipped); widths grow with the cell.
std::shared_ptr<TilePinView> buildCell(CellKind kind) {
  const fnd::Size size = kind == CellKind::Grid       ? fnd::Size{250, 310}
                         : kind == CellKind::Extended ? fnd::Size{520, 315}
                                                      : fnd::Size{540, 100};
  auto cell = std::make_shared<TilePinView>(fnd::Rect(0, 0, size.width, size.height));
  const unsigned W = View::WidthSizable, H = View::HeightSizable, L = View::MinXMargin;
  auto box = place<FlippedView>(cell, fnd::Rect(4, 4, size.width - 8, size.height - 8), W | H);
  box->setWantsLayer(true);
  box->setBackgroundColor(ui::Color::white(1.0));
  box->setCornerRadius(6);
  cell->box = box;
  const double bw = size.width - 8;
  switch (kind) {
    case CellKind::Grid: {
      cell->thumbnail = place<WebImageView>(box, fnd::Rect(8, 8, bw - 16, 180), W);
      cell->favicon = place<ImageBox>(box, fnd::Rect(8, 196, 16, 16), 0);
      cell->title = label(box, fnd::Rect(30, 194, bw - 60, 20), W, 13, true);
      cell->color = place<ImageBox>(box, fnd::Rect(bw - 24, 196, 14, 14), L);
      cell->url = label(box, fnd::Rect(8, 218, bw - 16, 18), W, 11, false, ui::Color::white(0.4));
      cell->date = label(box, fnd::Rect(8, 238, bw - 100, 18), W, 11, false, ui::Color::white(0.4));
      cell->rating = ratingIndicator(box, fnd::Rect(bw - 90, 238, 82, 16), L);
      cell->tags = tagsField(box, fnd::Rect(4, 256, bw - 76, 22), W);
      cell->note = label(box, fnd::Rect(8, 278, bw - 80, 18), W, 11, false, ui::Color::white(0.3));
      placeMarks(*cell, box, fnd::Point(bw - 70, 280), 18, fnd::Size{14, 14}, 12, L);
      break;
    }
    case CellKind::Extended: {
      cell->thumbnail = place<WebImageView>(box, fnd::Rect(8, 8, 260, 195), 0);
      const double x = 278, w = bw - x - 8;
      cell->favicon = place<ImageBox>(box, fnd::Rect(x, 10, 16, 16), 0);
      cell->title = label(box, fnd::Rect(x + 22, 8, w - 42, 20), W, 14, true);
      cell->color = place<ImageBox>(box, fnd::Rect(bw - 24, 10, 14, 14), L);
      cell->url = label(box, fnd::Rect(x, 34, w, 18), W, 11, false, ui::Color::white(0.4));
      cell->date = label(box, fnd::Rect(x, 56, w, 18), W, 11, false, ui::Color::white(0.4));
      cell->rating = ratingIndicator(box, fnd::Rect(x, 78, 100, 16), 0);
      placeMarks(*cell, box, fnd::Point(x + 110, 80), 20, fnd::Size{14, 14}, 14, 0);
      cell->tags = tagsField(box, fnd::Rect(x - 4, 100, w + 4, 22), W);
      cell->note = label(box, fnd::Rect(x, 126, w, 80), W, 11, false, ui::Color::white(0.3));
      break;
    }
    case CellKind::Compact: {
      cell->thumbnail = place<WebImageView>(box, fnd::Rect(6, 6, 110, 80), 0);
      const double x = 124, w = bw - x - 8;
      cell->favicon = place<ImageBox>(box, fnd::Rect(x, 8, 16, 16), 0);
      cell->title = label(box, fnd::Rect(x + 22, 6, w - 40, 20), W, 13, true);
      cell->color = place<ImageBox>(box, fnd::Rect(bw - 24, 8, 14, 14), L);
      cell->url = label(box, fnd::Rect(x, 28, w - 100, 16), W, 11, false, ui::Color::white(0.4));
      cell->rating = ratingIndicator(box, fnd::Rect(bw - 100, 28, 92, 16), L);
      cell->date = label(box, fnd::Rect(x, 46, w - 100, 16), W, 11, false, ui::Color::white(0.4));
      placeMarks(*cell, box, fnd::Point(bw - 80, 48), 18, fnd::Size{12, 12}, 12, L);
      cell->tags = tagsField(box, fnd::Rect(x - 4, 62, w / 2 + 4, 22), W);
      cell->setCompactRow(true);
      cell->note = label(box, fnd::Rect(x + w / 2, 64, w / 2, 16), W, 11, false, ui::Color::white(0.3));
      break;
    }
  }
  cell->thumbnail->setWantsLayer(true);
  cell->thumbnail->setBackgroundColor(ui::Color::white(0.9));
  cell->setSelected(false);
  return cell;
}

void registerKind(const char* name, CellKind kind) {
  ui::Nib::registerBuilder(name, [kind](void*, ui::Nib::TopLevelObjects& objects) {
    objects.push_back(buildCell(kind));
    return true;
  });
}

}  // namespace

void registerTilePinViewBuilders() {
  registerKind("TileCompactPinView", CellKind::Grid);
  registerKind("TilePinView", CellKind::Extended);
  registerKind("TileListView", CellKind::Compact);
}

}  // namespace kesto
