#include "Sidebar/CountLabel.h"

#include "Platform/UI/Label.h"

namespace kesto {

std::shared_ptr<ui::Label> makeCountLabel(const fnd::Rect& frame) {
  auto label = std::make_shared<ui::Label>(frame);
  ui::Font small;
  small.pointSize = 10;
  label->setFont(small);
  label->setTextColor(ui::Color::white(0.35));
  return label;
}

}  // namespace kesto
