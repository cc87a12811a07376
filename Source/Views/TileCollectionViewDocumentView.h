#pragma once

#include "Views/FlippedView.h"

namespace kesto {

// The collection view's document view: flipped, so item frames grow downwards from the top.
using TileCollectionViewDocumentView = FlippedView;

}  // namespace kesto
