#pragma once

#include "Platform/UI/View.h"

namespace kesto {

// A layer-backed view with corners of radius 6.
class KestoRoundedView : public ui::View {
 public:
  explicit KestoRoundedView(const fnd::Rect& frame = fnd::Rect()) : View(frame) {
    setWantsLayer(true);
    setCornerRadius(6.0);
  }
};

}  // namespace kesto
