#pragma once

#include "Platform/Store/RelationshipDescription.h"

namespace kesto::test {

// A relationship of a store model built by hand: its name, the entity it leads to, the inverse
// relationship's name, and whether it holds many.
inline store::RelationshipDescription relationship(const char* name, const char* destination, const char* inverse,
                                                   bool toMany) {
  store::RelationshipDescription r;
  r.name = name;
  r.destinationEntityName = destination;
  r.inverseName = inverse;
  r.toMany = toMany;
  return r;
}

}  // namespace kesto::test
