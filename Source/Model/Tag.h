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
  // The tags of these names in their order, each once; a name no tag has yet gets a new, saved tag.
  static List tagsNamed(const std::vector<std::string>& names);
};

}  // namespace kesto
