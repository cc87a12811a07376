#pragma once

#include "Platform/UI/TextView.h"

namespace kesto {

// A text view in the dark rounded look; its placeholder stays as it is.
class BRWRoundedTextView : public ui::TextView {
 public:
  using ui::TextView::TextView;
  void awakeFromNib() override;
};

}  // namespace kesto
