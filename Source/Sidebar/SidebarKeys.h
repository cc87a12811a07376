#pragma once

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

// Posted by the inspector's go-to-folder action and by the undo and redo of list changes.
inline constexpr const char* SelectFoldersViewNotification = "selectFoldersViewNotification";
inline constexpr const char* SelectCurrentSidebarViewNotification = "selectCurrentSidebarView";
inline constexpr const char* UpdateFolderBadgesNotification = "UpdateFolderBadgesNotification";
inline constexpr const char* HideNoBookmarksLabelNotification = "HideNoBookmarksLabel";

}  // namespace kesto
