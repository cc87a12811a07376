#pragma once

#include "Platform/UI/Label.h"

namespace kesto {

// Labels in the system label font, or the bold system font, at their own size.
class KestoLabel : public ui::Label {
 public:
  using ui::Label::Label;
  void awakeFromNib() override;

 protected:
  virtual bool isBold() const { return false; }
};

class KestoLabelBold : public KestoLabel {
 public:
  using KestoLabel::KestoLabel;

 protected:
  bool isBold() const override { return true; }
};

}  // namespace kesto
