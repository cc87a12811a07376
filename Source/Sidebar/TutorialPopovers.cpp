#include "Sidebar/TutorialPopovers.h"

#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/ViewController.h"
#include "Platform/UI/Window.h"
#include "Views/PopoverController.h"

namespace kesto {

namespace {

struct TutorialText {
  const char* key;
  const char* title;
  const char* text;
};

// The keys are stored names and keep their spelling.
constexpr std::array<TutorialText, TutorialPopovers::kCount> kTutorials = {{
    {"BRWTutorialInboxSeen", "Inbox", "Bookmarks you add from other applications arrive here until you file them."},
    {"BRWTutorialImoprtSeen", "Imported", "Bookmarks imported from your browsers are kept here, in their folders."},
    {"BRWTutorialLibrarySeen", "Library", "Every bookmark you keep, whatever folder it is in."},
    {"BRWTutorialDeliciousySeen", "Delicious", "The bookmarks of your Delicious account."},
    {"BRWTutorialPinboardSeen", "Pinboard", "The bookmarks of your Pinboard account."},
    {"BRWTutorialTagsSeen", "Tags", "Choose one or more tags to list the bookmarks that carry them."},
    {"BRWTutorialBookmarkSeen", "Bookmarks", "Double-click a bookmark to open it; drag it onto a folder to file it."},
}};

constexpr double kWidth = 280, kHeight = 124;

}  // namespace

const char* TutorialPopovers::seenKey(Tutorial tutorial) { return kTutorials[index(tutorial)].key; }

bool TutorialPopovers::isPending(Tutorial tutorial) {
  return !fnd::UserDefaults::standard().hasValueForKey(seenKey(tutorial));
}

void TutorialPopovers::turnOnTutorialPopups() {
  auto& defaults = fnd::UserDefaults::standard();
  for (const auto& t : kTutorials) defaults.removeObject(t.key);
  defaults.synchronize();
}

TutorialPopovers::TutorialPopovers() = default;

TutorialPopovers::~TutorialPopovers() {
  lifetime_.end();
  for (auto& p : popovers_)
    if (p) p->popoverWindow().orderOut();
}

std::shared_ptr<ui::ViewController> TutorialPopovers::makeContent(Tutorial tutorial) {
  const auto& t = kTutorials[index(tutorial)];
  auto view = std::make_shared<ui::View>(fnd::Rect(0, 0, kWidth, kHeight));
  auto title = std::make_shared<ui::Label>(fnd::Rect(12, kHeight - 30, kWidth - 24, 20), t.title);
  ui::Font bold;
  bold.bold = true;
  bold.pointSize = 11;
  title->setFont(bold);
  title->setTextColor(ui::Color::white(1.0));
  view->addSubview(title);
  auto text = std::make_shared<ui::Label>(fnd::Rect(12, 42, kWidth - 24, 48), t.text);
  text->setWraps(true);
  text->setTextColor(ui::Color::white(0.9));
  view->addSubview(text);
  ui::addPushButton(*view, fnd::Rect(kWidth - 92, 8, 80, 26), "Got it", [this, tutorial] { closeTutorial(tutorial); });
  return std::make_shared<ui::ViewController>(view);
}

void TutorialPopovers::placeOpened(Tutorial tutorial, const Anchor& anchor) {
  if (isPending(tutorial)) toggle(tutorial, anchor);
}

void TutorialPopovers::toggle(Tutorial tutorial, const Anchor& anchor) {
  auto& popover = popovers_[index(tutorial)];
  if (!popover) {
    popover = std::make_unique<PopoverController>(makeContent(tutorial));
    popover->setColor(ui::Color::white(0.25));
    popover->setBorderColor(ui::Color::white(1.0));
    // Shown and closed at once: a zoom still running when the user closes the tutorial would
    // bring its window back when it ends.
    popover->setAnimates(false);
    // A tip explains; it never takes the keys: Delete and Ctrl+Z go on reaching the list and the
    // menus while it shows.
    popover->popoverWindow().setTakesKeys(false);
    // Named for assistive technology and the window list.
    popover->popoverWindow().setTitle(std::string(kTutorials[index(tutorial)].title) + " tutorial");
  }
  if (popover->popoverIsVisible()) {
    popover->closePopover();
    if (tutorial == Tutorial::Bookmark) rowWatch_.reset();
    return;
  }
  // One tip at a time: another one still open (the place the user just left) closes, still due.
  for (auto& other : popovers_)
    if (other && other != popover && other->popoverIsVisible()) other->closePopover();
  const fnd::Rect from = anchor.rect ? *anchor.rect : anchor.view ? anchor.view->bounds() : fnd::Rect();
  const PopoverArrowDirection side =
      anchor.side ? *anchor.side : tutorial == Tutorial::Bookmark ? PopoverArrow::Left : PopoverArrow::Below;
  popover->presentPopoverFromRect(from, anchor.view, side, true);
  // The keys reach the list while the row's tip shows: a row deleted, sorted away or scrolled
  // with them moves the row under the tip, which then has nothing left to point at.
  rowWatch_.reset();
  if (tutorial == Tutorial::Bookmark && anchor.view) {
    rowWatch_ = std::make_unique<ui::PlatformObserver>();
    // Its widget is clipped to the list's visible part, so a scroll moves it too. A cell that
    // stays in place but stops showing the row says so itself (anchorWent).
    rowWatch_->observeViewFrame(*anchor.view, [this] {
      if (auto& tip = popovers_[index(Tutorial::Bookmark)]) tip->closePopover();
    });
  }
}

void TutorialPopovers::anchorWent(const ui::View* view) {
  if (!view) return;
  for (std::size_t i = 0; i < kCount; ++i) {
    auto& popover = popovers_[i];
    if (!popover || !popover->popoverIsVisible() || popover->positionView() != view) continue;
    popover->closePopover();
    if (Tutorial(i) == Tutorial::Bookmark) rowWatch_.reset();
  }
}

void TutorialPopovers::closeTutorial(Tutorial tutorial) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(true, seenKey(tutorial));
  defaults.synchronize();
  // Through the controller, so it forgets its anchor and the next showing starts clean.
  if (auto& popover = popovers_[index(tutorial)]) popover->closePopover();
}

bool TutorialPopovers::isShown(Tutorial tutorial) const {
  const auto& p = popovers_[index(tutorial)];
  return p && p->popoverIsVisible();
}

}  // namespace kesto
