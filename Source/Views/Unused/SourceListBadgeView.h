#pragma once

#include "Platform/UI/View.h"
#include "Views/SourceListBadgeCell.h"

namespace kesto {

// A badge as a view of its own, for rows made of views: it draws its cell over its bounds.
class SourceListBadgeView : public ui::View {
 public:
  using ui::View::View;

  std::uint64_t badgeValue() const { return cell_.badgeValue(); }
  void setBadgeValue(std::uint64_t value);
  const std::optional<ui::Color>& textColor() const { return cell_.textColor(); }
  void setTextColor(std::optional<ui::Color> color);
  const std::optional<ui::Color>& backgroundColor() const { return cell_.backgroundColor(); }
  void setBackgroundColor(std::optional<ui::Color> color);
  SourceListBadgeCell& cell() { return cell_; }

  // The cell's natural size.
  void sizeToFit() { setFrameSize(cell_.cellSize()); }
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 private:
  SourceListBadgeCell cell_;
};

// A row view holding a badge view against its right edge, centred vertically.
class SourceListTableCellView : public ui::View {
 public:
  using ui::View::View;

  SourceListBadgeView* badgeView() const { return badgeView_.lock().get(); }
  void setBadgeView(const std::shared_ptr<SourceListBadgeView>& view) { badgeView_ = view; }
  void layout() override;

 private:
  std::weak_ptr<SourceListBadgeView> badgeView_;
};

}  // namespace kesto
