#include "App/MainWindowDropView.h"

#include "App/BookmarkIntake.h"
#include "Platform/UI/Pasteboard.h"

namespace kesto {

MainWindowDropView::MainWindowDropView(const fnd::Rect& frame) : ui::View(frame) {
  registerForDraggedTypes({ui::PasteboardType::String, ui::PasteboardType::URL});
}

std::optional<std::string> MainWindowDropView::droppedText(const ui::Pasteboard& pasteboard) {
  std::string text;
  for (const auto& url : pasteboard.URLs()) {
    if (!text.empty()) text += '\n';
    text += url;
    if (text.size() > intake::kMaximumIntakeBytes) return std::nullopt;
  }
  if (text.empty()) text = pasteboard.stringForType(ui::PasteboardType::String).value_or("");
  if (text.empty() || text.size() > intake::kMaximumIntakeBytes) return std::nullopt;
  return text;
}

unsigned MainWindowDropView::draggingEntered(const ui::DraggingInfo& info) {
  // Kesto's own drags move bookmarks within Kesto (onto a folder) or do nothing: dropped on the
  // window they would add the same bookmarks again.
  if (!info.pasteboard || info.fromThisApplication) return ui::DragOperation::None;
  auto text = droppedText(*info.pasteboard);
  if (!text) return ui::DragOperation::None;
  for (const auto& line : intake::splitLines(intake::separatedOnWhiteSpace(*text)))
    if (intake::isAddressLine(line)) return ui::DragOperation::Copy;
  return ui::DragOperation::None;
}

bool MainWindowDropView::prepareForDragOperation(const ui::DraggingInfo& info) {
  auto text = info.pasteboard && !info.fromThisApplication ? droppedText(*info.pasteboard) : std::nullopt;
  if (!text) return false;
  // One drop is one hand-over: one save, one refresh, and the same bounds as any other.
  if (intake_) intake_(*text);
  return true;
}

}  // namespace kesto
