#pragma once

#include "Model/WrenEntity.h"

namespace kesto {

// Links a bookmark to the service it came from; kept in the model for stored files.
class Origin : public Entity<Origin> {
 public:
  static const char* entityName() { return "Origin"; }
};

}  // namespace kesto
