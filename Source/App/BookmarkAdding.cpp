// Adding bookmarks from the list: the add sheet and the add road that paste shares.

#include "App/BookmarksController.h"

#include "App/PreferencesController.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/StoredText.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Window.h"
#include "Support/AlertPresenter.h"
#include "Views/KestoPanel.h"
#include "Views/TileCollectionView.h"

#include <algorithm>
#include <cctype>

namespace kesto {

namespace {

// What is trimmed off each address and the title typed into the add sheet.
constexpr std::string_view kAddSheetBlanks = " \t\r\n";

// The forms of a typed address that name the same page as it: the scheme and host in any case,
// and a site's root with or without its "/" (the list shows sites without it, so that is how a
// user types them back). In the form addresses are stored in.
std::vector<std::string> sameAddressForms(const std::string& url) {
  std::string decoded = fnd::decodeAddressForStorage(url);
  std::vector<std::string> forms{decoded};
  const auto add = [&](const std::string& form) {
    if (std::find(forms.begin(), forms.end(), form) == forms.end()) forms.push_back(form);
  };
  const std::size_t slashes = decoded.find("://");
  if (slashes == std::string::npos) return forms;
  const std::size_t hostEnd = decoded.find_first_of("/?#", slashes + 3);
  std::string lowered = decoded;
  for (std::size_t i = 0; i < std::min(hostEnd, lowered.size()); ++i) lowered[i] = fnd::asciiLowercase(lowered[i]);
  for (const std::string& form : {decoded, lowered}) {
    add(form);
    if (hostEnd == std::string::npos) add(form + "/");
    else if (hostEnd + 1 == form.size() && form[hostEnd] == '/') add(form.substr(0, hostEnd));
  }
  return forms;
}

bool isStored(const std::string& url) {
  for (const auto& form : sameAddressForms(url))
    if (Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value(form))) return true;
  return false;
}

// A title typed for one address names the bookmark made from it.
void nameTheOnlyBookmark(const std::vector<std::shared_ptr<Bookmark>>& made, std::size_t addresses,
                         const std::string& title) {
  if (title.empty() || addresses != 1 || made.size() != 1) return;
  made.front()->setTitleFromUser(title);
  made.front()->saveBookmark();
}

}  // namespace

void BookmarksController::add() {
  KESTO_ASSERT_MAIN_THREAD();
  showAddBookmarkMessageSheet();
}

void BookmarksController::buildAddSheet() {
  auto sheet = std::make_shared<KestoPanel>(fnd::Rect(0, 0, 460, 150));
  sheet->setTitle("New Bookmark");
  auto content = sheet->contentView();
  auto caption = [&](double y, const std::string& text) {
    auto label = std::make_shared<ui::Label>(fnd::Rect(16, y, 80, 22), text);
    content->addSubview(label);
  };
  caption(106, "Address:");
  caption(72, "Title:");
  addBookmarkSheetURLField_ = std::make_shared<ui::TextField>(fnd::Rect(100, 104, 344, 26));
  addBookmarkSheetURLField_->setPlaceholderString("https://example.com, https://example.org");
  content->addSubview(addBookmarkSheetURLField_);
  addBookmarkSheetTitleField_ = std::make_shared<ui::TextField>(fnd::Rect(100, 70, 344, 26));
  addBookmarkSheetTitleField_->setPlaceholderString("Optional, for a single address");
  content->addSubview(addBookmarkSheetTitleField_);
  ui::addPushButton(*content, fnd::Rect(256, 14, 90, 30), "Cancel", [this] { closeAddBookmarkFolderSheet(); });
  ui::addPushButton(*content, fnd::Rect(354, 14, 90, 30), "Add", [this] { addBookmarkSaveFromSheet(); });
  // Return in either field saves, as the sheet's default button would.
  addBookmarkSheetURLField_->setAction([this] { addBookmarkSaveFromSheet(); });
  addBookmarkSheetTitleField_->setAction([this] { addBookmarkSaveFromSheet(); });
  addSheet_ = sheet;
}

void BookmarksController::showAddBookmarkMessageSheet() {
  if (!addSheet_) buildAddSheet();
  addBookmarkSheetURLField_->setStringValue("");
  addBookmarkSheetTitleField_->setStringValue("");
  ui::Window* window = views_.collectionView ? views_.collectionView->window() : nullptr;
  if (!window || addSheet_->isSheet()) return;
  window->beginSheet(*addSheet_);
  addSheet_->makeFirstResponder(addBookmarkSheetURLField_.get());
}

void BookmarksController::closeAddBookmarkFolderSheet() {
  if (!addSheet_ || !addSheet_->isSheet()) return;
  if (auto* parent = views_.collectionView ? views_.collectionView->window() : nullptr) parent->endSheet(*addSheet_);
}

void BookmarksController::addBookmarkSaveFromSheet() {
  if (!addBookmarkSheetURLField_) return;
  auto pieces = fnd::split(addBookmarkSheetURLField_->stringValue(), ",");
  const std::string title = fnd::trimCharacters(addBookmarkSheetTitleField_->stringValue(), kAddSheetBlanks);
  closeAddBookmarkFolderSheet();
  // After the sheet has gone, so that a duplicate question is not stacked on it.
  fnd::DispatchQueue::main().after(addDelay_, lifetime_.whileAlive([this, pieces, title] {
    doAddBookmarks(pieces, title);
  }));
}

std::shared_ptr<Bookmark> BookmarksController::addOne(const std::string& url, bool useTags) {
  if (!kestoData_) return nullptr;
  const char* service = kestoData_->loadingFromDelicious()  ? "delicious"
                        : kestoData_->loadingFromPinboard() ? "pinboard"
                                                            : nullptr;
  if (service) {
    // A service holds an address once: a stored bookmark of that service with it refuses it.
    auto stored = Bookmark::fetchEntitiesWhereProperty("url", fnd::Value(fnd::decodeAddressForStorage(url)))
                      .value_or(Bookmark::List{});
    for (const auto& b : stored)
      if (service == std::string("delicious") ? b->isDelicious() : b->isPinboard()) {
        ViewUpdater::showMessage("Cannot duplicate bookmarks on Delicious or Pinboard", 500, 100, 2);
        return nullptr;
      }
    return Bookmark::addBookmarWithURL(url, service);
  }
  if (useTags && !kestoData_->currentlySelectedTags().empty())
    return Bookmark::addBookmarkWithURL(url, kestoData_->currentlySelectedTags());
  // A locked folder takes nothing in while it shows nothing: the bookmark waits in the Inbox.
  if (showsLockedFolder()) return Bookmark::addBookmarkWithURL(url, Folder::inboxFolder());
  return Bookmark::addBookmarkWithURL(url, kestoData_->currentFolder());
}

bool BookmarksController::showsLockedFolder() const {
  if (!kestoData_ || kestoData_->loadingFromDelicious() || kestoData_->loadingFromPinboard()) return false;
  const auto& folder = kestoData_->currentFolder();
  return folder && folder->blocked() > 0;
}

void BookmarksController::finishAdding(const std::vector<std::shared_ptr<Bookmark>>& made, const char* message) {
  if (made.empty()) return;
  // Not where the user is looking: say where they went (asked before the lists refresh).
  const bool intoInbox =
      showsLockedFolder() && made.front()->folder() && made.front()->folder()->folderID() == Folder::kInboxID;
  ViewUpdater::updateSourceLists();
  updateBookmarks(made);
  if (intoInbox)
    return ViewUpdater::showMessage(made.size() == 1 ? "The folder is locked: the bookmark was added to the Inbox"
                                                     : "The folder is locked: the bookmarks were added to the Inbox",
                                    560, 100, 3);
  ViewUpdater::showMessage(message, 300, 100, 2);
}

void BookmarksController::doAddBookmarks(const std::vector<std::string>& pieces, const std::string& title) {
  if (!kestoData_) return;
  const bool checking = kestoPreferences_ ? kestoPreferences_->checkDuplicates() : true;
  std::vector<std::string> urls;
  for (const auto& piece : pieces) {
    std::string url = fnd::trimCharacters(piece, kAddSheetBlanks);
    if (url.empty()) continue;
    // "ftp:", "mailto:", "HTTP:" name a scheme; a host with its port ("localhost:8080/x") does not.
    if (!stored::schemeLength(url)) url = "http://" + url;
    urls.push_back(url);
  }
  std::vector<std::shared_ptr<Bookmark>> made;
  std::vector<std::string> duplicates;
  for (const auto& url : urls) {
    // Addresses are stored decoded: an escaped form of a stored address is the same address.
    if (checking && isStored(url)) {
      duplicates.push_back(url);
      continue;
    }
    if (auto b = addOne(url, checking)) made.push_back(b);
  }
  nameTheOnlyBookmark(made, urls.size(), title);
  finishAdding(made, "Bookmark added");
  if (!duplicates.empty()) {
    std::string message;
    for (const auto& url : duplicates) message += url + " is already present.\r";
    const std::string question =
        duplicates.size() > 1 ? "Do you still want to add these bookmarks?" : "Do you still want to add this bookmark?";
    AlertPresenter::ask(message, question, {"Yes", "No"}, lifetime_.whileAlive([this, duplicates, title](int answer) {
      if (answer != 0) return;
      std::vector<std::shared_ptr<Bookmark>> confirmed;
      for (const auto& url : duplicates)
        if (auto b = addOne(url, false)) confirmed.push_back(b);
      nameTheOnlyBookmark(confirmed, duplicates.size(), title);
      finishAdding(confirmed, "Bookmarks added");
    }));
  }
  ViewUpdater::updateSourceLists();
  ViewUpdater::updateBookmarks();
}

}  // namespace kesto
