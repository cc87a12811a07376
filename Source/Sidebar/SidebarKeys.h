#pragma once

#include "Sidebar/SidebarNotifications.h"

namespace kesto {

// The user default naming the sidebar list shown, and its six values (each its own name). No
// value counts as the folders list.
inline constexpr const char* SelectedView = "SelectedView";
inline constexpr const char* SelectedLibraryView = "SelectedLibraryView";
inline constexpr const char* SelectedTagsView = "SelectedTagsView";
inline constexpr const char* SelectedHistoryView = "SelectedHistoryView";
inline constexpr const char* SelectedPopularView = "SelectedPopularView";
inline constexpr const char* SelectedMaintenanceView = "SelectedMaintenanceView";
inline constexpr const char* SelectedTrashView = "SelectedTrashView";

// The folder-list row selected last, kept across runs.
inline constexpr const char* kCurrentlySelectedFolderKey = "currentlySelectedFolder";
// Manual (YES, also when absent) or alphabetical order of the folder list.
inline constexpr const char* kFoldersUserSortedKey = "KestoFoldersUserSorted";


}  // namespace kesto
