#pragma once

#include "Views/KSTRoundedToolbarView.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto {

inline constexpr const char* ToolbarFlexibleSpaceItemIdentifier = "NSToolbarFlexibleSpaceItem";
inline constexpr const char* ToolbarSpaceItemIdentifier = "NSToolbarSpaceItem";
inline constexpr const char* ToolbarSeparatorItemIdentifier = "NSToolbarSeparatorItem";

struct ToolbarItem {
  std::string itemIdentifier;
  std::shared_ptr<ui::View> view;
  fnd::Size minSize, maxSize;
  std::string label, paletteLabel, toolTip;
};

class Toolbar;

class ToolbarDelegate {
 public:
  virtual ~ToolbarDelegate() = default;
  // A new item for a custom identifier; null when there is none.
  virtual std::shared_ptr<ToolbarItem> toolbarItemForItemIdentifier(Toolbar& toolbar, const std::string& identifier,
                                                                    bool willBeInserted) = 0;
  virtual std::vector<std::string> toolbarAllowedItemIdentifiers(Toolbar& toolbar) = 0;
};

// The strip above the bookmark list: items in order, custom views at their fixed widths,
// spaces of 8 points, and flexible spaces sharing what is left. A drag on its background moves
// the window.
class Toolbar : public KSTRoundedToolbarView {
 public:
  enum DisplayMode { Default = 0, IconAndLabel = 1, IconOnly = 2, LabelOnly = 3 };
  static constexpr double kSpaceWidth = 8.0;

  explicit Toolbar(const fnd::Rect& frame = fnd::Rect());
  ToolbarDelegate* delegate() const { return delegate_; }
  void setDelegate(ToolbarDelegate* delegate) { delegate_ = delegate; }
  // Inserts the item for `identifier` at `index` (clamped to the end). Custom identifiers the
  // delegate has no item for insert nothing.
  void insertItemWithItemIdentifier(const std::string& identifier, std::size_t index);
  const std::vector<std::shared_ptr<ToolbarItem>>& items() const { return items_; }
  DisplayMode displayMode() const { return displayMode_; }
  void setDisplayMode(DisplayMode mode) { displayMode_ = mode; }
  void layout() override;
  void setFrame(const fnd::Rect& frame) override;

 private:
  ToolbarDelegate* delegate_ = nullptr;
  std::vector<std::shared_ptr<ToolbarItem>> items_;
  DisplayMode displayMode_ = Default;
};

}  // namespace kesto
