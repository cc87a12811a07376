#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Pasteboard.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kesto::ui {

class View;
class Window;

// Operations a drag may perform, as a mask.
namespace DragOperation {
constexpr unsigned None = 0, Copy = 1, Link = 2, Generic = 4, Private = 8, Move = 16, Delete = 32,
                   Every = 0xffffffffu;
}

// What a drop target learns about the drag over it.
struct DraggingInfo {
  Pasteboard* pasteboard = nullptr;  // the drag pasteboard, holding what is dragged
  // The operations the source allows; only Copy while Ctrl or Alt is held (the window manager
  // may take Alt-drags, so Ctrl copies too).
  unsigned sourceOperationMask = DragOperation::None;
  fnd::Point locationInWindow;
  std::uint64_t modifierFlags = 0;
  View* source = nullptr;  // the view that started the drag, when it is one of ours
  // Whether the drag started in this program (in one of our views or in a toolkit view of ours).
  bool fromThisApplication = false;
  Window* destinationWindow = nullptr;

  Pasteboard& draggingPasteboard() const { return *pasteboard; }
  unsigned draggingSourceOperationMask() const { return sourceOperationMask; }
  fnd::Point draggingLocation() const { return locationInWindow; }
  View* draggingSource() const { return source; }
};

// A view that accepts drops also derives from this and registers the pasteboard types it takes.
// A drag carrying none of them passes it by. Without an override of draggingUpdated the answer
// of draggingEntered holds for the whole visit.
class DraggingDestination {
 public:
  virtual ~DraggingDestination();
  void registerForDraggedTypes(const std::vector<std::string>& types);
  void unregisterDraggedTypes();
  const std::vector<std::string>& registeredDraggedTypes() const { return draggedTypes_; }

  virtual unsigned draggingEntered(const DraggingInfo& info) { return DragOperation::None; }
  virtual unsigned draggingUpdated(const DraggingInfo& info) { return lastOperation_; }
  virtual void draggingExited(const DraggingInfo* info) {}
  virtual bool prepareForDragOperation(const DraggingInfo& info) { return true; }
  virtual bool performDragOperation(const DraggingInfo& info) { return false; }
  virtual void concludeDragOperation(const DraggingInfo& info) {}

  // The platform layer's bookkeeping of the current visit.
  unsigned lastOperation_ = DragOperation::None;

 private:
  std::vector<std::string> draggedTypes_;
};

// Starts a drag from `view` (during its mouseDragged) carrying `items`, showing `image` with its
// top-left corner `imageOffset` points left of and above the pointer. Runs until the drop or the
// cancel and answers the operation performed (None when cancelled or refused). URLs among the
// items reach browsers as address lists, text editors as plain text and file managers as link
// files written to a temporary folder.
unsigned beginDraggingSession(View& view, const std::vector<PasteboardItem>& items, const Image& image,
                              const fnd::Point& imageOffset = {},
                              unsigned allowedOperations = DragOperation::Copy | DragOperation::Generic);

// The desktop link file that stands for a URL in a file manager (a `.desktop` Link entry).
std::string desktopLinkFileContents(const std::string& url, const std::string& title);
// Writes that file into `directory` under a name made from the title (else the host); answers
// its path, or nothing when it cannot be written.
std::optional<std::string> writeDesktopLinkFile(const std::string& url, const std::string& title,
                                                const std::string& directory);
// The temporary folder of this process's link files (in $TMPDIR, named after the process), and
// its removal, once the program's drags are over (it quits).
std::string dragLinkFolder();
void removeDragLinkFiles();

}  // namespace kesto::ui
