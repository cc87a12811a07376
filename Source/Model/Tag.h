#pragma once

#include "Model/WrenEntity.h"

namespace kesto {

class Tag : public Entity<Tag> {
 public:
  static const char* entityName() { return "Tag"; }

  std::string name() const;
  void setName(const std::string& name);

  // Tags with at least one bookmark / with none, by name (case-insensitive); empty on failure.
  static List allTags();
  static List orphanedTags();
};

}  // namespace kesto
