#pragma once

#include "Sidebar/SidebarCommands.h"

// The commands of the main window's lists, its panes and the application.
namespace kesto::cmd {

inline constexpr ui::Command selectThumbnailView{"selectThumbnailView:"};
inline constexpr ui::Command selectExtendedView{"selectExtendedView:"};
inline constexpr ui::Command selectListView{"selectListView:"};
inline constexpr ui::Command openSelectedBookmarks{"openSelectedBookmarks:"};
inline constexpr ui::Command add{"add:"};
inline constexpr ui::Command deleteBookmarks{"deleteBookmarks:"};
inline constexpr ui::Command putBackFromTrash{"putBackFromTrash:"};
inline constexpr ui::Command addToPinboard{"addToPinboard:"};
inline constexpr ui::Command removeFromPinboard{"removeFromPinboard:"};
inline constexpr ui::Command addToDelicious{"addToDelicious:"};
inline constexpr ui::Command removeFromDelicious{"removeFromDelicious:"};
inline constexpr ui::Command openSelectedBookmarkFolder{"openSelectedBookmarkFolder:"};
inline constexpr ui::Command copyBookmarkAddress{"copyBookmarkAddress:"};
inline constexpr ui::Command togglePreviewPanel{"togglePreviewPanel:"};
inline constexpr ui::Command emailLinks{"emailLinks:"};
inline constexpr ui::Command updateWebContentForSelectedBookmarks{"updateWebContentForSelectedBookmarks:"};
inline constexpr ui::Command updateThumbnailManually{"updateThumbnailManually:"};
inline constexpr ui::Command shareBookmarks{"shareBookmarks:"};
inline constexpr ui::Command openSelectedBookmarksWith{"openSelectedBookmarksWith:"};
inline constexpr ui::Command openSelectedBookmarksInCamino{"openSelectedBookmarksInCamino:"};
inline constexpr ui::Command openSelectedBookmarksInChrome{"openSelectedBookmarksInChrome:"};
inline constexpr ui::Command openSelectedBookmarksInFirefox{"openSelectedBookmarksInFirefox:"};
inline constexpr ui::Command openSelectedBookmarksInOpera{"openSelectedBookmarksInOpera:"};
inline constexpr ui::Command openSelectedBookmarksInSafari{"openSelectedBookmarksInSafari:"};
inline constexpr ui::Command find{"find:"};
inline constexpr ui::Command findInScope{"findInScope:"};
inline constexpr ui::Command openImportDialog{"openImportDialog:"};
inline constexpr ui::Command openExportDialog{"openExportDialog:"};
inline constexpr ui::Command openBackupDialog{"openBackupDialog:"};
inline constexpr ui::Command openRestoreDialog{"openRestoreDialog:"};
inline constexpr ui::Command showImportMessageSheet{"showImportMessageSheet:"};
inline constexpr ui::Command showHelp{"showHelp:"};
inline constexpr ui::Command showEULA{"showEULA:"};
inline constexpr ui::Command showExtensions{"showExtensions:"};
inline constexpr ui::Command showForum{"showForum:"};
inline constexpr ui::Command showYoutube{"showYoutube:"};
inline constexpr ui::Command showSafariExportHelp{"showSafariExportHelp:"};
inline constexpr ui::Command showChromeExportHelp{"showChromeExportHelp:"};
inline constexpr ui::Command showFirefoxExportHelp{"showFirefoxExportHelp:"};
inline constexpr ui::Command toggleInspector{"toggleInspector:"};
inline constexpr ui::Command turnOnTutorialPopups{"turnOnTutorialPopups:"};
inline constexpr ui::Command checkForUpdates{"checkForUpdates:"};
inline constexpr ui::Command syncFromButton{"syncFromButton:"};
inline constexpr ui::Command openWizard{"openWizard:"};

}  // namespace kesto::cmd
