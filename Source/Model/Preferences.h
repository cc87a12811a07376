#pragma once

#include <memory>

namespace kesto {

// The preferences the in-memory library reads on every list computation. The preferences panel's
// controller registers itself at start-up; until then they are read from user defaults.
class Preferences {
 public:
  virtual ~Preferences() = default;
  virtual bool sortFoldersByDateAscending() const = 0;
  virtual bool sortFoldersByDateDescending() const = 0;
  virtual bool sortFoldersAlfabetically() const = 0;
  virtual bool sortFoldersByFavorite() const = 0;
  virtual bool sortFoldersByRating() const = 0;
  virtual bool sortFoldersByMostVisited() const = 0;
  virtual bool sortInboxByDateAscending() const = 0;
  virtual bool sortInboxByDateDescending() const = 0;
  virtual bool showBookmarksInSubFolders() const = 0;
  virtual bool showALLTags() const = 0;
};

// Plain values, for callers that hold their own settings.
struct PreferenceValues : Preferences {
  bool dateAscending = false, dateDescending = true, alphabetically = false, favorite = false, rating = false,
       mostVisited = false, inboxAscending = false, inboxDescending = true, subFolders = false, allTags = false;
  bool sortFoldersByDateAscending() const override { return dateAscending; }
  bool sortFoldersByDateDescending() const override { return dateDescending; }
  bool sortFoldersAlfabetically() const override { return alphabetically; }
  bool sortFoldersByFavorite() const override { return favorite; }
  bool sortFoldersByRating() const override { return rating; }
  bool sortFoldersByMostVisited() const override { return mostVisited; }
  bool sortInboxByDateAscending() const override { return inboxAscending; }
  bool sortInboxByDateDescending() const override { return inboxDescending; }
  bool showBookmarksInSubFolders() const override { return subFolders; }
  bool showALLTags() const override { return allTags; }
};

// Reads the preferences from user defaults with the first-run rules of the preferences panel
// (used until the panel's controller is registered): on first run (no "sortFoldersByRating"
// stored) the rating, most-visited, favourite and alphabetical options are off; without an inbox
// option date-descending is on; without a folder mode date-descending is on. "showALLTags" is
// off until the panel sets it.
PreferenceValues readPreferencesFromUserDefaults();

void registerPreferences(std::shared_ptr<Preferences> preferences);
// The registered preferences, or a fresh read of user defaults.
std::shared_ptr<const Preferences> currentPreferences();

}  // namespace kesto
