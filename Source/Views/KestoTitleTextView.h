#pragma once

#include "Platform/UI/TextView.h"

#include <functional>

namespace kesto {

// The editable title of the current bookmark: Return (with or without modifiers) ends the
// edit, reports it and leaves the view read-only until its owner makes it editable again.
class KestoTitleTextView : public ui::TextView {
 public:
  using ui::TextView::TextView;
  void keyDown(const ui::Event& event) override;

 protected:
  virtual void reportEdit();
};

// The same for the current bookmark's address.
class KestoURLTextView : public KestoTitleTextView {
 public:
  using KestoTitleTextView::KestoTitleTextView;

 protected:
  void reportEdit() override;
};

}  // namespace kesto
