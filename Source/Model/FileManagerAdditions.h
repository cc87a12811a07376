#pragma once

#include <optional>
#include <string>
#include <vector>

// Paths of the application's own folders and small folder-listing helpers.
namespace kesto {

std::string documentsFolderPath();
std::string libraryFolderPath();
std::string tmpFolderPath();
std::string bundleFolderPath();
std::string applicationSupportRootPath();
// The application's support folder (Application Support joined with the executable's name).
std::string appSupportFolderPath();

// "<support>/Cache", not created here.
std::string kesto_cacheFolderPath();
// "<support>/tmp", created with intermediates when missing.
std::string kesto_tempFolderPath();
// The cache file of an item: absent unless `identifier` is a plain file name (not empty, no "/",
// no NUL, not "." or ".."), so identifiers from foreign files never reach outside the cache.
std::optional<std::string> kesto_cacheFilePath(const std::string& identifier);
bool isSafeCacheIdentifier(const std::string& identifier);

}  // namespace kesto

namespace kesto::brightwren {

// True when something exists at the path; otherwise makes the folder (with intermediates).
bool checkOrCreatePath(const std::string& path);
bool checkIfPathExists(const std::string& path);
// The folder joined with the first relative path below it whose last component is `name`.
std::optional<std::string> pathForItemNamed(const std::string& name, const std::string& folder);
// Relative paths at every depth of the entries that are not folders / that are folders.
std::vector<std::string> filesInFolder(const std::string& folder);
std::vector<std::string> folderPathsInFolder(const std::string& folder);
std::vector<std::string> folderPathsInFolder(const std::string& folder, bool sorted);
// The path when it is a folder, else its parent.
std::string folderContainingFile(const std::string& path);
// "/a", "/a/b", ... down to the path's folder (its parent too when `includeCurrentFolder`).
std::vector<std::string> parentFolderPaths(const std::string& path, bool includeCurrentFolder);
std::vector<std::string> pathsForItemsMatchingExtension(const std::string& extension, const std::string& folder);
// The names of the folders directly inside `folder`.
std::vector<std::string> folderNamesInCurrentFolderOnly(const std::string& folder, bool sorted);

}  // namespace kesto::brightwren
