#pragma once

#include "Platform/UI/Label.h"

namespace kesto {

// Labels in the system label font, or the bold system font, at their own size.
class KestoLabel : public ui::Label {
 public:
  using ui::Label::Label;
  void awakeFromNib() override;
};

class KestoLabelBold : public ui::Label {
 public:
  using ui::Label::Label;
  void awakeFromNib() override;
};

}  // namespace kesto
