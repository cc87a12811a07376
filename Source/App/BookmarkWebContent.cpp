// The bookmark list's side of page titles, favicons and thumbnails.
#include "App/BookmarksController.h"
#include "App/WebContentUpdater.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/UI/FilePanel.h"
#include "Platform/UI/Window.h"
#include "Platform/UI/Image.h"
#include "Views/WebImageView.h"

#include <algorithm>

namespace kesto {

WebContentUpdater& BookmarksController::webContentUpdater() {
  if (!webContent_) webContent_ = std::make_unique<WebContentUpdater>(kestoData_);
  return *webContent_;
}

void BookmarksController::finishBackgroundWrites() {
  if (webContent_) webContent_->finishWriting();
}

void BookmarksController::updateSingleBookmark(const std::shared_ptr<Bookmark>& bookmark, bool alsoFetchImage) {
  if (bookmark) webContentUpdater().updateSingleBookmark(*bookmark, alsoFetchImage);
}

void BookmarksController::updateWebContentForSelectedBookmarks() { webContentUpdater().updateWebContentForSelectedBookmarks(); }

void BookmarksController::updateThumbnailManually() {
  // The panel's modal loop runs from the main loop, not inside the menu that asked for it.
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([this] { chooseThumbnailFile(); }));
}

void BookmarksController::chooseThumbnailFile() {
  auto current = kestoData_ ? kestoData_->currentBookmark() : nullptr;
  ui::OpenPanel panel;
  panel.setTitle("Set thumbnail from file");
  panel.setCanChooseFiles(true);
  panel.setCanChooseDirectories(false);
  panel.setAllowedFileTypes({"jpg", "png", "gif"});
  if (current && panel.runModal() == ui::ModalResponse::OK && !panel.paths().empty()) {
    const std::string path = panel.paths().front();
    const std::string extension = fnd::pathExtension(path);
    // Only these spellings: an upper-case GIF is offered by the panel but not taken.
    static const char* const kTaken[] = {"jpg", "png", "JPG", "PNG", "gif"};
    if (std::find(std::begin(kTaken), std::end(kTaken), extension) != std::end(kTaken)) {
      const ui::Image image = ui::Image::fromFile(path);
      if (!image.isNull()) {
        current->setThumbnail(imageadditions::resizeImage(image, fnd::Size{240, 180}).encoded("png"));
        current->setThumbnailManuallySet(1);
        current->saveBookmark();
        // The inspector shows it, with the button that removes it.
        ViewUpdater::updateInspector();
      }
    }
  }
  updateView();
}

void BookmarksController::deleteManualThumbnail() {
  auto current = kestoData_ ? kestoData_->currentBookmark() : nullptr;
  if (current) {
    current->setThumbnailManuallySet(0);
    current->setThumbnail(std::nullopt);
    current->saveBookmark();
    ViewUpdater::updateInspector();
  }
  updateView();
}

}  // namespace kesto
