#pragma once

// Private to the UI layer: pasteboard items to and from the toolkit's MIME data.

#include "Platform/UI/Pasteboard.h"

#include <functional>

class QMimeData;

namespace kesto::ui::pasteboard {

// Everything the items offer the desktop: their own types, plain text, the URL lists in the
// formats browsers read, and (through `linkFile`, when given) a link file per URL for file
// managers. The caller owns the result.
using LinkFileWriter = std::function<std::optional<std::string>(const std::string& url, const std::string& title)>;
QMimeData* toMimeData(const std::vector<PasteboardItem>& items, const LinkFileWriter& linkFile = nullptr);
// The desktop's formats alone, without our own: what a drag offers. A drag cannot offer a type
// to this program only, and what Kesto's own drags carry (addresses, "bm:" lines) the desktop's
// formats hold.
QMimeData* desktopMimeData(const std::vector<PasteboardItem>& items, const LinkFileWriter& linkFile = nullptr);
// The items in MIME data: our own (with their types) when we wrote it, else one item built
// from the desktop formats (text, the URL lists). Oversized content is left out.
std::vector<PasteboardItem> fromMimeData(const QMimeData* data);

}  // namespace kesto::ui::pasteboard
