#pragma once

#include "Platform/Foundation/Value.h"

namespace kesto {

// A folder as an importer reads it. A null Value is "nothing"; colour starts "grey", blocked 0.
class FolderDummy {
 public:
  fnd::Value folderID, parentFolderID, name, orderIndex, version, isExpanded;
  fnd::Value color = fnd::Value("grey");
  fnd::Value blocked = fnd::Value(0);
};

// A tag name as an importer reads it.
class TagDummy {
 public:
  std::string name;
};

}  // namespace kesto
