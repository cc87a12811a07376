#pragma once

#include "Platform/UI/TokenField.h"

namespace kesto {

// A token field in the dark rounded look of the sheets with a grey placeholder.
class KSTTokenField : public ui::TokenField {
 public:
  using ui::TokenField::TokenField;
  void awakeFromNib() override;
  void setupPlaceholder();
};

// A token field in which Return does nothing (with or without modifiers).
class KestoTokenField : public ui::TokenField {
 public:
  using ui::TokenField::TokenField;
  void keyDown(const ui::Event& event) override;
};

// A token field in a light rounded look.
class KestoRoundedTokenField : public ui::TokenField {
 public:
  using ui::TokenField::TokenField;
  void awakeFromNib() override;
};

}  // namespace kesto
