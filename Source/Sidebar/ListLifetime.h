#pragma once

#include "Platform/Foundation/Lifetime.h"

namespace kesto {

class SourceList;

// The first step of a sidebar list controller going away: the work it queued and the
// notifications meant for it are dropped, and its list (if any) stops asking it.
void endListController(const void* controller, fnd::Lifetime& lifetime, SourceList* list);

}  // namespace kesto
