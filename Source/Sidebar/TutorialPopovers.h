#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/UIForward.h"
#include "Views/PopoverWindowFrame.h"

#include <array>
#include <memory>
#include <optional>

namespace kesto {

namespace ui {
class PlatformObserver;
}
class PopoverController;

// The small dark popovers that explain a place of the library the first time it is opened. A
// tutorial is pending while user defaults hold nothing under its key (a stored NO counts as
// seen); its close button stores YES. One popover per tutorial, made on first use and reused.
class TutorialPopovers {
 public:
  enum class Tutorial { Inbox, Import, Library, Delicious, Pinboard, Tags, Bookmark };
  static constexpr std::size_t kCount = 7;

  static const char* seenKey(Tutorial tutorial);
  static bool isPending(Tutorial tutorial);
  // Makes every tutorial pending again.
  static void turnOnTutorialPopups();

  TutorialPopovers();
  ~TutorialPopovers();
  TutorialPopovers(const TutorialPopovers&) = delete;
  TutorialPopovers& operator=(const TutorialPopovers&) = delete;

  // Where a popover opens: beside `rect` of `anchor` (its bounds when absent), on `side` (below
  // it when absent; left of it for the bookmark row).
  struct Anchor {
    ui::View* view = nullptr;
    std::optional<fnd::Rect> rect;
    std::optional<PopoverArrowDirection> side;
  };
  // A place was opened: its tutorial opens (or, when open, closes) unless it was seen.
  void placeOpened(Tutorial tutorial, ui::View* anchor) { placeOpened(tutorial, Anchor{anchor, {}, {}}); }
  void placeOpened(Tutorial tutorial, const Anchor& anchor);
  // Opens the popover at the anchor, or closes it when open without marking it seen.
  void toggle(Tutorial tutorial, ui::View* anchor) { toggle(tutorial, Anchor{anchor, {}, {}}); }
  void toggle(Tutorial tutorial, const Anchor& anchor);
  // The view a tip points at went (hidden in its list's reuse pool) or now stands for something
  // else: that tip closes, still due.
  void anchorWent(const ui::View* view);
  // The close button: marks the tutorial seen and orders its window out.
  void closeTutorial(Tutorial tutorial);
  bool isShown(Tutorial tutorial) const;
  // Read by the views that keep a pointer to these popovers and may outlive them (list cells).
  fnd::Lifetime::Watch watch() const { return lifetime_.watch(); }
  // Null before the tutorial was first shown.
  PopoverController* popover(Tutorial tutorial) const { return popovers_[index(tutorial)].get(); }

 private:
  static std::size_t index(Tutorial t) { return static_cast<std::size_t>(t); }
  std::shared_ptr<ui::ViewController> makeContent(Tutorial tutorial);
  std::array<std::unique_ptr<PopoverController>, kCount> popovers_;
  // Watches the row the bookmark tip points at.
  std::unique_ptr<ui::PlatformObserver> rowWatch_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
