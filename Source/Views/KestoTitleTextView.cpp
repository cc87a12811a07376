#include "Views/KestoTitleTextView.h"

namespace kesto {

void KestoTitleTextView::keyDown(const ui::Event& event) {
  if (event.charactersIgnoringModifiers == "\r") {
    if (editEnded_) editEnded_();
    setEditable(false);
    return;
  }
  ui::TextView::keyDown(event);
}

}  // namespace kesto
