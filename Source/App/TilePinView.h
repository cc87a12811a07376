#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/UIForward.h"
#include "Views/KSTRoundedBox.h"
#include "Views/TileCollectionViewCell.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto {

class ImageBox;
class TextLabel;
class TutorialPopovers;
class WebImageView;

// The one cell of the bookmark list in all three modes; the mode's builder ("TileCompactPinView",
// "TilePinView" or "TileListView") arranges the same outlets differently. The cell only shows
// what the data source puts in; its selection is the border of its rounded box.
class TilePinView : public TileCollectionViewCell {
 public:
  explicit TilePinView(const fnd::Rect& frame = fnd::Rect());
  bool isFlipped() const override { return true; }

  using TileCollectionViewCell::setSelected;
  void setSelected(bool selected) override;
  void setSelected(bool selected, bool animated) override;
  void prepareForReuse() override;
  void layout() override {}
  // A cell hidden in the reuse pool no longer shows its row.
  void setHidden(bool hidden) override;

  // The size the menu-bar list gives its items.
  static fnd::Size getSize() { return fnd::Size{470, 300}; }

  // The selection border colours.
  static ui::Color selectedBorderColor() { return ui::Color::rgb(0.851, 0.345, 0.122, 1.0); }
  static ui::Color unselectedBorderColor() { return ui::Color::white(0.8); }

  // Outlets, connected by the builders.
  std::shared_ptr<KSTRoundedBox> box;
  std::shared_ptr<WebImageView> thumbnail;
  std::shared_ptr<ImageBox> favicon, color, favorite, pinboard, delicious, broken;
  std::shared_ptr<TextLabel> title, url, date, note;
  // Controls that only show their value: a click in them is a click in the cell.
  std::shared_ptr<ui::TokenField> tags;
  std::shared_ptr<ui::LevelIndicator> rating;
  // Not retained: the list's controller.
  void* delegate = nullptr;
  // Not retained: the first-use popovers; set by the data source. Null once they are gone (a
  // cell can outlive them when the window is taken down).
  void setTutorials(TutorialPopovers* tutorials);
  TutorialPopovers* tutorials() const { return tutorialsAlive_ ? tutorials_ : nullptr; }

  // The token field's and level indicator's values.
  const std::vector<std::string>& tagNames() const;
  void setTagNames(const std::vector<std::string>& names);
  int ratingValue() const;
  void setRatingValue(int value);

  // The rows of the compact list explain themselves with the first-use bookmark popover.
  bool isCompactRow() const { return compactRow_; }
  void setCompactRow(bool compact) { compactRow_ = compact; }
  // What the cell shows, by identity (the data source sets it for each item, null for none). A
  // reused cell given another item drops the tip pointing at its old row; given the same one
  // again (a reload that kept the row in place) it keeps it.
  void setRepresentedObject(const std::shared_ptr<const void>& object);
  // Shows the bookmark popover beside `sender` (left of it), or closes it when it is open.
  void showBookmarkPopover(ui::View* sender);
  // A single click on a compact row shows the popover until its tutorial was closed.
  void mouseDown(const ui::Event& event) override;

 private:
  void rowWent();
  bool compactRow_ = false;
  TutorialPopovers* tutorials_ = nullptr;
  fnd::Lifetime::Watch tutorialsAlive_;
  // Weak, and compared by owner: a freed item's address taken by another is still another item.
  std::weak_ptr<const void> represented_;
};

// Registers the three cell builders under their interface-file names.
void registerTilePinViewBuilders();

}  // namespace kesto
