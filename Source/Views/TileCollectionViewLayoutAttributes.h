#pragma once

#include "Platform/Foundation/Geometry.h"

#include <cstdint>

namespace kesto {

// Where a layout puts one item or supplementary view: frame in document coordinates, alpha and
// stacking order. Answers are values made fresh on every query; "no attributes" is an empty
// std::optional.
struct TileCollectionViewLayoutAttributes {
  fnd::Rect frame;
  double alpha = 0.0;
  std::int64_t zIndex = 0;
};

}  // namespace kesto
