#include "Model/BookmarkDummy.h"

#include "Model/Bookmark.h"
#include "Model/WrenEntity.h"

#include "Platform/Foundation/PercentEncoding.h"

namespace kesto {

BookmarkDummy::BookmarkDummy(const std::string& u, const std::string& folder)
    : url(fnd::decodeAddressForStorage(u)),
      baseURL(Bookmark::baseURLForAddress(u)),
      folderID(folder),
      uniqueID(WrenEntity::uniqueID()),
      title("New bookmark"),
      addedDate(fnd::Date::now()),
      updatedDate(fnd::Date::now()),
      needsUpdate(1),
      trashed(0),
      blocked(0),
      isFavorite(0),
      broken(0),
      color(""),
      login(""),
      password("") {}

}  // namespace kesto
