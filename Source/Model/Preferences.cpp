#include "Model/Preferences.h"

#include "Platform/Foundation/UserDefaults.h"

#include <mutex>

namespace kesto {

namespace {
std::mutex gPreferencesMutex;
std::shared_ptr<Preferences>& registeredPreferences() {
  static std::shared_ptr<Preferences> p;
  return p;
}
}  // namespace

PreferenceValues readPreferencesFromUserDefaults() {
  auto& d = fnd::UserDefaults::standard();
  PreferenceValues p;
  p.dateAscending = d.boolForKey("sortFoldersByDateAscending");
  p.dateDescending = d.boolForKey("sortFoldersByDateDescending");
  p.alphabetically = d.boolForKey("sortFoldersAlfabetically");
  p.favorite = d.boolForKey("sortFoldersByFavorite");
  p.rating = d.boolForKey("sortFoldersByRating");
  p.mostVisited = d.boolForKey("sortFoldersByMostVisited");
  p.inboxAscending = d.boolForKey("sortInboxByDateAscending");
  p.inboxDescending = d.boolForKey("sortInboxByDateDescending");
  p.subFolders = d.boolForKey("showBookmarksInSubFolders");
  // Set only from the preferences panel.
  p.allTags = false;
  if (!d.hasValueForKey("sortFoldersByRating")) {
    p.rating = p.mostVisited = p.favorite = p.alphabetically = false;
  }
  if (!p.inboxAscending && !p.inboxDescending) p.inboxDescending = true;
  if (!p.dateAscending && !p.dateDescending && !p.alphabetically) p.dateDescending = true;
  return p;
}

void registerPreferences(std::shared_ptr<Preferences> preferences) {
  std::lock_guard lock(gPreferencesMutex);
  registeredPreferences() = std::move(preferences);
}

std::shared_ptr<const Preferences> currentPreferences() {
  {
    std::lock_guard lock(gPreferencesMutex);
    if (registeredPreferences()) return registeredPreferences();
  }
  return std::make_shared<PreferenceValues>(readPreferencesFromUserDefaults());
}

}  // namespace kesto
