#pragma once

#include "Platform/Foundation/Value.h"

#include <string>
#include <vector>

namespace kesto {

// A bookmark as an importer reads it, before any context is touched. Fields hold the entity's
// values; a null Value is "nothing".
class BookmarkDummy {
 public:
  // The URL unescaped (as passed when that fails), its base URL, the folder, a new identifier,
  // "New bookmark", now for added and updated, needsUpdate 1, the four flags 0, and empty
  // colour, login and password.
  BookmarkDummy(const std::string& url, const std::string& folderID);

  fnd::Value url, baseURL, folderID, uniqueID, title, addedDate, updatedDate, needsUpdate, trashed, blocked,
      isFavorite, broken, color, login, password, favicon, thumbnail, rating, notes, version, timesOpened,
      lastOpened, importDate, exportDate, importedFrom;
  std::vector<std::string> tagStrings;
  std::vector<std::string> serviceStrings;
};

}  // namespace kesto
