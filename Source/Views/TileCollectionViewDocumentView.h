#pragma once

#include "Platform/UI/View.h"

namespace kesto {

// The collection view's document view: flipped, so item frames grow downwards from the top.
class TileCollectionViewDocumentView : public ui::View {
 public:
  using ui::View::View;
  bool isFlipped() const override { return true; }
};

}  // namespace kesto
