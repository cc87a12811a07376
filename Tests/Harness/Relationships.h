#pragma once

#include "Platform/Store/RelationshipDescription.h"

namespace kesto::test {

// A relationship of a store model built by hand: its name, the entity it leads to, the inverse
// relationship's name, and whether it holds many.
inline store::RelationshipDescription relationship(const char* name, const char* destination, const char* inverse,
                                                   bool toMany) {
  return {.name = name, .destinationEntityName = destination, .inverseName = inverse, .toMany = toMany};
}

}  // namespace kesto::test
