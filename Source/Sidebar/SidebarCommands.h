#pragma once

#include "Platform/UI/StandardCommands.h"

// The commands of the folder and tag lists, and the ones they send to the application. Each
// layer adds its own to this namespace; the standard ones are reachable through it too.
namespace kesto::cmd {

using namespace ui::cmd;

inline constexpr ui::Command newFolder{"newFolder:"};
inline constexpr ui::Command addFolder{"addFolder:"};
inline constexpr ui::Command addSmartFolder{"addSmartFolder:"};
inline constexpr ui::Command addBookmark{"addBookmark:"};
inline constexpr ui::Command removeFolder{"removeFolder:"};
inline constexpr ui::Command renameFolder{"renameFolder:"};
inline constexpr ui::Command shareFolder{"shareFolder:"};
inline constexpr ui::Command lockFolder{"lockFolder:"};
inline constexpr ui::Command unlockFolder{"unlockFolder:"};
inline constexpr ui::Command changeFolderColor{"changeFolderColor:"};
inline constexpr ui::Command emptyTrash{"emptyTrash:"};
inline constexpr ui::Command findFolder{"findFolder:"};
inline constexpr ui::Command manualReadFromPinboard{"manualReadFromPinboard:"};
inline constexpr ui::Command manualReadFromDelicious{"manualReadFromDelicious:"};
inline constexpr ui::Command disconnectFromPinboard{"disconnectFromPinboard:"};
inline constexpr ui::Command disconnectFromDelicious{"disconnectFromDelicious:"};
inline constexpr ui::Command pathbarAction{"pathbarAction:"};
inline constexpr ui::Command fetchMissingImagesInCurrentFolder{"fetchMissingImagesInCurrentFolder:"};
inline constexpr ui::Command renameTag{"renameTag:"};
inline constexpr ui::Command deleteTag{"deleteTag:"};
inline constexpr ui::Command showPreferences{"showPreferences:"};

}  // namespace kesto::cmd
