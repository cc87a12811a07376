#pragma once

#include "Platform/UI/View.h"

namespace kesto {

// The rounded light box behind each cell of the thumbnail grid, with a grey outline.
class KSTRoundedBox : public ui::View {
 public:
  using View::View;
  void awakeFromNib() override {
    View::awakeFromNib();
    setWantsLayer(true);
    setCornerRadius(5.0);
    setBackgroundColor(ui::Color::white(0.963));
    setBorderColor(ui::Color::white(0.271));
    setBorderWidth(1.0);
    setOpaque(true);
  }
};

}  // namespace kesto
