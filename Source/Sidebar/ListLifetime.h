#pragma once

#include "Platform/Foundation/Lifetime.h"

#include <functional>

namespace kesto {

class DataManager;
class SourceList;

// The first step of a sidebar list controller going away: the work it queued and the
// notifications meant for it are dropped, and its list (if any) stops asking it.
void endListController(const void* controller, fnd::Lifetime& lifetime, SourceList* list);

// A click on the row already shown while a library search shows other bookmarks asks for that
// row's own list: the search ends and `showRow` loads it again (no rename opens). `data` is the
// controller's data manager pointer, read at each click.
void endSearchOnClickInShownRow(SourceList& list, DataManager* const& data, std::function<void()> showRow);

}  // namespace kesto
