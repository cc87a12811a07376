#pragma once

#include "Platform/UI/ScrollView.h"

namespace kesto {

class TileClipView;

// A scroll view whose clip view is a TileClipView.
class TileScrollView : public ui::ScrollView {
 public:
  explicit TileScrollView(const fnd::Rect& frame = fnd::Rect());
  void awakeFromNib() override;
  TileClipView* clipView() const;
  void swapClipView();
};

}  // namespace kesto
