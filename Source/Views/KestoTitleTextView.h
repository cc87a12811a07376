#pragma once

#include "Platform/UI/TextView.h"

#include <functional>
#include <utility>

namespace kesto {

// The editable title of the current bookmark: Return (with or without modifiers) ends the
// edit, reports it to the handler its owner gives and leaves the view read-only until its owner
// makes it editable again.
class KestoTitleTextView : public ui::TextView {
 public:
  using ui::TextView::TextView;
  void keyDown(const ui::Event& event) override;
  void setEditEndedHandler(std::function<void()> handler) { editEnded_ = std::move(handler); }

 private:
  std::function<void()> editEnded_;
};

// The same for the current bookmark's address.
class KestoURLTextView : public KestoTitleTextView {
 public:
  using KestoTitleTextView::KestoTitleTextView;
};

}  // namespace kesto
