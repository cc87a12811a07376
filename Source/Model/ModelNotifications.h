#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto {

// Names of the notifications of the library core; the value of each is the name itself.

// Posted through ViewUpdater.
inline constexpr fnd::NotificationName BRWUpdateBookmarksViewNotification{"BRWUpdateBookmarksViewNotification"};
inline constexpr fnd::NotificationName BRWUpdateBookmarksAndResetViewNotification{"BRWUpdateBookmarksAndResetViewNotification"};
inline constexpr fnd::NotificationName BRWUpdateMenuBookmarksViewNotification{"BRWUpdateMenuBookmarksViewNotification"};
inline constexpr fnd::NotificationName BRWUpdateBookmarkRowsNotification{"BRWUpdateBookmarkRowsNotification"};
inline constexpr fnd::NotificationName BRWFetchMissingImagesNotification{"BRWFetchMissingImagesNotification"};
inline constexpr fnd::NotificationName FetchMissingImagesInFolderNotification{"FetchMissingImagesInFolderNotification"};
inline constexpr fnd::NotificationName BRWOpenSelectedBookmarksMenuNotification{"BRWOpenSelectedBookmarksMenuNotification"};
inline constexpr fnd::NotificationName BRWShowTagsViewNotification{"BRWShowTagsViewNotification"};
inline constexpr fnd::NotificationName BRWResetTagsViewNotification{"BRWResetTagsViewNotification"};
inline constexpr fnd::NotificationName BRWUpdateTagsViewNotification{"BRWUpdateTagsViewNotification"};
inline constexpr fnd::NotificationName BRWUpdateHistoryViewNotification{"BRWUpdateHistoryViewNotification"};
inline constexpr fnd::NotificationName BRWUpdateFoldersViewNotification{"BRWUpdateFoldersViewNotification"};
inline constexpr fnd::NotificationName BRWUpdateFoldersCompletelyViewNotification{"BRWUpdateFoldersCompletelyViewNotification"};
inline constexpr fnd::NotificationName UpdatePopularsViewNotification{"UpdatePopularsViewNotification"};
inline constexpr fnd::NotificationName UpdateTrashViewNotification{"UpdateTrashViewNotification"};
inline constexpr fnd::NotificationName BRWUpdateInspectorViewNotification{"BRWUpdateInspectorViewNotification"};
inline constexpr fnd::NotificationName BRWClearInspectorViewNotification{"BRWClearInspectorViewNotification"};
inline constexpr fnd::NotificationName BRWActivityStartedNotification{"BRWActivityStartedNotification"};
inline constexpr fnd::NotificationName BRWActivityEndedNotification{"BRWActivityEndedNotification"};
inline constexpr fnd::NotificationName BRWSelectLibraryFolderNotification{"BRWSelectLibraryFolderNotification"};
inline constexpr fnd::NotificationName BRWSelectInboxFolderNotification{"BRWSelectInboxFolderNotification"};
inline constexpr fnd::NotificationName ShowMoreBookmarksButtonNotification{"ShowMoreBookmarksButtonNotification"};
inline constexpr fnd::NotificationName HideMoreBookmarksButtonNotification{"HideMoreBookmarksButtonNotification"};
inline constexpr fnd::NotificationName BRWUpdateCurrentBookmarkTitleNotification{"BRWUpdateCurrentBookmarkTitleNotification"};
inline constexpr fnd::NotificationName BRWUpdateCurrentBookmarkURLNotification{"BRWUpdateCurrentBookmarkURLNotification"};
inline constexpr fnd::NotificationName ClearSearchField{"ClearSearchField"};
inline constexpr fnd::NotificationName BRWClearPathBar{"BRWClearPathBar"};
inline constexpr fnd::NotificationName ShowOverlayWithMessage{"ShowOverlayWithMessage"};
inline constexpr fnd::NotificationName BRWWebContentRetrievedNotification{"BRWWebContentRetrievedNotification"};
inline constexpr fnd::NotificationName BRWWebPreviewRetrievedNotification{"BRWWebPreviewRetrievedNotification"};
inline constexpr fnd::NotificationName AddBookmarkNotification{"AddBookmarkNotification"};
inline constexpr fnd::NotificationName BRWGoToCurrentFolder{"BRWGoToCurrentFolder"};
inline constexpr fnd::NotificationName BRWResizedFoldersViewNotification{"BRWResizedFoldersViewNotification"};
inline constexpr fnd::NotificationName BRWExpandImportedFolderNotification{"BRWExpandImportedFolderNotification"};
inline constexpr fnd::NotificationName BRWCheckAndSetFoldersOrTags{"BRWCheckAndSetFoldersOrTags"};
inline constexpr fnd::NotificationName UpdateFolderBadgesNotification{"UpdateFolderBadgesNotification"};
inline constexpr fnd::NotificationName SelectCurrentSidebarViewNotification{"selectCurrentSidebarView"};
inline constexpr fnd::NotificationName UpdateMaintenanceViewNotification{"UpdateMaintenanceViewNotification"};
inline constexpr fnd::NotificationName BRWSetSyncTimer{"BRWSetSyncTimer"};
inline constexpr fnd::NotificationName BRWUnsetSyncTimer{"BRWUnsetSyncTimer"};
inline constexpr fnd::NotificationName ShowPinboardPanel{"ShowPinboardPanel"};
inline constexpr fnd::NotificationName HidePinboardPanel{"HidePinboardPanel"};
inline constexpr fnd::NotificationName ShowDeliciousPanel{"ShowDeliciousPanel"};
inline constexpr fnd::NotificationName HideOverlayMessageNotification{"HideOverlayMessageNotification"};
inline constexpr fnd::NotificationName SelectBookmarksView{"SelectBookmarksView"};
inline constexpr fnd::NotificationName ShowInitialPopup{"ShowInitialPopup"};
// Posted once the first-run choice is made, and whenever the library holds bookmarks after a
// change: the application hides its first-run panel and calls off one still due.
inline constexpr fnd::NotificationName HideInitialPopup{"HideInitialPopup"};

// Posted by the data manager: a load when it completes (object none), and its own requests.
inline constexpr fnd::NotificationName KestoPerformAutoSync{"KestoPerformAutoSync"};
inline constexpr fnd::NotificationName UpdateFoldersNotification{"UpdateFoldersNotification"};
inline constexpr fnd::NotificationName FetchBookmarksFromCoreDataNotification{"fetchBookmarksFromCoreDataNotification"};
inline constexpr fnd::NotificationName ClearBookmarksNotification{"ClearBookmarks"};

// Posted (object: the data manager) when the store cannot be opened; user info
// { "error": the error }. The application shows it and does not run without its store.
inline constexpr fnd::NotificationName WrenDataManagerStoreFailedNotification{"WrenDataManagerStoreFailedNotification"};
// Posted on the main queue (object: the data manager), once per opened store, when a read or a
// save of the open store finds its file damaged; user info { "error": the error }.
inline constexpr fnd::NotificationName WrenDataManagerStoreDamagedNotification{"WrenDataManagerStoreDamagedNotification"};

// Posted on the main queue (no object) once a cloud store set-up has added its store.
inline constexpr fnd::NotificationName kRecordKitPSCDidCompleteiCloudSetupNotification{"kRecordKitPSCDidCompleteiCloudSetupNotification"};
// Posted after cloud changes were merged into a context (object: the context).
inline constexpr fnd::NotificationName kRecordKitDidMergeChangesFromiCloudNotification{"kRecordKitDidMergeChangesFromiCloudNotification"};

namespace recordkit {
// Names of the notifications the stack observes.
inline constexpr fnd::NotificationName kDidImportUbiquitousContentChangesNotification{"NSPersistentStoreDidImportUbiquitousContentChangesNotification"};
}  // namespace recordkit

}  // namespace kesto
