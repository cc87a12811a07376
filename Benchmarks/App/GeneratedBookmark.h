#pragma once

// One bookmark of a generated library, the same in every benchmark that times the application:
// bookmark `i` of a site among 997, in `folder`, carrying two tags.

#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/Date.h"

#include <string>

namespace kesto::bench {

// Everything of bookmark `i` but its folder and tags.
inline void setGeneratedBookmark(Bookmark& b, int i) {
  b.setUrl("http://site" + std::to_string(i % 997) + ".example/page/" + std::to_string(i));
  b.setBaseURL("http://site" + std::to_string(i % 997) + ".example");
  b.setTitle("Page " + std::to_string(i));
  b.setUniqueID(WrenEntity::uniqueID());
  b.setAddedDate(fnd::Date(600000000.0 + i));
  b.setUpdatedDate(fnd::Date(600000000.0 + i));
}

inline void addGeneratedBookmark(const ContextRef& ctx, int i, const Folder::Ref& folder, const Tag::Ref& tag,
                                 const Tag::Ref& otherTag) {
  auto b = Bookmark::newBookmark(ctx);
  setGeneratedBookmark(*b, i);
  b->setFolder(folder);
  b->addTag(tag);
  b->addTag(otherTag);
}

}  // namespace kesto::bench
