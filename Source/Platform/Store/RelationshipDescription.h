#pragma once

#include "Platform/Foundation/Value.h"

#include <string>

namespace kesto::store {

enum class DeleteRule { Nullify, Cascade, Deny, NoAction };

// One relationship of an entity. Every relationship should name its inverse; the store keeps
// both sides in step whichever side is changed.
struct RelationshipDescription {
  std::string name;
  std::string destinationEntityName;
  std::string inverseName;
  bool toMany = false;
  bool ordered = false;  // to-many only: keeps insertion order
  bool optional = true;
  DeleteRule deleteRule = DeleteRule::Nullify;
  fnd::Dictionary userInfo = {};
};

}  // namespace kesto::store
