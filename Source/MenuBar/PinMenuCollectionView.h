#pragma once

#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewCell.h"

namespace kesto {

class PinMenuView;

// The older menu-bar bookmark list on the collection view: no focus ring, a clear background,
// Return (whatever modifiers are held) opens the selected menu bookmarks, and right clicks are
// swallowed. Nothing in the application shows it: the live menu-bar list is
// MenuBookmarksController's.
class PinMenuCollectionView : public TileCollectionView {
 public:
  using TileCollectionView::TileCollectionView;
  void awakeFromNib() override;
  bool acceptsFirstResponder() override { return true; }
  void keyDown(const ui::Event& event) override;
  void rightMouseUp(const ui::Event&) override {}
};

// An item of that list, holding a PinMenuView: selecting the item selects and redraws the row.
class PinMenuCollectionViewItem : public TileCollectionViewCell {
 public:
  explicit PinMenuCollectionViewItem(const fnd::Rect& frame);
  bool acceptsFirstResponder() override { return true; }
  void setSelected(bool selected) override;
  const std::shared_ptr<PinMenuView>& pinView() const { return pinView_; }

 private:
  std::shared_ptr<PinMenuView> pinView_;
};

}  // namespace kesto
