#include "Views/KestoTitleTextView.h"

#include "Model/ViewUpdater.h"

namespace kesto {

void KestoTitleTextView::keyDown(const ui::Event& event) {
  if (event.charactersIgnoringModifiers == "\r") {
    reportEdit();
    setEditable(false);
    return;
  }
  ui::TextView::keyDown(event);
}

void KestoTitleTextView::reportEdit() { ViewUpdater::updateCurrentBookmarkTitleFromEdit(); }
void KestoURLTextView::reportEdit() { ViewUpdater::updateCurrentBookmarkURLFromEdit(); }

}  // namespace kesto
