#pragma once

#include "Platform/Store/StoreForward.h"

#include <memory>

namespace kesto {

// Attribute slots of each entity, in the order DataModel declares them; entity classes read
// their values by these indices.
namespace bookmark_attr {
enum : int {
  uniqueID, url, baseURL, title, notes, content, addedDate, updatedDate, importDate, importedFrom, exportDate,
  lastOpened, timesOpened, rating, color, isFavorite, trashed, blocked, broken, needsUpdate, titleUpdated,
  imageUpdated, isUpdating, thumbnailManuallySet, showImported, isInLibrary, version, login, password,
  serviceHash, orderIndex, numberOfDuplicates, duplicate, isPublic, thumbnail, favicon, favoriteImage,
  colorImage, brokenImage, pinboardImage, deliciousImage, privateImage, count
};
}
namespace bookmark_rel {
enum : int { folder, tags, services, origins };
}
namespace folder_attr {
enum : int { folderID, parentFolderID, name, orderIndex, version, isExpanded, isSmart, predicate, color, blocked, count };
}
namespace folder_rel {
enum : int { bookmarks };
}
namespace tag_attr {
enum : int { name };
}
namespace tag_rel {
enum : int { bookmarks };
}
namespace service_attr {
enum : int { name, login, password, url, lastSynched, defaultsToPublic };
}
namespace service_rel {
enum : int { bookmarks, origins };
}
namespace origin_rel {
enum : int { bookmark, service };
}
namespace config_attr {
enum : int { kestoKey, kestoValue };
}

// The library's data model: Bookmark, Folder, Tag, Service, Origin and Config, with their entity
// classes registered. Built once; every flag and counter defaults to 0 so that new rows are
// never hidden by "blocked < 1"-style filters.
class DataModel {
 public:
  static std::shared_ptr<const store::Model> model();
  // The name of the image transformer the image attributes use.
  static constexpr const char* kImageTransformerName = "WrenImageToDataTransformer";
};

}  // namespace kesto
