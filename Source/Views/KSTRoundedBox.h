#pragma once

#include "Platform/UI/View.h"

namespace kesto {

// The rounded light box behind each cell of the thumbnail grid, with a grey outline and a soft
// light-grey shadow below and to the right.
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
    setShadow(Shadow{fnd::Size{2.0, -2.0}, 3.0, ui::Color::white(2.0 / 3.0)});
  }
};

}  // namespace kesto
