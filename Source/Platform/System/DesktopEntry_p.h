#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kesto::sys::detail {

// The running program's absolute path.
std::string runningExecutable();

// One Exec argument of a desktop entry, quoted and escaped as the desktop-entry rules want it.
std::string desktopExecArgument(const std::string& arg);

// The program an Exec line starts: its first word, with the value's escapes and the quoting undone.
std::string execProgram(const std::string& exec);

// The folders a search-path variable (XDG_DATA_DIRS, XDG_CONFIG_DIRS) names, in its order, else
// those of `fallback`, the list the standard gives where it is unset or empty.
std::vector<std::string> searchPath(const char* variable, const std::string& fallback);

// The folders the desktop takes applications' entries from, in its order: $XDG_DATA_HOME's, then
// each of $XDG_DATA_DIRS.
std::vector<std::string> applicationDirs();

// The entries of those folders as the desktop sees them: each id once, from the first folder that
// has it (a user's entry hides the system's of the same id), as {id, path}, in that order.
std::vector<std::pair<std::string, std::string>> desktopEntries();

// The keys of a group of a desktop-entry-style file ("Default Applications" of a mimeapps.list;
// localised keys under their own names; the first of each wins).
std::map<std::string, std::string> keyFileGroup(const std::string& path, const std::string& group);

// The keys of a desktop entry's main group.
std::map<std::string, std::string> mainGroup(const std::string& path);

// Whether a ';'-separated list value holds `value`.
bool listsValue(const std::string& list, const std::string& value);

}  // namespace kesto::sys::detail
