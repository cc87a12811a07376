#include "Views/TileScrollView.h"

#include "Views/TileClipView.h"

namespace kesto {

TileScrollView::TileScrollView(const fnd::Rect& frame) : ui::ScrollView(frame) { swapClipView(); }

void TileScrollView::awakeFromNib() {
  ui::ScrollView::awakeFromNib();
  if (!clipView()) swapClipView();
}

TileClipView* TileScrollView::clipView() const { return dynamic_cast<TileClipView*>(contentView().get()); }

void TileScrollView::swapClipView() {
  setWantsLayer(true);
  std::shared_ptr<ui::View> document = documentView();
  fnd::Rect frame = contentView() ? contentView()->frame() : bounds();
  if (document) document->removeFromSuperview();
  setContentView(std::make_shared<TileClipView>(frame));
  if (document) setDocumentView(document);
}

}  // namespace kesto
