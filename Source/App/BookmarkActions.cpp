// What the user does with the list's bookmarks besides adding, deleting and the clipboard:
// opening, the context menu and dragging out; and the action set that answers every command.

#include "App/BookmarksController.h"

#include "App/AppCommands.h"
#include "App/MenuBarActions.h"
#include "App/PreferencesController.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Pasteboard.h"
#include "Views/OpenBookmarkAddress.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewCell.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

namespace kesto {

namespace {

struct KnownBrowser {
  ui::Command action;
  const char* identifier;
  const char* title;
  const char* image;
};
// The "Open With" items name their browser's desktop entry id as their represented object.
constexpr ui::Command kOpenWithBrowserAction = cmd::openSelectedBookmarksWith;
constexpr KnownBrowser kBrowsers[] = {
    {cmd::openSelectedBookmarksInCamino, "org.mozilla.camino", "Camino", "camino"},
    {cmd::openSelectedBookmarksInChrome, "com.google.Chrome", "Chrome", "chrome"},
    {cmd::openSelectedBookmarksInFirefox, "org.mozilla.firefox", "Firefox", "firefox"},
    {cmd::openSelectedBookmarksInOpera, "com.operasoftware.Opera", "Opera", "opera"},
    {cmd::openSelectedBookmarksInSafari, "com.apple.Safari", "Safari", "safari"},
};

// Where an IP-literal host ("[::1]") lies in `address`: the offsets of its brackets, or absent.
std::optional<std::pair<std::size_t, std::size_t>> ipLiteralHost(const std::string& address) {
  const std::size_t mark = address.find("://");
  if (mark == std::string::npos) return std::nullopt;
  const std::size_t start = mark + 3, end = std::min(address.find_first_of("/?#", start), address.size());
  const std::size_t at = address.rfind('@', end);
  const std::size_t open = at != std::string::npos && at >= start && at < end ? at + 1 : start;
  const std::size_t close = address.find(']', open);
  if (open >= end || address[open] != '[' || close == std::string::npos || close >= end || close == open + 1)
    return std::nullopt;
  const bool literal = std::all_of(address.begin() + static_cast<std::ptrdiff_t>(open + 1),
                                   address.begin() + static_cast<std::ptrdiff_t>(close),
                                   [](char c) { return fnd::hexDigitValue(c) >= 0 || c == ':' || c == '.'; });
  if (!literal) return std::nullopt;
  return std::pair{open, close};
}

// The address a browser is given: everything a URL may not hold escaped, "#" and "%" kept. The
// brackets of an IP-literal host stay, or no browser finds the host.
std::string browserAddress(const std::string& stored) {
  auto escaped = [](std::string_view text) {
    return fnd::replaceAll(fnd::replaceAll(fnd::addPercentEscapes(text), "%23", "#"), "%25", "%");
  };
  const auto host = ipLiteralHost(stored);
  if (!host) return escaped(stored);
  const auto [open, close] = *host;
  const std::string_view text(stored);
  return escaped(text.substr(0, open)) + std::string(text.substr(open, close + 1 - open)) +
         escaped(text.substr(close + 1));
}

}  // namespace

// ---- opening ----

namespace {
// A visit: when and how often, saved with the bookmark. One deleted meanwhile is left alone.
void countVisit(Bookmark& bookmark) {
  if (bookmark.isDeleted() || !bookmark.context()) return;
  bookmark.setLastOpened(fnd::Date::now());
  bookmark.setTimesOpened(bookmark.timesOpened() + 1);
  bookmark.saveBookmark();
}
}  // namespace

void BookmarksController::recordVisit(Bookmark& bookmark) { countVisit(bookmark); }

void BookmarksController::openSelectedBookmarks() {
  KESTO_ASSERT_MAIN_THREAD();
  // The page replaces its preview.
  if (quickLookPanel_ && quickLookPanel_->isVisible() && !quickLookPanel_->isMiniaturized()) togglePreview();
  if (!kestoData_) return;
  const auto selection = kestoData_->selectedBookmarks();
  if (selection.empty()) return;
  const std::string browser = kestoPreferences_ ? kestoPreferences_->favoriteBrowser() : "Default";
  // A chosen browser that has been removed: the pages still open, and the user learns why
  // they open elsewhere.
  if (auto missing = kestoPreferences_ ? kestoPreferences_->missingBrowserName() : std::nullopt)
    ViewUpdater::showMessage(*missing + " is no longer installed: opened in the default browser", 520, 100, 3);
  // Only an address handed over is a visit: another scheme's counts once the user answered Open,
  // and the lists hear of it then.
  auto opening = std::make_shared<bool>(true);
  for (const auto& b : selection) {
    if (!b) continue;
    auto url = b->url();
    if (!url) continue;
    const bool web = sys::Workspace::policyForURL(*url) == sys::Workspace::OpenPolicy::Browser;
    // Only web pages go to a named browser; other schemes keep the desktop's question.
    if (browser != "Default" && web && sys::Workspace::openURLs({browserAddress(*url)}, browser)) {
      countVisit(*b);
      continue;
    }
    openBookmarkAddress(web ? browserAddress(*url) : *url, [b, opening] {
      countVisit(*b);
      if (*opening) return;
      ViewUpdater::updateHistory();
      ViewUpdater::updateInspector();
    });
  }
  *opening = false;
  ViewUpdater::updateHistory();
  ViewUpdater::updateInspector();
}

void BookmarksController::openSelectedBookmarkInBrowser(const std::string& browserIdentifier) {
  if (!kestoData_) return;
  clearSearchField();
  std::vector<std::shared_ptr<Bookmark>> opened;
  std::vector<std::string> urls;
  for (const auto& b : kestoData_->selectedBookmarks()) {
    auto url = b ? b->url() : std::nullopt;
    if (!url || sys::Workspace::policyForURL(*url) != sys::Workspace::OpenPolicy::Browser) continue;
    opened.push_back(b);
    urls.push_back(browserAddress(*url));
  }
  // Only pages handed to the browser are visits: one that did not start (removed since the menu
  // was made, or its program missing) counts none, and the user hears why nothing opened.
  if (urls.empty()) return;
  if (!sys::Workspace::openURLs(urls, browserIdentifier)) {
    const auto known = std::find_if(std::begin(kBrowsers), std::end(kBrowsers),
                                    [&](const KnownBrowser& b) { return browserIdentifier == b.identifier; });
    tellBrowserDidNotStart(browserIdentifier, known != std::end(kBrowsers) ? known->title : "");
    return;
  }
  for (const auto& b : opened) recordVisit(*b);
  ViewUpdater::updateHistory();
  ViewUpdater::updateInspector();
}

void BookmarksController::openSelectedBookmarkFolder() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWGoToCurrentFolder, nullptr);
}

std::shared_ptr<ui::Menu> BookmarksController::bookmarkMenu() {
  if (!kestoData_) return nullptr;
  const auto selection = kestoData_->selectedBookmarks();
  if (selection.empty()) return nullptr;
  auto menu = std::make_shared<ui::Menu>();
  menu->setAutoenablesItems(false);
  auto item = [&](const std::string& title, ui::Command action) {
    auto i = menu->addItemWithTitle(title, action);
    i->setTarget(this);
    return i;
  };
  item("Open", cmd::openSelectedBookmarks);
  auto with = std::make_shared<ui::Menu>("Open With");
  with->setAutoenablesItems(false);
  // The browsers installed here, by their desktop entries' names and icons.
  for (const auto& browser : sys::Workspace::installedBrowsers()) {
    auto i = with->addItemWithTitle(browser.name, kOpenWithBrowserAction);
    i->setTarget(this);
    i->setRepresentedObject(browser.identifier);
    i->setImage(ui::Image::iconNamed(browser.icon));
  }
  auto withItem = menu->addItemWithTitle("Open With", {});
  withItem->setSubmenu(with);
  withItem->setEnabled(!with->items().empty());
  item("Quick Look", cmd::togglePreviewPanel);
  menu->addItem(ui::MenuItem::separatorItem());
  item("Go to Folder", cmd::openSelectedBookmarkFolder);
  menu->addItem(ui::MenuItem::separatorItem());
  item("Delete", cmd::deleteBookmarks);
  if (selection.front()->trashed() > 0) item("Put Back from Trash", cmd::putBackFromTrash);
  // Offered only while the service's account exists.
  bool marksShown = false;
  for (const auto& [service, add, remove] :
       {std::tuple{Service::kPinboard, cmd::addToPinboard, cmd::removeFromPinboard},
        std::tuple{Service::kDelicious, cmd::addToDelicious, cmd::removeFromDelicious}}) {
    if (!hasServiceAccount(service)) continue;
    if (!marksShown) menu->addItem(ui::MenuItem::separatorItem());
    marksShown = true;
    item(menuBarAction(add).title, add);
    item(menuBarAction(remove).title, remove);
  }
  menu->addItem(ui::MenuItem::separatorItem());
  item(selection.size() > 1 ? "Copy Links" : "Copy Link", cmd::copyBookmarkAddress);
  menu->addItem(ui::MenuItem::separatorItem());
  // Sharing takes one bookmark at a time, to what the desktop offers.
  if (selection.size() == 1 && !sharingServices_.empty()) {
    auto share = std::make_shared<ui::Menu>("Share");
    share->setAutoenablesItems(false);
    for (std::size_t i = 0; i < sharingServices_.size(); ++i) {
      auto s = share->addItemWithTitle(sharingServices_[i].title, cmd::shareBookmarks);
      s->setTarget(this);
      s->setTag(static_cast<std::int64_t>(i));
      s->setImage(ui::Image::named(sharingServices_[i].imageName));
    }
    menu->addItemWithTitle("Share", {})->setSubmenu(share);
  }
  item("Email Links", cmd::emailLinks);
  menu->addItem(ui::MenuItem::separatorItem());
  item("Update from Web", cmd::updateWebContentForSelectedBookmarks);
  if (selection.size() == 1) item("Set Thumbnail from File", cmd::updateThumbnailManually);
  return menu;
}

void BookmarksController::openBookmarkMenu(const ui::Event* event) {
  auto menu = bookmarkMenu();
  if (!menu || !views_.collectionView) return;
  shownMenu_ = menu;
  if (event) return ui::Menu::popUpContextMenu(menu, *event, *views_.collectionView);
  // From the keyboard: beside the first selected cell, else the list's middle.
  fnd::Point at{views_.collectionView->bounds().midX(), views_.collectionView->bounds().midY()};
  auto paths = indexPathsOfBookmarks({kestoData_->selectedBookmarks().front()});
  if (!paths.empty())
    if (auto cell = views_.collectionView->cellForItemAtIndexPath(paths.front()))
      at = cell->convertPointToView(fnd::Point{cell->bounds().midX(), cell->bounds().midY()},
                                    views_.collectionView.get());
  menu->popUpAtLocation(at, *views_.collectionView);
}

// ---- dragging out ----

namespace {

class DragBadgeCanvas : public ui::View {
 public:
  DragBadgeCanvas(const ui::Image& image, std::string text)
      : View(fnd::Rect(0, 0, image.size().width, image.size().height)), image_(image), text_(std::move(text)) {}
  void drawRect(ui::GraphicsContext& context, const fnd::Rect&) override {
    context.drawImage(image_, bounds());
    ui::Font font;
    font.family = "Helvetica";
    font.pointSize = 12.0;
    const fnd::Size size = ui::GraphicsContext::sizeOfText(text_, font);
    const double w = size.width, h = size.height;
    // A disc just wide enough for the number, standing on the image's bottom edge.
    const double d = std::max(std::trunc(w), std::trunc(h)) + 4;
    const double x0 = std::trunc((d - w) / 2 - 1);
    context.setFillColor(ui::Color::rgb(1.0, 0.1, 0.1, 0.7));
    context.fillPath(ui::Path::oval(fnd::Rect(x0, 0, d, d)));
    const double half = std::trunc(d / 2);
    context.drawText(text_, fnd::Rect(x0 + d - half - w / 2, half - h / 2 + 1, w, h), font, ui::Color::white(1.0));
  }

 private:
  ui::Image image_;
  std::string text_;
};

}  // namespace

ui::Image BookmarksController::dragImageForCount(std::size_t count) {
  const ui::Image image = ui::Image::named("drag_thumbnail");
  if (image.isNull() || count == 0) return image;
  // Drawn on a copy: the named image stays as it is for the next drag.
  return std::make_shared<DragBadgeCanvas>(image, std::to_string(count))->snapshot();
}

std::vector<ui::PasteboardItem> BookmarksController::draggedItems() const {
  // What the list shows selected now: the data manager hears of a click only a moment later,
  // and a drag can start before that.
  auto selection = currentlySelectedBookmarks();
  if (selection.empty() && kestoData_) selection = kestoData_->selectedBookmarks();
  std::vector<ui::PasteboardItem> items;
  std::string lines;
  for (const auto& b : selection) {
    if (!b) continue;
    lines += "bm:" + b->uniqueIDValue().value_or("") + "\n";
    ui::PasteboardItem item;
    if (auto url = b->url(); url && !url->empty()) item.setURL(*url, b->title().value_or(""));
    items.push_back(std::move(item));
  }
  if (!items.empty()) items.front().setString(lines);
  return items;
}

void BookmarksController::mouseDragged(const ui::Event& event) {
  if (!kestoData_ || !views_.collectionView || dragging_) return;
  kestoData_->setShouldCopyDuringDrag(event.hasModifier(ui::ModifierFlag::Option) ||
                                      event.hasModifier(ui::ModifierFlag::Command));
  auto items = draggedItems();
  if (items.empty()) return;
  dragging_ = true;
  ui::beginDraggingSession(*views_.collectionView, items, dragImageForCount(items.size()), fnd::Point{32, 24},
                           ui::DragOperation::Copy | ui::DragOperation::Move | ui::DragOperation::Generic);
  dragging_ = false;
  // The next plain click starts a new selection.
  kestoData_->setDoubleClickedOrDragging(true);
}

// ---- actions ----

void BookmarksController::addActions(ui::ActionSet& set) {
  std::function<bool(ui::MenuItem&)> hasSelection = [this](ui::MenuItem&) {
    return kestoData_ && !kestoData_->selectedBookmarks().empty();
  };
  auto on = [&](ui::Command command, void (BookmarksController::*method)(), bool needsSelection) {
    set.add({command, {}, {}, ui::ModifierFlag::Command, needsSelection ? hasSelection : std::function<bool(ui::MenuItem&)>(),
             [this, method](ui::Responder*) { return (this->*method)(), true; }});
  };
  on(cmd::selectThumbnailView, &BookmarksController::selectThumbnailView, false);
  on(cmd::selectExtendedView, &BookmarksController::selectExtendedView, false);
  on(cmd::selectListView, &BookmarksController::selectListView, false);
  on(cmd::openSelectedBookmarks, &BookmarksController::openSelectedBookmarks, true);
  on(cmd::add, &BookmarksController::add, false);
  on(cmd::deleteBookmarks, &BookmarksController::deleteBookmarks, true);
  on(ui::cmd::delete_, &BookmarksController::deleteBookmarks, true);
  on(cmd::putBackFromTrash, &BookmarksController::putBackFromTrash, true);
  on(cmd::openSelectedBookmarkFolder, &BookmarksController::openSelectedBookmarkFolder, true);
  on(ui::cmd::copy, &BookmarksController::copy, true);
  on(ui::cmd::cut, &BookmarksController::cut, true);
  on(ui::cmd::paste, &BookmarksController::paste, false);
  on(cmd::copyBookmarkAddress, &BookmarksController::copyBookmarkAddress, true);
  on(ui::cmd::undo, &BookmarksController::undo, false);
  on(ui::cmd::redo, &BookmarksController::redo, false);
  on(cmd::togglePreviewPanel, &BookmarksController::togglePreview, true);
  on(cmd::emailLinks, &BookmarksController::emailLinks, false);
  on(cmd::updateWebContentForSelectedBookmarks, &BookmarksController::updateWebContentForSelectedBookmarks, true);
  on(cmd::updateThumbnailManually, &BookmarksController::updateThumbnailManually, true);
  // The enabled rules beyond "needs a selection".
  auto answer = [&](ui::Command command, std::function<bool(ui::MenuItem&)> isEnabled) {
    ui::Action action = *set.find(command);
    action.isEnabled = std::move(isEnabled);
    set.add(std::move(action));
  };
  answer(ui::cmd::undo, [](ui::MenuItem& item) {
    auto* manager = undoManager();
    item.setTitle(manager ? manager->undoMenuItemTitle() : "Undo");
    return manager && manager->canUndo();
  });
  answer(ui::cmd::redo, [](ui::MenuItem& item) {
    auto* manager = undoManager();
    item.setTitle(manager ? manager->redoMenuItemTitle() : "Redo");
    return manager && manager->canRedo();
  });
  answer(ui::cmd::paste,
         [](ui::MenuItem&) { return ui::Pasteboard::general().stringForType(BookmarkCopyType).has_value(); });
  // An open preview can always be closed.
  answer(cmd::togglePreviewPanel, [this, hasSelection](ui::MenuItem& item) {
    return (quickLookPanel_ && quickLookPanel_->isVisible()) || hasSelection(item);
  });
  answer(cmd::putBackFromTrash, [this](ui::MenuItem&) {
    if (!kestoData_) return false;
    const auto& selected = kestoData_->selectedBookmarks();
    return std::any_of(selected.begin(), selected.end(), [](const auto& b) { return b && b->trashed() > 0; });
  });
  // The service marks: each needs a selection and the service's account.
  const std::pair<ui::Command, std::pair<const char*, bool>> marks[] = {
      {cmd::addToPinboard, {Service::kPinboard, true}},
      {cmd::removeFromPinboard, {Service::kPinboard, false}},
      {cmd::addToDelicious, {Service::kDelicious, true}},
      {cmd::removeFromDelicious, {Service::kDelicious, false}}};
  for (const auto& mark : marks) {
    const char* service = mark.second.first;
    const bool adding = mark.second.second;
    set.add({mark.first, {}, {}, ui::ModifierFlag::Command,
             [hasSelection, service](ui::MenuItem& item) { return hasSelection(item) && hasServiceAccount(service); },
             [this, service, adding](ui::Responder*) {
               adding ? addToService(service) : removeFromService(service);
               return true;
             }});
  }
  // The Share menu's items name their service by tag.
  set.add({cmd::shareBookmarks, {}, {}, ui::ModifierFlag::Command, nullptr, [this](ui::Responder* sender) {
             auto* item = dynamic_cast<ui::MenuItem*>(sender);
             if (item && item->tag() >= 0 && static_cast<std::size_t>(item->tag()) < sharingServices_.size())
               shareBookmarks(sharingServices_[static_cast<std::size_t>(item->tag())]);
             return true;
           }});
  set.add({kOpenWithBrowserAction, {}, {}, ui::ModifierFlag::Command, nullptr, [this](ui::Responder* sender) {
             auto* item = dynamic_cast<ui::MenuItem*>(sender);
             const auto* identifier = item ? std::any_cast<std::string>(&item->representedObject()) : nullptr;
             if (identifier) openSelectedBookmarkInBrowser(*identifier);
             return identifier != nullptr;
           }});
  for (const auto& b : kBrowsers) {
    const char* identifier = b.identifier;
    set.add({b.action, {}, {}, ui::ModifierFlag::Command, nullptr, [this, identifier](ui::Responder*) {
               return openSelectedBookmarkInBrowser(identifier), true;
             }});
  }
}

}  // namespace kesto
