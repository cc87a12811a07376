// Quick Look, sharing and e-mail of the selected bookmarks.

#include "App/BookmarksController.h"

#include "App/PreviewPanel.h"
#include "App/ShellPanels.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Pasteboard.h"
#include "Support/AlertPresenter.h"

namespace kesto {

namespace {

constexpr const char* kEmailSubject = "Some bookmarks from my Kesto library";

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
  return out;
}

// "mailto:" with no recipient and the subject and body as fully encoded fields: nothing in a
// bookmark's address ("&cc=", "?", "#", a line break) can add a recipient or a header.
std::string mailtoURL(const std::string& subject, const std::string& body) {
  return "mailto:?subject=" + fnd::percentEncodeUnreserved(subject) + "&body=" + fnd::percentEncodeUnreserved(body);
}

// Hands the message to the mail program, and says so when there is none to take it.
void composeEmail(const std::string& mailto) {
  sys::Workspace::composeEmail(mailto, [](bool taken) {
    if (!taken)
      AlertPresenter::alert("Kesto Email", "No mail program could be started to write the message. Choose a default "
                                           "mail program in the desktop's settings, then try again.");
  });
}

}  // namespace

// ---- Quick Look ----

void BookmarksController::togglePreview() {
  if (!kestoData_ || !quickLookPanel_) return;
  // A minimised preview comes back rather than going.
  if (quickLookPanel_->isVisible() && !quickLookPanel_->isMiniaturized()) {
    quickLookPanel_->orderOut();
    endPreviewPanelControl(*quickLookPanel_);
    return;
  }
  if (kestoData_->selectedBookmarks().empty()) return;
  beginPreviewPanelControl(*quickLookPanel_);
  if (views_.collectionView && views_.collectionView->window())
    quickLookPanel_->placeOverWindowOnce(*views_.collectionView->window());
  quickLookPanel_->makeKeyAndOrderFront();
}

void BookmarksController::beginPreviewPanelControl(PreviewPanel& panel) {
  previewPanel_ = &panel;
  panel.setDataSource(this);
}

void BookmarksController::endPreviewPanelControl(PreviewPanel& panel) {
  if (panel.dataSource() == this) panel.setDataSource(nullptr);
  previewPanel_ = nullptr;
}

std::size_t BookmarksController::numberOfPreviewItemsInPreviewPanel(PreviewPanel&) {
  return kestoData_ ? kestoData_->selectedBookmarks().size() : 0;
}

std::shared_ptr<Bookmark> BookmarksController::previewPanelPreviewItemAtIndex(PreviewPanel&, std::size_t index) {
  if (!kestoData_) return nullptr;
  const auto& selected = kestoData_->selectedBookmarks();
  return index < selected.size() ? selected[index] : nullptr;
}

bool BookmarksController::previewPanelHandleEvent(PreviewPanel&, const ui::Event& event) {
  if (event.type != ui::EventType::KeyDown || !views_.collectionView) return false;
  views_.collectionView->keyDown(event);
  return true;
}

// ---- sharing and e-mail ----

std::string BookmarksController::shareText() { return std::string("Link shared with Kesto ") + helplinks::kWebSite; }

void BookmarksController::prepareSharingServices() {
  sharingServices_.clear();
  if (sys::Workspace::canComposeEmail())
    sharingServices_.push_back({"Email", "mail-send", [](const std::vector<std::string>& items) {
                                  const std::string title = items.size() > 0 ? items[0] : "";
                                  const std::string url = items.size() > 1 ? items[1] : "";
                                  const std::string text = items.size() > 2 ? items[2] : "";
                                  composeEmail(mailtoURL(title.empty() ? url : title, url + "\n\n" + text));
                                }});
  // Any program takes a paste: the title, the link and the share text as text, the link as a link.
  sharingServices_.push_back({"Copy", "edit-copy", [](const std::vector<std::string>& items) {
                                ui::PasteboardItem item;
                                if (items.size() > 1) item.setURL(items[1], items[0]);
                                item.setString(joinLines(items));
                                ui::Pasteboard::general().writeObjects({item});
                              }});
}

void BookmarksController::shareBookmarks(const SharingService& service) {
  if (!kestoData_ || !service.perform) return;
  for (const auto& b : kestoData_->selectedBookmarks())
    if (b) service.perform({b->title().value_or(""), b->url().value_or(""), shareText()});
}

std::string BookmarksController::emailLinksURL(const std::vector<std::string>& urls) {
  const std::string body = "Hi,\n\ncheck out these awesome bookmarks!\n\n" + joinLines(urls) + "\n\n" +
                           std::string(14, '-') + "\nGet Kesto! (" + helplinks::kWebSite + ")";
  return mailtoURL(kEmailSubject, body);
}

void BookmarksController::emailLinks() {
  std::vector<std::string> urls;
  if (kestoData_)
    for (const auto& b : kestoData_->selectedBookmarks())
      if (b) urls.push_back(b->url().value_or(""));
  composeEmail(emailLinksURL(urls));
}

}  // namespace kesto
