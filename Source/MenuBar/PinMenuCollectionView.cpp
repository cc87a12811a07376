#include "MenuBar/PinMenuCollectionView.h"

#include "MenuBar/PinMenuView.h"
#include "Model/ViewUpdater.h"
#include "Platform/UI/Event.h"

namespace kesto {

void PinMenuCollectionView::awakeFromNib() {
  TileCollectionView::awakeFromNib();
  // Our views draw no focus ring; the list lets the window's background show.
  setBackgroundColor(ui::Color::clear());
}

void PinMenuCollectionView::keyDown(const ui::Event& event) {
  if (event.charactersIgnoringModifiers == "\r") {
    ViewUpdater::openSelectedBookmarksMenu();
    return;
  }
  TileCollectionView::keyDown(event);
}

PinMenuCollectionViewItem::PinMenuCollectionViewItem(const fnd::Rect& frame)
    : TileCollectionViewCell(frame), pinView_(std::make_shared<PinMenuView>(fnd::Rect(0, 0, frame.size.width, frame.size.height))) {
  pinView_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  addSubview(pinView_);
}

void PinMenuCollectionViewItem::setSelected(bool selected) {
  TileCollectionViewCell::setSelected(selected);
  pinView_->setSelected(selected);
  pinView_->setNeedsDisplay();
}

}  // namespace kesto
